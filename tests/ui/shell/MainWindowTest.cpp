#include "ui/WindowTestSupport.h"

#include "core/Arabic.h"
#include "core/Build.h"
#include "core/BookTitles.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/TabButton.h"
#include "ui/kit/PillView.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/reader/ReaderView.h"
#include "ui/reader/SmartPopover.h"
#include "ui/search/ResultsModel.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/search/SearchTabView.h"
#include "ui/search/SearchWindowController.h"
#include "ui/shell/AboutWindow.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/SettingsWindowController.h"
#include "ui/shell/TabStrip.h"
#include "ui/shell/WelcomeView.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTableView>
#include <QTextBrowser>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <QAbstractButton>
#include <QLabel>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace quorvel;

namespace {

class MainWindowTest : public test::WindowTest {
protected:
    MainWindowTest()
        : WindowTest({MainWindowController::searchModeKey, Settings::restoreSessionKey, Settings::nightReadingKey})
    {
    }

    // Opens a search tab for a text through the top bar's field.
    static void search(MainWindowController& w, const QString& text)
    {
        w.searchField()->setText(text);
        w.quickSearch();
    }

    static QStringList titles(const MainWindowController& w)
    {
        QStringList list;
        for (const auto& tab : w.tabs())
            list.append(tab->title());
        return list;
    }
};

// A tab that records what the window asks of it.
class FakeTab : public TabContent {
public:
    explicit FakeTab(int number) : number(number) {}
    QString title() const override { return QString::number(number); }
    QString symbol() const override { return QStringLiteral("sparkles"); }
    Json::Value sessionJSON() const override { return {{"k", "fake"}, {"n", number}}; }
    bool restore(const Json::Value&) override { return false; }
    void activate() override { calls.append(QStringLiteral("activate")); }
    void deactivate() override { calls.append(QStringLiteral("deactivate")); }
    bool requestClose() override
    {
        calls.append(QStringLiteral("close?"));
        return mayClose;
    }

    int number;
    bool mayClose = false;
    QStringList calls;
};

} // namespace

TEST_F(MainWindowTest, startsEmptyWithTheWelcomeViewAndRecentBooks)
{
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    for (int i = 0; i < 8; ++i)
        fixture.lib->setLastViewed(1 + i % 3, 2 + i);
    MainWindowController w(fixture.lib);
    EXPECT_EQ(w.active(), -1);
    EXPECT_TRUE(w.tabStrip()->isHidden());
    EXPECT_EQ(pinnedSubviews(w.host()), QList<QWidget*>{w.welcome()});
    EXPECT_GE(w.welcome()->recent().size(), 1);
    EXPECT_LE(w.welcome()->recent().size(), MainWindowController::recentLimit);
    EXPECT_EQ(w.pill()->text(), QStringLiteral("٣"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("مكتبة قورفل"));
    EXPECT_EQ(w.minimumSize(), QSize(980, 620));

    // A recent entry opens its book in a tab, which replaces the welcome view.
    w.welcome()->recent().first().second();
    ASSERT_EQ(w.tabs().size(), 1);
    EXPECT_EQ(w.active(), 0);
    EXPECT_FALSE(w.tabStrip()->isHidden());
    EXPECT_EQ(pinnedSubviews(w.host()), QList<QWidget*>{w.tabs()[0]->view()});
    EXPECT_EQ(w.tabStrip()->active(), 0);
}

TEST_F(MainWindowTest, topBarReadsFromTheRightInItsOrder)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.resize(1400, 860);
    w.show();
    QCoreApplication::processEvents();
    auto x = [&](QWidget* child) { return child->mapTo(&w, QPoint(child->width() / 2, 0)).x(); };

    QList<HoverButton*> buttons = w.topBar()->findChildren<HoverButton*>();
    std::sort(buttons.begin(), buttons.end(), [&](QWidget* a, QWidget* b) { return x(a) > x(b); });
    QStringList tips;
    for (HoverButton* b : buttons)
        tips.append(b->toolTip());
    EXPECT_EQ(tips, (QStringList{"الكتب", "القرآن الكريم", "البحث", "البحث الذكي: اسأل الكتب", "التعليقات والعلامات",
                                 "المؤلّفون", "حفظ الجلسة", "النوافذ", "الإعدادات", "الإبلاغ عن خطأ", "عن مكتبة قورفل",
                                 "صورة الأصل / تصدير PDF"}));
    // The search group reads mode switch, field, source button, pill; the pill
    // ends the bar on the left.
    EXPECT_GT(x(w.searchField()), x(buttons.last()));
    EXPECT_GT(x(buttons.last()), x(w.pill()));
    EXPECT_EQ(w.pill()->mapTo(&w, QPoint()).x(), 10);
    EXPECT_EQ(w.width() - buttons.first()->mapTo(&w, QPoint(buttons.first()->width(), 0)).x(), 8);
    EXPECT_EQ(w.topBar()->height(), 46);
}

