// The built executable in "--mcp" mode, driven through a pipe as an outside
// client drives it.

#include "core/Json.h"
#include "support/FixtureLibrary.h"
#include "support/ReferenceLibrary.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

using quorvel::Json::Value;

namespace {

constexpr int kProcessTimeoutMs = 120000;

struct Session {
    std::vector<Value> replies; // stdout, one parsed line each
    QString diagnostics;        // stderr
    int exitCode = -1;
    bool allLinesJson = true;
};

// Runs "quorvel --mcp" with the given extra environment (less the variables
// named in `without`), writes the lines and closes its input, then collects
// what it printed.
Session runServer(const std::vector<std::string>& lines, const QProcessEnvironment& extra = {},
                  const QStringList& without = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : without)
        env.remove(key);
    env.insert(extra);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--mcp")});
    EXPECT_TRUE(process.waitForStarted());
    for (const std::string& line : lines) {
        process.write(line.data(), static_cast<qint64>(line.size()));
        process.write("\n");
    }
    while (process.bytesToWrite() > 0 && process.waitForBytesWritten(kProcessTimeoutMs)) {
    }
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(kProcessTimeoutMs));

    Session session;
    session.exitCode = process.exitCode();
    session.diagnostics = QString::fromUtf8(process.readAllStandardError());
    const QList<QByteArray> out = process.readAllStandardOutput().split('\n');
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (i == out.size() - 1 && out[i].isEmpty())
            break; // the last line ends with a newline
        auto value = quorvel::Json::parse(out[i]);
        if (!value || (!value->is_object() && !value->is_array())) {
            session.allLinesJson = false;
            continue;
        }
        session.replies.push_back(*value);
    }
    return session;
}

std::string request(int id, const std::string& method, const Value& params = Value::object())
{
    return quorvel::Json::dump(Value{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}});
}

std::string toolCall(int id, const std::string& tool, const Value& arguments)
{
    return request(id, "tools/call", Value{{"name", tool}, {"arguments", arguments}});
}

const Value* byId(const Session& session, const Value& id)
{
    for (const Value& reply : session.replies) {
        if (reply.is_object() && reply.contains("id") && reply.at("id") == id)
            return &reply;
    }
    ADD_FAILURE() << "no reply with id " << id;
    return nullptr;
}

// The tool result of a reply: its error flag and its text, parsed when it is JSON.
std::pair<bool, Value> toolResult(const Value* reply)
{
    if (reply == nullptr)
        return {true, Value()};
    const Value& result = reply->at("result");
    const std::string text = result.at("content").at(0).at("text");
    const bool isError = result.at("isError").get<bool>();
    if (isError)
        return {true, Value(text)};
    return {false, *quorvel::Json::parse(text)};
}

class McpServerProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = std::make_unique<QTemporaryDir>();
        corpus = quorvel::test::FixtureLibrary::build(dir->filePath("corpus"));
        reference = quorvel::test::ReferenceLibrary::build(dir->filePath("reference"));
    }
    static void TearDownTestSuite() { dir.reset(); }

    static QProcessEnvironment on(const QString& db)
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("QUORVEL_DB"), db);
        return env;
    }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString corpus;
    static inline QString reference;
};

} // namespace

