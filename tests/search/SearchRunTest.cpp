#include "SearchRunHelpers.h"

#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"
#include "search/PageMap.h"
#include "search/SearchConnection.h"
#include "support/CorpusText.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// The whole Quran, one verse per page: thousands of vocalised pages.
SearchLibrary& quranLibrary()
{
    static SearchLibrary lib = [] {
        FixtureBook book{1, "القرآن الكريم", {}, {}};
        for (const QuranVerse& v : quranVerses())
            book.pages << v.text;
        book.toc = {{QStringLiteral("سُورَةُ ٱلْفَاتِحَةِ"), 1}, {QStringLiteral("سُورَةُ ٱلْبَقَرَةِ"), 8}};
        return customLibrary({book});
    }();
    return lib;
}

} // namespace

TEST(SearchRun, pagesInBookOrderAndChangesSeenByTheNextRun)
{
    auto corpus = corpusLibrary();
    ASSERT_TRUE(corpus.lib);
    SearchEngine engine(*corpus.lib);
    const SearchQuery q = phrases({"رسول الله"});
    const RunResult first = runQuery(engine, q);
    ASSERT_GT(first.pages.size(), 20);
    EXPECT_TRUE(first.doneLast);
    EXPECT_EQ(first.doneCalls, 1);
    EXPECT_TRUE(inReadingOrder(*corpus.lib, first.pages));
    QSet<std::int64_t> books;
    for (const auto& h : first.pages) {
        books.insert(h.bookId);
        EXPECT_EQ(h.kind, SearchHit::Kind::page);
        EXPECT_FALSE(h.snippet);
    }
    EXPECT_EQ(books.size(), 3);

    // Written by another connection: a page of a book missing from the
    // catalogue, one of a catalogued book, and one whose book id the page
    // map cannot hold (found through the second lookup).
    addPage(corpus.path, 900, 99, 1, "قال رسول الله صلى الله عليه وسلم");
    addPage(corpus.path, 901, 1, 0, "عن عائشة أن رسول الله صلى الله عليه وسلم");
    addPage(corpus.path, 902, -5, 1, "سمعت رسول الله");
    const RunResult second = runQuery(engine, q);
    ASSERT_EQ(second.pages.size(), first.pages.size() + 3);
    EXPECT_TRUE(inReadingOrder(*corpus.lib, second.pages));
    // Both books are missing from the catalogue: after every other page, by sequence then id.
    EXPECT_EQ(second.pages[second.pages.size() - 2].pageId, 900);
    EXPECT_EQ(second.pages[second.pages.size() - 1].pageId, 902);
    const auto firstOfBook1 = std::find_if(second.pages.begin(), second.pages.end(),
                                           [](const SearchHit& h) { return h.bookId == 1; });
    EXPECT_EQ(firstOfBook1->pageId, 901); // sequence 0 comes first in its book
}

// A word's glued-digit terms are remembered between runs; a change to the
// data must still be seen, by the engine that ran before and by a new one.
TEST(SearchRun, gluedTermsRememberedUntilTheDataChanges)
{
    auto corpus = corpusLibrary();
    ASSERT_TRUE(corpus.lib);
    SearchEngine engine(*corpus.lib);
    const SearchQuery q = phrases({"حدثنا"});
    const RunResult first = runQuery(engine, q);
    ASSERT_GT(first.pages.size(), 0);
    EXPECT_EQ(runQuery(engine, q).pages, first.pages);
    EXPECT_FALSE(engine.ftsExpression(q).value_or(QString()).contains(QStringLiteral("حدثنا1")));

    addPage(corpus.path, 130, 3, 50, "حدثنا1234 مالك عن نافع");
    addPage(corpus.path, 131, 3, 51, "حدثنا٧ مالك");
    const RunResult second = runQuery(engine, q);
    ASSERT_EQ(second.pages.size(), first.pages.size() + 2);
    QList<std::int64_t> added;
    for (const SearchHit& h : second.pages)
        if (h.pageId >= 130)
            added << h.pageId;
    EXPECT_EQ(added, (QList<std::int64_t>{130, 131}));
    EXPECT_TRUE(inReadingOrder(*corpus.lib, second.pages));
    EXPECT_TRUE(engine.ftsExpression(q).value_or(QString()).contains(QStringLiteral("\"حدثنا1234\"")));
    SearchEngine fresh(*corpus.lib);
    EXPECT_EQ(runQuery(fresh, q).pages, second.pages);
}

