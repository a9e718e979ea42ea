#include "DataQAFixture.h"

#include "assistant/AIAssistant.h"
#include "assistant/DataQA.h"
#include "assistant/Intent.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class DataQARun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { data = new test::DataLibrary(test::DataLibrary::make()); }
    static void TearDownTestSuite()
    {
        delete data;
        data = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(data && data->lib);
        Settings::setIndicDigits(true);
    }
    static AIAnswer ask(const QString& q) { return DataQA::run(*data->lib, q); }
    static AIAnswer ask(const DataQA::Request& req) { return DataQA::run(*data->lib, QString(), req); }

    static test::DataLibrary* data;
};

test::DataLibrary* DataQARun::data = nullptr;

const QString closing = QStringLiteral("\nالعدد هنا عدد الصفحات التي ورد فيها اللفظ بلواصقه الشائعة.");

QList<QStringList> rows(std::initializer_list<QStringList> r)
{
    return QList<QStringList>(r);
}

} // namespace

TEST_F(DataQARun, aWordIsCountedInItsTenAttachedFormsByBook)
{
    const AIAnswer a = ask(QStringLiteral("كم مرة وردت كلمة الصبر"));
    EXPECT_EQ(a.mode, AIMode::data);
    EXPECT_TRUE(a.structured);
    EXPECT_TRUE(a.verifiedAll);
    EXPECT_TRUE(a.passages.isEmpty());
    ASSERT_EQ(a.tables.size(), 1);
    const DataTable& t = a.tables[0];
    EXPECT_EQ(t.title, QStringLiteral("ورود «الصبر» حسب الكتاب"));
    EXPECT_EQ(t.columns, (QStringList{QStringLiteral("الكتاب"), QStringLiteral("صفحات «الصبر»")}));
    // The ten pages of al-Mughni each hold one form; الصابرين and صبرا are other words.
    ASSERT_EQ(t.rows.size(), 3);
    EXPECT_EQ(t.rows[0], (QStringList{QStringLiteral("المغني"), QStringLiteral("١٠")}));
    EXPECT_EQ(t.rows[1][1], QStringLiteral("١"));
    EXPECT_EQ(t.chart.size(), 3);
    EXPECT_EQ(t.chart[0].values, (QList<double>{10}));
    EXPECT_EQ(t.series, (QStringList{QStringLiteral("الصبر")}));
    EXPECT_FALSE(t.note);
    // Grouped by book, the lines name no largest group.
    EXPECT_EQ(a.text, QStringLiteral("ورد «الصبر» في ١٢ صفحة من ٣ كتب.") + closing);
}

TEST_F(DataQARun, theDataModeOfTheAssistantIsTheDataAnswer)
{
    const QString q = QStringLiteral("عدد الكتب حسب القرن");
    const AIAnswer a = AIAssistant::run(*data->lib, q, AIMode::data);
    const AIAnswer direct = ask(q);
    EXPECT_EQ(a.mode, AIMode::data);
    EXPECT_FALSE(a.note);
    EXPECT_EQ(a.text, direct.text);
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows, direct.tables[0].rows);

    // A count the library does not keep is routed here and said not to be
    // known, rather than answered with extracts or a table of something else.
    const QString hadiths = QStringLiteral("كم حديثا في كل كتاب من كتب الحديث؟");
    EXPECT_EQ(Intent::route(hadiths).first, AIMode::data);
    const AIAnswer unknown = AIAssistant::run(*data->lib, hadiths, AIMode::data);
    EXPECT_TRUE(unknown.tables.isEmpty());
    EXPECT_TRUE(unknown.passages.isEmpty());
    EXPECT_TRUE(unknown.text.startsWith(QStringLiteral("لا أعرف"))) << unknown.text.toStdString();
    EXPECT_TRUE(unknown.text.contains(QStringLiteral("«كم حديثا»"))) << unknown.text.toStdString();
}

