#pragma once

// User-perceived characters (extended grapheme clusters), as ICU finds them,
// and the space-and-tab trim. Offsets are UTF-16 units of the text given.
// Where ICU's data is missing, every code point counts as one character.

#include <QStringView>

#include <functional>
#include <limits>

namespace quorvel::Characters {

// Calls `visit(start, end)` for each character in order; a false answer stops.
void forEach(QStringView text, const std::function<bool(qsizetype start, qsizetype end)>& visit);

// How many characters `text` holds; counting stops at `cap + 1`, so a caller
// comparing against a limit does not walk a huge text to the end.
qsizetype count(QStringView text, qsizetype cap = std::numeric_limits<qsizetype>::max() - 1);

// Where the first `n` characters end.
qsizetype endOfFirst(QStringView text, qsizetype n);

// Whether `at` falls between two characters (or at either end).
bool isBoundary(QStringView text, qsizetype at);

// A space of any width or a tab; line breaks are not.
inline bool isSpaceOrTab(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

// `text` without the units `drop` accepts at either end.
template <typename Drop>
QStringView trim(QStringView text, Drop drop)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && drop(text[begin]))
        ++begin;
    while (end > begin && drop(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// `text` without spaces of any width and tabs at its ends; line breaks stay.
inline QStringView trimSpacesAndTabs(QStringView text)
{
    return trim(text, isSpaceOrTab);
}

} // namespace quorvel::Characters
