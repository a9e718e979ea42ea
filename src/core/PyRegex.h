#pragma once

// Regular expressions with Python 3's word classes (\s, \w, \b), compiled and
// run by ICU, so that patterns the scholarly tools and the installer share
// match the same text on every platform.

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

namespace quorvel {

namespace PyRegex {

// Python's \s, \w and a word boundary on that \w, as ICU pattern text.
inline constexpr char16_t s[] = u"[\\t\\n\\u000B\\f\\r\\u001C-\\u001F\\u0085\\p{Z}]";
inline constexpr char16_t w[] = u"[\\p{L}\\p{N}_]";
inline constexpr char16_t b[] =
    u"(?:(?<=[\\p{L}\\p{N}_])(?![\\p{L}\\p{N}_])|(?<![\\p{L}\\p{N}_])(?=[\\p{L}\\p{N}_]))";

// A compiled ICU pattern. Immutable and cheap to copy; threads may share it.
class Regex
{
public:
    struct Impl;
    explicit Regex(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
    const Impl& impl() const { return *impl_; }

private:
    std::shared_ptr<const Impl> impl_;
};

// A match position in UTF-16 units.
struct Range
{
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype end() const { return start + length; }
    bool operator==(const Range&) const = default;
};

// Where "^" and "$" match: at the ends of the whole text only, or also at
// every line start and end.
enum class Anchors { text, lines };

// Compiles `pattern` after replacing every "\s" by `s` and then every "\b" by
// `b` (plain text replacement; "\w" is left alone). The patterns are constants
// of the program, so one that does not compile stops the process.
Regex compile(const QString& pattern, Anchors anchors = Anchors::text);

// The first match of `re` anywhere in `text`, or nothing.
std::optional<Range> firstMatch(const Regex& re, const QString& text);

// Every match of `re` in `text`, left to right, not overlapping.
QList<Range> allMatches(const Regex& re, const QString& text);

// A match with its capture groups: groups[0] is group 1; a group that took
// no part in the match is nothing.
struct Match
{
    Range whole;
    QList<std::optional<Range>> groups;
};

// Every match of `re` in `text` with its groups, left to right, not overlapping.
QList<Match> allMatchesWithGroups(const Regex& re, const QString& text);

// The pieces between successive matches: n matches give n + 1 pieces, empty
// ones included (a match at the very start gives an empty first piece).
QStringList split(const Regex& re, const QString& text);

// `text` with every match replaced by `replacement`, taken literally.
QString sub(const Regex& re, const QString& replacement, const QString& text);

} // namespace PyRegex

} // namespace quorvel
