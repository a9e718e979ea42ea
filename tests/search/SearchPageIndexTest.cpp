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

// The page index's term rows, one text each, in order.
QStringList termRows(SQLiteDB& db)
{
    QStringList out;
    for (const auto& row : db.rows(QStringLiteral(
             "SELECT term || '|' || form || '|' || rterm || '|' || pages FROM page_terms ORDER BY term, form")))
        out << row.str(0).value_or(QString());
    for (const auto& row : db.rows(QStringLiteral(
             "SELECT term || '|' || form || '|' || page_id FROM page_marks ORDER BY term, form, page_id")))
        out << row.str(0).value_or(QString());
    return out;
}

// Query kinds for comparing the page index with the page check.
struct IndexCase {
    const char* name;
    SearchQuery q;
    bool answered;      // by the index alone
    bool whole = false; // the pages the search of whole pages finds
};

QList<IndexCase> indexCases()
{
    const QStringList pair{"رسول الله", "عائشة"};
    return {
        {"common word", asked({"الله"}), true},
        {"phrase", asked({"رسول الله"}), true},
        {"prefix", asked({"حد*"}), true},
        {"near pair", asked(pair, [](SearchQuery& q) { q.near = true; }), true},
        {"rare word", asked({"مشتبكة"}), true},
        {"ordered near pair", asked(pair, [](SearchQuery& q) { q.near = q.ordered = true; }), true},
        {"ordered pair", asked({"حدثنا", "مالك"}, [](SearchQuery& q) { q.ordered = true; }), true},
        {"main text ordered near pair",
         asked(pair, [](SearchQuery& q) { q.near = q.ordered = true; q.inHawashi = false; }), true},
        {"footnotes ordered pair", asked({"حدثنا", "مالك"}, [](SearchQuery& q) { q.ordered = true; q.inMatn = false; }),
         true},
        {"affix word", asked({"صلاة"}, [](SearchQuery& q) { q.affix = true; }), true},
        {"morph word", asked({"المسلمون"}, [](SearchQuery& q) { q.morph = true; }), true},
        {"leading wildcard", asked({"*ثنا"}), true},
        {"inner wildcard", asked({"ح*ثنا"}), true},
        {"main text only", asked({"حدثنا"}, [](SearchQuery& q) { q.inHawashi = false; }), true},
        {"footnotes only", asked({"حدثنا"}, [](SearchQuery& q) { q.inMatn = false; }), true},
        {"footnotes phrase", asked({"أبي هريرة"}, [](SearchQuery& q) { q.inMatn = false; }), true},
        {"hamza madda", asked({"آخر"}, [](SearchQuery& q) { q.hamza = true; }), true},
        {"hamza below", asked({"إلى"}, [](SearchQuery& q) { q.hamza = true; }), true},
        {"main text wildcard", asked({"*ثنا"}, [](SearchQuery& q) { q.inHawashi = false; }), true},
        {"main text near", asked(pair, [](SearchQuery& q) { q.near = true; q.inHawashi = false; }), true},
        {"hamza phrase", asked({"أبي هريرة"}, [](SearchQuery& q) { q.hamza = true; }), true},
        {"hamza plain alef", asked({"ابي هريرة"}, [](SearchQuery& q) { q.hamza = true; }), true},
        {"hamza word", asked({"أن"}, [](SearchQuery& q) { q.hamza = true; }), true},
        {"hamza ordered pair", asked({"أبي", "هريرة"}, [](SearchQuery& q) { q.hamza = q.ordered = true; }), true},
        {"hamza ordered near pair",
         asked({"أبي", "هريرة"}, [](SearchQuery& q) { q.hamza = q.ordered = q.near = true; }), true},
        {"hamza ordered phrase across the footnote line",
         asked({"مالك", "أبي هريرة"}, [](SearchQuery& q) { q.hamza = q.ordered = true; }), false},
        {"hamza ordered pair turned round", asked({"هريرة", "أبي"}, [](SearchQuery& q) { q.hamza = q.ordered = true; }),
         true},
        {"hamza in footnotes", asked({"أبي"}, [](SearchQuery& q) { q.hamza = true; q.inMatn = false; }), true},
        {"hamza affix", asked({"أمر"}, [](SearchQuery& q) { q.hamza = q.affix = true; }), true},
        {"hamza wildcard", asked({"أب*"}, [](SearchQuery& q) { q.hamza = true; }), true},
        {"diacritics", asked({"صَلَّى"}, [](SearchQuery& q) { q.tashkeel = true; }), true},
        {"two marked words with hamza", asked({"صَلَّى", "عَلَيْهِ"}, [](SearchQuery& q) { q.tashkeel = q.hamza = true; }), true},
        {"diacritics of an unmarked word", asked({"الله"}, [](SearchQuery& q) { q.tashkeel = true; }), true},
        {"mark on the last letter", asked({"اللهُ"}, [](SearchQuery& q) { q.tashkeel = true; }), true},
        {"mark on the last letter with hamza and a second word",
         asked({"اللهِ", "أبي"}, [](SearchQuery& q) { q.tashkeel = q.hamza = true; q.notPhrases = {"مالك"}; }), true},
        {"diacritics in main text", asked({"صَلَّى"}, [](SearchQuery& q) { q.tashkeel = true; q.inHawashi = false; }),
         false},
        {"exclusion", asked({"حدثنا"}, [](SearchQuery& q) { q.notPhrases = {"مالك"}; }), true},
        {"main text exclusion",
         asked({"حدثنا"}, [](SearchQuery& q) { q.notPhrases = {"مالك"}; q.inHawashi = false; }), true},
        {"hamza exclusion", asked({"هريرة"}, [](SearchQuery& q) { q.notPhrases = {"أبي"}; q.hamza = true; }), true},
        {"footnotes hamza exclusion",
         asked({"هريرة"}, [](SearchQuery& q) { q.notPhrases = {"أبي"}; q.hamza = true; q.inMatn = false; }), true},
        {"alternatives in main text",
         asked({"عائشة", "أنس"}, [](SearchQuery& q) { q.requireAll = false; q.inHawashi = false; }), true},
        {"or-phrases in footnotes", asked({}, [](SearchQuery& q) { q.orPhrases = {"مالك", "أحمد"}; q.inMatn = false; }),
         true},
        {"rasm spelling in footnotes", asked({"الصلاة"}, [](SearchQuery& q) { q.inMatn = false; }), true},
        {"with titles", asked({"باب"}, [](SearchQuery& q) { q.inTitles = true; }), true},
        {"capitals in main text", asked({"ALLAH"}, [](SearchQuery& q) { q.inHawashi = false; }), true, true},
        {"lower case in main text", asked({"allah"}, [](SearchQuery& q) { q.inHawashi = false; }), true, true},
        {"accents with hamza", asked({"ÉCOLE"}, [](SearchQuery& q) { q.hamza = true; }), true, true},
        {"dotted capital in main text", asked({"İstanbul"}, [](SearchQuery& q) { q.inHawashi = false; }), true, true},
        {"cyrillic with hamza", asked({"Привет"}, [](SearchQuery& q) { q.hamza = true; }), true, true},
        {"capital wildcard in main text", asked({"Qur*"}, [](SearchQuery& q) { q.inHawashi = false; }), true, true},
    };
}

