#pragma once

// Notes of two letters each, no two alike: the many short notes of one page
// that a notes import must each find held or new in the page's text, shared
// by the import's tests and its benchmark so that both time and check the
// same notes.

#include <QChar>
#include <QString>
#include <QStringList>

namespace quorvel::test {

// The first `count` of them, in a fixed order.
inline QStringList twoLetterNotes(int count)
{
    QStringList notes;
    notes.reserve(count);
    for (int i = 0; i < count; ++i)
        notes << QString(QChar(0x4E00 + i / 128)) + QChar(0x5E00 + i % 128);
    return notes;
}

} // namespace quorvel::test
