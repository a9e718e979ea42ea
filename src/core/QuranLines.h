#pragma once

// The Quran book's own page markup: each verse a line "sura|verse|text".
// Readers of page text that show it as prose (the assistant's passages, its
// reports and exports) write each such line as the verse is read, its text
// followed by its number in ornate brackets, so the record's markup never
// reaches a reader. Pure; any thread.

#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel::QuranLines {

struct VerseLine {
    std::int64_t sura = 0;
    std::int64_t verse = 0;
    qsizetype textStart = 0; // where the verse text starts in the line
};

// The two numbers opening a "sura|verse|text" line (any digits, spaces
// around them) and where its text starts; nothing for any other line.
std::optional<VerseLine> verseLine(QStringView line);

// `text` with every verse line written as its verse text, one space and the
// verse's number (in the digits preference) in ornate brackets; other lines
// as they are.
QString shown(const QString& text);

} // namespace quorvel::QuranLines
