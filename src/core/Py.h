#pragma once

// String helpers whose results must not depend on the platform's own text
// rules. The scholarly tools, the hybrid search and the book installer
// reproduce data defined by Python 3 semantics (white space, splitting,
// half-to-even rounding, stable sorting), so the same books always yield the
// same shingles, chains and numbers.

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <string>

namespace quorvel {

namespace Py {

// True for exactly the code points Python's str.isspace() accepts.
bool isSpace(char32_t c);

// The maximal runs of non-white-space code points, in order; no empty pieces.
QStringList split(const QString& s);

// `s` without white-space code points at either end.
QString strip(const QString& s);

// Length in Unicode code points (a surrogate pair counts once).
qsizetype len(const QString& s);

std::u32string scalars(const QString& s);
QString string(const std::u32string& scalars);

// Code-point-wise prefix and suffix tests; an empty `b` always matches.
bool hasPrefix(const std::u32string& a, const std::u32string& b);
bool hasSuffix(const std::u32string& a, const std::u32string& b);

// Nearest integer, ties to even (2.5 -> 2, 3.5 -> 4). `x` must be finite and
// within the 64-bit range.
std::int64_t round(double x);

// The UTF-16 units of `s` as a lexicographic sort key.
std::u16string key(const QString& s);

// The items ordered by `less`; items it leaves unordered keep their input
// order. The comparison falls back to the reversed comparison and then to the
// input position, so the result is defined even for a comparator that is not
// a strict weak order.
template <typename T, typename Less>
QList<T> stableSorted(const QList<T>& items, Less less)
{
    QList<qsizetype> order(items.size());
    for (qsizetype i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](qsizetype x, qsizetype y) {
        if (less(items[x], items[y]))
            return true;
        if (less(items[y], items[x]))
            return false;
        return x < y;
    });
    QList<T> sorted;
    sorted.reserve(items.size());
    for (qsizetype i : order)
        sorted.append(items[i]);
    return sorted;
}

} // namespace Py

} // namespace quorvel
