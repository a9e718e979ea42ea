#include "scholar/Isnad.h"

#include "DerivedTables.h"
#include "core/Arabic.h"
#include "core/Py.h"
#include "core/PyRegex.h"
#include "core/SQLiteDB.h"
#include "support/CorpusText.h"

#include <sqlite3.h>

#include <QHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

QStringList names(std::initializer_list<const char16_t*> list)
{
    QStringList out;
    for (const char16_t* name : list)
        out.append(u(name));
    return out;
}

// A chain written place by place, each place one or more names.
Isnad::Chain route(std::initializer_list<std::initializer_list<const char16_t*>> places)
{
    Isnad::Chain out;
    for (const auto& place : places)
        out.append(names(place));
    return out;
}

// Page `seq` (1-based, file order) of a tests/data book.
QString page(const char* book, int seq)
{
    const QStringList pages = test::bookPages(QString::fromLatin1(book));
    return seq >= 1 && seq <= pages.size() ? pages[seq - 1] : QString();
}

// Page `seq` of a book of the bundled sample library ("samples/books").
QString samplePage(int book, int seq)
{
    static QHash<int, QStringList> books;
    auto it = books.find(book);
    if (it == books.end())
        it = books.insert(book, test::bookPages(QStringLiteral("../../samples/books/%1.json").arg(book, 3, 10, QLatin1Char('0'))));
    return seq >= 1 && seq <= it->size() ? (*it)[seq - 1] : QString();
}

// One numbered hadith of a page: from its number to the end of its line.
QString hadith(const QString& pageText, int number, const QString& separator)
{
    const QString head = QString::number(number) + separator + u(u"حدثنا");
    const qsizetype start = pageText.indexOf(head);
    if (start < 0)
        return {};
    const qsizetype end = pageText.indexOf(QLatin1Char('\n'), start);
    return pageText.mid(start, end < 0 ? -1 : end - start);
}

// Two verses of al-Shafi'i's diwan, and a verse of the Quran: texts without
// any chain of narrators.
const QString poetry = QString::fromUtf16(
    u"دع الأيام تفعل ما تشاء ... وطب نفسا إذا حكم القضاء\n"
    u"ولا تجزع لحادثة الليالي ... فما لحوادث الدنيا بقاء");

} // namespace

TEST(IsnadText, onlyOpeningVerbsOpenAChainAndMarksAreIgnored)
{
    const QString voweled = u(u"حَدَّثَنَا مُحَمَّدُ بْنُ بَشَّارٍ قَالَ: الحديث");
    EXPECT_TRUE(Isnad::hasIsnad(voweled));
    EXPECT_EQ(Isnad::chain(voweled), names({u"محمد بن بشار"}));
    EXPECT_EQ(Isnad::stripTashkeel(u(u"حَدَّثَـنَا ٰ\u06D6ا\u0653")), u(u"حدثنا آ"));
    // A hamza or madda written as a mark is the letter it composes to, and a
    // direction mark inside a word splits nothing.
    for (const char16_t* text : {u"حدثنا مح\u200Fمد عن ا\u0654بي هريرة قال: كذا", u"حدثنا محمد عن أبي هريرة قال: كذا",
                                 u"حدثنا مح\u202Bمد عن ا\u064E\u0654بي هريرة قال: كذا"})
        EXPECT_EQ(Isnad::chain(u(text)), names({u"محمد", u"أبو هريرة"})) << qPrintable(u(text));
    EXPECT_EQ(Isnad::stripTashkeel(u(u"سو\u0654ال ا\u0655سماعيل ي\u0654\u0654س")), u(u"سؤال إسماعيل ئس"));

    // عن and أنبأنا link narrators but do not open a chain; the opener needs a
    // boundary after it.
    for (const char16_t* text : {u"عن مالك عن نافع عن ابن عمر", u"أنبأنا مالك عن نافع", u"حدثنامالك"}) {
        EXPECT_FALSE(Isnad::hasIsnad(u(text))) << qPrintable(u(text));
        EXPECT_TRUE(Isnad::chain(u(text)).isEmpty()) << qPrintable(u(text));
    }
    EXPECT_TRUE(Isnad::hasIsnad(u(u"وأخبرني مالك")));
}

TEST(IsnadText, cleanNarratorStripsFormulasAndParticles)
{
    EXPECT_EQ(Isnad::cleanNarrator(u(u"أبو هريرة رضي الله عنه ")), u(u"أبو هريرة"));
    EXPECT_EQ(Isnad::cleanNarrator(u(u"ابن عمر رضي الله تعالى عنهما")), u(u"ابن عمر"));
    EXPECT_EQ(Isnad::cleanNarrator(u(u"النبي صلى الله عليه وسلم أنه نهى")), u(u"النبي"));
    EXPECT_EQ(Isnad::cleanNarrator(u(u"سفيان و ")), u(u"سفيان"));
    EXPECT_EQ(Isnad::cleanNarrator(u(u"(مالك)، 12 : ما بعده")), u(u"مالك"));
    EXPECT_EQ(Isnad::cleanNarrator(u(u"يحيى\u00A0\u00A0بن\tسعيد")), u(u"يحيى بن سعيد"));
    EXPECT_EQ(Isnad::cleanNarrator(u(u"و")), u(u"و"));
    EXPECT_EQ(Isnad::cleanNarrator(u(u"123 ...")), QString());
}

TEST(IsnadText, chainRules)
{
    // قال with a colon before the report's words ends the chain; قال
    // without one ends a name.
    EXPECT_EQ(Isnad::chain(u(u"حدثنا محمد بن بشار قال حدثنا يحيى عن سفيان قال: كان فلان يروي عن فلان")),
              names({u"محمد بن بشار", u"يحيى", u"سفيان"}));
    EXPECT_EQ(Isnad::chain(u(u"أخبرنا مالك عن عائشة قالت : كان النبي")), names({u"مالك", u"عائشة"}));
    // "مثل ذلك" or "في …" after a name is the report, not part of the name.
    EXPECT_EQ(Isnad::chain(u(u"حدثنا شعبة عن قتادة مثل حديث سمرة بن جندب")), names({u"شعبة", u"قتادة"}));
    EXPECT_EQ(Isnad::chain(u(u"حدثنا وكيع عن سفيان بن عيينة في بيته")), names({u"وكيع", u"سفيان بن عيينة"}));
    // عن links only as a word of its own: معن is a name. Repeats stay.
    EXPECT_EQ(Isnad::chain(u(u"حدثنا معن بن عيسى عن مالك عن نافع عن مالك")),
              names({u"معن بن عيسى", u"مالك", u"نافع", u"مالك"}));
    // Particles and single letters are not names; ten words or 56 code
    // points are the report's text, which ends the chain until the next
    // حدثنا.
    const QString name55 = QString(55, QChar(u'م'));
    const QString text = u(u"حدثنا ال عن ف عن ب عن م عن مالك عن ا ب ت ث ج ح خ د ذ ر عن نافع حدثنا ")
        + QString(56, QChar(u'م')) + u(u" عن سالم حدثنا ") + name55 + u(u" عن نافع");
    EXPECT_EQ(Isnad::chains(text),
              (QList<Isnad::Chain>{route({{u"مالك"}}), Isnad::Chain{{name55}, {u(u"نافع")}}}));
}

// A takhrij note quoting a chain closes at its bracket: its narrator is
// nobody's student or teacher in the report on the next line.
TEST(IsnadText, aNoteQuotingAChainEndsAtItsBracket)
{
    const QString text = u(u"(1) [رواه أحمد في مسنده قال حدثنا وكيع]\nحدثنا محمد بن بشار عن سفيان قال: كذا");
    EXPECT_EQ(Isnad::chains(text), (QList<Isnad::Chain>{route({{u"وكيع"}}), route({{u"محمد بن بشار"}, {u"سفيان"}})}));
    EXPECT_FALSE(Isnad::edges(text).contains(std::pair(u(u"وكيع"), u(u"محمد بن بشار"))));
    // A change of route in brackets goes on to the next line.
    EXPECT_EQ(Isnad::chains(u(u"حدثنا علي قال حدثنا شريك [ح]\n- وحدثنا موسى قال حدثنا شريك عن سالم قال: كذا")),
              (QList<Isnad::Chain>{route({{u"علي"}, {u"شريك"}, {u"سالم"}}), route({{u"موسى"}, {u"شريك"}, {u"سالم"}})}));
}

// «قال فلان فحدثني …» inside a report: the route is his only where a chain
// before it names him; other words after «قال» are the report's.
TEST(IsnadText, aRouteOpenedInsideAReportBeginsWithASpeakerAChainNamed)
{
    EXPECT_EQ(Isnad::chains(u(u"حدثنا علي عن الزهري عن سالم قال: كذا. قال الزهري فحدثني سعيد عن أنس قال: كذا")),
              (QList<Isnad::Chain>{route({{u"علي"}, {u"الزهري"}, {u"سالم"}}),
                                   route({{u"الزهري"}, {u"سعيد"}, {u"أنس"}})}));
    EXPECT_EQ(Isnad::chains(u(u"حدثنا علي عن الزهري قال: كذا. قال فلقيت عمرا فحدثني عن أنس قال: كذا")),
              (QList<Isnad::Chain>{route({{u"علي"}, {u"الزهري"}}), route({{u"أنس"}})}));
}

// Each text is one class of wording; the chains are the reader's.
struct ChainCase
{
    const char* what;
    const char16_t* text;
    QList<Isnad::Chain> expected;
};