TEST_F(McpServerProcess, protocolRepliesOverThePipe)
{
    ASSERT_FALSE(corpus.isEmpty());
    const std::vector<std::string> lines = {
        request(1, "initialize", Value{{"protocolVersion", "2024-11-05"}, {"clientInfo", {{"name", "e2e"}, {"version", 3}}}}),
        request(2, "initialize", Value{{"protocolVersion", "1999-01-01"}}),
        R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
        "   ",
        R"({"jsonrpc":"2.0","id":null,"method":"ping"})",
        R"({"jsonrpc":"2.0","id":"s-1","method":"ping"})",
        "{not json",
        "42",
        "[]",
        R"({"jsonrpc":"2.0","id":5,"method":"resources/list"})",
        R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"arguments":{}}})",
        request(7, "tools/list"),
        "\t" + request(8, "ping") + "\r",
    };
    const Session s = runServer(lines, on(corpus));
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_TRUE(s.allLinesJson);
    // One reply per request: no reply for the notification and the blank line.
    EXPECT_EQ(s.replies.size(), 11u);

    EXPECT_EQ(byId(s, 1)->at("result").at("protocolVersion"), "2024-11-05");
    const Value& init = byId(s, 2)->at("result");
    EXPECT_EQ(init.at("protocolVersion"), "2025-06-18");
    EXPECT_NE(init.at("instructions").get<std::string>().find("تضم 3 كتب في قسم واحد"), std::string::npos);
    EXPECT_EQ(byId(s, nullptr)->at("result"), Value::object());
    EXPECT_EQ(byId(s, "s-1")->at("result"), Value::object());
    EXPECT_EQ(byId(s, 5)->at("error").at("code"), -32601);
    EXPECT_EQ(byId(s, 5)->at("error").at("message"), "Method not found: resources/list");
    EXPECT_EQ(byId(s, 6)->at("error").at("message"), "Invalid params: missing tool name");
    EXPECT_EQ(byId(s, 7)->at("result").at("tools").size(), 8u);
    EXPECT_EQ(byId(s, 8)->at("result"), Value::object());

    std::vector<int> nullIdCodes;
    for (const Value& reply : s.replies) {
        if (reply.at("id").is_null() && reply.contains("error"))
            nullIdCodes.push_back(reply.at("error").at("code").get<int>());
    }
    EXPECT_EQ(nullIdCodes, (std::vector<int>{-32700, -32600, -32600}));

    // Diagnostics go to standard error, each line prefixed.
    EXPECT_TRUE(s.diagnostics.contains(QStringLiteral("[quorvel-mcp] القاعدة: ") + corpus
                                       + QStringLiteral(" · 3 كتب")));
    EXPECT_TRUE(s.diagnostics.contains(QStringLiteral("[quorvel-mcp] عميل: e2e 3 · 2024-11-05")));
    for (const QString& line : s.diagnostics.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith(QStringLiteral("[quorvel-mcp] "))) << line.toStdString();
}

TEST_F(McpServerProcess, hostileArgumentsGetErrorsAndTheServerGoesOn)
{
    std::string ids = "[";
    for (int i = 1; i <= 1001; ++i)
        ids += std::to_string(i) + (i < 1001 ? "," : "]");
    // Long arguments within the line bound reach their tools' checks.
    const std::string threeMegabytes(3 * 1024 * 1024, 'x');
    const std::string nearlyFourMegabytes(4 * 1024 * 1024 - 200, 'y');
    const std::vector<std::string> lines = {
        toolCall(1, "search_library", Value{{"query", 5}}),
        toolCall(2, "search_library", Value{{"query", "الصلاة"}, {"limit", 1000}}),
        R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"search_library","arguments":{"query":"x","book_ids":)" + ids + "}}}",
        toolCall(4, "search_library", Value{{"query", threeMegabytes}}),
        std::string(300000, '[') + std::string(300000, ']'),
        std::string("{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":\"ping\",\"x\":\"\xc3\x28\"}"),
        toolCall(7, "cite", Value{{"book_id", 1}, {"seq", 1}, {"around", nearlyFourMegabytes}}),
        toolCall(8, "read_page", Value{{"book_id", true}}),
        R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"get_book","arguments":{"book_id":1e400}}})",
        // Past the line bound: refused unread, and the next line still served.
        toolCall(11, "search_library", Value{{"query", std::string(50 * 1024 * 1024, 'z')}}),
        request(10, "ping"),
    };
    const Session s = runServer(lines, on(corpus));
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_TRUE(s.allLinesJson);
    EXPECT_EQ(s.replies.size(), 11u);
    for (const Value& reply : s.replies)
        EXPECT_EQ(reply.at("jsonrpc"), "2.0");

    EXPECT_EQ(toolResult(byId(s, 1)), std::make_pair(true, Value("«query» من نوع غير صحيح (المتوقع: string).")));
    EXPECT_EQ(toolResult(byId(s, 2)), std::make_pair(true, Value("«limit» يجب ألا يزيد على 100.")));
    EXPECT_EQ(toolResult(byId(s, 3)), std::make_pair(true, Value("«book_ids» أكثر من 1000 عنصر.")));
    EXPECT_EQ(toolResult(byId(s, 4)), std::make_pair(true, Value("«query» أطول من 200 حرف.")));
    EXPECT_EQ(toolResult(byId(s, 7)), std::make_pair(true, Value("«around» أطول من 200 حرف.")));
    EXPECT_EQ(toolResult(byId(s, 8)), std::make_pair(true, Value("«book_id» من نوع غير صحيح (المتوقع: integer).")));
    EXPECT_EQ(byId(s, 10)->at("result"), Value::object());

    int parseErrors = 0;
    for (const Value& reply : s.replies) {
        if (reply.contains("error") && reply.at("error").at("code") == -32700)
            ++parseErrors;
    }
    // The deep nesting, the invalid UTF-8 and the unrepresentable number.
    EXPECT_EQ(parseErrors, 3);
    EXPECT_EQ(std::count_if(s.replies.begin(), s.replies.end(),
                            [](const Value& reply) {
                                return reply.contains("error") && reply.at("error").at("code") == -32600
                                    && reply.at("id").is_null();
                            }),
              1);
}

