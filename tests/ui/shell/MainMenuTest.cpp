#include "ui/WindowTestSupport.h"

#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/MenuStyle.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/ReaderView.h"
#include "ui/kit/Beep.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/MainWindowController.h"
#include "ui/search/SearchWindowController.h"
#include "ui/shell/Sessions.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QGlyphRun>
#include <QProxyStyle>
#include <QRawFont>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QTextLayout>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace quorvel;

namespace {

class MainMenuTest : public test::WindowTest {
protected:
    MainMenuTest()
        : WindowTest({Settings::readerSizeKey, Settings::nightReadingKey, Settings::indicDigitsKey,
                      Settings::restoreSessionKey, MainWindowController::searchModeKey})
    {
    }
    void TearDown() override { clearPreferences(); }
};

// One line of a menu as a test reads it: title, first key, enabled; a
// separator is "-".
QStringList rows(const QMenu* menu)
{
    QStringList out;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            out << QStringLiteral("-");
            continue;
        }
        out << action->text() + QLatin1Char('|') + action->shortcut().toString(QKeySequence::PortableText)
                   + (action->isEnabled() ? QString() : QStringLiteral("|off"));
    }
    return out;
}

QAction* find(const QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions())
        if (action->text() == title)
            return action;
    ADD_FAILURE() << "no item " << title.toStdString();
    return nullptr;
}

MainMenu::MainLookup none()
{
    return [] { return static_cast<MainWindowController*>(nullptr); };
}

// The Fusion style as the application wraps it, noting each menu key it is
// given to draw and the direction of the line it is drawn in.
class KeyRecorder : public QProxyStyle {
public:
    KeyRecorder() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    struct Drawn {
        QString key;
        Qt::LayoutDirection direction;
    };
    mutable QList<Drawn> drawn;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
            item && element == CE_MenuItem && item->text.contains(u'\t'))
            drawn.append({item->text.section(u'\t', 1), item->direction});
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

// The characters of `text` from left to right as its layout places their
// glyphs on a line of the given direction.
QString leftToRight(const QString& text, const QFont& font, Qt::LayoutDirection direction)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setTextDirection(direction);
    layout.setTextOption(option);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    std::multimap<qreal, QChar> placed;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QRawFont raw = run.rawFont();
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> at = run.positions();
        for (qsizetype i = 0; i < glyphs.size(); ++i)
            for (QChar c : text)
                if (c.category() != QChar::Other_Format && raw.glyphIndexesForString(QString(c)).value(0) == glyphs[i]) {
                    placed.emplace(at[i].x(), c);
                    break;
                }
    }
    QString out;
    for (const auto& [x, c] : placed)
        out += c;
    return out;
}

} // namespace

