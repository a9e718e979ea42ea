#include "core/Library.h"
#include "support/FixtureLibrary.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace quorvel;
namespace Fixture = quorvel::test::FixtureLibrary;

namespace {

// Pages of a four-volume hadith collection around its first volume boundary
// (seq 1-4 and 309-314, volume 2 starting at seq 312 with page number 3),
// whose table of contents opens with level-2 headings that have no parent;
// and two pages with footnotes of a history book.
struct ReadingLibrary : ::testing::Test {
    static constexpr std::int64_t hadith = 4;
    static constexpr std::int64_t history = 17;
    QTemporaryDir dir;
    std::shared_ptr<Library> lib;

    void SetUp() override
    {
        lib = Library::open(Fixture::build(dir.path(), test::dataPath("reading/catalog.json")));
        ASSERT_TRUE(lib);
    }
};

QStringList titles(const QList<TocNodePtr>& nodes)
{
    QStringList out;
    for (const auto& n : nodes)
        out << n->title;
    return out;
}

QString sql(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

TEST_F(ReadingLibrary, pagesAcrossAVolumeBoundary)
{
    const auto last = lib->page(hadith, 311);
    const auto first = lib->page(hadith, 312);
    ASSERT_TRUE(last && first);
    EXPECT_EQ(last->vol, "1");
    EXPECT_EQ(last->num, 311);
    EXPECT_EQ(first->vol, "2");
    EXPECT_EQ(first->num, 3);
    EXPECT_EQ(first->bookId, hadith);
    EXPECT_FALSE(first->content.isEmpty());
    EXPECT_EQ(lib->page(first->id)->seq, 312);
    EXPECT_FALSE(lib->page(hadith, 5));
    EXPECT_FALSE(lib->page(999999));
    // A list of hits read at once: unknown ids are left out, a repeated one is read once.
    const auto both = lib->pages({first->id, 999999, last->id, first->id});
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both.value(first->id).seq, 312);
    EXPECT_EQ(both.value(last->id).seq, 311);
    EXPECT_EQ(both.value(last->id).content, last->content);
    EXPECT_TRUE(lib->pages({}).isEmpty());

    EXPECT_EQ(lib->seqRange(hadith), std::make_pair(std::int64_t(1), std::int64_t(314)));
    EXPECT_EQ(lib->seqRange(999), std::make_pair(std::int64_t(1), std::int64_t(1)));
    EXPECT_EQ(lib->volumes(hadith), (QStringList{"1", "2"}));
    EXPECT_EQ(lib->firstSeq(hadith, "2"), 312);
    EXPECT_FALSE(lib->firstSeq(hadith, "7"));

    // Printed numbers restart in volume 2.
    EXPECT_EQ(lib->seqFor(hadith, QString("2"), 4), 313);
    EXPECT_EQ(lib->seqFor(hadith, QString("1"), 4), 4);
    // No page of volume 2 reaches 310: the whole book is searched.
    EXPECT_EQ(lib->seqFor(hadith, QString("2"), 310), 310);
    EXPECT_EQ(lib->seqFor(hadith, QString(""), 4), 4);
    EXPECT_EQ(lib->seqFor(hadith, std::nullopt, 3), 3);
    EXPECT_FALSE(lib->seqFor(hadith, std::nullopt, 100000));

    // The book's pages in order, the gap between 4 and 309 left out.
    QList<std::int64_t> seqs;
    for (const Page& p : lib->bookPages(hadith))
        seqs << p.seq;
    EXPECT_EQ(seqs, (QList<std::int64_t>{1, 2, 3, 4, 309, 310, 311, 312, 313, 314}));
    EXPECT_EQ(lib->pageCount(hadith), 10);
    // Their printed numbers without their text: the second volume counts from 3 again.
    const auto numbers = lib->pageNumbers(hadith);
    ASSERT_EQ(numbers.size(), 10);
    EXPECT_EQ(numbers[6], std::make_pair(std::int64_t(311), std::int64_t(311)));
    EXPECT_EQ(numbers[7], std::make_pair(std::int64_t(3), std::int64_t(312)));
    EXPECT_EQ(lib->pageCount(999), 0);
    EXPECT_TRUE(lib->bookPages(999).isEmpty());

    const struct {
        std::int64_t from;
        int direction;
        std::optional<std::int64_t> to;
    } steps[] = {
        {4, 1, 309},  {309, -1, 4}, {100, 1, 309}, {100, -1, 4}, // across the gap
        {1, -1, {}},  {314, 1, {}},                               // past either end
        {312, -1, 311}, {312, 1, 313},
    };
    for (const auto& step : steps)
        EXPECT_EQ(lib->adjacentSeq(hadith, step.from, step.direction), step.to)
            << step.from << " " << step.direction;
}

TEST_F(ReadingLibrary, headingsWithoutALevelOneParent)
{
    const auto roots = lib->toc(hadith);
    // Seven level-2 headings without a parent each become a root; the level-1
    // chapter after them holds its sixteen sections.
    ASSERT_EQ(roots.size(), 8);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(roots[i]->level, 2);
        EXPECT_TRUE(roots[i]->children.isEmpty());
        EXPECT_TRUE(roots[i]->parent.expired());
    }
    EXPECT_EQ(roots[7]->level, 1);
    ASSERT_EQ(roots[7]->children.size(), 16);
    EXPECT_EQ(roots[7]->children.first()->parent.lock(), roots[7]);

