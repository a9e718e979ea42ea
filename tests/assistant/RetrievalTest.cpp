#include "assistant/AIAssistant.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// Sura 2 of the Uthmani text, verses `from`…`to` joined by spaces: real
// diacritised Arabic with marks stacked on letters.
QString baqara(int from, int to)
{
    QFile file(test::dataPath(QStringLiteral("quran/quran-uthmani.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList verses;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QStringList parts = line.split(u'|');
        if (parts.size() == 3 && parts[0] == u"2" && parts[1].toInt() >= from && parts[1].toInt() <= to)
            verses << parts[2];
    }
    return verses.join(u' ');
}

// The window without its ellipses, and whether it was cut at each end.
struct Cut {
    QString body;
    bool head = false;
    bool tail = false;
};
Cut parse(const QString& window)
{
    Cut c{window};
    if (c.body.startsWith(QStringLiteral("… "))) {
        c.head = true;
        c.body.remove(0, 2);
    }
    if (c.body.endsWith(QStringLiteral(" …"))) {
        c.tail = true;
        c.body.chop(2);
    }
    return c;
}

// A window is a stretch of the text that starts and ends at a space, a line
// feed or an end of the text, with ellipses exactly where it cuts.
void expectWholeWords(const QString& text, const QString& window)
{
    const Cut c = parse(window);
    const qsizetype at = text.indexOf(c.body);
    ASSERT_GE(at, 0) << "not a stretch of the page";
    const qsizetype end = at + c.body.size();
    EXPECT_EQ(c.head, at > 0);
    EXPECT_EQ(c.tail, end < text.size());
    if (at > 0) {
        EXPECT_TRUE(text[at - 1] == u' ' || text[at - 1] == u'\n');
    }
    if (end < text.size()) {
        EXPECT_TRUE(text[end] == u' ' || text[end] == u'\n');
    }
    EXPECT_TRUE(Characters::isBoundary(text, at));
    EXPECT_TRUE(Characters::isBoundary(text, end));
}

} // namespace

TEST(RetrievalTerms, contentWordsAreNormalisedDistinctAndLongEnough)
{
    EXPECT_EQ(AIAssistant::terms(QStringLiteral("ما حكم صلاة الجماعة")),
              QStringList({QStringLiteral("صلاه"), QStringLiteral("الجماعه")}));
    EXPECT_TRUE(AIAssistant::isRuling(QStringLiteral("ما حكم صلاة الجماعة")));
    EXPECT_EQ(AIAssistant::terms(QStringLiteral("الصلاة ثم الصلاةُ ثم الصّلاة")),
              QStringList({QStringLiteral("الصلاه")}));
    EXPECT_TRUE(AIAssistant::terms(QStringLiteral("هل يجوز لي ذلك في ما")).isEmpty());
    EXPECT_TRUE(AIAssistant::terms(QString()).isEmpty());
}

TEST(RetrievalTerms, settledQuirksStay)
{
    // "حكم " loses its space to normalisation, so it matches inside a word.
    EXPECT_TRUE(AIAssistant::isRuling(QStringLiteral("ما الحكمة من الصيام")));
    EXPECT_FALSE(AIAssistant::isRuling(QStringLiteral("فضل الصيام")));
    // The stored "على" and "الى" end in ى and never meet a normalised word.
    EXPECT_EQ(AIAssistant::terms(QStringLiteral("على الى علي")),
              QStringList({QStringLiteral("علي"), QStringLiteral("الي")}));
}

TEST(RetrievalWindow, aPageWithinTheSizeIsReturnedWholeCountingCharactersNotUnits)
{
    const QString page = baqara(2, 4);
    ASSERT_FALSE(page.isEmpty());
    const int chars = int(Characters::count(page));
    ASSERT_LT(chars, page.size()); // marks stack on letters
    EXPECT_EQ(AIAssistant::window(page, {QStringLiteral("الصلاه")}, chars), page);
    EXPECT_NE(AIAssistant::window(page, {QStringLiteral("الصلاه")}, chars - 1), page);
}

TEST(RetrievalWindow, cutsAroundTheDensestHitsAtWholeWordsWithEllipsesWhereItCuts)
{
    const QString page = baqara(1, 60);
    ASSERT_GT(page.size(), 6000);
    const int max = 600;

    // A term found only far into the page: cut at both ends.
    const QString middle = AIAssistant::window(page, {QStringLiteral("اهبطوا")}, max);
    expectWholeWords(page, middle);
    const Cut m = parse(middle);
    EXPECT_TRUE(m.head);
    EXPECT_TRUE(m.tail);
    EXPECT_GE(m.body.size(), max);
    EXPECT_TRUE(Arabic::normalize(m.body).contains(QStringLiteral("اهبطوا")));

    // No term at all: the start of the page, widened to the end of a word.
    const QString none = AIAssistant::window(page, {QStringLiteral("زززز")}, max);
    expectWholeWords(page, none);
    const Cut n = parse(none);
    EXPECT_FALSE(n.head);
    EXPECT_TRUE(n.tail);
    EXPECT_GE(n.body.size(), max);
    EXPECT_LT(n.body.size(), max + 40);

    // A term only in the last verse: the window is moved back to keep its size
    // and ends with the page.
    const QString last = baqara(60, 60);
    const QString endWord = Arabic::tokens(last).constLast();
    const QString tail = AIAssistant::window(page, {endWord}, max);
    expectWholeWords(page, tail);
    const Cut t = parse(tail);
    EXPECT_TRUE(t.head);
    EXPECT_FALSE(t.tail);
    EXPECT_GE(t.body.size(), max);
}

TEST(RetrievalWindow, neverSplitsASurrogatePairOrALetterFromItsMarks)
{
    // Words of a letter outside the basic plane and of diacritised Arabic,
    // joined without gaps other than spaces: any cut is at a space.
    QStringList words;
    for (int i = 0; i < 400; ++i)
        words << (i % 3 == 0 ? QStringLiteral("𝔸𝔹𝔸") : i % 3 == 1 ? QStringLiteral("ٱلصَّلَوٰةَ") : QStringLiteral("بِٱلْغَيْبِ"));
    const QString text = words.join(u' ');
    for (const int max : {7, 50, 333, 1001}) {
        const QString w = AIAssistant::window(text, {QStringLiteral("الغيب")}, max);
        expectWholeWords(text, w);
    }
}

namespace {

// A library of hand-made pages, indexed as the installer indexes them.
class RetrievalLibrary : public ::testing::Test {
protected:
    struct PageRow {
        std::int64_t id;
        std::int64_t book;
        std::int64_t seq;
        QString content;
        std::optional<QString> vol = std::nullopt;
        std::optional<std::int64_t> num = std::nullopt;
    };

    std::shared_ptr<Library> make(const QList<PageRow>& pages)
    {
        path_ = test::FixtureLibrary::custom(dir_.path(), QStringLiteral("retrieval.db"), {});
        EXPECT_FALSE(path_.isEmpty());
        const auto db = SQLiteDB::open(path_, false);
        EXPECT_TRUE(db);
        db->run(QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES(1, 'مالك بن أنس', 179)"));
        db->run(QStringLiteral("INSERT INTO books(id, title, author_id, edition) VALUES(1, 'الموطأ', 1, 'الأولى')"));
        db->run(QStringLiteral("INSERT INTO books(id, title, book_date) VALUES(2, 'كتاب بلا مؤلف', 300)"));
        db->run(QStringLiteral("INSERT INTO books(id, title) VALUES(3, 'كتاب ثالث')"));
        for (const PageRow& p : pages) {
            const QString norm = Arabic::normalize(p.content);
            db->run(QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) "
                                   "VALUES(?,?,?,?,?,?,?)"),
                    {p.id, p.book, p.vol, p.num, p.seq, p.content, norm});
            db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"),
                    {p.id, norm, p.id, p.book});
        }
        return Library::open(path_);
    }

    static QList<std::int64_t> pageIds(const QList<Passage>& passages)
    {
        QList<std::int64_t> ids;
        for (const Passage& p : passages)
            ids << p.pageId;
        return ids;
    }

    test::ScopedEnv noSmart_{"QUORVEL_NO_SMART", QStringLiteral("1")};
    test::ScopedEnv userDb_{"QUORVEL_USERDB", QStringLiteral(":memory:")};
    QTemporaryDir dir_;
    QString path_;
};

} // namespace

