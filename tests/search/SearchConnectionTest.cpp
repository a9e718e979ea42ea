// The library's kept search connections: a search of a new engine finds the
// statements an earlier search compiled and the room it filled, a change of
// the library's data drops the statements, and two threads searching at
// once never hold one connection.

#include "SearchRunHelpers.h"

#include "core/SQLiteDB.h"
#include "search/BatchEmitter.h"
#include "search/SearchConnection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <thread>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// How many statements the library's one idle kept connection has compiled
// in its life, after `mark` more were compiled on it when given; -1 when
// none is idle.
std::int64_t compiledOnKept(const Library& lib, const QStringList& mark = {})
{
    std::unique_ptr<SearchConnection> kept = SearchConnection::take(lib);
    if (!kept)
        return -1;
    for (const QString& sql : mark)
        kept->statement(sql);
    const std::int64_t compiled = kept->compiled();
    SearchConnection::giveBack(lib, std::move(kept));
    return compiled;
}

// The room the library's one idle kept connection holds for a run: how many
// candidates and hits of a batch it takes without growing, and whether the
// run left it empty.
struct Room {
    std::size_t candidates = 0;
    qsizetype batch = 0;
    bool empty = false;
};

Room roomOnKept(const Library& lib)
{
    std::unique_ptr<SearchConnection> kept = SearchConnection::take(lib);
    if (!kept)
        return {};
    const Room room{kept->candidateRoom().capacity(), kept->batchRoom().capacity(),
                    kept->candidateRoom().empty() && kept->batchRoom().isEmpty()};
    SearchConnection::giveBack(lib, std::move(kept));
    return room;
}

} // namespace

TEST(SearchConnection, aNewEngineFindsTheStatementsOfEarlierSearchesUntilTheLibraryChanges)
{
    const SearchLibrary fixture = corpusLibrary();
    ASSERT_TRUE(fixture.lib);
    SearchQuery q = phrases({"رسول الله"});
    q.inHawashi = false; // checked page by page: the statement reading texts is kept too
    const RunResult first = [&] {
        SearchEngine engine(*fixture.lib);
        return runQuery(engine, q);
    }();
    ASSERT_FALSE(first.pages.isEmpty());
    // The next engine's run finds the room this one filled, not a new
    // engine's empty lists.
    const Room room = roomOnKept(*fixture.lib);
    EXPECT_TRUE(room.empty);
    EXPECT_GE(room.candidates, std::size_t(first.pages.size()));
    EXPECT_GE(room.batch, std::min<qsizetype>(first.pages.size(), BatchEmitter::firstBatch));
    // A statement no search makes marks the connection the first search left.
    const std::int64_t marked = compiledOnKept(*fixture.lib, {QStringLiteral("SELECT 42")});
    ASSERT_GT(marked, 1);

    {
        SearchEngine engine(*fixture.lib);
        EXPECT_EQ(runQuery(engine, q).pages, first.pages);
    }
    EXPECT_EQ(compiledOnKept(*fixture.lib), marked) << "the second engine's search compiled its statements again";

    addPage(fixture.path, 903, 1, 9999, QStringLiteral("قال رسول الله"));
    {
        SearchEngine engine(*fixture.lib);
        EXPECT_EQ(runQuery(engine, q).pages.size(), first.pages.size() + 1);
    }
    // The search compiled its statements anew, and the mark is gone with them.
    const std::int64_t afterChange = compiledOnKept(*fixture.lib);
    EXPECT_GT(afterChange, marked);
    EXPECT_EQ(compiledOnKept(*fixture.lib, {QStringLiteral("SELECT 42")}), afterChange + 1)
        << "statements kept under the old data were not dropped";
}

TEST(SearchConnection, twoThreadsSearchingAtOnceNeverHoldTheSameConnection)
{
    const SearchLibrary fixture = corpusLibrary();
    ASSERT_TRUE(fixture.lib);
    const SearchQuery q = phrases({"الله"});
    const QList<SearchHit> whole = [&] {
        SearchEngine engine(*fixture.lib);
        return runQuery(engine, q).pages;
    }();
    ASSERT_FALSE(whole.isEmpty());

    // Both threads hold a connection at once at every round: a pool that
    // handed one out twice would give it to both.
    std::barrier both(2);
    const SearchConnection* holding[2] = {nullptr, nullptr};
    std::atomic<int> shared{0};
    std::atomic<int> wrong{0};
    auto searcher = [&](int me) {
        for (int round = 0; round < 20; ++round) {
            std::unique_ptr<SearchConnection> kept = SearchConnection::take(*fixture.lib);
            holding[me] = kept.get();
            both.arrive_and_wait();
            if (me == 0 && holding[0] == holding[1])
                ++shared;
            both.arrive_and_wait();
            Statement* count = kept ? kept->statement(QStringLiteral("SELECT COUNT(*) FROM pages")) : nullptr;
            if (!count || !count->step())
                ++wrong;
            SearchConnection::giveBack(*fixture.lib, std::move(kept));
            // And a whole search of a new engine from the same pool, while
            // the other thread searches too.
            SearchEngine engine(*fixture.lib);
            if (runQuery(engine, q).pages != whole)
                ++wrong;
        }
    };
    std::thread other(searcher, 1);
    searcher(0);
    other.join();
    EXPECT_EQ(shared.load(), 0) << "one connection was handed to two threads at once";
    EXPECT_EQ(wrong.load(), 0);
}
