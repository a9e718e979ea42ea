#pragma once

// The tool server of the "--mcp" mode: JSON-RPC 2.0 over standard input and
// output, one message per line, serving eight read-only tools over the
// library to an outside AI client.
//
// Standard output carries protocol messages and nothing else; every line for
// people goes to standard error with the prefix "[quorvel-mcp] ". Failures of
// a known tool (refused arguments, no library, a failing body) are never
// JSON-RPC errors: they come back as tool results marked "isError", so that
// the client's model can read the Arabic message and correct its call.
//
// The server keeps no state between messages. Everything here runs on the one
// thread that reads standard input, apart from the search tool's time-out.
// Each tool call answers from one version of the library, even while an
// installer commits: its reads are pinned, and a call that another
// connection's commit may have split is run again (callTool); a call still
// split when the attempts run out says so with "library_changed": true.

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/UserError.h"
#include "search/SearchEngine.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class Library;
struct Book;
struct Page;
struct Author;
struct Category;

class MCPServer {
public:
    using Value = Json::Value;

    // The error a tool body throws; its Arabic message reaches the client as
    // a tool result marked "isError".
    struct ToolError : UserError {
        using UserError::UserError;
    };
    // Ends a tool body with that message.
    [[noreturn]] static void fail(const QString& message) { throw ToolError{message}; }

    // The "arguments" of one call, after validation, with typed reads.
    struct Args {
        Value d = Value::object();

        // A text member trimmed of white space; nothing when missing, not
        // text, or empty after trimming.
        std::optional<QString> str(std::string_view name) const;
        // intValue() of the member; nothing when missing.
        std::optional<std::int64_t> integer(std::string_view name) const;
        // Only JSON true or false; 0, 1 or "true" give nothing.
        std::optional<bool> boolean(std::string_view name) const;
        // The trimmed, non-empty texts of an array member, in order.
        QStringList strs(std::string_view name) const;
        // The members of an array that intValue() accepts, in order.
        QList<std::int64_t> ints(std::string_view name) const;
        // str(), else the decimal form of an integer member.
        std::optional<QString> text(std::string_view name) const;
    };

    using Run = std::function<Value(const Args&, Library&)>;

    struct Tool {
        std::string name;
        std::string title;
        std::string description;
        Value schema;
        Run run;
    };

    // ---- protocol (standard input and output)

    static const QStringList& supportedVersions();
    static QString defaultVersion();
    // Seconds a search may run: QUORVEL_MCP_TIMEOUT when it is a finite
    // number written in full, else 10. Zero and negatives mean at once.
    static double searchTimeout();
    // Parses a time-out value as searchTimeout() does; public for testing.
    static double parseTimeout(const char* text);
    static constexpr int tocPage = 300; // table-of-contents entries per get_book call

    // The server's own library, opened once by run(); null without one.
    static Library* lib();
    // Replaces the server's library (run() and tests).
    static void setLibrary(std::shared_ptr<Library> library);

    // Serves standard input until it ends.
    static void run();
    // Serves the lines of `in` until it ends. A line longer than
    // maxLineBytes is answered "Invalid Request" with a null id without
    // being kept, and the next line is served as usual.
    static void serve(std::istream& in);
    static constexpr size_t maxLineBytes = 4u << 20;
    // Most messages one batch may hold; a larger batch gets one
    // "Invalid Request" reply and none of its messages is handled.
    static constexpr size_t maxBatch = 100;
    // Handles one non-empty line and writes its reply, if any.
    static void handleLine(std::string_view line);
    // The reply to one message; nothing for a notification or a client's response.
    static std::optional<Value> handle(const Value& message);
    static Value initialize(const Value& params);
    static QString instructions();
    static Value describe(const Tool& tool);
    static Value callTool(const Value& id, const Value& params);
    // One attempt at a call whose arguments passed: the tool's result
    // object, or the message of its failure.
    struct Outcome {
        Value result;
        std::optional<QString> error;
    };
    static Outcome runTool(const Tool& tool, const Args& args, Library& library);
    static Value success(const Value& id, const Value& result);
    static Value failure(const Value& id, int code, const QString& message);
    static Value toolError(const QString& message);
    // A tool's result as sorted compact JSON with "/" unescaped; "{}" when
    // it cannot be written.
    static std::string compact(const Value& result);
    // Writes one reply line straight to file descriptor 1.
    static void send(const Value& reply);
    // One "[quorvel-mcp] " line on standard error.
    static void log(const QString& text);
    // Whether a value can be written as JSON: finite numbers and a nesting
    // the writer can follow.
    static bool writable(const Value& value);
    // Deepest nesting of arrays and objects a message may have; a deeper
    // line is refused as unparsable before it is read.
    static constexpr int maxDepth = Json::maxDepth;

