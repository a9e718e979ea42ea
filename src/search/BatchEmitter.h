#pragma once

#include "search/SearchHit.h"

#include <QList>

#include <algorithm>
#include <cstddef>
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

    // With `room`, the batches are built in that list's storage, handed
    // back when the emitter ends: an engine keeps it from run to run, so that
    // a long run's batch is not allocated and faulted in again every time.
    explicit BatchEmitter(OnBatch onBatch, Clock clock = {}, QList<SearchHit>* room = nullptr);
    ~BatchEmitter();
    BatchEmitter(const BatchEmitter&) = delete;
    BatchEmitter& operator=(const BatchEmitter&) = delete;

    // Buffers one hit and flushes when a batch is due.
    void add(SearchHit hit);
    // The same for a page hit, built in place.
    void addPage(std::int64_t pageId, std::int64_t bookId, std::int64_t seq);
    // addPage for up to `count` hits in a row, the i-th given by `at(i)` as
    // (page id, book id, sequence): the same batches at the same counts,
    // without the tests between hits where no batch can be due. Stops after
    // a hand-over, so that the caller hears of a cancel made there; returns
    // how many hits it took.
    template <typename At>
    std::size_t addPages(std::size_t count, const At& at)
    {
        std::size_t i = 0;
        while (i < count) {
            reserveBatch();
            const qsizetype held = batch.size();
            const qsizetype due = std::min<qsizetype>(sent == 0 ? firstBatch : maxBatch,
                                                      (held / clockCheckEvery + 1) * clockCheckEvery);
            const std::size_t take = std::min(count - i, std::size_t(due - held));
            for (std::size_t k = i; k < i + take; ++k) {
                const auto [pageId, bookId, seq] = at(k);
                batch.emplaceBack(SearchHit::Kind::page, pageId, bookId, seq);
            }
            i += take;
            const int handed = sent;
            added();
            if (sent != handed)
                break;
        }
        return i;
    }
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
    QList<SearchHit>* room = nullptr;
    int sent = 0;
    int expected = -1; // -1: unknown
    std::uint64_t last = 0;
};

} // namespace quorvel