TEST_F(MainWindowTest, closingATabActivatesTheOneNowAtItsPlace)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    for (const char* t : {"أ", "ب", "ج", "د"})
        search(w, QString::fromUtf8(t));
    w.select(0);
    w.close(2);
    EXPECT_EQ(titles(w), (QStringList{"بحث: أ", "بحث: ب", "بحث: د"}));
    EXPECT_EQ(w.active(), 2);
    EXPECT_EQ(w.tabStrip()->active(), 2);

    w.close(-1);
    w.close(3);
    w.select(7);
    EXPECT_EQ(w.tabs().size(), 3);
    EXPECT_EQ(w.active(), 2);

    w.select(1);
    w.close(2); // the last tab while another is active: the new last becomes active
    EXPECT_EQ(w.active(), 1);

    w.close(0);
    w.closeActive();
    EXPECT_TRUE(w.tabs().isEmpty());
    EXPECT_EQ(w.active(), -1);
    EXPECT_TRUE(w.tabStrip()->isHidden());
    EXPECT_EQ(pinnedSubviews(w.host()), QList<QWidget*>{w.welcome()});
}

TEST_F(MainWindowTest, openBookReusesItsTabAndIgnoresUnknownBooks)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.openBook(999, 1);
    EXPECT_TRUE(w.tabs().isEmpty());
    w.openBook(1, 3);
    w.openBook(2, std::nullopt);
    w.openBook(1, 5);
    ASSERT_EQ(w.tabs().size(), 2);
    EXPECT_EQ(w.active(), 0);
    ReaderView* reader = w.tabs()[0]->reader();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->seq(), 5);
    EXPECT_EQ(w.tabs()[0]->title(), QStringLiteral("موطأ الإمام مالك"));
    EXPECT_EQ(w.tabs()[0]->icon(), QStringLiteral("book.closed.fill"));
}

TEST_F(MainWindowTest, quickSearchTakesQuotedPhrasesWhole)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    search(w, QStringLiteral(" \t "));
    EXPECT_TRUE(w.tabs().isEmpty());

    search(w, QStringLiteral("\t\"الصلاة الوسطى\" "));
    search(w, QStringLiteral("الصلاة  الوسطى"));
    ASSERT_EQ(w.tabs().size(), 2);
    auto* quoted = qobject_cast<SearchTabView*>(w.tabs()[0]->view());
    auto* words = qobject_cast<SearchTabView*>(w.tabs()[1]->view());
    EXPECT_EQ(quoted->query().andPhrases, QStringList{QStringLiteral("الصلاة الوسطى")});
    EXPECT_EQ(words->query().andPhrases, (QStringList{QStringLiteral("الصلاة"), QStringLiteral("الوسطى")}));
    EXPECT_EQ(w.searchField()->text(), QStringLiteral("الصلاة  الوسطى")); // the field keeps its text
}

TEST_F(MainWindowTest, tenQuickTabSwitchesWriteTheSessionOnce)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.openBook(1, 2);
    w.openBook(2, 2);
    w.openBook(3, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.autosavePending(); }, 20000));
    fixture.lib->setKV(MainWindowController::sessionKey, QString());

    QSignalSpy stored(&w, &MainWindowController::sessionStored);
    for (int i = 0; i < 10; ++i) {
        w.select(i % 3);
        // The posted events only: however slowly a busy machine runs the
        // burst, no timer fires inside it, and the debounce is what is tested.
        QCoreApplication::sendPostedEvents();
    }
    EXPECT_EQ(stored.count(), 0);
    EXPECT_EQ(fixture.lib->kv(MainWindowController::sessionKey), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored.count() > 0; }, 20000));
    // That no second write follows the first is shown only by time passing.
    QTest::qWait(100);
    EXPECT_EQ(stored.count(), 1);

    const auto session = fixture.lib->kv(MainWindowController::sessionKey);
    ASSERT_TRUE(session);
    const auto json = Json::parse(session->toUtf8());
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["active"], 0); // the tenth switch selected tab 0
    ASSERT_EQ((*json)["tabs"].size(), 3u);
    EXPECT_EQ((*json)["tabs"][1]["k"], "book");
    EXPECT_EQ((*json)["tabs"][1]["b"], 2);
}

