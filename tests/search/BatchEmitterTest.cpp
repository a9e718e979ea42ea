#include "search/BatchEmitter.h"

#include <gtest/gtest.h>

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
