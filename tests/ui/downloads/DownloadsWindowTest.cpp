#include "ui/WindowTestSupport.h"

#include "core/Arabic.h"
#include "core/DistFetch.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/SQLiteDB.h"
#include "core/Theme.h"
#include "distribution/DownloadRun.h"
#include "distribution/LocalStore.h"
#include "distribution/ReleaseWriter.h"
#include "scholar/SmartBuild.h"
#include "search/NpyArray.h"
#include "search/SharedMeaningIndex.h"
#include "support/FixtureLibrary.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "ui/downloads/DownloadsModel.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/kit/Dialogs.h"
#include "ui/shell/AppDelegate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QThread>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

using namespace quorvel;

namespace {

Dist::CatBook catBook(std::int64_t id, const QString& title, std::optional<std::int64_t> category,
                      std::optional<std::int64_t> author = std::nullopt)
{
    Dist::CatBook book;
    book.id = id;
    book.title = title;
    book.categoryId = category;
    book.authorId = author;
    book.size = 1000 * id;
    return book;
}

// The titles of the rows under `parent`, as the model lists them.
QStringList titles(const DownloadsModel& model, const QModelIndex& parent = {})
{
    QStringList out;
    for (int r = 0; r < model.rowCount(parent); ++r)
        out.append(model.titleAt(model.index(r, 0, parent)));
    return out;
}

// Every row of the model, a group's books indented under it.
QStringList outline(const DownloadsModel& model)
{
    QStringList out;
    for (int g = 0; g < model.rowCount(); ++g) {
        const QModelIndex group = model.index(g, 0);
        out.append(model.data(group, Qt::DisplayRole).toString());
        for (const QString& title : titles(model, group))
            out.append(QStringLiteral("  ") + title);
    }
    return out;
}

// A signed release of `count` small books in a folder, served over loopback,
// with a local store of its own for the window.
class DownloadsWindowTest : public test::WindowTest {
protected:
    DownloadsWindowTest()
        : test::WindowTest({DownloadsWindowController::sourceKey, DownloadsWindowController::autoKey, "localReuse",
                            Settings::indicDigitsKey}),
          libdb("QUORVEL_LIBDB", storePath()), smartdir("QUORVEL_SMARTDIR", smartFolder.path())
    {
    }

    // The process keeps the first local store path it was given, so every
    // test of the process uses one store, emptied before each test.
    static QString storePath()
    {
        static QTemporaryDir dir;
        return dir.filePath(QStringLiteral("library.db"));
    }

    void SetUp() override
    {
        test::WindowTest::SetUp();
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(storePath() + QString::fromLatin1(suffix));
        auto pair = ReleaseWriter::generateKeyPair();
        ASSERT_TRUE(pair);
        keys = *pair;
        Dist::overridePublicKey(ReleaseWriter::base64(keys.publicKey));
    }
    void TearDown() override { Dist::overridePublicKey({}); }

    // A word model of three words the generated pages hold, each along its
    // own axis, added to the release folder; returns the catalogue's member.
    Json::Value addWordModel()
    {
        QTemporaryDir model;
        // Most words of the pages writeRelease makes, as a real model knows them.
        const QStringList words = QStringLiteral(u"حدثنا مالك نافع عن عبد الله بن عمر من الكتاب").split(u' ');
        std::vector<float> rows(size_t(words.size()) * 3, 0.0f);
        for (qsizetype i = 0; i < words.size(); ++i)
            rows[size_t(i * 3 + i % 3)] = 1;
        EXPECT_TRUE(NpyArray::write(QDir(model.path()).filePath(SmartBuild::wordvecFile), NpyArray::floatDescr,
                                    {words.size(), 3},
                                    QByteArray(reinterpret_cast<const char*>(rows.data()),
                                               qsizetype(rows.size() * sizeof(float)))));
        Json::Value vocab = Json::Value::object();
        vocab["words"] = Json::Value::array();
        for (const QString& w : words)
            vocab["words"].push_back(Json::utf8(w));
        vocab["freq"] = Json::Value::array();
        for (qsizetype i = 0; i < words.size(); ++i)
            vocab["freq"].push_back(words.size() - i);
        vocab["dim"] = 3;
        EXPECT_TRUE(test::FixtureLibrary::writeJson(QDir(model.path()).filePath(SmartBuild::vocabFile), vocab));
        const auto smart = ReleaseWriter::addWordModel(releaseDir.path(), model.path());
        EXPECT_TRUE(smart);
        return smart.value_or(Json::Value());
    }