TEST_F(McpServerProcess, searchUnderATimeLimit)
{
    const std::vector<std::string> lines = {
        toolCall(1, "search_library", Value{{"query", "الصلاة"}, {"limit", 100}}),
        toolCall(2, "search_library", Value{{"query", "الصلاة"}, {"book_ids", {1}}}),
    };
    QProcessEnvironment env = on(corpus);
    env.insert(QStringLiteral("QUORVEL_MCP_TIMEOUT"), QStringLiteral("0"));
    const Session limited = runServer(lines, env);
    const auto [isError, result] = toolResult(byId(limited, 1));
    ASSERT_FALSE(isError);
    EXPECT_EQ(result.at("timed_out"), true);
    EXPECT_EQ(result.at("note"), "توقف البحث بعد 0 ثانية؛ النتائج جزئية. ضيق البحث بـ book_ids أو category_id.");
    EXPECT_FALSE(result.contains("total_matches"));
    EXPECT_EQ(result.at("count").get<std::size_t>(), result.at("results").size());

    // A value that is no finite number leaves the default limit in force.
    env.insert(QStringLiteral("QUORVEL_MCP_TIMEOUT"), QStringLiteral("nan"));
    const Session normal = runServer(lines, env);
    const auto [isError2, full] = toolResult(byId(normal, 1));
    ASSERT_FALSE(isError2);
    EXPECT_FALSE(full.contains("timed_out"));
    EXPECT_GT(full.at("total_matches").get<int>(), 0);
    EXPECT_TRUE(normal.diagnostics.contains(QStringLiteral("[quorvel-mcp] search_library · ")));
}

