#include "ui/WindowTestSupport.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "scholar/PanelText.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/MenuPages.h"
#include "ui/kit/TabContent.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/AboutWindow.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/WelcomeView.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class TopBarMenusTest : public test::WindowTest {
protected:
    TopBarMenusTest() : WindowTest({Settings::indicDigitsKey, Settings::restoreSessionKey, Settings::nightReadingKey}) {}
    // Each test writes notes, bookmarks and corrections of its own.
    QTemporaryDir userDir;
    test::ScopedEnv userdb{"QUORVEL_USERDB", userDir.filePath(QStringLiteral("user.db"))};
    void TearDown() override
    {
        clearPreferences();
        Library::setShared(nullptr);
    }
};

// Entries kept one click away under «المزيد…» are read in their place.
QStringList texts(const QMenu* menu)
{
    QStringList out;
    for (const QAction* action : menu->actions()) {
        if (action->menu() && action->text() == QString::fromUtf8(MenuPages::moreTitle))
            out << texts(action->menu());
        else
            out << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return out;
}

// The items of a menu that open something: enabled, not separators.
QList<QAction*> choosable(const QMenu* menu)
{
    QList<QAction*> out;
    for (QAction* action : menu->actions())
        if (!action->isSeparator() && action->isEnabled())
            out << action;
    return out;
}

// The top-bar button with this tool tip.
HoverButton* button(MainWindowController& w, const QString& tip)
{
    for (HoverButton* b : w.findChildren<HoverButton*>())
        if (b->toolTip() == tip)
            return b;
    ADD_FAILURE() << "no button " << tip.toStdString();
    return nullptr;
}

// A tab that may refuse to close.
class StubbornTab : public TabContent {
public:
    QString title() const override { return QStringLiteral("باقٍ"); }
    QString symbol() const override { return QStringLiteral("sparkles"); }
    Json::Value sessionJSON() const override { return {{"k", "stub"}}; }
    bool restore(const Json::Value&) override { return false; }
    bool requestClose() override { return false; }
};

} // namespace

