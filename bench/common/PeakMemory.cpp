#include "PeakMemory.h"

#include <QElapsedTimer>
#include <QFile>

#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::bench {

namespace {

// The resident set now ("VmRSS:"), and its peak since the last reset
// ("VmHWM:"), in KB.
long long statusKB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Starts a new peak from the present resident set.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

Peak measurePeak(const std::function<void()>& work)
{
    resetPeak();
    const long long before = statusKB("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    work();
    return {timer.nsecsElapsed(), statusKB("VmHWM:") - before};
}

Peak inChild(const std::function<bool()>& work)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {};
    const pid_t child = ::fork();
    if (child < 0)
        return {};
    if (child == 0) {
        ::close(channel[0]);
        bool ok = false;
        Peak peak = measurePeak([&] { ok = work(); });
        if (!ok)
            peak.riseKB = -1;
        [[maybe_unused]] const ssize_t n = ::write(channel[1], &peak, sizeof peak);
        ::_exit(0);
    }
    ::close(channel[1]);
    Peak peak;
    if (::read(channel[0], &peak, sizeof peak) != ssize_t(sizeof peak))
        peak = {};
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return peak;
}

} // namespace quorvel::bench
