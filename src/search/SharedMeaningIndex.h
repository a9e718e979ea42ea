#pragma once

// The one process-wide semantic index that the search, the word panel and the
// assistant share: loaded once (on first use, or by the background preload at
// start-up) from the data directory of the open library, and forgotten by
// reset() after the page vectors were rebuilt, so the next use loads the new
// files. A failed load is not retried until reset(). Every function may run
// on any thread; concurrent first uses load once and wait for each other.

#include "search/SemanticIndex.h"

#include <QString>

#include <memory>
#include <optional>

namespace quorvel::SharedMeaningIndex {

// The folder the shared index loads from: the smart data directory for the
// local store, else the folder of the library database (through one symbolic
// link, so a linked database finds the vectors beside its real file).
// Nothing while no library is open.
std::optional<QString> dataDir();

// The shared index, loading it when not yet tried; nothing when
// $QUORVEL_NO_SMART is set (even empty), while no library is open, or when the
// vector files are missing or unreadable.
std::shared_ptr<const SemanticIndex> index();

// Starts loading the index in the background and returns at once.
void preload();

// Forgets the loaded index, so that the next index() loads again.
void reset();

} // namespace quorvel::SharedMeaningIndex
