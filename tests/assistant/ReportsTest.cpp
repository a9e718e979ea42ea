#include "FakeServerFixture.h"
#include "ReportsLibraryFixture.h"

#include "assistant/AIAssistant.h"
#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"
#include "ui/reader/ReaderTestSupport.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;
using quorvel::test::ReportsLibrary;
using quorvel::test::ScopedEnv;

namespace {

Passage passage(int n, const QString& text, std::optional<std::int64_t> death = std::nullopt,
                const QString& author = QString())
{
    Passage p;
    p.n = n;
    p.text = text;
    p.death = death;
    p.author = author;
    p.bookTitle = QStringLiteral("كتاب %1").arg(n);
    return p;
}

QList<int> numbers(const QList<Passage>& passages)
{
    QList<int> out;
    for (const Passage& p : passages)
        out << p.n;
    return out;
}

} // namespace

TEST(ReportsShared, centuriesAreNamedUpTo1500AndNumberedAfter)
{
    Settings::setIndicDigits(true);
    EXPECT_EQ(Reports::century(std::nullopt), QStringLiteral("غير محدد الوفاة"));
    EXPECT_EQ(Reports::century(0), QStringLiteral("غير محدد الوفاة"));
    EXPECT_EQ(Reports::century(1), QStringLiteral("القرن الأول الهجري"));
    EXPECT_EQ(Reports::century(100), QStringLiteral("القرن الأول الهجري"));
    EXPECT_EQ(Reports::century(101), QStringLiteral("القرن الثاني الهجري"));
    EXPECT_EQ(Reports::century(1500), QStringLiteral("القرن الخامس عشر الهجري"));
    EXPECT_EQ(Reports::century(1501), QStringLiteral("القرن ١٦ الهجري"));
}

TEST(ReportsShared, keysDropTheArticleOfLongTermsAndRelevanceNeedsThreeQuarters)
{
    EXPECT_EQ(Reports::keys(QStringLiteral("الجماعة الله صلاة")),
              QStringList({QStringLiteral("جماعه"), QStringLiteral("الله"), QStringLiteral("صلاه")}));
    const QList<Passage> ps{passage(1, QStringLiteral("الصلاة في الجماعة")), passage(2, QStringLiteral("الصلاة وحده")),
                            passage(3, QStringLiteral("الزكاة والصوم والحج"))};
    EXPECT_EQ(numbers(Reports::relevant(QStringLiteral("الصلاة"), ps)), (QList<int>{1, 2}));
    EXPECT_EQ(numbers(Reports::relevant(QStringLiteral("الصلاة الجماعة"), ps)), (QList<int>{1}));
    EXPECT_EQ(numbers(Reports::relevant(QStringLiteral("هل هذا"), ps)), (QList<int>{1, 2, 3}));
    // Four keys: three suffice. Eight keys: six.
    const QList<Passage> four{passage(1, QStringLiteral("الزكاة والصوم والحج")), passage(2, QStringLiteral("الزكاة والصوم"))};
    EXPECT_EQ(numbers(Reports::relevant(QStringLiteral("الزكاة الصوم الحج الجهاد"), four)), (QList<int>{1}));
    const QString eight = QStringLiteral("اول ثاني ثالث رابع خامس سادس سابع ثامن");
    const QList<Passage> some{passage(1, QStringLiteral("اول ثاني ثالث رابع خامس سادس")),
                              passage(2, QStringLiteral("اول ثاني ثالث رابع خامس"))};
    EXPECT_EQ(numbers(Reports::relevant(eight, some)), (QList<int>{1}));
}

TEST(ReportsShared, chronoPutsUndatedLastInTheirOrder)
{
    const QList<Passage> ps{passage(1, QStringLiteral("أ")), passage(2, QStringLiteral("ب"), 500),
                            passage(3, QStringLiteral("ج")), passage(4, QStringLiteral("د"), 179)};
    const QList<Passage> sorted = Reports::chrono(ps);
    QStringList texts;
    for (const Passage& p : sorted)
        texts << p.text;
    EXPECT_EQ(texts, QStringList({"د", "ب", "أ", "ج"}));
    EXPECT_EQ(numbers(sorted), (QList<int>{1, 2, 3, 4}));
}

TEST(ReportsShared, quotationsPreferTheContainedPhraseFallBackToTheWindowAndKeepLatinNumbers)
{
    Settings::setIndicDigits(true);
    const Passage p = passage(12, QStringLiteral("الصلاة عماد الدين عند أهل العلم كلهم.\nوالصلاة في الجماعة أفضل من صلاة الفذ."));
    EXPECT_EQ(Reports::quote(QStringLiteral("الصلاة"), p), QStringLiteral("«الصلاة عماد الدين عند أهل العلم كلهم.» [12]"));
    EXPECT_EQ(Reports::quote(QStringLiteral("الصلاة"), p, QStringLiteral("الفذ")),
              QStringLiteral("«والصلاة في الجماعة أفضل من صلاة الفذ.» [12]"));
    EXPECT_EQ(Reports::quote(QStringLiteral("الصلاة"), p, QStringLiteral("الحج")),
              QStringLiteral("«الصلاة عماد الدين عند أهل العلم كلهم.» [12]"));
    // No sentence long enough: the window, its line breaks made spaces, its cuts said.
    const Passage shortOne = passage(3, QStringLiteral("… الصلاة\nعماد …"));
    EXPECT_EQ(Reports::quote(QStringLiteral("الصلاة"), shortOne), QStringLiteral("«… الصلاة عماد …» [3]"));
}

namespace {

const QString rulingPage = QStringLiteral("وقال أهل العلم إن صلاة الجماعة سنة مؤكدة في المسجد لمن قدر عليها.");

} // namespace

TEST_F(ReportsLibrary, viewsAndHistoryOrderByDeathAndSkipTheRangeForOnePassage)
{
    const auto lib = make(
        {"INSERT INTO authors(id, name, death_year) VALUES(1, 'مالك', 179), (2, 'النووي', 676)",
         "INSERT INTO books(id, title, author_id) VALUES(1, 'المجموع', 2), (2, 'الموطأ', 1), (3, 'كتاب مجهول', NULL)"},
        {{1, 1, 1, rulingPage}, {2, 2, 1, rulingPage + QStringLiteral(" والجماعة خير")}, {3, 3, 1, rulingPage}});
    ASSERT_TRUE(lib);
    const auto views = Reports::views(*lib, QStringLiteral("صلاة الجماعة"), std::nullopt);
    ASSERT_EQ(views.passages.size(), 3);
    EXPECT_EQ(views.passages[0].bookTitle, QStringLiteral("الموطأ"));
    EXPECT_EQ(views.passages[2].bookTitle, QStringLiteral("كتاب مجهول"));
    EXPECT_TRUE(views.text.startsWith(QStringLiteral("## الخلاصة\nجمعت هنا ما قيل في «صلاة الجماعة» من 3 كتب في المكتبة، مرتبا بوفاة أصحابه من مالك (ت 179) إلى كتاب مجهول.")))
        << views.text.toStdString();
    EXPECT_TRUE(views.text.contains(QStringLiteral("\n## مالك (ت 179) · الموطأ\n«")));
    EXPECT_TRUE(views.head.isEmpty());

    const auto history = Reports::history(*lib, QStringLiteral("صلاة الجماعة"), std::nullopt);
    EXPECT_TRUE(history.text.contains(QStringLiteral("## القرن الثاني الهجري\n- مالك (ت 179) في «الموطأ»: «")));
    EXPECT_TRUE(history.text.contains(QStringLiteral("## غير محدد الوفاة\n- كتاب مجهول في «كتاب مجهول»: «")));
    EXPECT_TRUE(history.text.contains(QStringLiteral("» [3]\n")));

    const auto one = Reports::views(*lib, QStringLiteral("صلاة الجماعة"), QSet<std::int64_t>{1});
    ASSERT_EQ(one.passages.size(), 1);
    EXPECT_TRUE(one.text.contains(QStringLiteral("من كتاب واحد في المكتبة. النصوص")));
    EXPECT_TRUE(Reports::views(*lib, QStringLiteral("الزكاة"), std::nullopt).text.isEmpty());
}

