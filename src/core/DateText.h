#pragma once

// Dates as ICU's Arabic locales write them. ICU's formatter is opened, used
// and closed here alone, so every date the windows and exports write follows
// the same rules. Any thread may call these.

#include <QString>

#include <unicode/udat.h>

#include <optional>

namespace quorvel::DateText {

// The locale whose digits follow the user's preference: Arabic-Indic digits
// ("ar") or Latin digits in an Arabic locale ("ar_AE@numbers=latn").
const char* digitsLocale();

// The moment `secondsSince1970` written with an ICU pattern ("d MMM، HH:mm")
// in `locale`, in the system's time zone; nothing when ICU cannot.
std::optional<QString> withPattern(double secondsSince1970, const QString& pattern, const char* locale);

// The moment written with ICU's own date and time styles (UDAT_NONE leaves
// that half out) in `locale`, in the named time zone or, when `zone` is
// empty, the system's; nothing when ICU cannot.
std::optional<QString> withStyles(double secondsSince1970, UDateFormatStyle dateStyle, UDateFormatStyle timeStyle,
                                  const char* locale, const QString& zone = QString());

} // namespace quorvel::DateText
