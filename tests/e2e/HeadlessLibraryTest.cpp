// The built executable's headless modes and start-up against libraries that
// are missing, empty, growing while in use or on read-only media, and with no
// display at all.

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "support/FixtureLibrary.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using quorvel::Json::Value;

namespace {

constexpr int kTimeoutMs = 120000;
// The unprivileged account a root test run borrows, for whom permissions bind.
constexpr uid_t kNobody = 65534;

const char* const kMissingLibrary = "لم يُعثر على قاعدة المكتبة quorvel.db ولا على كتب في library.db. ضع quorvel.db في ";

std::string toolCall(int id, const std::string& tool, const Value& arguments)
{
    return quorvel::Json::dump(Value{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"},
                                     {"params", Value{{"name", tool}, {"arguments", arguments}}}});
}

// A "--mcp" server driven one request at a time.
class Server {
public:
    explicit Server(const QProcessEnvironment& env)
    {
        process_.setProcessEnvironment(env);
        process_.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--mcp")});
        EXPECT_TRUE(process_.waitForStarted());
    }
    ~Server()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(kTimeoutMs))
            process_.kill();
    }

    // The tool result of one call: its error flag and its text.
    std::pair<bool, std::string> call(const std::string& tool, const Value& arguments)
    {
        const std::string line = toolCall(++id_, tool, arguments) + "\n";
        process_.write(line.data(), qint64(line.size()));
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(kTimeoutMs))
                return {true, "no reply"};
        const auto reply = quorvel::Json::parse(process_.readLine());
        if (!reply || !reply->contains("result"))
            return {true, "not a tool result"};
        const Value& result = reply->at("result");
        return {result.at("isError").get<bool>(), result.at("content").at(0).at("text").get<std::string>()};
    }

    QString diagnostics() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
    int id_ = 0;
};

QProcessEnvironment libraryEnvironment(const QString& db, const QString& libdb)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QUORVEL_DB"));
    if (!db.isEmpty())
        env.insert(QStringLiteral("QUORVEL_DB"), db);
    env.insert(QStringLiteral("QUORVEL_LIBDB"), libdb);
    return env;
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

// A mistyped QUORVEL_DB must not become a new empty store that tells the
// client the books lack every word: no store is made, and the missing-library
// answer comes back. An empty library gives the same answer.
TEST(HeadlessLibrary, mcpWithoutBooksSaysTheLibraryIsMissing)
{
    QTemporaryDir dir;
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    {
        Server server(libraryEnvironment(QStringLiteral("/nope"), libdb));
        const auto [isError, text] = server.call("search_library", Value{{"query", "الصلاة"}});
        EXPECT_TRUE(isError);
        EXPECT_TRUE(startsWith(text, kMissingLibrary)) << text;
    }
    EXPECT_FALSE(QFile::exists(libdb));

    const QString empty = quorvel::test::FixtureLibrary::custom(dir.path(), QStringLiteral("library.db"), {});
    ASSERT_FALSE(empty.isEmpty());
    Server server(libraryEnvironment(empty, libdb));
    const std::pair<const char*, Value> calls[] = {{"search_library", Value{{"query", "الصلاة"}}},
                                                   {"list_books", Value::object()}};
    for (const auto& [tool, arguments] : calls) {
        const auto [isError, text] = server.call(tool, arguments);
        EXPECT_TRUE(isError) << tool;
        EXPECT_TRUE(startsWith(text, kMissingLibrary)) << tool << ": " << text;
    }
}