TEST_F(RetrievalLibrary, theStemBehindEveryCliticFindsThePageAndShortWordsKeepTheirArticle)
{
    const auto lib = make({
        {1, 1, 1, QStringLiteral("وكان يصلي بالجماعة في المسجد")},
        {2, 2, 1, QStringLiteral("وله مال كثير")},
        {3, 2, 2, QStringLiteral("بالله التوفيق")},
    });
    ASSERT_TRUE(lib);
    EXPECT_EQ(pageIds(AIAssistant::retrieve(*lib, QStringLiteral("الجماعة"), 5)), QList<std::int64_t>{1});
    // الله is four letters: searched whole, so وله (the stem له behind و) is not met.
    EXPECT_EQ(pageIds(AIAssistant::retrieve(*lib, QStringLiteral("الله"), 5)), QList<std::int64_t>{3});
}

TEST_F(RetrievalLibrary, aBookGivesAtMostPerBookPassagesHoweverHighItsPagesRank)
{
    const QString dense = QStringLiteral("الزكاة الزكاة الزكاة الزكاة الزكاة واجبة");
    const auto lib = make({
        {1, 1, 1, dense},
        {2, 1, 2, dense},
        {3, 1, 3, dense},
        {4, 2, 1, QStringLiteral("باب في الزكاة وكلام طويل عن غيرها من الأبواب والمسائل المتفرقة")},
    });
    ASSERT_TRUE(lib);
    const QList<Passage> passages = AIAssistant::retrieve(*lib, QStringLiteral("الزكاة"), 3);
    ASSERT_EQ(passages.size(), 3);
    EXPECT_EQ(passages[0].bookId, 1);
    EXPECT_EQ(passages[1].bookId, 1);
    EXPECT_EQ(passages[2].pageId, 4);
    EXPECT_EQ(AIAssistant::retrieve(*lib, QStringLiteral("الزكاة"), 5, std::nullopt, 1).size(), 2);
    EXPECT_EQ(pageIds(AIAssistant::retrieve(*lib, QStringLiteral("الزكاة"), 1)).size(), 1);
}

