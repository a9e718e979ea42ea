#pragma once

// The one JSON module. It wraps nlohmann::json, which keeps integers and
// doubles apart, parses top-level scalars and writes object keys sorted and
// UTF-8 raw, and adds the few forms the system's exchange formats fix:
// "\/" escaping where a peer expects it, milliseconds with one decimal, and
// strict typed reads where a Boolean must not pass for 0/1.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::Json {

using Value = nlohmann::json;

struct DumpOptions {
    bool escapeSlash = false; // write "/" as "\/"
    int indent = -1;          // -1: compact, one line
};

// The deepest nesting of arrays and objects that parse() accepts. A deeper
// value parses, but copying, writing or comparing it recurses once per level
// and ends the process on its stack, so every reader of stored or received
// JSON refuses it as unreadable instead.
inline constexpr int maxDepth = 512;

// Parses a whole document; nothing when it is not valid JSON or is nested
// deeper than maxDepth (never throws).
std::optional<Value> parse(std::string_view text);
// The deepest nesting of arrays and objects in a JSON text, found without
// parsing it, so that a text too deep to parse safely can be refused first.
int nesting(std::string_view text);
// Calls `visit(i, c)` for each character of a JSON text outside its string
// literals, in order; a string shows only as its opening quote. The walk
// neither parses nor recurses, for texts that may be too deep to parse.
template <typename Visit>
void outsideStrings(std::string_view text, Visit&& visit)
{
    bool inString = false;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!inString) {
            inString = c == '"';
            visit(i, c);
        } else if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '"') {
            inString = false;
        }
    }
}
std::optional<Value> parse(const QByteArray& text);
inline std::optional<Value> parse(const char* text) { return parse(std::string_view(text)); }
inline std::optional<Value> parse(const std::string& text) { return parse(std::string_view(text)); }
// The most a JSON file whose size nothing declares is read to.
inline constexpr qint64 defaultFileLimit = 64 * 1024 * 1024;

// Parses a whole regular file of at most maxBytes; nothing when it is not
// such a file, cannot be read or is not valid JSON.
std::optional<Value> parseFile(const QString& path, qint64 maxBytes = defaultFileLimit);

// Serialises with keys sorted and UTF-8 written raw. Invalid UTF-8 inside
// strings is replaced by U+FFFD rather than throwing.
std::string dump(const Value& value, const DumpOptions& options = {});
QByteArray dumpBytes(const Value& value, const DumpOptions& options = {});

// Rounds an elapsed time in milliseconds to one decimal, as the tools print it.
double oneDecimal(double milliseconds);

// QString <-> UTF-8 std::string.
std::string utf8(const QString& text);
QString qstr(const std::string& text);
Value toJson(const QString& text);
Value toJson(const QStringList& texts);

// Strict member reads of an object: nothing when the object lacks the key or
// the member has another type. An integer must be a JSON integer (not a
// Boolean, not 1.0); a Boolean must be true/false (not 0/1); a double accepts
// any number but not a Boolean.
std::optional<std::int64_t> strictInt(const Value& object, std::string_view key);
std::optional<bool> strictBool(const Value& object, std::string_view key);
std::optional<double> strictDouble(const Value& object, std::string_view key);
std::optional<QString> strictString(const Value& object, std::string_view key);

// The same rules for a bare value.
std::optional<std::int64_t> asInt(const Value& value);
std::optional<bool> asBool(const Value& value);
std::optional<double> asDouble(const Value& value);
std::optional<QString> asString(const Value& value);

} // namespace quorvel::Json
