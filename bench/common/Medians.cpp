#include "Medians.h"

#include <QElapsedTimer>

#include <algorithm>

namespace quorvel::bench {

std::vector<double> medians(int repeats, const std::vector<std::function<void()>>& work)
{
    std::vector<std::vector<double>> times(work.size());
    for (const auto& w : work)
        w();
    for (int r = 0; r < repeats; ++r) {
        for (std::size_t k = 0; k < work.size(); ++k) {
            const std::size_t i = (std::size_t(r) + k) % work.size();
            QElapsedTimer t;
            t.start();
            work[i]();
            times[i].push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    std::vector<double> out;
    for (auto& list : times) {
        std::sort(list.begin(), list.end());
        out.push_back(list.empty() ? 0.0 : list[list.size() / 2]);
    }
    return out;
}

double elapsedMs(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace quorvel::bench
