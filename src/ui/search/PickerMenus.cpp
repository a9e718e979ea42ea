#include "ui/search/PickerMenus.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/Widgets.h"
#include "ui/search/PickerActions.h"

#include <QMenu>

namespace quorvel::PickerMenus {

namespace {

constexpr char kByDeath[] = "ترتيب زمني (بوفاة المؤلّف)";
constexpr char kByTitle[] = "ترتيب هجائي";
constexpr char kPeriod[] = "تحديد كتب فترة: من سنة إلى سنة…";
constexpr char kCheckShown[] = "تحديد كل الظاهر";
constexpr char kInvert[] = "عكس التحديد";
constexpr char kIgnore[] = "تجاهل الكتب المحددة في البحث";
constexpr char kPickFirst[] = "حدد كتابا أو أكثر أولا";
constexpr char kUnignore[] = "إلغاء تجاهل الكتب المحددة";
constexpr char kCheckIgnoredBefore[] = "تحديد الكتب المتجاهلة (";
constexpr char kClearIgnored[] = "مسح قائمة التجاهل";
constexpr char kNewFolder[] = "مجلّد مفضّلة جديد…";
constexpr char kNewFolderTitle[] = "مجلّد جديد";
constexpr char kFolderName[] = "اسم المجلّد";
constexpr char kAddToFavorites[] = "إضافة الكتب المحددة إلى المفضّلة";
constexpr char kDeleteScopeBefore[] = "حذف المجال «";
constexpr char kNoHistory[] = "لا يوجد بحث سابق";

} // namespace

QMenu* gearMenu(const Context& c)
{
    auto* menu = new QMenu(c.window);
    // Each item re-checks the window; the context's pointers live as long as it.
    auto item = [&](const char* title, std::function<void()> fn) {
        QAction* action = menuItem(QString::fromUtf8(title), QString(), [window = c.window, fn = std::move(fn)] {
            if (window)
                fn();
        }, menu);
        menu->addAction(action);
        return action;
    };
    auto call = [](const std::function<void()>& fn) {
        if (fn)
            fn();
    };
    const QSet<std::int64_t> ignored = c.lib->ignoredBooks();

    QAction* byDeath = item(kByDeath, [c, call] {
        c.picker->sortAlpha = false;
        call(c.reload);
    });
    byDeath->setCheckable(true);
    byDeath->setChecked(!c.picker->sortAlpha);
    QAction* byTitle = item(kByTitle, [c, call] {
        c.picker->sortAlpha = true;
        call(c.reload);
    });
    byTitle->setCheckable(true);
    byTitle->setChecked(c.picker->sortAlpha);
    menu->addSeparator();
    item(kPeriod, [c, call] { call(c.pickYears); });
    menu->addSeparator();
    item(kCheckShown, [c, call] {
        PickerActions::checkAll(c.roots, *c.checked);
        call(c.outlineChanged);
        call(c.updateScopeLabel);
    });
    item(kInvert, [c, call] {
        PickerActions::invert(c.roots, *c.checked);
        call(c.outlineChanged);
        call(c.updateScopeLabel);
    });
    menu->addSeparator();
    item(kIgnore, [c, call, ignored] {
        if (c.checked->isEmpty()) {
            Dialogs::alert(QString::fromUtf8(kPickFirst), QString(), c.window);
            return;
        }
        c.lib->setIgnoredBooks(ignored + *c.checked);
        call(c.updateScopeLabel);
    });
    if (!ignored.isEmpty()) {
        item(kUnignore, [c, call, ignored] {
            c.lib->setIgnoredBooks(ignored - *c.checked);
            call(c.updateScopeLabel);
        });
        QAction* pickIgnored = menuItem(QString::fromUtf8(kCheckIgnoredBefore) + Arabic::num(ignored.size()) + QStringLiteral(")"),
                                        QString(), [c, call, ignored] {
                                            if (!c.window)
                                                return;
                                            *c.checked = ignored;
                                            call(c.outlineChanged);
                                            call(c.updateScopeLabel);
                                        }, menu);
        menu->addAction(pickIgnored);
        item(kClearIgnored, [c, call] {
            c.lib->setIgnoredBooks({});
            call(c.updateScopeLabel);
        });
    }
    if (c.page == BookPicker::Page::favorites) {
        menu->addSeparator();
        item(kNewFolder, [c] {
            const std::optional<QString> name =
                Dialogs::prompt(QString::fromUtf8(kNewFolderTitle), QString::fromUtf8(kFolderName), QString());
            if (name && !name->isEmpty())
                c.lib->addFolder(*name);
        });
        item(kAddToFavorites, [c] {
            for (std::int64_t id : *c.checked)
                c.lib->setFavorite(id, true, Library::favoritesFolderId);
        });
    }
    if (c.page == BookPicker::Page::scopes && c.selected && c.selected->kind == PickNode::Kind::scope) {
        menu->addSeparator();
        const std::int64_t id = c.selected->id;
        QAction* remove = menuItem(QString::fromUtf8(kDeleteScopeBefore) + c.selected->label + QStringLiteral("»"), QString(),
                                   [c, id] {
                                       if (c.window)
                                           c.lib->deleteScope(id);
                                   }, menu);
        menu->addAction(remove);
    }
    return menu;
}

QMenu* historyMenu(const Library& lib, QWidget* window, std::function<void(const SearchQuery&)> fill)
{
    auto* menu = new QMenu(window);
    const QList<PickerActions::HistoryItem> items = PickerActions::historyItems(lib);
    if (lib.history().isEmpty()) {
        QAction* none = menu->addAction(QString::fromUtf8(kNoHistory));
        none->setEnabled(false);
        return menu;
    }
    QPointer<QWidget> guarded(window);
    for (const PickerActions::HistoryItem& entry : items)
        menu->addAction(menuItem(entry.title, QString(), [guarded, fill, q = entry.query] {
            if (guarded && fill)
                fill(q);
        }, menu));
    return menu;
}

} // namespace quorvel::PickerMenus