// The term is the word asked about, counted in every form a report quotes
// it in; a passage that names it with its article comes before one that
// only holds a form of it.
TEST_F(ReportsLibrary, termWritesTheOtherBooksHeadingWithoutLexiconsAndCountsTheWordInItsForms)
{
    const auto lib = make({"INSERT INTO categories(id, name) VALUES(1, 'كتب الحديث')",
                           "INSERT INTO books(id, title, category_id) VALUES(1, 'الموطأ', 1), (2, 'السنن', 1)"},
                          {{1, 1, 1, QStringLiteral("ومن باع شيئا فيه غررا لم يجز بيعه عند من قال ذلك منهم.")},
                           {2, 2, 1, QStringLiteral("بيع الغرر باطل عند الفقهاء كلهم.")},
                           {3, 2, 2, QStringLiteral("الغرر والخطر سواء.")},
                           {4, 2, 3, QStringLiteral("وكان أبيض الغررية من الخيل في ذلك الزمان.")}});
    ASSERT_TRUE(lib);
    for (const QString& q : {QStringLiteral("الغرر"), QStringLiteral("ما معنى الغرر؟")}) {
        const auto built = Reports::term(*lib, q, std::nullopt);
        EXPECT_FALSE(built.text.contains(QStringLiteral("## في كتب اللغة والمعاجم")));
        EXPECT_TRUE(built.text.startsWith(QStringLiteral("## في كتب العلم الأخرى\n- ")));
        EXPECT_TRUE(built.text.endsWith(QStringLiteral("## مواضع الورود\nورد «الغرر» في 3 صفحات من كتابين في المكتبة.\n")))
            << built.text.toStdString();
        ASSERT_EQ(built.passages.size(), 2);
        EXPECT_EQ(built.passages.last().pageId, 1) << built.text.toStdString();
    }
}

TEST_F(ReportsLibrary, biographyPicksTheAuthorWithMoreBooksThenTheShorterNameAndCutsTheBio)
{
    QString bio;
    while (bio.size() < 1500)
        bio += QStringLiteral("كان حافظا ثقة\n\n");
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات'), (2, 'الفقه')",
         QStringLiteral("INSERT INTO authors(id, name, full_name, death_year, bio) VALUES"
                        "(1, 'ابن حجر العسقلاني', 'أحمد بن علي بن حجر العسقلاني', 852, '%1'),"
                        "(2, 'ابن حجر الهيتمي', NULL, 974, NULL),"
                        "(3, 'ابن حجر', NULL, NULL, NULL),"
                        "(4, 'الهيتمي المكي الشافعي', NULL, 900, NULL)").arg(bio),
         "INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'تقريب التهذيب', 1, 1), (2, 'فتح الباري', 1, 2),"
         "(3, 'تحفة المحتاج', 2, 2), (4, 'كتاب آخر', 4, 2)"},
        {{1, 1, 1, QStringLiteral("ابن حجر العسقلاني صاحب التقريب إمام حافظ")}});
    ASSERT_TRUE(lib);
    const auto built = Reports::biography(*lib, QStringLiteral("ابن حجر"), std::nullopt);
    ASSERT_FALSE(built.head.isEmpty());
    EXPECT_TRUE(built.text.startsWith(built.head));
    EXPECT_TRUE(built.head.startsWith(QStringLiteral(
        "## بطاقة العلم في المكتبة\nالاسم: أحمد بن علي بن حجر العسقلاني\nالوفاة: سنة 852هـ (القرن التاسع الهجري)\n")))
        << built.head.toStdString();
    EXPECT_TRUE(built.head.contains(QStringLiteral(" …\n## مؤلفاته في المكتبة (2)\n- تقريب التهذيب\n- فتح الباري\n")));
    EXPECT_FALSE(built.head.contains(QStringLiteral("\n\n")));
    ASSERT_EQ(built.passages.size(), 1);
    EXPECT_TRUE(built.text.contains(QStringLiteral("## ما ورد عنه في كتب التراجم والتاريخ\n- ")));

    // Equal numbers of books: the shorter name.
    const auto tie = Reports::biography(*lib, QStringLiteral("الهيتمي"), std::nullopt);
    EXPECT_TRUE(tie.head.contains(QStringLiteral("الاسم: ابن حجر الهيتمي\n")));
    // No author matches: the section alone, an empty head.
    const auto none = Reports::biography(*lib, QStringLiteral("التقريب"), std::nullopt);
    EXPECT_TRUE(none.head.isEmpty());
    EXPECT_TRUE(none.text.startsWith(QStringLiteral("## ما ورد عنه")));
}

TEST_F(ReportsLibrary, biographyQuotesTheNameAsWrittenNotItsWordsReversedAndEachSentenceOnce)
{
    // One dictionary holds both men, the reversed name first and more often;
    // two editions of another hold the same line.
    const QString malik = QStringLiteral("مالك بن أنس الأصبحي إمام دار الهجرة وصاحب الموطأ.");
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات')",
         "INSERT INTO authors(id, name, death_year) VALUES(1, 'مالك بن أنس', 179), (2, 'الذهبي', 748), (3, 'المزي', 742)",
         "INSERT INTO books(id, title, author_id, category_id, edition) VALUES(1, 'سير أعلام النبلاء', 2, 1, NULL),"
         "(2, 'تهذيب الكمال', 3, 1, 'الأولى'), (3, 'تهذيب الكمال', 3, 1, 'الثانية'), (4, 'الموطأ', 1, NULL, NULL),"
         "(5, 'الإصابة', 2, 1, NULL)"},
        {{1, 1, 1, QStringLiteral("أنس بن مالك، أنس بن مالك الأنصاري خادم رسول الله.")},
         {2, 1, 2, QStringLiteral("مالك بن أنس إمام أهل المدينة في زمانه.")},
         {3, 2, 1, malik},
         {4, 3, 1, malik},
         {5, 5, 1, QStringLiteral("روى أنس بن مالك أحاديث كثيرة.")},
         {6, 1, 3, QStringLiteral("8322 - أبو كبشة البراء بن قيس مقبول من الثانية تمييز")},
         {7, 4, 1, QStringLiteral("وروى البراء بن قيس عن علي حديثا في الصلاة.")}});
    ASSERT_TRUE(lib);
    const auto built = Reports::biography(*lib, QStringLiteral("مالك بن أنس"), std::nullopt);
    QList<std::int64_t> pages;
    for (const Passage& p : built.passages)
        pages << p.pageId;
    EXPECT_EQ(pages.size(), 2) << built.text.toStdString();
    EXPECT_TRUE(pages.contains(2));
    EXPECT_FALSE(built.text.contains(QStringLiteral("أنس بن مالك"))) << built.text.toStdString();
    EXPECT_EQ(built.text.count(QStringLiteral("«") + malik + QStringLiteral("»")), 1) << built.text.toStdString();
    EXPECT_TRUE(built.text.endsWith(
        QStringLiteral("تنبيه: قد يشترك في الاسم أكثر من علم؛ راجع كل نص في صفحته قبل النقل.\n")));

    // A numbered entry that opens with the kunya is the man's entry, before
    // an older book that names him.
    const auto kunya = Reports::biography(*lib, QStringLiteral("البراء بن قيس"), std::nullopt);
    ASSERT_EQ(kunya.passages.size(), 2) << kunya.text.toStdString();
    EXPECT_EQ(kunya.passages.first().pageId, 6) << kunya.text.toStdString();
}

