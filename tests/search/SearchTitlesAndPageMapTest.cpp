#include "SearchRunHelpers.h"

#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"
#include "search/PageMap.h"
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
TEST(SearchTitles, cachedPerGenerationSortedAndScoped)
{
    auto corpus = corpusLibrary();
    SearchEngine engine(*corpus.lib);
    auto db = corpus.lib->newSearchConnection();
    const auto plan = SearchEngine::plan(phrases({"باب"}));
    const std::int64_t generation = 1'000'000'000;
    const auto before = engine.searchTitles(plan, *db, std::nullopt, generation);
    ASSERT_FALSE(before.isEmpty());
    {
        auto rw = SQLiteDB::open(corpus.path, false);
        ASSERT_TRUE(rw->run("INSERT INTO toc(id, book_id, title, page_seq, level) VALUES(900, 99, 'باب الغسل', 7, 1)"));
        ASSERT_TRUE(rw->run("INSERT INTO toc(id, book_id, title, page_seq, level) VALUES(901, 2, 'باب أول', 3, 1)"));
        ASSERT_TRUE(rw->run("INSERT INTO toc(id, book_id, title, page_seq, level) VALUES(902, 2, 'باب ثان', 3, 1)"));
    }
    // Same generation: the rows read first are served again.
    EXPECT_EQ(engine.searchTitles(plan, *db, std::nullopt, generation).size(), before.size());
    const auto after = engine.searchTitles(plan, *db, std::nullopt, generation + 1);
    ASSERT_EQ(after.size(), before.size() + 3);
    // Sorted by book order, a book missing from the catalogue counting as
    // order 0, then by sequence; equal keys keep the table's order.
    const auto catalog = corpus.lib->catalog();
    auto key = [&](const SearchHit& h) {
        return std::make_pair(catalog->bookById.contains(h.bookId) ? catalog->bookById[h.bookId].order : 0, h.seq);
    };
    QList<qsizetype> sameKey;
    for (qsizetype i = 0; i < after.size(); ++i) {
        if (i > 0) {
            EXPECT_LE(key(after[i - 1]), key(after[i]));
        }
        if (after[i].bookId == 2 && after[i].seq == 3)
            sameKey << i;
    }
    ASSERT_EQ(sameKey.size(), 2);
    EXPECT_EQ(sameKey[1], sameKey[0] + 1);

    const auto scoped = engine.searchTitles(plan, *db, QSet<std::int64_t>{99}, generation + 1);
    ASSERT_EQ(scoped.size(), 1);
    EXPECT_EQ(scoped.first().seq, 7);
    EXPECT_TRUE(engine.searchTitles(plan, *db, QSet<std::int64_t>{}, generation + 1).isEmpty());
}