TEST_F(RetrievalLibrary, aPageMetInBothPassesIsListedOnceUnderItsFirstNumber)
{
    const auto lib = make({
        {1, 1, 1, QStringLiteral("الصيام في السفر رخصة")},
        {2, 2, 1, QStringLiteral("السفر إلى الحج")},
        {3, 3, 1, QStringLiteral("أحكام الصيام")},
    });
    ASSERT_TRUE(lib);
    const QList<Passage> passages = AIAssistant::retrieve(*lib, QStringLiteral("الصيام في السفر"), 5);
    ASSERT_EQ(passages.size(), 3);
    EXPECT_EQ(passages[0].pageId, 1); // the one page holding both words, from the AND pass
    for (int i = 0; i < passages.size(); ++i)
        EXPECT_EQ(passages[i].n, i + 1);
    EXPECT_EQ(pageIds(passages).count(1), 1);
}

TEST_F(RetrievalLibrary, scopesLimitTheBooksAndAnEmptyScopeGivesNothing)
{
    const auto lib = make({
        {1, 1, 1, QStringLiteral("الوضوء من النوم")},
        {2, 2, 1, QStringLiteral("الوضوء بماء البحر")},
    });
    ASSERT_TRUE(lib);
    EXPECT_EQ(AIAssistant::retrieve(*lib, QStringLiteral("الوضوء"), 5).size(), 2);
    EXPECT_EQ(pageIds(AIAssistant::retrieve(*lib, QStringLiteral("الوضوء"), 5, QSet<std::int64_t>{2})),
              QList<std::int64_t>{2});
    EXPECT_TRUE(AIAssistant::retrieve(*lib, QStringLiteral("الوضوء"), 5, QSet<std::int64_t>{3}).isEmpty());
    EXPECT_TRUE(AIAssistant::retrieve(*lib, QStringLiteral("الوضوء"), 5, QSet<std::int64_t>{}).isEmpty());
    EXPECT_TRUE(AIAssistant::retrieve(*lib, QStringLiteral("ما هو"), 5).isEmpty());
}

TEST_F(RetrievalLibrary, passagesCarryTheirCitationDataAndMarkTheFootnotes)
{
    const auto lib = make({
        {7, 1, 12, QStringLiteral("باب النكاح\n__________\n(1) في نسخة: النكاح"), QStringLiteral("2"), 45},
        {8, 2, 3, QStringLiteral("كتاب النكاح")},
    });
    ASSERT_TRUE(lib);
    Settings::setIndicDigits(false);
    const QList<Passage> passages = AIAssistant::retrieve(*lib, QStringLiteral("النكاح"), 5);
    ASSERT_EQ(passages.size(), 2);
    const Passage& first = passages[0].pageId == 7 ? passages[0] : passages[1];
    const Passage& second = passages[0].pageId == 7 ? passages[1] : passages[0];
    EXPECT_EQ(first.text, QStringLiteral("باب النكاح\n\n[الحاشية]\n\n(1) في نسخة: النكاح"));
    EXPECT_EQ(first.seq, 12);
    EXPECT_EQ(first.edition, QStringLiteral("الأولى"));
    EXPECT_EQ(first.death, 179);
    EXPECT_EQ(first.citation(), QStringLiteral("الموطأ · ") + first.author + QStringLiteral(" · ج2 – ص45"));
    EXPECT_TRUE(first.author.startsWith(QStringLiteral("مالك بن أنس")));
    EXPECT_EQ(second.citation(), QStringLiteral("كتاب بلا مؤلف · ص3"));
    EXPECT_EQ(second.death, 300); // the book's own date
}

TEST_F(RetrievalLibrary, withoutASearchConnectionNothingIsFound)
{
    const auto lib = make({{1, 1, 1, QStringLiteral("الوضوء من النوم")}});
    ASSERT_TRUE(lib);
    // The library's own connection keeps the file; a new one cannot open it any more.
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path_ + QLatin1String(suffix));
    ASSERT_TRUE(lib->page(1));
    EXPECT_TRUE(AIAssistant::retrieve(*lib, QStringLiteral("الوضوء"), 5).isEmpty());
}