// Routes as a reader writes them: "A > B|C" each, one per line.
std::string written(const QList<Isnad::Chain>& chains)
{
    QStringList routes;
    for (const Isnad::Chain& chain : chains) {
        QStringList places;
        for (const Isnad::Link& place : chain)
            places.append(place.join(u'|'));
        routes.append(places.join(QStringLiteral(" > ")));
    }
    return routes.join(u'\n').toStdString();
}

void expectFiledChains(const QList<ChainCase>& cases)
{
    for (const ChainCase& c : cases)
        EXPECT_EQ(written(Isnad::filedChains(u(c.text))), written(c.expected)) << c.what;
}

TEST(IsnadText, namesAreReadAsTheBooksWriteThem)
{
    expectFiledChains({
        {"a name before «بن» is no kunya", u"حدثنا إسماعيل عن سعيد بن المسيب عن أبي بن كعب قال: كذا",
         {route({{u"إسماعيل"}, {u"سعيد بن المسيب"}, {u"أبي بن كعب"}})}},
        {"«حدثني أبي» and his name", u"حدثنا عبيد الله حدثني أبي عبد الملك بن أبجر عن الشعبي قال: كذا",
         {route({{u"عبيد الله"}, {u"عبد الملك بن أبجر"}, {u"الشعبي"}})}},
        {"«عن أبي» and a name is a kunya", u"حدثنا مسدد عن أبي عوانة عن قتادة قال: كذا",
         {route({{u"مسدد"}, {u"أبو عوانة"}, {u"قتادة"}})}},
        {"معن before عن", u"حدثنا قتيبة ثنا معن بن عيسى عن مالك قال: كذا",
         {route({{u"قتيبة"}, {u"معن بن عيسى"}, {u"مالك"}})}},
        {"معن between two links", u"حدثنا سهل ثنا معن ثنا مالك عن نافع قال: كذا",
         {route({{u"سهل"}, {u"معن"}, {u"مالك"}, {u"نافع"}})}},
        {"a link word an editor put in brackets",
         u"حدثنا زكريا، قال: [حدثنا] أحمد بن الخليل، قال: حدثنا علي بن عاصم، عن داود بن أبي هند، قال: كذا",
         {route({{u"زكريا"}, {u"أحمد بن الخليل"}, {u"علي بن عاصم"}, {u"داود بن أبي هند"}})}},
        {"a kunya and a name that begins with و", u"حدثني يحيى عن مالك عن أبي نعيم وهب بن كيسان أنه سمع جابرا يقول كذا",
         {route({{u"يحيى"}, {u"مالك"}, {u"أبو نعيم وهب بن كيسان"}, {u"جابر"}})}},
        {"an uncle whose name begins with و",
         u"حدثني يحيى عن مالك عن محمد بن يحيى بن حبان عن عمه واسع بن حبان أنه قال * كذا",
         {route({{u"يحيى"}, {u"مالك"}, {u"محمد بن يحيى بن حبان"}, {u"واسع بن حبان"}})}},
        {"my father and a second narrator",
         u"حدثنا محمد بن عبد الله بن نمير ثنا أبي ومحمد بن بشر قالا ثنا إسماعيل عن قيس قال: كذا",
         {route({{u"محمد بن عبد الله بن نمير"}, {u"عبد الله بن نمير", u"محمد بن بشر"}, {u"إسماعيل"}, {u"قيس"}})}},
        {"«أبى وقاص» after a kin word", u"حدثنا يوسف ثنا حماد عن مصعب بن سعد عن أبيه سعد بن أبى وقاص قال: كذا",
         {route({{u"يوسف"}, {u"حماد"}, {u"مصعب بن سعد"}, {u"سعد بن أبى وقاص"}})}},
    });
}

