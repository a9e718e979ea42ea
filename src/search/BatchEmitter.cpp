#include "search/BatchEmitter.h"

#include <chrono>

namespace quorvel {

std::uint64_t BatchEmitter::steadyNanos()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
}

BatchEmitter::BatchEmitter(OnBatch onBatch, Clock clock)
    : onBatch(std::move(onBatch)), clock(clock ? std::move(clock) : Clock(&steadyNanos))
{
    last = this->clock();
}

void BatchEmitter::add(SearchHit hit)
{
    if (batch.isEmpty() && batch.capacity() < firstBatch)
        batch.reserve(firstBatch);
    batch.append(std::move(hit));
    const auto n = batch.size();
    if ((sent == 0 && n >= firstBatch) || n >= maxBatch) {
        flush();
        return;
    }
    if (n % clockCheckEvery == 0) {
        const std::uint64_t now = clock();
        if (now >= last && now - last >= paceNanos)
            flush();
    }
}

void BatchEmitter::flush()
{
    if (batch.isEmpty())
        return;
    sent += static_cast<int>(batch.size());
    if (onBatch)
        onBatch(batch, false);
    // clear() would release the storage; keep it for the next batch.
    batch.resize(0);
    last = clock();
}

} // namespace quorvel
