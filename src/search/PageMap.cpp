#include "search/PageMap.h"

#include "core/SQLiteDB.h"

#include <QHash>

#include <algorithm>

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
    const auto it = std::lower_bound(ids.begin(), ids.end(), id);
    if (it == ids.end() || *it != id)
        return std::nullopt;
    const auto i = std::size_t(it - ids.begin());
    return std::make_pair(std::int64_t(book[i]), std::int64_t(seq[i]));
}

std::optional<std::pair<std::int64_t, std::int64_t>> PageMap::Snapshot::Cursor::lookup(std::int64_t id)
{
    const std::vector<std::int64_t>& ids = snap.ids;
    const std::size_t n = ids.size();
    if (at >= n || ids[at] > id) {
        // Not ascending from here: search the whole list again.
        at = std::size_t(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin());
    } else if (ids[at] < id) {
        // Gallop forward from the last place, then search the bracket found.
        std::size_t lo = at, step = 1;
        while (lo + step < n && ids[lo + step] < id) {
            lo += step;
            step *= 2;
        }
        const std::size_t hi = std::min(n, lo + step + 1);
        at = std::size_t(std::lower_bound(ids.begin() + std::ptrdiff_t(lo), ids.begin() + std::ptrdiff_t(hi), id)
                         - ids.begin());
    }
    if (at >= n || ids[at] != id)
        return std::nullopt;
    return std::make_pair(std::int64_t(snap.book[at]), std::int64_t(snap.seq[at]));
}

std::size_t PageMap::Snapshot::bytes() const
{
    return ids.capacity() * sizeof(std::int64_t) + (book.capacity() + seq.capacity()) * sizeof(std::int32_t);
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
    // Asked before every run: prepared once, and reset after its one row so
    // that they hold no read transaction open.
    if (!map->countQuery && !map->uncounted) {
        // A library without `meta` has no count: asked once, not logged at every run.
        map->uncounted = map->db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name='meta'"))
                             .value_or(0)
            == 0;
    }
    auto ask = [](std::shared_ptr<Statement>& st, SQLiteDB& db, const QString& sql) -> std::optional<QString> {
        if (!st)
            if (auto prepared = db.prepare(sql))
                st = std::make_shared<Statement>(std::move(*prepared));
        if (!st)
            return std::nullopt;
        st->bind({});
        std::optional<QString> out;
        if (st->step())
            out = st->text(0);
        st->bind({});
        return out;
    };
    std::optional<QString> changes;
    if (!map->uncounted)
        changes = ask(map->countQuery, *map->db,
                      QStringLiteral("SELECT value FROM meta WHERE key='%1'").arg(QLatin1String(changesKey)));
    std::optional<QString> v;
    if (changes)
        v = u'c' + *changes;
    else if (const auto version = ask(map->versionQuery, *map->db, QStringLiteral("PRAGMA data_version")))
        v = u'v' + *version;
    const bool changed = map->dataGeneration < 0 || v != map->version;
    if (changed) {
        map->version = v;
        map->dataGeneration = ++dataGenerations;
    }
    if (map->snap && !changed)
        return {map->snap, map->dataGeneration, changes};

    // A map without a snapshot is tried again at every call.
    generations += 1;
    map->snap = build(*map->db, generations);
    return {map->snap, map->dataGeneration, changes};
}

// Reads every page's id, book and sequence, sorted by id, then samples the
// full-text table to make sure its rowids are the page ids. Returns null when
// the table is empty, the page query cannot run or a sampled rowid disagrees.
std::shared_ptr<const PageMap::Snapshot> PageMap::build(SQLiteDB& db, std::int64_t generation)
{
    const auto count = db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages"));
    if (!count || *count <= 0)
        return nullptr;

    struct Row {
        std::int64_t id;
        std::int32_t book;
        std::int32_t seq;
    };
    std::vector<Row> rows;
    rows.reserve(std::size_t(*count));
    // The index holds every column asked for, so the page texts are never read.
    auto st = db.prepare(QStringLiteral("SELECT id, book_id, seq FROM pages INDEXED BY idx_pages_book"));
    if (!st)
        st = db.prepare(QStringLiteral("SELECT id, book_id, seq FROM pages"));
    if (!st)
        return nullptr;
    while (st->step()) {
        const auto id = st->integer(0);
        const auto book = st->integer(1);
        if (!id || !book)
            continue;
        // Stored as 32-bit values: the low 32 bits of the integer.
        rows.push_back({*id, static_cast<std::int32_t>(static_cast<std::uint32_t>(*book)),
                        static_cast<std::int32_t>(static_cast<std::uint32_t>(st->integer(2).value_or(0)))});
    }
    if (rows.empty())
        return nullptr;
    // Installed ids are book × 100,000 + sequence, so the index order is
    // usually the id order already.
    auto byId = [](const Row& a, const Row& b) { return a.id < b.id; };
    if (!std::is_sorted(rows.begin(), rows.end(), byId))
        std::sort(rows.begin(), rows.end(), byId);

    auto snap = std::make_shared<Snapshot>();
    snap->generation = generation;
    snap->ids.reserve(rows.size());
    snap->book.reserve(rows.size());
    snap->seq.reserve(rows.size());
    for (const Row& r : rows) {
        snap->ids.push_back(r.id);
        snap->book.push_back(r.book);
        snap->seq.push_back(r.seq);
    }
    rows = {};

    snap->blocked = true;
    for (std::size_t i = 0; i < snap->ids.size(); ++i) {
        const std::int64_t book = snap->book[i];
        if (i > 0 && snap->book[i - 1] == book) {
            snap->blocks[book].last = i;
        } else if (snap->blocks.contains(book)) {
            snap->blocked = false;
            snap->blocks.clear();
            break;
        } else {
            snap->blocks.insert(book, {i, i});
        }
    }

    if (auto check = db.prepare(QStringLiteral("SELECT page_id FROM pages_fts WHERE rowid=?"))) {
        const std::size_t n = snap->ids.size();
        const std::size_t step = std::max<std::size_t>(1, n / std::size_t(rowidSamples));
        for (std::size_t i = 0; i < n; i += step) {
            const std::int64_t id = snap->ids[i];
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
