#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quorvel;
namespace Fixture = quorvel::test::FixtureLibrary;
using quorvel::test::ScopedEnv;

namespace {

// A library over the tests/data corpus (books 1, 2, 3) with a user database
// of its own.
struct UserData : ::testing::Test {
    QTemporaryDir dir;
    std::optional<ScopedEnv> userDb;
    std::shared_ptr<Library> lib;
    int notices = 0;
    QMetaObject::Connection connection;

    void SetUp() override
    {
        userDb.emplace("QUORVEL_USERDB", dir.filePath("user.db"));
        lib = Library::open(Fixture::build(dir.path()));
        ASSERT_TRUE(lib);
        connection = QObject::connect(&Notifier::shared(), &Notifier::userDataChanged,
                                      [this] { ++notices; });
    }
    void TearDown() override { QObject::disconnect(connection); }

    // The number of notices the call posted.
    int posted(const std::function<void()>& call)
    {
        const int before = notices;
        call();
        return notices - before;
    }
};

} // namespace

TEST_F(UserData, noticeIsPostedExactlyByTheListWritingOperations)
{
    EXPECT_EQ(posted([&] { lib->addFolder("f"); }), 1);
    EXPECT_EQ(posted([&] { lib->setFavorite(1, true, 0); }), 1);
    EXPECT_EQ(posted([&] { lib->setFavorite(1, false, 0); }), 1);
    EXPECT_EQ(posted([&] { lib->saveNote(1, 2, "n"); }), 1);
    EXPECT_EQ(posted([&] { lib->saveNote(1, 3, "   \n"); }), 1); // nothing written
    EXPECT_EQ(posted([&] { lib->toggleBookmark(1, 2); }), 1);
    EXPECT_EQ(posted([&] { lib->saveScope("s", {1}); }), 1);
    EXPECT_EQ(posted([&] { lib->deleteScope(1); }), 1);
    EXPECT_EQ(posted([&] { lib->addHistory("t", "{}", 1); }), 1);
    EXPECT_EQ(posted([&] { lib->saveResults("r", "{}", {1}); }), 1);
    EXPECT_EQ(posted([&] { lib->setIgnoredBooks({2}); }), 1);

    EXPECT_EQ(posted([&] { lib->setLastViewed(1, 5); }), 0);
    EXPECT_EQ(posted([&] { lib->setKV("k", "v"); }), 0);
    EXPECT_EQ(posted([&] { lib->setTashkeel(1, false); }), 0);
    EXPECT_EQ(posted([&] { lib->addCorrection(1, 2, "typo", "x"); }), 0);
    EXPECT_EQ(posted([&] {
                  lib->notes(std::nullopt);
                  lib->bookmarks();
                  lib->history();
                  lib->ignoredBooks();
              }),
              0);
}

TEST_F(UserData, recentBooksCountRemovedBooksAgainstTheLimit)
{
    EXPECT_EQ(Library::defaultRecentLimit, 60);
    for (int book = 1; book <= 70; ++book)
        lib->setLastViewed(book, book * 10);
    lib->setLastViewed(2, 7);
    EXPECT_EQ(lib->lastViewed(2), 7);
    EXPECT_FALSE(lib->lastViewed(500));
    // All 70 stamped alike (the clock may have ticked meanwhile); the table
    // is keyed by book id, so ties order by it, highest first. Books 4..70
    // are not in the catalogue: 70..11 fill the 60 rows and none of the
    // catalogue's books comes back.
    ASSERT_TRUE(lib->user().run("UPDATE last_viewed SET ts = 1000"));
    EXPECT_TRUE(lib->recentBooks().isEmpty());
    const auto all = lib->recentBooks(70);
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0].bookId, 3);
    EXPECT_EQ(all[1].bookId, 2);
    EXPECT_EQ(all[1].seq, 7);

    // A newer stamp moves a book to the front.
    lib->user().run("UPDATE last_viewed SET ts = ts - 100 WHERE book_id <> 1");
    EXPECT_EQ(lib->recentBooks(1).value(0).bookId, 1);
}