// A book committed to the library while the server runs is listed, opened and
// found by the next calls, not only counted.
TEST(HeadlessLibrary, mcpSeesABookInstalledWhileItRuns)
{
    QTemporaryDir dir;
    const QString db = quorvel::test::FixtureLibrary::build(dir.path());
    ASSERT_FALSE(db.isEmpty());
    Server server(libraryEnvironment(db, dir.filePath(QStringLiteral("library.db"))));
    const std::string word = "الزمهرير";
    ASSERT_FALSE(server.call("list_books", Value::object()).first);

    {
        auto writer = quorvel::SQLiteDB::open(db, false);
        ASSERT_TRUE(writer);
        const QString content = QStringLiteral("باب ذكر الزمهرير في الشتاء");
        const QString norm = quorvel::Arabic::normalize(content, true);
        ASSERT_TRUE(writer->exec(QStringLiteral("BEGIN")));
        ASSERT_TRUE(writer->run(QStringLiteral("INSERT INTO books(id, title) VALUES(50, 'كتاب الشتاء')")));
        ASSERT_TRUE(writer->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content, content_norm) "
                                               "VALUES(5001, 50, 1, ?, ?)"),
                                {content, norm}));
        ASSERT_TRUE(writer->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) "
                                               "VALUES(5001, ?, 5001, 50)"),
                                {norm}));
        ASSERT_TRUE(writer->exec(QStringLiteral("COMMIT")));
    }

    const auto [bookError, book] = server.call("get_book", Value{{"book_id", 50}});
    EXPECT_FALSE(bookError) << book;
    const auto [searchError, found] = server.call("search_library", Value{{"query", word}});
    ASSERT_FALSE(searchError) << found;
    const auto result = quorvel::Json::parse(found);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->at("results").size(), 1u) << found;
    EXPECT_EQ(result->at("results")[0].at("book_id"), 50);
}

// A library in a read-only folder, itself read-only, cannot have the
// shared-memory file of its write-ahead log made beside it; it still opens.
// Root ignores permissions, so a root run reads it as an unprivileged user.
TEST(HeadlessLibrary, aReadOnlyLibraryStillOpens)
{
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString shelf = dir.filePath(QStringLiteral("shelf"));
    const QString db = quorvel::test::FixtureLibrary::build(shelf, {}, QStringLiteral("library.db"));
    ASSERT_FALSE(db.isEmpty());
    {
        // A writer's close removes the shared-memory file a reader's would leave.
        auto check = quorvel::SQLiteDB::open(db, false);
        ASSERT_EQ(check->rows(QStringLiteral("PRAGMA journal_mode")).value(0).str(0), QStringLiteral("wal"));
    }
    ASSERT_FALSE(QFile::exists(db + QStringLiteral("-shm")));
    const QString sandbox = dir.filePath(QStringLiteral("sandbox"));
    ASSERT_TRUE(QDir().mkpath(sandbox));
    ASSERT_EQ(::chmod(QFile::encodeName(sandbox).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(db).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(shelf).constData(), 0555), 0);

    QProcess search;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_USERDB"), sandbox + QStringLiteral("/user.db"));
    search.setProcessEnvironment(env);
    search.setChildProcessModifier([] {
        if (::geteuid() == 0) {
            ::setgroups(0, nullptr);
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(97);
        }
    });
    search.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--search-cli"), QStringLiteral("--db"), db,
                                                  QStringLiteral("--q"), QStringLiteral(R"({"andPhrases":["الصلاة"]})")});
    ASSERT_TRUE(search.waitForFinished(kTimeoutMs));
    const QByteArray err = search.readAllStandardError();
    EXPECT_EQ(search.exitCode(), 0) << err.toStdString();
    const auto line = quorvel::Json::parse(search.readAllStandardOutput().split('\n').first());
    ASSERT_TRUE(line && line->contains("count")) << err.toStdString();
    EXPECT_GT(line->at("count").get<int>(), 0);
    EXPECT_FALSE(QFile::exists(db + QStringLiteral("-shm")));
    ::chmod(QFile::encodeName(shelf).constData(), 0755);
}

// Without a display the window cannot start: one clear line and status 1,
// not the toolkit's abort. "--ai" with too few operands falls to the window.
TEST(HeadlessLibrary, windowStartWithoutADisplayExplainsAndExits)
{
    QTemporaryDir dir;
    QProcessEnvironment env = libraryEnvironment(QStringLiteral("/nope"), dir.filePath(QStringLiteral("library.db")));
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    for (const QStringList& arguments : {QStringList{}, QStringList{QStringLiteral("--ai"), QStringLiteral("auto")}}) {
        QProcess window;
        window.setProcessEnvironment(env);
        window.start(QStringLiteral(QUORVEL_BINARY), arguments);
        ASSERT_TRUE(window.waitForFinished(kTimeoutMs));
        EXPECT_EQ(window.exitStatus(), QProcess::NormalExit) << arguments.join(u' ').toStdString();
        EXPECT_EQ(window.exitCode(), 1);
        const QStringList lines =
            QString::fromUtf8(window.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
        EXPECT_TRUE(lines.first().contains(QStringLiteral("README"))) << lines.first().toStdString();
        EXPECT_TRUE(window.readAllStandardOutput().isEmpty());
    }
}