TEST(SearchRun, limitCapsPagesOnly)
{
    auto corpus = corpusLibrary();
    auto& lib = *corpus.lib;
    lib.saveNote(2, 4, "ملاحظة: رسول الله في حديث الطائفة المنصورة");
    SearchEngine engine(lib);
    SearchQuery q = phrases({"رسول الله"});
    q.inTitles = true;
    q.inNotes = true;
    const RunResult r = runQuery(engine, q, 10);
    EXPECT_EQ(r.pages.size(), 10);
    EXPECT_GE(r.titles.size(), 1);
    ASSERT_GE(r.notes.size(), 1);
    EXPECT_EQ(r.notes.first().snippet, QStringLiteral("ملاحظة: رسول الله في حديث الطائفة المنصورة"));
    EXPECT_EQ(r.notes.first().pageId, 0);
    EXPECT_TRUE(r.doneLast);

    // No section of the page: titles and notes only.
    q.inMatn = q.inHawashi = false;
    const RunResult noPages = runQuery(engine, q);
    EXPECT_TRUE(noPages.pages.isEmpty());
    EXPECT_EQ(noPages.titles.size(), r.titles.size());
    EXPECT_FALSE(noPages.notes.isEmpty());

    // A semantic query without a loaded index is searched as full text.
    SearchQuery semantic = phrases({"رسول الله"});
    semantic.semantic = true;
    EXPECT_EQ(runQuery(engine, semantic, 10).pages.size(), 10);
}

// The first batch leaves once the first books in display order hold 200
// hits, before the later books are read: a page written into the last book
// while the first batch is being handed over is found by the same run, which
// otherwise gives every hit a run before it gave, in the same order.
TEST(SearchRun, firstBatchLeavesBeforeTheLaterBooksAreRead)
{
    // Four quarters of the Quran, titled so that display order runs against
    // the order of the page ids.
    const QList<QuranVerse>& verses = quranVerses();
    const qsizetype quarter = verses.size() / 4;
    const QStringList titles{"د", "ج", "ب", "أ"};
    QList<FixtureBook> books;
    for (int b = 0; b < 4; ++b) {
        FixtureBook book{b + 1, titles[b], {}, {}};
        for (qsizetype i = b * quarter; i < (b + 1) * quarter; ++i)
            book.pages << verses[i].text;
        books << book;
    }
    SearchLibrary library = customLibrary(books);
    ASSERT_TRUE(library.lib);
    const auto catalog = library.lib->catalog();
    ASSERT_EQ(catalog->books.first().id, 4);
    ASSERT_EQ(catalog->books.last().id, 1);

    // A clock that stands still: a busy machine must not let the pace hand
    // the first batch over before its 200 hits.
    const auto stillClock = [] { return std::uint64_t{0}; };
    SearchEngine engine(*library.lib);
    engine.setClock(stillClock);
    const SearchQuery q = phrases({"الله"});
    const RunResult before = runQuery(engine, q);
    ASSERT_GT(before.pages.size(), 1000);
    ASSERT_EQ(before.batchSizes.value(0), 200);

    // The steps of the statements on the kept connection a new engine's run
    // takes (the one the last run gave back): the later books are still to
    // be read when the first batch leaves.
    std::int64_t steps = 0;
    auto kept = SearchConnection::take(*library.lib);
    ASSERT_TRUE(kept);
    kept->connection()->setProgressCheck(100, [&] {
        ++steps;
        return false;
    });
    SearchConnection::giveBack(*library.lib, std::move(kept));
    std::int64_t atFirstBatch = -1;
    QList<SearchHit> pages;
    SearchEngine counted(*library.lib);
    counted.setClock(stillClock);
    counted.run(q, SearchEngine::defaultLimit, [&](const QList<SearchHit>& hits, bool) {
        if (hits.isEmpty() || hits.first().kind != SearchHit::Kind::page)
            return;
        if (pages.isEmpty()) {
            EXPECT_EQ(hits.size(), 200);
            EXPECT_TRUE(std::none_of(hits.begin(), hits.end(), [](const SearchHit& h) { return h.bookId == 1; }));
            atFirstBatch = steps;
        }
        pages << hits;
    });
    EXPECT_EQ(pages, before.pages);
    EXPECT_GT(steps - atFirstBatch, steps / 4) << "the later books should be read after the first batch";
}

