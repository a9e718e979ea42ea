#include "search/Deadline.h"

#include <algorithm>

namespace quorvel {

Deadline Deadline::in(double seconds)
{
    Deadline d;
    d.at = Clock::now();
    if (seconds > 0) {
        const auto wait = std::chrono::duration<double>(std::min(seconds, longestSeconds));
        *d.at += std::chrono::duration_cast<Clock::duration>(wait);
    }
    return d;
}

} // namespace quorvel
