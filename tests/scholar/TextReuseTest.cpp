#include "scholar/TextReuse.h"

#include "DerivedTables.h"
#include "core/Arabic.h"
#include "core/CRC32.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"
#include "support/CorpusText.h"
#include "support/FixtureLibrary.h"

#include <sqlite3.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace quorvel;

namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

// A library whose shingle rows a test writes directly.
struct Shingles
{
    QTemporaryDir dir;
    std::shared_ptr<SQLiteDB> db = test::emptyLibrary(dir.path());

    void book(std::int64_t id, const QString& title = {})
    {
        db->run(QStringLiteral("INSERT INTO books(id, title) VALUES(?,?)"),
                {id, title.isEmpty() ? QStringLiteral("book %1").arg(id) : title});
    }
    void page(std::int64_t id, std::int64_t bookId, const QString& content = {})
    {
        db->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content) VALUES(?,?,?,?)"),
                {id, bookId, id, content});
    }
    void hashes(std::int64_t pageId, std::int64_t bookId, const QList<std::int64_t>& values)
    {
        for (std::int64_t hash : values)
            db->run(QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,?)"),
                    {hash, pageId, bookId});
        ASSERT_TRUE(ShingleRuns::rebuild(*db)); // rows not written by the installer
    }
    // A page of its own in a book of its own holding `values`.
    void bookWith(std::int64_t bookId, const QList<std::int64_t>& values)
    {
        book(bookId);
        page(bookId * 1000, bookId);
        hashes(bookId * 1000, bookId, values);
    }
};

QList<std::int64_t> range(std::int64_t from, std::int64_t to)
{
    QList<std::int64_t> values;
    for (std::int64_t v = from; v <= to; ++v)
        values.append(v);
    return values;
}

QList<std::pair<std::int64_t, std::int64_t>> editionPairs(const QList<TextReuse::EditionHit>& hits)
{
    QList<std::pair<std::int64_t, std::int64_t>> pairs;
    for (const auto& hit : hits)
        pairs.append({hit.bookId, hit.pct});
    return pairs;
}

} // namespace

TEST(TextReuseRecipe, hashesFourNormalisedWordsOnce)
{
    // The CRC-32 of the UTF-8 text "حدثنا محمد بن بشار"; marks and the
    // punctuation between words do not change the shingle.
    const QList<std::int64_t> expected{1358948037};
    EXPECT_EQ(TextReuse::shingleHashes(u(u"حدثنا محمد بن بشار")), expected);
    EXPECT_EQ(TextReuse::shingleHashes(u(u"حَدَّثَنَا مُحَمَّدُ، بْنُ  بَشَّارٍ.")), expected);
    EXPECT_TRUE(TextReuse::shingleHashes(u(u"حدثنا محمد بن")).isEmpty());
    EXPECT_TRUE(TextReuse::shingleHashes(u(u"ًٌٍَُِّْ").repeated(1000)).isEmpty());

    // A repeated window is stored once: a b c d a b c d has 5 windows, 4 distinct.
    EXPECT_EQ(TextReuse::windowHashes("a b c d a b c d").size(), 5);
    const QList<std::int64_t> distinct = TextReuse::shingleHashes("a b c d a b c d");
    EXPECT_EQ(distinct, TextReuse::windowHashes("a b c d a b c d").mid(0, 4));
    EXPECT_EQ(TextReuse::shingleHashesOfNormalized("a b c d"), QList<std::int64_t>{CRC32::of("a b c d")});
}

TEST(TextReuseRecipe, sharedPhrasePicksTheLongestRunOfSharedWindows)
{
    const QString text = "w0 w1 w2 w3 w4 w5 w6 w7 w8 w9";
    const QList<std::int64_t> windows = TextReuse::windowHashes(text);
    ASSERT_EQ(windows.size(), 7);

    EXPECT_EQ(TextReuse::sharedPhrase(text, {windows[2], windows[5]}), "w2 w3 w4 w5");
    EXPECT_EQ(TextReuse::sharedPhrase(text, {windows[2], windows[3]}), "w2 w3 w4 w5 w6");
    EXPECT_EQ(TextReuse::sharedPhrase(text, {windows[0], windows[4], windows[5]}), "w4 w5 w6 w7 w8");
    EXPECT_EQ(TextReuse::sharedPhrase(text, {}), "");
    EXPECT_EQ(TextReuse::sharedPhrase("w0 w1 w2", {windows[0]}), "");
    // The Quran book's verse lines show their words, not their markup.
    const QString verses = QStringLiteral("1|1|بِسْمِ اللَّهِ الرَّحْمَٰنِ الرَّحِيمِ\n1|2|الْحَمْدُ لِلَّهِ رَبِّ الْعَالَمِينَ");
    const QList<std::int64_t> verseWindows = TextReuse::windowHashes(Arabic::normalize(verses, true));
    const QString phrase = TextReuse::sharedPhrase(verses, QSet<std::int64_t>(verseWindows.begin(), verseWindows.end()));
    EXPECT_TRUE(phrase.startsWith(QStringLiteral("بِسْمِ"))) << phrase.toStdString();
    EXPECT_FALSE(phrase.contains(u'|')) << phrase.toStdString();
}

