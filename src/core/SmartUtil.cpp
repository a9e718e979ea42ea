#include "core/SmartUtil.h"

#include <QtGlobal>

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <zlib.h>

#include <cmath>
#include <limits>

namespace quorvel {

// ---------------------------------------------------------------- Py

namespace Py {

bool isSpace(char32_t c)
{
    if ((c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20))
        return true;
    if (c < 0x85)
        return false;
    switch (c) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

namespace {

// Decodes the code point at `i` (a lone surrogate stands for itself) and
// returns it with the number of UTF-16 units it occupies.
inline std::pair<char32_t, qsizetype> codePointAt(const QString& s, qsizetype i)
{
    const char16_t u = s[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode()))
        return {QChar::surrogateToUcs4(u, s[i + 1].unicode()), 2};
    return {u, 1};
}

} // namespace

QStringList split(const QString& s)
{
    QStringList pieces;
    qsizetype start = -1;
    for (qsizetype i = 0; i < s.size();) {
        const auto [c, width] = codePointAt(s, i);
        if (isSpace(c)) {
            if (start >= 0)
                pieces.append(s.mid(start, i - start));
            start = -1;
        } else if (start < 0) {
            start = i;
        }
        i += width;
    }
    if (start >= 0)
        pieces.append(s.mid(start));
    return pieces;
}

QString strip(const QString& s)
{
    // Every white-space code point lies in the BMP, so a surrogate never is one
    // and the ends can be trimmed unit by unit.
    qsizetype begin = 0, end = s.size();
    while (begin < end && isSpace(s[begin].unicode()))
        ++begin;
    while (end > begin && isSpace(s[end - 1].unicode()))
        --end;
    return s.mid(begin, end - begin);
}

qsizetype len(const QString& s)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < s.size(); i += codePointAt(s, i).second)
        ++n;
    return n;
}

std::u32string scalars(const QString& s)
{
    std::u32string out;
    out.reserve(size_t(s.size()));
    for (qsizetype i = 0; i < s.size();) {
        const auto [c, width] = codePointAt(s, i);
        out.push_back(c);
        i += width;
    }
    return out;
}

QString string(const std::u32string& scalars)
{
    return QString::fromUcs4(scalars.data(), qsizetype(scalars.size()));
}

bool hasPrefix(const std::u32string& a, const std::u32string& b)
{
    return b.size() <= a.size() && std::equal(b.begin(), b.end(), a.begin());
}

bool hasSuffix(const std::u32string& a, const std::u32string& b)
{
    return b.size() <= a.size() && std::equal(b.rbegin(), b.rend(), a.rbegin());
}

std::int64_t round(double x)
{
    Q_ASSERT(std::isfinite(x));
    // The default floating-point environment rounds to nearest, ties to even.
    return std::int64_t(std::nearbyint(x));
}

std::u16string key(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size()));
}

} // namespace Py

// ---------------------------------------------------------------- PyRegex