TEST_F(MainWindowTest, libraryChangesReloadOnlyTheLocalStore)
{
    test::FixtureLib local(QStringLiteral("library.db"));
    test::FixtureLib other;
    ASSERT_TRUE(local.lib && other.lib);
    local.lib->setLastViewed(1, 4);
    MainWindowController w(local.lib);
    MainWindowController master(other.lib);
    auto recentTitles = [&] {
        QStringList list;
        for (const auto& entry : w.welcome()->recent())
            list.append(entry.first);
        return list;
    };
    ASSERT_TRUE(recentTitles().contains(QStringLiteral("موطأ الإمام مالك")));

    // A download run removed book 1 from both files.
    for (const QString& path : {local.path, other.path}) {
        auto db = SQLiteDB::open(path, false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->run(QStringLiteral("DELETE FROM books WHERE id = ?"), {std::int64_t(1)}));
    }
    Notifier::postLibraryChanged();
    EXPECT_EQ(w.pill()->text(), QStringLiteral("٢"));
    EXPECT_FALSE(recentTitles().contains(QStringLiteral("موطأ الإمام مالك")));
    EXPECT_EQ(master.pill()->text(), QStringLiteral("٣"));
    EXPECT_EQ(other.lib->books().size(), 3);

    // With tabs open only the pill follows.
    w.openBook(2, 1);
    auto db = SQLiteDB::open(local.path, false);
    ASSERT_TRUE(db->run(QStringLiteral("DELETE FROM books WHERE id = ?"), {std::int64_t(3)}));
    Notifier::postLibraryChanged();
    EXPECT_EQ(w.pill()->text(), QStringLiteral("١"));
    EXPECT_EQ(w.tabs().size(), 1);
}

TEST_F(MainWindowTest, storedSmartModeStartsWithTheQuestionPlaceholder)
{
    test::FixtureLib fixture;
    Preferences::standard().set(MainWindowController::searchModeKey, 1);
    MainWindowController smart(fixture.lib);
    EXPECT_EQ(smart.searchMode(), 1);
    EXPECT_EQ(smart.searchField()->placeholderText(), QStringLiteral("اسأل الكتب سؤالاً…"));
    smart.setSearchMode(0);
    EXPECT_EQ(Preferences::standard().integerValue(MainWindowController::searchModeKey), 0);
    EXPECT_EQ(smart.searchField()->placeholderText(), QStringLiteral("بحث في جميع الكتب"));
    MainWindowController classic(fixture.lib);
    EXPECT_EQ(classic.searchMode(), 0);
}

TEST_F(MainWindowTest, closingTheWindowSavesTheSessionAndEndsTheApplication)
{
    test::FixtureLib fixture;
    bool ended = false;
    {
        MainWindowController w(fixture.lib);
        w.onTerminate = [&] { ended = true; };
        w.openBook(2, 3);
        fixture.lib->setKV(MainWindowController::sessionKey, QStringLiteral("old"));
        w.show();
        w.close(0);
        w.closeActive(); // no tab left: the window stays, with its welcome
        EXPECT_FALSE(ended);
        w.QMainWindow::close();
        EXPECT_TRUE(ended);
        EXPECT_EQ(fixture.lib->kv(MainWindowController::sessionKey), QStringLiteral("{\"active\":-1,\"tabs\":[]}"));
    }

    Settings::setRestoreSession(false);
    ended = false;
    MainWindowController w(fixture.lib);
    w.onTerminate = [&] { ended = true; };
    fixture.lib->setKV(MainWindowController::sessionKey, QStringLiteral("kept"));
    w.show();
    w.QMainWindow::close();
    EXPECT_TRUE(ended);
    EXPECT_EQ(fixture.lib->kv(MainWindowController::sessionKey), QStringLiteral("kept"));
}

TEST_F(MainWindowTest, explicitSaveConfirmsWithTheTabCount)
{
    test::FixtureLib fixture;
    ScriptedDialogs dialogs;
    MainWindowController w(fixture.lib);
    w.openBook(1, 1);
    w.openBook(2, 1);
    w.saveSession(true);
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("حفظت الجلسة"));
    EXPECT_TRUE(dialogs.requests()[0].text.startsWith(QStringLiteral("ستستعاد التبويبات (٢) عند")));
    EXPECT_TRUE(dialogs.requests()[0].hasWindow);
    w.saveSession(false);
    EXPECT_EQ(dialogs.requests().size(), 1);
}

TEST_F(MainWindowTest, explicitSaveSaysSoWhenTheSessionCannotBeWritten)
{
    // A user database that opens but takes no writes.
    QTemporaryDir dir;
    const QString userPath = dir.filePath(QStringLiteral("user.db"));
    {
        auto user = SQLiteDB::open(userPath, false);
        ASSERT_TRUE(user && user->exec(Library::userSchema()));
    }
    test::ScopedEnv readOnly("QUORVEL_USERDB", Library::readOnlyUri(userPath));
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    ScriptedDialogs dialogs;
    MainWindowController w(fixture.lib);
    QSignalSpy stored(&w, &MainWindowController::sessionStored);
    w.openBook(1, 1);
    w.saveSession(true);
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("تعذر الحفظ"));
    EXPECT_TRUE(dialogs.requests()[0].hasWindow);
    EXPECT_EQ(stored.count(), 0);
    EXPECT_EQ(fixture.lib->kv(MainWindowController::sessionKey), std::nullopt);
}

