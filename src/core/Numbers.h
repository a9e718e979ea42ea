#pragma once

// Whole numbers read from text the strict way: the library's stored values,
// command-line arguments and tool arguments all accept the same form, so a
// number one of them takes is never refused by another.

#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel::Numbers {

// A plain decimal integer: an optional "+" or "-", then ASCII digits only,
// within 64 bits; nothing for anything else (spaces, other digits, a
// fraction, an empty text).
std::optional<std::int64_t> parseInteger(const QString& text);

} // namespace quorvel::Numbers