namespace {

// The name as a reader reads it in a quotation: its words in normal form,
// «ابن» read as «بن», held by the sentence and not as someone's father or
// forefather («… بن أنس بن مالك» is not about أنس بن مالك); «ابن X» asked
// alone not right after a given name («وسلم بن قتيبة» is another son of قتيبة).
bool holdsName(const QString& sentence, const QString& name)
{
    static const QStringList given = Arabic::tokens(QStringLiteral(
        "محمد أحمد علي عمر عمرو عثمان يوسف يحيى إبراهيم إسماعيل إسحاق الحسن الحسين سلم مسلم سالم سعيد سعد "
        "زيد حماد جعفر خالد موسى عيسى هشام هارون داود سليمان يزيد يونس عبيد بكار نبيه الله الرحمن الملك العزيز"));
    const auto folded = [](const QString& text) {
        QStringList words = Arabic::tokens(text);
        for (QString& w : words) {
            if (w == QStringLiteral("ابن"))
                w = QStringLiteral("بن");
        }
        return words.join(u' ');
    };
    const QString s = u' ' + folded(sentence) + u' ';
    const QString n = folded(name);
    for (qsizetype at = s.indexOf(n); at >= 0; at = s.indexOf(n, at + 1)) {
        const QString before = s.left(at).trimmed().split(u' ').last();
        const bool namesake = n.startsWith(QStringLiteral("بن "))
            && (given.contains(before) || (before.startsWith(u'و') && given.contains(before.mid(1))));
        if (s[at + n.size()] == u' ' && before != QStringLiteral("بن") && !namesake)
            return true;
    }
    return false;
}

} // namespace

// On the sample library: a term's meaning is looked up for the word itself,
// not for a longer word that begins with it (القرء is not القرءان); the
// Quran's verses read as verses, never as their "sura|verse|text" record; a
// views report quotes no chapter heading as a man's view.
TEST(ReportsSample, termsAreTheWordAskedVersesReadAsVersesAndViewsQuoteNoHeading)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    const QRegularExpression record(QStringLiteral("(^|\\n)\\s*\\d+\\|\\d+\\|"));

    const QList<Passage> found
        = AIAssistant::retrieve(*sample.lib, QStringLiteral("ولقد صرفنا في هذا القرءان ليذكروا"), 10, std::nullopt, 1);
    const QString verseEnd = QChar(0xFD3F) + Arabic::num(41) + QChar(0xFD3E);
    EXPECT_TRUE(std::any_of(found.begin(), found.end(), [&](const Passage& p) { return p.text.contains(verseEnd); }));
    for (const Passage& p : found)
        EXPECT_FALSE(p.text.contains(record)) << p.text.toStdString();

    const Reports::Built term = Reports::term(*sample.lib, QStringLiteral("القرء"), std::nullopt);
    ASSERT_FALSE(term.passages.isEmpty());
    const QString word = Arabic::normalize(QStringLiteral("القرء"));
    const QString longer = Arabic::normalize(QStringLiteral("القرءان"));
    for (const Passage& p : term.passages) {
        const QStringList words = Arabic::tokens(p.text);
        EXPECT_FALSE(words.contains(longer) && !words.contains(word)) << p.text.toStdString();
    }

    const QString topic = QStringLiteral("قراءة الفاتحة خلف الإمام");
    const Reports::Built views = Reports::views(*sample.lib, topic, std::nullopt);
    ASSERT_FALSE(views.passages.isEmpty());
    const std::shared_ptr<SQLiteDB> db = sample.lib->newSearchConnection();
    ASSERT_TRUE(db);
    for (const Passage& p : views.passages) {
        for (const Statement::Row& row :
             db->rows(QStringLiteral("SELECT title FROM toc WHERE book_id=? AND page_seq=?"), {p.bookId, p.seq})) {
            QString title = row.str(0).value_or(QString());
            title.remove(QRegularExpression(QStringLiteral("^[0-9\\s]+")));
            EXPECT_FALSE(views.text.contains(title)) << title.toStdString() << "\n" << views.text.toStdString();
        }
    }
    // The oldest man's view is still his: the report still opens with him.
    EXPECT_EQ(views.passages.first().death, 179);
}

// On the sample library's own pages, asked as a reader asks: the question's
// words are not part of the name; every quotation is about the man asked
// for, or about the full name a dictionary's index files him under; his own
// dictionary entry comes first; a report that two editions of a work share
// is quoted once and two editions' lines are told apart; an author's card
// says so when no text names him; and a reversed name gets no card.
TEST(ReportsSample, biographyQuotesTheManAskedForWithHisOwnEntryFirst)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    const QRegularExpression quotation(QStringLiteral("^- .* في «([^»]*)»: «(.*)» \\[\\d+\\]$"),
                                       QRegularExpression::MultilineOption);
    struct Case {
        const char16_t* question;
        const char16_t* name;
        const char16_t* filedAs; // the full name the dictionary's index gives, or null
        const char16_t* entry;   // the dictionary entry quoted first, or null when none is
        bool card;
        bool quoted;
    };
    for (const Case& c :
         {Case{u"من هو مالك بن أنس؟", u"مالك بن أنس", nullptr, u"مالك بن أنس بن مالك بن أبي عامر", true, true},
          Case{u"شعبة بن الحجاج", u"شعبة بن الحجاج", nullptr, u"شعبة بن الحجاج بن الورد", false, true},
          Case{u"ترجمة أنس بن مالك", u"أنس بن مالك", nullptr, u"أنس بن مالك بن النضر", false, true},
          // Named on other pages only as a son's father or forefather.
          Case{u"القاسم بن محمد", u"القاسم بن محمد", nullptr, u"القاسم بن محمد بن", false, true},
          Case{u"عبد الرحمن بن عوف", u"عبد الرحمن بن عوف", nullptr, nullptr, false, true},
          // Filed under the full name: «بن جريج الفقيه هو …», «الأعمش سليمان بن مهران»,
          // «بن وهب المصري صاحب مالك اسمه عبد الله» among three men of that name.
          Case{u"من هو ابن جريج؟", u"ابن جريج", u"عبد الملك بن عبد العزيز بن جريج",
               u"عبد الملك بن عبد العزيز بن جريج الأموي", false, true},
          Case{u"الأعمش", u"الأعمش", u"سليمان بن مهران", u"سليمان بن مهران الأسدي الكاهلي", false, true},
          Case{u"ابن وهب", u"ابن وهب", u"عبد الله بن وهب", u"عبد الله بن وهب بن مسلم القرشي", false, true},
          // «سلم بن قتيبة» is another son of قتيبة; the author is named in
          // full in his own book.
          Case{u"ابن قتيبة", u"ابن قتيبة", u"عبد الله بن مسلم بن قتيبة", nullptr, true, true},
          // An author: the dictionary's «ابن المنذر» is another man.
          Case{u"ابن المنذر", u"ابن المنذر", nullptr, nullptr, true, true},
          // Two editions of سنن ابن ماجه give report 1764 alike.
          Case{u"محمد بن معن", u"محمد بن معن", nullptr, nullptr, false, true},
          // Named only where a page goes on from the page before, as Abu
          // Ubayda's forefather.
          Case{u"الحارث بن فهر", u"الحارث بن فهر", nullptr, nullptr, false, false},
          // An author whom no page names.
          Case{u"القدوري", u"القدوري", nullptr, nullptr, true, false}}) {
        const QString question = QString::fromUtf16(c.question);
        const QString name = QString::fromUtf16(c.name);
        SCOPED_TRACE(question.toStdString());
        const Reports::Built built = Reports::biography(*sample.lib, question, std::nullopt);
        EXPECT_EQ(!built.head.isEmpty(), c.card) << built.head.toStdString();
        QStringList quoted;
        QStringList shown;
        for (auto it = quotation.globalMatch(built.text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            shown << m.captured(1);
            quoted << m.captured(2);
        }
        EXPECT_EQ(quoted.size(), built.passages.size());
        if (!c.quoted) {
            EXPECT_TRUE(quoted.isEmpty()) << built.text.toStdString();
            EXPECT_EQ(built.text.endsWith(QStringLiteral("لم أجد اسمه في نصوص كتب المكتبة، فالبطاقة وحدها من فهرسها.\n")),
                      c.card)
                << built.text.toStdString();
            continue;
        }
        ASSERT_FALSE(quoted.isEmpty()) << built.text.toStdString();
        if (c.entry) {
            EXPECT_TRUE(Arabic::normalize(quoted.first()).contains(Arabic::normalize(QString::fromUtf16(c.entry))))
                << quoted.first().toStdString();
        }
        QSet<QString> once;
        for (const QString& q : quoted) {
            EXPECT_TRUE(holdsName(q, name) || (c.filedAs && holdsName(q, QString::fromUtf16(c.filedAs))))
                << q.toStdString();
            once.insert(Arabic::normalize(q));
        }
        EXPECT_EQ(once.size(), quoted.size());
        for (qsizetype i = 0; i < built.passages.size(); ++i) {
            for (qsizetype j = i + 1; j < built.passages.size(); ++j) {
                const Passage& a = built.passages[i];
                const Passage& b = built.passages[j];
                if (a.bookTitle != b.bookTitle)
                    continue;
                // Editions of one work: told apart, and not one report twice.
                EXPECT_NE(shown[i], shown[j]);
                QStringList shorter = Arabic::tokens(quoted[i]);
                QStringList longer = Arabic::tokens(quoted[j]);
                if (shorter.size() > longer.size())
                    std::swap(shorter, longer);
                const auto held = std::count_if(shorter.begin(), shorter.end(),
                                                [&](const QString& w) { return longer.contains(w); });
                EXPECT_LT(5 * held, 4 * shorter.size()) << quoted[i].toStdString() << " | " << quoted[j].toStdString();
            }
        }
    }
}