    // Two level-2 headings open page 312: the later one is its chapter.
    const auto at312 = lib->chapter(hadith, 312);
    ASSERT_TRUE(at312);
    EXPECT_TRUE(at312->title.startsWith(u"272 "));
    // A page after the last heading belongs to the last heading.
    EXPECT_TRUE(lib->chapter(hadith, 314)->title.startsWith(u"275 "));
    const auto flat = lib->tocEntries(hadith);
    EXPECT_EQ(flat.size(), 24);
    EXPECT_TRUE(std::is_sorted(flat.begin(), flat.end(),
                               [](const auto& a, const auto& b) { return a->seq < b->seq; }));
}

TEST_F(ReadingLibrary, footnotesSplitAtTheFirstUnderscoreRun)
{
    const auto page = lib->page(history, 1);
    ASSERT_TRUE(page);
    const auto [body, notes] = Library::splitFootnotes(page->content);
    ASSERT_TRUE(notes);
    EXPECT_TRUE(body.endsWith(sql("في رجب من سنة ثمان وثلاثين")));
    EXPECT_TRUE(notes->startsWith(sql("(1) كان أبو البركات")));
    EXPECT_FALSE(body.contains(u'_'));

    const auto [same, none] = Library::splitFootnotes("text _________ nine underscores");
    EXPECT_EQ(same, "text _________ nine underscores");
    EXPECT_FALSE(none);

    const auto [main, rest] =
        Library::splitFootnotes(" main \n" + QString(15, u'_') + "\n note one ________ two \n");
    EXPECT_EQ(main, "main");
    EXPECT_EQ(rest, "note one ________ two");
    const auto [onlyBody, empty] = Library::splitFootnotes("body\n__________\n");
    EXPECT_EQ(onlyBody, "body");
    EXPECT_EQ(empty, "");
}

TEST_F(ReadingLibrary, cachesAreBuiltOnceAndEmptiedByReload)
{
    std::vector<QList<TocNodePtr>> results(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = lib->toc(hadith); });
    for (auto& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(r.first(), results.front().first());

    lib->reloadCatalog();
    EXPECT_NE(lib->toc(hadith).first(), results.front().first());
    EXPECT_EQ(titles(lib->toc(hadith)), titles(results.front()));
}

