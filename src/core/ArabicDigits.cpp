#include "core/Arabic.h"

#include "core/Characters.h"
#include "core/Settings.h"

#include <unicode/uchar.h>

#include <cmath>

namespace quorvel::Arabic {

namespace {

constexpr char16_t kDecimalSeparator = 0x066B; // «٫»

// First code points of the Latin, Arabic-Indic and Extended Arabic-Indic
// digit families, in the order of `digitForms`.
constexpr std::array<char16_t, 3> kFamilyBases = {0x0030, 0x0660, 0x06F0};
constexpr char16_t kArabicIndicZero = 0x0660;

// The digits are all in the Basic Multilingual Plane, so a surrogate unit is
// never one and per-unit tests equal per-code-point tests.
std::optional<int> unitDigitValue(char16_t u)
{
    for (const char16_t base : kFamilyBases)
        if (u >= base && u <= base + 9)
            return int(u - base);
    return std::nullopt;
}

// The code point of a character made of exactly one code point, or nothing.
std::optional<char32_t> singleScalar(const QString& s, qsizetype start, qsizetype end)
{
    if (end - start == 1 && !s[start].isSurrogate())
        return char32_t(s[start].unicode());
    if (end - start == 2 && s[start].isHighSurrogate() && s[start + 1].isLowSurrogate())
        return char32_t(QChar::surrogateToUcs4(s[start], s[start + 1]));
    return std::nullopt;
}

// The whole-number value of a code point (a numeral of any script), or nothing
// for a fraction or a code point without a numeric value.
std::optional<long long> wholeNumberValue(char32_t c)
{
    const double value = u_getNumericValue(UChar32(c));
    if (value == U_NO_NUMERIC_VALUE || value != std::floor(value))
        return std::nullopt;
    return static_cast<long long>(value);
}

} // namespace

std::optional<int> digitValue(char32_t c)
{
    return c < 0x10000 ? unitDigitValue(char16_t(c)) : std::nullopt;
}

bool isDigits(const QString& s)
{
    if (s.isEmpty())
        return false;
    for (const QChar c : s)
        if (!unitDigitValue(c.unicode()))
            return false;
    return true;
}

bool hasDigit(const QString& s)
{
    for (const QChar c : s)
        if (unitDigitValue(c.unicode()))
            return true;
    return false;
}

std::array<QString, 3> digitForms(const QString& s)
{
    std::array<QString, 3> forms;
    for (QString& f : forms)
        f.reserve(s.size());
    for (const QChar c : s) {
        if (const auto v = unitDigitValue(c.unicode())) {
            for (std::size_t k = 0; k < kFamilyBases.size(); ++k)
                forms[k].append(QChar(char16_t(kFamilyBases[k] + *v)));
        }
    }
    return forms;
}

QString foldDigits(const QString& s)
{
    return digitForms(s)[0];
}

std::optional<QString> stripTrailingDigits(const QString& s)
{
    qsizetype end = s.size();
    while (end > 0 && unitDigitValue(s[end - 1].unicode()))
        --end;
    if (end == s.size() || end == 0)
        return std::nullopt;
    return s.left(end);
}

// Latin digits standing alone as characters become Arabic-Indic; a digit that
// forms one character with a neighbour (a combining mark after it, an Arabic
// number sign before it) is left as written.
QString digits(const QString& s)
{
    if (!Settings::indicDigits())
        return s;
    bool any = false;
    for (const QChar c : s)
        any = any || (c.unicode() >= u'0' && c.unicode() <= u'9');
    if (!any)
        return s;
    QString out = s;
    Characters::forEach(s, [&](qsizetype start, qsizetype end) {
        const char16_t u = s[start].unicode();
        if (end - start == 1 && u >= u'0' && u <= u'9')
            out[start] = QChar(char16_t(kArabicIndicZero + (u - u'0')));
        return true;
    });
    return out;
}

QString num(long long n)
{
    return digits(QString::number(n));
}

QString decimal(double value, int places)
{
    const QString latin = QString::number(value, 'f', places);
    if (!Settings::indicDigits())
        return latin;
    // A point among Arabic-Indic digits reads as a zero; the Arabic
    // decimal separator does not.
    return digits(latin).replace(u'.', QChar(kDecimalSeparator));
}

QString version(const QString& text)
{
    if (!Settings::indicDigits())
        return text;
    return digits(text).replace(u'.', QChar(kDecimalSeparator));
}

QString latinDigits(const QString& s)
{
    bool any = false;
    for (const QChar c : s)
        any = any || c.unicode() >= 0x80;
    if (!any)
        return s;
    QString out;
    out.reserve(s.size());
    Characters::forEach(s, [&](qsizetype start, qsizetype end) {
        const QStringView character = QStringView(s).mid(start, end - start);
        const auto scalar = singleScalar(s, start, end);
        if (scalar && *scalar >= 0x80) {
            if (const auto value = wholeNumberValue(*scalar)) {
                const long long target = 0x30 + *value;
                if (*value >= 0 && target <= 0x10FFFF && !(target >= 0xD800 && target <= 0xDFFF)) {
                    const char32_t cp = char32_t(target);
                    out.append(QString::fromUcs4(&cp, 1));
                    return true;
                }
            }
        }
        out.append(character);
        return true;
    });
    return out;
}

} // namespace quorvel::Arabic