TEST_F(TopBarMenusTest, notesMenuCountsEveryNoteButListsTheNewestFortyOfBooksInTheLibrary)
{
    test::FixtureLib fixture;
    Library& lib = *fixture.lib;
    // Sixty older notes of a book in the library, then forty newer ones of a
    // book no longer there.
    lib.user().exec(QStringLiteral("BEGIN"));
    for (int i = 0; i < 100; ++i)
        lib.user().run(QStringLiteral("INSERT INTO notes(book_id, seq, text, ts) VALUES(?,?,?,?)"),
                       {std::int64_t(i < 60 ? 1 : 999), std::int64_t(i % 40 + 1), QStringLiteral("تعليق"), std::int64_t(1000 + i)});
    lib.user().exec(QStringLiteral("COMMIT"));
    MainWindowController w(fixture.lib);
    std::unique_ptr<QMenu> menu(w.notesMenu());
    QStringList lines = texts(menu.get());
    ASSERT_FALSE(lines.isEmpty());
    // Counted by page: the rows one page was left with are one note.
    EXPECT_EQ(lines[0], QStringLiteral("التعليقات (٨٠)"));
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    // Those of the book no longer there are listed as set aside, opening
    // nothing; the older notes do not move up past them.
    const QString aside = QStringLiteral(" — محفوظ جانبا، لا تعرضه صفحة");
    EXPECT_EQ(lines[1], QStringLiteral("  كتاب غير مثبت (رقم ٩٩٩) · ") + PanelText::pageLabel(std::nullopt, std::nullopt, 20)
                            + QStringLiteral(": تعليق") + aside);
    EXPECT_FALSE(menu->actions()[1]->isEnabled());
    EXPECT_EQ(lines[41], QStringLiteral("-"));
    EXPECT_EQ(lines[42], QStringLiteral("العلامات المرجعية (٠)"));

    // Ten of the forty newest now belong to the library: ten items, newest
    // first, before the thirty set aside.
    lib.user().run(QStringLiteral("UPDATE notes SET book_id=1 WHERE ts >= 1090"));
    menu.reset(w.notesMenu());
    lines = texts(menu.get());
    const QString title = lib.book(1)->title;
    // Each by the page the reader shows: sequence 20 is printed page 21 of volume 1.
    EXPECT_EQ(lines[1], QStringLiteral("  ") + title + QStringLiteral(" · ج١ ص٢١: تعليق"));
    EXPECT_EQ(lines[10], QStringLiteral("  ") + title + QStringLiteral(" · ج١ ص١٢: تعليق"));
    EXPECT_TRUE(lines[11].endsWith(aside));
    EXPECT_TRUE(menu->actions()[10]->isEnabled());
    EXPECT_FALSE(menu->actions()[11]->isEnabled());

    // A bookmark on a book not installed is counted and listed, set aside.
    lib.toggleBookmark(999, 4);
    menu.reset(w.notesMenu());
    lines = texts(menu.get());
    EXPECT_TRUE(lines.contains(QStringLiteral("العلامات المرجعية (١)")));
    EXPECT_TRUE(lines.contains(QStringLiteral("  كتاب غير مثبت (رقم ٩٩٩) · ") + PanelText::pageLabel(std::nullopt, std::nullopt, 4) + aside))
        << lines.join(u'|').toStdString();
    lib.toggleBookmark(999, 4);

    // Everything under forty of the library's books: forty items at most.
    lib.user().run(QStringLiteral("UPDATE notes SET book_id=1"));
    Settings::setIndicDigits(false);
    menu.reset(w.notesMenu());
    lines = texts(menu.get());
    EXPECT_EQ(lines[0], QStringLiteral("التعليقات (40)"));
    EXPECT_EQ(lines.indexOf(QStringLiteral("-")), 41);
    // The export and import of the notes file ask for a file.
    const QList<QAction*> actions = menu->actions();
    EXPECT_EQ(actions[actions.size() - 2]->text(), QStringLiteral("تصدير التعليقات والعلامات…"));
    EXPECT_EQ(actions.last()->text(), QStringLiteral("استيراد تعليقات وعلامات…"));
    {
        ScriptedDialogs dialogs;
        actions[actions.size() - 2]->trigger();
        actions.last()->trigger();
        EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::SaveFile).size(), 1);
        EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::OpenFile).size(), 1);
    }

    // An item opens its page.
    actions[5]->trigger();
    ASSERT_NE(w.activeReader(), nullptr);
    EXPECT_EQ(w.activeReader()->book().id, 1);
    EXPECT_EQ(w.activeReader()->seq(), 16);
}

TEST_F(TopBarMenusTest, aNoteIsCutAtFiftyCharactersAndTheBookmarkItemFlips)
{
    test::FixtureLib fixture;
    Library& lib = *fixture.lib;
    // Letters with their vowel marks: fifty characters are more than fifty code units.
    QString longNote;
    for (int i = 0; i < 70; ++i)
        longNote += QStringLiteral("بَ");
    lib.saveNote(1, 2, longNote);
    MainWindowController w(fixture.lib);
    std::unique_ptr<QMenu> menu(w.notesMenu());
    const QString line = menu->actions()[1]->text();
    EXPECT_TRUE(line.endsWith(QStringLiteral(": ") + longNote.left(100))) << line.toStdString();
    // Without a reader there is no bookmark item.
    EXPECT_EQ(menu->actions().last()->text(), QStringLiteral("استيراد تعليقات وعلامات…"));

    w.openBook(2, 3);
    const std::int64_t seq = w.activeReader()->seq();
    menu.reset(w.notesMenu());
    ASSERT_EQ(menu->actions().last()->text(), QStringLiteral("وضع علامة على هذه الصفحة"));
    menu->actions().last()->trigger();
    EXPECT_TRUE(lib.isBookmarked(2, seq));
    menu.reset(w.notesMenu());
    EXPECT_EQ(menu->actions().last()->text(), QStringLiteral("إزالة علامة هذه الصفحة"));
    EXPECT_TRUE(texts(menu.get()).contains(QStringLiteral("العلامات المرجعية (١)")));
    // The bookmark is named by its printed volume and page, as a note is.
    const std::optional<Page> page = lib.page(2, seq);
    ASSERT_TRUE(page && page->num);
    const QString where = PanelText::pageLabel(page->vol, page->num, seq);
    ASSERT_NE(where, Arabic::num(seq));
    // The book is one of two editions, told apart as its tab tells it.
    EXPECT_TRUE(texts(menu.get()).contains(QStringLiteral("  ") + BookTitles::label(*lib.catalog(), 2) + QStringLiteral(" · ") + where))
        << texts(menu.get()).join(u'|').toStdString();
    w.show();
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        Notifier::postReaderSettingsChanged();
        std::unique_ptr<QMenu> shown(w.notesMenu());
        shown->popup(w.mapToGlobal(QPoint(200, 60)));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(shown.get()));
        const QImage shot = shown->grab().toImage();
        EXPECT_GT(shot.height(), 100);
        EXPECT_TRUE(shot.save(QCoreApplication::applicationDirPath()
                                  + (night ? QStringLiteral("/bookmarks-menu-night.png") : QStringLiteral("/bookmarks-menu.png")),
                              "PNG"));
        shown->close();
    }
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
    menu->actions().last()->trigger();
    EXPECT_FALSE(lib.isBookmarked(2, seq));

    // Notes on the two editions of Ibn Majah name their editions.
    lib.saveNote(2, 3, QStringLiteral("أ"));
    lib.saveNote(3, 3, QStringLiteral("ب"));
    menu.reset(w.notesMenu());
    const QString lines = texts(menu.get()).join(u'\n');
    EXPECT_TRUE(lines.contains(QStringLiteral("  سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة أ) · "))) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("  سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب) · ")));
}

