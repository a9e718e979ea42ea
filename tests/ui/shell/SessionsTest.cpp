#include "ui/WindowTestSupport.h"

#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "ui/assistant/AIChatView.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/MarkedScroller.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/PendingTab.h"
#include "ui/shell/Sessions.h"

#include <QSignalSpy>
#include <QTest>

#include "core/BookTitles.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

using Named = Sessions::NamedSession;

class SessionsTest : public test::WindowTest {
protected:
    SessionsTest() : WindowTest({Settings::restoreSessionKey, Settings::indicDigitsKey}) {}

    // A book's tab title: two editions of one work are told apart.
    QString shown(std::int64_t book) const { return BookTitles::label(*fixture.lib->catalog(), book); }

    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(fixture.lib);
        // The suite's user database outlives a test when the binary runs alone.
        fixture.lib->setKV(QString::fromLatin1(Sessions::listKey), QStringLiteral("[]"));
        fixture.lib->setKV(QString::fromLatin1(MainWindowController::sessionKey), QString());
        for (const QString& key : setAsideKeys())
            fixture.lib->setKV(key, QString());
    }

    static QStringList setAsideKeys()
    {
        const QString key = QString::fromLatin1(Sessions::setAsideKey);
        return {key, key + QStringLiteral(".2"), key + QStringLiteral(".3")};
    }

    // A window whose named sessions are dated by a clock the test moves.
    std::unique_ptr<MainWindowController> window()
    {
        auto w = std::make_unique<MainWindowController>(fixture.lib);
        w->sessions().now = [this] { return clock; };
        return w;
    }

    void storeRaw(const QString& json) { fixture.lib->setKV(QString::fromLatin1(Sessions::listKey), json); }

    static QStringList names(const QList<Named>& list)
    {
        QStringList out;
        for (const Named& s : list)
            out.append(s.name);
        return out;
    }

    static QStringList titles(const MainWindowController& w)
    {
        QStringList list;
        for (const auto& tab : w.tabs())
            list.append(tab->title());
        return list;
    }

    test::FixtureLib fixture;
    double clock = 1'700'000'000;
};

} // namespace

TEST_F(SessionsTest, withNoTabsThereIsNothingToSaveAndNothingToBackUp)
{
    ScriptedDialogs dialogs;
    auto w = window();
    EXPECT_EQ(w->sessionJSON(), QStringLiteral(R"({"active":-1,"tabs":[]})"));
    const auto empty = Json::parse(w->sessionJSON().toUtf8());
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, (Json::Value{{"tabs", Json::Value::array()}, {"active", -1}}));

    dialogs.answer(QStringLiteral("لن يحفظ"));
    w->sessions().saveNamedSession();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::Alert);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("لا تبويبات مفتوحة لحفظها"));
    EXPECT_TRUE(dialogs.requests()[0].text.isEmpty());
    EXPECT_TRUE(w->sessions().namedSessions().isEmpty());

    // Opening a session over no tabs keeps no backup.
    w->sessions().storeNamedSession(QStringLiteral("درس"), QStringLiteral(R"({"tabs":[{"k":"book","b":2,"s":3}],"active":0})"));
    w->sessions().openNamedSession(w->sessions().namedSessions().first());
    EXPECT_EQ(names(w->sessions().namedSessions()), QStringList{QStringLiteral("درس")});
    EXPECT_EQ(titles(*w), QStringList{shown(2)});
}