    void writeRelease(int count, std::int64_t release = 1, const Json::Value& smart = nullptr)
    {
        Json::Value entries = Json::Value::array();
        for (int id = 1; id <= count; ++id) {
            ReleaseWriter::Book b;
            b.meta = {{"id", id},
                      {"title", Json::utf8(QStringLiteral(u"كتاب الحديث رقم %1").arg(id))},
                      {"author_id", 1},
                      {"category_id", id % 2 ? 1 : 2}};
            for (int seq = 1; seq <= 2; ++seq) {
                ReleaseWriter::Page p;
                p.pid = id * 1000 + seq;
                p.seq = seq;
                p.pageNum = seq;
                p.content = QStringLiteral(u"حدثنا مالك عن نافع عن عبد الله بن عمر صفحة %1 من الكتاب %2").arg(seq).arg(id);
                b.pages.append(p);
            }
            auto entry = ReleaseWriter::addBook(releaseDir.path(), b, QStringLiteral("b%1.qbk").arg(id));
            ASSERT_TRUE(entry);
            entries.push_back(*entry);
        }
        ReleaseWriter::ReleaseInfo info;
        info.release = release;
        info.generated = QStringLiteral("2025-01-01T00:00:00Z");
        info.expires = QStringLiteral("2099-12-31T23:59:59Z");
        const Json::Value categories = Json::Value::array(
            {{{"id", 1}, {"name", "كتب الحديث"}}, {{"id", 2}, {"name", "الفقه"}}});
        const Json::Value authors = Json::Value::array({{{"id", 1}, {"name", "مالك بن أنس"}}});
        ASSERT_TRUE(
            ReleaseWriter::writeRelease(releaseDir.path(), info, categories, authors, entries, keys.secretKey, smart));
    }

    // A window over the release at `source`, its catalogue loaded.
    std::unique_ptr<DownloadsWindowController> window(const QString& source)
    {
        DownloadsWindowController::setSource(source);
        auto w = std::make_unique<DownloadsWindowController>();
        w->pause = [this](int ms) { pauses.append(ms); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->catalog().has_value(); }, 10000)) << qPrintable(w->statusText());
        return w;
    }

    static bool runAndWait(DownloadsWindowController& w, const QList<Dist::CatBook>& books)
    {
        QSignalSpy finished(&w, &DownloadsWindowController::runFinished);
        if (!w.run(books))
            return false;
        return finished.wait(20000);
    }

    QTemporaryDir releaseDir;
    test::ScopedEnv libdb;
    // The window builds page vectors into the smart folder: each test has
    // its own, so no other test of the process finds them replaced.
    QTemporaryDir smartFolder;
    test::ScopedEnv smartdir;
    ReleaseWriter::KeyPair keys;
    ScriptedDialogs dialogs;
    QList<int> pauses;
};

} // namespace

TEST(DownloadsModelTest, sizesInKilobytesAndMegabytes)
{
    Settings::setIndicDigits(false);
    EXPECT_EQ(DownloadsModel::mb(0), QStringLiteral("1KB"));
    EXPECT_EQ(DownloadsModel::mb(999), QStringLiteral("1KB"));
    EXPECT_EQ(DownloadsModel::mb(999999), QStringLiteral("999KB"));
    EXPECT_EQ(DownloadsModel::mb(1000000), QStringLiteral("1.0MB"));
    EXPECT_EQ(DownloadsModel::mb(2345678), QStringLiteral("2.3MB"));
    Settings::setIndicDigits(true);
    EXPECT_EQ(DownloadsModel::mb(1000000), QStringLiteral(u"١٫٠MB"));
    Preferences::standard().remove(QString::fromLatin1(Settings::indicDigitsKey));
}