TEST(SearchRun, nothingToSearchGivesOnlyTheFinalCall)
{
    auto corpus = corpusLibrary();
    SearchEngine engine(*corpus.lib);
    SearchQuery onlyNot;
    onlyNot.notPhrases = {"رسول الله"};
    onlyNot.inTitles = true;
    RunResult r = runQuery(engine, onlyNot);
    EXPECT_EQ(r.calls, 1);
    EXPECT_TRUE(r.doneLast);

    SearchQuery none = phrases({"رسول الله"});
    none.scope = QList<std::int64_t>{};
    none.inTitles = none.inNotes = true;
    r = runQuery(engine, none);
    EXPECT_TRUE(r.pages.isEmpty() && r.titles.isEmpty() && r.notes.isEmpty());
    EXPECT_TRUE(r.doneLast);

    SearchQuery scoped = phrases({"رسول الله"});
    scoped.scope = QList<std::int64_t>{3};
    r = runQuery(engine, scoped);
    ASSERT_FALSE(r.pages.isEmpty());
    for (const auto& h : r.pages)
        EXPECT_EQ(h.bookId, 3);
}

TEST(SearchRun, footnoteOnlyWordNeedsFootnotes)
{
    auto reading = corpusLibrary("reading/catalog.json");
    ASSERT_TRUE(reading.lib);
    SearchEngine engine(*reading.lib);
    SearchQuery q = phrases({"المنتظم"});
    EXPECT_EQ(runQuery(engine, q).pages.size(), 1);
    q.inHawashi = false;
    EXPECT_TRUE(runQuery(engine, q).pages.isEmpty());
    q.inHawashi = true;
    q.inMatn = false;
    EXPECT_EQ(runQuery(engine, q).pages.size(), 1);
    // A word of the main text is not found in the footnotes alone.
    q.andPhrases = {"بقراءتي"};
    EXPECT_TRUE(runQuery(engine, q).pages.isEmpty());
    q.inMatn = true;
    EXPECT_EQ(runQuery(engine, q).pages.size(), 1);
}

TEST(SearchRun, hamzaAndMarksOverTheIndex)
{
    SearchLibrary& quran = quranLibrary();
    ASSERT_TRUE(quran.lib);
    SearchEngine engine(*quran.lib);
    // "إِنْ أَرَدْنَآ" as the verse spells it.
    const QStringList words = quranVerse(4, 62).split(u' ');
    ASSERT_GT(words.size(), 12);
    const QString phrase = words[11] + " " + words[12];
    SearchQuery q = phrases({phrase});
    const int plain = int(runQuery(engine, q).pages.size());
    q.tashkeel = true;
    const RunResult marked = runQuery(engine, q);
    ASSERT_GE(marked.pages.size(), 1);
    EXPECT_LE(marked.pages.size(), plain);
    for (const auto& h : marked.pages) {
        const auto page = quran.lib->page(h.pageId);
        ASSERT_TRUE(page);
        EXPECT_TRUE(page->content.contains(phrase)) << page->content.toStdString();
    }
    SearchQuery hamza = phrases({"أن"});
    hamza.hamza = true;
    SearchQuery anyForm = phrases({"أن"});
    EXPECT_LT(runQuery(engine, hamza).pages.size(), runQuery(engine, anyForm).pages.size());
}

