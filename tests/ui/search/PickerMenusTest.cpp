#include "ui/ViewTestSupport.h"

#include "core/Arabic.h"
#include "ui/search/BookPicker.h"
#include "ui/search/PickerMenus.h"

#include <QAction>
#include <QMenu>

using namespace quorvel;
using test::SmallLib;

namespace {

class PickerMenusTest : public ::testing::Test {
protected:
    PickerMenusTest() : prefs({Settings::indicDigitsKey}) { test::preparePanels(); }

    static QStringList titles(const QMenu& menu)
    {
        QStringList out;
        for (QAction* a : menu.actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }
    static QAction* find(const QMenu& menu, const QString& prefix)
    {
        for (QAction* a : menu.actions())
            if (a->text().startsWith(prefix))
                return a;
        return nullptr;
    }

    PickerMenus::Context context(BookPicker::Page page)
    {
        PickerMenus::Context c;
        c.lib = small.lib;
        c.picker = picker.get();
        c.page = page;
        c.roots = picker->roots(page, {});
        c.checked = &checked;
        c.window = &window;
        c.reload = [this] { ++reloads; };
        c.outlineChanged = [this] { ++redraws; };
        c.updateScopeLabel = [this] { ++labels; };
        c.pickYears = [this] { ++periods; };
        return c;
    }

    test::PreferenceGuard prefs;
    test::SmallLib small;
    std::unique_ptr<BookPicker> picker = small.lib ? std::make_unique<BookPicker>(small.lib) : nullptr;
    QSet<std::int64_t> checked;
    QWidget window;
    ScriptedDialogs dialogs;
    int reloads = 0, redraws = 0, labels = 0, periods = 0;
};

TEST_F(PickerMenusTest, theIgnoreItemsShowOnlyWithIgnoredBooks)
{
    ASSERT_TRUE(small.lib);
    std::unique_ptr<QMenu> plain(PickerMenus::gearMenu(context(BookPicker::Page::books)));
    EXPECT_EQ(titles(*plain), (QStringList{"ترتيب زمني (بوفاة المؤلّف)", "ترتيب هجائي", "-",
                                           "تحديد كتب فترة: من سنة إلى سنة…", "-", "تحديد كل الظاهر", "عكس التحديد",
                                           "-", "تجاهل الكتب المحددة في البحث"}));
    EXPECT_TRUE(plain->actions()[0]->isChecked());

    // Ignoring with nothing checked asks for books first.
    find(*plain, QStringLiteral("تجاهل"))->trigger();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("حدد كتابا أو أكثر أولا"));

    checked = {SmallLib::hadithA, SmallLib::hadithB, SmallLib::fiqh};
    find(*plain, QStringLiteral("تجاهل"))->trigger();
    EXPECT_EQ(small.lib->ignoredBooks().size(), 3);
    std::unique_ptr<QMenu> menu(PickerMenus::gearMenu(context(BookPicker::Page::books)));
    ASSERT_NE(find(*menu, QStringLiteral("تحديد الكتب المتجاهلة (")), nullptr);
    EXPECT_EQ(find(*menu, QStringLiteral("تحديد الكتب المتجاهلة ("))->text(), QStringLiteral("تحديد الكتب المتجاهلة (٣)"));
    checked.clear();
    find(*menu, QStringLiteral("تحديد الكتب المتجاهلة ("))->trigger();
    EXPECT_EQ(checked.size(), 3);
    find(*menu, QStringLiteral("مسح قائمة التجاهل"))->trigger();
    EXPECT_TRUE(small.lib->ignoredBooks().isEmpty());

    // Ordering by title rebuilds the rows.
    find(*menu, QStringLiteral("ترتيب هجائي"))->trigger();
    EXPECT_TRUE(picker->sortAlpha);
    EXPECT_EQ(reloads, 1);
    find(*menu, QStringLiteral("تحديد كتب فترة"))->trigger();
    EXPECT_EQ(periods, 1);
}

TEST_F(PickerMenusTest, invertingTwiceRestoresAndScopesCanBeDeletedFromTheirRow)
{
    ASSERT_TRUE(small.lib);
    checked = {SmallLib::hadithA, 999};
    std::unique_ptr<QMenu> menu(PickerMenus::gearMenu(context(BookPicker::Page::books)));
    find(*menu, QStringLiteral("عكس التحديد"))->trigger();
    EXPECT_EQ(checked.size(), 5); // the four other books and the one from no page
    find(*menu, QStringLiteral("عكس التحديد"))->trigger();
    EXPECT_EQ(checked, (QSet<std::int64_t>{SmallLib::hadithA, 999}));
    EXPECT_EQ(labels, 2);

    small.lib->saveScope(QStringLiteral("الحديث"), {SmallLib::hadithA});
    PickerMenus::Context c = context(BookPicker::Page::scopes);
    ASSERT_EQ(c.roots.size(), 1);
    c.selected = c.roots[0]->children.value(0);
    std::unique_ptr<QMenu> onBook(PickerMenus::gearMenu(c));
    EXPECT_EQ(find(*onBook, QStringLiteral("حذف المجال")), nullptr);
    c.selected = c.roots[0];
    std::unique_ptr<QMenu> onScope(PickerMenus::gearMenu(c));
    QAction* remove = find(*onScope, QStringLiteral("حذف المجال «الحديث»"));
    ASSERT_NE(remove, nullptr);
    remove->trigger();
    EXPECT_TRUE(small.lib->scopes().isEmpty());
}

TEST_F(PickerMenusTest, favouritesItemsMakeFoldersAndFileTheCheckedBooks)
{
    ASSERT_TRUE(small.lib);
    std::unique_ptr<QMenu> menu(PickerMenus::gearMenu(context(BookPicker::Page::favorites)));
    dialogs.answer(QStringLiteral("مراجع"));
    find(*menu, QStringLiteral("مجلّد مفضّلة جديد"))->trigger();
    EXPECT_EQ(small.lib->folders().size(), 2);
    checked = {SmallLib::fiqh};
    find(*menu, QStringLiteral("إضافة الكتب المحددة"))->trigger();
    EXPECT_TRUE(small.lib->isFavorite(SmallLib::fiqh));
}

TEST_F(PickerMenusTest, theHistoryMenuFillsTheFormWithAChosenSearch)
{
    ASSERT_TRUE(small.lib);
    std::unique_ptr<QMenu> empty(PickerMenus::historyMenu(*small.lib, &window, {}));
    EXPECT_EQ(titles(*empty), QStringList{"لا يوجد بحث سابق"});
    SearchQuery q = test::wordsQuery(QStringLiteral("رسول الله"));
    small.lib->addHistory(q.title(), q.json(), 7);
    std::optional<SearchQuery> filled;
    std::unique_ptr<QMenu> menu(PickerMenus::historyMenu(*small.lib, &window, [&](const SearchQuery& s) { filled = s; }));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), q.title() + QStringLiteral("  (٧)"));
    menu->actions()[0]->trigger();
    EXPECT_EQ(filled, q);
}

} // namespace