TEST_F(SessionsTest, saveAsOffersTheActiveTitleAndTimeAndKeepsTheTabsOfThatMoment)
{
    Settings::setIndicDigits(true);
    ScriptedDialogs dialogs;
    auto w = window();
    w->openBook(1, 1);
    w->openBook(2, 3);
    QSignalSpy changed(&w->sessions(), &Sessions::changed);
    const QString before = w->sessionJSON();

    dialogs.answer(QStringLiteral("  \n مجلس الحديث \t\n"));
    w->sessions().saveNamedSession();
    ASSERT_EQ(dialogs.requests().size(), 1);
    const Dialogs::Request& asked = dialogs.requests()[0];
    EXPECT_EQ(asked.kind, Dialogs::Kind::Prompt);
    EXPECT_EQ(asked.title, QStringLiteral("حفظ الجلسة باسم"));
    EXPECT_EQ(asked.text, QStringLiteral("تبويبان. تعود إليها من ملف ← الجلسات المحفوظة."));
    EXPECT_EQ(asked.ok, QStringLiteral("حفظ"));
    EXPECT_FALSE(asked.multiline);
    EXPECT_TRUE(asked.initial.startsWith(shown(2) + QStringLiteral(" – ")));
    EXPECT_EQ(asked.initial, w->sessions().defaultName());
    // "d MMMM، h:mm a" in Arabic: a month name and Arabic-Indic digits.
    const QString date = asked.initial.mid(asked.initial.indexOf(QStringLiteral(" – ")) + 3);
    EXPECT_EQ(date, Sessions::dateText(clock));
    EXPECT_TRUE(date.contains(QStringLiteral("،")));
    EXPECT_TRUE(date.contains(QStringLiteral("نوفمبر")));
    EXPECT_FALSE(date.contains(QLatin1Char('1')));

    const QList<Named> list = w->sessions().namedSessions();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0], (Named{QStringLiteral("مجلس الحديث"), clock, before, 2}));
    EXPECT_EQ(changed.count(), 1);

    // Cancel, or a name of blanks, keeps nothing.
    w->sessions().saveNamedSession();
    dialogs.answer(QStringLiteral(" \n "));
    w->sessions().saveNamedSession();
    EXPECT_EQ(w->sessions().namedSessions().size(), 1);
    EXPECT_EQ(changed.count(), 1);

    EXPECT_EQ(Sessions::tabCountText(1), QStringLiteral("تبويب واحد"));
    EXPECT_EQ(Sessions::tabCountText(3), QStringLiteral("٣ تبويبات"));
    EXPECT_EQ(Sessions::tabCountText(11), QStringLiteral("١١ تبويبا"));
}

TEST_F(SessionsTest, theListIsNewestFirstOneEntryPerNameAndAtMostAThousand)
{
    auto w = window();
    w->openBook(1, 1);
    w->sessions().storeNamedSession(QStringLiteral("أ"), QStringLiteral("first"));
    clock += 10;
    w->sessions().storeNamedSession(QStringLiteral("ب"), QStringLiteral("other"));
    clock += 10;
    w->sessions().storeNamedSession(QStringLiteral("أ"), QStringLiteral("second"));
    // Names are compared exactly: a trailing space makes another name.
    clock += 10;
    w->sessions().storeNamedSession(QStringLiteral("ب "), QStringLiteral("spaced"));
    QList<Named> list = w->sessions().namedSessions();
    EXPECT_EQ(names(list), (QStringList{"ب ", "أ", "ب"}));
    EXPECT_EQ(list[1].data, QStringLiteral("second"));
    EXPECT_EQ(list[1].date, clock - 10);
    EXPECT_EQ(list[1].count, 1);

    // A longer stored list loses its oldest entries at the next write.
    Json::Value many = Json::Value::array();
    for (int i = 0; i < Sessions::storedLimit + 1; ++i)
        many.push_back({{"name", "s" + std::to_string(i)}, {"date", 1000 + i}, {"data", "{}"}, {"count", 1}});
    storeRaw(QString::fromUtf8(Json::dumpBytes(many)));
    EXPECT_EQ(w->sessions().namedSessions().size(), Sessions::storedLimit + 1);
    w->sessions().deleteNamedSession(QStringLiteral("no such session"));
    list = w->sessions().namedSessions();
    ASSERT_EQ(list.size(), Sessions::storedLimit);
    EXPECT_EQ(list.first().name, QStringLiteral("s1000"));
    EXPECT_EQ(list.last().name, QStringLiteral("s1"));

    w->sessions().deleteNamedSession(QStringLiteral("s500"));
    list = w->sessions().namedSessions();
    EXPECT_EQ(list.size(), Sessions::storedLimit - 1);
    EXPECT_FALSE(names(list).contains(QStringLiteral("s500")));
}