    // Where send() writes; replaced by tests to capture the replies.
    static std::function<void(const std::string&)>& output();
    // Called in every attempt at a tool call once its version of the library
    // is pinned, before the tool reads; set by tests to commit a change there.
    static std::function<void()>& betweenReads();

    // ---- tool table and argument checks

    static const QList<Tool>& tools();
    // The schema of the "book_id" argument that several tools share.
    static Value bookIdProperty();
    static std::optional<QString> validate(const Value& args, const Value& schema);
    static std::optional<QString> check(const Value& value, const Value& property,
                                        const QString& name);
    // A JSON number that is not a Boolean, integral, with magnitude below 9e15.
    static std::optional<std::int64_t> intValue(const Value& value);

    static Value object(const Value& properties, const std::vector<std::string>& required);
    static Value pStr(const char* description, int max);
    static Value pStrOrInt(const char* description);
    static Value pInt(const char* description, std::int64_t min,
                      std::optional<std::int64_t> max, std::optional<std::int64_t> def);
    static Value pBool(const char* description, bool def);
    static Value pStrs(const char* description, int max = 10);
    static Value pInts(const char* description, int max = 1000);

    // ---- page references and catalogue lookups

    using Term = QPair<QString, Arabic::Match>;

    static std::optional<QString> authorName(const Book& book, Library& lib);
    static std::optional<QString> volumeLabel(const std::optional<QString>& label,
                                              std::int64_t bookId, Library& lib);
    static std::optional<QString> rawVolume(const QString& sent, std::int64_t bookId,
                                            Library& lib);
    static QString citation(const Book& book, Library& lib, const std::optional<QString>& vol,
                            std::optional<std::int64_t> page, std::int64_t seq);
    static QStringList chapterPath(std::int64_t bookId, std::int64_t seq, Library& lib);
    static std::optional<QString> cleanTitle(const std::optional<QString>& title);
    static Value pageRef(const Page& page, const Book& book, Library& lib);
    static QString marked(const QString& text, const QList<Term>& terms,
                          const SearchEngine::Plan* asked = nullptr);
    static QString norm(const QString& text);
    static bool matchesAll(const QString& normalized, const QString& query);
    static std::optional<std::int64_t> death(const Author* author);
    static QString deathLabel(std::int64_t year);
    static std::optional<QString> nonEmpty(const std::optional<QString>& text);
    static const std::map<std::int64_t, QString>& fullNames(Library& lib);
    static std::optional<Category> category(const Book& book, Library& lib);
    static std::optional<Value> authorInfo(std::optional<std::int64_t> authorId, Library& lib);

    // ---- tool bodies

    static Value searchLibrary(const Args& args, Library& lib);
    static Book book(const Args& args, Library& lib);
    static Value readPage(const Args& args, Library& lib);
    static Value getBook(const Args& args, Library& lib);
    static Value cite(const Args& args, Library& lib);
    static Value bookRow(const Book& book, Library& lib);
    static Value listBooks(const Args& args, Library& lib);
    static Value listCategories(const Args& args, Library& lib);
    static Value findAuthor(const Args& args, Library& lib);
    static Value libraryData(const Args& args, Library& lib);
};

} // namespace quorvel