TEST(IsnadText, wordsThatAreNoPartOfAName)
{
    expectFiledChains({
        {"the mode of hearing", u"حدثنا محمد بن سليمان وبعضه قراءة عليه عن سفيان عن الزهري قال: كذا",
         {route({{u"محمد بن سليمان"}, {u"سفيان"}, {u"الزهري"}})}},
        {"«قراءة عليه» after the name", u"حدثنا يحيى عن مالك قراءة عليه عن نافع قال: كذا",
         {route({{u"يحيى"}, {u"مالك"}, {u"نافع"}})}},
        {"the narrator's own words", u"حدثنا مسدد عن سفيان عن أبي هريرة يرويه قال كذا",
         {route({{u"مسدد"}, {u"سفيان"}, {u"أبو هريرة"}})}},
        {"«يخطب»", u"حدثنا علي ثنا جعفر عن عوف قال سمعت الحجاج يخطب وهو يقول كذا",
         {route({{u"علي"}, {u"جعفر"}, {u"عوف"}, {u"الحجاج"}})}},
        {"«أملاه علي»", u"حدثنا محمد ثنا أبو داود أملاه علي ثنا شعبة قال: كذا",
         {route({{u"محمد"}, {u"أبو داود"}, {u"شعبة"}})}},
        {"«إملاء علي»", u"حدثنا محمد أنبأنا عبد الرزاق إملاء علي أنبأنا ابن جريج قال: كذا",
         {route({{u"محمد"}, {u"عبد الرزاق"}, {u"ابن جريج"}})}},
        {"«وقرأته على فلان» beside the one who told it",
         u"حدثنا عمرو بن عثمان وقرأته على يزيد بن عبد ربه قالا ثنا الوليد عن يحيى قال: كذا",
         {route({{u"عمرو بن عثمان", u"يزيد بن عبد ربه"}, {u"الوليد"}, {u"يحيى"}})}},
        {"an unnamed man stops the route", u"حدثنا مالك عن عبد الله بن أبي بكر عمن حدثه عن أبي هريرة عن كعب قال: كذا",
         {route({{u"مالك"}, {u"عبد الله بن أبي بكر"}}), route({{u"أبو هريرة"}, {u"كعب"}})}},
        {"a man described, not named, stops the route",
         u"حدثنا أبو بكر ثنا يزيد ثنا عبد الله بن يزيد عن رجل من أهل مصر عن سرق * أن النبي قضى كذا",
         {route({{u"أبو بكر"}, {u"يزيد"}, {u"عبد الله بن يزيد"}}), route({{u"سرق"}})}},
        {"the verse a report explains, between two links",
         u"حدثنا موسى قال حدثنا مسلم عن ابن أبي نجيح في قوله عز وجل: {لن تنالوا البر} قال: سمعت مجاهدا يقول: كذا",
         {route({{u"موسى"}, {u"مسلم"}, {u"ابن أبي نجيح"}, {u"مجاهد"}})}},
        {"a narrator's doubt about the next link",
         u"حدثنا أبو كريب ثنا مروان ثنا هلال بن ميمون عن عطاء بن يزيد الليثي قال عطاء لا أعلمه إلا عن أبي سعيد * أن رسول الله كذا",
         {route({{u"أبو كريب"}, {u"مروان"}, {u"هلال بن ميمون"}, {u"عطاء بن يزيد الليثي"}, {u"أبو سعيد"}})}},
        {"…and one who reckons it", u"حدثنا علي ثنا سفيان عن الزهري قال ابن عيينة أراه عن عروة عن عائشة قالت: كذا",
         {route({{u"علي"}, {u"سفيان"}, {u"الزهري"}, {u"عروة"}, {u"عائشة"}})}},
        {"a pronoun after the report told", u"حدثنا محمد ثنا سليمان عن ربيعة قال سليمان فقلت له إن ربيعة أخبرني به عنك قال كذا",
         {route({{u"محمد"}, {u"سليمان"}, {u"ربيعة"}})}},
        {"the one asked at the report's start gives it",
         u"حدثنا القعنبي عن مالك عن هشام بن عروة عن أبيه أنه قال * سئل أسامة بن زيد وأنا جالس كيف كان كذا",
         {route({{u"القعنبي"}, {u"مالك"}, {u"هشام بن عروة"}, {u"عروة"}, {u"أسامة بن زيد"}})}},
        {"one told another in his hearing",
         u"حدثنا محمد ثنا سفيان عن عبد الله بن أبي بكر قال سمعت عباد بن تميم يحدث أبي عن عمه أنه * شهد كذا",
         {route({{u"محمد"}, {u"سفيان"}, {u"عبد الله بن أبي بكر"}, {u"عباد بن تميم"}, {u"عم عباد بن تميم"}})}},
        {"more than one, not named", u"حدثنا علي عن سفيان عن غير واحد عن أنس قال: كذا",
         {route({{u"علي"}, {u"سفيان"}}), route({{u"أنس"}})}},
        {"a report whose chain opens with «عن»", u"حدثنا علي عن أنس قال: كذا.\n12 - عن مالك عن نافع عن ابن عمر قال: كذا",
         {route({{u"علي"}, {u"أنس"}}), route({{u"مالك"}, {u"نافع"}, {u"ابن عمر"}})}},
        {"a number in the report", u"حدثنا علي عن حماد عن عائشة عن ثلاثة عن النائم",
         {route({{u"علي"}, {u"حماد"}, {u"عائشة"}})}},
        {"«لنا» before the name", u"حدثنا حكيم عن الأسود قال قال لنا ابن مسعود حدثني عمر قال: كذا",
         {route({{u"حكيم"}, {u"الأسود"}, {u"ابن مسعود"}, {u"عمر"}})}},
        {"«بذلك» before the name", u"حدثنا أحمد حدثنا بذلك مسلم بن إبراهيم عن شعبة قال: كذا",
         {route({{u"أحمد"}, {u"مسلم بن إبراهيم"}, {u"شعبة"}})}},
        {"a description after her name", u"حدثنا مالك عن حميدة عن كبشة بنت كعب وكانت تحت ابن أبي قتادة أنها أخبرتها * كذا",
         {route({{u"مالك"}, {u"حميدة"}, {u"كبشة بنت كعب"}})}},
        {"«من سمع» is a man not named",
         u"حدثنا العباس ثنا الأوزاعي حدثني من سمع عطاء بن أبي رباح حدثني جابر قال: كذا",
         {route({{u"العباس"}, {u"الأوزاعي"}}), route({{u"عطاء بن أبي رباح"}, {u"جابر"}})}},
        {"«أخبرني» inside a report opens no chain",
         u"حدثنا مالك عن يحيى أنه قال دعا محمد رجلا فقال أخبرني بالذي سمعت من أبيك فقال كذا",
         {route({{u"مالك"}, {u"يحيى"}})}},
        {"the report named after the name", u"حدثنا عثمان ثنا حفص عن الأعمش بهذا الحديث وحديثه أتم قال: كذا",
         {route({{u"عثمان"}, {u"حفص"}, {u"الأعمش"}})}},
        {"a particle of the report is no name",
         u"حدثنا إسماعيل ثنا خلف ثنا أبو هاشم قال قال لولا حديث ابن بريدة عن أبيه قال * كذا",
         {route({{u"إسماعيل"}, {u"خلف"}, {u"أبو هاشم"}})}},
        {"«حدثنا» the report's sentence governs opens no chain",
         u"حدثنا علي عن أنس قال: قال عمر كما حدثنا به أبو هريرة عن كعب إن الله كذا",
         {route({{u"علي"}, {u"أنس"}})}},
        {"«يحدثنا» in the report opens no chain",
         u"حدثنا علي عن أنس قال: كان رسول الله يحدثنا عن بني إسرائيل عن موسى كذا",
         {route({{u"علي"}, {u"أنس"}})}},
        {"which man he is not", u"حدثنا علي عن سليمان عن أبي عثمان وليس بالنهدي عن أبيه عن معقل قال: كذا",
         {route({{u"علي"}, {u"سليمان"}, {u"أبو عثمان"}, {u"والد أبي عثمان"}, {u"معقل"}})}},
        {"what the report says of the men", u"حدثنا أبو بكر ثنا أبو خالد عن زيد بن ضميرة عن أبيه وعمه وكانا شهدا حنينا قالا * كذا",
         {route({{u"أبو بكر"}, {u"أبو خالد"}, {u"زيد بن ضميرة"}, {u"ضميرة", u"عم زيد بن ضميرة"}})}},
        {"all of them heard him", u"حدثنا علي ثنا وكيع وأبو معاوية كلهم عن الأعمش قال: كذا",
         {route({{u"علي"}, {u"وكيع", u"أبو معاوية"}, {u"الأعمش"}})}},
        {"…and tell it from the next one", u"حدثني يحيى عن مالك عن زيد عن عطاء وعن بسر كلهم يحدثونه عن أبي هريرة قال: كذا",
         {route({{u"يحيى"}, {u"مالك"}, {u"زيد"}, {u"عطاء", u"بسر"}, {u"أبو هريرة"}})}},
        {"a demonstrative after a name", u"حدثنا علي ثنا حماد عن الحسن هذه الآية قال: كذا",
         {route({{u"علي"}, {u"حماد"}, {u"الحسن"}})}},
        {"one asking", u"حدثني يحيى عن مالك أنه سمع ابن شهاب يسأل: كذا",
         {route({{u"يحيى"}, {u"مالك"}, {u"ابن شهاب"}})}},
        {"«ومن» after a name", u"حدثنا علي ثنا سفيان عن قتادة ومن تولى عن ذلك قال: كذا",
         {route({{u"علي"}, {u"سفيان"}, {u"قتادة"}})}},
        {"no name begins with «من»", u"حدثنا علي عن نافع أو من التابعين عن رجل قال: كذا",
         {route({{u"علي"}, {u"نافع"}})}},
        {"a description after the name", u"حدثنا يحيى عن مالك عن أم سلمة زوج النبي أن رسول الله قال * كذا",
         {route({{u"يحيى"}, {u"مالك"}, {u"أم سلمة"}})}},
        {"the verse a report explains", u"حدثنا بشر قال حدثنا يزيد عن قتادة قوله عز وجل: {ومن كفر} قال: كذا",
         {route({{u"بشر"}, {u"يزيد"}, {u"قتادة"}})}},
        {"a preposition after a name", u"حدثنا إبراهيم ثنا عطاء قال سمعت عليا على منبر الكوفة يقول * كذا",
         {route({{u"إبراهيم"}, {u"عطاء"}, {u"علي"}})}},
        {"…but «على» is a name after a kunya or before «بن»",
         u"حدثنا أبو على الهمداني عن أبي الحسن على بن محمد قال: كذا",
         {route({{u"أبو على الهمداني"}, {u"أبو الحسن على بن محمد"}})}},
        {"the story told", u"حدثنا مسدد ثنا يحيى عن أنس بهذه القصة قال: كذا",
         {route({{u"مسدد"}, {u"يحيى"}, {u"أنس"}})}},
        {"belonging to a man not named", u"حدثنا علي حدثني فلان لرجل من أصحاب النبي عن النبي قال: كذا",
         {route({{u"علي"}, {u"فلان"}})}},
        {"a relative described, not heard",
         u"حدثنا سهل ثنا أبو مكين حدثني إياس بن الحارث بن المعيقيب وجده من قبل أمه أبو ذباب عن جده قال: كذا",
         {route({{u"سهل"}, {u"أبو مكين"}, {u"إياس بن الحارث بن المعيقيب"}, {u"المعيقيب"}})}},
    });
}

TEST(IsnadText, aChapterHeadingEndsTheChainsBeforeIt)
{
    expectFiledChains({
        {"a titled heading", u"حدثنا علي عن حماد عن أنس باب الصلاة في الثوب حدثنا مسدد عن يحيى قال: كذا",
         {route({{u"علي"}, {u"حماد"}, {u"أنس"}}), route({{u"مسدد"}, {u"يحيى"}})}},
        {"a numbered heading", u"حدثنا علي عن حماد عن عائشة 12 باب إخراج المشركين حدثنا مسدد عن يحيى قال: كذا",
         {route({{u"علي"}, {u"حماد"}, {u"عائشة"}}), route({{u"مسدد"}, {u"يحيى"}})}},
    });
}

TEST(IsnadText, kinWordsNameOneManForEachStudent)
{
    expectFiledChains({
        {"a kin word before the name", u"حدثنا هشام عن خالد عن أبيه جبير بن نفير قال: كذا",
         {route({{u"هشام"}, {u"خالد"}, {u"جبير بن نفير"}})}},
        {"an uncle named", u"حدثني يحيى عن مالك عن عمه أبي سهيل عن أبيه قال: كذا",
         {route({{u"يحيى"}, {u"مالك"}, {u"أبو سهيل"}, {u"والد أبي سهيل"}})}},
        {"a grandfather", u"حدثنا علي ثنا محمد ثنا المقبري عن جده عن أبي هريرة قال: كذا",
         {route({{u"علي"}, {u"محمد"}, {u"المقبري"}, {u"جد المقبري"}, {u"أبو هريرة"}})}},
        {"a grandfather the name gives", u"حدثنا علي عن عمار بن سعد بن عائذ عن جده قال: كذا",
         {route({{u"علي"}, {u"عمار بن سعد بن عائذ"}, {u"عائذ"}})}},
        {"a mother, a brother", u"حدثنا علي عن ابن أبي مليكة عن أمه عن أخيه عن عائشة قال: كذا",
         {route({{u"علي"}, {u"ابن أبي مليكة"}, {u"والدة ابن أبي مليكة"}, {u"أخو والدة ابن أبي مليكة"}, {u"عائشة"}})}},
        {"a grandfather named by his father", u"حدثنا أبو بكر عن علي عن جده ابن عباس قال: كذا",
         {route({{u"أبو بكر"}, {u"علي"}, {u"ابن عباس"}})}},
        {"a kin word described by her lineage stays", u"حدثنا يزيد عن رباح أنه سمع جدته بنت سعيد قال: كذا",
         {route({{u"يزيد"}, {u"رباح"}, {u"جدته بنت سعيد"}})}},
        {"a relation and «له» are his kin word", u"حدثنا علي عن زيد عن عبد الجليل عن عم له بدري عن أبي هريرة قال: كذا",
         {route({{u"علي"}, {u"زيد"}, {u"عبد الجليل"}, {u"عم عبد الجليل"}, {u"أبو هريرة"}})}},
        {"the ل of belonging before a kunya", u"حدثنا النفيلي عن زيد عن ابن لأبي واقد الليثي عن أبيه قال: كذا",
         {route({{u"النفيلي"}, {u"زيد"}, {u"ابن أبي واقد الليثي"}, {u"أبو واقد الليثي"}})}},
        {"the ل of belonging after a relation", u"حدثنا مسدد عن ربعي عن أخت لحذيفة قال: كذا",
         {route({{u"مسدد"}, {u"ربعي"}, {u"أخت حذيفة"}})}},
        {"a relative's relative, named", u"حدثنا قتيبة ثنا رفاعة بن يحيى عن عم أبيه معاذ بن رفاعة عن أبيه قال: كذا",
         {route({{u"قتيبة"}, {u"رفاعة بن يحيى"}, {u"معاذ بن رفاعة"}, {u"رفاعة"}})}},
        {"a kin word, her relation and her name", u"حدثنا روح عن أبيه عنبسة عن جدته أم أبيه أم عياش وكانت أمة لرقية قالت * كذا",
         {route({{u"روح"}, {u"عنبسة"}, {u"أم عياش"}})}},
        {"a kin word no student is named before", u"قال رجل من أهله: حدثني أبي عن عامر عن أنس قال: كذا",
         {route({{u"عامر"}, {u"أنس"}})}},
        {"a student named bare is the man the page names in full",
         u"حدثنا عمر بن حفص بن غياث حدثنا أبي عن الأعمش قال: كذا. حدثنا عمر حدثنا أبي عن إبراهيم قال: كذا",
         {route({{u"عمر بن حفص بن غياث"}, {u"حفص بن غياث"}, {u"الأعمش"}}),
          route({{u"عمر"}, {u"حفص بن غياث"}, {u"إبراهيم"}})}},
        {"…unless it names two such men", u"حدثنا عمر بن حفص عن الأعمش قال: كذا. حدثنا عمر بن أبي سلمة عن الزهري قال: كذا. حدثنا عمر عن أبيه قال: كذا",
         {route({{u"عمر بن حفص"}, {u"الأعمش"}}), route({{u"عمر بن أبي سلمة"}, {u"الزهري"}}),
          route({{u"عمر"}, {u"والد عمر"}})}},
        {"relatives heard together are one man's", u"حدثنا هارون ثنا عبد الله بن إدريس عن أبيه وعمه عن جده قال: كذا",
         {route({{u"هارون"}, {u"عبد الله بن إدريس"}, {u"إدريس", u"عم عبد الله بن إدريس"}, {u"جد عبد الله بن إدريس"}})}},
    });
    // Once the library names his father, a student's fallback is that man.
    const QHash<QString, QString> named = Isnad::namedFallbacks(
        names({u"والد سهيل", u"سهيل بن أبي صالح", u"أبو صالح", u"والد سالم", u"سالم بن عبد الله",
               u"سالم بن أبي الجعد", u"عبد الله", u"والد زيد"}));
    EXPECT_EQ(named, (QHash<QString, QString>{{u(u"والد سهيل"), u(u"أبو صالح")}}));
}