TEST(LibraryToc, treeRulesQuranTitlesAndChapters)
{
    QTemporaryDir dir;
    const QString path = Fixture::custom(dir.path(), "toc.db", {
        sql("INSERT INTO books(id, title) VALUES(1, 'plain'), (2, 'تفسير القرآن'), (3, 'q'), (4, 'e')"),
        // Levels 1, 2, 2, 1, 3 without parents.
        "INSERT INTO toc(id, book_id, title, page_seq, parent_id, level) VALUES"
        "(1, 1, 'A', 1, NULL, 1), (2, 1, 'A1', 2, NULL, 2), (3, 1, 'A2', 3, NULL, 2),"
        "(4, 1, 'B', 5, NULL, 1), (5, 1, 'B1', 5, NULL, 3),"
        // Level 0, negative and NULL count as 1; a self-parent and a parent
        // that comes later fall back on the levels.
        "(10, 3, 'z', 1, NULL, 0), (11, 3, 'n', 2, NULL, -4), (12, 3, 'u', 3, NULL, NULL),"
        "(13, 3, 'self', 4, 13, 2), (14, 3, 'later', 5, 99, 2), (99, 3, 'x', 6, NULL, 1),"
        "(20, 4, '2', 1, NULL, 1)",
        sql("INSERT INTO toc(id, book_id, title, page_seq, parent_id, level) VALUES"
            "(30, 2, '2', 1, NULL, 1), (31, 2, ' 114 ', 2, NULL, 1), (32, 2, '115', 3, NULL, 1),"
            "(33, 2, '0', 4, NULL, 1), (34, 2, '٢', 5, NULL, 1), (35, 2, '+2', 6, NULL, 1),"
            "(36, 2, 'x2', 7, NULL, 1)")});
    ASSERT_FALSE(path.isEmpty());
    auto lib = Library::open(path);
    ASSERT_TRUE(lib);

    const auto plain = lib->toc(1);
    ASSERT_EQ(plain.size(), 2);
    EXPECT_EQ(titles(plain[0]->children), (QStringList{"A1", "A2"}));
    ASSERT_EQ(plain[1]->children.size(), 1);
    EXPECT_EQ(plain[1]->children[0]->level, 3);
    // B and B1 share page 5: the deeper entry is the chapter.
    EXPECT_EQ(lib->chapter(1, 5)->title, "B1");
    EXPECT_EQ(lib->chapter(1, 4)->title, "A2");
    EXPECT_FALSE(lib->chapter(1, 0));
    EXPECT_FALSE(lib->chapter(5, 10));

    const auto levels = lib->toc(3);
    ASSERT_EQ(levels.size(), 4); // z, n, u, x are roots at level 1
    EXPECT_EQ(levels[0]->level, 1);
    EXPECT_EQ(levels[1]->level, 1);
    EXPECT_EQ(titles(levels[2]->children), (QStringList{"self", "later"}));
    EXPECT_EQ(levels[3]->title, "x");

    EXPECT_EQ(titles(lib->toc(2)),
              (QStringList{sql("سورة البقرة"), sql("سورة الناس"), "115", "0", sql("٢"),
                           sql("سورة البقرة"), "x2"}));
    EXPECT_EQ(lib->toc(4).first()->title, "2");
}

TEST(LibraryToc, volumesWithoutLabelsAndSuraNames)
{
    QTemporaryDir dir;
    auto lib = Library::open(Fixture::custom(dir.path(), "v.db", {
        "INSERT INTO books(id, title) VALUES(1, 'a')",
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES"
        "(1, 1, '', 1, 1, NULL), (2, 1, NULL, 2, 2, 'x')"}));
    ASSERT_TRUE(lib);
    EXPECT_TRUE(lib->volumes(1).isEmpty());
    const auto p = lib->page(1, 1);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->vol);
    EXPECT_EQ(p->content, "");
    EXPECT_EQ(p->num, 1);

    ASSERT_EQ(Library::suras().size(), 114);
    EXPECT_EQ(Library::suras().at(0), sql("الفاتحة"));
    EXPECT_EQ(Library::suras().at(2), sql("آل عمران"));
    EXPECT_EQ(Library::suras().at(113), sql("الناس"));
}

TEST(LibraryPages, scansOnlyWhereTheLibraryKeepsThem)
{
    QTemporaryDir dir;
    const QStringList pages = {"INSERT INTO books(id, title) VALUES(1, 'a')",
                               "INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES"
                               "(1, 1, NULL, 1, 1, 'x'), (2, 1, NULL, 2, 2, 'y'), (3, 1, NULL, 3, 3, 'z')"};
    auto without = Library::open(Fixture::custom(dir.path(), "plain.db", pages));
    ASSERT_TRUE(without);
    // Asked of a library without the table, without a failed statement logged.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(without->scanURL(1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(without->pageCount(), 3);

    auto with = Library::open(Fixture::custom(dir.path(), "scans.db", pages + QStringList{
        "CREATE TABLE page_scan(page_id INTEGER, url TEXT)",
        "INSERT INTO page_scan(page_id, url) VALUES(1, '/scans/1.png'), (2, NULL)"}));
    ASSERT_TRUE(with);
    EXPECT_EQ(with->scanURL(1), "/scans/1.png");
    EXPECT_FALSE(with->scanURL(2)); // a row without a location
    EXPECT_FALSE(with->scanURL(3));
}

