#pragma once

// String, regular-expression and checksum helpers whose results must not depend
// on the platform's own text rules. The scholarly tools, the hybrid search and
// the book installer reproduce data defined by Python 3 semantics (white space,
// splitting, half-to-even rounding, stable sorting, word classes, CRC-32 of
// UTF-8 text); these three namespaces give exactly those semantics, so the same
// books always yield the same shingles, chains and numbers.

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace quorvel {

namespace Py {

// True for exactly the code points Python's str.isspace() accepts.
bool isSpace(char32_t c);

// The maximal runs of non-white-space code points, in order; no empty pieces.
QStringList split(const QString& s);

// `s` without white-space code points at either end.
QString strip(const QString& s);

// Length in Unicode code points (a surrogate pair counts once).
qsizetype len(const QString& s);

std::u32string scalars(const QString& s);
QString string(const std::u32string& scalars);

// Code-point-wise prefix and suffix tests; an empty `b` always matches.
bool hasPrefix(const std::u32string& a, const std::u32string& b);
bool hasSuffix(const std::u32string& a, const std::u32string& b);

// Nearest integer, ties to even (2.5 -> 2, 3.5 -> 4). `x` must be finite and
// within the 64-bit range.
std::int64_t round(double x);

// The UTF-16 units of `s` as a lexicographic sort key.
std::u16string key(const QString& s);

// The items ordered by `less`; items it leaves unordered keep their input
// order. The comparison falls back to the reversed comparison and then to the
// input position, so the result is defined even for a comparator that is not
// a strict weak order.
template <typename T, typename Less>
QList<T> stableSorted(const QList<T>& items, Less less)
{
    QList<qsizetype> order(items.size());
    for (qsizetype i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](qsizetype x, qsizetype y) {
        if (less(items[x], items[y]))
            return true;
        if (less(items[y], items[x]))
            return false;
        return x < y;
    });
    QList<T> sorted;
    sorted.reserve(items.size());
    for (qsizetype i : order)
        sorted.append(items[i]);
    return sorted;
}

} // namespace Py

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

namespace CRC32 {

// The IEEE CRC-32 (reflected 0xEDB88320, initial and final inversion) of the
// UTF-8 bytes of `s`, as an unsigned value 0..4294967295. "" gives 0.
std::int64_t of(const QString& s);

// The same checksum over bytes that are already UTF-8.
std::int64_t ofUtf8(const char* data, qsizetype size);

} // namespace CRC32

} // namespace quorvel