TEST(IsnadText, routesAreParallelWhereTheTextJoinsThem)
{
    expectFiledChains({
        {"«وعن» besides a teacher", u"حدثنا مالك عن نافع وعن عبد الله بن دينار عن ابن عمر قال: كذا",
         {route({{u"مالك"}, {u"نافع", u"عبد الله بن دينار"}, {u"ابن عمر"}})}},
        {"«وعن» after a full stop opens a route of its own",
         u"حدثنا أحمد ثنا عبد العزيز عن العلاء عن أبي هريرة. وعن سهيل عن نافع عن ابن عمر قال: كذا",
         {route({{u"أحمد"}, {u"عبد العزيز"}, {u"العلاء"}, {u"أبو هريرة"}}),
          route({{u"سهيل"}, {u"نافع"}, {u"ابن عمر"}})}},
        {"a «وعن» route that ends where the route before does is its student's",
         u"حدثنا أحمد ثنا عبد العزيز عن العلاء عن أبيه عن أبي هريرة وعن سهيل عن أبيه عن أبي هريرة قال: كذا",
         {route({{u"أحمد"}, {u"عبد العزيز"}, {u"العلاء"}, {u"والد العلاء"}, {u"أبو هريرة"}}),
          route({{u"أحمد"}, {u"عبد العزيز"}, {u"سهيل"}, {u"والد سهيل"}, {u"أبو هريرة"}})}},
        {"…after a full stop too",
         u"حدثنا أحمد ثنا عبد العزيز عن العلاء عن أبي هريرة. وعن سهيل عن أبي هريرة قال: كذا",
         {route({{u"أحمد"}, {u"عبد العزيز"}, {u"العلاء"}, {u"أبو هريرة"}}),
          route({{u"أحمد"}, {u"عبد العزيز"}, {u"سهيل"}, {u"أبو هريرة"}})}},
        {"a doubt about a man not named", u"حدثنا علي حدثنا أبو حاتم أو رجل عنده قال نا أبو زيد عن أنس قال: كذا",
         {route({{u"علي"}, {u"أبو حاتم"}, {u"أبو زيد"}, {u"أنس"}})}},
        {"a doubt between two men", u"حدثنا علي عن ابن عباس عن الفضل أو أحدهما عن الآخر قال: كذا",
         {route({{u"علي"}, {u"ابن عباس"}, {u"الفضل"}})}},
        {"two sons of one father", u"حدثنا علي عن عمرو وعاصم ابني سفيان عن أبيهما قال: كذا",
         {route({{u"علي"}, {u"عمرو بن سفيان", u"عاصم بن سفيان"}, {u"سفيان"}})}},
        {"a route after ح joins the next where it stopped",
         u"حدثنا علي ثنا وكيع ح وحدثنا محمد ثنا أبو نعيم قال ثنا زمعة عن عيسى قال: كذا",
         {route({{u"علي"}, {u"وكيع"}, {u"زمعة"}, {u"عيسى"}}),
          route({{u"محمد"}, {u"أبو نعيم"}, {u"زمعة"}, {u"عيسى"}})}},
        {"a chain opened by «حدثناه»", u"قال أبو داود وكذلك حدثناه مسلم بن إبراهيم حدثنا أبان عن يحيى قال: كذا",
         {route({{u"مسلم بن إبراهيم"}, {u"أبان"}, {u"يحيى"}})}},
    });
}

TEST(IsnadCorpus, muwattaChainsCheckedByHand)
{
    // Page 14: حدثني يحيى عن مالك عن زيد بن أسلم عن عطاء بن يسار أن رسول الله ...
    EXPECT_EQ(Isnad::chain(page("books/001.json", 14)),
              names({u"يحيى", u"مالك", u"زيد بن أسلم", u"عطاء بن يسار"}));
    // Page 17: حدثني يحيى عن مالك عن عمرو بن يحيى المازني عن أبيه أنه قال ...
    // The chain keeps the page's «أبيه»; the graph files him by name.
    EXPECT_EQ(Isnad::chain(page("books/001.json", 17)),
              names({u"يحيى", u"مالك", u"عمرو بن يحيى المازني", u"أبيه"}));
    EXPECT_EQ(Isnad::filedChains(page("books/001.json", 17)).value(0),
              route({{u"يحيى"}, {u"مالك"}, {u"عمرو بن يحيى المازني"}, {u"يحيى المازني"}}));
    // Page 29: وحدثني عن مالك عن هشام بن عروة عن أبيه عن حمران مولى عثمان بن عفان أن ...
    EXPECT_EQ(Isnad::filedChains(page("books/001.json", 29)).value(0),
              route({{u"مالك"}, {u"هشام بن عروة"}, {u"عروة"}, {u"حمران مولى عثمان بن عفان"}}));
}

TEST(IsnadCorpus, ibnMajahChainsCheckedByHand)
{
    // Second transcription, page 23: the page opens inside an earlier report
    // (عن عبد الله قال: ...), which does not count; hadith 60 opens the chain.
    EXPECT_EQ(Isnad::chain(page("books/003.json", 23)),
              names({u"محمد بن يحيى", u"عبد الرزاق", u"معمر", u"زيد بن أسلم", u"عطاء بن يسار",
                     u"أبو سعيد الخدري"}));
    // Second transcription, page 25: hadith 64.
    EXPECT_EQ(Isnad::chain(page("books/003.json", 25)),
              names({u"أبو بكر بن أبي شيبة", u"إسماعيل بن علية", u"أبو حيان", u"أبو زرعة", u"أبو هريرة"}));
    // First transcription, page 15, hadith 43: its first piece names two
    // narrators joined by و, قالا is neither a name nor part of one, and
    // «أنه سمع» leads to the companion.
    EXPECT_EQ(Isnad::chain(page("books/002.json", 15)),
              names({u"إسماعيل بن بشر بن منصور", u"إسحاق بن إبراهيم السواق", u"عبد الرحمن بن مهدي", u"معاوية بن صالح",
                     u"ضمرة بن حبيب", u"عبد الرحمن بن عمرو السلمي", u"العرباض بن سارية"}));
}