TEST(TextReuseRecipe, sharedPhraseKeepsThePageWordsWhereTheyLineUp)
{
    const QString voweled = u(u"ثم حَدَّثَنَا مُحَمَّدُ بْنُ بَشَّارٍ");
    const QSet<std::int64_t> hashes{TextReuse::windowHashes(u(u"حدثنا محمد بن بشار")).first()};
    EXPECT_EQ(TextReuse::sharedPhrase(voweled, hashes), u(u"حَدَّثَنَا مُحَمَّدُ بْنُ بَشَّارٍ"));

    // Commas without spaces: one white-space word, five normalised words.
    const QString joined = u(u"ثم،حدثنا،محمد،بن،بشار");
    EXPECT_EQ(TextReuse::sharedPhrase(joined, hashes), u(u"حدثنا محمد بن بشار"));
}

TEST(TextReuseSources, commonShinglesAreNotEvidence)
{
    for (int others : {5, 6}) {
        Shingles s;
        s.book(1);
        s.page(1, 1);
        s.hashes(1, 1, {11, 12, 13, 14, 15});
        for (int b = 2; b < 2 + others; ++b)
            s.bookWith(b, {11, 12, 13, 14, 15});
        const auto hits = TextReuse::sources(*s.db, 1, 3, 20);
        if (others == 6) {
            // Every shingle is in 7 books: nothing rare remains.
            EXPECT_EQ(TextReuse::commonHashes(*s.db, {11, 12, 13}).size(), 3);
            EXPECT_TRUE(hits.isEmpty());
        } else {
            EXPECT_TRUE(TextReuse::commonHashes(*s.db, {11, 12, 13}).isEmpty());
            ASSERT_EQ(hits.size(), others);
            for (const auto& hit : hits)
                EXPECT_EQ(hit.shared, 5);
        }
    }
}

TEST(TextReuseSources, aLibraryWithoutShinglesFindsNothing)
{
    QTemporaryDir dir;
    const QString path = test::FixtureLibrary::build(dir.path());
    ASSERT_FALSE(path.isEmpty());
    auto db = SQLiteDB::open(path, false);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->exec("DELETE FROM shingles"));
    EXPECT_TRUE(TextReuse::sources(*db, 45, 3, 10).isEmpty());
    EXPECT_TRUE(TextReuse::editions(*db, 2).isEmpty());

    auto bare = SQLiteDB::open(dir.path() + "/bare.db", false);
    ASSERT_TRUE(bare);
    EXPECT_TRUE(TextReuse::pageHashes(*bare, 1).isEmpty());
    EXPECT_TRUE(TextReuse::sources(*bare, 1, 3, 10).isEmpty());
    EXPECT_TRUE(TextReuse::editions(*bare, 1).isEmpty());
}

TEST(TextReuseSources, aPageWithMoreShinglesThanOneStatementBinds)
{
    // 40,000 distinct words: a 250,000-unit page with about as many rare
    // hashes, more than a statement may bind under SQLite's default limit.
    QStringList words;
    for (int i = 0; i < 40000; ++i)
        words.append(QStringLiteral("w%1").arg(i));
    const QString longPage = words.join(' ');
    const QString borrowed = "x y " + words.mid(35000, 20).join(' ') + " z";

    Shingles s;
    s.book(1);
    s.book(2, "borrower");
    s.page(1, 1, longPage);
    s.page(2, 2, borrowed);
    ASSERT_TRUE(s.db->exec("BEGIN"));
    s.hashes(1, 1, TextReuse::shingleHashes(longPage));
    s.hashes(2, 2, TextReuse::shingleHashes(borrowed));
    ASSERT_TRUE(s.db->exec("COMMIT"));
    ASSERT_GT(TextReuse::pageHashes(*s.db, 1).size(), 32766);

    // Once with the library's own limit, once with a limit far below the
    // page's hash count, so the hashes go in slices.
    for (int limit : {-1, 1000}) {
        if (limit > 0)
            sqlite3_limit(s.db->handle(), SQLITE_LIMIT_VARIABLE_NUMBER, limit);
        const auto hits = TextReuse::sources(*s.db, 1, 3, 10);
        ASSERT_EQ(hits.size(), 1) << limit;
        EXPECT_EQ(hits[0].pageId, 2);
        EXPECT_EQ(hits[0].bookTitle, "borrower");
        EXPECT_EQ(hits[0].shared, 17);
        EXPECT_EQ(hits[0].phrase, words.mid(35000, 20).join(' '));
    }
}

