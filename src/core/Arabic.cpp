#include "core/Arabic.h"

#include "core/Settings.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>

namespace quorvel::Arabic {

namespace {

constexpr char16_t space = u' ';
constexpr char16_t tatweel = 0x0640;
constexpr char16_t alef = 0x0627;
constexpr char16_t waw = 0x0648;
constexpr char16_t heh = 0x0647;

// The newest Unicode version whose characters count as letters and digits.
constexpr UVersionInfo alnumAgeLimit = {13, 0, 0, 0};

// Whether a normalised word is a candidate for rasm folding: at least three
// units, ending in و followed by ه or ا.
bool rasmCandidate(const char16_t* w, qsizetype n)
{
    return n >= 3 && w[n - 2] == waw && (w[n - 1] == heh || w[n - 1] == alef);
}

// Appends the rasm folding of each word of `text` (already normalised),
// rebuilding the text only when some word changes.
QString foldRasm(QString text)
{
    const char16_t* u = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    QString out;
    qsizetype copied = 0; // units of `text` already moved to `out`
    qsizetype start = 0;
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && u[i] != space)
            continue;
        if (rasmCandidate(u + start, i - start)) {
            const QString word = text.mid(start, i - start);
            const QString folded = rasmWord(word);
            if (folded != word) {
                if (out.isNull())
                    out.reserve(n);
                out.append(QStringView(text).mid(copied, start - copied));
                out.append(folded);
                copied = i;
            }
        }
        start = i + 1;
    }
    if (out.isNull())
        return text;
    out.append(QStringView(text).mid(copied));
    return out;
}

} // namespace

bool isDrop(char16_t u)
{
    return (u >= 0x064B && u <= 0x0652) || u == 0x0670 || (u >= 0x06D6 && u <= 0x06ED)
        || u == tatweel || (u >= 0x08D3 && u <= 0x08FF);
}

bool isMark(char16_t u)
{
    return (u >= 0x064B && u <= 0x065F) || u == 0x0670 || (u >= 0x06D6 && u <= 0x06ED)
        || (u >= 0x08D3 && u <= 0x08FF);
}

std::optional<char16_t> mapped(char16_t u)
{
    switch (u) {
    case 0x0622: // آ
    case 0x0623: // أ
    case 0x0625: // إ
    case 0x0671: // ٱ
        return alef;
    case 0x0629: // ة
        return heh;
    case 0x0649: // ى
        return char16_t(0x064A);
    default:
        return std::nullopt;
    }
}

