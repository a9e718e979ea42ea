// Retrieval on the installed sample library: twenty questions of the kinds a
// reader asks (rulings, a rare word, long questions that reach the OR pass).

#include "assistant/AIAssistant.h"
#include "assistant/DataQA.h"
#include "assistant/Reports.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/QuranLines.h"
#include "core/Settings.h"
#include "search/SearchEngine.h"
#include "search/SearchHit.h"
#include "search/SearchQuery.h"
#include "ui/reader/ReaderTestSupport.h"

#include "../../bench/common/AssistantQuestions.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quorvel;

namespace {

// The benchmark asks the same questions, so its figures are of what is tested here.
const QStringList& questions = bench::assistantQuestions();

QString body(const QString& window)
{
    QString s = window;
    if (s.startsWith(QStringLiteral("… ")))
        s.remove(0, 2);
    if (s.endsWith(QStringLiteral(" …")))
        s.chop(2);
    return s;
}

bool isBreak(QChar c) { return c == u' ' || c == u'\n'; }

// A page of the Quran book is quoted as read: each "sura|verse|text" line
// by its text, its number after it in ornate brackets. The page's lines
// without their numbers, and a passage without its verse numbers, compare.
QString readAsShown(const QString& content)
{
    QStringList lines = content.split(u'\n');
    for (QString& line : lines)
        if (const auto verse = QuranLines::verseLine(line))
            line = line.mid(verse->textStart);
    return lines.join(u'\n');
}

QString withoutVerseNumbers(const QString& passage)
{
    static const QRegularExpression number(QStringLiteral(" \uFD3F[^\uFD3E]*\uFD3E"));
    return QString(passage).remove(number);
}

} // namespace

TEST(SampleRetrieval, everyPassageIsItsPagesTextCutAtWordsAndCitedAsTheCatalogueSays)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    test::ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    const Library& lib = *sample.lib;
    const auto books = lib.bookById();
    int answered = 0;
    for (const QString& question : questions) {
        SCOPED_TRACE(question.toStdString());
        const QList<Passage> passages = AIAssistant::retrieve(lib, question, 5);
        EXPECT_LE(passages.size(), 5);
        answered += passages.isEmpty() ? 0 : 1;
        QHash<std::int64_t, int> perBook;
        for (int i = 0; i < passages.size(); ++i) {
            const Passage& p = passages[i];
            EXPECT_EQ(p.n, i + 1);
            EXPECT_LE(++perBook[p.bookId], 2);
            const auto page = lib.page(p.pageId);
            ASSERT_TRUE(page);
            ASSERT_TRUE(books.contains(p.bookId));
            const Book& book = books[p.bookId];
            EXPECT_EQ(page->bookId, p.bookId);
            EXPECT_EQ(p.seq, page->seq);
            EXPECT_EQ(p.vol, page->vol);
            EXPECT_EQ(p.pageNum, page->num);
            EXPECT_EQ(p.bookTitle, book.title);
            EXPECT_EQ(p.edition, book.edition);
            EXPECT_EQ(p.author, lib.authorName(book));
            EXPECT_EQ(p.death, lib.deathYear(book));

            const QString text = readAsShown(QString(page->content).replace(QStringLiteral("__________"), QStringLiteral("\n[الحاشية]\n")));
            const QString cut = withoutVerseNumbers(body(p.text));
            const qsizetype at = text.indexOf(cut);
            ASSERT_GE(at, 0) << "passage " << p.n << " is not a stretch of its page";
            const qsizetype end = at + cut.size();
            EXPECT_EQ(p.text.startsWith(QStringLiteral("… ")), at > 0);
            EXPECT_EQ(p.text.endsWith(QStringLiteral(" …")), end < text.size());
            EXPECT_TRUE(at == 0 || isBreak(text[at - 1]));
            EXPECT_TRUE(end == text.size() || isBreak(text[end]));
        }
    }
    EXPECT_GE(answered, 18);
}