TEST_F(TopBarMenusTest, detachingMovesTheActiveTabIntoItsOwnWindow)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.show();
    w.detachActive();
    EXPECT_TRUE(w.detached().isEmpty());

    w.openBook(1, 1);
    const QString title = w.tabs()[0]->title();
    QPointer<ReaderView> reader = w.activeReader();
    w.detachActive();
    EXPECT_TRUE(w.tabs().isEmpty());
    EXPECT_EQ(w.active(), -1);
    EXPECT_TRUE(w.welcome()->isVisible());
    ASSERT_EQ(w.detached().size(), 1);
    QWidget* window = w.detached()[0];
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), title);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->window(), window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return reader->size() == window->size(); }, 20000));
    // No longer part of the session.
    EXPECT_FALSE(w.sessionJSON().contains(QStringLiteral("\"book\"")));

    w.openBook(1, 1);
    w.openBook(2, 1);
    w.openBook(3, 1);
    ASSERT_EQ(w.tabs().size(), 3);
    w.detachActive();
    EXPECT_EQ(w.tabs().size(), 2);
    EXPECT_EQ(w.active(), 1);
    w.select(0);
    w.detachActive();
    EXPECT_EQ(w.active(), 0);
    EXPECT_EQ(w.tabs().size(), 1);
    EXPECT_EQ(w.detached().size(), 3);
    // Closed windows stay with the main window.
    w.detached()[0]->close();
    EXPECT_EQ(w.detached().size(), 3);
}

TEST_F(TopBarMenusTest, tilingPutsTheMainWindowRightmostOverTheAvailableFrame)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    // The small screen of the offscreen platform is narrower than the window's usual minimum.
    w.setMinimumSize(100, 100);
    w.show();
    const QRect available = w.screen()->availableGeometry();
    w.tileWindows();
    EXPECT_EQ(w.frameGeometry(), available);

    w.openBook(1, 1);
    w.detachActive();
    ASSERT_EQ(w.detached().size(), 1);
    QWidget* other = w.detached()[0];
    other->setMinimumSize(100, 100);
    w.tileWindows();
    const int half = available.width() / 2;
    EXPECT_EQ(w.frameGeometry(), QRect(available.right() + 1 - half, available.top(), half, available.height()));
    EXPECT_EQ(other->frameGeometry(),
              QRect(available.right() + 1 - 2 * half, available.top(), half, available.height()));
    // Hidden windows take no column.
    other->hide();
    w.tileWindows();
    EXPECT_EQ(w.frameGeometry(), available);
}

TEST_F(TopBarMenusTest, aDetachedTabsWindowComesToTheFront)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.openBook(1, 1);
    // Which windows were raised once shown.
    struct RaiseSpy : QObject {
        QList<QObject*> raised;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::ZOrderChange && watched->isWidgetType()
                && static_cast<QWidget*>(watched)->isVisible())
                raised.append(watched);
            return false;
        }
    } spy;
    qApp->installEventFilter(&spy);
    std::unique_ptr<QMenu> menu(w.windowsMenu());
    menu->actions().first()->trigger();
    qApp->removeEventFilter(&spy);
    ASSERT_EQ(w.detached().size(), 1);
    QWidget* window = w.detached()[0];
    EXPECT_TRUE(spy.raised.contains(window));
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_EQ(QApplication::activeWindow(), window);
}

