#pragma once

// The definition of a library database: every table, index and the
// full-text table that readers of a library rely on. The local store runs
// it when it opens its file, and test fixtures build their libraries with it,
// so the two never disagree. Every statement is "IF NOT EXISTS": running it
// on an existing library changes nothing.

#include <QString>

namespace quorvel {

class SQLiteDB;

namespace LibrarySchema {

// The schema as one batch of statements for SQLiteDB::exec.
const QString& text();

// Runs the schema on a read-write connection, and brings the shingle runs of
// a library of an earlier layout up to this one; true when every statement ran.
bool create(SQLiteDB& db);

} // namespace LibrarySchema
} // namespace quorvel
