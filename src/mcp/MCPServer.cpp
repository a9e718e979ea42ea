#include "mcp/MCPServer.h"

#include "core/Build.h"
#include "core/CountedNoun.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Paths.h"
#include "core/SQLiteDB.h"
#include "search/PageMap.h"

#include <QChar>
#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <locale.h>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr double kDefaultSearchTimeout = 10; // seconds
constexpr const char* kLogPrefix = "[quorvel-mcp] ";
constexpr const char* kServerName = "quorvel-library";
constexpr const char* kServerTitle = "مكتبة قورفل";

// JSON-RPC error codes.
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;

// Both name the files really looked for: the master file and the local store.
const char* const kNoDatabase = "لم يُعثر على %1 ولا %2 (عيّن QUORVEL_DB)";
const char* const kNoBooks = "لم يُعثر على قاعدة المكتبة %1 ولا على كتب في %2. ضع %1 في %3 أو عيّن QUORVEL_DB.";
const char* const kUnwritableReply = "رسالة غير قابلة للترميز";
const char* const kLineTooLong = "رُفض سطر أطول من الحد الأقصى للرسالة";
const char* const kBatchTooLarge = "رُفضت دفعة رسائل أكبر من الحد الأقصى";
const char* const kArgumentsNotObject = "arguments يجب أن تكون كائن JSON.";

// Attempts at one tool call; the last one, or the first past the search's
// time limit, is answered whatever was committed while it read, so that a
// library changing without pause still gets replies.
constexpr int kReadAttempts = 5;
// The member a tool's result gains when its last attempt saw the library change.
const char* const kLibraryChanged = "library_changed";

const char* const kInstructionsHead = "مكتبة قورفل: مكتبة تراثية عربية محلية على هذا الجهاز تضم ";
const char* const kInstructionsIn = " في ";
const char* const kInstructionsTail =
    " (الفقه وأصوله، الحديث، التفسير، العقيدة، اللغة، السيرة والتاريخ وغيرها)، ونصوصها مرقمة بأجزاء الطبعة المطبوعة وصفحاتها.\n"
    "\n"
    "طريقة العمل: ابحث بـ search_library، ثم افتح الصفحة بـ read_page لقراءة السياق كاملا قبل أي نقل، واستعمل get_book لبطاقة الكتاب وأجزائه وفهرسه، وlist_books وlist_categories وfind_author لاستكشاف المكتبة، وcite لتوليد العزو. ولأسئلة الأرقام والجداول (كم كتابا، توزيع حسب القرن أو القسم، عدد ورود لفظ) استعمل library_data، واعرض نتيجته جدولا كما هي.\n"
    "\n"
    "قواعد ملزمة:\n"
    "1. كل ما تنقله من المكتبة تعزوه: اسم الكتاب + المؤلف + الجزء (إن كان الكتاب متعدد الأجزاء) + الصفحة، بصيغة حقل citation كما هو، مثل: «المغني · الفرسوني · ج2 ص45».\n"
    "2. انقل النص بلفظه ولا تنسب إلى كتاب ما لم تقرأه فيه بهذه الأدوات، وإن لم تجد شيئا فقل ذلك صراحة ولا تخمن.\n"
    "3. لا تصدر فتوى ولا ترجح حكما في واقعة شخصية: اعرض أقوال العلماء بعزوها، ووجه السائل إلى جهة الإفتاء الرسمية المختصة في بلده.\n"
    "4. البحث يطبع الهمزات والتاء المربوطة والألف المقصورة والتشكيل تلقائيا. إن قلت النتائج فجرب affix (الكلمة بلواصقها) ثم morph (بحث صرفي)، وإن كثرت فضيق بـ book_ids أو category_id أو all_of.";

const CountedNoun& sections()
{
    static const CountedNoun noun(QStringLiteral("قسم"), QStringLiteral("قسمان"), QStringLiteral("أقسام"),
                                  QStringLiteral("قسما"));
    return noun;
}

// A client reads numbers in Latin digits whatever the user's preference.
QString latinCount(const CountedNoun& noun, long long n, CountedNoun::Case grammaticalCase)
{
    return noun.count(n, grammaticalCase, QString::number(n));
}

std::shared_ptr<Library>& libraryHolder()
{
    static std::shared_ptr<Library> library;
    return library;
}

