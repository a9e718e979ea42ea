#include "search/Lexical.h"

#include "core/SQLiteDB.h"
#include "support/FixtureLibrary.h"

#include <sqlite3.h>

#include <QSet>
#include <QTemporaryDir>

#include "support/CorpusSuite.h"

#include <gtest/gtest.h>

#include <memory>

using namespace quorvel;

namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

// The tests/data library, built once for the suite through the installer.
class LexicalCorpus : public test::CorpusSuite
{
protected:

    static QList<std::int64_t> pageIds(const QList<LexicalHit>& hits)
    {
        QList<std::int64_t> ids;
        for (const auto& h : hits)
            ids.append(h.pageId);
        return ids;
    }

};

// The texts between « and » in a snippet, in order.
QStringList marked(const QString& snippet)
{
    QStringList out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = snippet.indexOf(u'«', from);
        if (open < 0)
            return out;
        const qsizetype close = snippet.indexOf(u'»', open);
        if (close < 0) {
            out.append(QStringLiteral("<unclosed>"));
            return out;
        }
        out.append(snippet.mid(open + 1, close - open - 1));
        from = close + 1;
    }
}

} // namespace

TEST(LexicalExpand, quotedWordThenPrefixFormFromFourLetters)
{
    EXPECT_EQ(Lexical::expand(u(u"علم")), u(u"(\"علم\")"));
    EXPECT_EQ(Lexical::expand(u(u"حديث")), u(u"(\"حديث\" OR حديث*)"));
}

TEST(LexicalExpand, articleNeedsMoreThanTwoLettersAfterIt)
{
    // ال with two letters: no stem; with three: the quoted stem only.
    EXPECT_EQ(Lexical::expand(u(u"الحق")), u(u"(\"الحق\" OR الحق*)"));
    EXPECT_EQ(Lexical::expand(u(u"العلم")), u(u"(\"العلم\" OR العلم* OR \"علم\")"));
    EXPECT_EQ(Lexical::expand(u(u"الصلاه")), u(u"(\"الصلاه\" OR الصلاه* OR \"صلاه\" OR صلاه*)"));
}

TEST(LexicalExpand, longerPrefixesAreTriedFirst)
{
    // وال before و: the stem loses all three letters.
    EXPECT_EQ(Lexical::expand(u(u"والكتاب")),
              u(u"(\"والكتاب\" OR والكتاب* OR \"كتاب\" OR كتاب*)"));
    // Two letters after وال: و is taken instead.
    EXPECT_EQ(Lexical::expand(u(u"والده")), u(u"(\"والده\" OR والده* OR \"الده\" OR الده*)"));
    // لل where ال does not fit.
    EXPECT_EQ(Lexical::expand(u(u"للناس")), u(u"(\"للناس\" OR للناس* OR \"ناس\")"));
    // Only the first fitting prefix: بالله is بال + له (too short), so ب.
    EXPECT_EQ(Lexical::expand(u(u"بالله")), u(u"(\"بالله\" OR بالله* OR \"الله\" OR الله*)"));
    // A one-letter prefix leaving two letters is no prefix.
    EXPECT_EQ(Lexical::expand(u(u"فقه")), u(u"(\"فقه\")"));
}

TEST(LexicalExpand, lengthsCountCodePointsNotUtf16Units)
{
    // Three code points, four UTF-16 units: still too short for "*".
    const QString word = QStringLiteral("ab") + QString::fromUcs4(U"\U0001D400");
    EXPECT_EQ(Lexical::expand(word), QStringLiteral("(\"%1\")").arg(word));
}

