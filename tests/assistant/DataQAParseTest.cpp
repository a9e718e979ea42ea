#include "DataQAFixture.h"

#include "assistant/DataQA.h"

#include <gtest/gtest.h>

using namespace quorvel;
using DataQA::Dim;

namespace {

class DataQAParse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { data = new test::DataLibrary(test::DataLibrary::make()); }
    static void TearDownTestSuite()
    {
        delete data;
        data = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(data && data->lib); }
    static DataQA::Request parse(const char* q) { return DataQA::parse(*data->lib, QString::fromUtf8(q)); }

    static test::DataLibrary* data;
};

test::DataLibrary* DataQAParse::data = nullptr;

QStringList list(std::initializer_list<const char*> words)
{
    QStringList out;
    for (const char* w : words)
        out.append(QString::fromUtf8(w));
    return out;
}

struct Case {
    const char* question;
    QStringList terms;
    std::optional<int> century;
    std::optional<int> limit;
    Dim dim = Dim::none;
};

} // namespace

TEST_F(DataQAParse, termsCenturiesLimitsAndDimensionsFromTheWording)
{
    const Case cases[] = {
        // The follow word is skipped, و opens a second term, في ends it.
        {"كم مرة وردت كلمة الصبر والشكر في كتب القرن الثالث", list({"الصبر", "الشكر"}), 3, std::nullopt},
        {"أكثر 10 كتب في القرن 5", {}, 5, 10},
        // 5 is the century, so it is not the number of rows.
        {"أهم 5 مؤلفين في القرن الخامس", {}, 5, std::nullopt},
        {"عدد الكتب في القرن الحادي عشر", {}, 11, std::nullopt},
        {"عدد الكتب في القرن ١٢", {}, 12, std::nullopt},
        {"عدد الكتب في القرن 25", {}, std::nullopt, 25},
        {"عدد الكتب في القرن العشرين", {}, std::nullopt, std::nullopt},
        {"عدد الكتب في القرن", {}, std::nullopt, std::nullopt},
        // Only the first century word is read.
        {"كتب القرن السابع لا قرن الثامن", {}, 7, std::nullopt},
        {"عدد الكتب حسب القرن", {}, std::nullopt, std::nullopt, Dim::century},
        // Phrases match whole words only.
        {"عدد الكتب حسب القرنين", {}, std::nullopt, std::nullopt, Dim::none},
        {"ورود الصلاة لكل قسم", list({"الصلاه"}), std::nullopt, std::nullopt, Dim::category},
        {"عدد الكتب حسب المؤلف", {}, std::nullopt, std::nullopt, Dim::author},
        {"ورود كلمة الزكاة في كل كتاب", list({"الزكاه"}), std::nullopt, std::nullopt, Dim::book},
        // The trigger word is last, or followed only by a follow word.
        {"كم مرة ورود", {}, std::nullopt, std::nullopt},
        {"كم مرة وردت كلمة", {}, std::nullopt, std::nullopt},
        // Every stop word ends a phrase; علي does not.
        {"ورود لفظ صلاة الجماعة عند الحنابلة", list({"صلاه الجماعه"}), std::nullopt, std::nullopt},
        {"ذكر علي بن أبي طالب خلال القرون", list({"علي بن ابي طالب"}), std::nullopt, std::nullopt, Dim::century},
        // A second trigger later is never used.
        {"ذكر الصلاة في كتب ذكر الزكاة", list({"الصلاه"}), std::nullopt, std::nullopt},
        // Number words always win; digits never replace a limit; 0 and 501 never set one.
        {"أهم عشرة كتب", {}, std::nullopt, 10},
        {"اعرض خمسين كتابا ثم 20", {}, std::nullopt, 50},
        {"اعرض 20 كتابا بل خمسة", {}, std::nullopt, 5},
        {"أكثر 501 كتاب ثم 0 ثم 12", {}, std::nullopt, 12},
        {"", {}, std::nullopt, std::nullopt},
        {"؟! ،", {}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const auto req = parse(c.question);
        EXPECT_EQ(req.terms, c.terms);
        EXPECT_EQ(req.centuryFilter, c.century);
        EXPECT_EQ(req.limit, c.limit);
        EXPECT_EQ(req.dim, c.dim);
    }
}

TEST_F(DataQAParse, quotedPhrasesComePairByPairAndAtMostFour)
{
    // Text inside marks of two kinds is found by both.
    auto req = parse("قارن \"الحج\" و«الزكاة “الصيام”» و“العمرة”");
    EXPECT_EQ(req.terms, list({"الزكاه الصيام", "الحج", "الصيام", "العمره"}));

    req = parse("قارن «الصلاة» و«الزكاة» و«الصيام» و«الحج» و«العمرة»");
    EXPECT_EQ(req.terms, list({"الصلاه", "الزكاه", "الصيام", "الحج"}));
    EXPECT_EQ(req.shown, list({"الصلاة", "الزكاة", "الصيام", "الحج"}));

    // An unclosed or empty quotation adds nothing, and the trigger words are tried.
    req = parse("ورود «؟» الصبر في «الكتب");
    EXPECT_EQ(req.terms, list({"الصبر"}));
    req = parse("«»");
    EXPECT_TRUE(req.terms.isEmpty());
}

TEST_F(DataQAParse, shownKeepsTheUsersSpelling)
{
    auto req = parse("كم مرة وردت كلمة الصَّبرُ والشُّكر");
    EXPECT_EQ(req.terms, list({"الصبر", "الشكر"}));
    // والشُّكر is shown less its first letter.
    EXPECT_EQ(req.shown, list({"الصَّبرُ", "الشُّكر"}));

    // A term word the question never has alone or after و is shown normalised.
    req = parse("ورود «صلاة-الجماعة»");
    EXPECT_EQ(req.shown, list({"صلاه الجماعه"}));
}

TEST_F(DataQAParse, switchesForStatisticsAndAuthors)
{
    auto req = parse("إحصاءات المكتبة حسب القرن");
    EXPECT_TRUE(req.wantStats);
    EXPECT_EQ(req.dim, Dim::century);
    req = parse("أكثر المؤلفين كتبا");
    EXPECT_TRUE(req.wantAuthors);
    EXPECT_FALSE(req.wantStats);
    // A term makes it a term question, whatever else is named.
    req = parse("ورود «الصبر» عند المؤلفين");
    EXPECT_FALSE(req.wantAuthors);
}

TEST_F(DataQAParse, namesSelectAnAuthorOrCategories)
{
    // Both candidates occur in two authors' names; the one with more books wins.
    auto req = parse("كتب أحمد بن محمد");
    EXPECT_EQ(req.authorId, 8);
    EXPECT_FALSE(req.categories);

    req = parse("عدد كتب ابن قدامة");
    EXPECT_EQ(req.authorId, 4);

    // One candidate: no author is looked for; الفقه is matched as فقه.
    req = parse("كتب الفقه");
    EXPECT_FALSE(req.authorId);
    ASSERT_TRUE(req.categories);
    EXPECT_EQ(*req.categories, (QSet<std::int64_t>{4, 5, 7}));

    // الحج is too short to lose its article, so حجة does not match.
    req = parse("كتب الحج");
    ASSERT_TRUE(req.categories);
    EXPECT_EQ(*req.categories, (QSet<std::int64_t>{9, 10, 14}));

    // Two candidates naming no author fall back to categories.
    req = parse("كتب التفسير والتاريخ");
    EXPECT_FALSE(req.authorId);
    ASSERT_TRUE(req.categories);
    EXPECT_EQ(*req.categories, (QSet<std::int64_t>{8, 13}));

    req = parse("كتب لا وجود لها");
    EXPECT_FALSE(req.authorId);
    EXPECT_FALSE(req.categories);
}

TEST(DataQAHelpers, centuriesAndTheirSortPositionsAtTheBounds)
{
    EXPECT_EQ(DataQA::century(std::nullopt), 0);
    EXPECT_EQ(DataQA::century(-40), 0);
    EXPECT_EQ(DataQA::century(1), 0);
    EXPECT_EQ(DataQA::century(2), 1);
    EXPECT_EQ(DataQA::century(100), 1);
    EXPECT_EQ(DataQA::century(101), 2);
    EXPECT_EQ(DataQA::century(1500), 15);
    EXPECT_EQ(DataQA::century(1501), 16);

    EXPECT_EQ(DataQA::centuryIndex(QStringLiteral("القرن الأول")), 1);
    EXPECT_EQ(DataQA::centuryIndex(QStringLiteral("القرن الاول")), 998);
    EXPECT_EQ(DataQA::centuryIndex(QStringLiteral("القرن الخامس عشر")), 15);
    EXPECT_EQ(DataQA::centuryIndex(QStringLiteral("القرن 16")), 998);
    EXPECT_EQ(DataQA::centuryIndex(QStringLiteral("غير محدد")), 999);
    EXPECT_EQ(DataQA::centuryIndex(QString()), 998);

    const QString q = QStringLiteral("عدد الكتب حسب القرنين");
    EXPECT_FALSE(DataQA::has(q, {QStringLiteral("حسب القرن")}));
    EXPECT_TRUE(DataQA::has(q, {QStringLiteral("لا"), QStringLiteral("عدد الكتب")}));
    EXPECT_FALSE(DataQA::has(q, {}));
}