TEST_F(UserData, foldersAndFavourites)
{
    ASSERT_EQ(lib->folders().size(), 1);
    EXPECT_EQ(lib->folders()[0].id, 0);
    EXPECT_EQ(lib->folders()[0].name, QString::fromUtf8("المفضّلة"));
    const auto a = lib->addFolder("a");
    const auto b = lib->addFolder("b");
    EXPECT_NE(a, b);
    ASSERT_EQ(lib->folders().size(), 3);
    EXPECT_EQ(lib->folders()[1].name, "a");
    EXPECT_EQ(lib->folders()[2].id, b);

    lib->setFavorite(1, true, a);
    lib->setFavorite(2, true, a);
    lib->setFavorite(1, true, b);
    lib->setFavorite(99, true, a); // not in the catalogue: stored, never listed
    EXPECT_EQ(lib->favorites(a), (QList<std::int64_t>{2, 1}));
    EXPECT_TRUE(lib->isFavorite(1));
    // Removing with any folder number removes the book from every folder.
    lib->setFavorite(1, false, 12345);
    EXPECT_FALSE(lib->isFavorite(1));
    EXPECT_EQ(lib->favorites(a), (QList<std::int64_t>{2}));
    EXPECT_TRUE(lib->favorites(b).isEmpty());
}

TEST_F(UserData, notesAreTrimmedUpdatedAndDeleted)
{
    lib->saveNote(1, 5, "  first\n");
    auto n = lib->note(1, 5);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text, "first");
    EXPECT_EQ(n->bookId, 1);
    EXPECT_EQ(n->seq, 5);
    EXPECT_FALSE(lib->note(1, 6));

    lib->saveNote(1, 3, "earlier page");
    lib->saveNote(2, 1, "other book");
    EXPECT_EQ(lib->notes(1).size(), 2);
    EXPECT_EQ(lib->notes(1).first().seq, 3);

    // An edit takes the current time, so the edited note lists first.
    lib->user().run("UPDATE notes SET ts = ts - 1000");
    lib->saveNote(1, 5, "edited");
    const auto all = lib->notes(std::nullopt);
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all.first().text, "edited");
    EXPECT_EQ(all.first().id, n->id);

    lib->saveNote(1, 5, " \n\t ");
    EXPECT_FALSE(lib->note(1, 5));
    lib->saveNote(1, 9, " \n ");
    EXPECT_FALSE(lib->note(1, 9));
    EXPECT_EQ(lib->notes(std::nullopt).size(), 2);

    // A page left with two rows (by two processes that both inserted) reads
    // as one note, line by line, nothing dropped, is listed once, and its
    // next save leaves one row; emptied, it leaves none.
    const auto rowsOf = [&](std::int64_t seq) {
        return lib->user().scalarInt("SELECT COUNT(*) FROM notes WHERE book_id=1 AND seq=?", {seq});
    };
    ASSERT_TRUE(lib->user().run("INSERT INTO notes(book_id, seq, text, ts) VALUES(1, 7, 'one\ntwo', 1)"));
    ASSERT_TRUE(lib->user().run("INSERT INTO notes(book_id, seq, text, ts) VALUES(1, 7, 'two\nthree\none', 2)"));
    const auto both = lib->note(1, 7);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->text, "one\ntwo\nthree");
    EXPECT_EQ(lib->notes(1).size(), 2);
    EXPECT_EQ(lib->notes(std::nullopt).size(), 3);
    EXPECT_TRUE(lib->saveNote(1, 7, both->text + "\nfour", both->text));
    EXPECT_EQ(rowsOf(7), 1);
    EXPECT_EQ(lib->note(1, 7).value_or(Note{}).text, "one\ntwo\nthree\nfour");
    ASSERT_TRUE(lib->user().run("INSERT INTO notes(book_id, seq, text, ts) VALUES(1, 7, 'five', 3)"));
    EXPECT_TRUE(lib->saveNote(1, 7, ""));
    EXPECT_EQ(rowsOf(7), 0);
}

// A save that cannot take the write lock (another process holds it past
// the wait) writes nothing, says why, and leaves the user data usable.
TEST_F(UserData, aSaveThatCannotTakeTheLockSaysWhyAndChangesNothing)
{
    ASSERT_TRUE(lib->saveNote(1, 5, "kept"));
    const auto other = SQLiteDB::open(dir.filePath("user.db"), false);
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->exec("BEGIN IMMEDIATE"));
    SQLFailure why;
    EXPECT_FALSE(lib->saveNote(1, 5, "kept\nmore", QString("kept"), &why));
    EXPECT_EQ(why.kind, SQLFailure::Kind::busy);
    ASSERT_TRUE(other->exec("ROLLBACK"));
    EXPECT_EQ(lib->note(1, 5).value_or(Note{}).text, "kept");
    EXPECT_FALSE(lib->userDataFault());
    EXPECT_TRUE(lib->saveNote(1, 5, "kept\nmore", QString("kept")));
    EXPECT_EQ(lib->note(1, 5).value_or(Note{}).text, "kept\nmore");
}