TEST(IsnadCorpus, aPageOfFourReportsGivesEachRouteItsOwnChain)
{
    // First transcription, page 22 (hadiths 57-59, no punctuation): each
    // chain ends where its report begins (قال قال, نحوه), a new one starts at
    // the next حدثنا, ح starts a parallel route, the routes of 57 meet at
    // جميعا and those of 59 at the narrator both reach (الأعمش), and
    // narrators joined by و are two.
    const QList<Isnad::Chain> expected{
        route({{u"علي بن محمد الطنافسي"}, {u"وكيع"}, {u"سفيان"}, {u"سهيل بن أبي صالح"}, {u"عبد الله بن دينار"},
               {u"أبو صالح"}, {u"أبو هريرة"}}),
        route({{u"أبو بكر بن أبي شيبة"}, {u"أبو خالد الأحمر"}, {u"بن عجلان"}, {u"عبد الله بن دينار"}, {u"أبو صالح"},
               {u"أبو هريرة"}, {u"النبي"}}),
        route({{u"عمرو بن رافع"}, {u"جرير"}, {u"سهيل"}, {u"عبد الله بن دينار"}, {u"أبو صالح"}, {u"أبو هريرة"},
               {u"النبي"}}),
        route({{u"سهل بن أبي سهل", u"محمد بن عبد الله بن يزيد"}, {u"سفيان"}, {u"الزهري"}, {u"سالم"}, {u"والد سالم"}}),
        route({{u"سويد بن سعيد"}, {u"علي بن مسهر"}, {u"الأعمش"}, {u"إبراهيم"}, {u"علقمة"}, {u"عبد الله"}}),
        route({{u"علي بن ميمون الرقي"}, {u"سعيد بن مسلمة"}, {u"الأعمش"}, {u"إبراهيم"}, {u"علقمة"}, {u"عبد الله"}}),
    };
    const QString text = page("books/002.json", 21);
    EXPECT_EQ(Isnad::filedChains(text), expected);

    // Both narrators of 58 narrate from سفيان; nobody narrates from the
    // words قالا, نحوه or ح.
    const auto edges = Isnad::edges(text);
    EXPECT_TRUE(edges.contains(std::pair(u(u"محمد بن عبد الله بن يزيد"), u(u"سفيان"))));
    EXPECT_TRUE(edges.contains(std::pair(u(u"سهل بن أبي سهل"), u(u"سفيان"))));
    EXPECT_FALSE(edges.contains(std::pair(u(u"سهل بن أبي سهل"), u(u"محمد بن عبد الله بن يزيد"))));
    EXPECT_EQ(edges.count(std::pair(u(u"أبو هريرة"), u(u"النبي"))), 1);

    // يعني is no part of a name: the gloss after it completes the name or,
    // when it does not, is dropped with it.
    EXPECT_EQ(Isnad::chains(u(u"حدثنا محمد بن بشار ثنا أبو بكر يعني الحنفي ح وحدثنا يحيى بن حكيم ثنا أبو بكر "
                              u"الحنفي ح وحدثنا سفيان يعني أباه عن الزهري قال * كذا حدثنا حسين يعنى ابن عمران "
                              u"وبشر يعنيان بن المفضل عن شعبة")),
              (QList<Isnad::Chain>{route({{u"محمد بن بشار"}, {u"أبو بكر الحنفي"}}),
                                   route({{u"يحيى بن حكيم"}, {u"أبو بكر الحنفي"}}),
                                   route({{u"سفيان"}, {u"الزهري"}}),
                                   route({{u"حسين ابن عمران", u"بشر بن المفضل"}, {u"شعبة"}})}));
}

TEST(IsnadCorpus, bothTranscriptionsGiveTheSameChainForTheSameHadith)
{
    struct Case
    {
        int number;
        int seqA; // page in the unpunctuated transcription
        int seqB; // page in the punctuated one
        QStringList expected;
    };
    const QList<Case> cases{
        {3, 3, 4, names({u"أبو بكر بن أبي شيبة", u"أبو معاوية", u"وكيع", u"الأعمش", u"أبو صالح", u"أبو هريرة"})},
        {60, 22, 23, names({u"محمد بن يحيى", u"عبد الرزاق", u"معمر", u"زيد بن أسلم", u"عطاء بن يسار",
                            u"أبو سعيد الخدري"})},
        {64, 24, 25, names({u"أبو بكر بن أبي شيبة", u"إسماعيل بن علية", u"أبو حيان", u"أبو زرعة",
                            u"أبو هريرة"})},
    };
    for (const Case& c : cases) {
        const QString a = hadith(page("books/002.json", c.seqA), c.number, QStringLiteral(" "));
        const QString b = hadith(page("books/003.json", c.seqB), c.number, QStringLiteral(" - "));
        ASSERT_FALSE(a.isEmpty()) << c.number;
        ASSERT_FALSE(b.isEmpty()) << c.number;
        EXPECT_EQ(Isnad::chain(a), c.expected) << c.number;
        EXPECT_EQ(Isnad::chain(b), c.expected) << c.number;
    }
}

// Each class of wording a reader of these books meets, on a page of the
// sample books that shows it: the page's chains must hold the route as the
// reader reads it, and (when given) be that many.
TEST(IsnadCorpus, sampleBooksReadAsAHadithScholarReadsThem)
{
    struct Case
    {
        const char* what;
        int book; // 2 and 3: the two transcriptions of one sunan; 4: another
        int seq;
        Isnad::Chain expected;
        int chainsOnPage = -1;
    };
    const QList<Case> cases{
        {"نا abbreviates حدثنا", 4, 100,
         route({{u"قتيبة بن سعيد"}, {u"بن لهيعة"}, {u"يزيد بن أبي حبيب"}, {u"عيسى بن طلحة"}, {u"أبو هريرة"}})},
        {"أنا after a full stop; أن in the report", 3, 358,
         route({{u"محمد بن الصباح"}, {u"سفيان"}, {u"عمرو"}, {u"ابن شهاب"}, {u"سالم"}, {u"والد سالم"}})},
        {"ثنى; هو بن … completes the name", 2, 136,
         route({{u"علي بن الحسن الهستجاني"}, {u"أحمد بن حنبل"}, {u"أبو القاسم بن أبي الزناد"}, {u"إسحاق بن حازم"},
                {u"عبيد الله بن مقسم"}, {u"جابر بن عبد الله"}})},
        {"قال: before a link word on the next line", 3, 137,
         route({{u"محمد بن يحيى"}, {u"أحمد بن حنبل"}, {u"أبو القاسم بن أبي الزناد"}, {u"إسحاق بن حازم"},
                {u"عبيد الله ابن مقسم"}, {u"جابر"}})},
        {"أن فلانا أخبره أنه سمع", 4, 37,
         route({{u"أحمد بن صالح"}, {u"عبد الله بن وهب"}, {u"يونس بن يزيد"}, {u"بن شهاب"}, {u"عباد بن زياد"},
                {u"عروة بن المغيرة بن شعبة"}, {u"المغيرة"}})},
        {"أنه سمع … تذكر أنها سمعت", 3, 140,
         route({{u"الحسن بن علي الخلال"}, {u"يزيد بن هارون"}, {u"يزيد بن عياض"}, {u"أبو ثفال"},
                {u"رباح بن عبد الرحمن بن أبي سفيان"}, {u"جدته بنت سعيد ابن زيد"}, {u"سعيد بن زيد"}})},
        {"قال: قال علي: then the report's أنا; a takhrij note is no chain", 3, 44,
         route({{u"محمد بن إسماعيل الرازي"}, {u"عبيد الله بن موسى"}, {u"العلاء ابن صالح"}, {u"المنهال"},
                {u"عباد بن عبد الله"}, {u"على"}}),
         3},
        {"قام معاوية … فقال … سمعت", 2, 4,
         route({{u"يعقوب بن حميد بن كاسب"}, {u"القاسم بن نافع"}, {u"الحجاج بن أرطاة"}, {u"عمرو بن شعيب"}, {u"شعيب"},
                {u"معاوية"}})},
        {"أن امرأة سألت عائشة; the transmitter's route; notes", 3, 215,
         route({{u"محمد بن يحيى"}, {u"حجاج"}, {u"يزيد بن إبراهيم"}, {u"أيوب"}, {u"معاذة"}, {u"عائشة"}}), 4},
        {"قال أبو الحسن … أنبأنا: the transmitter's own route", 3, 215, route({{u"الدبري"}, {u"عبد الرزاق"}})},
        {"قال أبو الحسن … حدثنا … فذكر نحوه", 3, 140,
         route({{u"أبو حاتم"}, {u"عيسى عبيس بن مرحوم العطار"}, {u"عبد المهيمن بن عباس"}})},
        {"رفعه is no name", 4, 235,
         route({{u"أحمد بن حنبل"}, {u"إسماعيل بن إبراهيم"}, {u"أيوب"}, {u"نافع"}, {u"بن عمر"}})},
        {"ورفعه is no second narrator", 4, 557,
         route({{u"عمرو بن عون"}, {u"شريك"}, {u"قيس بن وهب"}, {u"أبو الوداك"}, {u"أبو سعيد الخدري"}})},
        {"* بإسناده مثله", 4, 252, route({{u"عثمان بن أبي شيبة"}, {u"جرير"}, {u"يحيى"}})},
        {"هو الإفريقي completes the name; ، وجعفر", 3, 21,
         route({{u"محمد بن العلاء الهمداني"}, {u"رشدين بن سعد", u"جعفر بن عون"}, {u"ابن أنعم الإفريقي"},
                {u"عبد الرحمن بن رافع"}, {u"عبد الله بن عمرو"}})},
        {"قال: ثنا وكيع. ح وثنا … قالا:", 3, 15,
         route({{u"أبو بكر بن أبي شيبة"}, {u"وكيع"}, {u"شعبة"}, {u"الحكم"}, {u"عبد الرحمن بن أبي ليلى"},
                {u"سمرة ابن جندب"}, {u"النبي"}})},
        {"routes after ح meet where both reach عبد الحميد", 4, 252,
         route({{u"أحمد بن حنبل"}, {u"أبو عاصم الضحاك بن مخلد"}, {u"عبد الحميد بن جعفر"}, {u"محمد بن عمرو"},
                {u"أبو حميد الساعدي"}})},
        {"routes after ح meet at سفيان; انا in the report", 2, 218,
         route({{u"محمد بن الصباح", u"أحمد بن سنان"}, {u"إسحاق بن يوسف الأزرق"}, {u"سفيان"}, {u"علقمة بن مرثد"},
                {u"سليمان بن بريدة"}, {u"بريدة"}}),
         2},
        {"a report's number starts a new chain", 3, 786,
         route({{u"أبو بكر بن أبي شيبة"}, {u"حفص بن غياث"}, {u"الأعمش"}, {u"إبراهيم"}, {u"الأسود"}, {u"عائشة"}})},
        {"قالا: followed by the report ends the chain before the next report", 3, 377,
         route({{u"محمد بن بشار"}, {u"حماد بن مسعدة"}, {u"ميمون بن موسى المرئي"}, {u"الحسن"}, {u"والدة الحسن"}, {u"أم سلمة"}})},
        {"وكان ثقة between two narrators", 2, 556,
         route({{u"علي بن محمد"}, {u"وكيع"}, {u"سعدان الجهني"}, {u"سعد أبي مجاهد الطائي"}, {u"أبو مدله"}, {u"أبو هريرة"}})},
        {"أبي وأبو معاوية are two", 2, 736,
         route({{u"محمد بن عبد الله بن نمير"}, {u"عبد الله بن نمير", u"أبو معاوية"}, {u"الأعمش"}, {u"أبو وائل"}, {u"مسروق"},
                {u"عائشة"}})},
        {"the compiler's remark «وأنا لحديثه أتقن» before قالا", 4, 611,
         route({{u"محمود بن خالد", u"عبد الله بن عبد الرحمن السمرقندي"}, {u"مروان بن محمد"}, {u"عبد الله بن وهب"},
                {u"يحيى بن عبد الله بن سالم"}, {u"أبو بكر بن نافع"}, {u"نافع"}, {u"بن عمر"}})},
        {"the compiler's remark «وهذا لفظه» inside a chain", 4, 1155,
         route({{u"أحمد بن منيع"}, {u"يحيى بن زكريا"}, {u"داود"}, {u"أبو نضرة"}, {u"أبو سعيد"}})},
        {"a second narrator after a full stop", 3, 407,
         route({{u"حرملة بن يحيى"}, {u"عبد الله بن وهب"}, {u"ابن لهيعة"}, {u"خالد بن يزيد", u"عقيل"}, {u"ابن شهاب"},
                {u"عروة"}, {u"عائشة"}})},
        {"«قال الزهري فحدثني فلان» inside a report: the second route is the speaker's", 2, 641,
         route({{u"الزهري"}, {u"أبو عبيدة بن عبد الله بن زمعة"}, {u"زينب"}, {u"أم سلمة"}})},
        {"a long name ends at its comma", 3, 407,
         route({{u"هشام بن عمار"}, {u"عبد الرحمن بن سعد بن عمار بن سعد"}, {u"سعد بن عمار بن سعد"}, {u"عمار بن سعد"}, {u"جد عمار بن سعد"}})},
    };
    for (const Case& c : cases) {
        const QString text = samplePage(c.book, c.seq);
        ASSERT_FALSE(text.isEmpty()) << c.what;
        const QList<Isnad::Chain> found = Isnad::filedChains(text);
        EXPECT_TRUE(found.contains(c.expected)) << c.what << "\n" << written(found);
        if (c.chainsOnPage >= 0) {
            EXPECT_EQ(found.size(), c.chainsOnPage) << c.what;
        }
    }
}