// Every kind of query gives the pages the page-checked path gives, in the
// same order; the kinds the page index answers read no page to check.
TEST(SearchRun, pageIndexGivesWhatThePageCheckGives)
{
    const SearchLibrary lib = footnotedLibrary();
    ASSERT_TRUE(lib.lib);
    const QList<IndexCase> cases = indexCases();
    for (const IndexCase& c : cases) {
        SearchEngine checked(*lib.lib);
        checked.setPageCheckedPath(true);
        const RunResult before = runQuery(checked, c.q);
        SearchEngine indexed(*lib.lib);
        const RunResult after = runQuery(indexed, c.q);
        EXPECT_FALSE(before.pages.isEmpty()) << c.name;
        EXPECT_EQ(after.pages, before.pages) << c.name;
        EXPECT_EQ(after.titles, before.titles) << c.name;
        EXPECT_EQ(indexed.tooBroad(), checked.tooBroad()) << c.name;
        if (c.answered) {
            EXPECT_EQ(indexed.pagesChecked(), 0) << c.name;
        }
        if (c.whole) {
            SearchQuery whole = c.q;
            whole.inMatn = whole.inHawashi = true;
            whole.hamza = false;
            EXPECT_EQ(after.pages, runQuery(indexed, whole).pages) << c.name;
        }
    }
}

