#include "search/BatchEmitter.h"

#include <algorithm>
#include <chrono>

namespace quorvel {

std::uint64_t BatchEmitter::steadyNanos()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
}

BatchEmitter::BatchEmitter(OnBatch onBatch, Clock clock, QList<SearchHit>* room)
    : onBatch(std::move(onBatch)), clock(clock ? std::move(clock) : Clock(&steadyNanos)), room(room)
{
    if (room) {
        batch.swap(*room);
        batch.resize(0);
    }
    last = this->clock();
}

BatchEmitter::~BatchEmitter()
{
    if (!room)
        return;
    // Hits still buffered belong to nobody now; only the storage is kept.
    batch.resize(0);
    room->swap(batch);
}

void BatchEmitter::add(SearchHit hit)
{
    reserveBatch();
    batch.append(std::move(hit));
    added();
}

void BatchEmitter::addPage(std::int64_t pageId, std::int64_t bookId, std::int64_t seq)
{
    reserveBatch();
    batch.emplaceBack(SearchHit::Kind::page, pageId, bookId, seq);
    added();
}

// An empty buffer is given room for the batch it will hold: the first batch,
// and, when the caller said how many hits may come, as many of them as one
// batch takes (without that, later batches grow as they fill).
void BatchEmitter::reserveBatch()
{
    if (!batch.isEmpty())
        return;
    qsizetype room = sent == 0 ? firstBatch : 0;
    if (expected >= 0)
        room = std::min<qsizetype>(sent == 0 ? firstBatch : maxBatch, std::max(expected - sent, 1));
    if (batch.capacity() < room)
        batch.reserve(room);
}

void BatchEmitter::added()
{
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