TEST(LexicalQuery, wordsAreNormalisedAndJoinedByTheOperator)
{
    const QString a = u(u"(\"علم\")");
    const QString b = u(u"(\"عمل\")");
    const QString c = u(u"(\"نور\")");
    EXPECT_EQ(Lexical::ftsQuery(u(u"عِلْمٌ  عَمَلٌ")), a + u(u" AND ") + b);
    EXPECT_EQ(Lexical::ftsQuery(u(u"علم عمل"), QStringLiteral("and")), a + u(u" AND ") + b);
    EXPECT_EQ(Lexical::ftsQuery(u(u"علم عمل"), QStringLiteral("or")), a + u(u" AND ") + b);
    EXPECT_EQ(Lexical::ftsQuery(u(u"علم عمل"), QStringLiteral("OR")), a + u(u" OR ") + b);
    EXPECT_EQ(Lexical::ftsQuery(u(u"علم"), QStringLiteral("NOT")), a);
    EXPECT_EQ(Lexical::ftsQuery(u(u"علم عمل نور"), QStringLiteral("NOT")),
              a + u(u" NOT ") + b + u(u" NOT ") + c);
    // Punctuation and quotes are not words, so they cannot reach the expression.
    EXPECT_EQ(Lexical::ftsQuery(u(u"\"علم\"، عمل")), a + u(u" AND ") + b);
    EXPECT_EQ(Lexical::ftsQuery(u(u"الصلوة")), Lexical::expand(u(u"الصلاه")));
}

TEST(LexicalQuery, aQueryWithoutWordsHasNoExpression)
{
    EXPECT_EQ(Lexical::ftsQuery(QStringLiteral("   ")), QString());
    EXPECT_EQ(Lexical::ftsQuery(u(u" ، . ")), QString());
}

TEST_F(LexicalCorpus, aQueryWithoutWordsRunsNoStatement)
{
    auto counted = SQLiteDB::open(path, true);
    ASSERT_NE(counted, nullptr);
    int statements = 0;
    sqlite3_trace_v2(
        counted->handle(), SQLITE_TRACE_STMT,
        [](unsigned, void* count, void*, void*) {
            ++*static_cast<int*>(count);
            return 0;
        },
        &statements);
    EXPECT_TRUE(Lexical::search(*counted, QStringLiteral("  \t ")).isEmpty());
    EXPECT_TRUE(Lexical::search(*counted, u(u"؟ ،")).isEmpty());
    EXPECT_EQ(statements, 0);
    // The counter does see a search that has words.
    EXPECT_FALSE(Lexical::search(*counted, u(u"الله"), 1).isEmpty());
    EXPECT_GT(statements, 0);
}

TEST_F(LexicalCorpus, hitsCarryTheirPageAndBook)
{
    const auto hits = Lexical::search(*db, u(u"عائشة"), 5);
    ASSERT_FALSE(hits.isEmpty());
    for (const auto& h : hits) {
        const auto rows = db->rows(QStringLiteral("SELECT p.book_id, p.seq, p.vol, p.page_num, b.title, "
                                                  "a.name FROM pages p JOIN books b ON b.id = p.book_id "
                                                  "JOIN authors a ON a.id = b.author_id WHERE p.id = ?"),
                                   {h.pageId});
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(h.bookId, rows[0].integer(0));
        EXPECT_EQ(h.seq, rows[0].integer(1));
        EXPECT_EQ(h.vol, rows[0].str(2));
        EXPECT_EQ(h.pageNum, rows[0].integer(3));
        EXPECT_EQ(h.bookTitle, rows[0].str(4));
        EXPECT_EQ(h.author, rows[0].str(5));
        EXPECT_LT(h.rank, 0.0);
    }
}

TEST_F(LexicalCorpus, snippetsMarkRealMatches)
{
    const auto hits = Lexical::search(*db, u(u"والصلاة"), 10);
    ASSERT_FALSE(hits.isEmpty());
    for (const auto& h : hits) {
        const QStringList marks = marked(h.snippet);
        ASSERT_FALSE(marks.isEmpty()) << qPrintable(h.snippet);
        const QString norm = db->rows(QStringLiteral("SELECT content_norm FROM pages WHERE id = ?"),
                                      {h.pageId})
                                 .value(0)
                                 .str(0)
                                 .value_or(QString());
        const QStringList words = norm.split(QLatin1Char(' '));
        for (const QString& m : marks) {
            // Each marked word stands on the page and is one of the alternatives.
            EXPECT_TRUE(words.contains(m)) << qPrintable(m);
            EXPECT_TRUE(m.startsWith(u(u"والصلاه")) || m.startsWith(u(u"صلاه"))) << qPrintable(m);
        }
    }
}