// What the page index stores for a page is pinned to PageIndex::version: a
// contentless delete must be given exactly the values once inserted, so a
// change to the forms or the terms made of them must come with a raised
// version, which has every store index its pages again. On such a change,
// pin the new digest under the raised version.
TEST(SearchRun, pageIndexFormsArePinnedToTheirVersion)
{
    struct Pin {
        int version;
        const char* digest; // SHA-256 of the columns, terms and marked words of footnotedLibrary()
    };
    static constexpr Pin pins[] = {
        {1, "0ddf4cd26749ddd57b916eed3a249a66b66450eebb2a10b73fb444284a27943f"},
        {2, "8d2d4d2a4d3046f39b00167a003d880625de57cd5ec057cb012b0ff5d64ae764"},
        // Hamza and madda marks join their carrier (no such page here).
        {3, "8d2d4d2a4d3046f39b00167a003d880625de57cd5ec057cb012b0ff5d64ae764"},
        // The mushaf's spelling read also in the plain one (no such page here).
        {4, "8d2d4d2a4d3046f39b00167a003d880625de57cd5ec057cb012b0ff5d64ae764"},
    };
    const Pin& latest = pins[std::size(pins) - 1];
    ASSERT_EQ(PageIndex::version, latest.version);

    const SearchLibrary lib = footnotedLibrary();
    ASSERT_TRUE(lib.lib);
    auto db = SQLiteDB::open(lib.path, false);
    ASSERT_TRUE(db);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const auto& row : db->rows(QStringLiteral("SELECT content FROM pages ORDER BY id"))) {
        const PageIndex::Columns columns = PageIndex::columnsOf(row.str(0).value_or(QString()));
        hash.addData((columns.matn + u'\x1f' + columns.hawashi + u'\x1f' + columns.seam + u'\x1e').toUtf8());
    }
    const QStringList terms = termRows(*db);
    ASSERT_FALSE(terms.isEmpty());
    hash.addData(terms.join(u'\x1e').toUtf8());
    EXPECT_EQ(hash.result().toHex().toStdString(), latest.digest)
        << "the page index's forms changed: raise PageIndex::version and pin this digest under it";

    // A store indexed under another version is indexed again.
    ASSERT_TRUE(db->run(QStringLiteral("UPDATE meta SET value=? WHERE key='page_index'"),
                        {QString::number(PageIndex::version - 1)}));
    EXPECT_FALSE(PageIndex::ready(*db));
    EXPECT_EQ(PageIndex::build(*db), PageIndex::Build::complete);
    EXPECT_EQ(termRows(*db), terms);
}