TEST(SearchRun, batchesFollowTheClock)
{
    SearchLibrary& quran = quranLibrary();
    SearchEngine engine(*quran.lib);
    std::uint64_t now = 0;
    engine.setClock([&] { return now; });
    const SearchQuery q = phrases({"الله"});
    RunResult r = runQuery(engine, q);
    ASSERT_GT(r.pages.size(), 400);
    ASSERT_EQ(r.batchSizes.size(), 2);
    EXPECT_EQ(r.batchSizes.first(), 200);
    EXPECT_TRUE(inReadingOrder(*quran.lib, r.pages));

    r = runQuery(engine, q, 199);
    EXPECT_EQ(r.batchSizes, QList<int>{199});

    // A clock that jumps a second per reading: a batch at every 64 hits.
    engine.setClock([&] { return now += 1'000'000'000; });
    r = runQuery(engine, q, 300);
    EXPECT_EQ(r.batchSizes, (QList<int>{64, 64, 64, 64, 44}));
}

TEST(SearchRun, cancelBeforeARunStopsIt)
{
    SearchLibrary& quran = quranLibrary();
    SearchEngine engine(*quran.lib);
    SearchQuery q = phrases({"الله"});
    q.inTitles = q.inNotes = true;

    engine.cancel(); // queued, then abandoned before it started
    RunResult r = runQuery(engine, q);
    EXPECT_EQ(r.calls, 1);
    EXPECT_TRUE(r.doneLast);
    EXPECT_FALSE(engine.isCancelled());
    EXPECT_GT(runQuery(engine, q).pages.size(), 200); // the next run is whole
}

TEST(SearchRun, cancelFromAnotherThreadAtEveryHandOver)
{
    SearchLibrary& quran = quranLibrary();
    quran.lib->saveNote(1, 2, QStringLiteral("فائدة في اسم الله"));
    SearchEngine engine(*quran.lib);
    std::uint64_t now = 0;
    engine.setClock([&] { return now += 1'000'000'000; }); // a page batch every 64 hits
    SearchQuery q = phrases({"الله"});
    q.inTitles = q.inNotes = true;

    // The kinds of the non-final calls of one run, in order.
    auto kinds = [](const QList<SearchHit>& hits) {
        return hits.isEmpty() ? QStringLiteral("empty")
                              : hits.first().kind == SearchHit::Kind::page    ? QStringLiteral("pages")
                                : hits.first().kind == SearchHit::Kind::title ? QStringLiteral("titles")
                                                                              : QStringLiteral("notes");
    };
    QStringList whole;
    engine.run(q, SearchEngine::defaultLimit, [&](const QList<SearchHit>& hits, bool done) {
        if (!done)
            whole << kinds(hits);
    });
    ASSERT_GT(whole.count("pages"), 3);
    // No sura title holds the word: the title call is empty, but it is made.
    ASSERT_EQ(whole.mid(whole.size() - 2), (QStringList{"empty", "notes"}));

    // Another thread cancels while the run waits inside the k-th call; the
    // run then hands over nothing more but its final call.
    std::mutex lock;
    std::condition_variable wake;
    int request = 0, served = 0;
    bool quit = false;
    std::thread canceller([&] {
        std::unique_lock guard(lock);
        while (true) {
            wake.wait(guard, [&] { return quit || request > served; });
            if (quit)
                return;
            engine.cancel();
            served = request;
            wake.notify_all();
        }
    });
    for (qsizetype k = 1; k < whole.size(); ++k) {
        QStringList seen;
        int done = 0, afterDone = 0;
        engine.run(q, SearchEngine::defaultLimit, [&](const QList<SearchHit>& hits, bool isDone) {
            afterDone += done;
            if (isDone) {
                ++done;
                EXPECT_TRUE(hits.isEmpty());
                return;
            }
            seen << kinds(hits);
            if (seen.size() == k) {
                std::unique_lock guard(lock);
                request += 1;
                wake.notify_all();
                wake.wait(guard, [&] { return served == request; });
            }
        });
        EXPECT_EQ(seen, whole.mid(0, k)) << "cancelled at call " << k;
        EXPECT_EQ(done, 1);
        EXPECT_EQ(afterDone, 0);
        EXPECT_FALSE(engine.isCancelled());
    }
    {
        std::lock_guard guard(lock);
        quit = true;
    }
    wake.notify_all();
    canceller.join();
}

TEST(SearchRun, cancelFromAnotherThreadAtAnyMomentEndsCleanly)
{
    // scripts/test-tsan runs this under ThreadSanitizer as well.
    SearchLibrary& quran = quranLibrary();
    SearchEngine engine(*quran.lib);
    engine.setPageCheckedPath(true);
    SearchQuery q = phrases({"الله"});
    q.tashkeel = true; // checked on every page's stored text: a long run
    q.inTitles = true;
    // The cancel delays are spread over the length of one whole run.
    QElapsedTimer timer;
    timer.start();
    const qsizetype full = runQuery(engine, q).pages.size();
    const qint64 runMicros = std::max<qint64>(timer.nsecsElapsed() / 1000, 1);
    ASSERT_GT(full, 200);

    auto* rng = QRandomGenerator::global();
    for (int round = 0; round < 30; ++round) {
        std::atomic<bool> started{false};
        std::thread canceller([&] {
            while (!started.load())
                std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::microseconds(rng->bounded(runMicros)));
            engine.cancel();
        });
        int done = 0, lateCalls = 0;
        qsizetype pages = 0;
        started.store(true);
        engine.run(q, SearchEngine::defaultLimit, [&](const QList<SearchHit>& hits, bool isDone) {
            lateCalls += done;
            done += isDone ? 1 : 0;
            for (const SearchHit& h : hits)
                pages += h.kind == SearchHit::Kind::page ? 1 : 0;
        });
        canceller.join();
        EXPECT_EQ(done, 1);
        EXPECT_EQ(lateCalls, 0);
        EXPECT_LE(pages, full);
        // A cancel that lands after the run ended applies to the next run.
        if (engine.isCancelled()) {
            EXPECT_EQ(runQuery(engine, q).calls, 1);
        }
    }
}

TEST(SearchRun, cancelsOfOneEngineNeverStopAnotherSharingThePool)
{
    // Engines of one library take their connections from one pool; a cancel
    // must stop only the run it was meant for, whenever it lands.
    SearchLibrary& quran = quranLibrary();
    SearchEngine cancelled(*quran.lib);
    SearchEngine other(*quran.lib);
    SearchQuery q = phrases({"الله"});
    q.hamza = true;
    const QList<SearchHit> whole = runQuery(other, q).pages;
    ASSERT_GT(whole.size(), 200);

    std::atomic<bool> stop{false};
    std::atomic<int> otherRuns{0};
    std::thread steady([&] {
        while (!stop.load()) {
            const RunResult r = runQuery(other, q);
            EXPECT_EQ(r.pages, whole);
            EXPECT_FALSE(other.isCancelled());
            otherRuns += 1;
        }
    });
    auto* rng = QRandomGenerator::global();
    for (int round = 0; round < 40; ++round) {
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(rng->bounded(2000)));
            cancelled.cancel();
        });
        runQuery(cancelled, q);
        canceller.join();
        if (cancelled.isCancelled())
            runQuery(cancelled, q); // takes the late cancel
    }
    stop.store(true);
    steady.join();
    EXPECT_GT(otherRuns.load(), 0);
    // Whole again once nothing cancels it.
    EXPECT_EQ(runQuery(cancelled, q).pages, whole);
}