TEST(DownloadsModelTest, categoriesBySortThenIdTitlesByCodePointsUncategorisedLast)
{
    Dist::Catalog catalog;
    catalog.categories = {{1, QStringLiteral("A"), std::nullopt, std::nullopt},
                          {5, QStringLiteral("B"), std::nullopt, 1},
                          {2, QStringLiteral("C"), std::nullopt, 2},
                          {9, QStringLiteral("Empty"), std::nullopt, 0}};
    catalog.authors = {{7, QStringLiteral(u"مالك بن أنس"), std::nullopt, std::nullopt}};
    catalog.books = {catBook(1, QStringLiteral(u"موطأ"), 5, 7), catBook(2, QStringLiteral(u"بلا تصنيف ب"), std::nullopt),
                     catBook(3, QStringLiteral(u"الرسالة"), 5), catBook(4, QStringLiteral(u"أدب"), 1),
                     catBook(5, QStringLiteral(u"بلا تصنيف أ"), std::nullopt), catBook(6, QStringLiteral(u"يتيم"), 77),
                     catBook(7, QStringLiteral(u"سنن"), 2)};
    const auto source = DownloadsModel::prepare(catalog);
    DownloadsModel model;
    model.setTree(source, QString());
    EXPECT_EQ(titles(model), QStringList({"A", "B", "C", QStringLiteral(u"غير مصنّف")}));
    // Titles by code point: alef with hamza (U+0623) before alef (U+0627) before meem.
    EXPECT_EQ(titles(model, model.index(1, 0)), QStringList({QStringLiteral(u"الرسالة"), QStringLiteral(u"موطأ")}));
    // Uncategorised books keep catalogue order; a book of an unknown category is in no row.
    EXPECT_EQ(titles(model, model.index(3, 0)),
              QStringList({QStringLiteral(u"بلا تصنيف ب"), QStringLiteral(u"بلا تصنيف أ")}));

    // Both words, in any order, in the title and the author's name.
    DownloadsModel filtered;
    filtered.setTree(source, QStringLiteral(u"انس موطا"));
    ASSERT_EQ(filtered.rowCount(), 1);
    EXPECT_EQ(titles(filtered, filtered.index(0, 0)), QStringList{QStringLiteral(u"موطأ")});

    // A group's tick: mixed children show mixed, a click ticks all, another unticks all.
    const QModelIndex group = model.index(1, 0);
    model.checked.insert(1);
    EXPECT_EQ(model.data(group, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    ASSERT_TRUE(model.setData(group, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(model.checked, (QSet<std::int64_t>{1, 3}));
    EXPECT_EQ(model.data(group, Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(model.data(model.index(0, 0, group), Qt::CheckStateRole).toInt(), Qt::Checked);
    ASSERT_TRUE(model.setData(group, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_TRUE(model.checked.isEmpty());
}

TEST(DownloadsModelTest, typingOnOrBackShowsWhatAFreshFilterShowsAndKeepsTheTicks)
{
    Dist::Catalog catalog;
    catalog.categories = {{1, QStringLiteral("A"), std::nullopt, std::nullopt},
                          {2, QStringLiteral("B"), std::nullopt, std::nullopt},
                          {3, QStringLiteral("C"), std::nullopt, std::nullopt}};
    catalog.authors = {{1, QStringLiteral(u"مالك بن أنس"), std::nullopt, std::nullopt},
                       {2, QStringLiteral(u"محمد بن إدريس"), std::nullopt, std::nullopt},
                       {3, QStringLiteral(u"أحمد بن حنبل"), std::nullopt, std::nullopt}};
    const QStringList words = {QStringLiteral(u"شرح"),   QStringLiteral(u"السنن"),  QStringLiteral(u"الكامل"),
                               QStringLiteral(u"الكافي"), QStringLiteral(u"مختصر"), QStringLiteral(u"الموطأ")};
    for (int id = 1; id <= 40; ++id)
        catalog.books.append(catBook(id, words[id % 6] + u' ' + words[(id * 7 / 3) % 6] + u' ' + words[(id / 5) % 6],
                                     id % 4 ? std::optional<std::int64_t>(id % 4) : std::nullopt, 1 + id % 3));
    const auto source = DownloadsModel::prepare(catalog);

    // What a filter must show: the books holding each of its words.
    auto expected = [](const Dist::Catalog& c, const QString& filter) {
        const QStringList query = Arabic::normalize(filter, true).split(u' ', Qt::SkipEmptyParts);
        QSet<std::int64_t> ids;
        for (const Dist::CatBook& book : c.books) {
            const QString text = Arabic::normalize(book.title + u' ' + c.authors[*book.authorId - 1].name, true);
            if (std::all_of(query.cbegin(), query.cend(), [&](const QString& w) { return text.contains(w); }))
                ids.insert(book.id);
        }
        return ids;
    };
    auto shown = [](const DownloadsModel& model) {
        QSet<std::int64_t> ids;
        for (int g = 0; g < model.rowCount(); ++g)
            for (int r = 0; r < model.rowCount(model.index(g, 0)); ++r)
                ids.insert(model.bookAt(model.index(r, 0, model.index(g, 0)))->id);
        return ids;
    };

    // Typing on, deleting back, a word replaced, words swapped, a word found
    // nowhere, the filter cleared: each step shows what a filter typed at
    // once shows, rows, order and counts alike.
    DownloadsModel typing;
    const QStringList steps = {
        QStringLiteral(u"ش"),          QStringLiteral(u"شر"),          QStringLiteral(u"شرح"),
        QStringLiteral(u"شرح "),       QStringLiteral(u"شرح ا"),       QStringLiteral(u"شرح الك"),
        QStringLiteral(u"شرح الكام"),  QStringLiteral(u"شرح الكا"),    QStringLiteral(u"شرح الكاف"),
        QStringLiteral(u"الكاف شرح"),  QStringLiteral(u"الكاف شرحي"),  QStringLiteral(u"الكاف"),
        QStringLiteral(u"مالك الكاف"), QStringLiteral(u"مالك الكامل"), QStringLiteral(u"مالك"),
        QString(),                     QStringLiteral(u"سنن"),          QStringLiteral(u"السنن مختصر"),
        QStringLiteral(u"الموطا"),      QStringLiteral(u"الموطا ادريس"), QStringLiteral(u"ادريس")};
    int emptied = 0;
    for (const QString& step : steps) {
        typing.setTree(source, step);
        DownloadsModel fresh;
        fresh.setTree(source, step);
        const QSet<std::int64_t> want = expected(catalog, step);
        emptied += want.isEmpty();
        EXPECT_EQ(shown(typing), want) << step.toStdString();
        EXPECT_EQ(outline(typing), outline(fresh)) << step.toStdString();
        EXPECT_EQ(typing.filtering(), !Arabic::normalize(step, true).isEmpty()) << step.toStdString();
    }
    EXPECT_EQ(emptied, 1); // "الكاف شرحي" finds nothing; every other step finds some

    // A group ticked under a filter ticks the books it shows; without the
    // filter the same group shows mixed, and the ticks survive every filter.
    typing.setTree(source, QStringLiteral(u"الكافي"));
    const QModelIndex group = typing.index(0, 0);
    const QString name = typing.titleAt(group);
    QSet<std::int64_t> under;
    for (int r = 0; r < typing.rowCount(group); ++r)
        under.insert(typing.bookAt(typing.index(r, 0, group))->id);
    ASSERT_TRUE(typing.setData(group, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(typing.checked, under);
    typing.setTree(source, QStringLiteral(u"مختصر السنن"));
    typing.setTree(source, QString());
    ASSERT_EQ(typing.titleAt(typing.index(0, 0)), name);
    EXPECT_GT(typing.rowCount(typing.index(0, 0)), under.size());
    EXPECT_EQ(typing.data(typing.index(0, 0), Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(typing.checked, under);

    // A new catalogue is filtered afresh, not from the old one's rows.
    Dist::Catalog reversed = catalog;
    std::reverse(reversed.books.begin(), reversed.books.end());
    reversed.books.removeLast();
    typing.setTree(source, QStringLiteral(u"شرح"));
    typing.setTree(DownloadsModel::prepare(reversed), QStringLiteral(u"شرح ا"));
    EXPECT_EQ(shown(typing), expected(reversed, QStringLiteral(u"شرح ا")));
}

TEST(DownloadRunTest, retriesCancelsBetweenBooksAndListsFailures)
{
    QList<Dist::CatBook> books;
    for (int id = 1; id <= 10; ++id)
        books.append(catBook(id, QStringLiteral("b%1").arg(id), 1));
    std::atomic<bool> cancel{false};
    QList<int> pauses;
    QList<std::int64_t> tried;
    // Book 3 fails twice, then succeeds; the cancel pressed during it stops
    // the run after it.
    int failuresOfThree = 0;
    const auto report = DownloadRun::run(
        books,
        [&](const Dist::CatBook& book) {
            tried.append(book.id);
            if (book.id == 3) {
                cancel = true;
                if (failuresOfThree++ < 2)
                    throw Dist::PlatformError(QStringLiteral("timeout"));
            }
        },
        cancel, [&](int ms) { pauses.append(ms); });
    EXPECT_EQ(report.attempted, 3);
    EXPECT_TRUE(report.failures.isEmpty());
    EXPECT_EQ(tried, (QList<std::int64_t>{1, 2, 3, 3, 3}));
    EXPECT_EQ(pauses, (QList<int>{DownloadRun::pauseMs, DownloadRun::pauseMs}));

    cancel = false;
    const auto failing = DownloadRun::run(
        books, [](const Dist::CatBook&) { throw Dist::DistError(QStringLiteral(u"الحزمة لا تطابق الفهرس")); }, cancel,
        [](int) {});
    EXPECT_EQ(failing.attempted, 10);
    ASSERT_EQ(failing.failures.size(), 10);
    EXPECT_EQ(failing.failures[0], QStringLiteral(u"b1: الحزمة لا تطابق الفهرس"));
}

TEST_F(DownloadsWindowTest, filterExpandsGroupsAndAFailedRefreshKeepsTheTree)
{
    writeRelease(4);
    auto w = window(releaseDir.path());
    ASSERT_TRUE(w->catalog());
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral(u"الإصدار ١ – موقَّع ومطابق – ٤ كتب"))) << qPrintable(w->statusText());
    ASSERT_EQ(w->model()->rowCount(), 2);
    EXPECT_FALSE(w->outline()->isExpanded(w->model()->index(0, 0)));

    w->filter()->setText(QStringLiteral(u"مالك 3"));
    ASSERT_EQ(w->model()->rowCount(), 1);
    EXPECT_TRUE(w->outline()->isExpanded(w->model()->index(0, 0)));
    EXPECT_EQ(w->model()->rowCount(w->model()->index(0, 0)), 1);
    w->filter()->setText(QString());
    ASSERT_EQ(w->model()->rowCount(), 2);
    EXPECT_FALSE(w->outline()->isExpanded(w->model()->index(0, 0)));

    QSignalSpy refreshed(w.get(), &DownloadsWindowController::refreshed);
    DownloadsWindowController::setSource(releaseDir.filePath(QStringLiteral("nothing-here")));
    w->refresh();
    ASSERT_TRUE(refreshed.wait(10000));
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral(u"تعذّر: ")));
    EXPECT_EQ(w->model()->rowCount(), 2);
    EXPECT_TRUE(w->catalog());
}

TEST_F(DownloadsWindowTest, runsInstallRetryRecordTheReleaseAndReport)
{
    writeRelease(12, 3);
    test::LoopbackHttpServer server(releaseDir.path());
    ASSERT_TRUE(server.isListening());
    auto w = window(server.url().toString());
    const QList<Dist::CatBook> books = w->catalog()->books;
    QSignalSpy changed(&Notifier::shared(), &Notifier::libraryChanged);

    // An empty list records the release and says so.
    ASSERT_TRUE(runAndWait(*w, {}));
    EXPECT_EQ(w->store()->lastRelease(), 3);
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل: ٠ كتاب"));
    EXPECT_EQ(changed.size(), 1);

    // Two failures, then the package: installed, no failure, two pauses.
    server.forceStatus(QStringLiteral("/b1.qbk"), 500, 2);
    ASSERT_TRUE(runAndWait(*w, {books[0]}));
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل: كتاب واحد"));
    EXPECT_EQ(pauses, (QList<int>{DownloadRun::pauseMs, DownloadRun::pauseMs}));
    EXPECT_TRUE(w->store()->installed().contains(1));
    EXPECT_TRUE(dialogs.requests().isEmpty());

    // An installed, unchanged book never joins a run, even ticked.
    w->model()->checked = {1};
    w->downloadSelected();
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
    EXPECT_EQ(dialogs.requests().last().title, QStringLiteral(u"لا شيء لتنزيله"));
    dialogs.clear();

    // Eleven books that fail: the label counts them all, the alert shows eight.
    for (int id = 2; id <= 12; ++id)
        server.forceStatus(QStringLiteral("/b%1.qbk").arg(id), 404);
    w->model()->checked = {};
    for (int id = 1; id <= 12; ++id)
        w->model()->checked.insert(id);
    QSignalSpy finished(w.get(), &DownloadsWindowController::runFinished);
    w->downloadSelected();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل مع ١١ خطأ"));
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral(u"تعذّر تثبيت بعض الكتب"));
    EXPECT_EQ(alerts[0].text.split(u'\n').size(), DownloadsWindowController::failuresShown);
    EXPECT_TRUE(alerts[0].text.startsWith(books[1].title + QStringLiteral(": ")));
}

// At the quit, a run whose package waits on a silent server ends at once
// instead of after the fetch's two minutes of silence, and the window, gone,
// leaves no thread of its own running as the process ends.
TEST_F(DownloadsWindowTest, theQuitEndsAFetchThatWaitsOnASilentServer)
{
    writeRelease(1);
    test::LoopbackHttpServer server(releaseDir.path());
    ASSERT_TRUE(server.isListening());
    server.stall(QStringLiteral("/b1.qbk"));
    auto w = window(server.url().toString());
    QSignalSpy finished(w.get(), &DownloadsWindowController::runFinished);
    ASSERT_TRUE(w->run(w->catalog()->books));
    ASSERT_EVENTUALLY(server.requests(QStringLiteral("/b1.qbk")) == 1, 20000);
    Dist::abortTransfers();
    const bool ended = finished.wait(20000);
    Dist::abortTransfers(false);
    ASSERT_TRUE(ended);
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل مع خطأ واحد"));
    EXPECT_FALSE(w->store()->installed().contains(1));
    w.reset();
}

TEST_F(DownloadsWindowTest, aRunWhoseWorkerCannotOpenTheStoreSaysItDidNotStart)
{
    writeRelease(1);
    test::LoopbackHttpServer server(releaseDir.path());
    ASSERT_TRUE(server.isListening());
    auto w = window(server.url().toString());
    // The window holds its store open; the worker's own opening then meets
    // a folder where the file was.
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(storePath() + QString::fromLatin1(suffix));
    ASSERT_TRUE(QDir().mkpath(storePath()));
    const bool finished = runAndWait(*w, w->catalog()->books);
    QDir(storePath()).removeRecursively();
    ASSERT_TRUE(finished);
    EXPECT_EQ(w->progressText(), QStringLiteral(u"لم يبدأ التنزيل"));
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral(u"تعذّر بدء التنزيل"));
    EXPECT_TRUE(alerts[0].text.endsWith(storePath()));
}

TEST_F(DownloadsWindowTest, cancelStopsAfterTheBookInHandAndTheWindowStaysResponsive)
{
    writeRelease(10, 2);
    auto w = window(releaseDir.path());
    const QList<Dist::CatBook> books = w->catalog()->books;
    ASSERT_TRUE(w->store());
    auto real = w->installer;
    // Book 3 is held on the worker until the test lets it go, so the cancel
    // is pressed while it is in hand however the threads are scheduled. The
    // state is shared with the detached worker, which may outlive the test.
    struct Hold {
        std::atomic<int> installing{0};
        std::atomic<bool> released{false};
    };
    const auto hold = std::make_shared<Hold>();
    const auto release = qScopeGuard([hold] { hold->released = true; });
    w->installer = [hold, real](LocalStore& store, const Dist::CatBook& book, const Dist::Catalog& catalog,
                                std::int64_t release, const QUrl& base) {
        hold->installing = int(book.id);
        while (book.id == 3 && !hold->released)
            QThread::msleep(1);
        real(store, book, catalog, release, base);
    };
    EXPECT_FALSE(w->stopButton()->isEnabled()); // nothing to stop yet
    ASSERT_TRUE(w->run(books));
    EXPECT_FALSE(w->run(books)); // one run at a time
    EXPECT_TRUE(w->running());
    EXPECT_FALSE(w->removeButton()->isEnabled());
    EXPECT_TRUE(w->stopButton()->isEnabled());
    // A removal while the run writes is refused.
    w->model()->checked = {1};
    EXPECT_FALSE(w->removeChecked());
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
    dialogs.clear();

    // The window shows the book in hand while the worker is inside it: the
    // GUI thread kept turning during the installs.
    ASSERT_EVENTUALLY(hold->installing == 3 && w->progressText().startsWith(QStringLiteral(u"٣ / ١٠: ")), 30000)
        << qPrintable(w->progressText());
    QSignalSpy finished(w.get(), &DownloadsWindowController::runFinished);
    w->cancel();
    hold->released = true;
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل: ٣ كتب"));
    EXPECT_EQ(w->store()->installed().size(), 3);
    EXPECT_EQ(w->store()->lastRelease(), 2);
    EXPECT_TRUE(w->removeButton()->isEnabled());
    EXPECT_FALSE(w->stopButton()->isEnabled()); // the downloads are complete

    // Now the removal goes through.
    ASSERT_TRUE(w->removeChecked());
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_FALSE(w->store()->installed().contains(1));
}

// A stop (the window's cancel, which its end gives too) is taken between two
// books of a removal, never inside one.
TEST_F(DownloadsWindowTest, aRemovalStopsBetweenTwoBooks)
{
    writeRelease(3, 2);
    auto w = window(releaseDir.path());
    ASSERT_TRUE(runAndWait(*w, w->catalog()->books));
    ASSERT_EQ(w->store()->installed().size(), 3);
    auto real = w->remover;
    std::atomic<int> calls = 0;
    w->remover = [&, real](LocalStore& store, std::int64_t id) {
        ++calls;
        w->cancel();
        return real(store, id);
    };
    w->model()->checked = {1, 2, 3};
    QSignalSpy finished(w.get(), &DownloadsWindowController::runFinished);
    ASSERT_TRUE(w->removeChecked());
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(w->store()->installed().size(), 2);
    EXPECT_FALSE(w->running());
}

TEST_F(DownloadsWindowTest, removalRunsOnTheWorkerWithProgressWhileTheWindowTurns)
{
    writeRelease(4, 2);
    auto w = window(releaseDir.path());
    const QList<Dist::CatBook> books = w->catalog()->books;
    ASSERT_TRUE(runAndWait(*w, books));
    ASSERT_EQ(w->store()->installed().size(), 4);
    w->resize(980, 660);
    w->QWidget::show();
    w->outline()->expandAll();

    auto real = w->remover;
    // The second book removed is held on the worker until the window has
    // shown it, so its label and the progress are seen while it is in hand.
    // The state is shared with the worker, which may outlive the test.
    struct Hold {
        std::atomic<int> calls{0};
        std::atomic<bool> released{false};
        QSet<QThread*> removedOn;
    };
    const auto hold = std::make_shared<Hold>();
    const auto release = qScopeGuard([hold] { hold->released = true; });
    // Book 4 cannot be removed (a store that refuses the write, say).
    w->remover = [hold, real](LocalStore& store, std::int64_t id) {
        hold->removedOn.insert(QThread::currentThread());
        const int call = ++hold->calls;
        while (call == 2 && !hold->released)
            QThread::msleep(1);
        return id != 4 && real(store, id);
    };
    w->model()->checked = {1, 3, 4};
    QSignalSpy finished(w.get(), &DownloadsWindowController::runFinished);
    ASSERT_TRUE(w->removeChecked());
    EXPECT_TRUE(w->running());
    EXPECT_FALSE(w->removeButton()->isEnabled());
    EXPECT_FALSE(w->run(books)); // no install while books are removed

    // The GUI thread keeps turning while the worker removes: the book in
    // hand is named as an install names it, after the first one's progress.
    const QString second = QStringLiteral(u"%1 / %2: ").arg(Arabic::num(2), Arabic::num(3));
    ASSERT_EVENTUALLY(hold->calls == 2 && w->progressText().startsWith(second) && w->progress()->value() > 0, 30000)
        << qPrintable(w->progressText());
    EXPECT_TRUE(w->progressText().contains(QRegularExpression(QStringLiteral(u": كتاب الحديث رقم [134]$"))))
        << qPrintable(w->progressText());
    EXPECT_TRUE(w->running());
    const QImage during = w->grab().toImage();
    hold->released = true;
    ASSERT_TRUE(finished.wait(30000));

    ASSERT_EQ(hold->removedOn.size(), 1);
    EXPECT_NE(*hold->removedOn.begin(), QCoreApplication::instance()->thread());
    // What was removed is counted, and what was not is said.
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل الحذف: كتابان، وتعذّر حذف كتاب واحد"));
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral(u"تعذّر حذف بعض الكتب"));
    EXPECT_EQ(alerts[0].text, w->catalog()->books[3].title);
    dialogs.clear();
    EXPECT_EQ(w->store()->installed().keys().size(), 2);
    EXPECT_TRUE(w->store()->installed().contains(2));
    EXPECT_TRUE(w->store()->installed().contains(4));
    EXPECT_FALSE(w->running());
    EXPECT_TRUE(w->removeButton()->isEnabled());
    EXPECT_TRUE(during.save(QCoreApplication::applicationDirPath() + QStringLiteral("/downloads-removing.png"), "PNG"));

    // A store the removal cannot open is an alert, not a removal of nothing.
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(storePath() + QString::fromLatin1(suffix));
    ASSERT_TRUE(QDir().mkpath(storePath()));
    w->model()->checked = {2};
    ASSERT_TRUE(w->removeChecked());
    const bool ended = finished.wait(30000);
    QDir(storePath()).removeRecursively();
    ASSERT_TRUE(ended);
    EXPECT_EQ(w->progressText(), QStringLiteral(u"لم يبدأ الحذف"));
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[0].title, QStringLiteral(u"تعذّر بدء الحذف"));
}

TEST_F(DownloadsWindowTest, aRemovalRecountsTheStatusAndUnticksTheRemovedBooksGroup)
{
    writeRelease(3);
    auto w = window(releaseDir.path());
    ASSERT_TRUE(runAndWait(*w, w->catalog()->books));
    const QString installed = QStringLiteral(u") · المثبّت ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->statusText().endsWith(installed + Arabic::num(3)); }, 10000))
        << qPrintable(w->statusText());

    // Book 1 shares its group with book 3, which stays unticked.
    w->model()->checked = {1};
    QSignalSpy finished(w.get(), &DownloadsWindowController::runFinished);
    ASSERT_TRUE(w->removeChecked());
    ASSERT_TRUE(finished.wait(30000));
    ASSERT_FALSE(w->store()->installed().contains(1));
    EXPECT_TRUE(w->statusText().endsWith(installed + Arabic::num(2))) << qPrintable(w->statusText());
    EXPECT_TRUE(w->model()->checked.isEmpty());
    for (int r = 0; r < w->model()->rowCount(); ++r) {
        const QModelIndex group = w->model()->index(r, DownloadsModel::TitleColumn);
        EXPECT_EQ(w->model()->data(group, Qt::CheckStateRole).toInt(), int(Qt::Unchecked)) << qPrintable(w->model()->titleAt(group));
    }
}

TEST_F(DownloadsWindowTest, runsBuildThePageVectorsOnTheWorkerAndTheSharedIndexReloads)
{
    // The test's own smart folder starts without vectors.
    ASSERT_TRUE(QDir(SmartBuild::dir()).entryList(QDir::Files).isEmpty());
    writeRelease(3, 4, addWordModel());
    auto w = window(releaseDir.path());
    ASSERT_TRUE(w->catalog() && w->catalog()->smart);
    const std::shared_ptr<Library> lib = Library::open(storePath());
    ASSERT_TRUE(lib);
    Library::setShared(lib);
    SharedMeaningIndex::reset();
    struct Forget {
        ~Forget()
        {
            Library::setShared(nullptr);
            SharedMeaningIndex::reset();
        }
    } forget;
    EXPECT_FALSE(SharedMeaningIndex::index()); // nothing built yet, and that failure is remembered

    QThread* builtOn = nullptr;
    auto real = w->vectorBuilder;
    w->vectorBuilder = [&](const QString& path, const std::function<void(double)>& progress) {
        builtOn = QThread::currentThread();
        return real(path, progress);
    };
    const QList<Dist::CatBook> books = w->catalog()->books;
    ASSERT_TRUE(runAndWait(*w, {books[0], books[1]}));
    EXPECT_TRUE(dialogs.requests().isEmpty());
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل: كتابان"));
    ASSERT_NE(builtOn, nullptr);
    EXPECT_NE(builtOn, QCoreApplication::instance()->thread());
    EXPECT_TRUE(SmartBuild::hasModel());
    // The run forgot the index, so the next use loads the new vectors.
    const auto index = SharedMeaningIndex::index();
    ASSERT_TRUE(index);
    std::vector<std::int64_t> ids = index->ids();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1001, 1002, 2001, 2002}));
}

TEST_F(DownloadsWindowTest, theMeaningStageReportsProgressWhileTheWindowTurnsAndItsFailure)
{
    writeRelease(2, 5, addWordModel());
    auto w = window(releaseDir.path());
    const QList<Dist::CatBook> books = w->catalog()->books;
    int fetched = 0;
    int built = 0;
    w->modelFetcher = [&](const SmartBuild::Pack&, const QUrl&) { ++fetched; };
    // The build holds until the window has shown its progress (a fraction no
    // book count gives).
    std::atomic<bool> seen{false};
    w->vectorBuilder = [&](const QString& path, const std::function<void(double)>& progress) {
        ++built;
        EXPECT_EQ(path, storePath());
        progress(0.37);
        for (int i = 0; i < 1000 && !seen; ++i)
            QThread::msleep(10);
        return std::int64_t(4);
    };
    QStringList labels;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (w->progress()->value() == 370 && w->running()) {
            labels << w->progressText();
            seen = true;
        }
    });
    timer.start(5);
    ASSERT_TRUE(runAndWait(*w, books));
    timer.stop();
    EXPECT_TRUE(seen);
    EXPECT_EQ(labels.value(0), QStringLiteral(u"تجهيز البحث بالمعنى…"));
    EXPECT_EQ(fetched, 1);
    EXPECT_EQ(built, 1);
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل: كتابان"));
    // The builder's last report was 37%; a finished run shows its bar full.
    EXPECT_EQ(w->progress()->value(), w->progress()->maximum());

    // No book attempted: no meaning stage.
    ASSERT_TRUE(runAndWait(*w, {}));
    EXPECT_EQ(fetched, 1);

    // A model that cannot be fetched: no build, and the failure is listed.
    w->modelFetcher = [&](const SmartBuild::Pack&, const QUrl&) {
        ++fetched;
        throw Dist::DistError(QStringLiteral(u"تعذّر جلب wordvec.npy"));
    };
    ASSERT_TRUE(runAndWait(*w, {books[0]}));
    EXPECT_EQ(fetched, 2);
    EXPECT_EQ(built, 1);
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل مع خطأ واحد"));
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].text, QStringLiteral(u"البحث بالمعنى: تعذّر جلب wordvec.npy"));
}