TEST_F(MainWindowTest, theWindowTalksToItsTabsThroughTheirInterface)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    auto* first = new FakeTab(1);
    auto* second = new FakeTab(2);
    w.add(first);
    w.add(second);
    EXPECT_EQ(first->calls, (QStringList{"activate", "deactivate"}));
    EXPECT_EQ(second->calls, QStringList{"activate"});
    w.select(1); // already in front: no second activation
    EXPECT_EQ(second->calls, QStringList{"activate"});
    EXPECT_EQ(titles(w), (QStringList{"1", "2"}));
    EXPECT_EQ(w.tabStrip()->tabs()[1].second, QStringLiteral("sparkles"));

    // The session holds each tab's own entry.
    const auto session = Json::parse(w.sessionJSON().toUtf8());
    ASSERT_TRUE(session);
    EXPECT_EQ((*session)["tabs"][1], (Json::Value{{"k", "fake"}, {"n", 2}}));
    EXPECT_EQ((*session)["active"], 1);

    w.close(1); // refused by the tab
    EXPECT_EQ(w.tabs().size(), 2);
    EXPECT_EQ(w.active(), 1);
    EXPECT_EQ(second->calls.last(), QStringLiteral("close?"));

    second->mayClose = true;
    w.close(1);
    EXPECT_EQ(titles(w), QStringList{"1"});
    EXPECT_EQ(w.active(), 0);
    EXPECT_EQ(second->calls, (QStringList{"activate", "close?", "close?", "deactivate"}));
    EXPECT_EQ(first->calls, (QStringList{"activate", "deactivate", "activate"}));
}

TEST_F(MainWindowTest, aSavedSessionComesBackAsItWas)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.openBook(2, 3);
    search(w, QStringLiteral("\"الصلاة الوسطى\""));
    w.openBook(1, 1);
    w.select(1);
    const QString saved = w.sessionJSON();

    MainWindowController restored(fixture.lib);
    ASSERT_TRUE(restored.restoreSession(saved));
    EXPECT_EQ(titles(restored), titles(w));
    EXPECT_EQ(restored.active(), 1);
    EXPECT_EQ(restored.sessionJSON(), saved);
    auto* quoted = qobject_cast<SearchTabView*>(restored.tabs()[1]->view());
    ASSERT_NE(quoted, nullptr);
    EXPECT_EQ(quoted->query().andPhrases, QStringList{QStringLiteral("الصلاة الوسطى")});

    // Entries no view takes up are left out, and the active one is followed
    // to its new place.
    const QString mixed = QStringLiteral(
        R"({"active":4,"tabs":[{"k":"ai"},{"k":"book","b":999,"s":1,"y":0.0},{"k":"ai"},)"
        R"({"k":"search","q":"{"},{"k":"book","b":2,"s":3,"y":0.0},{"k":"book","b":1,"s":1,"y":0.0}]})");
    MainWindowController partial(fixture.lib);
    ASSERT_TRUE(partial.restoreSession(mixed));
    // One assistant tab per window: the second entry is not taken up.
    // A tab names the edition of a work the catalogue holds twice.
    EXPECT_EQ(titles(partial), (QStringList{QStringLiteral(u"البحث الذكي"), BookTitles::label(*fixture.lib->catalog(), 2),
                                            fixture.lib->book(1)->title}));
    EXPECT_EQ(partial.active(), 1);
    EXPECT_FALSE(partial.restoreSession(QStringLiteral("[]")));
    EXPECT_FALSE(partial.restoreSession(QStringLiteral("not a session")));
    EXPECT_EQ(partial.tabs().size(), 3);
}