// The index kept while it is built: installs on both sides of the build's
// cursor, an update that changes the text of the book the cursor stands in,
// and removals on both sides of it leave, once the build has finished, the
// index a fresh build makes, and searches over it find what the page check
// finds, also within a scope and up to a limit.
TEST(SearchRun, pageIndexKeptByInstallsUpdatesAndRemovalsWhileItIsBuilt)
{
    auto book = [](std::int64_t id, const QStringList& pages) {
        return FixtureBook{id, {}, pages, {{QStringLiteral("باب ما جاء"), 1}}, id * 100000 + 1};
    };
    SearchLibrary lib = customLibrary({book(1, footnotedPages(1)), book(2, footnotedPages(2)), book(3, footnotedPages(3))});
    ASSERT_TRUE(lib.lib);
    auto db = SQLiteDB::open(lib.path, false);
    ASSERT_TRUE(db && db->exec(QStringLiteral("DELETE FROM meta WHERE key LIKE 'page_index%'")));
    constexpr int batch = 25;
    int batches = 0;
    ASSERT_EQ(PageIndex::build(*db, [&](std::int64_t, std::int64_t) { return ++batches < 2; }, batch),
              PageIndex::Build::stopped);
    // Book 1 holds 40 pages: the cursor stands at book 2's tenth.
    ASSERT_EQ(db->scalarInt(QStringLiteral("SELECT value FROM meta WHERE key='page_index_cursor'")), 200010);

    // Book 2 again with other text: every page shifted by one and worded
    // differently, so that pages below and above the cursor change.
    QStringList changed;
    for (const QString& page : footnotedPages(2).mid(1))
        changed << QStringLiteral("قال أبو هريرة ") + page;
    ASSERT_TRUE(installBooks(lib, {{4, {}, footnotedPages(3).mid(0, 12), {}, 150001},
                                   {5, {}, footnotedPages(1).mid(10, 12), {}, 400001},
                                   book(2, changed)},
                             2));
    {
        auto store = LocalStore::open(lib.path);
        ASSERT_TRUE(store);
        EXPECT_TRUE(store->remove(1));
        EXPECT_TRUE(store->remove(3));
    }
    ASSERT_EQ(PageIndex::build(*db, {}, batch), PageIndex::Build::complete);
    const QStringList kept = termRows(*db);
    ASSERT_TRUE(db->exec(QStringLiteral("DELETE FROM meta WHERE key LIKE 'page_index%'")));
    ASSERT_EQ(PageIndex::build(*db, {}, batch), PageIndex::Build::complete);
    EXPECT_EQ(kept, termRows(*db));

    lib.lib->reloadCatalog();
    struct Bounds {
        std::optional<QList<std::int64_t>> scope;
        int limit;
    };
    for (const Bounds& bounds : {Bounds{std::nullopt, SearchEngine::defaultLimit}, Bounds{QList<std::int64_t>{2, 5}, 400},
                                 Bounds{std::nullopt, 7}}) {
        for (IndexCase c : indexCases()) {
            c.q.scope = bounds.scope;
            SearchEngine checked(*lib.lib);
            checked.setPageCheckedPath(true);
            SearchEngine indexed(*lib.lib);
            EXPECT_EQ(runQuery(indexed, c.q, bounds.limit).pages, runQuery(checked, c.q, bounds.limit).pages)
                << c.name << " limit " << bounds.limit;
        }
    }
}