TEST_F(SessionsTest, readingTheListToleratesWhatItCannotUse)
{
    auto w = window();
    // Undated entries come last in stored order; entries without a string
    // name or data are dropped; a count that is no integer reads as 0.
    storeRaw(QStringLiteral(R"([{"name":"بلا تاريخ ١","data":"x"},{"name":"قديم","date":10,"data":"x","count":2},)"
                            R"({},{"name":5,"data":"x"},{"name":"بلا بيانات","date":30},)"
                            R"({"name":"بلا تاريخ ٢","data":"y","date":"today","count":true},)"
                            R"({"name":"حديث","date":20.5,"data":"x","count":1.5}])"));
    const QList<Named> list = w->sessions().namedSessions();
    EXPECT_EQ(names(list), (QStringList{"حديث", "قديم", "بلا تاريخ ١", "بلا تاريخ ٢"}));
    EXPECT_EQ(list[0].date, 20.5);
    EXPECT_EQ(list[0].count, 0);
    EXPECT_EQ(list[1].count, 2);
    EXPECT_EQ(list[3].date, 0);
    EXPECT_EQ(list[3].count, 0);

    for (const char* broken : {"not json", "{}", R"({"name":"a","data":"b"})"}) {
        storeRaw(QString::fromUtf8(broken));
        EXPECT_TRUE(w->sessions().namedSessions().isEmpty()) << broken;
    }
}

TEST_F(SessionsTest, anEntryThatCannotBeReadNeitherHidesNorLosesTheOthers)
{
    auto w = window();
    storeRaw(QStringLiteral(R"([{"name":"أ","date":5,"data":"x"},3,{"name":7,"data":"y"},{"name":"ب","date":4,"data":"z"}])"));
    EXPECT_EQ(names(w->sessions().namedSessions()), (QStringList{"أ", "ب"}));

    ASSERT_TRUE(w->sessions().storeNamedSession(QStringLiteral("ج"), QStringLiteral("w")));
    EXPECT_EQ(names(w->sessions().namedSessions()), (QStringList{"ج", "أ", "ب"}));
    const auto stored = Json::parse(fixture.lib->kv(QString::fromLatin1(Sessions::listKey)).value_or(QString()).toUtf8());
    ASSERT_TRUE(stored && stored->is_array() && stored->size() == 5);
    EXPECT_EQ((*stored)[3], Json::Value(3));
    EXPECT_EQ((*stored)[4], (Json::Value{{"name", 7}, {"data", "y"}}));
}

