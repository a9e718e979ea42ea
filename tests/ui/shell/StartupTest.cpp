#include "ui/WindowTestSupport.h"

#include "core/Arabic.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"
#include "support/SampleStore.h"
#include "support/ScopedEnv.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/PillView.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/PageIndexBuild.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <sys/resource.h>

using namespace quorvel;

namespace {

class StartupTest : public test::WindowTest {
protected:
    StartupTest() : WindowTest({Library::dbPathKey, Settings::restoreSessionKey}) {}
    void SetUp() override
    {
        WindowTest::SetUp();
        qunsetenv("QUORVEL_DB");
    }
    void TearDown() override { qunsetenv("QUORVEL_DB"); }
};

std::unique_ptr<AppDelegate> makeDelegate(QStringList extra = {}, QProcessEnvironment env = {})
{
    extra.prepend(QStringLiteral("quorvel"));
    return std::make_unique<AppDelegate>(extra, env);
}

} // namespace

TEST_F(StartupTest, validDatabaseShowsTheMainWindowInArabicRightToLeft)
{
    test::FixtureLib fixture;
    qputenv("QUORVEL_DB", fixture.path.toUtf8());
    ScriptedDialogs dialogs;
    auto app = makeDelegate();
    ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    EXPECT_TRUE(dialogs.requests().isEmpty());
    ASSERT_NE(app->mainWC(), nullptr);
    ASSERT_TRUE(Library::shared());
    EXPECT_EQ(Library::shared()->dbPath(), fixture.path);
    MainWindowController* w = app->mainWC();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(w->pill()->text(), QStringLiteral("٣"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));

    // The window as the user first sees it, kept beside the test binary.
    const QImage shot = w->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/main-window.png");
    EXPECT_TRUE(shot.save(file, "PNG"));
    const QImage back(file);
    EXPECT_EQ(back.size(), w->size());
    // Its minimum width, or the whole free width of a smaller screen (the test's).
    const int room = w->screen()->availableGeometry().width() - (w->frameGeometry().width() - w->width());
    EXPECT_GE(back.width(), std::min(980, room));
    EXPECT_TRUE(w->screen()->availableGeometry().contains(w->frameGeometry()));
    EXPECT_GT(test::colourCount(back), 32);
}

TEST_F(StartupTest, unreadableDatabaseAlertsThenOffersTheFileChooser)
{
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("broken.db"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    qputenv("QUORVEL_DB", broken.toUtf8());

    {
        ScriptedDialogs dialogs;
        dialogs.answer(std::nullopt); // the chooser is cancelled
        auto app = makeDelegate();
        EXPECT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Exit);
        EXPECT_NE(app->exitStatus(), 0);
        EXPECT_EQ(app->mainWC(), nullptr);
        ASSERT_EQ(dialogs.requests().size(), 2);
        EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::Alert);
        EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("تعذّر فتح قاعدة المكتبة"));
        EXPECT_EQ(dialogs.requests()[0].text, QStringLiteral("تعذّر فتح ملفّ قاعدة المكتبة الذي وُجد:\n") + broken);
        EXPECT_FALSE(dialogs.requests()[0].hasWindow);
        EXPECT_EQ(dialogs.requests()[1].kind, Dialogs::Kind::OpenFile);
        EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("اختر ملفّ قاعدة المكتبة (quorvel.db أو library.db)"));
        EXPECT_FALSE(Preferences::standard().string(Library::dbPathKey).has_value());
    }
    {
        // A chosen file that fails is named in the alert and not remembered,
        // so the next launch is not locked out by it.
        ScriptedDialogs dialogs;
        dialogs.answer(broken);
        auto app = makeDelegate();
        EXPECT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Exit);
        const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
        ASSERT_EQ(alerts.size(), 2);
        EXPECT_EQ(alerts[1].text, QStringLiteral("تعذّر فتح الملفّ المختار قاعدةً للمكتبة:\n") + broken);
        EXPECT_FALSE(Preferences::standard().string(Library::dbPathKey).has_value());
    }
    {
        test::FixtureLib fixture;
        ScriptedDialogs dialogs;
        dialogs.answer(fixture.path);
        auto app = makeDelegate();
        ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
        EXPECT_EQ(Library::shared()->dbPath(), fixture.path);
        EXPECT_EQ(Preferences::standard().string(Library::dbPathKey), fixture.path);
    }
}

