#pragma once

// The structured reports of the assistant and the tables they share with the
// data answers: century names and Arabic count phrases with noun agreement.

#include <QString>

#include <array>

namespace quorvel::Reports {

// The four noun forms a count phrase chooses from: one, two, three to ten,
// and the accusative singular of every other number.
using Forms = std::array<QString, 4>;

// Books, pages and places.
const Forms& kutub();
const Forms& safahat();
const Forms& mawadi();

// The ordinal words of the Hijri centuries, indexed by century number; entry
// 0 is empty and never shown.
const std::array<QString, 16>& centuryNames();

// The count phrase of `m`: the form for one or two alone, otherwise the
// number in the user's digits, a space and the plural (when m modulo 100 is
// 3 to 10) or the accusative singular.
QString count(long long m, const Forms& forms);

} // namespace quorvel::Reports