TEST(IsnadText, aNarratorIsFiledUnderOneFormWhateverHisCase)
{
    const QList<std::pair<const char16_t*, const char16_t*>> cases{
        {u"أبا هريرة", u"أبو هريرة"},   {u"أبي هريرة", u"أبو هريرة"},         {u"أبى زرعة", u"أبو زرعة"},
        {u"ابي بكر بن أبي شيبة", u"ابو بكر بن أبي شيبة"},                    {u"جابرا", u"جابر"},
        {u"أنسا", u"أنس"},              {u"عليا", u"علي"},                    {u"عمرا", u"عمرو"},
        {u"جابرا الأنصاري", u"جابر الأنصاري"},
        // Names whose alif is their own, a pronoun's alif, and «أبي» alone (my father).
        {u"زكريا", u"زكريا"},           {u"عطا بن يسار", u"عطا بن يسار"},     {u"أباها سعيد بن زيد", u"أباها سعيد بن زيد"},
        {u"أبي", u"أبي"},               {u"الرضا", u"الرضا"},
        // The alef of liaison is an alef; ابنة is a lineage word, as ابنه is.
        {u"ٱبا هريرة", u"ٱبو هريرة"},   {u"أسما ابنة أبي بكر", u"أسما ابنة أبي بكر"}};
    for (const auto& [asWritten, filed] : cases)
        EXPECT_EQ(Isnad::filedName(u(asWritten)), u(filed)) << qPrintable(u(asWritten));
}

// Fathers, description words, doubts, headings and marks in the sample's
// hadith books, each on a page where the class shows.
TEST(IsnadCorpus, fathersDescriptionsAndHeadingsReadOnSamplePages)
{
    struct Case
    {
        const char* what;
        int book;
        int seq;
        Isnad::Chain expected;
    };
    const QList<Case> cases{
        {"«عن أبيه» after a name that gives the father; «وهو بن» completes a name", 4, 44,
         route({{u"مسدد"}, {u"يحيى"}, {u"سفيان"}, {u"علقمة بن مرثد"}, {u"سليمان بن بريدة"}, {u"بريدة"}})},
        {"«وهو بن شريح»", 4, 44,
         route({{u"الحسين بن عيسى"}, {u"عبد الله بن يزيد المقرئ"}, {u"حيوة بن شريح"}, {u"أبو عقيل"}, {u"بن عمه"},
                {u"عقبة بن عامر الجهني"}, {u"النبي"}})},
        {"«ابن عجلان عن أبيه»", 4, 1369,
         route({{u"إسحاق بن إسماعيل"}, {u"سفيان"}, {u"بن عجلان"}, {u"عجلان"}, {u"أبو هريرة"}})},
        {"«عن سالم عن أبيه رواية»: one father per student", 4, 1369,
         route({{u"أحمد بن محمد بن حنبل"}, {u"سفيان"}, {u"الزهري"}, {u"سالم"}, {u"والد سالم"}})},
        {"«يبلغ به» is no name", 4, 844,
         route({{u"مسدد"}, {u"سفيان"}, {u"الزهري"}, {u"سالم"}, {u"والد سالم"}, {u"عامر بن ربيعة"}})},
        {"«، رجل من أهل الكوفة،» describes him and the chain goes on", 2, 1191,
         route({{u"علي بن محمد"}, {u"وكيع"}, {u"أبو يحيى الطويل"}, {u"زيد العمي"}, {u"أنس بن مالك"}})},
        {"«رجل من أهل الكوفة عن أبيه»", 2, 1356,
         route({{u"نصر بن علي"}, {u"علي"}, {u"شعبة"}, {u"عبد الأكرم"}, {u"والد عبد الأكرم"}, {u"سليمان بن صرد"}})},
        {"«أظنه» is a doubt, not a name", 2, 815,
         route({{u"عمرو بن رافع"}, {u"عبد الله بن المبارك"}, {u"عيسى بن يزيد"}, {u"جرير بن يزيد"},
                {u"أبو زرعة بن عمرو بن جرير"}, {u"أبو هريرة"}})},
        {"«رجل من أهل الشام، يقال له: عبد الجليل» is the man named", 7, 342,
         route({{u"النجار"}, {u"عبد الرزاق"}, {u"داود بن قيس"}, {u"زيد بن أسلم"}, {u"عبد الجليل"}, {u"عم عبد الجليل"},
                {u"أبو هريرة"}})},
        {"the next book's heading ends the name before it", 4, 563,
         route({{u"حماد"}, {u"الجريري"}, {u"أبو نضرة"}, {u"الطفاوي"}})},
        {"«أخبره *» keeps the man who told", 1, 82,
         route({{u"يحيى"}, {u"مالك"}, {u"العلاء بن عبد الرحمن بن يعقوب"}, {u"أبو سعيد مولى عامر بن كريز"}})},
        {"«سمع جابرا»", 4, 464, route({{u"أحمد بن حنبل"}, {u"يحيى بن سعيد"}, {u"بن جريج"}, {u"أبو الزبير"}, {u"جابر"}})},
        {"«سمعت أنسا»", 4, 989, route({{u"إبراهيم بن موسى الرازي"}, {u"وكيع"}, {u"مصعب بن سليم"}, {u"أنس"}})},
    };
    for (const Case& c : cases) {
        const QString text = samplePage(c.book, c.seq);
        ASSERT_FALSE(text.isEmpty()) << c.what;
        EXPECT_TRUE(Isnad::filedChains(text).contains(c.expected)) << c.what;
    }
    // «قال: قال لي رسول الله»: to me, no narrator «لي رسول الله».
    for (const Isnad::Chain& chain : Isnad::chains(samplePage(2, 48)))
        for (const Isnad::Link& place : chain)
            for (const QString& name : place)
                EXPECT_FALSE(name.startsWith(u(u"لي "))) << qPrintable(name);
    EXPECT_EQ(Isnad::chain(u(u"حدثنا مسدد عن حماد أن عبد الله يرفع الحديث قال: كذا")),
              names({u"مسدد", u"حماد", u"عبد الله"}));
    EXPECT_EQ(Isnad::filedChains(u(u"حدثنا مسدد عن رجل من بني الديل يقال له بسر بن محجن عن أبيه قال: كذا")),
              QList<Isnad::Chain>{route({{u"مسدد"}, {u"بسر بن محجن"}, {u"محجن"}})});
}