TEST_F(LexicalCorpus, limitAndOffsetGiveDisjointOrderedPages)
{
    const QString word = u(u"الله");
    const auto all = Lexical::search(*db, word, 1000);
    ASSERT_GT(all.size(), 40);
    const auto first = Lexical::search(*db, word, 20, 0);
    const auto second = Lexical::search(*db, word, 20, 20);
    ASSERT_EQ(first.size(), 20);
    ASSERT_EQ(second.size(), 20);

    const QList<std::int64_t> a = pageIds(first);
    const QList<std::int64_t> b = pageIds(second);
    EXPECT_TRUE((QSet<std::int64_t>(a.begin(), a.end()) & QSet<std::int64_t>(b.begin(), b.end())).isEmpty());
    for (qsizetype i = 1; i < all.size(); ++i)
        EXPECT_LE(all[i - 1].rank, all[i].rank);
    // The two pages are the 40 smallest ranks of all, best first.
    const QList<LexicalHit> paged = first + second;
    for (qsizetype i = 0; i < paged.size(); ++i)
        EXPECT_EQ(paged[i].rank, all[i].rank) << i;
    // And every page is one of the matches.
    const QList<std::int64_t> ids = pageIds(all);
    const QSet<std::int64_t> matching(ids.begin(), ids.end());
    for (std::int64_t id : a + b)
        EXPECT_TRUE(matching.contains(id)) << id;
}

TEST_F(LexicalCorpus, operatorsNarrowAndWiden)
{
    const auto one = pageIds(Lexical::search(*db, u(u"عائشة"), 1000));
    const auto other = pageIds(Lexical::search(*db, u(u"هريرة"), 1000));
    const auto both = pageIds(Lexical::search(*db, u(u"عائشة هريرة"), 1000));
    const auto either = pageIds(Lexical::search(*db, u(u"عائشة هريرة"), 1000, 0, QStringLiteral("OR")));
    const auto without = pageIds(Lexical::search(*db, u(u"عائشة هريرة"), 1000, 0, QStringLiteral("NOT")));
    const QSet<std::int64_t> s1(one.begin(), one.end());
    const QSet<std::int64_t> s2(other.begin(), other.end());
    ASSERT_FALSE(s1.isEmpty());
    ASSERT_FALSE(s2.isEmpty());
    EXPECT_EQ(QSet<std::int64_t>(both.begin(), both.end()), QSet<std::int64_t>(s1).intersect(s2));
    EXPECT_EQ(QSet<std::int64_t>(either.begin(), either.end()), QSet<std::int64_t>(s1).unite(s2));
    EXPECT_EQ(QSet<std::int64_t>(without.begin(), without.end()), QSet<std::int64_t>(s1).subtract(s2));
}

TEST(LexicalSearch, aBookWithoutAnAuthorRowGivesHitsWithoutAuthor)
{
    QTemporaryDir dir;
    const QString path = test::FixtureLibrary::build(dir.path());
    ASSERT_FALSE(path.isEmpty());
    auto db = SQLiteDB::open(path, false);
    ASSERT_NE(db, nullptr);
    // Books 2 and 3 lose their author; book 1 keeps its own.
    ASSERT_TRUE(db->run(QStringLiteral("DELETE FROM authors WHERE id = 2")));

    const auto hits = Lexical::search(*db, u(u"رسول"), 1000);
    QSet<std::int64_t> books;
    for (const auto& h : hits) {
        books.insert(h.bookId);
        if (h.bookId == 1)
            EXPECT_EQ(h.author, u(u"مالك بن أنس"));
        else
            EXPECT_EQ(h.author, std::nullopt) << h.bookId;
        EXPECT_FALSE(h.bookTitle.isEmpty());
    }
    EXPECT_EQ(books, (QSet<std::int64_t>{1, 2, 3}));
}