// The local store's file name, as the locator looks for it.
QString localStoreName()
{
    return QFileInfo(Paths::localStorePath()).fileName();
}

// Writes every byte to descriptor 1. A client that has gone away ends the
// process at once: there is nobody left to answer.
void writeStdout(const std::string& bytes)
{
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(1, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::_Exit(0);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// The code point that starts (or ends) a UTF-8 text, with its length in bytes;
// nothing for a malformed sequence.
std::optional<std::pair<char32_t, size_t>> decodeAt(std::string_view s, size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size())
        return std::nullopt;
    char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < len; ++k) {
        const auto cont = static_cast<unsigned char>(s[i + k]);
        if ((cont >> 6) != 2)
            return std::nullopt;
        c = (c << 6) | (cont & 0x3F);
    }
    return std::make_pair(c, len);
}

bool isTrimmedSpace(char32_t c)
{
    return QChar::isSpace(c);
}

// The line without white space and line breaks at its ends.
std::string_view trimLine(std::string_view s)
{
    for (;;) {
        if (s.empty())
            return s;
        const auto first = decodeAt(s, 0);
        if (first && isTrimmedSpace(first->first)) {
            s.remove_prefix(first->second);
            continue;
        }
        // Find the start of the last code point.
        size_t start = s.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(s[start]) >> 6) == 2 && s.size() - start < 4)
            --start;
        const auto last = decodeAt(s, start);
        if (last && start + last->second == s.size() && isTrimmedSpace(last->first)) {
            s.remove_suffix(last->second);
            continue;
        }
        return s;
    }
}

// The missing-library message: the server has no library, or one without books.
QString noBooks()
{
    QString folder = Library::supportDir();
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return QString::fromUtf8(kNoBooks).arg(QLatin1String(Library::masterFileName), localStoreName(), folder);
}

// What tells one still state of the library from the next: the store's count
// of changes to its pages and headings, which every install and removal moves
// and the page index's batches do not; for a library without that count, the
// connection's data version, which every commit of another connection moves.
std::optional<QString> libraryState(SQLiteDB& db)
{
    const bool counted = db.scalarInt(QStringLiteral(
                                          "SELECT EXISTS(SELECT 1 FROM sqlite_master WHERE type='table' AND name='meta')"))
                             .value_or(0)
                         != 0;
    if (counted) {
        const auto rows = db.rows(QStringLiteral("SELECT CAST(value AS TEXT) FROM meta WHERE key=?"),
                                  {QString::fromLatin1(PageMap::changesKey)});
        if (!rows.isEmpty())
            if (const auto value = rows.first().str(0))
                return QStringLiteral("c") + *value;
    }
    if (const auto version = db.scalarInt(QStringLiteral("PRAGMA data_version")))
        return QStringLiteral("v") + QString::number(*version);
    return std::nullopt;
}

QString textForm(const MCPServer::Value& value)
{
    if (value.is_string())
        return Json::qstr(value.get<std::string>());
    return Json::qstr(Json::dump(value));
}

} // namespace

// ---------------------------------------------------------------------------
// Statics

const QStringList& MCPServer::supportedVersions()
{
    static const QStringList versions = {
        QStringLiteral("2024-11-05"), QStringLiteral("2025-03-26"),
        QStringLiteral("2025-06-18"), QStringLiteral("2025-11-25"),
    };
    return versions;
}

QString MCPServer::defaultVersion()
{
    return QStringLiteral("2025-06-18");
}

double MCPServer::parseTimeout(const char* text)
{
    // The C library's reading of a number in the C locale, whatever locale the
    // process runs in; it skips leading white space, which must not pass here.
    if (text == nullptr || *text == '\0' || std::isspace(static_cast<unsigned char>(*text)))
        return kDefaultSearchTimeout;
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* end = nullptr;
    const double value = ::strtod_l(text, &end, cLocale);
    if (end == text || *end != '\0')
        return kDefaultSearchTimeout;
    // "nan" and "inf" parse, but no deadline can be computed from them.
    if (!std::isfinite(value))
        return kDefaultSearchTimeout;
    return value;
}

double MCPServer::searchTimeout()
{
    static const double seconds = parseTimeout(std::getenv("QUORVEL_MCP_TIMEOUT"));
    return seconds;
}

Library* MCPServer::lib()
{
    return libraryHolder().get();
}