bool isAlnumScalar(char32_t c)
{
    if (c > 0x10FFFF)
        return false;
    const UChar32 cp = UChar32(c);
    UVersionInfo age;
    u_charAge(cp, age);
    // Age 0.0 means unassigned; anything after the limit is unknown to the rule.
    if (age[0] == 0 && age[1] == 0)
        return false;
    if (std::memcmp(age, alnumAgeLimit, sizeof age) > 0)
        return false;
    const auto mask = U_GET_GC_MASK(cp);
    constexpr auto lettersAndNumbers = U_GC_LU_MASK | U_GC_LL_MASK | U_GC_LT_MASK | U_GC_LM_MASK
        | U_GC_LO_MASK | U_GC_ND_MASK | U_GC_NL_MASK | U_GC_NO_MASK;
    if (mask & lettersAndNumbers)
        return true;
    return u_getIntPropertyValue(cp, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

const std::array<bool, 65536>& alnumTable()
{
    static const std::unique_ptr<const std::array<bool, 65536>> table = [] {
        auto t = std::make_unique<std::array<bool, 65536>>();
        for (char32_t u = 0; u < 0x10000; ++u)
            (*t)[u] = !U16_IS_SURROGATE(u) && isAlnumScalar(u);
        return t;
    }();
    return *table;
}

SurrogatePair surrogatePair(QStringView units, qsizetype i)
{
    if (i < 0 || i + 1 >= units.size())
        return {};
    const char16_t hi = units[i].unicode();
    const char16_t lo = units[i + 1].unicode();
    if (!U16_IS_LEAD(hi) || !U16_IS_TRAIL(lo))
        return {};
    return {true, isAlnumScalar(char32_t(U16_GET_SUPPLEMENTARY(hi, lo)))};
}

const QHash<QString, QString>& rasm()
{
    static const QHash<QString, QString> table = {
        {QStringLiteral(u"صلوه"), QStringLiteral(u"صلاه")},
        {QStringLiteral(u"زكوه"), QStringLiteral(u"زكاه")},
        {QStringLiteral(u"حيوه"), QStringLiteral(u"حياه")},
        {QStringLiteral(u"مشكوه"), QStringLiteral(u"مشكاه")},
        {QStringLiteral(u"نجوه"), QStringLiteral(u"نجاه")},
        {QStringLiteral(u"غدوه"), QStringLiteral(u"غداه")},
        {QStringLiteral(u"منوه"), QStringLiteral(u"مناه")},
        {QStringLiteral(u"ربوا"), QStringLiteral(u"ربا")},
    };
    return table;
}

const QStringList& rasmPrefixes()
{
    static const QStringList prefixes = {
        QStringLiteral(u"ال"), QStringLiteral(u"وال"), QStringLiteral(u"بال"), QStringLiteral(u"كال"),
        QStringLiteral(u"فال"), QStringLiteral(u"لل"), QStringLiteral(u"و"), QStringLiteral(u"ف"),
        QStringLiteral(u"ب"), QStringLiteral(u"ل"), QStringLiteral(u"ك"),
    };
    return prefixes;
}

// One pass over the units with a table lookup each; only surrogate pairs go
// to the full property test. See the header for what the result holds.
QString normalize(const QString& s, bool rasmFold)
{
    const auto& alnum = alnumTable();
    const char16_t* in = reinterpret_cast<const char16_t*>(s.constData());
    const qsizetype n = s.size();
    QString result(n, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    qsizetype len = 0;
    bool atSeparator = true;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = in[i];
        if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(in[i + 1])) {
            if (isAlnumScalar(char32_t(U16_GET_SUPPLEMENTARY(u, in[i + 1])))) {
                out[len++] = u;
                out[len++] = in[i + 1];
                atSeparator = false;
            } else if (!atSeparator) {
                out[len++] = space;
                atSeparator = true;
            }
            ++i;
            continue;
        }
        if (isDrop(u))
            continue;
        if (const auto folded = mapped(u)) {
            out[len++] = *folded;
            atSeparator = false;
        } else if (alnum[u]) {
            out[len++] = u;
            atSeparator = false;
        } else if (!atSeparator) {
            out[len++] = space;
            atSeparator = true;
        }
    }
    if (len > 0 && out[len - 1] == space)
        --len;
    result.truncate(len);
    return rasmFold ? foldRasm(std::move(result)) : result;
}

QStringList tokens(const QString& s)
{
    return normalize(s, true).split(space, Qt::SkipEmptyParts);
}

QString rasmWord(const QString& w)
{
    const qsizetype n = w.size();
    if (n < 2)
        return w;
    const char16_t last = w[n - 1].unicode();
    if ((last != heh && last != alef) || w[n - 2].unicode() != waw)
        return w;
    const auto& table = rasm();
    if (const auto it = table.constFind(w); it != table.cend())
        return it.value();
    for (const QString& prefix : rasmPrefixes()) {
        if (!w.startsWith(prefix))
            continue;
        if (const auto it = table.constFind(w.mid(prefix.size())); it != table.cend())
            return prefix + it.value();
    }
    return w;
}

QString stripMarks(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (!isMark(u) && u != tatweel)
            out.append(c);
    }
    return out;
}

namespace {

// A number of one to three digits in brackets (with one optional white-space
// character before), or glued to an Arabic letter or short vowel.
const icu::RegexPattern& footnoteRef()
{
    static const std::unique_ptr<icu::RegexPattern> compiled = [] {
        const icu::UnicodeString source(
            u"\\s?[(\\[\u00AB]\\s*[0-9\u0660-\u0669]{1,3}\\s*[)\\]\u00BB]"
            u"|(?<=[\u0621-\u064A\u064B-\u0652])[0-9\u0660-\u0669]{1,3}");
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        std::unique_ptr<icu::RegexPattern> p(
            icu::RegexPattern::compile(source, 0, parseError, status));
        if (U_FAILURE(status) || !p) {
            std::fprintf(stderr, "footnote reference pattern does not compile: %s\n",
                         u_errorName(status));
            std::abort();
        }
        return p;
    }();
    return *compiled;
}

QString removeFootnoteRefs(const QString& s)
{
    const icu::UnicodeString text(false, reinterpret_cast<const UChar*>(s.constData()),
                                  int32_t(s.size()));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(footnoteRef().matcher(text, status));
    if (U_FAILURE(status) || !matcher)
        return s;
    const icu::UnicodeString replaced = matcher->replaceAll(icu::UnicodeString(), status);
    if (U_FAILURE(status))
        return s;
    return QString(reinterpret_cast<const QChar*>(replaced.getBuffer()), replaced.length());
}

} // namespace

QString forCopy(const QString& s)
{
    QString out = s;
    if (Settings::copyNoFootnoteRefs())
        out = removeFootnoteRefs(out);
    if (Settings::copyNoTashkeel())
        out = stripMarks(out);
    return out;
}

} // namespace quorvel::Arabic
