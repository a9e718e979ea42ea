#pragma once

// A made-up catalogue for the benchmarks that need more books than the
// sample release has: titles and author names drawn from common title words
// by a fixed seed, some authors and books without a year.

#include "core/SQLiteDB.h"

namespace quorvel::bench {

// Writes the categories, authors and books into a database that has the
// library schema; false when the transaction failed.
bool fillGeneratedCatalog(SQLiteDB& db, int books, int authors, int categories);

} // namespace quorvel::bench