TEST(SearchRun, matchTotalIsTheCountOfTheFullExpressionWhenOneIsGiven)
{
    auto corpus = corpusLibrary();
    SearchEngine engine(*corpus.lib);
    auto count = [&](const SearchQuery& q) -> std::optional<std::int64_t> {
        const auto expr = engine.ftsExpression(q);
        if (!expr)
            return std::nullopt;
        return corpus.lib->main().scalarInt("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?", {*expr});
    };
    auto with = [](SearchQuery q, bool SearchQuery::*flag, bool value) {
        q.*flag = value;
        return q;
    };
    SearchQuery notPhrase = phrases({"الله"});
    notPhrase.notPhrases = {"رسول"};
    SearchQuery scoped = phrases({"الله"});
    scoped.scope = QList<std::int64_t>{1, 2};
    const QList<SearchQuery> queries{
        phrases({"الله"}), phrases({"رسول الله"}), phrases({"حد*"}), phrases({"صلاة"}),
        with(phrases({"رسول الله", "عائشة"}), &SearchQuery::near, true),
        with(phrases({"رسول الله", "عائشة"}), &SearchQuery::ordered, true),
        with(phrases({"صلاة"}), &SearchQuery::affix, true),
        with(phrases({"حدثنا"}), &SearchQuery::inHawashi, false),
        with(phrases({"أبي هريرة"}), &SearchQuery::hamza, true),
        notPhrase, scoped, phrases({"كلمةلاتوجد"}),
    };
    int given = 0;
    for (const SearchQuery& q : queries) {
        const RunResult r = runQuery(engine, q, 3);
        const bool expected = !q.scope && !engine.needsVerify(q) && engine.ftsExpression(q).has_value();
        if (!expected) {
            EXPECT_FALSE(engine.matchTotal()) << q.title().toStdString();
            continue;
        }
        ++given;
        ASSERT_TRUE(engine.matchTotal()) << q.title().toStdString();
        EXPECT_EQ(engine.matchTotal(), count(q)) << q.title().toStdString();
        EXPECT_GE(*engine.matchTotal(), r.pages.size());
    }
    EXPECT_GE(given, 5);

    // A run stopped before its end gives none.
    engine.cancel();
    runQuery(engine, phrases({"الله"}));
    EXPECT_FALSE(engine.matchTotal());
}