TEST_F(DataQARun, termsByCenturyAndByCategoryNameTheirLargestGroup)
{
    AIAnswer a = ask(QStringLiteral("كم مرة وردت كلمة الصبر حسب القرن"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows, rows({{QStringLiteral("القرن السابع"), QStringLiteral("١٠")},
                                      {QStringLiteral("القرن الثامن"), QStringLiteral("١")},
                                      {QStringLiteral("القرن ١٧"), QStringLiteral("١")}}));
    EXPECT_EQ(a.text, QStringLiteral("ورد «الصبر» في ١٢ صفحة من ٣ كتب، وأكثره في القرن السابع (١٠).") + closing);

    // Two terms: one number per term, rows by the first term, a group only the
    // second reaches last.
    a = ask(QStringLiteral("قارن ورود «الصَّبر» و«الشكر» حسب القسم"));
    ASSERT_EQ(a.tables.size(), 1);
    const DataTable& t = a.tables[0];
    EXPECT_EQ(t.title, QStringLiteral("ورود «الصَّبر» و«الشكر» حسب القسم"));
    EXPECT_EQ(t.columns, (QStringList{QStringLiteral("القسم"), QStringLiteral("صفحات «الصَّبر»"),
                                      QStringLiteral("صفحات «الشكر»")}));
    EXPECT_EQ(t.rows, rows({{QStringLiteral("فقه الحنابلة"), QStringLiteral("١١"), QStringLiteral("٣")},
                            {QStringLiteral("غير مصنف"), QStringLiteral("١"), QStringLiteral("٠")},
                            {QStringLiteral("التفسير وحجة القراءات"), QStringLiteral("٠"), QStringLiteral("١")}}));
    ASSERT_EQ(t.chart.size(), 3);
    EXPECT_EQ(t.chart[2].values, (QList<double>{0, 1}));
    EXPECT_EQ(t.series.size(), 2);
    EXPECT_EQ(a.text, QStringLiteral("ورد «الصَّبر» في ١٢ صفحة من ٣ كتب، وأكثره في فقه الحنابلة (١١).\n"
                                     "ورد «الشكر» في ٤ صفحات من ٣ كتب، وأكثره في فقه الحنابلة (٣).")
                          + closing);
}

TEST_F(DataQARun, phrasesAreSearchedAsWrittenAndMissingTermsCountZero)
{
    AIAnswer a = ask(QStringLiteral("ورود «عزم الأمور»"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows, rows({{QStringLiteral("المغني"), QStringLiteral("٢")}}));
    EXPECT_EQ(a.text, QStringLiteral("ورد «عزم الأمور» في صفحتين من كتاب واحد.") + closing);

    a = ask(QStringLiteral("ورود «الاستحسان» حسب القرن"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_TRUE(a.tables[0].rows.isEmpty());
    EXPECT_TRUE(a.tables[0].chart.isEmpty());
    EXPECT_FALSE(a.tables[0].note);
    EXPECT_EQ(a.text, QStringLiteral("ورد «الاستحسان» في ٠ صفحة من ٠ كتاب.") + closing);

    // A limit cuts the rows and says so.
    a = ask(QStringLiteral("أكثر 1 كتب ورد فيها لفظ الصبر"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows.size(), 1);
    EXPECT_EQ(a.tables[0].note, QStringLiteral("يعرض أعلى ١ من ٣."));
}

TEST_F(DataQARun, centuriesRunInOrderWithHighCenturiesAndTheUnknownLast)
{
    const AIAnswer a = ask(QStringLiteral("عدد الكتب حسب القرن"));
    ASSERT_EQ(a.tables.size(), 1);
    const DataTable& t = a.tables[0];
    EXPECT_EQ(t.title, QStringLiteral("عدد الكتب حسب القرن"));
    EXPECT_EQ(t.columns, (QStringList{QStringLiteral("القرن"), QStringLiteral("الكتب"), QStringLiteral("الصفحات")}));
    EXPECT_EQ(t.rows, rows({{QStringLiteral("القرن الثاني"), QStringLiteral("١"), QStringLiteral("٤٠")},
                            {QStringLiteral("القرن الثالث"), QStringLiteral("٣"), QStringLiteral("٨١")},
                            {QStringLiteral("القرن السابع"), QStringLiteral("٣"), QStringLiteral("١٢")},
                            {QStringLiteral("القرن الثامن"), QStringLiteral("١"), QStringLiteral("٢")},
                            {QStringLiteral("القرن التاسع"), QStringLiteral("١"), QStringLiteral("٠")},
                            {QStringLiteral("القرن الرابع عشر"), QStringLiteral("١"), QStringLiteral("٠")},
                            {QStringLiteral("القرن ١٧"), QStringLiteral("١"), QStringLiteral("١")},
                            {QStringLiteral("غير محدد"), QStringLiteral("٣"), QStringLiteral("٠")}}));
    EXPECT_EQ(t.chart.size(), 8);
    EXPECT_EQ(t.series, (QStringList{QStringLiteral("الكتب")}));
    EXPECT_EQ(a.text, QStringLiteral("١٤ كتابا موزعة على ٧ قرون، أكثرها القرن الثالث (٣)، و٣ كتب بلا قرن معروف."));
}

TEST_F(DataQARun, authorsByDeathInACenturyOrByBooksWhenTheMostAreAskedFor)
{
    AIAnswer a = ask(QStringLiteral("المؤلفون في القرن السابع"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].title, QStringLiteral("المؤلفون مرتبين بالوفاة (القرن السابع الهجري)"));
    EXPECT_EQ(a.tables[0].rows,
              rows({{QStringLiteral("١"), QStringLiteral("ابن قدامة المقدسي"), QStringLiteral("٦٢٠هـ"),
                     QStringLiteral("٢"), QStringLiteral("١١")},
                    {QStringLiteral("٢"), QStringLiteral("محمد بن أحمد القرطبي"), QStringLiteral("٦٧١هـ"),
                     QStringLiteral("١"), QStringLiteral("١")}}));
    EXPECT_TRUE(a.tables[0].chart.isEmpty());
    EXPECT_TRUE(a.tables[0].series.isEmpty());
    EXPECT_EQ(a.text, QStringLiteral("مؤلفان (القرن السابع الهجري) لهم ٣ كتب في المكتبة."
                                     " أقدمهم ابن قدامة المقدسي (ت ٦٢٠هـ)."));

    a = ask(QStringLiteral("أكثر المؤلفين كتبا في القرن السابع"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].title, QStringLiteral("المؤلفون الأكثر كتبا في المكتبة (القرن السابع الهجري)"));
    EXPECT_EQ(a.tables[0].chart.size(), 2);

    // The placeholder author is left out, his book still counted; an author
    // without a death year shows "-".
    a = ask(QStringLiteral("أكثر المؤلفين كتبا"));
    ASSERT_EQ(a.tables.size(), 1);
    const DataTable& t = a.tables[0];
    ASSERT_EQ(t.rows.size(), 9);
    EXPECT_EQ(t.rows[0][1], QStringLiteral("ابن ماجه"));
    EXPECT_EQ(t.rows[1][1], QStringLiteral("ابن قدامة المقدسي"));
    EXPECT_EQ(t.rows[2], (QStringList{QStringLiteral("٣"), QStringLiteral("أحمد بن محمد"), QStringLiteral("-"),
                                      QStringLiteral("٢"), QStringLiteral("٠")}));
    for (const QStringList& row : t.rows)
        EXPECT_NE(row[1], QStringLiteral("—"));
    EXPECT_EQ(t.chart.size(), 9);
    EXPECT_EQ(t.chart[0].values, (QList<double>{2}));
    EXPECT_EQ(a.text, QStringLiteral("٩ مؤلفين لهم ١٤ كتابا في المكتبة."));

    a = ask(QStringLiteral("أكثر 3 المؤلفين"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows.size(), 3);
    EXPECT_EQ(a.tables[0].note, QStringLiteral("يعرض ٣ من ٩ مؤلفين."));
}

TEST_F(DataQARun, filtersAreNamedInAFixedOrder)
{
    DataQA::Request req;
    req.wantStats = true;
    req.centuryFilter = 7;
    req.categories = QSet<std::int64_t>{4, 5, 8};
    req.authorId = 4;
    AIAnswer a = ask(req);
    ASSERT_EQ(a.tables.size(), 1);
    const QString filter = QStringLiteral(" (القرن السابع الهجري · أقسام: فقه الحنابلة · المؤلف: ابن قدامة المقدسي)");
    EXPECT_EQ(a.tables[0].title, QStringLiteral("إحصاءات المكتبة") + filter);
    EXPECT_EQ(a.text, QStringLiteral("في المكتبة") + filter + QStringLiteral(" كتابان في ١١ صفحة لـمؤلف واحد."));

    // Books without a category still add an empty part.
    req = {};
    req.categories = QSet<std::int64_t>{12};
    a = ask(req);
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].title, QStringLiteral("الكتب (أقسام: )"));
}

TEST_F(DataQARun, statisticsOfTheWholeLibraryAndOfUndatedBooks)
{
    AIAnswer a = ask(QStringLiteral("إحصاءات المكتبة"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows,
              rows({{QStringLiteral("الكتب"), QStringLiteral("١٤")},
                    {QStringLiteral("الصفحات"), QStringLiteral("١٣٦")},
                    {QStringLiteral("المؤلفون"), QStringLiteral("١٠")},
                    {QStringLiteral("الأقسام"), QStringLiteral("٤")},
                    {QStringLiteral("أقدم وفاة"), QStringLiteral("١٧٩هـ")},
                    {QStringLiteral("أحدث وفاة"), QStringLiteral("١٣٥٠هـ")}}));
    EXPECT_TRUE(a.tables[0].chart.isEmpty());
    EXPECT_EQ(a.text, QStringLiteral("في المكتبة ١٤ كتابا في ١٣٦ صفحة لـ١٠ مؤلفين."));

    DataQA::Request req;
    req.wantStats = true;
    req.categories = QSet<std::int64_t>{9, 10, 14};
    a = ask(req);
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows[4][1], QStringLiteral("-"));
    EXPECT_EQ(a.tables[0].rows[5][1], QStringLiteral("-"));
}

TEST_F(DataQARun, bookListsAndTheirEarlyExit)
{
    AIAnswer a = ask(QStringLiteral("كتب الفقه"));
    ASSERT_EQ(a.tables.size(), 1);
    const DataTable& t = a.tables[0];
    EXPECT_EQ(t.title, QStringLiteral("الكتب (أقسام: فقه الحنابلة)"));
    EXPECT_EQ(t.rows, rows({{QStringLiteral("١"), QStringLiteral("الكافي في فقه الإمام أحمد"),
                             QStringLiteral("ابن قدامة المقدسي"), QStringLiteral("٦٢٠هـ"), QStringLiteral("فقه الحنابلة"),
                             QStringLiteral("١")},
                            {QStringLiteral("٢"), QStringLiteral("المغني"), QStringLiteral("ابن قدامة المقدسي"),
                             QStringLiteral("٦٢٠هـ"), QStringLiteral("فقه الحنابلة"), QStringLiteral("١٠")},
                            {QStringLiteral("٣"), QStringLiteral("مجموع الفتاوى"), QStringLiteral("ابن تيمية"),
                             QStringLiteral("٧٢٨هـ"), QStringLiteral("فقه الحنابلة"), QStringLiteral("٢")}}));
    EXPECT_EQ(a.text, QStringLiteral("٣ كتب (أقسام: فقه الحنابلة) في ١٣ صفحة، مرتبة بوفاة مؤلفيها."));

    a = ask(QStringLiteral("كتب القرن 19"));
    EXPECT_TRUE(a.tables.isEmpty());
    EXPECT_EQ(a.text, QStringLiteral("لا كتب تطابق هذا الطلب في المكتبة."));
}

TEST(DataQABookList, longListsShowTheFirstFiftyOrTheLimit)
{
    QTemporaryDir dir;
    const QString path = test::FixtureLibrary::custom(
        dir.path(), QStringLiteral("many.db"),
        {QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES (1, 'الشافعي, محمد بن إدريس', 204)"),
         QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 120) "
                        "INSERT INTO books(id, title, author_id) SELECT i, 'رسالة ' || i, 1 FROM n")});
    ASSERT_FALSE(path.isEmpty());
    const auto lib = Library::open(path);
    ASSERT_TRUE(lib);
    Settings::setIndicDigits(true);
    AIAnswer a = DataQA::run(*lib, QStringLiteral("قائمة كتب الشافعي محمد"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows.size(), 50);
    EXPECT_EQ(a.tables[0].note, QStringLiteral("يعرض أول ٥٠ من ١٢٠ كتابا، مرتبة بوفاة مؤلفيها."));
    // Every comma of the summary becomes an Arabic one, in names too.
    EXPECT_EQ(a.text, QStringLiteral("١٢٠ كتابا (المؤلف: الشافعي، محمد بن إدريس) في ٠ صفحة، مرتبة بوفاة مؤلفيها."));

    a = DataQA::run(*lib, QStringLiteral("قائمة أول 5 كتب"));
    ASSERT_EQ(a.tables.size(), 1);
    EXPECT_EQ(a.tables[0].rows.size(), 5);
}

TEST(DataQANum, groupsThousandsByHandAndFollowsTheDigitsPreference)
{
    Settings::setIndicDigits(true);
    EXPECT_EQ(DataQA::num(1234567), QStringLiteral("١٬٢٣٤٬٥٦٧"));
    EXPECT_EQ(DataQA::num(12345), QStringLiteral("١٢٬٣٤٥"));
    EXPECT_EQ(DataQA::num(999), QStringLiteral("٩٩٩"));
    EXPECT_EQ(DataQA::num(0), QStringLiteral("٠"));
    EXPECT_EQ(DataQA::num(-1000), QStringLiteral("-١٬٠٠٠"));
    Settings::setIndicDigits(false);
    EXPECT_EQ(DataQA::num(12345), QStringLiteral("12٬345"));
    EXPECT_EQ(DataQA::centuryLabel(0), QStringLiteral("غير محدد"));
    EXPECT_EQ(DataQA::centuryLabel(1), QStringLiteral("القرن الأول"));
    EXPECT_EQ(DataQA::centuryLabel(16), QStringLiteral("القرن 16"));
}

TEST(DataQAPageCounts, countsFollowTheCatalogueOfEachLibrary)
{
    Settings::setIndicDigits(true);
    auto first = test::DataLibrary::make();
    ASSERT_TRUE(first.lib);
    EXPECT_EQ(DataQA::pageCounts(*first.lib).value(4), 10);
    EXPECT_FALSE(DataQA::pageCounts(*first.lib).contains(15));

    // A book installed while the library is open counts once the catalogue
    // is reloaded, as the main window does on a library change.
    {
        auto db = SQLiteDB::open(first.path, false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->run(QStringLiteral("INSERT INTO books(id, title, author_id) VALUES (15, 'زاد المستقنع', 4)")));
        ASSERT_TRUE(test::DataLibrary::addPage(*db, 5001, 15, 1, QStringLiteral("كتاب الطهارة")));
        ASSERT_TRUE(test::DataLibrary::addPage(*db, 5002, 15, 2, QStringLiteral("باب المياه")));
    }
    first.lib->reloadCatalog();
    EXPECT_EQ(DataQA::pageCounts(*first.lib).value(15), 2);
    const AIAnswer a = DataQA::run(*first.lib, QStringLiteral("كتب ابن قدامة"));
    ASSERT_EQ(a.tables.size(), 1);
    ASSERT_EQ(a.tables[0].rows.size(), 3);
    EXPECT_EQ(a.tables[0].rows[2], (QStringList{QStringLiteral("٣"), QStringLiteral("زاد المستقنع"),
                                               QStringLiteral("ابن قدامة المقدسي"), QStringLiteral("٦٢٠هـ"),
                                               QStringLiteral("غير مصنف"), QStringLiteral("٢")}));

    // A second library keeps its own counts beside the first.
    QTemporaryDir dir;
    const QString other = test::FixtureLibrary::custom(
        dir.path(), QStringLiteral("other.db"),
        {QStringLiteral("INSERT INTO books(id, title) VALUES (4, 'كتاب')"),
         QStringLiteral("INSERT INTO pages(id, book_id, seq, content) VALUES (1, 4, 1, 'أ'), (2, 4, 2, 'ب'), "
                        "(3, 4, 3, 'ج')")});
    const auto second = Library::open(other);
    ASSERT_TRUE(second);
    EXPECT_EQ(DataQA::pageCounts(*second).value(4), 3);
    EXPECT_EQ(DataQA::pageCounts(*first.lib).value(4), 10);
}

TEST_F(DataQARun, aNamedAuthorIsFoundByOneWordOrAfterLamElseSaidToBeMissing)
{
    const struct {
        const char16_t* question;
        const char16_t* text;
    } cases[] = {
        {u"كم كتابا للقرطبي؟", u"كتاب واحد (المؤلف: محمد بن أحمد القرطبي) في صفحة واحدة، مرتبة بوفاة مؤلفيها."},
        {u"عدد كتب القرطبي", u"كتاب واحد (المؤلف: محمد بن أحمد القرطبي) في صفحة واحدة، مرتبة بوفاة مؤلفيها."},
        {u"كم كتابا لـابن قدامة؟", u"كتابان (المؤلف: ابن قدامة المقدسي) في ١١ صفحة، مرتبة بوفاة مؤلفيها."},
        {u"كم كتابا لأبي حنيفة الدينوري؟", u"لا مؤلف في المكتبة باسم «أبي حنيفة الدينوري»، فلم أحسب شيئا."},
        {u"من أقدم مؤلف؟", u"٩ مؤلفين لهم ١٤ كتابا في المكتبة. أقدمهم مالك بن أنس (ت ١٧٩هـ)."},
    };
    for (const auto& c : cases) {
        const QString question = QString::fromUtf16(c.question);
        const AIAnswer a = ask(question);
        EXPECT_EQ(a.text, QString::fromUtf16(c.text)) << question.toStdString() << " → " << a.text.toStdString();
    }
    EXPECT_TRUE(ask(QString::fromUtf16(cases[3].question)).tables.isEmpty());
}