TEST_F(MainMenuTest, sixMenusWithTheirTitlesKeysAndStates)
{
    std::unique_ptr<QMenuBar> bar(MainMenu::build(none()));
    QStringList titles;
    for (QAction* action : bar->actions())
        titles << action->text();
    EXPECT_EQ(titles, (QStringList{"مكتبة قورفل", "ملف", "تحرير", "عرض", "انتقال", "نافذة"}));
    const auto menu = [&](int i) { return bar->actions().at(i)->menu(); };

    EXPECT_EQ(rows(menu(0)), (QStringList{"عن مكتبة قورفل|", "التحقق من التحديثات…|", "-", "الإعدادات…|Ctrl+,",
                                          "الربط بـ Claude…|", "-", "إخفاء مكتبة قورفل|Ctrl+H",
                                          "إنهاء مكتبة قورفل|Ctrl+Q"}));
    EXPECT_EQ(rows(menu(1)),
              (QStringList{"البحث…|Ctrl+F", "بحث في جميع الكتب|Ctrl+L", "فتح كتاب…|Ctrl+O",
                           "القرآن الكريم|Ctrl+K", "التنزيلات: كتب جديدة وتحديثات…|Ctrl+D", "-",
                           "إغلاق التبويب|Ctrl+W", "حفظ الجلسة|Ctrl+S", "حفظ الجلسة باسم…|Ctrl+Shift+S",
                           "الجلسات المحفوظة|", "تصدير الكتاب إلى PDF…|Ctrl+E"}));
    EXPECT_NE(find(menu(1), QStringLiteral("الجلسات المحفوظة"))->menu(), nullptr);
    EXPECT_EQ(rows(menu(2)),
              (QStringList{"نسخ|Ctrl+C", "نسخ مع العزو|Ctrl+Shift+C", "لصق|Ctrl+V", "تحديد الكل|Ctrl+A"}));
    EXPECT_EQ(rows(menu(3)), (QStringList{"تكبير الخطّ|Ctrl++", "الحجم الأصلي|Ctrl+0", "تصغير الخطّ|Ctrl+-", "-",
                                          "القراءة الليلية|Ctrl+Shift+N", "بطاقة الكتاب|Ctrl+I",
                                          "طبعات أخرى من الكتاب ومقابلتها|Ctrl+Shift+E",
                                          "قابل هذه الصفحة بطبعة أخرى|Ctrl+Shift+M", "-",
                                          "تحليل الكلمة|Ctrl+Shift+A", "الإسناد والرواة في هذه الصفحة|Ctrl+Shift+I",
                                          "مصادر هذا النصّ ونقوله|Ctrl+Shift+R", "شجرة المسألة للعبارة المحدّدة|Ctrl+Shift+T"}));
    EXPECT_EQ(find(menu(3), QStringLiteral("تكبير الخطّ"))->shortcuts(),
              (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)}));
    EXPECT_EQ(rows(menu(4)), (QStringList{"التطابق التالي|Ctrl+G", "التطابق السابق|Ctrl+Shift+G", "-",
                                          "الصفحة التالية|Ctrl+Left", "الصفحة السابقة|Ctrl+Right",
                                          "الصفحة الأولى|Ctrl+Up", "الصفحة الأخيرة|Ctrl+Down", "-",
                                          "الانتقال إلى الفهرس|Ctrl+T", "الانتقال إلى نصّ الصفحة|Ctrl+J"}));
    EXPECT_EQ(rows(menu(5)), (QStringList{"تصغير|Ctrl+M", "نافذة البحث|Ctrl+Shift+F", "النافذة الرئيسية|Ctrl+1"}));

    // Every key works from every window of the application.
    for (QAction* top : bar->actions())
        for (QAction* action : top->menu()->actions()) {
            if (!action->shortcut().isEmpty()) {
                EXPECT_EQ(action->shortcutContext(), Qt::ApplicationShortcut) << action->text().toStdString();
            }
        }
}

TEST_F(MainMenuTest, itemsOnTheMainWindowDoNothingWithoutOne)
{
    ScriptedDialogs dialogs;
    std::unique_ptr<QMenuBar> bar(MainMenu::build(none()));
    const QStringList onMain{"بحث في جميع الكتب", "القرآن الكريم", "إغلاق التبويب", "حفظ الجلسة",
                             "حفظ الجلسة باسم…", "تصدير الكتاب إلى PDF…", "نسخ مع العزو",
                             "بطاقة الكتاب", "التطابق التالي", "التطابق السابق", "الصفحة التالية",
                             "الصفحة السابقة", "الصفحة الأولى", "الصفحة الأخيرة", "النافذة الرئيسية"};
    QApplication::clipboard()->setText(QStringLiteral("قبل"));
    const qsizetype windows = QApplication::topLevelWidgets().size();
    int fired = 0;
    for (QAction* top : bar->actions())
        for (QAction* action : top->menu()->actions())
            if (onMain.contains(action->text())) {
                action->trigger();
                ++fired;
            }
    EXPECT_EQ(fired, onMain.size());
    EXPECT_TRUE(dialogs.requests().isEmpty());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("قبل"));
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windows);
}

TEST_F(MainMenuTest, openBookPutsTheKeyboardInTheBookFilterNotInAPhraseField)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    QPointer<MainWindowController> main(&w);
    w.setMenuBar(MainMenu::build([main] { return main.data(); }));
    w.show();
    QMenu* file = w.menuBar()->actions().at(1)->menu();
    QAction* open = find(file, QStringLiteral("فتح كتاب…"));
    ASSERT_NE(open, nullptr);
    w.searchWindow()->filter()->setText(QStringLiteral("قبل"));
    open->trigger();
    SearchWindowController* search = w.searchWindow();
    ASSERT_TRUE(search->isVisible());
    EXPECT_EQ(search->currentPage(), SearchWindowController::Page::books);
    EXPECT_EQ(search->focusWidget(), search->filter());
    // What was typed before is replaced by the first key.
    EXPECT_EQ(search->filter()->selectedText(), QStringLiteral("قبل"));
    search->close();
}

