#pragma once

#include <chrono>
#include <optional>

namespace quorvel {

// The moment a long operation must stop by, shared by the caller that sets a
// time limit and the operation that watches it: no timer and no thread, the
// operation reads the clock between steps of its work. The default deadline
// never passes.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // A longer limit waits as good as forever, and keeps the arithmetic finite.
    static constexpr double longestSeconds = 1e9;

    Deadline() = default;
    // `seconds` from now. Zero, a negative value or NaN has passed already.
    static Deadline in(double seconds);

    bool isSet() const { return at.has_value(); }
    // Reads the clock; false for a deadline that is not set.
    bool passed() const { return at && Clock::now() >= *at; }

private:
    std::optional<Clock::time_point> at;
};

} // namespace quorvel