TEST_F(StartupTest, aUserDatabaseThatCannotKeepDataIsSaidOnceAndNothingPassesForSaved)
{
    test::FixtureLib fixture;
    qputenv("QUORVEL_DB", fixture.path.toUtf8());
    QTemporaryDir dir;
    const QString notADatabase = dir.filePath(QStringLiteral("text.db"));
    QFile file(notADatabase);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
    file.close();
    const QString readOnly = dir.filePath(QStringLiteral("read-only.db"));
    ASSERT_TRUE(SQLiteDB::open(readOnly, false)->exec(Library::userSchema()));
    const QString filling = dir.filePath(QStringLiteral("filling.db"));
    const QByteArray exchange = R"({"format":"quorvel-notes","version":1,"notes":[{"book_id":1,"seq":2,"text":"ن"}],)"
                                R"("bookmarks":[{"book_id":1,"seq":2}]})";

    const struct {
        QString userDB;
        bool atStart;
        QString says;
    } cases[] = {
        {notADatabase, true, QStringLiteral("ملفّ بيانات المستخدم ليس قاعدة بيانات سليمة")},
        {Library::readOnlyUri(readOnly), true, QStringLiteral("ملفّ بيانات المستخدم للقراءة فقط")},
        // Sound at start-up; the disk fills up later.
        {filling, false, QStringLiteral("لا مساحة كافية على القرص")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.userDB.toStdString());
        test::ScopedEnv userDB("QUORVEL_USERDB", c.userDB);
        ScriptedDialogs dialogs;
        auto app = makeDelegate();
        ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
        Library& lib = *Library::shared();
        EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), c.atStart ? 1 : 0);
        if (!c.atStart) {
            const auto pages = lib.user().scalarInt(QStringLiteral("PRAGMA page_count"));
            ASSERT_TRUE(pages && lib.user().exec(QStringLiteral("PRAGMA max_page_count=%1").arg(*pages)));
        }
        EXPECT_FALSE(lib.saveNote(1, 1, QStringLiteral("حاشية ").repeated(4000)));
        if (c.atStart) {
            EXPECT_FALSE(lib.toggleBookmark(1, 1));
            const auto imported = lib.importUserNotes(exchange);
            ASSERT_TRUE(imported);
            EXPECT_EQ(imported->notes + imported->marks, 0);
        }
        const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
        ASSERT_EQ(alerts.size(), 1);
        EXPECT_EQ(alerts[0].title, QStringLiteral("لن تُحفظ بياناتك"));
        EXPECT_TRUE(alerts[0].text.startsWith(c.says)) << alerts[0].text.toStdString();
        EXPECT_TRUE(alerts[0].hasWindow);
    }
}

TEST_F(StartupTest, aPreferenceSaveThatFailsIsSaidOncePerRunOfFailures)
{
    test::FixtureLib fixture;
    qputenv("QUORVEL_DB", fixture.path.toUtf8());
    ScriptedDialogs dialogs;
    auto app = makeDelegate();
    ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    ASSERT_TRUE(dialogs.requests().isEmpty());

    // A file-size limit fails every save of the grown file, as a full disk does.
    const QString filler = QStringLiteral("startupTestFiller");
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Preferences::standard().set(filler, QString(100 * 1024, QLatin1Char('x')));
    Settings::setRestoreSession(false);
    Settings::setRestoreSession(true);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    Preferences::standard().remove(filler);

    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral("لم تُحفظ التفضيلات"));
    EXPECT_TRUE(alerts[0].text.contains(QStringLiteral("\nالملف أكبر مما يسمح به النظام\n"))) << alerts[0].text.toStdString();
    EXPECT_TRUE(alerts[0].text.endsWith(Preferences::standard().filePath()));
    EXPECT_TRUE(alerts[0].hasWindow);
    EXPECT_FALSE(Preferences::standard().saveFault());
    EXPECT_FALSE(Preferences::standard().object(filler));
}

TEST_F(StartupTest, missingDatabaseFallsBackToTheLocalStore)
{
    QTemporaryDir dir;
    qputenv("QUORVEL_DB", dir.filePath(QStringLiteral("absent.db")).toUtf8());
    ScriptedDialogs dialogs;
    auto app = makeDelegate();
    ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    EXPECT_TRUE(dialogs.requests().isEmpty());
    EXPECT_TRUE(Library::shared()->isLocal());
    EXPECT_EQ(app->mainWC()->pill()->text(), QStringLiteral("٠"));
}

