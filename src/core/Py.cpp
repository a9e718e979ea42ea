#include "core/Py.h"

#include <QtGlobal>

#include <cmath>
#include <limits>

namespace quorvel {

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

} // namespace quorvel