void MCPServer::setLibrary(std::shared_ptr<Library> library)
{
    libraryHolder() = std::move(library);
}

std::function<void(const std::string&)>& MCPServer::output()
{
    static std::function<void(const std::string&)> sink = writeStdout;
    return sink;
}

// ---------------------------------------------------------------------------
// The loop

void MCPServer::run()
{
    std::signal(SIGPIPE, SIG_IGN);
    ::setenv("QUORVEL_USERDB", ":memory:", 0);

    // A headless mode never creates a library: a mistyped path must not turn
    // into an empty store that answers every search with "no results".
    const std::optional<QString> path = Library::findExistingDatabase();
    if (!path) {
        log(QString::fromUtf8(kNoDatabase).arg(QLatin1String(Library::masterFileName), localStoreName()));
    } else {
        std::shared_ptr<Library> opened = Library::open(*path);
        if (opened) {
            log(QStringLiteral("القاعدة: ") + *path + QStringLiteral(" · ")
                + latinCount(CountedNoun::books(), opened->catalog()->books.size(), CountedNoun::Case::nominative));
            setLibrary(std::move(opened));
        } else {
            log(QStringLiteral("تعذّر فتح القاعدة: ") + *path);
        }
    }

    std::ios::sync_with_stdio(false);
    serve(std::cin);
}

void MCPServer::serve(std::istream& in)
{
    std::streambuf* const source = in.rdbuf();
    std::string line;
    line.reserve(4096);
    for (;;) {
        line.clear();
        bool tooLong = false;
        bool readAny = false;
        int c;
        // Only the first maxLineBytes of a line are kept; the rest is read and
        // dropped, so a hostile line costs no more memory than a long one.
        while ((c = source->sbumpc()) != std::char_traits<char>::eof()) {
            readAny = true;
            if (c == '\n')
                break;
            if (line.size() < maxLineBytes)
                line.push_back(static_cast<char>(c));
            else
                tooLong = true;
        }
        if (!readAny)
            return;
        if (tooLong) {
            // Its id lies somewhere in bytes never read as JSON.
            log(QString::fromUtf8(kLineTooLong));
            send(failure(nullptr, kInvalidRequest, QStringLiteral("Invalid Request")));
        } else if (const std::string_view trimmed = trimLine(line); !trimmed.empty()) {
            handleLine(trimmed);
        }
        // A long line must not keep its memory for the rest of the session.
        if (line.capacity() > (1 << 20))
            std::string().swap(line);
        if (c == std::char_traits<char>::eof())
            return;
    }
}

void MCPServer::handleLine(std::string_view line)
{
    if (Json::nesting(line) > MCPServer::maxDepth) {
        send(failure(nullptr, kParseError, QStringLiteral("Parse error")));
        return;
    }
    const std::optional<Value> message = Json::parse(line);
    if (!message) {
        send(failure(nullptr, kParseError, QStringLiteral("Parse error")));
        return;
    }
    if (message->is_array()) {
        if (message->empty()) {
            send(failure(nullptr, kInvalidRequest, QStringLiteral("Invalid Request")));
            return;
        }
        // Every reply of a batch goes out on one line: without a bound, a
        // batch of searches makes a reply line of hundreds of megabytes.
        if (message->size() > maxBatch) {
            log(QString::fromUtf8(kBatchTooLarge));
            send(failure(nullptr, kInvalidRequest, QStringLiteral("Invalid Request")));
            return;
        }
        Value replies = Value::array();
        for (const Value& element : *message) {
            if (std::optional<Value> reply = handle(element))
                replies.push_back(std::move(*reply));
        }
        if (!replies.empty())
            send(replies);
        return;
    }
    if (std::optional<Value> reply = handle(*message))
        send(*reply);
}

