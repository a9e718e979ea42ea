#include "scholar/Concordance.h"

#include "DerivedTables.h"
#include "core/Arabic.h"
#include "core/SQLiteDB.h"
#include "support/FixtureLibrary.h"

#include <QTemporaryDir>

#include "support/CorpusSuite.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace quorvel;

namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

// The tests/data library, built once for the suite through the installer.
class ConcordanceCorpus : public test::CorpusSuite
{
protected:

    // Pages per book whose normal form holds the words of `phrase` side by
    // side, counted by splitting every page's `content_norm`.
    static std::map<std::int64_t, std::int64_t> scan(const QString& phrase)
    {
        const QStringList words = Arabic::tokens(phrase);
        std::map<std::int64_t, std::int64_t> counts;
        for (const auto& row : db->rows(QStringLiteral("SELECT book_id, content_norm FROM pages"))) {
            const QStringList tokens = row.str(1).value_or(QString()).split(QLatin1Char(' '));
            for (qsizetype i = 0; i + words.size() <= tokens.size(); ++i) {
                if (tokens.mid(i, words.size()) == words) {
                    ++counts[*row.integer(0)];
                    break;
                }
            }
        }
        return counts;
    }

    static std::map<std::int64_t, std::int64_t> perBook(const Concordance::Result& r)
    {
        std::map<std::int64_t, std::int64_t> counts;
        for (const auto& c : r.top)
            counts[c.bookId] = c.count;
        return counts;
    }

};

// A library of hand-made pages, each holding `word` or not.
struct HandMade
{
    QTemporaryDir dir;
    std::shared_ptr<SQLiteDB> db = test::emptyLibrary(dir.path());
    std::int64_t nextPage = 1;

    void pages(std::int64_t bookId, int count, const QString& text)
    {
        for (int i = 0; i < count; ++i) {
            const std::int64_t id = nextPage++;
            const QString norm = Arabic::normalize(text, true);
            db->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) "
                                   "VALUES(?,?,?,?,?)"),
                    {id, bookId, id, text, norm});
            db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) "
                                   "VALUES(?,?,?,?)"),
                    {id, norm, id, bookId});
        }
    }
};

} // namespace

TEST(ConcordanceExpression, tokensBecomeOnePhraseAndQuotesCannotBreakIt)
{
    EXPECT_EQ(Concordance::expression(u(u"رسولُ اللهِ")), u(u"\"رسول الله\""));
    EXPECT_EQ(Concordance::expression(u(u"رسول\" OR \"الله")), u(u"\"رسول OR الله\""));
    EXPECT_EQ(Concordance::expression(u(u"الصلاة")), u(u"\"الصلاه\""));
    EXPECT_EQ(Concordance::expression(u(u" \"، . ؟ ")), std::nullopt);
    EXPECT_EQ(Concordance::expression(QString()), std::nullopt);
}

TEST_F(ConcordanceCorpus, wordCountsPerBookAgreeWithAScanOfThePages)
{
    for (const char16_t* word : {u"هريرة", u"الصلاة", u"حدثنا"}) {
        const auto expected = scan(u(word));
        ASSERT_FALSE(expected.empty()) << qPrintable(u(word));
        const auto r = Concordance::lookup(*db, u(word), 100);
        EXPECT_EQ(perBook(r), expected) << qPrintable(u(word));
        std::int64_t pages = 0;
        for (const auto& [book, count] : expected)
            pages += count;
        EXPECT_EQ(r.pages, pages);
        EXPECT_EQ(r.books, std::int64_t(expected.size()));
    }
}

TEST_F(ConcordanceCorpus, twoWordPhraseCountsOnlyNeighboursInOrder)
{
    const QString phrase = u(u"أبي هريرة");
    const auto expected = scan(phrase);
    ASSERT_GE(expected.size(), 2u);
    const auto r = Concordance::lookup(*db, phrase, 100);
    EXPECT_EQ(perBook(r), expected);

    // Both words of the corpus, never side by side in this order.
    const QString apart = u(u"هريرة مالك");
    ASSERT_FALSE(scan(u(u"هريرة")).empty());
    ASSERT_FALSE(scan(u(u"مالك")).empty());
    ASSERT_TRUE(scan(apart).empty());
    EXPECT_EQ(Concordance::lookup(*db, apart, 10), Concordance::Result{});
}

TEST_F(ConcordanceCorpus, topIsOrderedByCountThenBookAndCut)
{
    const auto all = Concordance::lookup(*db, u(u"حدثنا"), 100);
    ASSERT_GE(all.top.size(), 2);
    for (qsizetype i = 1; i < all.top.size(); ++i) {
        const auto& a = all.top[i - 1];
        const auto& b = all.top[i];
        EXPECT_TRUE(a.count > b.count || (a.count == b.count && a.bookId < b.bookId));
    }
    const auto one = Concordance::lookup(*db, u(u"حدثنا"), 1);
    EXPECT_EQ(one.top, all.top.mid(0, 1));
    EXPECT_EQ(one.pages, all.pages);
    EXPECT_EQ(one.books, all.books);
}

TEST_F(ConcordanceCorpus, quotesAndPunctuationAreHarmless)
{
    EXPECT_EQ(Concordance::lookup(*db, u(u"\"أبي\" \"هريرة"), 10),
              Concordance::lookup(*db, u(u"أبي هريرة"), 10));
    EXPECT_EQ(Concordance::lookup(*db, u(u"، : \" ؟"), 10), Concordance::Result{});
    EXPECT_EQ(Concordance::lookup(*db, QStringLiteral("   "), 10), Concordance::Result{});
}

TEST(ConcordanceLookup, countsSumAndTiesGoToTheLowerBookId)
{
    HandMade lib;
    ASSERT_NE(lib.db, nullptr);
    const QString word = u(u"الميزان");
    lib.pages(7, 5, u(u"وضع الميزان بالقسط"));
    lib.pages(3, 5, u(u"ونضع الموازين القسط ثم الميزان"));
    lib.pages(12, 9, u(u"الميزان"));
    lib.pages(5, 4, u(u"الموازين وحدها"));

    const auto two = Concordance::lookup(*lib.db, word, 2);
    EXPECT_EQ(two.pages, 19);
    EXPECT_EQ(two.books, 3);
    EXPECT_EQ(two.top, (QList<Concordance::BookCount>{{12, 9}, {3, 5}}));

    EXPECT_EQ(Concordance::lookup(*lib.db, word, 10).top,
              (QList<Concordance::BookCount>{{12, 9}, {3, 5}, {7, 5}}));
    // No books asked for: the counts are still made.
    const auto none = Concordance::lookup(*lib.db, word, 0);
    EXPECT_EQ(none.pages, 19);
    EXPECT_EQ(none.books, 3);
    EXPECT_TRUE(none.top.isEmpty());
    EXPECT_EQ(Concordance::lookup(*lib.db, word, -3), none);
}

TEST(ConcordanceLookup, withoutTheBookIndexNothingIsFound)
{
    HandMade lib;
    ASSERT_NE(lib.db, nullptr);
    lib.pages(1, 3, u(u"الميزان"));
    ASSERT_EQ(Concordance::lookup(*lib.db, u(u"الميزان"), 5).pages, 3);
    ASSERT_TRUE(lib.db->exec(QStringLiteral("DROP INDEX idx_pages_book")));
    EXPECT_EQ(Concordance::lookup(*lib.db, u(u"الميزان"), 5), Concordance::Result{});
}
