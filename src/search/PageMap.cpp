#include "search/PageMap.h"

#include "core/SQLiteDB.h"

#include <QHash>

#include <mutex>

namespace quorvel {

namespace {
std::mutex& mapLock()
{
    static std::mutex lock;
    return lock;
}
QHash<QString, PageMap*>& maps()
{
    // Entries live for the process, like the connections they hold.
    static QHash<QString, PageMap*> all;
    return all;
}
// Both counters are process-wide and guarded by mapLock.
std::int64_t generations = 0;     // snapshot builds begun
std::int64_t dataGenerations = 0; // data versions seen, over every path
} // namespace

std::optional<std::pair<std::int64_t, std::int64_t>> PageMap::Snapshot::lookup(std::int64_t id) const
{
    if (id < base)
        return std::nullopt;
    const std::uint64_t i = std::uint64_t(id) - std::uint64_t(base);
    if (i >= book.size() || book[i] < 0)
        return std::nullopt;
    return std::make_pair(std::int64_t(book[i]), std::int64_t(seq[i]));
}

std::shared_ptr<const PageMap::Snapshot> PageMap::snapshot(const QString& path)
{
    return current(path).snapshot;
}

// Returns the stored snapshot while the data version is unchanged, otherwise
// builds a new one (or none). The whole operation, the build included, runs
// under one lock so that concurrent runs wait for one build and share it.
PageMap::Current PageMap::current(const QString& path)
{
    std::lock_guard guard(mapLock());
    PageMap* map = maps().value(path);
    if (!map) {
        auto db = SQLiteDB::open(path, true);
        if (!db)
            return {};
        map = new PageMap;
        map->db = std::move(db);
        maps().insert(path, map);
    }
    const std::optional<std::int64_t> v = map->db->scalarInt(QStringLiteral("PRAGMA data_version"));
    const bool changed = map->dataGeneration < 0 || v != map->version;
    if (changed) {
        map->version = v;
        map->dataGeneration = ++dataGenerations;
    }
    if (map->snap && !changed)
        return {map->snap, map->dataGeneration};

    // A map without a snapshot is tried again at every call.
    generations += 1;
    map->snap = build(*map->db, generations);
    return {map->snap, map->dataGeneration};
}

// Reads every page's book and sequence into arrays indexed by id − min, then
// samples the full-text table to make sure its rowids are the page ids.
// Returns null when the table is empty, the id range is too wide, the page
// query cannot run or a sampled rowid disagrees.
std::shared_ptr<const PageMap::Snapshot> PageMap::build(SQLiteDB& db, std::int64_t generation)
{
    const auto lo = db.scalarInt(QStringLiteral("SELECT MIN(id) FROM pages"));
    if (!lo)
        return nullptr;
    const auto hi = db.scalarInt(QStringLiteral("SELECT MAX(id) FROM pages"));
    if (!hi || *hi < *lo)
        return nullptr;
    // Ids may sit anywhere in the 64-bit range; subtract without overflowing.
    if (*lo < 0 && *hi > *lo + maxSpan)
        return nullptr;
    const std::int64_t span = *hi - *lo;
    if (span > maxSpan)
        return nullptr;

    auto snap = std::make_shared<Snapshot>();
    snap->base = *lo;
    snap->generation = generation;
    snap->book.assign(size_t(span + 1), -1);
    snap->seq.assign(size_t(span + 1), 0);

    auto st = db.prepare(QStringLiteral("SELECT id, book_id, seq FROM pages INDEXED BY idx_pages_book"));
    if (!st)
        st = db.prepare(QStringLiteral("SELECT id, book_id, seq FROM pages"));
    if (!st)
        return nullptr;
    while (st->step()) {
        const auto id = st->integer(0);
        const auto book = st->integer(1);
        if (!id || !book || *id < *lo || *id > *hi)
            continue;
        const size_t i = size_t(*id - *lo);
        // Stored as 32-bit values: the low 32 bits of the integer.
        snap->book[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(*book));
        snap->seq[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(st->integer(2).value_or(0)));
    }

    if (auto check = db.prepare(QStringLiteral("SELECT page_id FROM pages_fts WHERE rowid=?"))) {
        const std::int64_t step = span > 15 ? span / rowidSamples : 1;
        for (std::int64_t off = 0; off <= span; off += step) {
            if (snap->book[size_t(off)] == -1)
                continue;
            const std::int64_t id = *lo + off;
            check->bind({id});
            if (!check->step())
                return nullptr;
            const auto pageId = check->integer(0);
            if (!pageId || *pageId != id)
                return nullptr;
        }
    }
    return snap;
}

} // namespace quorvel