TEST_F(MainWindowTest, nightReadingTurnsTheWindowDarkAndBack)
{
    test::FixtureLib fixture;
    fixture.lib->setLastViewed(1, 4);
    MainWindowController w(fixture.lib);
    w.resize(1400, 860);
    w.show();
    auto stripTop = [&] { return QColor(w.tabStrip()->grab().toImage().pixel(w.tabStrip()->width() / 2, 0)); };
    auto saveShot = [&](const char* name) {
        const QString file = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
        EXPECT_TRUE(w.grab().toImage().save(file, "PNG"));
    };

    Settings::setNightReading(true);
    Notifier::postReaderSettingsChanged();
    EXPECT_TRUE(Theme::isDark());
    EXPECT_EVENTUALLY(w.welcome()->grab().toImage().pixelColor(10, 10).lightness() < 80, 5000);
    // The top-bar symbols and the «متابعة القراءة» heading stay readable on
    // near black: soft gold by night, emerald by day.
    auto headingColour = [&] {
        for (QLabel* l : w.welcome()->findChildren<QLabel*>())
            if (l->text() == QStringLiteral("متابعة القراءة"))
                return l->palette().color(QPalette::WindowText);
        ADD_FAILURE() << "no heading";
        return QColor();
    };
    // Opaque pixels of the settings symbol within a small distance of `colour`.
    auto symbolPixels = [&](const QColor& colour) {
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
            if (b->toolTip() == QStringLiteral("الإعدادات")) {
                const QImage icon = b->icon().pixmap(b->iconSize()).toImage();
                int count = 0;
                for (int y = 0; y < icon.height(); ++y)
                    for (int x = 0; x < icon.width(); ++x) {
                        const QColor c = icon.pixelColor(x, y);
                        if (c.alpha() > 200 && std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green())
                                                       + std::abs(c.blue() - colour.blue()) < 40)
                            ++count;
                    }
                return count;
            }
        ADD_FAILURE() << "no settings button";
        return -1;
    };
    EXPECT_EQ(headingColour(), Theme::goldSoft());
    EXPECT_EQ(symbolPixels(Theme::emerald()), 0);
    EXPECT_GT(symbolPixels(Theme::goldSoft()), 0);
    saveShot("main-window-night.png");

    w.openBook(1, 2);
    w.openBook(2, 1);
    EXPECT_EVENTUALLY(std::abs(stripTop().red() - 0x26) <= 2, 5000) << stripTop().name().toStdString();
    saveShot("main-window-night-tabs.png");

    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
    EXPECT_FALSE(Theme::isDark());
    EXPECT_EVENTUALLY(std::abs(stripTop().red() - 0xED) <= 2, 5000) << stripTop().name().toStdString();
    EXPECT_EQ(headingColour(), Theme::emerald());
    // The readers' contents panes, opened by night, follow the day palette too.
    const auto panes = w.findChildren<QTreeView*>();
    ASSERT_FALSE(panes.isEmpty());
    for (QTreeView* pane : panes) {
        EXPECT_EQ(pane->palette().color(QPalette::Base), Theme::panel().light());
        EXPECT_EQ(pane->palette().color(QPalette::Text), QApplication::palette().color(QPalette::Text));
    }
    EXPECT_GT(symbolPixels(Theme::emerald()), 0);
    saveShot("main-window-tabs.png");
}

TEST_F(MainWindowTest, nightReadingDarkensTheResultsTableAndTheAssistantPanelAlreadyOpen)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.resize(1400, 860);
    w.show();
    SearchQuery query;
    query.andPhrases = {QStringLiteral("مالك")};
    w.runSearch(query, QList<SearchHit>{SearchHit(SearchHit::Kind::page, 1, 1, 1), SearchHit(SearchHit::Kind::page, 2, 1, 2)});
    const int resultsTab = int(w.tabs().size()) - 1;
    auto* results = qobject_cast<SearchTabView*>(w.tabs()[resultsTab]->view());
    ASSERT_NE(results, nullptr);
    w.openAI();
    const int chatTab = int(w.tabs().size()) - 1;
    auto* chat = qobject_cast<AIChatView*>(w.tabs()[chatTab]->view());
    ASSERT_NE(chat, nullptr);

    // What shows behind the rows (below the last one) and behind the transcript's text.
    auto tableGround = [&] {
        w.select(resultsTab);
        EXPECT_EVENTUALLY(results->table()->isVisible(), 5000);
        const QImage shot = results->table()->viewport()->grab().toImage();
        return shot.pixelColor(shot.width() / 2, shot.height() - 3);
    };
    auto transcriptGround = [&] {
        w.select(chatTab);
        EXPECT_EVENTUALLY(chat->transcriptView()->isVisible(), 5000);
        return chat->transcriptView()->viewport()->grab().toImage().pixelColor(4, 4);
    };
    EXPECT_GT(tableGround().lightness(), 200);
    EXPECT_GT(transcriptGround().lightness(), 200);

    Settings::setNightReading(true);
    Notifier::postReaderSettingsChanged();
    ASSERT_TRUE(Theme::isDark());
    EXPECT_LT(tableGround().lightness(), 60);
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    EXPECT_TRUE(w.grab().toImage().save(folder + QStringLiteral("results-night.png"), "PNG"));
    EXPECT_LT(transcriptGround().lightness(), 60);
    EXPECT_TRUE(w.grab().toImage().save(folder + QStringLiteral("assistant-night.png"), "PNG"));

    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
    EXPECT_GT(tableGround().lightness(), 200);
    EXPECT_GT(transcriptGround().lightness(), 200);
}

