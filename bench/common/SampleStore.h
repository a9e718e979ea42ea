#pragma once

// The bundled sample release as the benchmarks use it: written from samples/
// with a key made for the run, optionally scaled up by copies of every book
// under spread, realistic book ids, and installed by the product's own
// installer into a local store.

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace quorvel::bench {

// Book ids of the copies are spread over 1 … this many, as in a real library.
inline constexpr std::int64_t spreadIdLimit = 100000;

// The id of book `index` (0-based, in catalogue order) in copy `copy`: copy 0
// keeps `original`, later copies take distinct pseudo-random ids at most
// spreadIdLimit that never meet an original id below 1,000.
std::int64_t spreadBookId(int copy, int index, std::int64_t original);

// Points HOME, the XDG folders and the user database into `dir`, so that
// nothing a benchmark's library touches lands in the user's own.
void keepInScratch(const QString& dir);

struct InstalledStore {
    QString dbPath;
    std::int64_t pages = 0;
    std::int64_t books = 0;
    double installSeconds = 0;
};

// A store holding `copies` copies of the sample release at `dbPath`. When
// the file is already there it is taken as it is (a store kept from an
// earlier run with the same copies); otherwise the release is written into a
// folder beside it and installed book by book. Nothing on failure, after a
// line on stderr.
std::optional<InstalledStore> sampleStore(const QString& dbPath, int copies);

// Writes the scaled release into `releaseDir` and returns the hexadecimal
// public key that verifies it; nothing on failure.
std::optional<QString> writeSampleRelease(const QString& releaseDir, int copies);

} // namespace quorvel::bench

namespace quorvel {
class Library;
class SQLiteDB;
}

namespace quorvel::bench {

// The sample library as the assistant's benchmarks ask of it: one copy
// installed in `dir`, opened as the shared library, with a search connection
// of its own for the bare statements; the user data in memory and, unless
// `smart`, no semantic index. Nothing on failure, after a line on stderr.
struct AssistantLibrary {
    InstalledStore store;
    std::shared_ptr<Library> lib;
    std::shared_ptr<SQLiteDB> db;
};
std::optional<AssistantLibrary> assistantLibrary(const QString& dir, bool smart);

} // namespace quorvel::bench