TEST_F(MainMenuTest, readingSizeStepsWithinItsBoundsAndAlwaysPostsTheNotice)
{
    QSignalSpy notices(&Notifier::shared(), &Notifier::readerSettingsChanged);
    const QString key = QString::fromLatin1(Settings::readerSizeKey);

    Settings::setReaderSize(47);
    MainMenu::enlargeReaderSize();
    EXPECT_EQ(Settings::readerSize(), 48);
    MainMenu::enlargeReaderSize();
    EXPECT_EQ(Settings::readerSize(), 48);
    EXPECT_EQ(notices.size(), 2);

    Settings::setReaderSize(13);
    MainMenu::shrinkReaderSize();
    EXPECT_EQ(Settings::readerSize(), 12);
    MainMenu::shrinkReaderSize();
    EXPECT_EQ(Settings::readerSize(), 12);
    Settings::setReaderSize(23);
    MainMenu::enlargeReaderSize();
    EXPECT_EQ(Settings::readerSize(), 25);
    EXPECT_EQ(notices.size(), 5);

    // The reset removes the key, stored or not, and the default applies.
    MainMenu::resetReaderSize();
    EXPECT_FALSE(Preferences::standard().object(key).has_value());
    EXPECT_EQ(Settings::readerSize(), Settings::defaultReaderSize);
    MainMenu::resetReaderSize();
    EXPECT_EQ(notices.size(), 7);

    const bool night = Settings::nightReading();
    MainMenu::toggleNightReading();
    EXPECT_EQ(Settings::nightReading(), !night);
    MainMenu::toggleNightReading();
    EXPECT_EQ(Settings::nightReading(), night);
    EXPECT_EQ(notices.size(), 9);
}

TEST_F(MainMenuTest, savedSessionsListTheFortyMostRecentWithRenameAndDelete)
{
    QList<MainMenu::SavedSession> sessions;
    for (int i = 0; i < 45; ++i)
        sessions.append({QStringLiteral("جلسة %1").arg(i), 1.7e9 - i * 3600.0, 4});
    QList<int> opened;
    QStringList renamed, removed;
    const MainMenu::SessionCalls calls{[&] { return sessions; }, [&](int i) { opened << i; },
                                       [&](const QString& name) { renamed << name; },
                                       [&](const QString& name) { removed << name; }};
    QMenu menu;
    MainMenu::fillSessions(&menu, calls);
    const QList<QAction*> items = menu.actions();
    ASSERT_EQ(items.size(), 40 + 3);
    EXPECT_EQ(items[0]->text(), QStringLiteral("جلسة 0"));
    EXPECT_EQ(items[39]->text(), QStringLiteral("جلسة 39"));
    EXPECT_TRUE(items[40]->isSeparator());
    EXPECT_TRUE(items[0]->toolTip().startsWith(QStringLiteral("٤ تبويبات – "))) << items[0]->toolTip().toStdString();
    EXPECT_GT(items[0]->toolTip().size(), QStringLiteral("٤ تبويبات – ").size());
    items[3]->trigger();
    EXPECT_EQ(opened, QList<int>{3});

    EXPECT_EQ(items[41]->text(), QStringLiteral("إعادة تسمية"));
    EXPECT_EQ(items[42]->text(), QStringLiteral("حذف"));
    for (QAction* holder : {items[41], items[42]}) {
        ASSERT_NE(holder->menu(), nullptr);
        ASSERT_EQ(holder->menu()->actions().size(), 40);
        EXPECT_EQ(holder->menu()->actions().last()->text(), QStringLiteral("جلسة 39"));
    }
    items[41]->menu()->actions()[5]->trigger();
    items[42]->menu()->actions()[0]->trigger();
    EXPECT_EQ(renamed, QStringList{QStringLiteral("جلسة 5")});
    EXPECT_EQ(removed, QStringList{QStringLiteral("جلسة 0")});

    // Refilled on each opening: none left gives only the disabled hint.
    sessions.clear();
    MainMenu::fillSessions(&menu, calls);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions()[0]->text(), QString::fromUtf8(MainMenu::noSessionsHint));
    EXPECT_FALSE(menu.actions()[0]->isEnabled());
    EXPECT_TRUE(menu.findChildren<QMenu*>().isEmpty());
    // Without a main window the submenu stays empty.
    MainMenu::fillSessions(&menu, std::nullopt);
    EXPECT_TRUE(menu.actions().isEmpty());
}