// A short form asked alone means its best-known bearer: his own dictionary
// entry is quoted first and no namesake's entry at all, whether the
// dictionary's index names him among namesakes (an entry holding the form
// with a letter joined to it), a namesake's entry opens with the form, or
// no index line gives the form.
TEST(ReportsSample, aShortFormAloneMeansItsBestKnownBearer)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    const QRegularExpression numbered(QStringLiteral("^\\s*\\d+\\s*-?\\s*"));
    const QSet<std::int64_t> dictionaries = Reports::books(*sample.lib, Reports::tarajimKeys());
    const QRegularExpression quotation(QStringLiteral("^- .* في «[^»]*»: «(.*)» \\[\\d+\\]$"),
                                       QRegularExpression::MultilineOption);
    struct Case {
        const char16_t* question;
        const char16_t* entry; // the opening of his own entry
    };
    for (const Case& c : {Case{u"من هو الأشتر؟", u"مالك بن الحارث بن عبد يغوث"},
                          Case{u"من هو أبو حنيفة؟", u"النعمان بن ثابت الكوفي أبو حنيفة"},
                          Case{u"النخعي", u"إبراهيم بن يزيد بن قيس"},
                          Case{u"ترجمة البخاري", u"محمد بن إسماعيل بن إبراهيم بن المغيرة"},
                          Case{u"من هو ابن مسعود؟", u"عبد الله بن مسعود بن غافل"},
                          // His sons' names in the chains hold «بن عمر» as their grandfather's.
                          Case{u"ابن عمر", u"عبد الله بن عمر بن الخطاب"},
                          // A namesake's entry holds the kunya beside his own name.
                          Case{u"أبو هريرة", u"أبو هريرة الدوسي الصحابي"},
                          Case{u"أبو سعيد", u"سعد بن مالك بن سنان"},
                          Case{u"من هو أبو سلمة؟", u"أبو سلمة بن عبد الرحمن بن عوف"},
                          // Another man «is known by the house of أم سلمة».
                          Case{u"أم سلمة", u"هند بنت أبي أمية"},
                          // Two men of one full name: the one his dictionary calls the imam.
                          Case{u"ابن إسحاق", u"محمد بن إسحاق بن يسار"},
                          // His brother's entry names him in its account.
                          Case{u"الزهري", u"محمد بن مسلم بن عبيد الله بن عبد الله بن شهاب"}}) {
        const QString question = QString::fromUtf16(c.question);
        SCOPED_TRACE(question.toStdString());
        const Reports::Built built = Reports::biography(*sample.lib, question, std::nullopt);
        const QRegularExpressionMatch first = quotation.match(built.text);
        ASSERT_TRUE(first.hasMatch()) << built.text.toStdString();
        const QString entry = Arabic::normalize(QString::fromUtf16(c.entry));
        EXPECT_TRUE(Arabic::normalize(first.captured(1)).contains(entry)) << first.captured(1).toStdString();
        QStringList quoted;
        for (auto it = quotation.globalMatch(built.text); it.hasNext();)
            quoted << it.next().captured(1);
        ASSERT_EQ(quoted.size(), built.passages.size());
        for (qsizetype i = 0; i < quoted.size(); ++i) {
            const QRegularExpressionMatch number = numbered.match(quoted[i]);
            if (dictionaries.contains(built.passages[i].bookId) && number.hasMatch()) {
                // A book of kunyas heads his entry with his kunya, then his
                // name and his father's, and may leave out a forefather.
                const QString heading = Arabic::normalize(quoted[i].mid(number.capturedLength()));
                const QString named = entry.section(u' ', 0, 2);
                EXPECT_TRUE(heading.startsWith(entry)
                            || (heading.startsWith(QStringLiteral("ابو ")) && heading.section(u' ', 2).startsWith(named)))
                    << quoted[i].toStdString();
            }
        }
    }
}

// A form the library knows two men by almost alike is the answer of one of
// them, and one line names the other; no quotation is the other's entry.
TEST(ReportsSample, aFormTwoMenShareNamesTheOtherInOneLine)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    const Reports::Built built = Reports::biography(*sample.lib, QStringLiteral("أبو إسحاق"), std::nullopt);
    const QString said = QStringLiteral("ويعرف بهذا الاسم أيضا ");
    const QStringList lines = built.text.split(u'\n');
    const auto shared = std::find_if(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(said); });
    ASSERT_NE(shared, lines.end()) << built.text.toStdString();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(said); }), 1);
    const QString other = Arabic::normalize(shared->mid(said.size()).section(u'،', 0, 0));
    ASSERT_FALSE(other.isEmpty());
    const QRegularExpression numbered(QStringLiteral("^\\s*\\d+\\s*-?\\s*"));
    const QSet<std::int64_t> dictionaries = Reports::books(*sample.lib, Reports::tarajimKeys());
    const QRegularExpression quotation(QStringLiteral("^- .* في «[^»]*»: «(.*)» \\[\\d+\\]$"),
                                       QRegularExpression::MultilineOption);
    qsizetype i = 0;
    for (auto it = quotation.globalMatch(built.text); it.hasNext(); ++i) {
        const QString q = it.next().captured(1);
        ASSERT_LT(i, built.passages.size());
        const QRegularExpressionMatch number = numbered.match(q);
        if (dictionaries.contains(built.passages[i].bookId) && number.hasMatch()) {
            EXPECT_FALSE(Arabic::normalize(q.mid(number.capturedLength())).startsWith(other)) << q.toStdString();
        }
    }
    EXPECT_GT(i, 0);
}