TEST_F(SessionsTest, aStoredListThatCannotBeReadIsKeptAsItWas)
{
    auto w = window();
    // An entry nested far deeper than the reader follows (in its date, which
    // would otherwise be written back from its parsed value) stays as its text;
    // an entry's date and count of another type are written back unchanged.
    const QString deep = QStringLiteral(R"({"data":"x","date":)") + QString(200'000, u'[') + QString(200'000, u']') +
                         QStringLiteral(R"(,"name":"عميق"})");
    const QString odd = QStringLiteral(R"({"count":"٣","data":"x","date":"أمس","name":"قديم"})");
    storeRaw(u'[' + deep + u',' + odd + u']');
    EXPECT_EQ(names(w->sessions().namedSessions()), QStringList{QStringLiteral("قديم")});
    ASSERT_TRUE(w->sessions().storeNamedSession(QStringLiteral("جديد"), QStringLiteral("y")));
    const QString written = fixture.lib->kv(QString::fromLatin1(Sessions::listKey)).value_or(QString());
    EXPECT_TRUE(written == QStringLiteral(R"([{"count":0,"data":"y","date":1700000000.0,"name":"جديد"},)") + odd +
                               u',' + deep + u']')
        << written.left(200).toStdString();
    w->sessions().deleteNamedSession(QStringLiteral("جديد"));
    EXPECT_TRUE(fixture.lib->kv(QString::fromLatin1(Sessions::listKey)) == u'[' + odd + u',' + deep + u']');

    // A stored value that is no list is kept under a key of its own, never
    // over an earlier one, before the next write replaces it.
    const QStringList unreadable{QStringLiteral(R"({"sessions":[{"name":"أ","data":"x"}]})"),
                                 QStringLiteral(R"([{"name":"أ","data":"x"})"), QStringLiteral(R"("نص")")};
    for (qsizetype i = 0; i < unreadable.size(); ++i) {
        storeRaw(unreadable[i]);
        EXPECT_TRUE(w->sessions().namedSessions().isEmpty());
        ASSERT_TRUE(w->sessions().storeNamedSession(QStringLiteral("ب"), QStringLiteral("z")));
        EXPECT_EQ(names(w->sessions().namedSessions()), QStringList{QStringLiteral("ب")});
        EXPECT_EQ(fixture.lib->kv(setAsideKeys()[i]), unreadable[i]);
    }
    // One met again, as at every start, is kept once.
    const QString fourth = QString::fromLatin1(Sessions::setAsideKey) + QStringLiteral(".4");
    for (int again = 0; again < 3; ++again) {
        storeRaw(unreadable[1]);
        ASSERT_TRUE(w->sessions().storeNamedSession(QStringLiteral("ب"), QStringLiteral("z")));
        ASSERT_TRUE(Sessions::keepAside(*fixture.lib, QString::fromLatin1(Sessions::setAsideKey), unreadable[2]));
    }
    EXPECT_EQ(fixture.lib->kv(fourth).value_or(QString()), QString());
}

TEST_F(SessionsTest, renamingTrimsAndReplacesAnEntryOfTheNewName)
{
    ScriptedDialogs dialogs;
    auto w = window();
    w->openBook(1, 1);
    w->sessions().storeNamedSession(QStringLiteral("الفقه"), QStringLiteral("fiqh"));
    clock += 5;
    w->openBook(2, 1);
    w->sessions().storeNamedSession(QStringLiteral("الحديث"), QStringLiteral("hadith"));

    dialogs.answer(QStringLiteral(" الحديث\n"));
    w->sessions().renameNamedSession(QStringLiteral("الفقه"));
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("إعادة تسمية الجلسة"));
    EXPECT_TRUE(dialogs.requests()[0].text.isEmpty());
    EXPECT_EQ(dialogs.requests()[0].initial, QStringLiteral("الفقه"));
    EXPECT_EQ(dialogs.requests()[0].ok, QStringLiteral("حفظ"));
    const QList<Named> list = w->sessions().namedSessions();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0], (Named{QStringLiteral("الحديث"), clock - 5, QStringLiteral("fiqh"), 1}));

    // The same name, blanks or a cancel change nothing.
    QSignalSpy changed(&w->sessions(), &Sessions::changed);
    dialogs.answer(QStringLiteral("الحديث "));
    w->sessions().renameNamedSession(QStringLiteral("الحديث"));
    dialogs.answer(QStringLiteral("  "));
    w->sessions().renameNamedSession(QStringLiteral("الحديث"));
    w->sessions().renameNamedSession(QStringLiteral("الحديث"));
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(w->sessions().namedSessions(), list);
}

