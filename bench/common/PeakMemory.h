#pragma once

// The peak memory of a piece of work: the rise of the resident set at its
// peak over what the process held when the work began, with the work's time.
// Read from the kernel's accounting of the process (Linux only).

#include <QtGlobal>

#include <functional>

namespace quorvel::bench {

struct Peak {
    qint64 nanoseconds = 0;
    long long riseKB = -1; // -1: the work failed or could not be measured

    double seconds() const { return double(nanoseconds) / 1e9; }
    double ms() const { return double(nanoseconds) / 1e6; }
};

// Runs `work` in this process, its peak started afresh from the present
// resident set.
Peak measurePeak(const std::function<void()>& work);

// Runs `work` in a child process of its own, so that memory this process
// holds or freed before does not hide the work's peak; riseKB is -1 when the
// work returned false or the child could not be started.
Peak inChild(const std::function<bool()>& work);

} // namespace quorvel::bench