TEST_F(TopBarMenusTest, tilingKeepsEveryWindowWithinTheScreenAndItsMinimum)
{
    test::FixtureLib fixture;
    struct Case {
        int mainMinimum;
        int otherMinimum;
        bool sideBySide;
    };
    // The offscreen screen is narrow; the minimums are scaled to it, with
    // room for the frames.
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const int width = available.width();
    for (const Case& c : {Case{width * 5 / 8, width / 8, true}, Case{width / 2 - 16, width / 2 - 16, true},
                          Case{width * 5 / 8, width / 2, false}}) {
        SCOPED_TRACE(testing::Message() << c.mainMinimum << " + " << c.otherMinimum << " in " << width);
        MainWindowController w(fixture.lib);
        w.setMinimumSize(c.mainMinimum, 100);
        w.show();
        w.openBook(1, 1);
        w.detachActive();
        ASSERT_EQ(w.detached().size(), 1);
        QWidget* other = w.detached()[0];
        other->setMinimumSize(c.otherMinimum, 100);
        ScriptedDialogs dialogs;
        std::unique_ptr<QMenu> menu(w.windowsMenu());
        ASSERT_EQ(menu->actions()[1]->text(), QStringLiteral("ترتيب النوافذ متجاورة"));
        menu->actions()[1]->trigger();
        // Windows that cannot stand side by side are stacked, and the reader is told why.
        const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
        ASSERT_EQ(alerts.size(), c.sideBySide ? 0 : 1);
        if (!c.sideBySide) {
            EXPECT_TRUE(alerts[0].title.contains(QStringLiteral("لا تتسع الشاشة"))) << alerts[0].title.toStdString();
        }
        for (QWidget* window : {static_cast<QWidget*>(&w), other}) {
            EXPECT_TRUE(available.contains(window->frameGeometry())) << window->frameGeometry().x() << ","
                                                                     << window->frameGeometry().width();
            EXPECT_GE(window->width(), window->minimumWidth());
        }
        if (c.sideBySide) {
            EXPECT_FALSE(w.frameGeometry().intersects(other->frameGeometry()));
            EXPECT_GT(w.frameGeometry().left(), other->frameGeometry().left());
        } else {
            // Stacked: the main window at the back on the right, the other a step left and down.
            EXPECT_EQ(w.frameGeometry().right(), available.right());
            EXPECT_LT(other->frameGeometry().left(), w.frameGeometry().left());
            EXPECT_GT(other->frameGeometry().top(), w.frameGeometry().top());
        }
    }
}

TEST_F(TopBarMenusTest, windowsMenuClosesAllTabsPassingOverOneThatStays)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    std::unique_ptr<QMenu> menu(w.windowsMenu());
    EXPECT_EQ(texts(menu.get()), (QStringList{"فصل التبويب الحالي في نافذة مستقلّة", "ترتيب النوافذ متجاورة", "-",
                                              "إغلاق كل التبويبات"}));
    w.openBook(1, 1);
    w.add(new StubbornTab);
    w.openBook(2, 1);
    menu->actions().last()->trigger();
    ASSERT_EQ(w.tabs().size(), 1);
    EXPECT_EQ(w.tabs()[0]->title(), QStringLiteral("باقٍ"));
    EXPECT_EQ(w.active(), 0);
    menu->actions().first()->trigger();
    EXPECT_TRUE(w.tabs().isEmpty());
    EXPECT_EQ(w.detached().size(), 1);
}