// A store installed before the search's page index gets it once it opens,
// on a worker, without the window waiting for it.
TEST_F(StartupTest, aStoreWithoutThePageIndexGetsItWhenOpened)
{
    test::FixtureLib fixture(QStringLiteral("library.db"));
    {
        auto db = SQLiteDB::open(fixture.path, false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->exec(QStringLiteral("DROP TRIGGER page_index_added; DROP TRIGGER page_index_changed; "
                                            "DROP TABLE page_forms; DROP TABLE page_terms; "
                                            "DELETE FROM meta WHERE key LIKE 'page_index%';")));
        ASSERT_FALSE(PageIndex::ready(*db));
    }
    qputenv("QUORVEL_DB", fixture.path.toUtf8());
    ScriptedDialogs dialogs;
    auto app = makeDelegate();
    ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    ASSERT_TRUE(Library::shared()->isLocal());
    auto db = SQLiteDB::open(fixture.path, true);
    ASSERT_TRUE(db);
    ASSERT_EVENTUALLY(PageIndex::ready(*db), 20000);
    EXPECT_GT(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM page_terms")).value_or(0), 0);
}

// A store whose narrators were stored under older chain rules reads them
// again when it opens, on a worker, and says so once.
TEST_F(StartupTest, narratorsOfOlderChainRulesAreReadAgainWhenTheStoreOpens)
{
    test::FixtureLib fixture(QStringLiteral("library.db"));
    {
        auto db = SQLiteDB::open(fixture.path, false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->exec(QStringLiteral("DELETE FROM meta WHERE key='isnad_rules';"
                                            "INSERT INTO narrators(name) VALUES('قتيبة بن سعيد نا بن لهيعة');")));
        ASSERT_TRUE(LocalStore::narratorsOutdated(*db));
    }
    qputenv("QUORVEL_DB", fixture.path.toUtf8());
    ScriptedDialogs dialogs;
    auto app = makeDelegate();
    ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    auto db = SQLiteDB::open(fixture.path, true);
    ASSERT_TRUE(db);
    EXPECT_EVENTUALLY(!LocalStore::narratorsOutdated(*db) && !dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty(), 20000);
    ASSERT_FALSE(LocalStore::narratorsOutdated(*db));
    EXPECT_FALSE(db->scalarInt(QStringLiteral("SELECT 1 FROM narrators WHERE name LIKE '% نا %'")).has_value());
    EXPECT_GT(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM isnad_edges")).value_or(0), 0);
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral("حُدّثت أسانيد المكتبة"));
    EXPECT_TRUE(alerts[0].text.contains(QStringLiteral("دون إعادة تثبيت الكتب"))) << alerts[0].text.toStdString();
}

// A stop (the window closing) ends a re-reading of the narrators before its
// next book rather than waiting for it; the next build reads them.
TEST_F(StartupTest, aStoppedBuildLeavesTheNarratorsToReadNextTime)
{
    test::FixtureLib fixture;
    {
        auto db = SQLiteDB::open(fixture.path, false);
        ASSERT_TRUE(db && db->exec(QStringLiteral("DELETE FROM meta WHERE key='isnad_rules';"
                                                  "INSERT INTO narrators(name) VALUES('قتيبة بن سعيد نا بن لهيعة');")));
        ASSERT_TRUE(LocalStore::narratorsOutdated(*db));
    }
    PageIndexBuild& builder = PageIndexBuild::shared();
    ASSERT_EVENTUALLY(!builder.running(), 20000);
    const auto restore = qScopeGuard([&builder, openStore = builder.openStore] { builder.openStore = openStore; });
    // The worker waits, store in hand, until the stop has been asked for.
    auto stopAsked = std::make_shared<std::atomic<bool>>(false);
    builder.openStore = [stopAsked](const QString& path) {
        auto store = LocalStore::open(path);
        while (!stopAsked->load())
            std::this_thread::yield();
        return store;
    };
    QSignalSpy finished(&builder, &PageIndexBuild::finished);
    QSignalSpy refreshed(&builder, &PageIndexBuild::narratorsRefreshed);
    builder.start(fixture.path);
    builder.stop();
    stopAsked->store(true);
    ASSERT_EVENTUALLY(finished.size() == 1, 20000);
    EXPECT_FALSE(finished.first().first().toBool());
    EXPECT_TRUE(refreshed.isEmpty());
    auto db = SQLiteDB::open(fixture.path, true);
    ASSERT_TRUE(db);
    EXPECT_TRUE(LocalStore::narratorsOutdated(*db));

    builder.start(fixture.path);
    ASSERT_EVENTUALLY(finished.size() == 2, 20000);
    EXPECT_EQ(refreshed.size(), 1);
    EXPECT_FALSE(LocalStore::narratorsOutdated(*db));
}

// The process has one page index builder: a second request joins the build
// under way, a store another writer holds is tried again until it is free,
// and any other failure is told with its reason.
TEST_F(StartupTest, onePageIndexBuilderRetriesABusyStoreAndTellsOtherFailures)
{
    test::FixtureLib fixture;
    auto dropIndex = [&] {
        auto db = SQLiteDB::open(fixture.path, false);
        return db && db->exec(QStringLiteral("DELETE FROM meta WHERE key LIKE 'page_index%'"));
    };
    ASSERT_TRUE(dropIndex());
    PageIndexBuild& builder = PageIndexBuild::shared();
    ASSERT_EVENTUALLY(!builder.running(), 20000); // an earlier window's build may still end its batch
    // Put back on every way out, so that a failure here leaves the next test the real builder.
    const auto restore = qScopeGuard([&builder, openStore = builder.openStore, retryDelay = builder.retryDelay] {
        builder.openStore = openStore;
        builder.retryDelay = retryDelay;
    });
    auto opened = std::make_shared<std::atomic<int>>(0);
    builder.openStore = [opened](const QString& path) {
        ++*opened;
        auto store = LocalStore::open(path);
        if (store)
            store->db().exec(QStringLiteral("PRAGMA busy_timeout=0")); // busy at once, not after the usual wait
        return store;
    };
    builder.retryDelay = std::chrono::milliseconds(20);
    QSignalSpy finished(&builder, &PageIndexBuild::finished);
    QSignalSpy failed(&builder, &PageIndexBuild::failed);

    auto writer = SQLiteDB::open(fixture.path, false);
    ASSERT_TRUE(writer && writer->exec(QStringLiteral("BEGIN IMMEDIATE")));
    const int retriesBefore = builder.retries();
    builder.start(fixture.path);
    builder.start(fixture.path);
    ASSERT_EVENTUALLY(builder.retries() >= retriesBefore + 2, 10000);
    EXPECT_TRUE(builder.running());
    EXPECT_TRUE(finished.isEmpty());
    ASSERT_TRUE(writer->exec(QStringLiteral("COMMIT")));
    ASSERT_EVENTUALLY(finished.size() == 1, 20000);
    EXPECT_TRUE(finished.first().first().toBool());
    EXPECT_TRUE(failed.isEmpty());
    // One store opened per try: the second request joined the first build.
    EXPECT_EQ(*opened, 1 + builder.retries() - retriesBefore);
    EXPECT_TRUE(PageIndex::ready(*writer));

    ASSERT_TRUE(dropIndex());
    builder.openStore = [](const QString& path) { return LocalStore::open(Library::readOnlyUri(path)); };
    builder.start(fixture.path);
    ASSERT_EVENTUALLY(failed.size() == 1, 20000);
    EXPECT_TRUE(failed.first().first().toString().contains(QStringLiteral("للقراءة فقط")))
        << failed.first().first().toString().toStdString();
    EXPECT_EQ(finished.size(), 1);
}

TEST_F(StartupTest, iconSwitchUsesItsFirstOccurrenceAndIsIgnoredWhenLast)
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("one"));
    const QString second = dir.filePath(QStringLiteral("two"));
    ScriptedDialogs dialogs;
    auto app = makeDelegate({QStringLiteral("--icon"), first, QStringLiteral("--icon"), second});
    EXPECT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Exit);
    EXPECT_EQ(app->exitStatus(), 0);
    EXPECT_EQ(QDir(first).entryList(QDir::Files).size(), 10);
    EXPECT_FALSE(QDir(second).exists());
    EXPECT_EQ(app->mainWC(), nullptr);

    test::FixtureLib fixture;
    qputenv("QUORVEL_DB", fixture.path.toUtf8());
    auto last = makeDelegate({QStringLiteral("--icon")});
    EXPECT_EQ(last->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    EXPECT_TRUE(dialogs.requests().isEmpty());
}