TEST(SearchRun, cancelByADeadlineBeforeOrDuringTheRun)
{
    SearchLibrary& quran = quranLibrary();
    SearchEngine engine(*quran.lib);
    engine.setPageCheckedPath(true);
    SearchQuery q = phrases({"الله"});
    q.tashkeel = true; // checked on every page's stored text: a long run
    q.inTitles = true;
    QElapsedTimer timer;
    timer.start();
    const RunResult whole = runQuery(engine, q);
    const double runSeconds = double(timer.nsecsElapsed()) / 1e9;
    ASSERT_GT(whole.pages.size(), 200);
    EXPECT_FALSE(engine.timedOut());

    auto runWith = [&](const Deadline& deadline) {
        RunResult r;
        engine.run(q, SearchEngine::defaultLimit, [&](const QList<SearchHit>& hits, bool done) {
            ++r.calls;
            r.doneCalls += done ? 1 : 0;
            for (const SearchHit& h : hits)
                if (h.kind == SearchHit::Kind::page)
                    r.pages << h;
        }, deadline);
        return r;
    };

    // Passed before the run: nothing but the final call.
    RunResult r = runWith(Deadline::in(0));
    EXPECT_EQ(r.calls, 1);
    EXPECT_TRUE(engine.timedOut());
    EXPECT_FALSE(engine.isCancelled());

    // Passing a tenth of the way in: fewer pages, a prefix of the whole list.
    r = runWith(Deadline::in(runSeconds / 10));
    EXPECT_TRUE(engine.timedOut());
    EXPECT_EQ(r.doneCalls, 1);
    EXPECT_LT(r.pages.size(), whole.pages.size());
    EXPECT_EQ(r.pages, whole.pages.mid(0, r.pages.size()));

    // A deadline far off changes nothing, and a time-out does not carry over.
    r = runWith(Deadline::in(1e12));
    EXPECT_FALSE(engine.timedOut());
    EXPECT_EQ(r.pages, whole.pages);
    EXPECT_EQ(runQuery(engine, q).pages, whole.pages);
}

TEST(SearchRun, hamzaWordsBeginningLikeTheArticleKeepTheirHamza)
{
    SearchLibrary corpus = corpusLibrary();
    ASSERT_TRUE(corpus.lib);
    SearchEngine engine(*corpus.lib);
    for (const QString& word : {QStringLiteral("ألا"), QStringLiteral("إلا")}) {
        SearchQuery anyForm = phrases({word});
        SearchQuery hamza = anyForm;
        hamza.hamza = true;
        const RunResult asked = runQuery(engine, hamza);
        const RunResult all = runQuery(engine, anyForm);
        ASSERT_FALSE(asked.pages.isEmpty()) << word.toStdString();
        QSet<std::int64_t> allIds;
        for (const SearchHit& h : all.pages)
            allIds.insert(h.pageId);
        for (const SearchHit& h : asked.pages) {
            const auto page = corpus.lib->page(h.pageId);
            ASSERT_TRUE(page);
            EXPECT_TRUE(Arabic::stripMarks(page->content).contains(word))
                << word.toStdString() << " page " << h.pageId;
            EXPECT_TRUE(allIds.contains(h.pageId));
        }
        // Without the option each also finds the pages holding only the other.
        EXPECT_GT(all.pages.size(), asked.pages.size()) << word.toStdString();
    }
}

TEST(SearchRun, aSearchTheFirstBooksLeaveAloneStartsItsStatementOnce)
{
    // A prefix written as one of the index's prefix queries makes the first
    // books leave it to be collected at once; its statement's start, which
    // reads every term of the prefix, is not paid twice by a try under the
    // cap of a few rows first.
    SearchLibrary& quran = quranLibrary();
    ASSERT_TRUE(quran.lib);
    // How often the kept connection the next run takes has run the
    // collecting statement (the pool hands out the connection given back last).
    const auto runsSoFar = [&] {
        auto kept = SearchConnection::take(*quran.lib);
        std::int64_t runs = -1;
        if (kept) {
            const auto rows = kept->connection()->rows(QStringLiteral(
                "SELECT run FROM sqlite_stmt WHERE sql = 'SELECT rowid FROM pages_fts WHERE pages_fts MATCH ?'"));
            runs = rows.isEmpty() ? 0 : rows[0].integer(0).value_or(-1);
        }
        SearchConnection::giveBack(*quran.lib, std::move(kept));
        return runs;
    };
    const std::int64_t before = runsSoFar();
    ASSERT_GE(before, 0);
    SearchEngine engine(*quran.lib);
    const RunResult found = runQuery(engine, phrases({"قال*"}));
    ASSERT_GT(found.pages.size(), 500) << "more rows than a search collected at once under the cap";
    EXPECT_EQ(runsSoFar() - before, 1);
}