TEST(TextReuseSources, mostSharedFirstWhetherOrNotTheHashesGoInSlices)
{
    Shingles s;
    s.book(1);
    s.page(1, 1);
    s.hashes(1, 1, range(1, 30));
    s.hashes(1, 1, {1, 2});                // a duplicate row counts once
    s.page(2, 1);
    s.hashes(2, 1, range(1, 30));          // the page's own book never counts
    s.bookWith(2, range(1, 12));           // 12, spread over two slices
    s.bookWith(3, {1, 11, 21, 2, 12, 22}); // 6
    s.bookWith(4, {29, 30});               // 2: below minShared
    s.bookWith(5, range(5, 16));           // 12, tie with book 2
    // 11 parameters leave slices of 10 hashes; 2 leave slices of a single hash.
    for (int limit : {-1, 11, 2}) {
        if (limit > 0)
            sqlite3_limit(s.db->handle(), SQLITE_LIMIT_VARIABLE_NUMBER, limit);
        const auto hits = TextReuse::sources(*s.db, 1, 3, 10);
        ASSERT_EQ(hits.size(), 3) << limit;
        // Equal counts come in the database's order.
        EXPECT_EQ((QSet<QString>{hits[0].bookTitle, hits[1].bookTitle}), (QSet<QString>{"book 2", "book 5"}));
        EXPECT_EQ(hits[1].shared, 12);
        EXPECT_EQ(hits[2].bookId, 3);
        EXPECT_EQ(hits[2].shared, 6);
        EXPECT_EQ(TextReuse::sources(*s.db, 1, 3, 2).size(), 2);
        EXPECT_EQ(TextReuse::sources(*s.db, 1, 2, 10).size(), 4);
        EXPECT_TRUE(TextReuse::sources(*s.db, 77, 3, 10).isEmpty()); // no such page
    }
}

TEST(TextReuseEditions, thresholdAndHalfToEvenPercentages)
{
    Shingles s;
    s.bookWith(1, range(1, 200));
    s.bookWith(2, range(1, 80));  // 40 %
    s.bookWith(3, range(1, 79));  // below 0.4 of 200
    s.bookWith(4, range(1, 81));  // 40.5 % -> 40
    s.bookWith(5, range(1, 83));  // 41.5 % -> 42
    s.bookWith(6, range(1, 109)); // 54.50000000000001 % -> 55

    EXPECT_EQ(editionPairs(TextReuse::editions(*s.db, 1)),
              (QList<std::pair<std::int64_t, std::int64_t>>{{6, 55}, {5, 42}, {2, 40}, {4, 40}}));
    EXPECT_EQ(editionPairs(TextReuse::editions(*s.db, 1, 0.4, 2)),
              (QList<std::pair<std::int64_t, std::int64_t>>{{6, 55}, {5, 42}}));
    EXPECT_TRUE(TextReuse::editions(*s.db, 1, 0.4, 0).isEmpty());
    EXPECT_TRUE(TextReuse::editions(*s.db, 42).isEmpty());

    // A sample of 199 makes need 79.
    Shingles t;
    t.bookWith(1, range(1, 199));
    t.bookWith(3, range(1, 79));
    EXPECT_EQ(editionPairs(TextReuse::editions(*t.db, 1)), (QList<std::pair<std::int64_t, std::int64_t>>{{3, 40}}));
}

TEST(TextReuseEditions, heavyHashesGiveTheSameCountsAsReadingEveryRow)
{
    Shingles s;
    s.bookWith(1, range(1, 10));
    s.bookWith(2, range(1, 5));
    s.bookWith(6, range(4, 7));
    s.bookWith(7, {1, 2});
    s.bookWith(8, {9});
    // Hashes 1-3 and 4 occur on more than a thousand pages of two other books.
    ASSERT_TRUE(s.db->exec("BEGIN"));
    s.book(98);
    s.book(99);
    for (std::int64_t p = 0; p < 1001; ++p) {
        s.page(100000 + p, 99);
        s.hashes(100000 + p, 99, {1, 2, 3});
        s.page(200000 + p, 98);
        s.hashes(200000 + p, 98, {4});
    }
    ASSERT_TRUE(s.db->exec("COMMIT"));

    const QList<std::int64_t> sample = range(1, 10);
    for (std::int64_t need = 0; need <= 10; ++need) {
        std::map<std::int64_t, std::int64_t> naive;
        for (const auto& row : s.db->rows("SELECT book_id, COUNT(DISTINCT hash) FROM shingles "
                                          "WHERE hash BETWEEN 1 AND 10 AND book_id<>1 GROUP BY book_id")) {
            if (row.integer(1).value_or(0) >= need)
                naive[*row.integer(0)] = *row.integer(1);
        }
        const QList<std::pair<std::int64_t, std::int64_t>> expected(naive.begin(), naive.end());
        EXPECT_EQ(TextReuse::sharedCounts(*s.db, 1, sample, need), expected) << "need " << need;
    }
    EXPECT_EQ(editionPairs(TextReuse::editions(*s.db, 1, 0.5)),
              (QList<std::pair<std::int64_t, std::int64_t>>{{2, 50}}));
}

