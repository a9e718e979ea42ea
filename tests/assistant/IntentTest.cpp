#include "assistant/Intent.h"
#include "assistant/SmallTalk.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

struct RouteCase {
    const char* question;
    AIMode mode;
    const char* topic;
};

void expectRoutes(std::initializer_list<RouteCase> cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.question);
        const auto [mode, topic] = Intent::route(QString::fromUtf8(c.question));
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(topic, QString::fromUtf8(c.topic));
    }
}

} // namespace

TEST(IntentRoute, triggerPhrasesGiveTheModeAndTheRestIsTheTopic)
{
    expectRoutes({
        // "كم كتابا" goes and clean strips the leading "في".
        {"كم كتابا في الفقه", AIMode::data, "الفقه"},
        {"ما معنى الغرر؟", AIMode::term, "الغرر"},
        // "ما المقصود ب" is glued to the next word, so "ما المقصود" matches.
        {"ما المقصود بالغرر", AIMode::term, "بالغرر"},
        {"من روى حديث «الأعمال بالنيات»", AIMode::takhrij, "«الأعمال بالنيات»"},
        {"من هو مالك بن أنس؟", AIMode::biography, "مالك بن أنس"},
        {"أقوال العلماء في قراءة الفاتحة خلف الإمام", AIMode::views, "قراءة الفاتحة خلف الإمام"},
        {"تطور مسألة بيع الغرر عبر القرون", AIMode::history, "بيع الغرر عبر القرون"},
        {"ما الكتب التي تناولت الربا", AIMode::sources, "الربا"},
        {"اكتب تقريرا عن صلاة الجماعة", AIMode::report, "صلاة الجماعة"},
    });
}

TEST(IntentRoute, longerPhrasesOfARuleAreTriedFirst)
{
    expectRoutes({
        {"ما معنى كلمة العول", AIMode::term, "العول"},
        {"أين ورد حديث الإفك", AIMode::takhrij, "الإفك"},
        {"ما أقوال العلماء في سجود السهو", AIMode::views, "سجود السهو"},
        // Within the data rule "عدد الكتب" is as long as "حسب القرن" and listed first.
        {"عدد الكتب حسب القرن", AIMode::data, "حسب القرن"},
    });
}

TEST(IntentRoute, quotationsOfThreeWordsOrMoreAreTextsToFind)
{
    expectRoutes({
        {"أين ورد «إنما الأعمال بالنيات»", AIMode::takhrij, "إنما الأعمال بالنيات"},
        // Two words: the rules decide, and clean keeps the guillemets.
        {"أين ورد «الأعمال بالنيات»", AIMode::takhrij, "«الأعمال بالنيات»"},
        {"ما معنى \"  إنما الأعمال بالنيات\t\"", AIMode::takhrij, "إنما الأعمال بالنيات"},
        {"ابحث عن “من غشنا فليس منا” في الكتب", AIMode::takhrij, "من غشنا فليس منا"},
        // An opening mark without its closing one is no quotation.
        {"ما معنى «الغرر", AIMode::term, "«الغرر"},
    });
}

TEST(IntentRoute, phrasesMatchOnlyAsWholeWordsAtTheirFirstOccurrence)
{
    expectRoutes({
        {"تعريفات الفقهاء للبيع", AIMode::answer, "تعريفات الفقهاء للبيع"},
        // The first تعريف is inside a word; the one standing alone later is not examined.
        {"كتاب التعريفات فيه تعريف البيع", AIMode::answer, "كتاب التعريفات فيه تعريف البيع"},
        // Removing the phrase leaves no word, and nothing else occurs.
        {"من هو", AIMode::answer, "من هو"},
        {"ما معنى", AIMode::answer, "ما معنى"},
        {"الصلاة على النبي", AIMode::answer, "الصلاة على النبي"},
    });
}

