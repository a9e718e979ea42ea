#pragma once

// A store for another build of quorvel to search beside this one's, in the
// same run. Each build reads the page index only in the version its own
// writer makes, and searches a store indexed by another build without it:
// served the same file, the other build would be timed on its slow path.
// So the other build gets a copy of the store whose page index its own
// installer brought up to date: an install from an empty folder opens the
// store, catches it up as it does any store of an earlier version, and then
// finds no release to install.

#include <QString>

#include <optional>

namespace quorvel::bench {

// The copy of `store` for the build `quorvel`, at `copyPath`; a copy kept
// there from an earlier run is taken as it is. Nothing on failure, after a
// line on stderr.
std::optional<QString> baselineStore(const QString& quorvel, const QString& store, const QString& copyPath);

} // namespace quorvel::bench