TEST_F(StartupTest, terminationSavesTheSessionUnlessDisabledOrAHarnessRun)
{
    test::FixtureLib fixture;
    qputenv("QUORVEL_DB", fixture.path.toUtf8());
    ScriptedDialogs dialogs;

    auto harness = makeDelegate({QStringLiteral("--snapshot")});
    ASSERT_EQ(harness->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    harness->mainWC()->openBook(1, 2);
    Library::shared()->setKV(MainWindowController::sessionKey, QStringLiteral("mine"));
    harness->applicationWillTerminate();
    EXPECT_EQ(Library::shared()->kv(MainWindowController::sessionKey), QStringLiteral("mine"));

    Settings::setRestoreSession(false);
    auto disabled = makeDelegate();
    ASSERT_EQ(disabled->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    disabled->mainWC()->openBook(1, 2);
    disabled->applicationWillTerminate();
    EXPECT_EQ(Library::shared()->kv(MainWindowController::sessionKey), QStringLiteral("mine"));

    Settings::setRestoreSession(true);
    auto normal = makeDelegate();
    ASSERT_EQ(normal->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    normal->mainWC()->openBook(3, 2);
    normal->applicationWillTerminate();
    const auto session = Library::shared()->kv(MainWindowController::sessionKey);
    ASSERT_TRUE(session);
    EXPECT_TRUE(session->contains(QStringLiteral("\"b\":3")));
}

TEST_F(StartupTest, autosaveRunOpensItsBookAndMovesToTheNextPage)
{
    QTemporaryDir dir;
    QStringList rows{QStringLiteral("INSERT INTO books(id, title) VALUES(479, 'كتاب التجربة')")};
    for (int seq : {1, 17, 23})
        rows.append(QStringLiteral("INSERT INTO pages(book_id, seq, content) VALUES(479, %1, 'صفحة %1')").arg(seq));
    const QString path = test::FixtureLibrary::custom(dir.path(), QStringLiteral("autosave.db"), rows);
    ASSERT_FALSE(path.isEmpty());
    qputenv("QUORVEL_DB", path.toUtf8());
    QProcessEnvironment env;
    env.insert(QStringLiteral("QUORVEL_AUTOSAVE_TEST"), QString());
    ScriptedDialogs dialogs;
    auto app = makeDelegate({}, env);
    ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    MainWindowController* w = app->mainWC();
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(w->tabs().size(), 1);
    ReaderView* page = w->tabs()[0]->reader();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->book().id, 479);
    EXPECT_EQ(page->seq(), 17);
    EXPECT_EVENTUALLY(page->seq() == 23, 5000);
    EXPECT_EQ(page->seq(), 23);
    EXPECT_TRUE(dialogs.requests().isEmpty());
}

TEST_F(StartupTest, sampleLibraryOpensInTheMainWindow)
{
    const QString binary = QStringLiteral(QUORVEL_BINARY);
    const QString release = QFileInfo(binary).absolutePath() + QStringLiteral("/sample-release");
    if (!QFileInfo::exists(release + QStringLiteral("/index.json")))
        GTEST_SKIP() << "the sample release is not built";
    // The sample as the distribution tool installs it.
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("library.db"));
    const auto installed = test::SampleStore::shared(release, test::SampleStore::whole());
    ASSERT_TRUE(test::SampleStore::copy(installed, store, Paths::smartDir()))
        << installed.out.join(u'\n').toStdString() << installed.err.toStdString();

    qputenv("QUORVEL_DB", store.toUtf8());
    ScriptedDialogs dialogs;
    auto app = makeDelegate();
    ASSERT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
    EXPECT_TRUE(dialogs.requests().isEmpty());
    MainWindowController* w = app->mainWC();
    const auto books = Library::shared()->books().size();
    EXPECT_GT(books, 0);
    EXPECT_EQ(w->pill()->text(), Arabic::num(books));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));

    // Kept in the build folder for whoever wants to look at the first window.
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/main-window-sample.png");
    ASSERT_TRUE(w->grab().toImage().save(file, "PNG"));
    const QImage back(file);
    EXPECT_EQ(back.size(), w->size());
    EXPECT_GT(test::colourCount(back), 32);
}

TEST_F(StartupTest, qtsOwnDialogTextsAreArabic)
{
    // The file and colour choosers and the standard buttons take their texts
    // from Qt's catalogue, which start-up loads for Arabic.
    for (const auto& [context, text] : {std::pair{"QPlatformTheme", "Cancel"}, std::pair{"QFileDialog", "Look in:"},
                                        std::pair{"QColorDialog", "Select Color"}}) {
        const QString shown = QCoreApplication::translate(context, text);
        ASSERT_FALSE(shown.isEmpty());
        EXPECT_EQ(shown.front().script(), QChar::Script_Arabic) << text;
    }
}
