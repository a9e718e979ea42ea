#pragma once

// Small helpers for the Arabic text tests.

#include <QString>

#include <initializer_list>
#include <ostream>

// Readable failure messages: QString as UTF-8 text instead of raw bytes.
static inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace quorvel::test {

// A string of the given UTF-16 units, for text that literals cannot carry
// (lone surrogates, separate marks).
inline QString units(std::initializer_list<char16_t> list)
{
    QString s;
    for (const char16_t u : list)
        s.append(QChar(u));
    return s;
}

} // namespace quorvel::test