// A short form's entry is the one whose heading names him: another man's
// entry that names him only in its account («سمع الزهري») is never quoted,
// in whichever dictionary it stands.
TEST_F(ReportsLibrary, aShortFormIsNeverQuotedFromAnotherMansAccount)
{
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات')",
         "INSERT INTO authors(id, name, death_year) VALUES(1, 'ابن حجر', 852), (2, 'الذهبي', 748)",
         "INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'تقريب التهذيب', 1, 1),"
         "(2, 'سير أعلام النبلاء', 2, 1), (3, 'الموطأ', NULL, NULL)"},
        {{1, 1, 1, QStringLiteral("6296 محمد بن مسلم بن شهاب الزهري الفقيه الحافظ متفق على جلالته من الرابعة")},
         {2, 2, 1, QStringLiteral("4 سفيان بن عيينة الهلالي الإمام سمع الزهري وعمرو بن دينار وعنه الشافعي")},
         {3, 3, 1, QStringLiteral("حدثني يحيى عن مالك عن الزهري عن سالم عن أبيه أن رسول الله صلى الله عليه وسلم قال")}});
    ASSERT_TRUE(lib);
    const auto built = Reports::biography(*lib, QStringLiteral("الزهري"), std::nullopt);
    ASSERT_FALSE(built.passages.isEmpty()) << built.text.toStdString();
    EXPECT_EQ(built.passages.first().pageId, 1) << built.text.toStdString();
    for (const Passage& p : built.passages)
        EXPECT_NE(p.pageId, 2) << built.text.toStdString();
}

// A form whose man has no entry of his own quotes no other man's entry, other
// books' pages only: not an entry that names the form in its account, nor a
// namesake's entry where no page but one calls that namesake «ابن X».
TEST_F(ReportsLibrary, aFormOfNoEntryOfItsOwnQuotesNoOtherMansEntry)
{
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات')",
         "INSERT INTO authors(id, name, death_year) VALUES(1, 'ابن حجر', 852)",
         "INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'تقريب التهذيب', 1, 1), (2, 'السنن', NULL, NULL)"},
        {{1, 1, 1, QStringLiteral("8599 - زينب بنت نبيط صحابية وذكرها ابن زريق في ثقات التابعين ق")},
         {2, 1, 2, QStringLiteral("432 - إسماعيل بن كليب الثقفي الواسطي صدوق من الحادية عشرة ق")},
         {3, 2, 1, QStringLiteral("وذكره ابن زريق في الثقات وقال كان يخطئ")},
         {4, 2, 2, QStringLiteral("وذكره ابن كليب في الثقات وقال كان يخطئ")},
         {5, 2, 3, QStringLiteral("وصححه ابن كليب في صحيحه من طريق أخرى")}});
    ASSERT_TRUE(lib);
    for (const char* form : {"ابن زريق", "ابن كليب"}) {
        const auto built = Reports::biography(*lib, QString::fromUtf8(form), std::nullopt);
        ASSERT_FALSE(built.passages.isEmpty()) << form << '\n' << built.text.toStdString();
        for (const Passage& p : built.passages)
            EXPECT_NE(p.bookId, 1) << form << '\n' << built.text.toStdString();
    }
}

// A kunya two men bear means the one the chains name by it alone: his fuller
// names there share their teachers and students with the kunya's, even where
// the other man's entry calls him famous by it, and where the dictionary files
// him again under his kunya and a nisba («300 - أبو غسان المدني عن رجل»).
TEST_F(ReportsLibrary, aKunyaMeansTheManWhoseChainsItsOwnChainsShare)
{
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات')",
         "INSERT INTO authors(id, name, death_year) VALUES(1, 'ابن حجر', 852)",
         "INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'تقريب التهذيب', 1, 1), (2, 'السنن', NULL, NULL)",
         "INSERT INTO narrators(id, name) VALUES(1, 'أبو غسان'), (2, 'سهل بن سعد'), (3, 'مالك'),"
         "(4, 'أبو غسان مطر بن دينار'), (5, 'سفيان'), (6, 'أبو غسان الأشجعي'), (7, 'أبو هريرة'),"
         "(8, 'أبو غسان المدني')",
         "INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) VALUES"
         "(1, 2, 2, 3), (1, 2, 2, 4), (1, 2, 2, 5), (3, 1, 2, 3), (3, 1, 2, 4), (3, 1, 2, 5),"
         "(4, 2, 2, 6), (5, 4, 2, 6), (6, 7, 2, 7), (8, 2, 2, 9), (3, 8, 2, 9)"},
        {{1, 1, 1, QStringLiteral("100 - سلمان أبو غسان الأشجعي الكوفي مشهور بكنيته ثقة من الثالثة")},
         {2, 1, 2, QStringLiteral("200 - مطر بن دينار أبو غسان الأعرج المدني ثقة من الخامسة")},
         {8, 1, 3, QStringLiteral("300 - أبو غسان المدني عن رجل لم يسم")},
         {3, 2, 1, QStringLiteral("حدثنا مالك عن أبي غسان عن سهل بن سعد قال كان الناس يؤمرون")},
         {4, 2, 2, QStringLiteral("وحدثنا مالك عن أبي غسان عن سهل بن سعد أن رسول الله صلى الله عليه وسلم قال")},
         {5, 2, 3, QStringLiteral("حدثنا مالك عن أبي غسان عن سهل بن سعد قال ما كنا نقيل")},
         {6, 2, 4, QStringLiteral("حدثنا سفيان عن أبي غسان مطر بن دينار عن سهل بن سعد قال")},
         {7, 2, 5, QStringLiteral("حدثنا عن أبي غسان الأشجعي عن أبي هريرة قال")},
         {9, 2, 6, QStringLiteral("حدثنا مالك عن أبي غسان المدني عن سهل بن سعد قال")}});
    ASSERT_TRUE(lib);
    const auto built = Reports::biography(*lib, QStringLiteral("أبو غسان"), std::nullopt);
    ASSERT_FALSE(built.passages.isEmpty()) << built.text.toStdString();
    EXPECT_EQ(built.passages.first().pageId, 2) << built.text.toStdString();
    for (const Passage& p : built.passages)
        EXPECT_NE(p.pageId, 1) << built.text.toStdString();
}

// A dictionary's praise of a man ranks him above his namesake as the
// dictionary means it: read through a copy's slip of a dot («أحد الحفاط»),
// and never read into a name that holds a word of praise («عبد الجليل»).
TEST_F(ReportsLibrary, aPraiseWordRanksTheManFamousAsTheDictionaryMeansIt)
{
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات')",
         "INSERT INTO authors(id, name, death_year) VALUES(1, 'ابن حجر', 852)",
         "INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'تقريب التهذيب', 1, 1), (2, 'السنن', NULL, NULL)"},
        {{1, 1, 1, QStringLiteral("2666 - سهل بن محمد بن عثمان أبو نوفل السجستاني النحوي صدوق من الحادية عشرة")},
         {2, 1, 2, QStringLiteral("5718 - محمد بن إدريس بن المنذر الحنظلي أبو نوفل الرازي أحد الحفاط من الحادية عشرة")},
         {3, 1, 3, QStringLiteral("100 - عبد الجليل بن حميد اليحصبي أبو عقيل البصري صدوق يهم من السابعة")},
         {4, 1, 4, QStringLiteral("200 - القاسم بن سلام أبو عقيل الرسعني ثقة من الثانية عشرة")},
         {5, 2, 1, QStringLiteral("حدثنا أبو عقيل الرسعني قال حدثنا المعافى بن سليمان")}});
    ASSERT_TRUE(lib);
    struct Case {
        const char* form;
        std::int64_t firstPage;
    };
    for (const Case& c : {Case{"أبو نوفل", 2}, Case{"أبو عقيل", 4}}) {
        const auto built = Reports::biography(*lib, QString::fromUtf8(c.form), std::nullopt);
        ASSERT_FALSE(built.passages.isEmpty()) << c.form << '\n' << built.text.toStdString();
        EXPECT_EQ(built.passages.first().pageId, c.firstPage) << c.form << '\n' << built.text.toStdString();
    }
}