// What the installer stores from the sample's hadith books: no narrator's
// name holds a link word, a gloss word or a word that only describes the
// report, whatever the page.
TEST(IsnadCorpus, sampleNarratorsHoldNoLinkOrGlossWord)
{
    const QStringList banned = names({u"ثنا", u"نا", u"أنا", u"انا", u"أنبأنا", u"انبانا", u"ثنى", u"ثني", u"حدثنا",
                                      u"حدثني", u"حدثنيه", u"حدثناه", u"أخبرنا", u"أخبرني", u"اخبرني", u"سمعت",
                                      u"هو", u"يعني", u"يعنى", u"رفعه", u"يرفعه", u"بإسناده", u"فذكر", u"مثله",
                                      u"نحوه", u"أيضا", u"أظنه"});
    const QStringList kunyaCases = names({u"أبا", u"أبي", u"أبى", u"ابا", u"ابي"});
    const QStringList fathers = names({u"أبيه", u"أبي", u"أبيها", u"أباه"});
    QSet<QString> filed;
    int stored = 0;
    for (int book : {1, 2, 3, 4}) {
        for (int seq = 1; !samplePage(book, seq).isEmpty(); ++seq) {
            for (const auto& [student, teacher] : Isnad::edges(samplePage(book, seq))) {
                // The father a student's own name gives is named.
                if (student.contains(u(u"بن "))) {
                    ASSERT_FALSE(fathers.contains(teacher)) << book << " " << seq << " " << student.toStdString();
                }
                for (const QString& name : {student, teacher}) {
                    ++stored;
                    filed.insert(name);
                    // «قال لي رسول الله»: «لي» is no part of a name.
                    ASSERT_FALSE(name.startsWith(u(u"لي ")));
                    // «أبي بن كعب» is a name, no kunya.
                    ASSERT_FALSE(kunyaCases.contains(name.section(u' ', 0, 0)) && name.contains(u' ')
                                 && name.section(u' ', 1, 1) != u(u"بن"))
                        << book << " " << seq << " " << name.toStdString();
                    for (const QString& word : name.split(u' '))
                        ASSERT_FALSE(banned.contains(word)) << book << " " << seq << " " << name.toStdString();
                }
            }
        }
    }
    EXPECT_GT(stored, 50000);
    // One man, one name: none is stored both with and without the accusative's
    // alif («أمه» and «أمها» are two women).
    for (const QString& name : std::as_const(filed))
        EXPECT_FALSE(!name.section(u' ', 0, 0).endsWith(u'\u0647') &&filed.contains(name.section(u' ', 0, 0) + u'\u0627' + name.mid(name.section(u' ', 0, 0).size())))
            << name.toStdString();
}

TEST(IsnadCorpus, textsWithoutNarrationHaveNoChain)
{
    EXPECT_FALSE(Isnad::hasIsnad(poetry));
    EXPECT_TRUE(Isnad::chain(poetry).isEmpty());
    // The title page and the copyright page of the second transcription.
    EXPECT_FALSE(Isnad::hasIsnad(page("books/003.json", 1)));
    EXPECT_FALSE(Isnad::hasIsnad(page("books/003.json", 2)));
    // The Quran's narrative "قال" is not a transmission verb.
    const QString verse = test::quranVerse(2, 30);
    ASSERT_FALSE(verse.isEmpty());
    EXPECT_FALSE(Isnad::hasIsnad(verse));
}

// The same books with every hamza and madda seat written as its letter and a
// combining mark (أ as ا + U+0654) read to the same narrators and links.
TEST(IsnadCorpus, hamzaSeatsWrittenAsMarksGiveTheSameLinks)
{
    const QHash<QChar, QString> decomposed{{u'أ', u(u"ا\u0654")}, {u'إ', u(u"ا\u0655")}, {u'آ', u(u"ا\u0653")},
                                           {u'ؤ', u(u"و\u0654")}, {u'ئ', u(u"ي\u0654")}};
    int links = 0;
    int seats = 0;
    for (int book : {1, 2, 3, 4, 7}) {
        for (int seq = 1; !samplePage(book, seq).isEmpty(); ++seq) {
            const QString text = samplePage(book, seq);
            QString marked;
            for (const QChar c : text)
                marked += decomposed.value(c, QString(c));
            seats += marked.size() - text.size();
            const auto expected = Isnad::edges(text);
            links += expected.size();
            ASSERT_EQ(Isnad::edges(marked), expected) << book << " " << seq;
        }
    }
    EXPECT_GT(seats, 100000);
    EXPECT_GT(links, 50000);
}

// hasIsnad looks for the opener's letters before running the pattern, and
// strips marks in one pass: on every real page, a Quran verse and texts made
// around the opener's letters it must answer as the pattern alone does.
TEST(IsnadCorpus, openerSearchAgreesWithThePatternAlone)
{
    const auto opener = PyRegex::compile(
        u(u"(?:حدثنا|حدثني|حدثنى|[اأإ]خبرنا|[اأإ]خبرني|ثنا|سمعت)\\b"));
    const auto referenceStrip = [](const QString& text) {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            const Arabic::MarkGroup group = Arabic::markGroup(c);
            const bool direction = c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
            if (group != Arabic::MarkGroup::Harakat && group != Arabic::MarkGroup::SuperscriptAlef
                && group != Arabic::MarkGroup::Quranic && c != 0x0640 && !Arabic::isSeatMark(c) && !direction)
                out.append(QChar(Arabic::writtenAt(text, i)));
        }
        return out;
    };
    QStringList texts = test::corpusTexts();
    for (const char16_t* made : {u"ثنا", u"حَدَّثَنِي", u"ثن", u"خبرن", u"أَخْبَرَنَا", u"سَمِعْتُ", u"سمعته",
                                 u"حدثـنا", u"ث\u06D6نا", u"ث\u0653نا", u"اخبرني:", u"إخبرنا", u"سمعت1"})
        texts.append(u(made));
    int open = 0;
    for (const QString& text : texts) {
        const QString stripped = referenceStrip(text);
        ASSERT_EQ(Isnad::stripTashkeel(text), stripped);
        const bool expected = PyRegex::firstMatch(opener, stripped).has_value();
        ASSERT_EQ(Isnad::hasIsnad(text), expected) << text.toStdString();
        if (!expected) {
            ASSERT_TRUE(Isnad::chain(text).isEmpty()) << text.toStdString();
        }
        open += expected;
    }
    EXPECT_GT(open, 100); // both answers occur
    EXPECT_LT(open, texts.size() - 100);
}

// cleanNarrator cuts at the colon by a plain search, runs its patterns only
// on pieces holding their letters, and drops the trailing conjunction without
// a pattern: every piece of every corpus text, and pieces made around those
// rules, must clean as the patterns alone clean them.
TEST(IsnadCorpus, narratorCleaningAgreesWithThePatternsAlone)
{
    const auto colon = PyRegex::compile(u(u"[:؛]"));
    const auto honor = PyRegex::compile(u(
        u"رضي\\s+الله\\s+(?:تعالى\\s+)?عنه(?:ما|م|ا)?|رحمه\\s+الله|صلى\\s+الله\\s+عليه\\s+وسلم|عليه\\s+السلام"));
    const auto matnCut = PyRegex::compile(u(u"\\b(?:قال(?:ت)?|[أا]نه?|[أا]نها|[أا]نهم)\\b"));
    const auto trailingWaw = PyRegex::compile(u(u"\\s+و\\s*$"));
    const auto link = PyRegex::compile(
        u(u"(?:حدثنا|حدثني|حدثنى|[اأإ]خبرنا|[اأإ]خبرني|[اأإ]نب[اأ]نا|ثنا|سمعت|عن)\\s+"));
    const auto before = [](const PyRegex::Regex& re, const QString& text) {
        const auto match = PyRegex::firstMatch(re, text);
        return match ? text.left(match->start) : text;
    };
    const auto reference = [&](const QString& piece) {
        QString text = before(colon, piece);
        text = PyRegex::sub(honor, QStringLiteral(" "), text);
        text = before(matnCut, text);
        std::u32string kept;
        for (char32_t c : Py::scalars(text))
            kept.push_back((c >= 0x0621 && c <= 0x064A) || Py::isSpace(c) ? c : U' ');
        return PyRegex::sub(trailingWaw, QString(), Py::split(Py::string(kept)).join(QLatin1Char(' ')));
    };

    QStringList pieces;
    for (const char16_t* made :
         {u"محمد بن بشار و", u"محمد بن بشار و ", u"محمد بن بشار\n و\t", u"و", u" و", u"مالك و:", u"مالك ؛ و",
          u"عبد الله بن عمر رضي الله عنهما", u"علي عليه السلام قال", u"أبي هريرة أنه قال", u"عائشة قالت",
          u"نافع انها", u"سفيان وعثمان", u"الله", u"عليه", u"ابن عباس رضي  الله تعالى  عنه أن",
          u"مالك 12 و", u"مالك\u0653 و", u"x و", u"", u"   "})
        pieces.append(u(made));
    for (const QString& text : test::corpusTexts())
        pieces.append(PyRegex::split(link, Isnad::stripTashkeel(text)));
    int changed = 0;
    for (const QString& piece : pieces) {
        const QString expected = reference(piece);
        ASSERT_EQ(Isnad::cleanNarrator(piece), expected) << piece.toStdString();
        changed += expected != Py::split(piece).join(QLatin1Char(' '));
    }
    EXPECT_GT(changed, 100); // the rules do cut and drop
}

