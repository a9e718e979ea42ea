#pragma once

#include "search/SearchHit.h"

#include <QList>

#include <cstdint>
#include <functional>

namespace quorvel {

// Buffers the page hits of a search run and hands them to the caller in
// batches: the first batch as soon as 200 hits are found, later ones paced by
// time (checked every 64 hits) so that a long run neither floods the caller
// with tiny batches nor keeps it waiting, and never more than 50,000 at once.
class BatchEmitter {
public:
    using OnBatch = std::function<void(const QList<SearchHit>&, bool)>;
    // Monotonic time in nanoseconds; injectable so tests control the pacing.
    using Clock = std::function<std::uint64_t()>;

    static constexpr int firstBatch = 200;
    static constexpr int maxBatch = 50000;
    static constexpr int clockCheckEvery = 64;
    // A hand-over is due once strictly more than a quarter second has passed.
    static constexpr std::uint64_t paceNanos = 250'000'001;

    explicit BatchEmitter(OnBatch onBatch, Clock clock = {});

    // Buffers one hit and flushes when a batch is due.
    void add(SearchHit hit);
    // The same for a page hit, built in place.
    void addPage(std::int64_t pageId, std::int64_t bookId, std::int64_t seq);
    // At most how many hits are still to come, so that each batch is
    // allocated once at its final size instead of grown hit by hit.
    void expect(int hits) { expected = hits; }
    // Hands the buffered hits over (done = false); nothing when the buffer is empty.
    void flush();
    // Hits handed over plus hits buffered.
    int count() const { return sent + static_cast<int>(batch.size()); }
    // Hits handed over so far.
    int handedOver() const { return sent; }

    static std::uint64_t steadyNanos();

private:
    void reserveBatch();
    void added();

    OnBatch onBatch;
    Clock clock;
    QList<SearchHit> batch;
    int sent = 0;
    int expected = -1; // -1: unknown
    std::uint64_t last = 0;
};

} // namespace quorvel