std::optional<MCPServer::Value> MCPServer::handle(const Value& message)
{
    if (!message.is_object())
        return failure(nullptr, kInvalidRequest, QStringLiteral("Invalid Request"));

    const auto idIt = message.find("id");
    const bool hasId = idIt != message.end();
    // An id is a text, an integer or null; any other value is refused, not
    // echoed, as an id that cannot be read is answered with null.
    const bool validId = !hasId || idIt->is_null() || idIt->is_string() || idIt->is_number_integer();
    const Value id = hasId && validId ? *idIt : Value(nullptr);

    const auto methodIt = message.find("method");
    if (methodIt == message.end() || !methodIt->is_string()) {
        if (message.contains("result") || message.contains("error"))
            return std::nullopt; // a response from the client
        return failure(id, kInvalidRequest, QStringLiteral("Invalid Request"));
    }
    if (!validId)
        return failure(nullptr, kInvalidRequest, QStringLiteral("Invalid Request"));
    if (!hasId)
        return std::nullopt; // notifications are dropped without a trace

    const std::string& method = methodIt->get_ref<const std::string&>();
    const auto paramsIt = message.find("params");
    const Value params = paramsIt != message.end() && paramsIt->is_object() ? *paramsIt
                                                                           : Value::object();
    Value reply;
    if (method == "initialize") {
        reply = success(id, initialize(params));
    } else if (method == "ping") {
        reply = success(id, Value::object());
    } else if (method == "tools/list") {
        Value list = Value::array();
        for (const Tool& tool : tools())
            list.push_back(describe(tool));
        reply = success(id, Value{{"tools", std::move(list)}});
    } else if (method == "tools/call") {
        reply = callTool(id, params);
    } else {
        reply = failure(id, kMethodNotFound,
                        QStringLiteral("Method not found: ") + Json::qstr(method));
    }
    if (!writable(reply))
        return failure(id, kInternalError, QStringLiteral("Internal error"));
    return reply;
}

// ---------------------------------------------------------------------------
// Methods

MCPServer::Value MCPServer::initialize(const Value& params)
{
    const auto requestedIt = params.find("protocolVersion");
    const QString requested = requestedIt != params.end() && requestedIt->is_string()
                                  ? Json::qstr(requestedIt->get<std::string>())
                                  : QString();
    const QString agreed = supportedVersions().contains(requested) ? requested : defaultVersion();

    const auto clientIt = params.find("clientInfo");
    if (clientIt != params.end() && clientIt->is_object()) {
        const auto name = clientIt->find("name");
        const auto version = clientIt->find("version");
        log(QStringLiteral("عميل: ")
            + (name != clientIt->end() ? textForm(*name) : QStringLiteral("?"))
            + QStringLiteral(" ") + (version != clientIt->end() ? textForm(*version) : QString())
            + QStringLiteral(" · ") + requested);
    }

    return Value{
        {"protocolVersion", Json::utf8(agreed)},
        {"capabilities", Value{{"tools", Value::object()}}},
        {"serverInfo", Value{{"name", kServerName}, {"title", kServerTitle},
                             {"version", build::version}}},
        {"instructions", Json::utf8(instructions())},
    };
}

QString MCPServer::instructions()
{
    qsizetype books = 0;
    qsizetype categories = 0;
    if (Library* library = lib()) {
        library->reloadCatalogIfChanged();
        const auto catalog = library->catalog();
        books = catalog->books.size();
        categories = catalog->categories.size();
    }
    return QString::fromUtf8(kInstructionsHead) + latinCount(CountedNoun::books(), books, CountedNoun::Case::accusative)
           + QString::fromUtf8(kInstructionsIn) + latinCount(sections(), categories, CountedNoun::Case::genitive)
           + QString::fromUtf8(kInstructionsTail);
}

MCPServer::Value MCPServer::describe(const Tool& tool)
{
    return Value{
        {"name", tool.name},
        {"title", tool.title},
        {"description", tool.description},
        {"inputSchema", tool.schema},
        {"annotations", Value{{"title", tool.title},
                              {"readOnlyHint", true},
                              {"destructiveHint", false},
                              {"idempotentHint", true},
                              {"openWorldHint", false}}},
    };
}

