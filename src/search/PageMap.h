#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quorvel {

class SQLiteDB;

// Turns full-text rowids (page ids) into (book id, sequence) by two array
// reads instead of one query per hit. One map per database path lives for the
// process; its snapshot is rebuilt when the database's data version changes
// and is shared, immutable, by every run that takes it.
class PageMap {
public:
    struct Snapshot {
        std::int64_t base = 0;          // smallest page id
        std::vector<std::int32_t> book; // book id of page base + i, or -1
        std::vector<std::int32_t> seq;  // its sequence, 0 when null
        std::int64_t generation = 0;

        // (book id, sequence) of a page id; nothing outside the map or for a gap.
        std::optional<std::pair<std::int64_t, std::int64_t>> lookup(std::int64_t id) const;
    };

    // Refused above this many ids between the smallest and largest page id
    // (8 bytes per id in the range).
    static constexpr std::int64_t maxSpan = 49'999'999;
    // Number of slices the rowid check samples across the id range.
    static constexpr std::int64_t rowidSamples = 16;

    struct Current {
        std::shared_ptr<const Snapshot> snapshot; // null when none could be built
        // Changes whenever the database's data version does, snapshot or
        // not; -1 when the database cannot be opened. Caches derived from
        // the database key on it.
        std::int64_t dataGeneration = -1;
    };

    // The current snapshot of the database at `path` (a file name or URI),
    // or null when none can be built.
    static std::shared_ptr<const Snapshot> snapshot(const QString& path);
    // The snapshot together with the generation that caches key on.
    static Current current(const QString& path);

private:
    std::shared_ptr<SQLiteDB> db;
    std::optional<std::int64_t> version;
    std::shared_ptr<const Snapshot> snap;
    std::int64_t dataGeneration = -1; // -1 until the data version is first read

    static std::shared_ptr<const Snapshot> build(SQLiteDB& db, std::int64_t generation);
};

} // namespace quorvel