TEST_F(MainMenuTest, closeTabClosesTheSelectedTabOrTheOtherKeyWindow)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.openBook(1, 1);
    w.openBook(2, 1);
    QWidget other;
    other.show();

    MainMenu::closeTabOrWindow(&w, &other);
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(w.tabs().size(), 2);

    MainMenu::closeTabOrWindow(&w, &w);
    EXPECT_EQ(w.tabs().size(), 1);
    // No key window: nothing at all.
    MainMenu::closeTabOrWindow(&w, nullptr);
    EXPECT_EQ(w.tabs().size(), 1);
    MainMenu::closeTabOrWindow(nullptr, nullptr);

    // The last tab goes, and the key once more keeps the window with its welcome.
    w.show();
    int beeps = 0;
    const auto hook = Beep::setHook([&] { ++beeps; });
    MainMenu::closeTabOrWindow(&w, &w);
    EXPECT_TRUE(w.tabs().isEmpty());
    MainMenu::closeTabOrWindow(&w, &w);
    Beep::setHook(hook);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(beeps, 1);
}

TEST_F(MainMenuTest, citedCopyGoesToTheActiveReader)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    QApplication::clipboard()->setText(QStringLiteral("قبل"));
    MainMenu::copyCited(&w);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("قبل"));

    w.openBook(1, 2);
    ReaderView* reader = w.activeReader();
    ASSERT_NE(reader, nullptr);
    MainMenu::copyCited(&w);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.endsWith(reader->citation())) << copied.toStdString();
    EXPECT_GT(copied.size(), reader->citation().size() + 10);
}