TEST(LibraryPages, aVolumeStoredAsANumberIsShownAsOne)
{
    // A library file made elsewhere may give the volume column no type, so
    // that a number stays a number.
    QTemporaryDir dir;
    auto lib = Library::open(Fixture::custom(dir.path(), "numbers.db", {
        "INSERT INTO books(id, title) VALUES(1, 'a')",
        "ALTER TABLE pages RENAME COLUMN vol TO vol_text",
        "ALTER TABLE pages ADD COLUMN vol",
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(1, 1, 3, 1, 1, 'x'), (2, 1, NULL, 2, 2, 'y'), "
        "(3, 1, NULL, NULL, 3, 'z')",
        "INSERT INTO books(id, title) VALUES(2, 'b')",
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(11, 2, 1, 1, 1, 'x'), (12, 2, 2, 1, 2, 'y')"}));
    ASSERT_TRUE(lib);
    ASSERT_TRUE(lib->page(1));
    EXPECT_EQ(lib->page(1)->vol, QStringLiteral("3"));
    EXPECT_EQ(lib->page(std::int64_t(1), std::int64_t(2))->vol, std::nullopt);
    ASSERT_EQ(lib->bookPages(1).size(), 3);
    EXPECT_EQ(lib->bookPages(1).first().vol, QStringLiteral("3"));
    // A page without a printed number is numbered by its sequence.
    EXPECT_EQ(lib->pageNumbers(1).last(), std::make_pair(std::int64_t(3), std::int64_t(3)));
    // Listed, and reached by its label.
    EXPECT_EQ(lib->volumes(2), QStringList({QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(lib->firstSeq(2, QStringLiteral("2")), 2);
    EXPECT_EQ(lib->seqFor(2, QStringLiteral("2"), 1), 2);
}

TEST(LibraryCorpusToc, pageBeforeTheFirstHeadingHasNoChapter)
{
    QTemporaryDir dir;
    auto lib = Library::open(Fixture::build(dir.path()));
    ASSERT_TRUE(lib);
    // The first heading of the Muwatta opens its second page.
    EXPECT_FALSE(lib->chapter(1, 1));
    const auto chapter = lib->chapter(1, 2);
    ASSERT_TRUE(chapter);
    EXPECT_EQ(chapter->level, 2);
    EXPECT_EQ(chapter->parent.lock()->level, 1);
    // A book without a table of contents has no chapters at all.
    EXPECT_TRUE(lib->toc(3).isEmpty());
    EXPECT_FALSE(lib->chapter(3, 10));
}

TEST(LibraryCaches, entriesStayUntilReloadEvenWhenEmpty)
{
    QTemporaryDir dir;
    const QString path = Fixture::custom(dir.path(), "c.db", {
        "INSERT INTO books(id, title) VALUES(1, 'a')",
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES"
        "(1, 1, NULL, 1, 1, 'x'), (2, 1, '', 2, 2, 'y')"});
    auto lib = Library::open(path);
    ASSERT_TRUE(lib);
    EXPECT_TRUE(lib->volumes(1).isEmpty());
    EXPECT_EQ(lib->seqRange(1), std::make_pair(std::int64_t(1), std::int64_t(2)));
    EXPECT_TRUE(lib->toc(1).isEmpty());

    // The store writes behind the reader's back.
    auto writer = SQLiteDB::open(path, false);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->run("INSERT INTO pages(id, book_id, vol, page_num, seq, content) "
                            "VALUES(3, 1, 'v2', 1, 5, 'z')"));
    ASSERT_TRUE(writer->run("INSERT INTO toc(id, book_id, title, page_seq, level) "
                            "VALUES(1, 1, 'h', 5, 1)"));
    // Pages are read afresh; the cached lists, empty ones included, are not.
    EXPECT_EQ(lib->page(1, 5)->vol, "v2");
    EXPECT_TRUE(lib->volumes(1).isEmpty());
    EXPECT_EQ(lib->seqRange(1).second, 2);
    EXPECT_TRUE(lib->toc(1).isEmpty());
    EXPECT_FALSE(lib->chapter(1, 5));

    lib->reloadCatalog();
    EXPECT_EQ(lib->volumes(1), QStringList{"v2"});
    EXPECT_EQ(lib->seqRange(1).second, 5);
    ASSERT_EQ(lib->toc(1).size(), 1);
    EXPECT_EQ(lib->chapter(1, 5)->title, "h");
}