TEST(IsnadText, hostileTextsFinishAndStayBounded)
{

    // A page of only marks, with and without an opener in front.
    const QString marks = u(u"ًٌٍَُِّْ").repeated(200000 / 8);
    EXPECT_FALSE(Isnad::hasIsnad(marks));
    EXPECT_TRUE(Isnad::chain(marks).isEmpty());
    EXPECT_TRUE(Isnad::chain(u(u"حدثنا ") + u(u"\u0653\u0654\u0655").repeated(70000)).isEmpty());

    // A chain pattern repeated thousands of times.
    const QString repeated = u(u"حدثنا محمد بن بشار عن سفيان ").repeated(8000);
    const QStringList chain = Isnad::chain(repeated);
    ASSERT_EQ(chain.size(), 16000);
    EXPECT_EQ(chain.first(), u(u"محمد بن بشار"));
    EXPECT_EQ(chain.last(), u(u"سفيان"));

    // «عن أبيه عن جده» again and again: each relative is named by the men
    // before him only while that stays a name, so what a page's links hold
    // grows with the page, never with its square.
    const auto linksHeld = [](int repeats) {
        qsizetype units = 0;
        const QString text = u(u"حدثنا علي ثنا محمد بن عمرو ") + u(u"عن أبيه عن جده ").repeated(repeats) + u(u"قال: كذا");
        for (const auto& [student, teacher] : Isnad::edges(text)) {
            EXPECT_LT(teacher.size(), Isnad::maxNameLength + 8) << qPrintable(teacher.left(80));
            units += student.size() + teacher.size();
        }
        return units;
    };
    const qsizetype fewer = linksHeld(500);
    EXPECT_GT(fewer, 0);
    EXPECT_LE(linksHeld(5000), 10 * fewer);

    // A 200,000-unit page whose one piece is a long run of white space.
    const QString spaced = u(u"حدثنا أ") + QString(200000, QChar(u' ')) + u(u"ب و");
    EXPECT_EQ(Isnad::cleanNarrator(spaced.mid(6)), u(u"أ ب"));
    EXPECT_EQ(Isnad::chain(spaced), names({u"أ ب"}));
    const QString honours = u(u"حدثنا رضي") + QString(200000, QChar(u'\u3000')) + u(u"الله");
    EXPECT_EQ(Isnad::chain(honours), names({u"رضي الله"}));
}

// ------------------------------------------------------------------ graph

namespace {

struct Graph
{
    QTemporaryDir dir;
    std::shared_ptr<SQLiteDB> db = test::emptyLibrary(dir.path());

    std::int64_t narrator(const QString& name)
    {
        db->run(QStringLiteral("INSERT INTO narrators(name) VALUES(?)"), {name});
        return db->lastInsertId();
    }
    void edge(std::int64_t student, std::int64_t teacher, std::int64_t pageId)
    {
        db->run(QStringLiteral("INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) VALUES(?,?,1,?)"),
                {student, teacher, pageId});
    }
};

} // namespace

TEST(IsnadGraph, narratorsNamesAndLinks)
{
    Graph g;
    ASSERT_TRUE(g.db);
    const std::int64_t nafi = g.narrator(u(u"نافع"));
    const std::int64_t malik = g.narrator(u(u"مالك"));
    const std::int64_t zuhri = g.narrator(u(u"الزهري"));
    const std::int64_t yahya = g.narrator(u(u"يحيى"));
    const std::int64_t alone = g.narrator(u(u"وحيد"));
    g.edge(yahya, malik, 7);
    g.edge(malik, nafi, 7);
    g.edge(nafi, 999, 7); // a teacher without a narrators row is left out
    g.edge(malik, nafi, 8);
    g.edge(malik, zuhri, 8);

    // In order of first mention, each once.
    EXPECT_EQ(Isnad::narrators(*g.db, 7),
              (QList<Isnad::Narrator>{{yahya, u(u"يحيى"), u(u"يحيى")}, {malik, u(u"مالك"), u(u"مالك")}, {nafi, u(u"نافع"), u(u"نافع")}}));
    EXPECT_TRUE(Isnad::narrators(*g.db, 9).isEmpty());
    EXPECT_EQ(Isnad::name(*g.db, malik), u(u"مالك"));
    EXPECT_FALSE(Isnad::name(*g.db, 999).has_value());

    // Teachers ordered by name: الزهري (U+0627) before نافع (U+0646).
    const Isnad::Links links = Isnad::links(*g.db, malik);
    EXPECT_EQ(links.teachers, (QList<Isnad::LinkedNarrator>{{zuhri, u(u"الزهري"), 1}, {nafi, u(u"نافع"), 2}}));
    EXPECT_EQ(links.students, (QList<Isnad::LinkedNarrator>{{yahya, u(u"يحيى"), 1}}));
    EXPECT_TRUE(Isnad::links(*g.db, alone).teachers.isEmpty());
    EXPECT_TRUE(Isnad::links(*g.db, alone).students.isEmpty());

    // A library without the narrator tables yields nothing.
    auto bare = SQLiteDB::open(g.dir.path() + "/bare.db", false);
    ASSERT_TRUE(bare);
    EXPECT_TRUE(Isnad::narrators(*bare, 7).isEmpty());
    EXPECT_FALSE(Isnad::name(*bare, 1).has_value());
}

TEST(IsnadGraph, aPageMentioningMoreNarratorsThanOneStatementBinds)
{
    Graph g;
    ASSERT_TRUE(g.db);
    constexpr int count = 40000;
    ASSERT_TRUE(g.db->exec(QStringLiteral("BEGIN")));
    QList<std::int64_t> ids;
    for (int i = 0; i < count; ++i)
        ids.append(g.narrator(QStringLiteral("n%1").arg(i)));
    for (int i = 0; i + 1 < count; ++i)
        g.edge(ids[i], ids[i + 1], 5);
    ASSERT_TRUE(g.db->exec(QStringLiteral("COMMIT")));

    // With the library's own limit, then with one that forces slices.
    for (int limit : {-1, 999}) {
        if (limit > 0)
            sqlite3_limit(g.db->handle(), SQLITE_LIMIT_VARIABLE_NUMBER, limit);
        const auto listed = Isnad::narrators(*g.db, 5);
        ASSERT_EQ(listed.size(), count) << limit;
        EXPECT_EQ(listed[32766].name, "n32766");
        EXPECT_EQ(listed.last().name, QStringLiteral("n%1").arg(count - 1));
    }
}

TEST(IsnadGraph, corpusEdgesFollowTheChainsOfTheirPages)
{
    QTemporaryDir dir;
    auto db = test::corpusLibrary(dir.path());
    ASSERT_TRUE(db);
    // Page ids: book 1 is 1-40, book 2 is 41-80, book 3 is 81-121.
    QStringList listed;
    for (const auto& narrator : Isnad::narrators(*db, 80 + 23))
        listed.append(narrator.name);
    QStringList mentioned;
    for (const auto& [student, teacher] : Isnad::edges(page("books/003.json", 23)))
        for (const QString& name : {student, teacher})
            if (!mentioned.contains(name))
                mentioned.append(name);
    EXPECT_EQ(listed, mentioned);
    EXPECT_EQ(listed.mid(0, 6), Isnad::chain(page("books/003.json", 23)));

    // «عمرو بن يحيى المازني عن أبيه»: the page lists «أبيه» as it reads,
    // under the id of the father the graph files by his name.
    const QString fatherPage = page("books/001.json", 17);
    const auto father = db->scalarInt(QStringLiteral("SELECT id FROM narrators WHERE name=?"), {u(u"يحيى المازني")});
    ASSERT_TRUE(father.has_value());
    ASSERT_TRUE(Isnad::chain(fatherPage).contains(u(u"أبيه")));
    const auto onPage = Isnad::narrators(*db, 17);
    EXPECT_TRUE(onPage.contains(Isnad::Narrator{*father, u(u"أبيه"), u(u"يحيى المازني")}));
    EXPECT_FALSE(std::any_of(onPage.cbegin(), onPage.cend(), [](const auto& n) { return n.name == u(u"يحيى المازني"); }));
    EXPECT_EQ(Isnad::name(*db, *father), u(u"يحيى المازني"));

    // الأعمش narrates from أبي صالح on several pages of both transcriptions.
    const auto amash = db->scalarInt(QStringLiteral("SELECT id FROM narrators WHERE name=?"), {u(u"الأعمش")});
    ASSERT_TRUE(amash.has_value());
    const Isnad::Links links = Isnad::links(*db, *amash);
    const auto abuSalih = std::find_if(links.teachers.cbegin(), links.teachers.cend(),
                                       [](const auto& t) { return t.name == QString::fromUtf16(u"أبو صالح"); });
    ASSERT_NE(abuSalih, links.teachers.cend());
    EXPECT_GE(abuSalih->count, 3);
    EXPECT_FALSE(links.students.isEmpty());
}