TEST_F(MainWindowTest, tabWalksTheBarsFromTheRightLeavesTheResultsAndEveryStopShowsItsFocus)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.resize(1400, 860);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    SearchQuery query;
    query.andPhrases = {QStringLiteral("مالك")};
    w.runSearch(query, QList<SearchHit>{SearchHit(SearchHit::Kind::page, 1, 1, 1), SearchHit(SearchHit::Kind::page, 2, 1, 2)});
    auto* results = qobject_cast<SearchTabView*>(w.tabs().value(0)->view());
    ASSERT_NE(results, nullptr);
    ReaderView* reader = results->currentReader();
    ASSERT_NE(reader, nullptr);
    // The tab's button laid out in the strip and the split shown, then the
    // reader given its share above the results.
    const auto inWindow = [&](const QWidget* view) {
        return view->isVisible() && !view->rect().isEmpty() && w.rect().contains(view->mapTo(&w, view->rect().center()));
    };
    const auto stripLaidOut = [&] {
        const QList<TabButton*> tabs = w.tabStrip()->findChildren<TabButton*>();
        return !tabs.isEmpty() && std::all_of(tabs.begin(), tabs.end(), [&](const TabButton* tab) {
            return inWindow(tab) && std::all_of(tab->children().begin(), tab->children().end(), [&](const QObject* part) {
                       const auto* view = qobject_cast<const QWidget*>(part);
                       return !view || view->isHidden() || inWindow(view);
                   });
        });
    };
    ASSERT_EVENTUALLY(stripLaidOut() && reader->isVisible() && results->table()->isVisible(), 5000);
    results->placeDivider();
    EXPECT_EVENTUALLY(reader->height() > results->table()->height(), 5000);

    // The row a stop sits in: a bar, the table, or none (the page text).
    QWidget* const table = results->table();
    const QList<QWidget*> bars{w.topBar(), w.tabStrip(), reader->footer(), results->bottom()};
    auto rowOf = [&](QWidget* widget) -> QWidget* {
        if (widget == table)
            return table;
        for (QWidget* bar : bars)
            if (bar->isAncestorOf(widget))
                return bar;
        return nullptr;
    };
    auto x = [&](QWidget* widget) { return widget->mapTo(&w, QPoint(widget->width() / 2, 0)).x(); };

    // The stops of one round of Tab from the rightmost control of the top bar.
    auto walk = [&] {
        QList<HoverButton*> bar = w.topBar()->findChildren<HoverButton*>();
        std::sort(bar.begin(), bar.end(), [&](QWidget* a, QWidget* b) { return x(a) > x(b); });
        QWidget* first = bar.value(0);
        first->setFocus(Qt::TabFocusReason);
        QList<QWidget*> stops;
        for (int i = 0; i < 200 && QApplication::focusWidget(); ++i) {
            stops << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == first)
                break;
        }
        EXPECT_EQ(QApplication::focusWidget(), first) << "Tab never came back round";
        return stops;
    };
    // Each stop looks different with the focus than without it.
    auto checkShown = [&](const QList<QWidget*>& stops, const char* when) {
        for (qsizetype i = 0; i < stops.size(); ++i) {
            QWidget* stop = stops[i];
            stop->setFocus(Qt::TabFocusReason);
            EXPECT_EVENTUALLY(stop->hasFocus(), 5000) << when;
            const QImage focused = stop->grab().toImage();
            stops[(i + 1) % stops.size()]->setFocus(Qt::TabFocusReason);
            EXPECT_EVENTUALLY(stops[(i + 1) % stops.size()]->hasFocus(), 5000) << when;
            EXPECT_NE(focused, stop->grab().toImage())
                << when << ": " << stop->metaObject()->className() << " " << stop->toolTip().toStdString();
        }
    };

    const QList<QWidget*> stops = walk();
    ASSERT_GT(stops.size(), 12);
    for (QWidget* stop : stops) {
        EXPECT_TRUE(stop->isVisible() && !stop->rect().isEmpty() &&
                    w.rect().contains(stop->mapTo(&w, stop->rect().center())))
            << stop->metaObject()->className();
    }
    // Every top-bar button and the field, the tab and its close button, the
    // reader's toolbar and the table are reached.
    for (HoverButton* button : w.topBar()->findChildren<HoverButton*>())
        EXPECT_TRUE(stops.contains(button)) << button->toolTip().toStdString();
    EXPECT_TRUE(stops.contains(w.searchField()));
    EXPECT_EQ(std::count_if(stops.begin(), stops.end(), [&](QWidget* s) { return rowOf(s) == w.tabStrip(); }), 3);
    EXPECT_GE(std::count_if(stops.begin(), stops.end(), [&](QWidget* s) { return rowOf(s) == reader->footer(); }), 5);
    // The table is one stop: Tab leaves it at once.
    EXPECT_EQ(stops.count(table), 1);
    // The top bar, then the tab strip, then the tab; each row read from the right.
    for (qsizetype i = 1; i < stops.size(); ++i) {
        QWidget* row = rowOf(stops[i]);
        QWidget* before = rowOf(stops[i - 1]);
        if (row == w.topBar()) {
            EXPECT_EQ(before, w.topBar()) << "stop " << i << " comes back to the top bar";
        }
        if (row == w.tabStrip()) {
            EXPECT_TRUE(before == w.topBar() || before == w.tabStrip()) << "stop " << i << " reaches the strip late";
        }
        if (row && row == before && row != table) {
            EXPECT_LT(x(stops[i]), x(stops[i - 1])) << "stop " << i << " goes right";
        }
    }
    checkShown(stops, "day");

    Settings::setNightReading(true);
    Notifier::postReaderSettingsChanged();
    EXPECT_EVENTUALLY(QApplication::palette() == Theme::palette(true), 5000);
    checkShown(walk(), "night");
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
}