// A nisba the chains give to a man whose fuller name there («علي بن المغيرة
// الأبرش») matches no entry is his alone: the namesake whose entry bears it
// is not quoted, nor the dictionary's index line of namesakes.
TEST_F(ReportsLibrary, aNisbaTheChainsGiveToAManOfNoEntryQuotesNoNamesakesEntry)
{
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات')",
         "INSERT INTO authors(id, name, death_year) VALUES(1, 'ابن حجر', 852)",
         "INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'تقريب التهذيب', 1, 1), (2, 'التفسير', NULL, NULL)",
         "INSERT INTO narrators(id, name) VALUES(1, 'الأبرش'), (2, 'أبو عبيدة'), (3, 'علي بن عبد العزيز'),"
         "(4, 'علي بن المغيرة الأبرش'), (5, 'أحمد بن محمد بن هانئ الأبرش'), (6, 'أحمد بن حنبل')",
         "INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) VALUES"
         "(1, 2, 2, 4), (1, 2, 2, 5), (1, 2, 2, 6), (3, 1, 2, 4), (3, 1, 2, 5), (3, 1, 2, 6),"
         "(4, 2, 2, 7), (5, 6, 2, 7)"},
        {{1, 1, 1, QStringLiteral("103 - أحمد بن محمد بن هانئ أبو بكر الأبرش ثقة حافظ من الحادية عشرة")},
         {2, 1, 2, QStringLiteral("فصل\nالأبرش أحمد بن محمد بن هانئ")},
         {4, 2, 1, QStringLiteral("أخبرنا علي بن عبد العزيز قال حدثنا الأبرش عن أبي عبيدة في قوله")},
         {5, 2, 2, QStringLiteral("حدثنا علي بن عبد العزيز عن الأبرش عن أبي عبيدة الأصر الثقل")},
         {6, 2, 3, QStringLiteral("أخبرنا علي بن عبد العزيز قال حدثنا الأبرش عن أبي عبيدة والقناطير واحدها قنطار")},
         {7, 2, 4, QStringLiteral("حدثني علي بن المغيرة الأبرش عن أبي عبيدة وحدثنا أحمد بن محمد بن هانئ الأبرش عن أحمد بن حنبل")}});
    ASSERT_TRUE(lib);
    const auto built = Reports::biography(*lib, QStringLiteral("الأبرش"), std::nullopt);
    ASSERT_FALSE(built.passages.isEmpty()) << built.text.toStdString();
    for (const Passage& p : built.passages)
        EXPECT_NE(p.bookId, 1) << built.text.toStdString();
}

// A dictionary's index line that files a nisba under one man yields to the
// man whose own entry calls him famous by it, where the heading goes on
// after where he settled («نزيل بغداد»).
TEST_F(ReportsLibrary, aNisbaMeansTheManHisOwnEntryCallsFamousByIt)
{
    const auto lib = make(
        {"INSERT INTO categories(id, name) VALUES(1, 'التراجم والطبقات')",
         "INSERT INTO authors(id, name, death_year) VALUES(1, 'ابن حجر', 852)",
         "INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'تقريب التهذيب', 1, 1)"},
        {{1, 1, 1, QStringLiteral("10 - إبراهيم بن موسى بن يزيد التميمي أبو إسحاق الغزال الرازي ثقة من العاشرة")},
         {2, 1, 2, QStringLiteral("20 - يحيى بن زياد الأسدي الكوفي نزيل بغداد الغزال النحوي المشهور صدوق من التاسعة")},
         {3, 1, 3, QStringLiteral("فصل في الأنساب\nالغزال إبراهيم بن موسى\nالقطان يحيى بن سعيد")}});
    ASSERT_TRUE(lib);
    const auto built = Reports::biography(*lib, QStringLiteral("الغزال"), std::nullopt);
    ASSERT_FALSE(built.passages.isEmpty()) << built.text.toStdString();
    EXPECT_EQ(built.passages.first().pageId, 2) << built.text.toStdString();
    for (const Passage& p : built.passages)
        EXPECT_NE(p.pageId, 1) << built.text.toStdString();
}

namespace {

// A page's text as a reader compares a quotation with it: footnotes under
// their label, every run of white space one space.
QString asRead(const QString& text)
{
    return Reports::footnotesLabelled(text).simplified();
}

bool endsSentence(QChar c)
{
    return c == u'.' || c == u'؟' || c == u'!' || c == u'؛' || c == u'?' || c == u':';
}

// Why a quotation of the passage's text is not cut as a reader can see, or
// nothing: it begins and ends at a word, says «…» wherever a sentence goes
// on beyond it, and never ends inside a name or a formula of blessing.
QString badCut(const QString& said, const QString& passageText)
{
    const QString cut = QStringLiteral("\u2026");
    const bool cutBefore = said.startsWith(cut + u' ');
    const bool cutAfter = said.endsWith(u' ' + cut);
    const QString body = said.mid(cutBefore ? 2 : 0, said.size() - (cutBefore ? 2 : 0) - (cutAfter ? 2 : 0));
    QString flat = passageText;
    flat.replace(u'\n', u' ');
    const qsizetype at = flat.indexOf(body);
    if (body.isEmpty() || at < 0)
        return QStringLiteral("not the passage's text");
    const qsizetype end = at + body.size();
    if ((at > 0 && !flat[at - 1].isSpace()) || (end < flat.size() && !flat[end].isSpace()))
        return QStringLiteral("cut inside a word");
    // Where a sentence or a line ends, or the passage itself says it was cut.
    const auto boundaryBefore = [&] {
        qsizetype k = at;
        while (k > 0 && passageText[k - 1] == u' ')
            --k;
        return k == 0 ? !passageText.startsWith(cut) : passageText[k - 1] == u'\n' || endsSentence(passageText[k - 1]);
    };
    const auto boundaryAfter = [&] {
        if (endsSentence(passageText[end - 1]))
            return true;
        qsizetype k = end;
        while (k < passageText.size() && passageText[k] == u' ')
            ++k;
        return k == passageText.size() ? !passageText.endsWith(cut) : passageText[k] == u'\n';
    };
    if (!cutBefore && !boundaryBefore())
        return QStringLiteral("cut before without «…»");
    if (!cutAfter && !boundaryAfter())
        return QStringLiteral("cut after without «…»");
    const QStringList words = Arabic::tokens(body);
    static const QStringList nameLinks{QStringLiteral("بن"), QStringLiteral("ابن"), QStringLiteral("بنت"),
                                       QStringLiteral("ابو"), QStringLiteral("ابي"), QStringLiteral("عبد")};
    if (!words.isEmpty() && (nameLinks.contains(words.last()) || words.first() == QStringLiteral("بن")))
        return QStringLiteral("inside a name");
    const QString norm = words.join(u' ');
    for (const QString& inside : {QStringLiteral("صلي الله"), QStringLiteral("رضي الله")}) {
        if (norm.endsWith(u' ' + inside))
            return QStringLiteral("ends inside a formula");
    }
    for (const QString& inside : {QStringLiteral("الله عليه وسلم"), QStringLiteral("عليه وسلم"), QStringLiteral("وسلم")}) {
        if (norm.startsWith(inside))
            return QStringLiteral("begins inside a formula");
    }
    return QString();
}

} // namespace