TEST_F(TopBarMenusTest, reportKeepsASuggestionAndThanksOnlyWhenItWasKept)
{
    test::FixtureLib fixture;
    Library& lib = *fixture.lib;
    MainWindowController w(fixture.lib);
    const auto stored = [&] {
        return lib.user().rows(QStringLiteral("SELECT book_id, seq, kind, note FROM corrections ORDER BY rowid"));
    };
    {
        ScriptedDialogs dialogs;
        dialogs.answer(QStringLiteral("فهرس المؤلفين ناقص"));
        w.reportError();
        ASSERT_EQ(dialogs.requests().size(), 2);
        const Dialogs::Request& ask = dialogs.requests()[0];
        EXPECT_EQ(ask.kind, Dialogs::Kind::Prompt);
        EXPECT_EQ(ask.title, QStringLiteral("الإبلاغ عن خطأ أو اقتراح"));
        EXPECT_EQ(ask.text, QStringLiteral("اكتب ملاحظتك"));
        EXPECT_EQ(ask.ok, QStringLiteral("حفظ"));
        EXPECT_TRUE(ask.multiline);
        EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("شكراً لك"));
        EXPECT_EQ(dialogs.requests()[1].text, QStringLiteral("حُفظت ملاحظتك في سجلّ التصحيحات."));
    }
    auto rows = stored();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].integer(0), 0);
    EXPECT_EQ(rows[0].integer(1), 0);
    EXPECT_EQ(rows[0].str(2), QStringLiteral("اقتراح"));
    EXPECT_EQ(rows[0].str(3), QStringLiteral("فهرس المؤلفين ناقص"));

    {
        // Cancelled or empty: nothing kept, nothing said.
        ScriptedDialogs dialogs;
        dialogs.answer(std::nullopt);
        w.reportError();
        dialogs.answer(QString());
        w.reportError();
        EXPECT_EQ(dialogs.requests().size(), 2);
    }
    {
        // A store that refuses the row: no thanks, the failure is said.
        lib.user().exec(QStringLiteral(
            "CREATE TRIGGER refuse BEFORE INSERT ON corrections BEGIN SELECT RAISE(ABORT, 'full'); END"));
        ScriptedDialogs dialogs;
        dialogs.answer(QStringLiteral("   "));
        w.reportError();
        ASSERT_EQ(dialogs.requests().size(), 2);
        EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("تعذر الحفظ"));
        lib.user().exec(QStringLiteral("DROP TRIGGER refuse"));
    }
    EXPECT_EQ(stored().size(), 1);

    {
        // With a reader the page's own report is made.
        w.openBook(1, 2);
        ScriptedDialogs dialogs;
        dialogs.answer(QStringLiteral("تصحيف"));
        w.reportError();
        ASSERT_FALSE(dialogs.requests().isEmpty());
        EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("الإبلاغ عن خطأ"));
    }
    rows = stored();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].integer(0), 1);
    EXPECT_NE(rows[1].str(2), QStringLiteral("اقتراح"));
}

TEST_F(TopBarMenusTest, topBarButtonsOpenTheirMenusAndDialogues)
{
    test::FixtureLib fixture;
    Library::setShared(fixture.lib);
    MainWindowController w(fixture.lib);
    w.show();
    const auto popped = [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu;
    };
    const auto dismiss = [&] {
        if (QMenu* menu = popped())
            menu->close();
        EXPECT_EVENTUALLY(!popped(), 2000);
    };

    button(w, QStringLiteral("التعليقات والعلامات"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(popped()); }, 20000));
    EXPECT_EQ(popped()->actions()[0]->text(), QStringLiteral("التعليقات (٠)"));
    dismiss();

    button(w, QStringLiteral("النوافذ"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(popped()); }, 20000));
    EXPECT_EQ(popped()->actions().size(), 4);
    dismiss();

    button(w, QStringLiteral("صورة الأصل / تصدير PDF"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(popped()); }, 20000));
    EXPECT_EQ(texts(popped()), (QStringList{"صورة الأصل لهذه الصفحة", "تصدير الكتاب الحالي إلى PDF…",
                                            "تصدير الصفحة الحالية إلى PDF…",
                                            "تصدير الكتاب إلى صفحة ويب (تفتح في وورد)…"}));
    EXPECT_EQ(choosable(popped()).size(), 4);
    dismiss();
    {
        // Each export asks for its file; the page export names the page.
        w.openBook(1, 2);
        std::unique_ptr<QMenu> exports(w.exportMenu());
        ScriptedDialogs dialogs;
        for (int i = 1; i < 4; ++i)
            exports->actions()[i]->trigger();
        const auto saves = dialogs.requestsOf(Dialogs::Kind::SaveFile);
        ASSERT_EQ(saves.size(), 3);
        EXPECT_TRUE(saves[0].initial.endsWith(QStringLiteral(".pdf"))) << saves[0].initial.toStdString();
        EXPECT_NE(saves[0].initial, saves[1].initial);
        EXPECT_TRUE(saves[2].initial.endsWith(QStringLiteral(".html"))) << saves[2].initial.toStdString();
        w.closeAll();
    }

    ScriptedDialogs dialogs;
    button(w, QStringLiteral("الإبلاغ عن خطأ"))->click();
    button(w, QStringLiteral("عن مكتبة قورفل"))->click();
    ASSERT_EQ(dialogs.requests().size(), 2);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("الإبلاغ عن خطأ أو اقتراح"));
    EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("مكتبة قورفل"));
    EXPECT_TRUE(dialogs.requests()[1].text.startsWith(QStringLiteral("الإصدار ")));
}

