// Phrase genealogy over hand-made libraries (one page per book, shingle rows
// written directly) and over the tests/data corpus.

#include "scholar/Genealogy.h"

#include "DerivedTables.h"
#include "core/Arabic.h"
#include "core/SQLiteDB.h"

#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// A library where each book holds one page with the searched phrase.
struct Books {
    QTemporaryDir dir;
    std::shared_ptr<SQLiteDB> db = test::emptyLibrary(dir.path());

    // Book `id` by an author who died in `year` (none: no author row; a
    // negative year: an author without a recorded year), whose page `pageId`
    // holds the phrase `times` times (more often ranks higher).
    void book(std::int64_t id, std::optional<std::int64_t> year, std::int64_t pageId, int times = 1)
    {
        if (year) {
            db->run(QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES(?,?,?)"),
                    {id, QStringLiteral("author %1").arg(id),
                     *year < 0 ? SQLArg() : SQLArg(*year)});
        }
        db->run(QStringLiteral("INSERT INTO books(id, title, author_id) VALUES(?,?,?)"),
                {id, QStringLiteral("book %1").arg(id), year ? SQLArg(id) : SQLArg()});
        QStringList words;
        for (int i = 0; i < times; ++i)
            words << QStringLiteral("الولد للفراش");
        words << QStringLiteral("وللعاهر الحجر كلام زائد في الصفحة لا يتكرر");
        const QString text = words.join(' ');
        const QString norm = Arabic::normalize(text);
        db->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(?,?,1,?,?)"),
                {pageId, id, text, norm});
        db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"),
                {pageId, norm, pageId, id});
    }
    void hashes(std::int64_t pageId, const QList<std::int64_t>& values)
    {
        for (std::int64_t h : values)
            db->run(QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,0)"), {h, pageId});
    }
};

QList<std::int64_t> bookIds(const GenealogyResult& r)
{
    QList<std::int64_t> ids;
    for (const auto& n : r.nodes)
        ids << n.bookId;
    return ids;
}

} // namespace

TEST(Genealogy, oneBookIsOneNodeAndNothingFoundIsNoResult)
{
    Books s;
    s.book(1, 179, 10);
    const auto one = Genealogy::run(*s.db, QStringLiteral("الولد للفراش"));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->query, QStringLiteral("الولد للفراش"));
    ASSERT_EQ(one->nodes.size(), 1);
    EXPECT_EQ(one->nodes[0].pageId, 10);
    EXPECT_EQ(one->nodes[0].deathYear, 179);
    EXPECT_EQ(one->nodes[0].author, QStringLiteral("author 1"));
    EXPECT_TRUE(one->nodes[0].snippet.contains(QStringLiteral("«")));
    EXPECT_TRUE(one->edges.isEmpty());
    EXPECT_FALSE(Genealogy::run(*s.db, QStringLiteral("كلمة غائبة")));
}

TEST(Genealogy, timelineByYearWithZeroAfterRealYearsAndUndatedLast)
{
    Books s;
    // Lexical rank: more occurrences first, so the insertion order below is
    // not the rank order.
    s.book(1, std::nullopt, 101, 5); // no author at all
    s.book(2, 0, 102, 4);            // a recorded 0
    s.book(3, 273, 103, 3);
    s.book(4, -1, 104, 6);           // an author without a year
    s.book(5, 179, 105, 1);
    s.book(6, 273, 106, 2);          // same year as book 3, ranked lower
    const auto r = Genealogy::run(*s.db, QStringLiteral("الولد للفراش"));
    ASSERT_TRUE(r);
    EXPECT_EQ(bookIds(*r), (QList<std::int64_t>{5, 3, 6, 2, 4, 1}));
    EXPECT_EQ(Genealogy::year(r->nodes[3]), Genealogy::unknownYear);
    EXPECT_EQ(r->nodes[3].deathYear, 0);
    EXPECT_FALSE(r->nodes[4].deathYear);
}

TEST(Genealogy, onlyTheFirstBooksOfTheTimelineAreKept)
{
    Books s;
    for (int i = 1; i <= 20; ++i)
        s.book(i, 1000 - i, 100 + i); // later books died earlier
    const auto r = Genealogy::run(*s.db, QStringLiteral("الولد للفراش"));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->nodes.size(), Genealogy::maxBooks);
    EXPECT_EQ(r->nodes.first().bookId, 20);
    EXPECT_EQ(r->nodes.last().bookId, 7);
}