namespace PyRegex {

struct Regex::Impl
{
    std::unique_ptr<icu::RegexPattern> pattern;
};

namespace {

// A read-only ICU view of the QString's buffer; no copy is made, so `text`
// must outlive the view.
inline icu::UnicodeString view(const QString& text)
{
    return icu::UnicodeString(false, reinterpret_cast<const UChar*>(text.utf16()),
                              int32_t(text.size()));
}

// Runs `onMatch(matcher, start, end)` for every match of `re` in `text`, left
// to right. A matcher error (the backtrack stack or time limit) ends the walk:
// what was found so far stands.
template <typename F>
void forEachMatcher(const Regex& re, const QString& text, F onMatch)
{
    // ICU indexes with 32-bit integers; longer texts are outside its reach.
    if (text.size() > std::numeric_limits<int32_t>::max())
        return;
    const icu::UnicodeString input = view(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(re.impl().pattern->matcher(input, status));
    if (U_FAILURE(status) || !matcher)
        return;
    while (matcher->find(status) && U_SUCCESS(status)) {
        const int32_t start = matcher->start(status);
        const int32_t end = matcher->end(status);
        if (U_FAILURE(status))
            return;
        if (!onMatch(*matcher, qsizetype(start), qsizetype(end)))
            return;
    }
}

// The same walk with the match's ends only.
template <typename F>
void forEachMatch(const Regex& re, const QString& text, F onMatch)
{
    forEachMatcher(re, text, [&](icu::RegexMatcher&, qsizetype start, qsizetype end) {
        return onMatch(start, end);
    });
}

} // namespace

Regex compile(const QString& pattern, Anchors anchors)
{
    QString text = pattern;
    text.replace(QLatin1String("\\s"), QString::fromUtf16(s));
    text.replace(QLatin1String("\\b"), QString::fromUtf16(b));
    auto impl = std::make_shared<Regex::Impl>();
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    const uint32_t flags = anchors == Anchors::lines ? UREGEX_MULTILINE : 0;
    impl->pattern.reset(icu::RegexPattern::compile(view(text), flags, parseError, status));
    if (U_FAILURE(status) || !impl->pattern)
        qFatal("regular expression does not compile (%s): %s", u_errorName(status),
               qPrintable(pattern));
    return Regex(std::move(impl));
}

std::optional<Range> firstMatch(const Regex& re, const QString& text)
{
    std::optional<Range> found;
    forEachMatch(re, text, [&](qsizetype start, qsizetype end) {
        found = Range{start, end - start};
        return false;
    });
    return found;
}

QList<Range> allMatches(const Regex& re, const QString& text)
{
    QList<Range> found;
    forEachMatch(re, text, [&](qsizetype start, qsizetype end) {
        found.append(Range{start, end - start});
        return true;
    });
    return found;
}

QList<Match> allMatchesWithGroups(const Regex& re, const QString& text)
{
    QList<Match> found;
    forEachMatcher(re, text, [&](icu::RegexMatcher& matcher, qsizetype start, qsizetype end) {
        Match match{Range{start, end - start}, {}};
        const int32_t count = matcher.groupCount();
        for (int32_t g = 1; g <= count; ++g) {
            UErrorCode status = U_ZERO_ERROR;
            const int32_t from = matcher.start(g, status);
            const int32_t to = matcher.end(g, status);
            if (U_FAILURE(status) || from < 0)
                match.groups.append(std::nullopt);
            else
                match.groups.append(Range{qsizetype(from), qsizetype(to - from)});
        }
        found.append(std::move(match));
        return true;
    });
    return found;
}

QStringList split(const Regex& re, const QString& text)
{
    QStringList pieces;
    qsizetype from = 0;
    forEachMatch(re, text, [&](qsizetype start, qsizetype end) {
        pieces.append(text.mid(from, start - from));
        from = end;
        return true;
    });
    pieces.append(text.mid(from));
    return pieces;
}

QString sub(const Regex& re, const QString& replacement, const QString& text)
{
    QString out;
    qsizetype from = 0;
    bool matched = false;
    forEachMatch(re, text, [&](qsizetype start, qsizetype end) {
        out.append(QStringView(text).mid(from, start - from));
        out.append(replacement);
        from = end;
        matched = true;
        return true;
    });
    if (!matched)
        return text;
    out.append(QStringView(text).mid(from));
    return out;
}

} // namespace PyRegex

// ---------------------------------------------------------------- CRC32

namespace CRC32 {

std::int64_t ofUtf8(const char* data, qsizetype size)
{
    // zlib's crc32 is the same reflected 0xEDB88320 checksum with initial and
    // final inversion; it is fed in pieces because its length is 32-bit.
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* bytes = reinterpret_cast<const Bytef*>(data);
    while (size > 0) {
        const uInt chunk = uInt(std::min<qsizetype>(size, 1 << 30));
        crc = crc32(crc, bytes, chunk);
        bytes += chunk;
        size -= chunk;
    }
    return std::int64_t(crc & 0xFFFFFFFFu);
}

std::int64_t of(const QString& s)
{
    const QByteArray utf8 = s.toUtf8();
    return ofUtf8(utf8.constData(), utf8.size());
}

} // namespace CRC32

} // namespace quorvel