TEST(IntentRoute, topicsKeepTheSpellingOfTheQuestion)
{
    expectRoutes({
        {"مَا مَعْنَى الغَرَرِ؟", AIMode::term, "الغَرَرِ"},
        {"ما معـــنى الغـــرر", AIMode::term, "الغـــرر"},
        {"اقوال العلماء في الرِّبا", AIMode::views, "الرِّبا"},
        {"مَن هو الإمامُ مالِكٌ", AIMode::biography, "الإمامُ مالِكٌ"},
        // The stretch removed ends after the phrase's last letter, so a mark
        // written on that letter is left to the topic.
        {"مَن هُوَ الإمامُ مالِكٌ", AIMode::biography, "\u064e الإمامُ مالِكٌ"},
        {"إحصاءات المكتبة", AIMode::data, "المكتبة"},
    });
}

TEST(IntentClean, leadingQuestionWordsAndSeparatorsGo)
{
    EXPECT_EQ(Intent::clean(QStringLiteral("هل يجوز الجمع بين الصلاتين في السفر؟")),
              QStringLiteral("الجمع بين الصلاتين في السفر"));
    // متى is stripped like the other question words.
    EXPECT_EQ(Intent::clean(QStringLiteral("متى تجب الزكاة؟")), QStringLiteral("الزكاة"));
    EXPECT_EQ(Intent::clean(QStringLiteral("  ما،  حكم:\n المسح على الخفين ")), QStringLiteral("المسح على الخفين"));
    EXPECT_EQ(Intent::clean(QStringLiteral("أين")), QString());
    EXPECT_EQ(Intent::clean(QStringLiteral("؟!")), QString());
}

TEST(IntentFollowUp, everyOpenerAloneAndBeforeATopic)
{
    const std::pair<const char*, const char*> cases[] = {
        {"وماذا عن الصيام", "الصيام"}, {"ماذا عن الحج", "الحج"},
        {"وما حكم الصلاة", "الصلاة"},   {"وعند الحنفية", "الحنفية"},
        {"وفي السفر", "السفر"},         {"وكذلك الصيام", "الصيام"},
        {"وهل تجب في الحلي", "الحلي"},  {"وكيف يكون التيمم", "يكون التيمم"},
        {"ومن قال بذلك", "قال بذلك"},   {"وأين ورد ذلك", "ورد ذلك"},
        {"وعن الزكاة", "الزكاة"},
    };
    for (const auto& [question, topic] : cases) {
        SCOPED_TRACE(question);
        EXPECT_EQ(Intent::followUp(QString::fromUtf8(question)), QString::fromUtf8(topic));
    }
    for (const QString& opener : Intent::followUpOpeners()) {
        SCOPED_TRACE(opener.toStdString());
        EXPECT_EQ(Intent::followUp(opener), QString());
    }
    EXPECT_EQ(Intent::followUp(QStringLiteral("وماذا")), std::nullopt);
    EXPECT_EQ(Intent::followUp(QStringLiteral("ومالك بن أنس")), std::nullopt);
    EXPECT_EQ(Intent::followUp(QStringLiteral("ما حكم الصلاة")), std::nullopt);
    EXPECT_EQ(Intent::followUp(QString()), std::nullopt);
}

TEST(IntentSuggestions, eachModeInOrderAndNoneForDataBlankOrLongTopics)
{
    const QString t = QStringLiteral("الزكاة");
    const QString views = QStringLiteral("أقوال العلماء في الزكاة");
    const QString history = QStringLiteral("تطور الزكاة عبر القرون");
    const QString sources = QStringLiteral("أهم الكتب في الزكاة");
    const QString term = QStringLiteral("تعريف الزكاة");
    for (AIMode m : {AIMode::automatic, AIMode::answer, AIMode::report, AIMode::term})
        EXPECT_EQ(Intent::suggestions(m, t), (QStringList{views, history, sources}));
    EXPECT_EQ(Intent::suggestions(AIMode::views, t), (QStringList{history, term, sources}));
    EXPECT_EQ(Intent::suggestions(AIMode::biography, t), (QStringList{views, sources}));
    EXPECT_EQ(Intent::suggestions(AIMode::history, t), (QStringList{views, sources, term}));
    EXPECT_EQ(Intent::suggestions(AIMode::takhrij, t), (QStringList{views}));
    EXPECT_EQ(Intent::suggestions(AIMode::sources, t), (QStringList{views, history}));
    EXPECT_TRUE(Intent::suggestions(AIMode::data, t).isEmpty());

    EXPECT_EQ(Intent::suggestions(AIMode::takhrij, QStringLiteral(" \tالزكاة\t ")), (QStringList{views}));
    EXPECT_TRUE(Intent::suggestions(AIMode::answer, QStringLiteral(" \t ")).isEmpty());
    const QString eight = QStringLiteral("حكم قراءة الفاتحة خلف الإمام في الصلاة الجهرية");
    const QString nine = eight + QStringLiteral(" والسرية");
    EXPECT_EQ(Intent::suggestions(AIMode::takhrij, eight).size(), 1);
    EXPECT_TRUE(Intent::suggestions(AIMode::takhrij, nine).isEmpty());
}

