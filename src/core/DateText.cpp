#include "core/DateText.h"

#include "core/Settings.h"

#include <algorithm>

namespace quorvel::DateText {

namespace {

constexpr char kIndicLocale[] = "ar";
constexpr char kLatinLocale[] = "ar_AE@numbers=latn";
constexpr int32_t kCapacity = 128;

const UChar* units(const QString& text)
{
    return text.isEmpty() ? nullptr : reinterpret_cast<const UChar*>(text.utf16());
}

// Formats with an opened formatter and closes it.
std::optional<QString> format(UDateFormat* formatter, UErrorCode status, double secondsSince1970)
{
    if (U_FAILURE(status) || !formatter) {
        if (formatter)
            udat_close(formatter);
        return std::nullopt;
    }
    UChar buffer[kCapacity];
    const int32_t length = udat_format(formatter, UDate(secondsSince1970 * 1000.0), buffer, kCapacity, nullptr, &status);
    udat_close(formatter);
    if (U_FAILURE(status))
        return std::nullopt;
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), std::min(length, kCapacity));
}

} // namespace

const char* digitsLocale()
{
    return Settings::indicDigits() ? kIndicLocale : kLatinLocale;
}

std::optional<QString> withPattern(double secondsSince1970, const QString& pattern, const char* locale)
{
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* formatter = udat_open(UDAT_PATTERN, UDAT_PATTERN, locale, nullptr, -1, units(pattern),
                                       int32_t(pattern.size()), &status);
    return format(formatter, status, secondsSince1970);
}

std::optional<QString> withStyles(double secondsSince1970, UDateFormatStyle dateStyle, UDateFormatStyle timeStyle,
                                  const char* locale, const QString& zone)
{
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* formatter = udat_open(timeStyle, dateStyle, locale, units(zone), zone.isEmpty() ? -1 : int32_t(zone.size()),
                                       nullptr, -1, &status);
    return format(formatter, status, secondsSince1970);
}

} // namespace quorvel::DateText