TEST_F(TopBarMenusTest, aboutTextCountsTheLibraryWithDigitsAsPreferred)
{
    test::FixtureLib fixture;
    const Library& lib = *fixture.lib;
    // An installed library numbers each book's pages in a block of its own,
    // so the largest page id is far above the number of pages.
    {
        auto db = SQLiteDB::open(fixture.path, false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->run(QStringLiteral("UPDATE pages SET id = id + 4000000 WHERE book_id = "
                                           "(SELECT MAX(book_id) FROM pages)")));
    }
    std::int64_t pages = 0;
    for (const Book& book : lib.books())
        pages += fixture.lib->main()
                     .scalarInt(QStringLiteral("SELECT count(*) FROM pages WHERE book_id=?"), {book.id})
                     .value_or(0);
    ASSERT_GT(pages, 0);
    ASSERT_LT(pages, 4000000);

    Settings::setIndicDigits(true);
    QString text = AboutWindow::text(lib, QStringLiteral("2.3"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("الإصدار ٢٫٣\nمكتبة رقمية بحثية جامعة، تعمل على جهازك دون اتصال.\n\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("الكتب: ") + Arabic::num(lib.books().size()) + QStringLiteral(" – المؤلّفون: ")
                              + Arabic::num(lib.authors().size()) + QStringLiteral(" – الأقسام: ")
                              + Arabic::num(lib.categories().size()) + QStringLiteral("\nالصفحات: نحو ")
                              + Arabic::num(pages) + QStringLiteral("\n\nالنصوص: ")));
    // Each Latin run of the credits is isolated left to right (U+2066 … U+2069),
    // so that the Arabic comma after «3.0» stays outside it, and held on one
    // line by no-break spaces.
    EXPECT_TRUE(text.endsWith(QStringLiteral(u"الخطوط: أميري وأميري قرآن، عارف رقعة، آي بي إم بلكس العربي (رخصة \u2066OFL\u2069 المفتوحة).")));
    EXPECT_TRUE(text.contains(QStringLiteral(u"الرسم العثماني للقرآن الكريم: نص مشروع تنزيل \u2066tanzil.net\u2069 (رخصة \u2066CC\u00A0BY\u00A03.0\u2069، منقول كما هو).")));
    EXPECT_TRUE(text.contains(QStringLiteral(u"النصوص: من مجموعة \u2066OpenITI\u2069 (رخصة \u2066CC\u00A0BY-NC-SA\u2069: للنفع")));

    Settings::setIndicDigits(false);
    text = AboutWindow::text(lib, QString::fromUtf8(AboutWindow::fallbackVersion));
    EXPECT_TRUE(text.startsWith(QStringLiteral("الإصدار 1.0\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nالصفحات: نحو ") + QString::number(pages) + QLatin1Char('\n')));

    // A library without pages shows none.
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("empty.db"));
    ASSERT_TRUE(QFile::copy(fixture.path, copy));
    {
        std::shared_ptr<SQLiteDB> db = SQLiteDB::open(copy, false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->exec(QStringLiteral("DELETE FROM pages")));
    }
    std::shared_ptr<Library> empty = Library::open(copy);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(AboutWindow::text(*empty, QStringLiteral("1.0")).contains(QStringLiteral("الصفحات: نحو 0\n")));

    // Without a library the window shows nothing.
    ScriptedDialogs dialogs;
    Library::setShared(nullptr);
    AboutWindow::show();
    EXPECT_TRUE(dialogs.requests().isEmpty());
    Library::setShared(fixture.lib);
    AboutWindow::show();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("مكتبة قورفل"));
}
