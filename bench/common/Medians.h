#pragma once

// Timing shared by the benchmarks that compare a product call with its bare
// baseline in one run.

#include <functional>
#include <vector>

class QElapsedTimer;

namespace quorvel::bench {

// Median milliseconds of each piece of work after one untimed warm pass, the
// pieces taking turns (each round starting with the next one) so that a slow
// moment of the machine or the cache left by the previous piece falls on all
// of them alike.
std::vector<double> medians(int repeats, const std::vector<std::function<void()>>& work);

// Milliseconds since the timer started.
double elapsedMs(const QElapsedTimer& t);

// The middle value (the upper one of an even count); 0 for none.
double median(std::vector<double> values);

} // namespace quorvel::bench
