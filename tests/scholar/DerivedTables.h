#pragma once

#include "core/SQLiteDB.h"

#include <QString>

#include <memory>

namespace quorvel::test {

// The tests/data library built in `dir` through the book installer with
// shingles on, so its narrators, edges and shingles are what an install
// stores; opened read-write; null when building failed.
std::shared_ptr<SQLiteDB> corpusLibrary(const QString& dir);

// An empty library (schema only) in `dir`, opened read-write.
std::shared_ptr<SQLiteDB> emptyLibrary(const QString& dir);

} // namespace quorvel::test