TEST_F(MainWindowTest, tabReachesTheReadersHeaderToolbarAndContentsFromTheRightShowingItsFocus)
{
    test::FixtureLib fixture;
    MainWindowController w(fixture.lib);
    w.resize(1400, 860);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.openBook(1, 2);
    ReaderView* reader = w.activeReader();
    ASSERT_NE(reader, nullptr);
    ASSERT_EVENTUALLY(reader->isVisible(), 5000);
    if (reader->outline()->isHidden())
        reader->toggleToc();
    ASSERT_EVENTUALLY(reader->outline()->isVisible(), 5000);

    auto x = [&](QWidget* widget) { return widget->mapTo(&w, QPoint(widget->width() / 2, 0)).x(); };
    QList<HoverButton*> bar = w.topBar()->findChildren<HoverButton*>();
    std::sort(bar.begin(), bar.end(), [&](QWidget* a, QWidget* b) { return x(a) > x(b); });
    QWidget* first = bar.value(0);
    first->setFocus(Qt::TabFocusReason);
    QList<QWidget*> stops;
    for (int i = 0; i < 300 && QApplication::focusWidget(); ++i) {
        stops << QApplication::focusWidget();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() == first)
            break;
    }
    EXPECT_EQ(QApplication::focusWidget(), first) << "Tab never came back round";

    // Every button of the header a click reaches, and the contents.
    QList<QWidget*> header;
    for (HoverButton* button : reader->header()->findChildren<HoverButton*>())
        if (button->isVisible() && button->isEnabled())
            header << button;
    ASSERT_GT(header.size(), 8);
    for (QWidget* button : header)
        EXPECT_TRUE(stops.contains(button)) << button->toolTip().toStdString();
    EXPECT_TRUE(stops.contains(reader->outline()));
    // In the reading order: the header's stops from the right, and the
    // contents (the pane on the right) before the page.
    QList<QWidget*> inHeader;
    for (QWidget* stop : stops)
        if (reader->header()->isAncestorOf(stop))
            inHeader << stop;
    for (qsizetype i = 1; i < inHeader.size(); ++i)
        EXPECT_LT(x(inHeader[i]), x(inHeader[i - 1])) << inHeader[i]->toolTip().toStdString();
    EXPECT_LT(stops.indexOf(reader->outline()), stops.indexOf(reader->textView()));
    EXPECT_LT(stops.indexOf(inHeader.value(0)), stops.indexOf(reader->outline()));
    // Each shows that it has the focus.
    for (QWidget* button : header) {
        button->setFocus(Qt::TabFocusReason);
        EXPECT_EVENTUALLY(button->hasFocus(), 5000);
        const QImage focused = button->grab().toImage();
        reader->textView()->setFocus(Qt::TabFocusReason);
        EXPECT_EVENTUALLY(reader->textView()->hasFocus(), 5000);
        EXPECT_NE(focused, button->grab().toImage()) << button->toolTip().toStdString();
    }
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        Notifier::postReaderSettingsChanged();
        EXPECT_EVENTUALLY(QApplication::palette() == Theme::palette(night), 5000);
        header.value(header.size() / 2)->setFocus(Qt::TabFocusReason);
        EXPECT_EVENTUALLY(header.value(header.size() / 2)->hasFocus(), 5000);
        EXPECT_TRUE(reader->header()->grab().save(
            QCoreApplication::applicationDirPath()
            + (night ? QStringLiteral("/reader-toolbar-focus-night.png") : QStringLiteral("/reader-toolbar-focus.png"))));
    }
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
}