TEST_F(DownloadsWindowTest, aFailedRewriteOfTheStoredSearchFormsIsReportedWithTheRun)
{
    writeRelease(2);
    auto w = window(releaseDir.path());
    const QList<Dist::CatBook> books = w->catalog()->books;
    ASSERT_TRUE(runAndWait(*w, {books[0]}));
    ASSERT_TRUE(dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty());

    // A page stored under the rules of before, which the current rules write
    // otherwise, and a store that refuses the rewrite.
    SQLiteDB& db = w->store()->db();
    ASSERT_TRUE(db.run(QStringLiteral("UPDATE pages SET content = content || char(1620), content_norm = 'x' "
                                      "WHERE id = (SELECT min(id) FROM pages)")));
    ASSERT_TRUE(db.run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES('norm_version', '1')")));
    ASSERT_TRUE(db.run(QStringLiteral("CREATE TRIGGER refuse_forms BEFORE UPDATE OF content_norm ON pages "
                                      "BEGIN SELECT RAISE(ABORT, 'refused'); END")));
    ASSERT_TRUE(runAndWait(*w, {books[1]}));
    EXPECT_TRUE(w->store()->installed().contains(books[1].id));
    EXPECT_EQ(w->progressText(), QStringLiteral(u"اكتمل مع خطأ واحد"));
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral(u"تعذّر تثبيت بعض الكتب"));
    EXPECT_TRUE(alerts[0].text.startsWith(QStringLiteral(u"صيغ البحث في الكتب المثبتة: تعذّر التثبيت")))
        << alerts[0].text.toStdString();
}

