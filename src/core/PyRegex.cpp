#include "core/PyRegex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

namespace quorvel {

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

} // namespace quorvel