// A store made before the page index is searched as before until it has
// the index; a stopped build keeps its batches and the next one goes on
// from there to the index an install makes.
TEST(SearchRun, pageIndexOfAnOlderStoreIsBuiltOnceAndResumedAfterAStop)
{
    const SearchLibrary lib = footnotedLibrary();
    ASSERT_TRUE(lib.lib);
    auto db = SQLiteDB::open(lib.path, false);
    ASSERT_TRUE(db);
    auto terms = [&] {
        QStringList out;
        for (const auto& row : db->rows(QStringLiteral(
                 "SELECT term || '|' || form || '|' || rterm || '|' || pages FROM page_terms ORDER BY term, form")))
            out << row.str(0).value_or(QString());
        return out;
    };
    const QStringList installed = terms();
    ASSERT_FALSE(installed.isEmpty());
    ASSERT_TRUE(db->exec(QStringLiteral("DROP TRIGGER page_index_added; DROP TRIGGER page_index_changed; "
                                        "DROP TABLE page_forms; DROP TABLE page_terms; "
                                        "DELETE FROM meta WHERE key LIKE 'page_index%';")));
    const QList<SearchQuery> queries = {
        asked({"حدثنا"}, [](SearchQuery& q) { q.inHawashi = false; }),
        asked({"أبي هريرة"}, [](SearchQuery& q) { q.hamza = true; }),
        asked({"*ثنا"}, [](SearchQuery& q) { q.inMatn = false; }),
    };
    auto results = [&](std::int64_t& checked) {
        QList<QList<SearchHit>> out;
        checked = 0;
        SearchEngine engine(*lib.lib);
        for (const SearchQuery& q : queries) {
            out << runQuery(engine, q).pages;
            checked += engine.pagesChecked();
        }
        return out;
    };
    std::int64_t checkedBefore = 0, checked = 0;
    const auto before = results(checkedBefore);
    EXPECT_GT(checkedBefore, 0);

    constexpr int batch = 25;
    QList<std::int64_t> stopped;
    EXPECT_EQ(PageIndex::build(*db, [&](std::int64_t done, std::int64_t) { stopped << done; return false; }, batch),
              PageIndex::Build::stopped);
    EXPECT_EQ(stopped, QList<std::int64_t>{batch});
    EXPECT_FALSE(PageIndex::ready(*db));
    EXPECT_EQ(results(checked), before);
    EXPECT_EQ(checked, checkedBefore); // a partial index is not used

    QList<std::int64_t> resumed;
    std::int64_t total = 0;
    EXPECT_EQ(PageIndex::build(*db, [&](std::int64_t done, std::int64_t all) { resumed << done; total = all; return true; },
                               batch),
              PageIndex::Build::complete);
    ASSERT_FALSE(resumed.isEmpty());
    EXPECT_EQ(resumed.first(), 2 * batch);
    EXPECT_EQ(resumed.last(), total);
    EXPECT_TRUE(PageIndex::ready(*db));
    EXPECT_EQ(terms(), installed);
    EXPECT_EQ(results(checked), before);
    EXPECT_EQ(checked, 0);
    EXPECT_EQ(PageIndex::build(*db, [&](std::int64_t, std::int64_t) { return true; }), PageIndex::Build::complete);
}

// Makes the first step of the statement of `db` whose text begins with `sql`
// fail once, as a damaged page or an I/O fault would.
void failOnce(SQLiteDB& db, const QByteArray& sql)
{
    auto armed = std::make_shared<bool>(true);
    sqlite3* handle = db.handle();
    db.setProgressCheck(1, [handle, armed, sql] {
        if (!*armed)
            return false;
        for (sqlite3_stmt* st = sqlite3_next_stmt(handle, nullptr); st; st = sqlite3_next_stmt(handle, st))
            if (sqlite3_stmt_busy(st) && QByteArray(sqlite3_sql(st)).startsWith(sql)) {
                *armed = false;
                return true;
            }
        return false;
    });
}

