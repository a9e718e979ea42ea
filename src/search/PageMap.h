#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quorvel {

class SQLiteDB;
class Statement;

// Turns full-text rowids (page ids) into (book id, sequence) without one
// query per hit. One map per database path lives for the process; its
// snapshot is rebuilt when the library's pages change and is shared,
// immutable, by every run that takes it. A store counts the changes to its
// pages and headings in `meta` (installs, removals, rows written otherwise),
// so that the page index's own writes, batch after batch, leave the map and
// the caches keyed on it alone; a library without that count is followed by
// its data version.
//
// A snapshot holds the page ids in ascending order beside their book and
// sequence: 16 bytes per page whatever the spread of the ids, so a library
// whose ids span billions (book id × 100,000 + sequence) is mapped as cheaply
// as one numbered from 1.
class PageMap {
public:
    struct Snapshot {
        std::vector<std::int64_t> ids;  // every page id, ascending
        std::vector<std::int32_t> book; // book id of ids[i]
        std::vector<std::int32_t> seq;  // its sequence, 0 when null
        std::int64_t generation = 0;

        // The stretch of `ids` (first and last index) that holds one book's
        // pages. An installed library numbers each book's pages in a block of
        // its own (book × 100,000 + sequence); when every book's pages hold
        // one stretch, no other book's page among them, the snapshot is
        // `blocked` and `blocks` gives each book's stretch by book id.
        struct Block {
            std::size_t first = 0;
            std::size_t last = 0;
        };
        bool blocked = false;
        QHash<std::int64_t, Block> blocks;

        // (book id, sequence) of a page id; nothing for an id without a page.
        std::optional<std::pair<std::int64_t, std::int64_t>> lookup(std::int64_t id) const;

        // Looks up ids that come in ascending order (as the full-text index
        // returns rowids) in amortised constant time: each lookup starts
        // where the last one ended. Any order still gives the right answer.
        class Cursor {
        public:
            explicit Cursor(const Snapshot& snap) : snap(snap) {}
            std::optional<std::pair<std::int64_t, std::int64_t>> lookup(std::int64_t id);

        private:
            const Snapshot& snap;
            std::size_t at = 0;
        };

        std::size_t bytes() const;
    };

    // The `meta` key of a store's count of changes to its pages and
    // headings, kept by the installer and by triggers on `pages` and `toc`
    // (PageIndex::createSchema).
    static constexpr const char* changesKey = "library_changes";

    // Number of ids, spread over the sorted list, whose full-text rowid is checked.
    static constexpr std::int64_t rowidSamples = 16;

    struct Current {
        std::shared_ptr<const Snapshot> snapshot; // null when none could be built
        // Changes whenever the library's pages do (see above), snapshot or
        // not; -1 when the database cannot be opened. Caches derived from
        // the database key on it.
        std::int64_t dataGeneration = -1;
        // The store's count of changes (changesKey) the generation was
        // given for; nothing for a store that keeps none.
        std::optional<QString> changes;
    };

    // The current snapshot of the database at `path` (a file name or URI),
    // or null when none can be built.
    static std::shared_ptr<const Snapshot> snapshot(const QString& path);
    // The snapshot together with the generation that caches key on.
    static Current current(const QString& path);

private:
    std::shared_ptr<SQLiteDB> db;
    std::shared_ptr<Statement> countQuery;   // the store's count of changes, prepared once
    std::shared_ptr<Statement> versionQuery; // "PRAGMA data_version", prepared once
    std::optional<QString> version;          // what either answered last
    bool uncounted = false;                  // the library has no `meta` table
    std::shared_ptr<const Snapshot> snap;
    std::int64_t dataGeneration = -1; // -1 until the data version is first read

    static std::shared_ptr<const Snapshot> build(SQLiteDB& db, std::int64_t generation);
};

} // namespace quorvel
