#include "search/BatchEmitter.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace quorvel;

namespace {

struct Recorder {
    std::uint64_t now = 1'000'000'000;
    QList<int> batches;
    BatchEmitter emitter{[this](const QList<SearchHit>& hits, bool done) {
                             EXPECT_FALSE(done);
                             batches << int(hits.size());
                         },
                         [this] { return now; }};

    void add(int n)
    {
        for (int i = 0; i < n; ++i)
            emitter.add(SearchHit(SearchHit::Kind::page, i + 1, 1, i + 1));
    }
};

} // namespace

TEST(BatchEmitter, firstBatchAtTwoHundredOrAfterAQuarterSecond)
{
    Recorder r;
    r.add(199);
    EXPECT_TRUE(r.batches.isEmpty());
    EXPECT_EQ(r.emitter.count(), 199);
    r.add(1);
    EXPECT_EQ(r.batches, QList<int>{200});
    r.emitter.flush();
    EXPECT_EQ(r.batches, QList<int>{200}); // nothing buffered, nothing sent

    Recorder slow;
    slow.add(63);
    slow.now += BatchEmitter::paceNanos;
    slow.add(1);
    EXPECT_EQ(slow.batches, QList<int>{64});
}

TEST(BatchEmitter, laterBatchesArePacedByTheClock)
{
    Recorder r;
    r.add(200);
    r.add(64);
    EXPECT_EQ(r.batches, QList<int>{200}); // no time has passed
    r.now += BatchEmitter::paceNanos - 1;  // exactly a quarter second is not enough
    r.add(64);
    EXPECT_EQ(r.batches, QList<int>{200});
    r.now += 1;
    r.add(63);
    EXPECT_EQ(r.batches, QList<int>{200}); // checked only at multiples of 64
    r.add(1);
    EXPECT_EQ(r.batches, (QList<int>{200, 192}));
    r.now -= 10; // a clock going backwards never flushes
    r.add(64);
    r.emitter.flush();
    EXPECT_EQ(r.batches, (QList<int>{200, 192, 64}));
    EXPECT_EQ(r.emitter.count(), 456);
}

TEST(BatchEmitter, noBatchPassesFiftyThousand)
{
    Recorder r;
    r.add(200);
    r.add(BatchEmitter::maxBatch + 5);
    EXPECT_EQ(r.batches, (QList<int>{200, BatchEmitter::maxBatch}));
    r.emitter.flush();
    EXPECT_EQ(r.batches.last(), 5);
}

// Hits added in runs hand over the same batches, with the same hits, as the
// same hits added one by one, whatever the runs' lengths and the clock.
TEST(BatchEmitter, runsOfPagesBatchAsSinglePages)
{
    struct Run {
        int hits;
        std::uint64_t later; // clock advance before the run
    };
    const QList<QList<Run>> scripts{
        {{199, 0}, {1, 0}, {64, 0}, {300, BatchEmitter::paceNanos}, {7, 0}},
        {{63, 0}, {1, BatchEmitter::paceNanos}, {129, 0}, {70, BatchEmitter::paceNanos}, {58, 0}},
        {{250, 0}, {BatchEmitter::maxBatch + 70, 0}, {1, BatchEmitter::paceNanos}, {127, 0}},
        {{1, 0}, {1, BatchEmitter::paceNanos}, {62, 0}, {1, 0}, {500, 1}},
    };
    for (const QList<Run>& script : scripts) {
        std::uint64_t now = 1'000'000'000;
        QList<QList<SearchHit>> single, runs;
        BatchEmitter one([&](const QList<SearchHit>& hits, bool) { single << hits; }, [&] { return now; });
        BatchEmitter many([&](const QList<SearchHit>& hits, bool) { runs << hits; }, [&] { return now; });
        std::int64_t next = 1;
        for (const Run& run : script) {
            now += run.later;
            const std::int64_t first = next;
            for (int i = 0; i < run.hits; ++i, ++next)
                one.addPage(next, next % 7, next * 3);
            std::size_t taken = 0;
            while (taken < std::size_t(run.hits)) {
                const std::size_t got = many.addPages(std::size_t(run.hits) - taken, [&](std::size_t k) {
                    const std::int64_t id = first + std::int64_t(taken + k);
                    return std::tuple{id, id % 7, id * 3};
                });
                ASSERT_GT(got, 0u);
                taken += got;
            }
            EXPECT_EQ(many.count(), one.count());
            EXPECT_EQ(many.handedOver(), one.handedOver());
        }
        one.flush();
        many.flush();
        ASSERT_EQ(runs.size(), single.size());
        EXPECT_EQ(runs, single);
    }
}

// An engine lends every run's emitter the same room: a batch the caller kept
// from one run is not overwritten by the next, and hits left buffered when an
// emitter ends are not handed to the next one.
TEST(BatchEmitter, roomLentFromRunToRunKeepsEveryBatchItsOwn)
{
    QList<SearchHit> room;
    QList<QList<SearchHit>> kept;
    const auto keep = [&](const QList<SearchHit>& hits, bool) { kept << hits; };
    {
        BatchEmitter first(keep, {}, &room);
        for (int i = 0; i < BatchEmitter::firstBatch; ++i)
            first.addPage(i + 1, 1, i + 1);
        first.addPage(999, 1, 999); // still buffered when the emitter ends
    }
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(room.isEmpty());
    EXPECT_GE(room.capacity(), qsizetype(BatchEmitter::firstBatch));
    {
        BatchEmitter second(keep, {}, &room);
        for (int i = 0; i < BatchEmitter::firstBatch; ++i)
            second.addPage(5000 + i, 2, i + 1);
    }
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[0].size(), BatchEmitter::firstBatch);
    EXPECT_EQ(kept[0].first(), SearchHit(SearchHit::Kind::page, 1, 1, 1));
    EXPECT_EQ(kept[0].last(), SearchHit(SearchHit::Kind::page, 200, 1, 200));
    EXPECT_EQ(kept[1].size(), BatchEmitter::firstBatch);
    EXPECT_EQ(kept[1].first(), SearchHit(SearchHit::Kind::page, 5000, 2, 1));
}
