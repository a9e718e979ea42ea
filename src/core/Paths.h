#pragma once

// Where the system keeps its per-user files. Core needs the local store's
// path to locate the library, so it lives here rather than beside the store.

#include <QString>

namespace quorvel::Paths {

// The per-user support folder ".../QuorvelLibrary" under the generic data
// location (under $CFFIXED_USER_HOME when that sandbox home is set), with a
// trailing "/". Computed once per process; created with its parents on first
// use, a failure to create it being ignored.
QString supportDir();

// The file name of the local store's library database.
inline constexpr char localStoreFileName[] = "library.db";

// The local store's library database: $QUORVEL_LIBDB when set (even empty),
// else supportDir() + localStoreFileName, as the environment is at the call.
QString localStorePath();

// The smart data directory (word model and page vectors) of the local store:
// $QUORVEL_SMARTDIR when set, else supportDir() + "smart". Computed once per
// process and created with its parents, a failure to create it being ignored.
QString smartDir();

// The editing machine's master library database under the given home folder:
// a developer aid that the library locator, the distribution tool's comparison
// and the search tool look for, absent everywhere else.
QString developerDatabasePath(const QString& home);

// Why localStorePath() must not be opened, in Arabic; empty when it may.
// An empty $QUORVEL_LIBDB would give SQLite a private temporary database and
// a value that is not UTF-8 names another file than the one given, so both
// are refused rather than written to.
QString localStorePathProblem();

} // namespace quorvel::Paths
