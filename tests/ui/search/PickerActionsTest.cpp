#include "ui/ViewTestSupport.h"

#include "core/Arabic.h"
#include "ui/search/BookPicker.h"
#include "ui/search/PickerActions.h"

using namespace quorvel;

namespace {

class PickerActionsTest : public ::testing::Test {
protected:
    PickerActionsTest() : prefs({Settings::indicDigitsKey}) { test::preparePanels(); }

    // Authors who died in 1, 2, 500, 600, 1999 and 2000, one book each; one
    // book without an author.
    std::shared_ptr<Library> library()
    {
        const QStringList rows{
            QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES(1, 'أ', 1), (2, 'ب', 2), (3, 'ت', 500), "
                           "(4, 'ث', 600), (5, 'ج', 1999), (6, 'ح', 2000)"),
            QStringLiteral("INSERT INTO books(id, title, author_id) VALUES(1, 'كتاب ١', 1), (2, 'كتاب ٢', 2), "
                           "(3, 'كتاب ٣', 3), (4, 'كتاب ٤', 4), (5, 'كتاب ٥', 5), (6, 'كتاب ٦', 6), (7, 'كتاب ٧', NULL)"),
            QStringLiteral("INSERT INTO pages(id, book_id, seq, content) VALUES(31, 3, 4, 'نص'), (41, 4, 9, 'نص')"),
        };
        const QString path = test::FixtureLibrary::custom(dir.path(), QStringLiteral("deaths.db"), rows);
        test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
        return path.isEmpty() ? nullptr : Library::open(path);
    }

    static QSet<std::int64_t> set(const QList<std::int64_t>& ids) { return QSet<std::int64_t>(ids.begin(), ids.end()); }

    test::PreferenceGuard prefs;
    QTemporaryDir dir;
};

TEST_F(PickerActionsTest, thePeriodTakesDeathsFromTheSecondYearToBefore2000)
{
    auto lib = library();
    ASSERT_TRUE(lib);
    EXPECT_EQ(set(PickerActions::books(*lib, 1, 9999)), (QSet<std::int64_t>{2, 3, 4, 5}));

    // Both fields empty: the whole span, an open label.
    PickerActions::Period open = PickerActions::period(*lib, QStringLiteral(" "), QString());
    EXPECT_EQ(open.from, 1);
    EXPECT_EQ(open.to, 9999);
    EXPECT_TRUE(open.alert.isEmpty());
    EXPECT_EQ(set(open.ids), (QSet<std::int64_t>{2, 3, 4, 5}));
    EXPECT_EQ(open.labelSuffix, QStringLiteral(" · وفيات من البداية إلى اليوم"));

    // Arabic-Indic and Latin digits alike.
    PickerActions::Period span = PickerActions::period(*lib, QStringLiteral("\t٥٠٠ "), QStringLiteral("600"));
    EXPECT_EQ(span.from, 500);
    EXPECT_EQ(span.to, 600);
    EXPECT_EQ(set(span.ids), (QSet<std::int64_t>{3, 4}));
    EXPECT_EQ(span.labelSuffix, QStringLiteral(" · وفيات من ٥٠٠هـ إلى ٦٠٠هـ"));

    EXPECT_EQ(PickerActions::period(*lib, QStringLiteral("700"), QStringLiteral("600")).alert,
              QStringLiteral("سنة البداية بعد سنة النهاية"));
    const PickerActions::Period none = PickerActions::period(*lib, QStringLiteral("700"), QStringLiteral("800"));
    EXPECT_EQ(none.alert, QStringLiteral("لا كتب لمؤلفين توفوا في هذه الفترة"));
    EXPECT_TRUE(none.ids.isEmpty());

    EXPECT_EQ(PickerActions::year(QStringLiteral("-٥")), -5);
    EXPECT_FALSE(PickerActions::year(QStringLiteral("5x")));
    EXPECT_FALSE(PickerActions::year(QStringLiteral("  ")));
}

TEST_F(PickerActionsTest, invertingTwiceRestoresTheCheckAndSparesOtherPages)
{
    auto lib = library();
    ASSERT_TRUE(lib);
    BookPicker picker(lib);
    const QList<PickNodePtr> shown = picker.roots(BookPicker::Page::books, QStringLiteral("كتاب ٣"));
    ASSERT_EQ(shown.size(), 1);
    QSet<std::int64_t> checked{1};
    PickerActions::invert(shown, checked);
    EXPECT_EQ(checked, (QSet<std::int64_t>{1, 3}));
    PickerActions::invert(shown, checked);
    EXPECT_EQ(checked, QSet<std::int64_t>{1});
    PickerActions::checkAll(picker.roots(BookPicker::Page::authors, {}), checked);
    EXPECT_EQ(checked.size(), 7);
}

TEST_F(PickerActionsTest, aSavedSetReopensItsPagesAndABrokenQueryItsName)
{
    auto lib = library();
    ASSERT_TRUE(lib);
    const PickerActions::Reopened broken =
        PickerActions::reopen(*lib, QStringLiteral("مختارات"), QStringLiteral("{"), {41, 999, 31});
    EXPECT_EQ(broken.query.andPhrases, QStringList{QStringLiteral("مختارات")});
    ASSERT_EQ(broken.hits.size(), 2);
    EXPECT_EQ(broken.hits[0], SearchHit(SearchHit::Kind::page, 41, 4, 9));
    EXPECT_EQ(broken.hits[1], SearchHit(SearchHit::Kind::page, 31, 3, 4));

    SearchQuery q;
    q.andPhrases = {QStringLiteral("نص")};
    EXPECT_EQ(PickerActions::reopen(*lib, QStringLiteral("س"), q.json(), {}).query, q);
}

TEST_F(PickerActionsTest, theHistoryMenuListsTheDecodableOnesOfTheNewest25)
{
    auto lib = library();
    ASSERT_TRUE(lib);
    EXPECT_TRUE(PickerActions::historyItems(*lib).isEmpty());
    SearchQuery q;
    q.andPhrases = {QStringLiteral("الصلاة")};
    for (int i = 0; i < 30; ++i)
        lib->addHistory(q.title(), i == 29 ? QStringLiteral("{") : q.json(), i);
    const QList<PickerActions::HistoryItem> items = PickerActions::historyItems(*lib);
    ASSERT_EQ(items.size(), 24);
    EXPECT_EQ(items[0].title, QStringLiteral("الصلاة  (٢٨)"));
    EXPECT_EQ(items[0].query, q);
}

} // namespace