TEST_F(McpServerProcess, withoutALibraryEveryToolCallSaysSo)
{
    QTemporaryDir scratch;
    // A folder that cannot exist: its parent is a plain file.
    QFile blocker(scratch.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QProcessEnvironment env;
    env.insert(QStringLiteral("QUORVEL_LIBDB"), scratch.filePath("blocker/library.db"));
    const Session session = runServer({request(1, "initialize"), toolCall(2, "list_categories", Value::object()),
                                       toolCall(3, "list_categories", Value{{"x", 1}})},
                                      env, {QStringLiteral("QUORVEL_DB")});
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_TRUE(session.allLinesJson);
    ASSERT_EQ(session.replies.size(), 3u);
    const Value& init = session.replies[0];
    EXPECT_NE(init.at("result").at("instructions").get<std::string>().find("تضم 0 كتاب في 0 قسم"),
              std::string::npos);
    const Value& second = session.replies[1];
    const Value& third = session.replies[2];
    const auto [isError, text] = toolResult(&second);
    EXPECT_TRUE(isError);
    EXPECT_EQ(text.get<std::string>().rfind("لم يُعثر على قاعدة المكتبة quorvel.db ولا على كتب في library.db. ضع quorvel.db في ", 0), 0u);
    // Argument checks still come first.
    EXPECT_EQ(toolResult(&third).second, Value("وسيط غير معروف «x». المتاح: لا شيء."));
    // The store's file is missing and a headless mode never creates it.
    EXPECT_TRUE(session.diagnostics.contains(QStringLiteral("[quorvel-mcp] لم يُعثر على quorvel.db ولا library.db (عيّن QUORVEL_DB)")));
}

TEST_F(McpServerProcess, readingAndCatalogueToolsOverThePipe)
{
    const std::vector<std::string> lines = {
        toolCall(1, "read_page", Value{{"book_id", 1}, {"seq", 1}}),
        toolCall(2, "read_page", Value{{"book_id", 1}, {"volume", "1"}, {"page", 2}}),
        toolCall(3, "read_page", Value{{"book_id", 1}, {"seq", 40}}),
        toolCall(4, "get_book", Value{{"book_id", 2}}),
        toolCall(5, "cite", Value{{"book_id", 1}, {"seq", 2}}),
        toolCall(6, "cite", Value{{"book_id", 1}, {"seq", 2}, {"around", "الصلاة"}}),
        toolCall(7, "list_books", Value{{"author", "القزويني"}}),
        toolCall(8, "list_books", Value{{"death_before", 200}}),
        toolCall(9, "find_author", Value{{"name", "ماجه"}}),
        toolCall(10, "list_categories", Value::object()),
        toolCall(11, "read_page", Value{{"book_id", 404}}),
        toolCall(12, "get_book", Value{{"book_id", 404}}),
        toolCall(13, "cite", Value{{"book_id", 404}, {"seq", 1}}),
    };
    const Session s = runServer(lines, on(corpus));
    ASSERT_EQ(s.replies.size(), lines.size());

    const Value first = toolResult(byId(s, 1)).second;
    EXPECT_EQ(first.at("seq"), 1);
    EXPECT_FALSE(first.contains("prev_seq"));
    EXPECT_EQ(first.at("next_seq"), 2);
    // Printed page 2 does not exist in the first book: page 3 is shown.
    const Value gap = toolResult(byId(s, 2)).second;
    EXPECT_EQ(gap.at("page"), 3);
    EXPECT_EQ(gap.at("note"), "الصفحة 2 غير موجودة بعينها، فعرضت أقرب صفحة بعدها.");
    EXPECT_FALSE(toolResult(byId(s, 3)).second.contains("next_seq"));

    const Value card = toolResult(byId(s, 4)).second;
    EXPECT_EQ(card.at("title"), "سنن ابن ماجه");
    EXPECT_EQ(card.at("toc").size(), card.at("toc_total").get<std::size_t>());
    EXPECT_EQ(card.at("author").at("death_ah"), 273);

    const Value plain = toolResult(byId(s, 5)).second;
    EXPECT_EQ(plain.at("citation_full").get<std::string>().rfind("مالك بن أنس (ت 179 هـ)، موطأ الإمام مالك، ", 0), 0u);
    EXPECT_FALSE(plain.contains("quote_found"));
    EXPECT_EQ(toolResult(byId(s, 6)).second.at("quote_found"), true);

    EXPECT_EQ(toolResult(byId(s, 7)).second.at("total"), 2);
    EXPECT_EQ(toolResult(byId(s, 8)).second.at("books")[0].at("book_id"), 1);
    EXPECT_EQ(toolResult(byId(s, 9)).second.at("authors")[0].at("book_count"), 2);
    EXPECT_EQ(toolResult(byId(s, 10)).second.at("total_books"), 3);
    for (int id : {11, 12, 13})
        EXPECT_EQ(toolResult(byId(s, id)),
                  std::make_pair(true, Value("لا يوجد كتاب بالمعرف 404. استعمل list_books أو find_author.")));
}

TEST_F(McpServerProcess, tableOfContentsPagesThroughOffsets)
{
    const Session s = runServer({toolCall(1, "get_book", Value{{"book_id", 10}}),
                                 toolCall(2, "get_book", Value{{"book_id", 10}, {"toc_offset", 300}})},
                                on(reference));
    const Value first = toolResult(byId(s, 1)).second;
    EXPECT_EQ(first.at("toc").size(), 300u);
    EXPECT_EQ(first.at("toc_next_offset"), 300);
    const Value rest = toolResult(byId(s, 2)).second;
    EXPECT_EQ(rest.at("toc").size(), 5u);
    EXPECT_FALSE(rest.contains("toc_next_offset"));
}

namespace {
// The official MCP TypeScript client, installed with npm into the build folder
// on first use (QUORVEL_MCP_SDK may name another folder that already holds it).
// Returns the folder, or an empty text with npm's complaint in why.
QString mcpClientLibrary(const QString& npm, QString& why)
{
    QString folder = qEnvironmentVariable("QUORVEL_MCP_SDK");
    if (folder.isEmpty())
        folder = QStringLiteral(QUORVEL_MCP_SDK_DIR);
    if (QFile::exists(folder + QStringLiteral("/node_modules/@modelcontextprotocol/sdk/package.json")))
        return folder;
    QDir().mkpath(folder);
    QProcess install;
    install.start(npm, {QStringLiteral("install"), QStringLiteral("--prefix"), folder,
                        QStringLiteral("--no-audit"), QStringLiteral("--no-fund"),
                        QStringLiteral("@modelcontextprotocol/sdk@1")});
    if (!install.waitForFinished(kProcessTimeoutMs) || install.exitCode() != 0) {
        why = QStringLiteral("npm could not install @modelcontextprotocol/sdk: ")
            + QString::fromUtf8(install.readAllStandardError());
        return {};
    }
    return folder;
}
}  // namespace

// An independently written client: the official MCP TypeScript SDK.
TEST_F(McpServerProcess, officialClientUsesEveryTool)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        GTEST_SKIP() << "node is not installed: the official MCP client cannot run";
    const QString npm = QStandardPaths::findExecutable(QStringLiteral("npm"));
    if (npm.isEmpty())
        GTEST_SKIP() << "npm is not installed: the official MCP client cannot be installed";

    QString why;
    const QString sdk = mcpClientLibrary(npm, why);
    ASSERT_FALSE(sdk.isEmpty()) << why.toStdString();

    const Value calls = Value::array({
        Value{{"name", "search_library"}, {"arguments", {{"query", "الصلاة"}, {"limit", 3}}}},
        Value{{"name", "read_page"}, {"arguments", {{"book_id", 1}, {"seq", 2}}}},
        Value{{"name", "get_book"}, {"arguments", {{"book_id", 2}}}},
        Value{{"name", "list_books"}, {"arguments", {{"category", "الحديث"}}}},
        Value{{"name", "list_categories"}, {"arguments", Value::object()}},
        Value{{"name", "find_author"}, {"arguments", {{"name", "مالك"}}}},
        Value{{"name", "library_data"}, {"arguments", {{"question", "عدد الكتب حسب القرن"}}}},
        Value{{"name", "cite"}, {"arguments", {{"book_id", 1}, {"seq", 2}, {"around", "الصلاة"}}}},
    });
    QTemporaryDir scratch;
    const QString callsFile = scratch.filePath(QStringLiteral("calls.json"));
    QFile file(callsFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(quorvel::Json::dumpBytes(calls));
    file.close();

    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_DB"), corpus);
    client.setProcessEnvironment(env);
    client.start(node, {quorvel::test::dataPath(QStringLiteral("../e2e/mcp_sdk_client.mjs")), sdk,
                        QStringLiteral(QUORVEL_BINARY), callsFile});
    ASSERT_TRUE(client.waitForFinished(kProcessTimeoutMs));
    ASSERT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
    const auto answer = quorvel::Json::parse(client.readAllStandardOutput().trimmed());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->at("server").at("name"), "quorvel-library");
    EXPECT_EQ(answer->at("tools").size(), 8u);

    // What the client read equals what the server answers over a plain pipe.
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < calls.size(); ++i)
        lines.push_back(toolCall(static_cast<int>(i), calls[i].at("name"), calls[i].at("arguments")));
    const Session direct = runServer(lines, on(corpus));
    const Value& got = answer->at("calls");
    ASSERT_EQ(got.size(), calls.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const auto expected = toolResult(byId(direct, static_cast<int>(i)));
        EXPECT_EQ(got[i].at("isError").get<bool>(), expected.first) << calls[i].at("name");
        const Value text = got[i].at("text");
        const Value parsed = expected.first ? text : *quorvel::Json::parse(text.get<std::string>());
        EXPECT_EQ(parsed, expected.second) << calls[i].at("name");
    }
    EXPECT_FALSE(got[0].at("isError").get<bool>());
    EXPECT_GT(quorvel::Json::parse(got[0].at("text").get<std::string>())->at("count").get<int>(), 0);
}