TEST_F(UserData, bookmarksToggleAndSkipRemovedBooks)
{
    lib->toggleBookmark(1, 4);
    lib->toggleBookmark(2, 8);
    lib->toggleBookmark(77, 1);
    EXPECT_TRUE(lib->isBookmarked(1, 4));
    const auto marks = lib->bookmarks();
    ASSERT_EQ(marks.size(), 2);
    EXPECT_EQ(marks[0].bookId, 2); // same second: the later insertion first
    EXPECT_EQ(marks[1].seq, 4);
    lib->toggleBookmark(1, 4);
    EXPECT_FALSE(lib->isBookmarked(1, 4));
    EXPECT_EQ(lib->bookmarks().size(), 1);
    // The one on a book not installed is kept, and listed among all.
    EXPECT_EQ(lib->allBookmarks().size(), 2);
    EXPECT_EQ(lib->allBookmarks().first().bookId, 77);
}

TEST_F(UserData, historyKeepsTheNewestEntriesEvenWithinOneSecond)
{
    for (int i = 1; i <= 301; ++i)
        lib->addHistory(QString::number(i), "{\"q\":1}", i);
    const auto history = lib->history();
    ASSERT_EQ(history.size(), Library::historyLimit);
    EXPECT_EQ(history.first().title, "301");
    EXPECT_EQ(history.last().title, "2");
    EXPECT_EQ(history.first().json, "{\"q\":1}");
    EXPECT_EQ(history.first().count, 301);
}

TEST_F(UserData, scopesSavedResultsAndIdLists)
{
    EXPECT_EQ(Library::parseIds(",12,,x,7"), (QList<std::int64_t>{12, 7}));
    EXPECT_EQ(Library::parseIds("+3,-4, 5,9x"), (QList<std::int64_t>{3, -4}));
    // A piece past 64 bits or in other digits names no id rather than a wrapped one.
    EXPECT_EQ(Library::parseIds(QString::fromUtf8("99999999999999999999,٧,-9223372036854775808")),
              (QList<std::int64_t>{std::numeric_limits<std::int64_t>::min()}));
    lib->saveScope("s", {3, 1, 2});
    lib->saveScope("s", {});
    const auto scopes = lib->scopes();
    ASSERT_EQ(scopes.size(), 2);
    EXPECT_TRUE(scopes[0].bookIds.isEmpty());
    EXPECT_EQ(scopes[1].bookIds, (QList<std::int64_t>{3, 1, 2}));
    EXPECT_EQ(lib->user().rows("SELECT book_ids FROM scopes WHERE id=?", {scopes[1].id})
                  .first()
                  .str(0),
              "3,1,2");
    lib->deleteScope(scopes[1].id);
    EXPECT_EQ(lib->scopes().size(), 1);

    lib->saveResults("r", "{}", {41, 42});
    const auto saved = lib->savedResults();
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0].pageIds, (QList<std::int64_t>{41, 42}));
    EXPECT_EQ(saved[0].json, "{}");
}

TEST_F(UserData, keyValueStoreIgnoredBooksAndTashkeel)
{
    EXPECT_FALSE(lib->kv("missing"));
    lib->setKV("session", QString::fromUtf8("{\"tabs\":[\"كتاب\"]}"));
    lib->setKV("session", QString::fromUtf8("{\"tabs\":[]}"));
    EXPECT_EQ(lib->kv("session"), QString::fromUtf8("{\"tabs\":[]}"));

    EXPECT_TRUE(lib->ignoredBooks().isEmpty());
    lib->setIgnoredBooks({9, 3, 12});
    EXPECT_EQ(lib->kv("ignored"), "3,9,12");
    EXPECT_EQ(lib->ignoredBooks(), (QSet<std::int64_t>{3, 9, 12}));

    const bool global = Settings::showTashkeel();
    Settings::setShowTashkeel(false);
    EXPECT_FALSE(lib->tashkeel(1));
    Settings::setShowTashkeel(true);
    EXPECT_TRUE(lib->tashkeel(1));
    lib->setTashkeel(1, false);
    EXPECT_FALSE(lib->tashkeel(1));
    lib->setTashkeel(2, true);
    Settings::setShowTashkeel(false);
    EXPECT_TRUE(lib->tashkeel(2));
    Settings::setShowTashkeel(global);

    lib->addCorrection(0, 0, "other", "no page");
    EXPECT_EQ(lib->user().scalarInt("SELECT COUNT(*) FROM corrections WHERE book_id=0"), 1);
}