// Every quotation of the six report modes is its page's text as it stands,
// cut only where it says «…»: a views quotation that runs across a chapter
// heading the report leaves out marks the cut; takhrij quotes no chapter
// heading. (The Quran's verses are shown as verses, not as their stored
// records, and are left aside.)
TEST(ReportsSample, everyQuotationIsItsPagesTextOrMarksItsCuts)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    const Library& lib = *sample.lib;
    const QRegularExpression quotation(QStringLiteral("«([^«]*)» \\[(\\d+)\\]$"), QRegularExpression::MultilineOption);
    const QString cut(QChar(0x2026));
    int quoted = 0;
    int marked = 0;
    int badlyCut = 0;
    // Words of law and ethics, names and hadith texts: each asked of all six.
    for (const QString& q : {QStringLiteral("السلف"), QStringLiteral("الطلاق"), QStringLiteral("الربا"),
                             QStringLiteral("الصبر"), QStringLiteral("الوضوء"), QStringLiteral("الغيبة"),
                             QStringLiteral("حكم الخمر"), QStringLiteral("الشفعة للجار"), QStringLiteral("ما معنى الغرر؟"),
                             QStringLiteral("عبد الله بن عمر"), QStringLiteral("مالك بن أنس"),
                             QStringLiteral("إنما الأعمال بالنيات"), QStringLiteral("الولد للفراش وللعاهر الحجر"),
                             QStringLiteral("من غشنا فليس منا"), QStringLiteral("لا ضرر ولا ضرار")}) {
        const QList<std::pair<const char*, Reports::Built>> reports{
            {"views", Reports::views(lib, q, std::nullopt)},         {"history", Reports::history(lib, q, std::nullopt)},
            {"term", Reports::term(lib, q, std::nullopt)},           {"biography", Reports::biography(lib, q, std::nullopt)},
            {"takhrij", Reports::takhrij(*sample.lib, q, std::nullopt)}, {"sources", Reports::sources(lib, q, std::nullopt)}};
        for (const auto& [mode, built] : reports) {
            SCOPED_TRACE((QString::fromLatin1(mode) + u' ' + q).toStdString());
            for (auto it = quotation.globalMatch(built.text); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                const int n = m.captured(2).toInt();
                ASSERT_TRUE(n >= 1 && n <= built.passages.size()) << m.captured(0).toStdString();
                const Passage& p = built.passages[n - 1];
                if (p.bookId == 100)
                    continue;
                const std::optional<Page> page = lib.page(p.pageId);
                ASSERT_TRUE(page);
                const QString text = asRead(page->content);
                const QString said = m.captured(1);
                ++quoted;
                if (const QString why = badCut(said, Reports::footnotesLabelled(p.text)); !why.isEmpty()) {
                    ++badlyCut;
                    ADD_FAILURE() << why.toStdString() << ": «" << said.toStdString() << "»";
                }
                if (said.mid(1, said.size() - 2).contains(cut))
                    ++marked;
                // A book's place quotes its text of the hadith, never the
                // chapter heading over it, even on the isnad's own line.
                if (std::strcmp(mode, "takhrij") == 0) {
                    QStringList opening = Arabic::tokens(said);
                    while (!opening.isEmpty() && opening.first().front().isDigit())
                        opening.removeFirst();
                    EXPECT_NE(opening.value(0), QStringLiteral("باب")) << said.toStdString();
                }
                for (const QString& piece : said.split(cut, Qt::SkipEmptyParts)) {
                    if (!piece.simplified().isEmpty()) {
                        EXPECT_TRUE(text.contains(piece.simplified())) << said.toStdString();
                    }
                }
            }
        }
    }
    EXPECT_GT(quoted, 150);
    EXPECT_GT(marked, 0);
    EXPECT_EQ(badlyCut, 0);
}

// A report's search matches the question's words as words, with their
// attached letters and endings: «الربا» is not the first letters of «رباح»
// or «رباعيا», so every passage quoted holds it.
TEST(ReportsSample, reportSearchesMatchWholeWords)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    const Library& lib = *sample.lib;
    const QString q = QStringLiteral("الربا");
    const std::shared_ptr<const Arabic::FormSet> forms = Arabic::wordForms(Reports::keys(q).first());
    const QRegularExpression quotation(QStringLiteral("«([^«]*)» \\[(\\d+)\\]$"), QRegularExpression::MultilineOption);
    for (const auto& [mode, built] : QList<std::pair<const char*, Reports::Built>>{
             {"views", Reports::views(lib, q, std::nullopt)},
             {"history", Reports::history(lib, q, std::nullopt)},
             {"sources", Reports::sources(lib, q, std::nullopt)}}) {
        SCOPED_TRACE(mode);
        ASSERT_FALSE(built.passages.isEmpty());
        for (auto it = quotation.globalMatch(built.text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const Passage& p = built.passages[m.captured(2).toInt() - 1];
            // The Quran writes the word «الربوا».
            if (p.bookId == 100)
                continue;
            const QStringList words = Arabic::tokens(m.captured(1));
            EXPECT_TRUE(std::any_of(words.begin(), words.end(), [&](const QString& w) { return forms->contains(w); }))
                << m.captured(1).toStdString();
        }
    }
}

TEST_F(ReportsLibrary, takhrijListsEachBookOnceWithItsPlacesAndSourcesFallsBackToAnyTerm)
{
    const QString hadith = QStringLiteral("إنما الأعمال بالنيات وإنما لكل امرئ ما نوى");
    const auto lib = make({"INSERT INTO authors(id, name, death_year) VALUES(1, 'البخاري', 256), (2, 'مسلم', 261)",
                           "INSERT INTO books(id, title, author_id) VALUES(1, 'صحيح مسلم', 2), (2, 'صحيح البخاري', 1)"},
                          {{1, 1, 5, hadith}, {2, 1, 9, hadith}, {3, 2, 4, QStringLiteral("حدثنا الحميدي ") + hadith},
                           {4, 2, 7, QStringLiteral("باب الزكاة")}});
    ASSERT_TRUE(lib);
    EXPECT_EQ(Reports::takhrij(*lib, QStringLiteral("الأعمال"), std::nullopt).text,
              QStringLiteral("اكتب نصا من كلمتين على الأقل."));
    const auto built = Reports::takhrij(*lib, QStringLiteral("إنما الأعمال بالنيات"), std::nullopt);
    ASSERT_EQ(built.passages.size(), 2);
    EXPECT_EQ(built.passages[0].bookTitle, QStringLiteral("صحيح البخاري")); // the older author first
    EXPECT_EQ(built.passages[1].seq, 5);
    EXPECT_TRUE(built.text.startsWith(QStringLiteral("## الخلاصة\nورد النص بلفظه في 3 صفحات من كتابين؛ أقدم من أورده")));
    EXPECT_TRUE(built.text.contains(QStringLiteral("- مسلم (ت 261) في «صحيح مسلم» (موضعين): «")));
    EXPECT_EQ(built.text.count(QStringLiteral("في «صحيح مسلم» (")), 1);
    const QString thirteen = QStringLiteral("ا ب ت ث ج ح خ د ذ ر ز س ش");
    EXPECT_EQ(Reports::takhrij(*lib, thirteen, std::nullopt).text,
              QStringLiteral("لم يرد النص بلفظه في كتب المكتبة (بحث بأول 12 كلمة منه). جرب جزءا أقصر منه."));

    // No book holds both words: any of them will do.
    const auto sources = Reports::sources(*lib, QStringLiteral("الزكاة النيات"), std::nullopt);
    EXPECT_TRUE(sources.text.contains(QStringLiteral("## أوسع الكتب تناولا للموضوع\n1. ")));
    EXPECT_FALSE(sources.passages.isEmpty());
    const auto both = Reports::sources(*lib, QStringLiteral("الأعمال النيات"), std::nullopt);
    EXPECT_TRUE(both.text.contains(QStringLiteral("## الخلاصة\nورد «الأعمال النيات» في 3 صفحات من كتابين.")))
        << both.text.toStdString();
    // Each book's count stands alone after the dash, in the nominative.
    EXPECT_TRUE(both.text.contains(QStringLiteral("1. صحيح مسلم · مسلم (ت 261) – صفحتان\n"))) << both.text.toStdString();
    EXPECT_TRUE(both.text.contains(QStringLiteral("البخاري (ت 256) – صفحة واحدة\n"))) << both.text.toStdString();
}