TEST_F(MainWindowTest, everyNumberTheViewsWriteFollowsTheDigitsPreferenceAsItChanges)
{
    constexpr std::int64_t muwatta = 1; // two volumes
    constexpr std::int64_t ibnMajahA = 2;
    constexpr std::int64_t ibnMajahB = 3;
    QTemporaryDir dir;
    test::SampleLib sample(test::sampleLibraryWithShingles(dir.path(), {ibnMajahA, ibnMajahB}));
    REQUIRE_SAMPLE(sample);
    const test::PreferenceGuard digits({Settings::indicDigitsKey});
    MainWindowController w(sample.lib);
    w.resize(1400, 860);
    w.show();
    ASSERT_TRUE(w.restoreSession(QStringLiteral(R"({"active":0,"tabs":[{"k":"book","b":%1,"s":20,"y":0.0},)"
                                                R"({"k":"book","b":%2,"s":3,"y":0.0}]})")
                                     .arg(ibnMajahA)
                                     .arg(muwatta)));
    ASSERT_EQ(w.tabs().size(), 2);
    // A restored tab is made when first shown.
    w.select(1);
    w.select(0);
    ReaderView* majah = w.tabs()[0]->reader();
    ReaderView* volumes = w.tabs()[1]->reader();
    ASSERT_TRUE(majah && volumes);
    ASSERT_GE(volumes->volPopup()->count(), 2);

    search(w, QStringLiteral("حدثنا"));
    auto* results = qobject_cast<SearchTabView*>(w.tabs().last()->view());
    ASSERT_NE(results, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return results->isDone(); }, 60000));
    // A row whose chapter is numbered.
    int numbered = -1;
    for (int row = 0; row < results->model()->rowCount() && numbered < 0; ++row)
        if (Arabic::hasDigit(results->model()->index(row, ResultsModel::chapterColumn).data().toString()))
            numbered = row;
    ASSERT_GE(numbered, 0);

    w.select(0);
    majah->handleSmartLink(QStringLiteral("quorvel://collate/%1/%2").arg(majah->page()->id).arg(ibnMajahB));
    const auto collation = SmartPopover::current();
    ASSERT_TRUE(collation && collation->textView());
    ASSERT_TRUE(QTest::qWaitFor([&] { return collation->isBuilt(); }, 20000));

    const struct {
        const char* name;
        std::function<QString()> read;
    } readings[] = {
        {"library pill", [&] { return w.pill()->text(); }},
        {"contents entry", [&] { return majah->outline()->currentIndex().data().toString(); }},
        {"chapter column",
         [&] { return results->model()->index(numbered, ResultsModel::chapterColumn).data().toString(); }},
        {"collation", [&] { return collation->textView()->toPlainText(); }},
        {"restored page field", [&] { return volumes->pageField()->text(); }},
        {"volume pop-up", [&] { return volumes->volPopup()->itemText(1); }},
        {"results count", [&] { return results->countLabel()->text(); }},
    };
    // Written in one family of digits only.
    auto writtenIn = [](const QString& text, bool indic) {
        bool latin = false;
        bool arabic = false;
        for (const QChar c : text) {
            latin = latin || (c >= u'0' && c <= u'9');
            arabic = arabic || (c >= QChar(0x0660) && c <= QChar(0x0669));
        }
        return indic ? arabic && !latin : latin && !arabic;
    };
    auto allWrittenIn = [&](bool indic) {
        return std::all_of(std::begin(readings), std::end(readings), [&](const auto& r) { return writtenIn(r.read(), indic); });
    };
    static const QRegularExpression dotBesideDigit(QStringLiteral(u"[0-9\u0660-\u0669] *·|· *[0-9\u0660-\u0669]"));
    for (const bool indic : {true, false, true}) {
        if (indic != Settings::indicDigits()) {
            Settings::setIndicDigits(indic);
            Notifier::postReaderSettingsChanged();
        }
        // The collation is built again away from the window.
        EXPECT_EVENTUALLY(allWrittenIn(indic), 20000);
        for (const auto& r : readings) {
            EXPECT_TRUE(writtenIn(r.read(), indic))
                << r.name << (indic ? " in Arabic-Indic digits: " : " in Latin digits: ") << r.read().toStdString();
            // A middle dot beside Arabic-Indic digits reads as a zero.
            EXPECT_FALSE(r.read().contains(dotBesideDigit)) << r.name << ": " << r.read().toStdString();
        }
    }

    // The reader and the results after the switches back, for a person to look at.
    collation->close();
    for (const auto& [tab, name] : {std::pair{0, "digits-reader.png"}, std::pair{2, "digits-results.png"}}) {
        w.select(tab);
        EXPECT_EVENTUALLY(w.tabs()[tab]->view()->isVisible(), 5000) << name;
        const QImage shot = w.grab().toImage();
        EXPECT_GT(test::colourCount(shot), 8) << name;
        EXPECT_TRUE(shot.save(QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name), "PNG"));
    }
}

// Escape closes each window a reader opens beside the main one, pressed in
// whatever control of it has the focus.
TEST_F(MainWindowTest, escapeClosesTheSettingsSearchAboutAndDownloadsWindows)
{
    ScriptedDialogs dialogs;
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    MainWindowController w(fixture.lib);
    QTemporaryDir noRelease;
    DownloadsWindowController::setSource(noRelease.path());
    SettingsWindowController::show(fixture.lib);
    w.showSearchWindow();
    DownloadsWindowController* downloads = DownloadsWindowController::show();
    const std::unique_ptr<QMessageBox> about(
        Dialogs::messageBox(QString::fromUtf8(displayName), AboutWindow::text(*fixture.lib, QStringLiteral("1.0"))));
    about->show();
    const QList<QWidget*> windows{SettingsWindowController::shared(), w.searchWindow(), downloads, about.get()};
    for (QWidget* window : windows) {
        SCOPED_TRACE(window->windowTitle().toStdString());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QWidget* target = window->focusWidget() ? window->focusWidget() : window;
        QTest::keyClick(target, Qt::Key_Escape);
        ASSERT_EVENTUALLY(!window->isVisible(), 5000) << target->metaObject()->className();
    }
}