TEST_F(UserData, twoThreadsWritingNotesLoseNothing)
{
    constexpr int perThread = 150;
    auto writer = [&](std::int64_t book) {
        for (int seq = 1; seq <= perThread; ++seq)
            lib->saveNote(book, seq, QString("note %1").arg(seq));
    };
    std::thread a(writer, 1);
    std::thread b(writer, 2);
    a.join();
    b.join();
    EXPECT_EQ(lib->notes(1).size(), perThread);
    EXPECT_EQ(lib->notes(2).size(), perThread);
    EXPECT_EQ(lib->note(2, perThread)->text, QString("note %1").arg(perThread));
}

TEST_F(UserData, committedChangesSurviveAKilledWriter)
{
    const QString libraryPath = lib->dbPath();
    lib.reset();
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        auto writerLib = Library::open(libraryPath);
        if (!writerLib)
            _exit(3);
        for (std::int32_t seq = 1; seq < 1000000; ++seq) {
            writerLib->saveNote(1, seq, QString("committed %1").arg(seq));
            writerLib->toggleBookmark(2, seq);
            // Only a write that returned is reported as committed.
            if (write(pipeFds[1], &seq, sizeof seq) != sizeof seq)
                _exit(4);
        }
        _exit(0);
    }
    close(pipeFds[1]);
    std::int32_t acknowledged = 0;
    std::int32_t value = 0;
    // A writer that stops answering fails the test instead of hanging it.
    constexpr int answerTimeoutMs = 30000;
    pollfd watch{pipeFds[0], POLLIN, 0};
    while (acknowledged < 300 && poll(&watch, 1, answerTimeoutMs) == 1
           && read(pipeFds[0], &value, sizeof value) == sizeof value)
        acknowledged = value;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself with " << status;
    ASSERT_GE(acknowledged, 300);

    auto reopened = Library::open(libraryPath);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->user().rows("PRAGMA integrity_check").value(0).str(0), "ok");
    EXPECT_EQ(reopened->user().rows("PRAGMA journal_mode").value(0).str(0), "wal");
    const auto notes = reopened->notes(1);
    EXPECT_GE(notes.size(), acknowledged);
    for (std::int32_t seq = 1; seq <= acknowledged; ++seq) {
        const auto n = reopened->note(1, seq);
        ASSERT_TRUE(n) << "note " << seq << " lost";
        EXPECT_EQ(n->text, QString("committed %1").arg(seq));
        EXPECT_TRUE(reopened->isBookmarked(2, seq)) << "bookmark " << seq << " lost";
    }
}

// A user database that cannot be made under a file-size limit lets the
// library open and read as empty: the fault is kept and said once, in
// Arabic, never as a line of SQL per statement.
TEST(UserDataUnmade, aFileSizeLimitIsSaidOnceNotStatementByStatement)
{
    QTemporaryDir dir;
    const QString library = Fixture::build(dir.path());
    // The library's own files are opened before the limit, as by a running window.
    const auto opened = SQLiteDB::open(library, true);
    ASSERT_TRUE(opened && opened->exec(QStringLiteral("SELECT 1 FROM sqlite_master LIMIT 1")));
    ScopedEnv userDb("QUORVEL_USERDB", dir.filePath("limited/user.db"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("limited")));
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 8192;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    testing::internal::CaptureStderr();
    std::shared_ptr<Library> lib = Library::open(library);
    if (lib) {
        lib->notes(std::nullopt);
        lib->bookmarks();
        lib->isBookmarked(1, 1);
        lib->kv(QStringLiteral("k"));
        lib->history();
    }
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(lib) << said.toStdString();
    EXPECT_TRUE(lib->userDataFault());
    EXPECT_FALSE(said.contains(QStringLiteral("SQL error"))) << said.toStdString();
    EXPECT_EQ(said.count(u'\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(QChar(0x0644))) << said.toStdString(); // an Arabic line
    EXPECT_TRUE(lib->notes(std::nullopt).isEmpty());
}