TEST(TextReuseCorpus, bothIbnMajahTranscriptionsOverlapPageForPage)
{
    QTemporaryDir dir;
    auto db = test::corpusLibrary(dir.path());
    ASSERT_TRUE(db);

    // Page ids: book 2 is 41-80, book 3 is 81-121; the second transcription
    // has one more front page, so page seq s of book 2 is page seq s + 1 of
    // book 3. Each hadith page's best source is its twin, sharing at least
    // four tenths of its shingles.
    for (std::int64_t seq = 2; seq <= 40; ++seq) {
        const std::int64_t pageId = 40 + seq;
        const auto hits = TextReuse::sources(*db, pageId, TextReuse::minShared, 5);
        ASSERT_FALSE(hits.isEmpty()) << "seq " << seq;
        EXPECT_EQ(hits[0].bookId, 3) << "seq " << seq;
        EXPECT_EQ(hits[0].seq, seq + 1) << "seq " << seq;
        const auto own = TextReuse::pageHashes(*db, pageId).size();
        EXPECT_GE(hits[0].shared * 10, own * 4) << "seq " << seq;
        EXPECT_EQ(hits[0].bookTitle, u(u"سنن ابن ماجه"));
        EXPECT_EQ(hits[0].author, u(u"ابن ماجه"));
        // The phrase is text of the found page.
        const QString twin = Py::split(test::bookPages("books/003.json").value(int(seq))).join(' ');
        EXPECT_FALSE(hits[0].phrase.isEmpty());
        EXPECT_TRUE(twin.contains(hits[0].phrase)) << "seq " << seq;
    }

    const auto editions = TextReuse::editions(*db, 2);
    ASSERT_FALSE(editions.isEmpty());
    EXPECT_EQ(editions[0].bookId, 3);
    EXPECT_GE(editions[0].pct, 80);
    const auto back = TextReuse::editions(*db, 3);
    ASSERT_FALSE(back.isEmpty());
    EXPECT_EQ(back[0].bookId, 2);
    // The Muwatta is another work: no edition of either.
    for (const auto& hit : editions)
        EXPECT_NE(hit.bookId, 1);
    EXPECT_TRUE(TextReuse::editions(*db, 1).isEmpty());
}

TEST(TextReuseCorpus, poetryAndQuranShareNothingWithTheHadithPages)
{
    QTemporaryDir dir;
    auto db = test::corpusLibrary(dir.path());
    ASSERT_TRUE(db);
    // Two verses of al-Shafi'i's diwan and the Quran's account of Adam.
    const QString poetry = u(u"دع الأيام تفعل ما تشاء ... وطب نفسا إذا حكم القضاء\n"
                             u"ولا تجزع لحادثة الليالي ... فما لحوادث الدنيا بقاء");
    QString quran;
    for (int ayah = 30; ayah <= 34; ++ayah)
        quran += test::quranVerse(2, ayah) + '\n';
    ASSERT_GT(quran.size(), 200);

    db->run("INSERT INTO books(id, title) VALUES(20, 'other')");
    std::int64_t pageId = 500;
    for (const QString& text : {poetry, quran}) {
        db->run("INSERT INTO pages(id, book_id, seq, content) VALUES(?, 20, ?, ?)", {pageId, pageId, text});
        for (std::int64_t hash : TextReuse::shingleHashes(text))
            db->run("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,20)", {hash, pageId});
        ASSERT_TRUE(ShingleRuns::rebuild(*db));
        EXPECT_FALSE(TextReuse::pageHashes(*db, pageId).isEmpty());
        EXPECT_TRUE(TextReuse::sources(*db, pageId, 1, 10).isEmpty()) << pageId;
        ++pageId;
    }
    for (std::int64_t hadithPage : {45, 62, 103})
        for (const auto& hit : TextReuse::sources(*db, hadithPage, 1, 100))
            EXPECT_NE(hit.bookId, 20);
}