TEST(SampleRetrieval, reportsCountAWorkInTwoEditionsOnceQuoteItOnceAndTablesTellItsEditionsApart)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    test::ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    Settings::setIndicDigits(true);
    // Ibn Majah's two editions and Abu Dawud carry the hadith: two works.
    const Reports::Built takhrij = Reports::takhrij(*sample.lib, QStringLiteral("إنما الأعمال بالنيات"), std::nullopt);
    EXPECT_TRUE(takhrij.text.contains(QStringLiteral(" من كتابين (في ٣ طبعات)؛"))) << takhrij.text.toStdString();
    EXPECT_EQ(takhrij.passages.size(), 2);
    EXPECT_TRUE(takhrij.text.contains(QStringLiteral("في «سنن ابن ماجه» (في طبعتين): «")));

    // A work in two editions has the places of the edition that has most.
    const QString phrase = QStringLiteral("صلى الله عليه وسلم قال من");
    SearchQuery query;
    query.andPhrases = {Arabic::normalize(phrase)};
    query.inNotes = false;
    QHash<std::int64_t, int> places;
    SearchEngine(*sample.lib).run(query, 50000, [&](const QList<SearchHit>& batch, bool) {
        for (const SearchHit& hit : batch) {
            if (hit.kind == SearchHit::Kind::page)
                ++places[hit.bookId];
        }
    });
    const auto editions = sample.lib->bookById();
    QList<int> majah;
    for (auto it = places.cbegin(); it != places.cend(); ++it) {
        if (editions.value(it.key()).title == QStringLiteral("سنن ابن ماجه"))
            majah << it.value();
    }
    ASSERT_EQ(majah.size(), 2);
    ASSERT_NE(majah[0], majah[1]);
    const Reports::Built most = Reports::takhrij(*sample.lib, phrase, std::nullopt);
    EXPECT_TRUE(most.text.contains(QStringLiteral("في «سنن ابن ماجه» (")
                                   + Reports::mawadi().count(std::max(majah[0], majah[1]), CountedNoun::Case::genitive)
                                   + QStringLiteral(") (في طبعتين): «")))
        << most.text.toStdString();

    // History and term count the work once and tell its editions apart.
    const Reports::Built history = Reports::history(*sample.lib, QStringLiteral("صلاة الجماعة"), std::nullopt);
    EXPECT_TRUE(history.text.contains(QRegularExpression(QStringLiteral(" \\(في \\S+ طبع\\S*\\) مما بحثت فيه"))))
        << history.text.toStdString();
    const Reports::Built term = Reports::term(*sample.lib, QStringLiteral("الغرر"), std::nullopt);
    EXPECT_TRUE(term.text.contains(QStringLiteral("في «سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب)»: «")))
        << term.text.toStdString();
    EXPECT_TRUE(term.text.contains(QStringLiteral(" طبعات) في المكتبة.\n"))) << term.text.toStdString();

    // The same hadith from both editions is quoted once, under one heading.
    const Reports::Built views = Reports::views(*sample.lib, QStringLiteral("قراءة الفاتحة خلف الإمام"), std::nullopt);
    EXPECT_EQ(views.text.count(QStringLiteral("· سنن ابن ماجه")), 1) << views.text.toStdString();
    QSet<QString> titles;
    for (const Passage& p : views.passages)
        titles.insert(p.bookTitle);
    EXPECT_EQ(titles.size(), views.passages.size());
    EXPECT_TRUE(views.text.contains(QStringLiteral(" طبعات) في المكتبة، مرتبا"))) << views.text.toStdString();

    // The sources report counts works and lists each edition told apart,
    // its samples too when their texts differ.
    const Reports::Built sources = Reports::sources(*sample.lib, QStringLiteral("القراءة خلف الإمام"), std::nullopt);
    EXPECT_TRUE(sources.text.contains(QStringLiteral(" من ٤ كتب (في ٥ طبعات). "))) << sources.text.toStdString();
    EXPECT_TRUE(sources.text.contains(QStringLiteral(". سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة أ) · ابن ماجه")));
    EXPECT_LE(sources.text.count(QStringLiteral("في «سنن ابن ماجه»: «")), 1) << sources.text.toStdString();

    // A scholar's card lists a work in two editions once.
    const Reports::Built card = Reports::biography(*sample.lib, QStringLiteral("ابن ماجه"), std::nullopt);
    EXPECT_TRUE(card.head.contains(QStringLiteral("## مؤلفاته في المكتبة (١)\n- سنن ابن ماجه (في طبعتين)\n"))) << card.head.toStdString();

    // A table by book keeps the two editions as two rows, told apart.
    const AIAnswer counts = DataQA::run(*sample.lib, QStringLiteral("كم مرة وردت كلمة حدثنا"));
    ASSERT_EQ(counts.tables.size(), 1);
    QStringList books;
    for (const QStringList& row : counts.tables[0].rows)
        books << row.value(0);
    EXPECT_TRUE(books.contains(QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة أ)"))) << books.join(u'|').toStdString();
    EXPECT_TRUE(books.contains(QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب)")));
    Settings::setIndicDigits(false);
}
