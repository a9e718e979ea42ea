#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

struct Author {
    std::int64_t id = 0;
    QString name;                      // cleaned at load (Library::cleanAuthor)
    std::optional<std::int64_t> death; // Hijri year; negative: before the Hijra
    std::optional<QString> deathText;  // the death date as the source writes it

    // The name with its death year for display: empty for a placeholder
    // name ("", "—", "-"); the bare name when the year is unknown, 0 or 1;
    // otherwise the name followed by "(ت year)", years before the Hijra
    // marked "ق.هـ". Digits follow the digits preference.
    QString display() const;
};

} // namespace quorvel