TEST(Intent, suggestionsLeaveOutTheWordsAFollowUpAddedToTheTopic)
{
    const struct {
        const char16_t* followUp;
        const char16_t* suggestion;
    } cases[] = {
        {u"ومن قال بذلك؟", u"أقوال العلماء في بيع الغرر"},
        {u"وهل يجوز ذلك للمرأة؟", u"أقوال العلماء في بيع الغرر للمرأة"},
        {u"وماذا عن الإجارة؟", u"أقوال العلماء في بيع الغرر الإجارة"},
    };
    for (const auto& c : cases) {
        const std::optional<QString> added = Intent::followUp(QString::fromUtf16(c.followUp));
        ASSERT_TRUE(added);
        const QStringList got = Intent::suggestions(AIMode::answer, QStringLiteral("بيع الغرر ") + *added);
        ASSERT_FALSE(got.isEmpty());
        EXPECT_EQ(got.first(), QString::fromUtf16(c.suggestion)) << got.first().toStdString();
    }
    EXPECT_TRUE(Intent::suggestions(AIMode::answer, QStringLiteral("قال بذلك")).isEmpty());
}

namespace {

// What the assistant panel makes of a message with no earlier conversation,
// in automatic mode: the courtesy first, then the route of the rest.
struct Planned {
    std::optional<SmallTalk::Kind> kind;
    QString rest;
    std::optional<AIMode> mode; // absent when nothing is left to answer
    QString topic;
};

Planned plan(const QString& message)
{
    Planned p;
    QString question = message;
    if (const auto talk = SmallTalk::split(message)) {
        p.kind = talk->first;
        p.rest = talk->second;
        question = talk->second;
        if (question.size() < 3)
            return p;
    }
    const auto [mode, topic] = Intent::route(question);
    p.mode = mode;
    p.topic = mode == AIMode::answer ? Intent::clean(question) : topic;
    return p;
}

struct MessageCase {
    const char* message;
    std::optional<SmallTalk::Kind> kind;
    const char* rest;
    std::optional<AIMode> mode;
    const char* topic;
};

} // namespace