TEST_F(SessionsTest, openingReplacesTheTabsAndKeepsOneBackup)
{
    auto w = window();
    w->openBook(1, 1);
    w->sessions().storeNamedSession(QStringLiteral("الأول"), w->sessionJSON());
    w->close(0);
    w->openBook(2, 3);
    w->openBook(3, 1);
    w->select(0);
    w->sessions().storeNamedSession(QStringLiteral("الثاني"), w->sessionJSON());
    const QString second = w->sessionJSON();
    clock += 60;

    w->sessions().openNamedSession(w->sessions().namedSessions()[1]);
    EXPECT_EQ(titles(*w), QStringList{shown(1)});
    QList<Named> list = w->sessions().namedSessions();
    EXPECT_EQ(names(list), (QStringList{"قبل فتح «الأول»", "الثاني", "الأول"}));
    EXPECT_EQ(list[0].date, clock - 1);
    EXPECT_EQ(list[0].data, second);
    EXPECT_EQ(list[0].count, 2);

    // Opening the backup itself replaces it by a backup of the tabs it closed.
    clock += 60;
    w->sessions().openNamedSession(list[0]);
    EXPECT_EQ(titles(*w), (QStringList{shown(2), shown(3)}));
    EXPECT_EQ(w->active(), 0);
    list = w->sessions().namedSessions();
    EXPECT_EQ(names(list), (QStringList{"قبل فتح «قبل فتح «الأول»»", "الثاني", "الأول"}));
    EXPECT_EQ(list[0].count, 1);
}

TEST_F(SessionsTest, restoringSkipsWhatItCannotUseAndSaysNothing)
{
    ScriptedDialogs dialogs;
    auto w = window();
    // Nothing happens for what is not a session.
    for (const char* bad : {"", "nonsense", "[]", "{}", R"({"tabs":{}})", R"({"tabs":[1,2]})"})
        EXPECT_FALSE(w->restoreSession(QString::fromUtf8(bad))) << bad;
    EXPECT_TRUE(w->tabs().isEmpty());

    // A "book" whose b is no integer, an unknown kind, a book gone from the
    // library, an undecodable query: each skipped, the rest restored, and the
    // active entry followed to its place.
    EXPECT_TRUE(w->restoreSession(QStringLiteral(
        R"({"active":4,"tabs":[{"k":"book","b":true,"s":1},{"k":"book","b":1,"s":2,"y":-0.5},{"k":"scroll"},)"
        R"({"k":"book","b":4242,"s":1},{"k":"book","b":3,"s":1,"y":0},{"k":"search","q":"[1]","row":2}]})")));
    EXPECT_EQ(titles(*w), (QStringList{shown(1), shown(3)}));
    EXPECT_EQ(w->active(), 1);
    EXPECT_TRUE(dialogs.requests().isEmpty());

    // The stored session is what start-up restores; none restores nothing.
    auto empty = window();
    empty->restoreSession();
    EXPECT_TRUE(empty->tabs().isEmpty());
    fixture.lib->setKV(QString::fromLatin1(MainWindowController::sessionKey), w->sessionJSON());
    auto again = window();
    again->restoreSession();
    EXPECT_EQ(titles(*again), titles(*w));
    EXPECT_EQ(again->active(), 1);
    again->select(0);
    ASSERT_NE(again->tabs()[0]->reader(), nullptr);
    EXPECT_EQ(again->tabs()[0]->reader()->seq(), 2);
}