TEST_F(ReportsLibrary, takhrijListsTwentyFiveBooksAndCountsTheRest)
{
    const QString hadith = QStringLiteral("الدين النصيحة لله ولكتابه");
    QList<std::tuple<int, int, int, QString>> pages;
    for (int book = 1; book <= 27; ++book)
        pages.append({book, book, 1, hadith});
    const auto lib = make({"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 27) "
                           "INSERT INTO books(id, title, book_date) SELECT i, 'كتاب ' || i, 100 + i FROM n"},
                          pages);
    ASSERT_TRUE(lib);
    const auto built = Reports::takhrij(*lib, QStringLiteral("الدين النصيحة"), std::nullopt);
    EXPECT_EQ(built.passages.size(), 25);
    EXPECT_TRUE(built.text.contains(QStringLiteral("ورد النص بلفظه في 27 صفحة من 27 كتابا؛")));
    EXPECT_TRUE(built.text.endsWith(QStringLiteral("\nوفي كتابين أخرى؛ افتح «البحث» بالنص نفسه لتراها كلها.\n")))
        << built.text.toStdString();
}

namespace {

// Report answering with the fake server as the model.
class ReportAnswering : public test::FakeServerTest {
protected:
    void SetUp() override
    {
        test::FakeServerTest::SetUp();
        Settings::setIndicDigits(false);
        const QString path = test::FixtureLibrary::custom(
            libDir_.path(), QStringLiteral("answering.db"),
            {"INSERT INTO authors(id, name, death_year) VALUES(1, 'مالك', 179), (2, 'الشافعي', 204)",
             "INSERT INTO books(id, title, author_id) VALUES(1, 'الموطأ', 1), (2, 'الأم', 2)"});
        const auto db = SQLiteDB::open(path, false);
        const QList<std::pair<int, QString>> pages{
            {1, QStringLiteral("قال مالك صلاة الجماعة تفضل صلاة الفذ بسبع وعشرين درجة")},
            {2, QStringLiteral("قال الشافعي لا أرخص في ترك صلاة الجماعة إلا من عذر")}};
        for (const auto& [id, content] : pages) {
            const QString norm = Arabic::normalize(content);
            db->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(?,?,1,?,?)"),
                    {id, id, content, norm});
            db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"),
                    {id, norm, id, id});
        }
        lib_ = Library::open(path);
        ASSERT_TRUE(lib_);
    }
    AIAnswer ask(AIMode mode, const QString& reply, const QString& q = QStringLiteral("صلاة الجماعة"))
    {
        script_ = useScript(QStringLiteral("model.gguf"),
                            QStringLiteral("delta ") + QString::fromStdString(Json::dump(Json::toJson(reply)))
                                + QStringLiteral("\ndone\n"));
        return AIAssistant::run(*lib_, q, mode);
    }
    QStringList requests() const { return logLines(script_, ".requests"); }

    ScopedEnv noSmart_{"QUORVEL_NO_SMART", QStringLiteral("1")};
    ScopedEnv userDb_{"QUORVEL_USERDB", QStringLiteral(":memory:")};
    QTemporaryDir libDir_;
    std::shared_ptr<Library> lib_;
    QString script_;
};

const QString goodReply = QStringLiteral("صلاة الجماعة تفضل صلاة الفذ. «صلاة الجماعة تفضل صلاة الفذ بسبع» "
                                         "«لا أرخص في ترك صلاة الجماعة» «قال مالك صلاة الجماعة» «قول لا يوجد في أي كتاب»");

} // namespace

TEST_F(ReportAnswering, computedReportsAndEmptyReportsNeverAskTheModel)
{
    const AIAnswer sources = ask(AIMode::sources, goodReply);
    EXPECT_TRUE(sources.structured);
    EXPECT_FALSE(sources.passages.isEmpty());
    EXPECT_EQ(sources.tier, 0);
    EXPECT_FALSE(sources.note);
    const AIAnswer takhrij = ask(AIMode::takhrij, goodReply, QStringLiteral("صلاة الجماعة تفضل"));
    EXPECT_EQ(takhrij.passages.size(), 1);
    const AIAnswer nothing = ask(AIMode::views, goodReply, QStringLiteral("الزكاة"));
    EXPECT_EQ(nothing.text, Reports::notFound());
    EXPECT_TRUE(nothing.verifiedAll);
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_TRUE(launches(script_).isEmpty());
}

TEST_F(ReportAnswering, anAcceptedSummaryGoesOnTopWithItsCounts)
{
    const AIAnswer a = ask(AIMode::views, goodReply);
    EXPECT_EQ(a.tier, 1);
    EXPECT_EQ(a.quoteCount, 3);
    EXPECT_EQ(a.failedQuotes, 1);
    EXPECT_FALSE(a.verifiedAll);
    EXPECT_FALSE(a.note);
    EXPECT_TRUE(a.text.startsWith(QStringLiteral("## خلاصة النموذج\n"))) << a.text.toStdString();
    EXPECT_LT(a.text.indexOf(QStringLiteral("## خلاصة النموذج")), a.text.indexOf(QStringLiteral("## الخلاصة")));
    EXPECT_EQ(a.rawText, goodReply);
    ASSERT_EQ(requests().size(), 1);
    const Json::Value body = Json::parse(requests()[0].toUtf8()).value_or(Json::Value());
    EXPECT_EQ(Json::qstr(body["messages"][0]["content"].get<std::string>()),
              AIAssistant::kashifPrompt(QStringLiteral("ما أقوال العلماء في صلاة الجماعة؟ اذكر كل قول وصاحبه."),
                                        a.passages));
}

TEST_F(ReportAnswering, rejectedSummariesAndFailedChatsLeaveTheReportWithANote)
{
    const AIAnswer noQuote = ask(AIMode::history, QStringLiteral("صلاة الجماعة فضيلة عظيمة"));
    EXPECT_EQ(noQuote.note, QStringLiteral("لم تجتز خلاصة النموذج فحص المصادر، فيعرض التقرير المبني من نصوص الكتب حرفيا."));
    EXPECT_EQ(noQuote.rawText, QStringLiteral("صلاة الجماعة فضيلة عظيمة"));
    EXPECT_EQ(noQuote.tier, 0);
    EXPECT_TRUE(noQuote.verifiedAll);
    EXPECT_FALSE(noQuote.text.contains(QStringLiteral("خلاصة النموذج")));

    const AIAnswer said = ask(AIMode::views, goodReply + QStringLiteral(" والباقي غير موجود في السياق"));
    EXPECT_TRUE(said.note);
    EXPECT_EQ(said.tier, 0);

    script_ = useScript(QStringLiteral("model.gguf"), QStringLiteral("status 500\nbody down\n"));
    const AIAnswer failed = AIAssistant::run(*lib_, QStringLiteral("صلاة الجماعة"), AIMode::views);
    EXPECT_EQ(failed.note, QStringLiteral("تعذر الاتصال بالنموذج؛ يعرض التقرير المبني من نصوص الكتب حرفيا."));
    EXPECT_TRUE(failed.rawText.isEmpty());
    EXPECT_TRUE(failed.text.startsWith(QStringLiteral("## الخلاصة")));

    // A summary the reader stops is said as stopped, not as a lost connection.
    script_ = useScript(QStringLiteral("model.gguf"), QStringLiteral("delta \"صلاة\"\npause 120000\ndone\n"));
    const AIAnswer stopped = AIAssistant::run(*lib_, QStringLiteral("صلاة الجماعة"), AIMode::views, std::nullopt,
                                              [](const QString&) { LocalLLM::stopReply(); });
    EXPECT_EQ(stopped.note, QStringLiteral("أوقفتَ كتابة الخلاصة؛ يعرض التقرير المبني من نصوص الكتب حرفيا."));
    EXPECT_TRUE(stopped.cutShort);
    EXPECT_TRUE(stopped.text.startsWith(QStringLiteral("## الخلاصة")));
}
