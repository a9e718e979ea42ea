#pragma once

// The full name under which the library files a narrator whom the chains
// name by a bare given name («سالم», «عبيد الله»): of the library's fuller
// names that open with his (a father after it, or a nisba), the one whose
// chains share his teachers and students. A question asked with the bare
// name finds every namesake; asked with this name it finds him.
//
// Reads the narrators' graph through the caller's connection; a failed
// query, a name that is not bare, or chains that point to no one fuller
// name give the stored name back unchanged. Any thread that owns `db`.

#include <QString>

#include <cstdint>

namespace quorvel {

class SQLiteDB;

namespace Isnad {

QString fullName(SQLiteDB& db, std::int64_t narratorId);

} // namespace Isnad
} // namespace quorvel