// A tab entry nested far deeper than any session the window writes, in the
// stored session or in a named session's data, is kept and set aside rather
// than taken up, and the window starts.
TEST_F(SessionsTest, aSessionNestedTooDeepIsSetAsideAndTheWindowStarts)
{
    ScriptedDialogs dialogs;
    const int levels = 200'000;
    const QString deep = QStringLiteral(R"({"active":0,"tabs":[{"k":"book","b":1,"s":1,"y":0.0},)"
                                        R"({"k":"book","b":2,"s":3,"x":)") +
                         QString(levels, u'[') + QString(levels, u']') + QStringLiteral("}]}");
    const QString key = QString::fromLatin1(MainWindowController::sessionSetAsideKey);
    fixture.lib->setKV(key, QString());
    fixture.lib->setKV(QString::fromLatin1(MainWindowController::sessionKey), deep);
    auto w = window();
    w->restoreSession();
    EXPECT_TRUE(w->tabs().isEmpty());
    EXPECT_TRUE(fixture.lib->kv(key) == deep);
    // The same one met again, as at every start, is kept once; another does
    // not replace it.
    w->restoreSession();
    EXPECT_TRUE(fixture.lib->kv(key + QStringLiteral(".2")).value_or(QString()).isEmpty());
    const QString deeper = deep + u' ';
    fixture.lib->setKV(QString::fromLatin1(MainWindowController::sessionKey), deeper);
    w->restoreSession();
    EXPECT_TRUE(fixture.lib->kv(key) == deep);
    EXPECT_TRUE(fixture.lib->kv(key + QStringLiteral(".2")) == deeper);
    fixture.lib->setKV(key + QStringLiteral(".2"), QString());

    w->openBook(1, 1);
    ASSERT_TRUE(w->sessions().storeNamedSession(QStringLiteral("عميقة"), deep));
    w->sessions().openNamedSession(w->sessions().namedSessions().first());
    EXPECT_EQ(titles(*w), QStringList{shown(1)});
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[0].title, QStringLiteral("تعذر فتح الجلسة"));
    EXPECT_EQ(names(w->sessions().namedSessions()), QStringList{QStringLiteral("عميقة")});
    fixture.lib->setKV(key, QString());
}

TEST_F(SessionsTest, aRestoredTabIsMadeWhenFirstShownAndSavedAsItCameUntilThen)
{
    // Fourteen tabs: books at several pages, searches and the assistant.
    Json::Value tabs = Json::Value::array();
    QStringList expected;
    const std::pair<std::int64_t, int> pages[] = {{1, 0}, {1, 1}, {2, 0}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {3, 0}};
    for (const auto& [book, page] : pages) {
        tabs.push_back({{"k", "book"}, {"b", book}, {"s", fixture.lib->seqRange(book).first + page}, {"y", 0.5}});
        expected.append(shown(book));
    }
    for (const char* word : {"الصلاة", "الزكاة", "الصوم", "الحج"}) {
        SearchQuery query;
        query.andPhrases = {QString::fromUtf8(word)};
        tabs.push_back({{"k", "search"}, {"q", Json::utf8(query.json())}, {"row", 1}});
        expected.append(SearchTabView::titleOf(query));
    }
    tabs.push_back({{"k", "ai"}});
    expected.append(QString::fromUtf8(AIChatView::tabTitle));
    ASSERT_EQ(tabs.size(), 14u);
    const Json::Value document{{"tabs", tabs}, {"active", 2}};

    auto w = window();
    ASSERT_TRUE(w->restoreSession(QString::fromUtf8(Json::dumpBytes(document))));
    EXPECT_EQ(titles(*w), expected);
    auto made = [&] {
        QList<int> indices;
        for (int i = 0; i < w->tabs().size(); ++i)
            if (!qobject_cast<PendingTab*>(w->tabs()[i]->content()))
                indices.append(i);
        return indices;
    };
    EXPECT_EQ(made(), QList<int>{2});
    ASSERT_NE(w->tabs()[2]->reader(), nullptr);

    // Saved before any other tab was shown, nothing is lost or changed.
    EXPECT_EQ(Json::parse(w->sessionJSON().toUtf8()), document);

    w->select(5);
    EXPECT_EQ(made(), (QList<int>{2, 5}));
    ASSERT_NE(w->tabs()[5]->reader(), nullptr);
    EXPECT_EQ(w->tabs()[5]->reader()->seq(), fixture.lib->seqRange(1).first + 4);
    // Opening the book of a tab not yet shown goes to that tab.
    w->openBook(3, std::nullopt);
    EXPECT_EQ(w->active(), 8);
    EXPECT_EQ(made(), (QList<int>{2, 5, 8}));
    w->select(10);
    auto* search = qobject_cast<SearchTabView*>(w->tabs()[10]->view());
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->query().andPhrases, QStringList{QStringLiteral("الزكاة")});
    EXPECT_EQ(w->tabs().size(), 14);
    search->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->isDone(); }, 20000));
}

