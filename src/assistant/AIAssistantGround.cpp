#include "assistant/AIAssistant.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/PyRegex.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <limits>

namespace quorvel::AIAssistant {

namespace {

// The share of the reply's own content words that must occur in the quoted
// passages for its wording to count as theirs.
constexpr double kFaithfulShare = 0.66;

// A quotation: any opening mark, ten or more characters on one line, any
// closing mark.
const PyRegex::Regex& quotationPattern()
{
    static const PyRegex::Regex re = PyRegex::compile(QStringLiteral("[\"“«]([^\"”»\n]{10,})[\"”»]"));
    return re;
}

// A passage marker "[n]". \d is any decimal digit, so Arabic-Indic markers
// match here and are then left alone because they do not parse.
const PyRegex::Regex& markerPattern()
{
    static const PyRegex::Regex re = PyRegex::compile(QStringLiteral("\\[(\\d+)\\]"));
    return re;
}

// Where the markers written right after a quotation end: spaces or tabs,
// then "[n]" (any decimal digits, as the marker pattern takes them), as often
// as they repeat; `from` itself when none follows.
qsizetype pastTrailingMarkers(QStringView text, qsizetype from)
{
    for (;;) {
        qsizetype i = from;
        while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
            ++i;
        if (i >= text.size() || text[i] != u'[')
            return from;
        qsizetype j = i + 1;
        while (j < text.size() && text[j].isDigit())
            ++j;
        if (j == i + 1 || j >= text.size() || text[j] != u']')
            return from;
        from = j + 1;
    }
}

QString lowerRoot(const QString& text)
{
    icu::UnicodeString s(reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()));
    s.toLower(icu::Locale::getRoot());
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

// The quotation's pieces between ellipses ("…" or "..."), normalised, the
// empty ones dropped.
QStringList quotationParts(const QString& quotation)
{
    QStringList parts;
    for (const QString& piece : quotation.split(QChar(0x2026))) {
        for (const QString& sub : piece.split(QStringLiteral("..."))) {
            const QString norm = Arabic::normalize(sub);
            if (!norm.isEmpty())
                parts << norm;
        }
    }
    return parts;
}

// ASCII decimal digits that fit a 64-bit integer.
std::optional<std::int64_t> parseMarker(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    std::int64_t value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int d = c.unicode() - u'0';
        if (value > (std::numeric_limits<std::int64_t>::max() - d) / 10)
            return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

} // namespace

const QStringList& notFoundMarks()
{
    static const QStringList marks{
        QStringLiteral("لا يمكن العثور"),    QStringLiteral("لا يمكن الاجابه"),
        QStringLiteral("لا يوجد في السياق"), QStringLiteral("غير موجود في السياق"),
        QStringLiteral("غير مذكور في السياق"), QStringLiteral("لا يحتوي السياق"),
        QStringLiteral("لم يذكر في السياق"), QStringLiteral("لا تتوفر"),
        QStringLiteral("cannot be found"),   QStringLiteral("not found in the context"),
        QStringLiteral("not mentioned"),
    };
    return marks;
}

Grounded ground(const QString& reply, const QList<Passage>& passages)
{
    Grounded g;

    const QString normReply = Arabic::normalize(reply);
    const QString lowerReply = lowerRoot(reply);
    for (const QString& mark : notFoundMarks()) {
        const QString normMark = Arabic::normalize(mark);
        if ((!normMark.isEmpty() && normReply.contains(normMark)) || lowerReply.contains(mark)) {
            g.notFound = true;
            break;
        }
    }

    QStringList norms;
    norms.reserve(passages.size());
    for (const Passage& p : passages)
        norms << Arabic::normalize(p.text);

    const QList<PyRegex::Match> quotations = PyRegex::allMatchesWithGroups(quotationPattern(), reply);
    QString out;
    qsizetype read = 0;
    QSet<int> used;
    for (const PyRegex::Match& m : quotations) {
        out += QStringView(reply).mid(read, m.whole.start - read);
        // The model's own marker after a quotation belongs to it: it goes with
        // a dropped quotation, and a kept one carries its checked number.
        read = pastTrailingMarkers(reply, m.whole.end());
        const PyRegex::Range run = *m.groups.value(0);
        const QString q = Characters::trimSpacesAndTabs(QStringView(reply).mid(run.start, run.length)).toString();
        const QStringList parts = quotationParts(q);
        qsizetype holder = -1;
        if (!parts.isEmpty()) {
            for (qsizetype i = 0; i < norms.size() && holder < 0; ++i) {
                if (std::all_of(parts.begin(), parts.end(), [&](const QString& part) { return norms[i].contains(part); }))
                    holder = i;
            }
        }
        if (holder < 0) {
            ++g.failed;
            continue;
        }
        const int n = passages[holder].n;
        out += QStringLiteral("\n«") + q + QStringLiteral("» [") + QString::number(n) + QStringLiteral("]\n");
        ++g.quotes;
        used.insert(n);
    }
    out += QStringView(reply).mid(read);

    QSet<std::int64_t> numbers;
    for (const Passage& p : passages)
        numbers.insert(p.n);
    const QList<PyRegex::Match> markers = PyRegex::allMatchesWithGroups(markerPattern(), out);
    for (auto it = markers.crbegin(); it != markers.crend(); ++it) {
        const PyRegex::Range digits = *it->groups.value(0);
        const std::optional<std::int64_t> n = parseMarker(QStringView(out).mid(digits.start, digits.length));
        if (n && !numbers.contains(*n))
            out.remove(it->whole.start, it->whole.length);
    }
    out.replace(QStringLiteral("\n\n\n"), QStringLiteral("\n\n"));
    g.text = out.trimmed();

    QString prose;
    qsizetype from = 0;
    for (const PyRegex::Match& m : quotations) {
        prose += QStringView(reply).mid(from, m.whole.start - from);
        prose += u' ';
        from = m.whole.end();
    }
    prose += QStringView(reply).mid(from);
    const QStringList own = terms(prose);
    if (own.isEmpty()) {
        g.faithful = true;
    } else {
        QStringList quoted;
        for (qsizetype i = 0; i < passages.size(); ++i) {
            if (used.isEmpty() || used.contains(passages[i].n))
                quoted << norms[i];
        }
        const QString joined = quoted.join(u' ');
        const auto covered = std::count_if(own.begin(), own.end(), [&](const QString& t) { return joined.contains(t); });
        g.faithful = double(covered) / double(own.size()) >= kFaithfulShare;
    }
    return g;
}

} // namespace quorvel::AIAssistant
