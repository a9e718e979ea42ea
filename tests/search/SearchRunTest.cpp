#include "SearchFixture.h"

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

bool inReadingOrder(const Library& lib, const QList<SearchHit>& hits)
{
    const auto catalog = lib.catalog();
    auto key = [&](const SearchHit& h) {
        const auto it = catalog->bookById.constFind(h.bookId);
        const std::int64_t order = it == catalog->bookById.constEnd() ? INT64_MAX : it->order;
        return std::make_tuple(order, h.seq, h.pageId);
    };
    for (qsizetype i = 1; i < hits.size(); ++i)
        if (!(key(hits[i - 1]) < key(hits[i])))
            return false;
    return true;
}

void addPage(const QString& dbPath, std::int64_t id, std::int64_t book, std::int64_t seq, const QString& text)
{
    auto db = SQLiteDB::open(dbPath, false);
    ASSERT_TRUE(db);
    const QString norm = Arabic::normalize(text);
    ASSERT_TRUE(db->run("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(?,?,?,?,?)",
                        {id, book, seq, text, norm}));
    ASSERT_TRUE(db->run("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)",
                        {id, norm, id, book}));
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

    SearchEngine engine(*library.lib);
    const SearchQuery q = phrases({"الله"});
    const RunResult before = runQuery(engine, q);
    ASSERT_GT(before.pages.size(), 1000);
    ASSERT_EQ(before.batchSizes.value(0), 200);

    // The steps of the statements on the connection the run takes (the
    // one handed back last): the later books are still to be read when the
    // first batch leaves.
    std::int64_t steps = 0;
    auto connection = library.lib->newSearchConnection();
    ASSERT_TRUE(connection);
    connection->setProgressCheck(100, [&] {
        ++steps;
        return false;
    });
    library.lib->returnSearchConnection(std::move(connection));
    std::int64_t atFirstBatch = -1;
    QList<SearchHit> pages;
    engine.run(q, SearchEngine::defaultLimit, [&](const QList<SearchHit>& hits, bool) {
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

SearchQuery asked(const QStringList& ands, const std::function<void(SearchQuery&)>& adjust = {})
{
    SearchQuery q = phrases(ands);
    if (adjust)
        adjust(q);
    return q;
}

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