// A read error is no end of the pages: the build fails rather than call a
// partial index complete, and a book's removal fails rather than leave its
// postings behind.
TEST(SearchRun, aReadErrorFailsThePageIndexBuildAndABooksRemoval)
{
    const SearchLibrary lib = footnotedLibrary();
    ASSERT_TRUE(lib.lib);
    auto db = SQLiteDB::open(lib.path, false);
    ASSERT_TRUE(db);
    const QStringList installed = termRows(*db);
    ASSERT_TRUE(db->exec(QStringLiteral("DELETE FROM meta WHERE key LIKE 'page_index%'")));
    constexpr int batch = 25;
    ASSERT_EQ(PageIndex::build(*db, [](std::int64_t, std::int64_t) { return false; }, batch),
              PageIndex::Build::stopped);
    failOnce(*db, "SELECT id, content FROM pages WHERE id>");
    EXPECT_EQ(PageIndex::build(*db, {}, batch), PageIndex::Build::failed);
    db->setProgressCheck(0, {});
    EXPECT_FALSE(PageIndex::ready(*db));
    EXPECT_EQ(PageIndex::build(*db, {}, batch), PageIndex::Build::complete);
    EXPECT_EQ(termRows(*db), installed);

    auto store = LocalStore::open(lib.path);
    ASSERT_TRUE(store);
    failOnce(store->db(), "SELECT id, content FROM pages WHERE book_id=");
    EXPECT_FALSE(store->remove(9));
    store->db().setProgressCheck(0, {});
    EXPECT_EQ(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=9")), 6);
    EXPECT_EQ(termRows(*db), installed);
}

// The build's cursor is its own: a state dropped mid-build (a page changed
// outside the installer) or a stored cursor that is no page id of the store
// starts the index over, and the build still ends in the index an install
// makes, counting no page twice.
TEST(SearchRun, pageIndexStartsOverWhenItsStateIsDroppedOrDamaged)
{
    const SearchLibrary lib = footnotedLibrary();
    ASSERT_TRUE(lib.lib);
    auto db = SQLiteDB::open(lib.path, false);
    ASSERT_TRUE(db);
    const QStringList installed = termRows(*db);
    const QString dropState = QStringLiteral("DELETE FROM meta WHERE key LIKE 'page_index%'");
    constexpr int batch = 25;

    ASSERT_TRUE(db->exec(dropState));
    int batches = 0;
    std::int64_t most = 0, all = 0;
    const auto dropped = PageIndex::build(
        *db,
        [&](std::int64_t done, std::int64_t total) {
            if (++batches == 2)
                db->exec(QStringLiteral("UPDATE pages SET content = content WHERE id = (SELECT MIN(id) FROM pages)"));
            most = std::max(most, done);
            all = total;
            return batches < 100; // a build going round for ever is stopped here
        },
        batch);
    EXPECT_EQ(dropped, PageIndex::Build::complete);
    EXPECT_LE(most, all);
    EXPECT_TRUE(PageIndex::ready(*db));
    EXPECT_EQ(termRows(*db), installed);

    for (const char* cursor : {"abc", "-5", "12.5", "1e6", "99999999999", ""}) {
        ASSERT_TRUE(db->exec(dropState));
        ASSERT_EQ(PageIndex::build(*db, [](std::int64_t, std::int64_t) { return false; }, batch),
                  PageIndex::Build::stopped);
        ASSERT_TRUE(db->run(QStringLiteral("UPDATE meta SET value=? WHERE key='page_index_cursor'"), {cursor}));
        EXPECT_EQ(PageIndex::build(*db, {}, batch), PageIndex::Build::complete) << cursor;
        EXPECT_EQ(termRows(*db), installed) << cursor;
    }
}

// A damaged term table is not trusted: the search takes the page check and
// finds what it finds on a sound store, says so, and the index is cleared
// to be built again.
namespace {

// Garbles the head of every leaf page of the named tables and indexes, as a
// torn write would leave them.
void damageLeaves(const QString& path, const QStringList& names)
{
    QList<std::int64_t> damaged;
    std::int64_t pageSize = 0;
    {
        auto db = SQLiteDB::open(path, false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
        pageSize = db->scalarInt(QStringLiteral("PRAGMA page_size")).value_or(0);
        for (const QString& name : names)
            for (const auto& row :
                 db->rows(QStringLiteral("SELECT pageno FROM dbstat WHERE name=? AND pagetype='leaf'"), {name}))
                damaged << row.integer(0).value_or(0);
    }
    ASSERT_FALSE(damaged.isEmpty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    for (std::int64_t page : damaged) {
        ASSERT_TRUE(file.seek((page - 1) * pageSize));
        ASSERT_EQ(file.write(QByteArray(16, char(0xff))), 16);
    }
}

} // namespace

// The page index's own tables damaged: searches take the page check, and
// the index is cleared (said once) to be built again. Damage beside it (the
// pages a search over it joins when no page map serves) leaves it trusted.
TEST(SearchRun, aDamagedPageIndexIsSearchedByThePageCheckAndLeftToBeBuiltAgain)
{
    const QList<SearchQuery> queries = {
        asked({"حدثنا"}, [](SearchQuery& q) { q.inHawashi = false; }),
        asked({"أبي هريرة"}, [](SearchQuery& q) { q.hamza = true; }),
    };
    struct Damage {
        QStringList names;
        bool pageMap;    // whether the store keeps its page map
        bool distrusted; // whether the index is then cleared
    };
    const QList<Damage> damages = {
        {{"page_terms", "page_terms_reversed"}, true, true},
        {{"page_forms_data", "page_forms_idx"}, true, true},
        {{"pages"}, false, false},
    };
    for (const Damage& damage : damages) {
        const SCOPED_TRACE(damage.names.join(u' ').toStdString());
        const SearchLibrary lib = footnotedLibrary();
        ASSERT_TRUE(lib.lib);
        if (!damage.pageMap) {
            auto db = SQLiteDB::open(lib.path, false);
            // A full-text row that claims another page: no page map is made.
            ASSERT_TRUE(db && db->run("UPDATE pages_fts SET page_id=77 WHERE rowid=1"));
        }
        QList<QList<SearchHit>> expected;
        SearchEngine checked(*lib.lib);
        checked.setPageCheckedPath(true);
        for (const SearchQuery& q : queries)
            expected << runQuery(checked, q).pages;
        ASSERT_FALSE(expected.first().isEmpty());
        damageLeaves(lib.path, damage.names);

        auto library = Library::open(lib.path);
        ASSERT_TRUE(library);
        ASSERT_TRUE(PageIndex::ready(library->main()));
        testing::internal::CaptureStderr();
        SearchEngine engine(*library);
        for (qsizetype i = 0; i < queries.size(); ++i) {
            const QList<SearchHit> found = runQuery(engine, queries[i]).pages;
            if (damage.distrusted) {
                EXPECT_EQ(found, expected[i]) << i;
            }
        }
        const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_EQ(said.count(QStringLiteral("فهرس الصفحات تالف")), damage.distrusted ? 1 : 0) << said.toStdString();
        EXPECT_EQ(PageIndex::ready(library->main()), !damage.distrusted);
    }
}

// Rows of the page index damaged so that they still read: a term's form
// swapped for another word's, postings of a word added to every page, a
// marked word claimed by every page. The first pages the index alone finds
// are checked all the same: no page it wrongly finds is handed over, the
// index is cleared (said once) to be built again, and the next search takes
// the page check.
TEST(SearchRun, damagedRowsThatStillReadAreCaughtByTheirHits)
{
    const struct {
        const char* name;
        QString damage;
        SearchQuery q;
    } cases[] = {
        {"a form swapped", QStringLiteral("UPDATE page_terms SET form='عن' WHERE term='احمد' AND form='أحمد'"),
         asked({"أحمد"}, [](SearchQuery& q) { q.hamza = true; })},
        {"postings added", QStringLiteral("INSERT INTO page_forms(rowid, matn, hawashi, seam) "
                                          "SELECT id, 'أحمد', '', '' FROM pages"),
         asked({"أحمد"}, [](SearchQuery& q) { q.hamza = true; })},
        {"marks claimed", QStringLiteral("INSERT OR IGNORE INTO page_marks(term, form, page_id) SELECT m.term, m.form, "
                                         "p.id FROM (SELECT term, form FROM page_marks WHERE term='صلي') m, pages p"),
         asked({"صَلَّى"}, [](SearchQuery& q) { q.tashkeel = true; })},
    };
    for (const auto& c : cases) {
        const SearchLibrary lib = footnotedLibrary();
        ASSERT_TRUE(lib.lib);
        SearchEngine checked(*lib.lib);
        checked.setPageCheckedPath(true);
        const QList<SearchHit> expected = runQuery(checked, c.q).pages;
        ASSERT_FALSE(expected.isEmpty()) << c.name;
        {
            auto db = SQLiteDB::open(lib.path, false);
            ASSERT_TRUE(db && db->run(c.damage)) << c.name;
            ASSERT_GT(db->scalarInt(QStringLiteral("SELECT changes()")).value_or(0), 0) << c.name;
        }
        ASSERT_TRUE(PageIndex::ready(lib.lib->main())) << c.name;
        testing::internal::CaptureStderr();
        SearchEngine engine(*lib.lib);
        const QList<SearchHit> first = runQuery(engine, c.q).pages;
        const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
        const auto wrong = std::count_if(first.begin(), first.end(), [&](const SearchHit& h) { return !expected.contains(h); });
        EXPECT_EQ(wrong, 0) << c.name;
        EXPECT_EQ(said.count(QStringLiteral("فهرس الصفحات تالف")), 1) << c.name << said.toStdString();
        EXPECT_FALSE(PageIndex::ready(lib.lib->main())) << c.name;
        EXPECT_EQ(runQuery(engine, c.q).pages, expected) << c.name;
    }
}

// Rows missing or added where no hit shows them (a marked word's rows
// dropped, a term row dropped, another page's word added to a page) are
// found by the sample of pages the first search over the index re-reads:
// that search already takes the page check, and the index is cleared. Also
// after an earlier search found the index whole and marked it so, which
// spares later first searches the sample until the index's rows change.
TEST(SearchRun, damagedRowsOfSampledPagesAreFoundBeforeTheFirstSearch)
{
    const QStringList pages = {
        QStringLiteral("حدثنا مالك عن أبي\n__________\nهريرة قال رسول الله"),
        QStringLiteral("عن ابي هريرة قال حدثنا12 مالك عن عائشة"),
        QStringLiteral("قال إبي هريرة\n__________\n(1) حدثنا مالك عن أبي هريرة"),
        QStringLiteral("صَلَّى اللهُ عَلَيْهِ وَسَلَّمَ\n__________\nصلى الله عليه وسلم حدثنا"),
        QStringLiteral("الصلوة والزكوة ثنا أحمد\n__________\nآمن إيمان أمر"),
    };
    const struct {
        const char* name;
        const char* damage;
        SearchQuery q;
    } cases[] = {
        {"marks dropped", "DELETE FROM page_marks WHERE term='صلي'",
         asked({"صَلَّى"}, [](SearchQuery& q) { q.tashkeel = true; })},
        {"a term row dropped", "DELETE FROM page_terms WHERE term='هريره'",
         asked({"أبي هريرة"}, [](SearchQuery& q) { q.hamza = true; })},
        {"a word added",
         "INSERT INTO page_forms(rowid, matn, hawashi, seam) SELECT id, 'رسول', '', '' FROM pages ORDER BY id LIMIT 1 OFFSET 4",
         asked({"رسول"}, [](SearchQuery& q) { q.hamza = true; })},
    };
    for (const auto& c : cases) {
        const SearchLibrary lib = customLibrary({FixtureBook{9, {}, pages, {}}});
        ASSERT_TRUE(lib.lib);
        SearchEngine checked(*lib.lib);
        checked.setPageCheckedPath(true);
        const QList<SearchHit> expected = runQuery(checked, c.q).pages;
        ASSERT_FALSE(expected.isEmpty()) << c.name;
        SearchEngine before(*lib.lib);
        ASSERT_EQ(runQuery(before, c.q).pages, expected) << c.name;
        ASSERT_TRUE(PageIndex::state(lib.lib->main()).whole) << c.name;
        {
            auto db = SQLiteDB::open(lib.path, false);
            ASSERT_TRUE(db && db->run(QString::fromUtf8(c.damage))) << c.name;
            ASSERT_GT(db->scalarInt(QStringLiteral("SELECT changes()")).value_or(0), 0) << c.name;
        }
        testing::internal::CaptureStderr();
        SearchEngine engine(*lib.lib);
        EXPECT_EQ(runQuery(engine, c.q).pages, expected) << c.name;
        const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_EQ(said.count(QStringLiteral("فهرس الصفحات تالف")), 1) << c.name << said.toStdString();
        EXPECT_FALSE(PageIndex::ready(lib.lib->main())) << c.name;
    }
}