MCPServer::Value MCPServer::callTool(const Value& id, const Value& params)
{
    const auto nameIt = params.find("name");
    if (nameIt == params.end() || !nameIt->is_string())
        return failure(id, kInvalidParams, QStringLiteral("Invalid params: missing tool name"));
    const std::string& name = nameIt->get_ref<const std::string&>();

    const Tool* tool = nullptr;
    for (const Tool& candidate : tools()) {
        if (candidate.name == name) {
            tool = &candidate;
            break;
        }
    }
    if (tool == nullptr)
        return failure(id, kInvalidParams, QStringLiteral("Unknown tool: ") + Json::qstr(name));

    Args args;
    const auto argumentsIt = params.find("arguments");
    if (argumentsIt != params.end() && !argumentsIt->is_null()) {
        if (!argumentsIt->is_object())
            return success(id, toolError(QString::fromUtf8(kArgumentsNotObject)));
        args.d = *argumentsIt;
    }

    if (std::optional<QString> message = validate(args.d, tool->schema))
        return success(id, toolError(*message));

    Library* library = lib();
    if (library == nullptr)
        return success(id, toolError(noBooks()));

    // Each attempt reads one version of the library: the library connection
    // is pinned, and an attempt during which an install or removal committed
    // runs again, since the search reads through connections of its own.
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome;
    bool changed = false;
    for (int attempt = 1;; ++attempt) {
        std::optional<QString> before;
        {
            ReadTransaction pinned(library->main());
            before = libraryState(library->main());
            outcome = runTool(*tool, args, *library);
        }
        changed = libraryState(library->main()) != before;
        if (attempt == kReadAttempts || !changed)
            break;
        // A call that has had its search's time is not made to wait again.
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        if (spent.count() >= searchTimeout())
            break;
    }
    if (outcome.error)
        return success(id, toolError(*outcome.error));
    // The last attempt is answered all the same, but not as if it had read
    // one version: its parts may come from either side of a commit.
    if (changed && outcome.result.is_object())
        outcome.result[kLibraryChanged] = true;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const auto ms = static_cast<long long>(elapsed.count() * 1000);
    log(Json::qstr(name) + QStringLiteral(" · ") + QString::number(ms) + QStringLiteral("ms"));
    return success(id, Value{
        {"content", Value::array({Value{{"type", "text"}, {"text", compact(outcome.result)}}})},
        {"isError", false},
    });
}

MCPServer::Outcome MCPServer::runTool(const Tool& tool, const Args& args, Library& library)
{
    // Books installed while the server runs are listed and found at once.
    library.reloadCatalogIfChanged();
    // An empty library would answer every question with "not found", as if
    // the books lacked the words: it is reported as missing instead.
    if (library.catalog()->books.isEmpty())
        return {{}, noBooks()};
    if (const auto& hook = betweenReads())
        hook();
    try {
        return {tool.run(args, library), std::nullopt};
    } catch (const ToolError& error) {
        return {{}, error.message()};
    } catch (const std::exception& error) {
        return {{}, QString::fromUtf8(error.what())};
    }
}

std::function<void()>& MCPServer::betweenReads()
{
    static std::function<void()> hook;
    return hook;
}

// ---------------------------------------------------------------------------
// Replies

MCPServer::Value MCPServer::success(const Value& id, const Value& result)
{
    return Value{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}};
}

MCPServer::Value MCPServer::failure(const Value& id, int code, const QString& message)
{
    return Value{{"jsonrpc", "2.0"},
                 {"id", id},
                 {"error", Value{{"code", code}, {"message", Json::utf8(message)}}}};
}

MCPServer::Value MCPServer::toolError(const QString& message)
{
    return Value{
        {"content", Value::array({Value{{"type", "text"}, {"text", Json::utf8(message)}}})},
        {"isError", true},
    };
}

std::string MCPServer::compact(const Value& result)
{
    if (!writable(result))
        return "{}";
    return Json::dump(result);
}

bool MCPServer::writable(const Value& value)
{
    // Walked with an explicit stack: a hostile value must not exhaust ours.
    std::vector<std::pair<const Value*, int>> pending{{&value, 0}};
    while (!pending.empty()) {
        const auto [v, depth] = pending.back();
        pending.pop_back();
        if (v->is_number_float()) {
            if (!std::isfinite(v->get<double>()))
                return false;
        } else if (v->is_structured()) {
            if (depth >= maxDepth)
                return false;
            for (const Value& child : *v)
                pending.emplace_back(&child, depth + 1);
        } else if (v->is_binary() || v->is_discarded()) {
            return false;
        }
    }
    return true;
}

void MCPServer::send(const Value& reply)
{
    if (!writable(reply)) {
        log(QString::fromUtf8(kUnwritableReply));
        return;
    }
    std::string line = Json::dump(reply);
    line.push_back('\n');
    output()(line);
}

void MCPServer::log(const QString& text)
{
    const QByteArray line = QByteArray(kLogPrefix) + text.toUtf8() + '\n';
    std::fputs(line.constData(), stderr);
}

} // namespace quorvel