TEST(SearchTitles, anInterruptedReadIsNotCached)
{
    auto corpus = corpusLibrary();
    SearchEngine engine(*corpus.lib);
    const auto plan = SearchEngine::plan(phrases({"باب"}));
    auto db = corpus.lib->newSearchConnection();
    const qsizetype all = engine.searchTitles(plan, *db, std::nullopt, 2'000'000'000).size();
    ASSERT_GT(all, 3);

    // What a cancel does to the run's connection while the titles are read:
    // the flag is set and the statement stops after a few rows.
    auto cancelled = corpus.lib->newSearchConnection();
    ASSERT_EQ(cancelled->scalarInt("SELECT count(*) FROM toc"), 39); // the schema is read before
    sqlite3_progress_handler(
        cancelled->handle(), 20,
        [](void* e) {
            static_cast<SearchEngine*>(e)->cancel();
            return 1;
        },
        &engine);
    EXPECT_TRUE(engine.searchTitles(plan, *cancelled, std::nullopt, 2'000'000'001).isEmpty());

    SearchEngine other(*corpus.lib);
    EXPECT_EQ(other.searchTitles(plan, *db, std::nullopt, 2'000'000'001).size(), all);
}

TEST(SearchTitles, marksInTitlesCountUnderTashkeel)
{
    FixtureBook book{1, "كتاب", {"حدثنا", "قال"}, {{"كِتَابُ العِلْمِ", 1}, {"كُتَّابُ القَرْيَةِ", 2}}};
    auto lib = customLibrary({book});
    SearchEngine engine(*lib.lib);
    SearchQuery q = phrases({"كِتَاب"});
    q.inTitles = true;
    q.inMatn = q.inHawashi = false;
    EXPECT_EQ(runQuery(engine, q).titles.size(), 2); // no marks compared: both
    q.tashkeel = true;
    const auto titles = runQuery(engine, q).titles;
    ASSERT_EQ(titles.size(), 1);
    EXPECT_EQ(titles.first().seq, 1);
}

// The titles' cached normal words must find what testing each title's own
// text finds, for every kind of condition a query may set.
TEST(SearchTitles, cachedWordsAgreeWithEachTitlesText)
{
    const QList<QPair<QString, int>> toc{
        {"باب الصلاة في الثوب الواحد", 1}, {"باب12 ما جاء في الوضوء", 2}, {"  باب   الصلاة  ", 3},
        {"كتاب الصلاة باب الأذان", 4},     {"الأذان قبل الفجر", 5},       {"باب", 6},
        {"ذكر الصلاة على النبي", 7},      {"بابان في الصلوات", 8},       {"", 9}};
    auto lib = customLibrary({FixtureBook{1, "كتاب", {"نص", "نص", "نص"}, toc}});
    SearchEngine engine(*lib.lib);
    auto db = lib.lib->newSearchConnection();

    auto with = [](QStringList ands, auto set) {
        SearchQuery q = phrases(ands);
        set(q);
        return q;
    };
    const QList<SearchQuery> queries{
        phrases({"باب"}),
        phrases({"باب الصلاة"}),
        with({"باب", "الصلاة"}, [](SearchQuery& q) { q.requireAll = false; }),
        with({"باب", "الصلاة"}, [](SearchQuery& q) { q.requireAll = true; }),
        with({"الصلاة", "باب"}, [](SearchQuery& q) { q.ordered = true; }),
        with({"باب", "الأذان"}, [](SearchQuery& q) { q.near = true; }),
        with({"باب"}, [](SearchQuery& q) { q.notPhrases = {"الصلاة"}; }),
        with({"باب"}, [](SearchQuery& q) { q.orPhrases = {"الوضوء", "الأذان"}; }),
        phrases({"ب*"}),
        phrases({"*ان"}),
    };
    std::int64_t generation = 1'500'000'000;
    for (const SearchQuery& q : queries) {
        SCOPED_TRACE(qPrintable((q.andPhrases + q.orPhrases + q.notPhrases).join(u'|')));
        const auto plan = SearchEngine::plan(q);
        QList<std::int64_t> expected;
        for (const auto& [title, seq] : toc)
            if (SearchEngine::evaluate(plan, title))
                expected << seq;
        QList<std::int64_t> found;
        for (const SearchHit& hit : engine.searchTitles(plan, *db, std::nullopt, generation))
            found << hit.seq;
        EXPECT_EQ(found, expected);
        EXPECT_FALSE(expected.isEmpty());
    }
}

TEST(SearchNotes, scopeAndMarks)
{
    auto corpus = corpusLibrary();
    auto& lib = *corpus.lib;
    lib.saveNote(1, 5, "فائدة: متلفعات بمروطهن");
    lib.saveNote(3, 6, "فائدة أخرى: متلفعات");
    SearchEngine engine(lib);
    const auto plan = SearchEngine::plan(phrases({"متلفعات"}));
    auto notes = engine.searchNotes(plan, std::nullopt);
    ASSERT_EQ(notes.size(), 2);
    EXPECT_EQ(notes.first().kind, SearchHit::Kind::note);
    notes = engine.searchNotes(plan, QSet<std::int64_t>{1});
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes.first().bookId, 1);
    EXPECT_EQ(notes.first().seq, 5);
    EXPECT_TRUE(engine.searchNotes(plan, QSet<std::int64_t>{}).isEmpty());
}

TEST(SearchPageMap, snapshotIsSharedUntilTheDataChanges)
{
    auto corpus = corpusLibrary();
    const QString uri = corpus.lib->main().path();
    const auto a = PageMap::current(uri);
    const auto b = PageMap::current(uri);
    ASSERT_TRUE(a.snapshot);
    EXPECT_EQ(a.snapshot.get(), b.snapshot.get());
    EXPECT_EQ(a.dataGeneration, b.dataGeneration);
    EXPECT_EQ(a.snapshot->lookup(41), (std::make_pair<std::int64_t, std::int64_t>(2, 1)));
    EXPECT_FALSE(a.snapshot->lookup(0));
    EXPECT_FALSE(a.snapshot->lookup(122));
    EXPECT_FALSE(a.snapshot->lookup(INT64_MIN));

    // The page index's batches commit without changing a page: the map and
    // what is keyed on it stay.
    {
        auto db = SQLiteDB::open(corpus.path, false);
        ASSERT_TRUE(db && db->exec(QStringLiteral("DELETE FROM meta WHERE key LIKE 'page_index%'")));
        ASSERT_EQ(PageIndex::build(*db, {}, 25), PageIndex::Build::complete);
    }
    const auto indexed = PageMap::current(uri);
    EXPECT_EQ(indexed.snapshot.get(), a.snapshot.get());
    EXPECT_EQ(indexed.dataGeneration, a.dataGeneration);

    addPage(corpus.path, 130, 3, 50, "حدثنا");
    const auto c = PageMap::current(uri);
    ASSERT_TRUE(c.snapshot);
    EXPECT_NE(c.snapshot.get(), a.snapshot.get());
    EXPECT_NE(c.dataGeneration, a.dataGeneration);
    EXPECT_EQ(c.snapshot->lookup(130), (std::make_pair<std::int64_t, std::int64_t>(3, 50)));
    EXPECT_FALSE(c.snapshot->lookup(125));

    auto store = LocalStore::open(corpus.path);
    ASSERT_TRUE(store && store->remove(3));
    const auto removed = PageMap::current(uri);
    EXPECT_NE(removed.dataGeneration, c.dataGeneration);
    EXPECT_FALSE(removed.snapshot && removed.snapshot->lookup(130));
}

TEST(SearchPageMap, idsFarApartAreMappedWithoutTheFallback)
{
    auto corpus = corpusLibrary(); // page ids from 1
    const QString uri = corpus.lib->main().path();
    ASSERT_TRUE(PageMap::snapshot(uri));
    const std::int64_t far = 9'845'400'562; // a book id near 100,000 as an installed page id
    addPage(corpus.path, far, 2, 99, "سمعت رسول الله يقول");
    addPage(corpus.path, far - 3'000'000'000, 3, 98, "سمعت رسول الله يقول");
    const auto snap = PageMap::snapshot(uri);
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->lookup(far), (std::make_pair<std::int64_t, std::int64_t>(2, 99)));
    EXPECT_FALSE(snap->lookup(far - 1));
    EXPECT_FALSE(snap->lookup(INT64_MAX));
    // Memory follows the pages, not the spread of their ids.
    EXPECT_LE(snap->bytes(), 16 * (121 + 2));

    // A cursor answers like lookup for ascending ids, and after a step back.
    PageMap::Snapshot::Cursor cursor(*snap);
    for (const std::int64_t id : {std::int64_t(0), std::int64_t(1), std::int64_t(2), std::int64_t(40),
                                  std::int64_t(41), std::int64_t(122), far - 3'000'000'000, far - 1, far, far + 1,
                                  std::int64_t(41), std::int64_t(5)})
        EXPECT_EQ(cursor.lookup(id), snap->lookup(id)) << id;

    SearchEngine engine(*corpus.lib);
    const RunResult r = runQuery(engine, phrases({"سمعت رسول الله يقول"}));
    const auto it = std::find_if(r.pages.begin(), r.pages.end(), [&](const SearchHit& h) { return h.pageId == far; });
    ASSERT_NE(it, r.pages.end());
    EXPECT_EQ(it->seq, 99);
    EXPECT_TRUE(inReadingOrder(*corpus.lib, r.pages));
}

TEST(SearchPageMap, mismatchedRowidsGiveNoSnapshotButRunsStillWork)
{
    auto corpus = corpusLibrary();
    {
        auto rw = SQLiteDB::open(corpus.path, false);
        // The full-text row of page 1 claims to be another page.
        ASSERT_TRUE(rw->run("UPDATE pages_fts SET page_id=77 WHERE rowid=1"));
    }
    EXPECT_FALSE(PageMap::snapshot(corpus.lib->main().path()));
    SearchEngine engine(*corpus.lib);
    const RunResult r = runQuery(engine, phrases({"رسول الله"}));
    EXPECT_GT(r.pages.size(), 20);
    EXPECT_TRUE(inReadingOrder(*corpus.lib, r.pages));
    for (const auto& h : r.pages) {
        const auto page = corpus.lib->page(h.pageId);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->seq, h.seq);
    }

    // Without a page map the title cache still follows the database.
    SearchQuery titles = phrases({"الطهارة"});
    titles.inTitles = true;
    const qsizetype before = runQuery(engine, titles).titles.size();
    {
        auto rw = SQLiteDB::open(corpus.path, false);
        ASSERT_TRUE(rw->run("INSERT INTO toc(book_id, title, page_seq, level) VALUES(2, 'أبواب الطهارة', 9, 1)"));
    }
    EXPECT_FALSE(PageMap::snapshot(corpus.lib->main().path()));
    EXPECT_EQ(runQuery(engine, titles).titles.size(), before + 1);
}

TEST(SearchPageMap, booksWithLargeIdsSearchLikeTheSameBooksWithSmallOnes)
{
    // Ids above 1,000 put installed page ids in the billions, far apart.
    const QHash<std::int64_t, std::int64_t> newIds{{1, 99'991}, {2, 1'009}, {3, 52'017}};
    SearchLibrary compact = corpusLibrary();
    SearchLibrary spread = corpusLibraryWithBookIds(newIds);
    ASSERT_TRUE(compact.lib && spread.lib);
    const auto snap = PageMap::snapshot(spread.lib->main().path());
    ASSERT_TRUE(snap);
    ASSERT_EQ(snap->ids.size(), 121);
    EXPECT_EQ(snap->ids.front(), std::int64_t(1'009) * 100'000 + 1);
    EXPECT_EQ(snap->ids.back(), std::int64_t(99'991) * 100'000 + 40);

    QHash<std::int64_t, std::int64_t> oldIds;
    for (auto it = newIds.begin(); it != newIds.end(); ++it)
        oldIds.insert(it.value(), it.key());
    // Each hit as (kind, book in the compact library's ids, sequence).
    auto keys = [](const RunResult& r, const QHash<std::int64_t, std::int64_t>& bookIds) {
        QList<std::tuple<int, std::int64_t, std::int64_t>> out;
        for (const QList<SearchHit>* list : {&r.pages, &r.titles})
            for (const SearchHit& h : *list)
                out.append({int(h.kind), bookIds.value(h.bookId, h.bookId), h.seq});
        return out;
    };

    const QStringList pair{"رسول الله", "عائشة"};
    SearchQuery near = phrases(pair);
    near.near = true;
    SearchQuery ordered = near;
    ordered.ordered = true;
    SearchQuery hamza = phrases({"أبي هريرة"});
    hamza.hamza = true;
    SearchQuery mainText = phrases({"حدثنا"});
    mainText.inHawashi = false;
    SearchQuery titles = phrases({"باب"});
    titles.inTitles = true;
    SearchQuery affix = phrases({"صلاة"});
    affix.affix = true;
    SearchQuery scoped = phrases({"الله"});
    scoped.scope = QList<std::int64_t>{2};
    SearchQuery scopedSpread = scoped;
    scopedSpread.scope = QList<std::int64_t>{newIds[2]};
    const QList<std::pair<SearchQuery, SearchQuery>> queries = {
        {phrases({"الله"}), phrases({"الله"})},
        {phrases({"رسول الله"}), phrases({"رسول الله"})},
        {phrases({"حد*"}), phrases({"حد*"})},
        {near, near}, {ordered, ordered}, {hamza, hamza}, {mainText, mainText}, {titles, titles},
        {affix, affix}, {scoped, scopedSpread},
    };
    SearchEngine small(*compact.lib), large(*spread.lib);
    for (const auto& [q, qSpread] : queries) {
        const RunResult a = runQuery(small, q);
        const RunResult b = runQuery(large, qSpread);
        ASSERT_FALSE(a.pages.isEmpty() && a.titles.isEmpty()) << q.title().toStdString();
        EXPECT_EQ(keys(a, {}), keys(b, oldIds)) << q.title().toStdString();
    }
    // A limit cuts the same list at the same place.
    EXPECT_EQ(keys(runQuery(small, phrases({"الله"}), 57), {}), keys(runQuery(large, phrases({"الله"}), 57), oldIds));
}