TEST(IntentAndSmallTalk, realMessagesArePlannedAsThePanelWould)
{
    using K = SmallTalk::Kind;
    const auto none = std::nullopt;
    const MessageCase cases[] = {
        {"السلام عليكم، ما حكم المسح على الخفين؟", K::salam, "ما حكم المسح على الخفين", AIMode::answer, "المسح على الخفين"},
        {"السلام عليكم ورحمة الله وبركاته", K::salam, "", none, ""},
        {"مرحبا، من هو مالك بن أنس؟", K::greet, "من هو مالك بن أنس", AIMode::biography, "مالك بن أنس"},
        {"أهلا، ما معنى الغرر؟", K::greet, "ما معنى الغرر", AIMode::term, "الغرر"},
        {"شكرا جزيلا", K::thanks, "", none, ""},
        {"جزاك الله خيرا يا شيخ، كم كتابا في الفقه؟", K::thanks, "كم كتابا في الفقه", AIMode::data, "الفقه"},
        {"صباح الخير، أين ورد «إنما الأعمال بالنيات»", K::greet, "أين ورد «إنما الأعمال بالنيات»", AIMode::takhrij, "إنما الأعمال بالنيات"},
        {"من أنت؟", K::who, "", none, ""},
        {"ما اسمك", K::who, "", none, ""},
        {"ساعدني في الزكاة", K::help, "في الزكاة", AIMode::answer, "الزكاة"},
        {"مع السلامة", K::bye, "", none, ""},
        {"في أمان الله", K::bye, "", none, ""},
        {"عدد الكتب حسب القرن", none, "", AIMode::data, "حسب القرن"},
        {"كم مرة وردت كلمة الزكاة حسب القسم", none, "", AIMode::data, "كم مرة وردت كلمة الزكاة"},
        {"أقوال العلماء في قراءة الفاتحة خلف الإمام", none, "", AIMode::views, "قراءة الفاتحة خلف الإمام"},
        {"تطور مسألة بيع الغرر عبر القرون", none, "", AIMode::history, "بيع الغرر عبر القرون"},
        {"ما الكتب التي تناولت الربا", none, "", AIMode::sources, "الربا"},
        {"اكتب تقريرا عن صلاة الجماعة", none, "", AIMode::report, "صلاة الجماعة"},
        {"ما المقصود بالغرر", none, "", AIMode::term, "بالغرر"},
        {"من روى حديث «الأعمال بالنيات»", none, "", AIMode::takhrij, "«الأعمال بالنيات»"},
        {"هل يجوز الجمع بين الصلاتين في السفر؟", none, "", AIMode::answer, "الجمع بين الصلاتين في السفر"},
        {"متى تجب الزكاة؟", none, "", AIMode::answer, "الزكاة"},
        {"مساء الخير يا أستاذ", K::greet, "", none, ""},
        {"السلام عليكم يا شيخ، ما حكم المسح على الخفين؟", K::salam, "ما حكم المسح على الخفين", AIMode::answer, "المسح على الخفين"},
        {"بارك الله فيك، ما تعريف الإيلاء", K::thanks, "ما تعريف الإيلاء", AIMode::term, "الإيلاء"},
        {"حياك الله، أهم الكتب في الحج", K::greet, "أهم الكتب في الحج", AIMode::sources, "الحج"},
        {"هلا، ترجمة الإمام أحمد بن حنبل", K::greet, "ترجمة الإمام أحمد بن حنبل", AIMode::biography, "الإمام أحمد بن حنبل"},
        {"مرحبا", K::greet, "", none, ""},
        {"ماذا تستطيع أن تفعل", K::help, "أن تفعل", AIMode::answer, "أن تفعل"},
        {"من أنت حتى تجيب عن الأسئلة", none, "", AIMode::answer, "من أنت حتى تجيب عن الأسئلة"},
        {"ما حكم قول شكرا", none, "", AIMode::answer, "قول شكرا"},
        {"قارن ورود الصلاة والزكاة حسب القرن", none, "", AIMode::data, "قارن ورود الصلاة والزكاة"},
        {"أكثر المؤلفين كتبا في القرن الخامس", none, "", AIMode::data, "كتبا في القرن الخامس"},
        {"إحصاءات المكتبة", none, "", AIMode::data, "المكتبة"},
        {"نشأة علم أصول الفقه", none, "", AIMode::history, "علم أصول الفقه"},
        {"مصادر السيرة النبوية", none, "", AIMode::sources, "السيرة النبوية"},
        {"تقرير عن الوقف", none, "", AIMode::report, "الوقف"},
        {"صباح الخير، من أخرج حديث «من غشنا فليس منا»", K::greet, "من أخرج حديث «من غشنا فليس منا»", AIMode::takhrij, "من غشنا فليس منا"},
        {"السلام عليكم ورحمة الله، ما معنى كلمة العول؟", K::salam, "ما معنى كلمة العول", AIMode::term, "العول"},
        {"كم صفحة في كتاب الموطأ", none, "", AIMode::data, "كتاب الموطأ"},
    };
    static_assert(std::size(cases) == 40);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const Planned p = plan(QString::fromUtf8(c.message));
        EXPECT_EQ(p.kind, c.kind);
        EXPECT_EQ(p.rest, QString::fromUtf8(c.rest));
        EXPECT_EQ(p.mode, c.mode);
        EXPECT_EQ(p.topic, QString::fromUtf8(c.topic));
    }
}