TEST(Genealogy, edgesNeedThreeSharedShinglesAndPointFromTheEarlierAuthor)
{
    Books s;
    s.book(1, 273, 201);
    s.book(2, 179, 202);
    s.book(3, std::nullopt, 203);
    s.book(4, 0, 204);
    s.hashes(201, {1, 2, 3, 9});
    s.hashes(202, {1, 2, 3, 4});   // 3 shared with 201
    s.hashes(203, {4, 5, 8, 9});
    s.hashes(204, {4, 5, 8, 7, 1}); // 3 shared with 203, 2 with 202
    const auto r = Genealogy::run(*s.db, QStringLiteral("الولد للفراش"));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->edges.size(), 2);
    // 201–202: book 2 (179) before book 1 (273).
    EXPECT_EQ(r->edges[0].from, 2);
    EXPECT_EQ(r->edges[0].to, 1);
    EXPECT_EQ(r->edges[0].fromTitle, QStringLiteral("book 2"));
    EXPECT_EQ(r->edges[0].shared, 3);
    // An undated book and a recorded 0 are equal here: the lower page id leads.
    EXPECT_EQ(r->edges[1].from, 3);
    EXPECT_EQ(r->edges[1].to, 4);
}

TEST(Genealogy, moreSharedFirstAndEqualCountsInTheOrderFirstMet)
{
    Books s;
    s.book(1, 100, 301);
    s.book(2, 200, 302);
    s.book(3, 300, 303);
    s.hashes(301, {10, 11, 12, 20, 21, 22, 23});
    s.hashes(302, {20, 21, 22, 23});
    s.hashes(303, {10, 11, 12});
    auto nodes = Genealogy::run(*s.db, QStringLiteral("الولد للفراش"))->nodes;
    const auto edges = Genealogy::transmission(*s.db, nodes, 3);
    ASSERT_EQ(edges.size(), 2);
    EXPECT_EQ(edges[0].to, 2);
    EXPECT_EQ(edges[0].shared, 4);
    EXPECT_EQ(edges[1].to, 3);
    EXPECT_EQ(Genealogy::transmission(*s.db, nodes, 5).size(), 0);
    // Release page ids pass 32 bits: pairs keep them whole.
    ASSERT_TRUE(s.db->run("UPDATE shingles SET page_id = page_id + 1700000000000 WHERE page_id=303"));
    nodes[2].pageId = 1700000000303;
    const auto wide = Genealogy::transmission(*s.db, nodes, 3);
    ASSERT_EQ(wide.size(), 2);
    EXPECT_EQ(wide[1].from, 1);
    EXPECT_EQ(wide[1].to, 3);
}

TEST(Genealogy, aPhraseOfTheCorpusRunsFromMalikToIbnMajah)
{
    QTemporaryDir dir;
    auto db = test::corpusLibrary(dir.path());
    ASSERT_TRUE(db);
    const auto r = Genealogy::run(*db, QStringLiteral("رسول الله"));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->nodes.size(), 3);
    EXPECT_EQ(r->nodes.first().bookId, 1); // Malik died 179, Ibn Majah 273
    EXPECT_EQ(r->nodes.first().deathYear, 179);
    for (const auto& edge : r->edges)
        EXPECT_NE(edge.to, 1);
}

TEST(Genealogy, pagesAreFoundByTheContentWordsAndTwinEditionsDoNotQuoteEachOther)
{
    Books s;
    s.book(1, 179, 401);
    s.book(2, 273, 402);
    // Book 3 is another edition of book 2: its title, by the same author.
    s.db->run(QStringLiteral("INSERT INTO books(id, title, author_id) VALUES(3, 'book 2', 2)"));
    const QString text = QStringLiteral("الولد للفراش وللعاهر الحجر");
    s.db->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(403,3,1,?,?)"),
              {text, Arabic::normalize(text)});
    s.db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(403,?,403,3)"),
              {Arabic::normalize(text)});
    s.hashes(401, {1, 2, 3});
    s.hashes(402, {1, 2, 3, 7, 8, 9});
    s.hashes(403, {1, 2, 3, 7, 8, 9});

    // No page holds على or من: the phrase is looked up by its other words.
    const auto r = Genealogy::run(*s.db, QStringLiteral("من الولد على للفراش"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->query, QStringLiteral("من الولد على للفراش"));
    QList<std::int64_t> ids = bookIds(*r);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (QList<std::int64_t>{1, 2, 3}));
    // Both editions take the text from book 1; neither from the other.
    ASSERT_EQ(r->edges.size(), 2);
    for (const auto& edge : r->edges) {
        EXPECT_EQ(edge.from, 1);
        EXPECT_EQ(edge.shared, 3);
    }
    // Nor any the words of a chain of narrators: its link words and بن.
    const auto chained = Genealogy::run(*s.db, QStringLiteral("حدثني بن أخبرنا الولد قال للفراش"));
    ASSERT_TRUE(chained);
    EXPECT_EQ(chained->nodes.size(), 3);
    // A query of function words alone is searched as it stands.
    EXPECT_TRUE(Genealogy::run(*s.db, QStringLiteral("في لا")));
}
