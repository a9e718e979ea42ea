#pragma once

#include "core/SQLiteDB.h"

#include <QString>

#include <memory>

namespace quorvel::test {

// Refills `narrators`, `isnad_edges` and `shingles` of a library whose pages
// are stored, page by page in id order, the way the book installer does:
// each page that has an isnad gets its chain's narrators and one edge per
// pair of neighbouring names, earlier name as student; every page gets its
// distinct shingle hashes. True when every statement ran.
bool fillDerivedTables(SQLiteDB& db);

// The tests/data library built in `dir` with its derived tables filled,
// opened read-write; null when building failed.
std::shared_ptr<SQLiteDB> corpusLibrary(const QString& dir);

// An empty library (schema only) in `dir`, opened read-write.
std::shared_ptr<SQLiteDB> emptyLibrary(const QString& dir);

} // namespace quorvel::test