TEST_F(SessionsTest, unselectedResultsRowIsWrittenAsTheFirst)
{
    auto w = window();
    SearchQuery query;
    query.andPhrases = {QStringLiteral("الصلاة")};
    w->runSearch(query);
    auto* tab = qobject_cast<SearchTabView*>(w->tabs()[0]->view());
    ASSERT_NE(tab, nullptr);
    // Rows arrive through the event loop: none is selected yet.
    ASSERT_LT(tab->selectedRow(), 0);
    const auto session = Json::parse(w->sessionJSON().toUtf8());
    ASSERT_TRUE(session);
    const Json::Value& entry = (*session)["tabs"][0];
    EXPECT_EQ(Json::strictInt(entry, "row"), 0);
    EXPECT_EQ(Json::strictString(entry, "q"), query.json());
    tab->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tab->isDone(); }, 20000));
}

TEST_F(SessionsTest, tabsComeBackWhereTheyWereAfterQuittingAndStartingAgain)
{
    const QString sample = test::sampleLibraryPath();
    if (sample.isEmpty())
        GTEST_SKIP() << "the sample release is not built";
    QTemporaryDir userDir;
    test::ScopedEnv userdb("QUORVEL_USERDB", userDir.filePath(QStringLiteral("user.db")));
    test::ScopedEnv db("QUORVEL_DB", sample);
    Settings::setRestoreSession(true);
    ScriptedDialogs dialogs;
    auto start = [] {
        auto app = std::make_unique<AppDelegate>(QStringList{QStringLiteral("quorvel")}, QProcessEnvironment());
        EXPECT_EQ(app->applicationDidFinishLaunching(), AppDelegate::Outcome::Running);
        return app;
    };
    auto searchOf = [](MainWindowController* w, int i) { return qobject_cast<SearchTabView*>(w->tabs()[i]->view()); };

    SearchQuery query;
    query.andPhrases = {QStringLiteral("رسول الله")};
    double fraction = 0;
    QString saved;
    {
        auto app = start();
        MainWindowController* w = app->mainWC();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->tabs().isEmpty());
        w->openBook(1, 40);
        w->runSearch(query, std::nullopt, 3);
        w->openQuran(2, 255);
        w->openBook(10, 10);
        ASSERT_EQ(w->tabs().size(), 4);
        ASSERT_TRUE(QTest::qWaitFor([&] { return searchOf(w, 1)->isDone(); }, 20000));
        EXPECT_EQ(searchOf(w, 1)->selectedRow(), 3);
        // The book's page laid out, taller than its view.
        ASSERT_EVENTUALLY(w->activeReader()->isVisible() && w->activeReader()->scroller()->maximum() > 0, 20000);
        w->activeReader()->setScrollFraction(0.5);
        fraction = w->activeReader()->scrollFraction();
        EXPECT_GT(fraction, 0.3);
        w->select(2);
        app->applicationWillTerminate();
        saved = Library::shared()->kv(QString::fromLatin1(MainWindowController::sessionKey)).value_or(QString());
    }
    const auto document = Json::parse(saved.toUtf8());
    ASSERT_TRUE(document);
    EXPECT_EQ((*document)["active"], 2);
    EXPECT_EQ((*document)["tabs"].size(), 4u);

    auto app = start();
    MainWindowController* w = app->mainWC();
    ASSERT_EQ(w->tabs().size(), 4);
    EXPECT_EQ(w->active(), 2);
    // The active Quran tab fills once its text is in; the others are made as
    // they are shown.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->activeQuran() != nullptr; }, 20000));
    auto* quran = qobject_cast<QuranView*>(w->tabs()[2]->view());
    ASSERT_NE(quran, nullptr);
    EXPECT_EQ(quran->position(), std::make_pair(2, 255));
    for (int i : {0, 1})
        w->select(i);
    ReaderView* first = w->tabs()[0]->reader();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->book().id, 1);
    EXPECT_EQ(first->seq(), 40);
    SearchTabView* search = searchOf(w, 1);
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->query(), query);
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->isDone(); }, 20000));
    EXPECT_EQ(search->selectedRow(), 3);
    // The restored tab ran its search again without recording it again.
    EXPECT_EQ(Library::shared()->history().size(), 1);
    // The scroll position of a tab not yet shown comes back once it is.
    w->select(3);
    ReaderView* last = w->tabs()[3]->reader();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->book().id, 10);
    EXPECT_EQ(last->seq(), 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(last->scrollFraction() - fraction) < 0.02; }, 20000))
        << last->scrollFraction();
    EXPECT_TRUE(dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty());
}