TEST_F(MainMenuTest, everyKeyFiresWhileATextFieldHasTheFocus)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    QPointer<MainWindowController> main(&w);
    w.setMenuBar(MainMenu::build([main] { return main.data(); }));
    w.openBook(1, 2);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.searchField()->setFocus();
    ASSERT_TRUE(w.searchField()->hasFocus());

    // The page keys act on the reader though the field claims Ctrl+arrows.
    ReaderView* reader = w.activeReader();
    ASSERT_NE(reader, nullptr);
    const std::int64_t seq = reader->seq();
    QTest::keyClick(w.searchField(), Qt::Key_Left, Qt::ControlModifier);
    EXPECT_GT(reader->seq(), seq);
    QTest::keyClick(w.searchField(), Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(reader->seq(), seq);

    // Every other key reaches its item; the items are made to count instead of act.
    QMap<QAction*, int> fired;
    QList<QAction*> all;
    for (QAction* top : w.menuBar()->actions())
        for (QAction* action : top->menu()->actions())
            if (!action->shortcut().isEmpty() && action->isEnabled())
                all << action;
    for (QAction* action : std::as_const(all))
        onAction(action, [&fired, action](QObject*) { ++fired[action]; });
    const QList<QKeySequence> fieldKeys{QKeySequence::Copy, QKeySequence::Paste, QKeySequence::SelectAll};
    for (QAction* action : std::as_const(all)) {
        for (const QKeySequence& keys : action->shortcuts()) {
            if (fieldKeys.contains(keys))
                continue;
            const QKeyCombination combination = keys[0];
            fired[action] = 0;
            QTest::keyClick(w.searchField(), combination.key(), combination.keyboardModifiers());
            EXPECT_EQ(fired.value(action), 1) << keys.toString().toStdString();
        }
    }
    // Copy, paste and select-all stay with the field, which does the same.
    w.searchField()->setText(QStringLiteral("كتاب"));
    QTest::keyClick(w.searchField(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(w.searchField()->selectedText(), QStringLiteral("كتاب"));
}

TEST_F(MainMenuTest, savedSessionsSubmenuOpensRenamesAndDeletesTheStoredSessions)
{
    test::FixtureLib fixture;
    ScriptedDialogs dialogs;
    MainWindowController w(fixture.lib);
    QPointer<MainWindowController> main(&w);
    std::unique_ptr<QMenu> file(MainMenu::fileMenu([main] { return main.data(); }));
    QMenu* submenu = find(file.get(), QString::fromUtf8(MainMenu::savedSessionsTitle))->menu();
    ASSERT_NE(submenu, nullptr);

    emit submenu->aboutToShow();
    ASSERT_EQ(submenu->actions().size(), 1);
    EXPECT_FALSE(submenu->actions()[0]->isEnabled());
    EXPECT_EQ(submenu->actions()[0]->text(), QString::fromUtf8(MainMenu::noSessionsHint));

    // A stored list that cannot be read is said to be so, and where it is
    // kept, not taken for no sessions at all.
    ASSERT_TRUE(fixture.lib->setKV(QString::fromLatin1(Sessions::listKey), QStringLiteral("{not a list")));
    emit submenu->aboutToShow();
    ASSERT_EQ(submenu->actions().size(), 2);
    EXPECT_EQ(submenu->actions()[0]->text(), QString::fromUtf8(MainMenu::unreadableSessionsHint));
    EXPECT_TRUE(submenu->actions()[1]->text().contains(fixture.lib->user().path())) << submenu->actions()[1]->text().toStdString();
    EXPECT_TRUE(submenu->actions()[1]->text().contains(QString::fromLatin1(Sessions::setAsideKey)));
    EXPECT_FALSE(submenu->actions()[1]->isEnabled());
    ASSERT_TRUE(fixture.lib->setKV(QString::fromLatin1(Sessions::listKey), QString()));

    w.openBook(1, 1);
    const QString oneTab = w.sessionJSON();
    w.openBook(2, 1);
    QList<Sessions::NamedSession> stored;
    for (int i = 0; i < 45; ++i)
        stored.append({QStringLiteral("جلسة %1").arg(i), 1.7e9 - i, i == 2 ? oneTab : w.sessionJSON(), 2});
    ASSERT_TRUE(w.sessions().storeSessions(stored));
    emit submenu->aboutToShow();
    ASSERT_EQ(submenu->actions().size(), 43);
    EXPECT_EQ(submenu->actions()[39]->text(), QStringLiteral("جلسة 39"));

    // Opening replaces the tabs by the session's.
    submenu->actions()[2]->trigger();
    ASSERT_EQ(w.tabs().size(), 1);
    EXPECT_EQ(w.activeReader()->book().id, 1);
    submenu->actions()[42]->menu()->actions()[0]->trigger();
    emit submenu->aboutToShow();
    EXPECT_NE(submenu->actions()[0]->text(), QStringLiteral("جلسة 0"));
    for (const Sessions::NamedSession& session : w.sessions().namedSessions())
        EXPECT_NE(session.name, QStringLiteral("جلسة 0"));

    // Save-as asks for a name.
    dialogs.clear();
    find(file.get(), QStringLiteral("حفظ الجلسة باسم…"))->trigger();
    ASSERT_FALSE(dialogs.requestsOf(Dialogs::Kind::Prompt).isEmpty());
}

TEST_F(MainMenuTest, keysReadAsThePlatformWritesThemInTheRightToLeftMenu)
{
    ASSERT_NE(qobject_cast<MenuStyle*>(QApplication::style()), nullptr);
    std::unique_ptr<QMenuBar> bar(MainMenu::build(none()));
    QMenu* view = bar->actions().at(3)->menu();
    auto* recorder = new KeyRecorder;
    MenuStyle style(recorder);
    view->setStyle(&style);
    view->adjustSize();
    view->grab();
    QStringList keys;
    for (QAction* action : view->actions())
        if (!action->shortcut().isEmpty())
            keys << action->shortcut().toString(QKeySequence::NativeText);
    ASSERT_EQ(recorder->drawn.size(), keys.size());
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const KeyRecorder::Drawn& drawn = recorder->drawn[i];
        EXPECT_EQ(drawn.direction, Qt::RightToLeft);
        const QString shown = leftToRight(drawn.key, view->font(), drawn.direction);
        EXPECT_TRUE(shown.startsWith(QStringLiteral("Ctrl"))) << shown.toStdString();
        EXPECT_EQ(shown, keys[i]);
    }

    // As the application draws it.
    view->setStyle(nullptr);
    view->popup(QPoint(400, 100));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible(); }, 20000));
    const QImage shot = view->grab().toImage();
    EXPECT_GT(test::colourCount(shot), 4);
    EXPECT_TRUE(shot.save(QCoreApplication::applicationDirPath() + QStringLiteral("/view-menu.png"), "PNG"));
    view->close();
}