TEST_F(DownloadsWindowTest, pictureOfTheWindowOverTheSampleRelease)
{
    const QString sample = QStringLiteral(QUORVEL_SAMPLE_RELEASE);
    if (!QFileInfo::exists(sample + QStringLiteral("/index.json")))
        GTEST_SKIP() << "the sample release is not built";
    // The sample release is signed with the build's own key.
    Dist::overridePublicKey({});
    auto w = window(sample);
    ASSERT_TRUE(w->catalog());
    w->model()->checked = {7, 15};
    w->resize(980, 660);
    w->QWidget::show();
    w->outline()->expandAll();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    const QImage shot = w->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/downloads.png");
    ASSERT_TRUE(shot.save(file, "PNG"));
    EXPECT_EQ(QImage(file).size(), w->size() * shot.devicePixelRatio());
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 5)
        for (int x = 0; x < shot.width(); x += 5)
            colours.insert(shot.pixel(x, y));
    EXPECT_GT(colours.size(), 24);
    EXPECT_EQ(w->model()->rowCount(), 13);
    // Every button of the window shows its symbol, and so does every row.
    const auto buttons = w->findChildren<QPushButton*>();
    EXPECT_GE(buttons.size(), 7);
    for (const QPushButton* button : buttons)
        EXPECT_FALSE(button->icon().isNull()) << button->text().toStdString();
    const QModelIndex group = w->model()->index(0, 0);
    EXPECT_FALSE(w->model()->data(group, Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(w->model()->data(w->model()->index(0, 0, group), Qt::DecorationRole).value<QIcon>().isNull());
}
