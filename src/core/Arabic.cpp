#include "core/Arabic.h"

#include "core/Settings.h"

#include <QVarLengthArray>

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

// A cheap test that a candidate can end in one of the table's words: the
// letter before the و must be the one some table word has there. Plural
// verbs (كانوا, قالوا) are frequent and never fold, so they stop here.
bool mayEndInRasmWord(const char16_t* w, qsizetype n)
{
    const char16_t before = w[n - 3];
    if (w[n - 1] == alef)
        return before == 0x0628; // ربوا
    switch (before) {
    case 0x0644: // صلوه
    case 0x0643: // زكوه, مشكوه
    case 0x064A: // حيوه
    case 0x062C: // نجوه
    case 0x062F: // غدوه
    case 0x0646: // منوه
        return true;
    default:
        return false;
    }
}

// A word of the output buffer, as start and end offsets.
using WordSpan = std::pair<qsizetype, qsizetype>;
using RasmSpans = QVarLengthArray<WordSpan, 16>;

// The rasm folding of the listed words of `text` (already normalised); the
// text is rebuilt only when some word changes.
QString foldRasm(QString text, const RasmSpans& spans)
{
    QString out;
    qsizetype copied = 0; // units of `text` already moved to `out`
    for (const auto& [start, end] : spans) {
        const QString word = text.mid(start, end - start);
        const QString folded = rasmWord(word);
        if (folded == word)
            continue;
        if (out.isNull())
            out.reserve(text.size());
        out.append(QStringView(text).mid(copied, start - copied));
        out.append(folded);
        copied = end;
    }
    if (out.isNull())
        return text;
    out.append(QStringView(text).mid(copied));
    return out;
}

// The folded form of a unit, 0 when it does not fold.
constexpr char16_t foldedOf(char16_t u)
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
        return 0;
    }
}

} // namespace

MarkGroup markGroup(char16_t u)
{
    if (u < 0x064B)
        return MarkGroup::None;
    if (u <= 0x0652)
        return MarkGroup::Harakat;
    if (u <= 0x065F)
        return MarkGroup::Further;
    if (u == 0x0670)
        return MarkGroup::SuperscriptAlef;
    if (u >= 0x06D6 && u <= 0x06ED)
        return MarkGroup::Quranic;
    if (u >= 0x08D3 && u <= 0x08FF)
        return MarkGroup::Extended;
    return MarkGroup::None;
}

bool isDrop(char16_t u)
{
    const MarkGroup group = markGroup(u);
    return (group != MarkGroup::None && group != MarkGroup::Further) || u == tatweel;
}

bool isMark(char16_t u)
{
    return markGroup(u) != MarkGroup::None;
}

std::optional<char16_t> mapped(char16_t u)
{
    const char16_t folded = foldedOf(u);
    return folded ? std::optional<char16_t>(folded) : std::nullopt;
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

namespace {

// What the normal form does with each unit value, so the main loop costs one
// lookup per unit.
enum UnitClass : std::uint8_t { separatorUnit, letterUnit, droppedUnit, foldedUnit, surrogateUnit };

const std::array<std::uint8_t, 65536>& unitClasses()
{
    static const std::unique_ptr<const std::array<std::uint8_t, 65536>> table = [] {
        auto t = std::make_unique<std::array<std::uint8_t, 65536>>();
        const auto& alnum = alnumTable();
        for (std::uint32_t u = 0; u < 0x10000; ++u) {
            const char16_t c = char16_t(u);
            (*t)[u] = U16_IS_SURROGATE(c) ? surrogateUnit
                : isDrop(c)               ? droppedUnit
                : mapped(c)               ? foldedUnit
                : alnum[u]                ? letterUnit
                                          : separatorUnit;
        }
        return t;
    }();
    return *table;
}

} // namespace

// One pass over the units with a table lookup each; only surrogate pairs go
// to the full property test. Words that may need rasm folding are noted as
// they end, so folding needs no second pass. See the header for the result.
QString normalize(const QString& s, bool rasmFold)
{
    const auto& classes = unitClasses();
    const char16_t* in = reinterpret_cast<const char16_t*>(s.constData());
    const qsizetype n = s.size();
    QString result(n, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    qsizetype len = 0;
    qsizetype wordStart = 0;
    RasmSpans rasmSpans;
    const auto endWord = [&] {
        const qsizetype w = len - wordStart;
        if (rasmFold && rasmCandidate(out + wordStart, w) && mayEndInRasmWord(out + wordStart, w))
            rasmSpans.append({wordStart, len});
    };
    bool atSeparator = true;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = in[i];
        switch (classes[u]) {
        case letterUnit:
            out[len++] = u;
            atSeparator = false;
            break;
        case droppedUnit:
            break;
        case foldedUnit:
            out[len++] = foldedOf(u);
            atSeparator = false;
            break;
        case surrogateUnit:
            if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(in[i + 1])) {
                const char32_t c = U16_GET_SUPPLEMENTARY(u, in[i + 1]);
                ++i;
                if (isAlnumScalar(c)) {
                    out[len++] = u;
                    out[len++] = in[i];
                    atSeparator = false;
                    break;
                }
            }
            [[fallthrough]]; // a symbol pair or a lone surrogate separates words
        default:
            if (!atSeparator) {
                endWord();
                out[len++] = space;
                wordStart = len;
                atSeparator = true;
            }
            break;
        }
    }
    if (!atSeparator)
        endWord();
    else if (len > 0)
        --len; // the trailing space
    result.truncate(len);
    if (rasmSpans.isEmpty())
        return result;
    return foldRasm(std::move(result), rasmSpans);
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