TEST_F(SessionsTest, aNamedSessionThatCannotBeWrittenIsSaidSo)
{
    // A user database that opens but takes no writes.
    QTemporaryDir dir;
    const QString userPath = dir.filePath(QStringLiteral("user.db"));
    {
        auto user = SQLiteDB::open(userPath, false);
        ASSERT_TRUE(user && user->exec(Library::userSchema()));
    }
    test::ScopedEnv readOnly("QUORVEL_USERDB", Library::readOnlyUri(userPath));
    test::FixtureLib locked;
    ASSERT_TRUE(locked.lib);
    ScriptedDialogs dialogs;
    MainWindowController w(locked.lib);
    QSignalSpy changed(&w.sessions(), &Sessions::changed);
    w.openBook(1, 1);
    dialogs.answer(QStringLiteral("درس الفجر"));
    w.sessions().saveNamedSession();
    const QList<Dialogs::Request> alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral("تعذر الحفظ"));
    EXPECT_TRUE(alerts[0].hasWindow);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(w.sessions().namedSessions().isEmpty());
}

// On a store that takes no writes, opening a named session keeps the open
// tabs (their backup cannot be written), and a deleted session stays listed;
// both are said.
TEST_F(SessionsTest, openingOrDeletingOnAStoreThatTakesNoWritesKeepsEverythingAndSaysSo)
{
    QTemporaryDir dir;
    const QString userPath = dir.filePath(QStringLiteral("user.db"));
    {
        test::ScopedEnv writable("QUORVEL_USERDB", userPath);
        test::FixtureLib before;
        ASSERT_TRUE(before.lib);
        MainWindowController w(before.lib);
        w.openBook(2, 3);
        ASSERT_TRUE(w.sessions().storeNamedSession(QStringLiteral("الفجر"), w.sessionJSON()));
    }
    test::ScopedEnv readOnly("QUORVEL_USERDB", Library::readOnlyUri(userPath));
    test::FixtureLib locked;
    ASSERT_TRUE(locked.lib);
    ScriptedDialogs dialogs;
    MainWindowController w(locked.lib);
    w.openBook(1, 1);
    const QList<Named> list = w.sessions().namedSessions();
    ASSERT_EQ(names(list), QStringList{QStringLiteral("الفجر")});
    w.sessions().openNamedSession(list.first());
    EXPECT_EQ(titles(w), QStringList{BookTitles::label(*locked.lib->catalog(), 1)});
    w.sessions().deleteNamedSession(QStringLiteral("الفجر"));
    EXPECT_EQ(names(w.sessions().namedSessions()), QStringList{QStringLiteral("الفجر")});
    const QList<Dialogs::Request> alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_TRUE(alerts[0].text.contains(QStringLiteral("بقيت التبويبات المفتوحة"))) << alerts[0].text.toStdString();
    EXPECT_TRUE(alerts[1].text.contains(QStringLiteral("بقيت الجلسة محفوظة"))) << alerts[1].text.toStdString();
}
