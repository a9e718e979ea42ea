#pragma once

// Library databases for the benchmarks, built from a corpus in the JSON book
// layout (catalog.json beside books/NNN.json), scaled up by copying it.

#include "core/Json.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel::bench {

// Each copy's books take ids copy × bookIdStride + their own id.
inline constexpr std::int64_t bookIdStride = 100000;

// Writes `copies` copies of the corpus into a new library database at dbPath,
// storing pages, their normal form and FTS rows the way the installer does,
// with categories, authors and tables of contents. Books whose file is not in
// the JSON book layout are skipped. Returns the number of pages written, or
// nothing when the catalogue cannot be read or the database written.
std::optional<std::int64_t> buildCorpusLibrary(const QString& catalogPath, int copies,
                                               const QString& dbPath);

} // namespace quorvel::bench
