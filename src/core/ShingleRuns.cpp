#include "core/ShingleRuns.h"

#include "core/SQLiteDB.h"

#include <atomic>

namespace quorvel::ShingleRuns {

namespace {

// About the shingles of the whole bundled sample (eighteen books): small
// enough for the page cache, so that a book passes over a run it can hold,
// large enough that merges are rare.
constexpr std::int64_t kRunRows = std::int64_t(1) << 21;
// Runs of one level merged at once: a lookup reads fewer than this many runs
// per level, and a shingle is rewritten once per level it climbs. With eight,
// a library up to sixty times the sample rewrites each shingle once, where
// four rewrote it twice past sixteen times; a lookup there reads up to
// fifteen runs instead of ten.
constexpr int kFanIn = 8;

std::atomic<std::int64_t> runRowsNow{kRunRows};

bool exists(SQLiteDB& db, const char* type, const char* name)
{
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type=? AND name=?"),
                        {QString::fromLatin1(type), QString::fromLatin1(name)})
               .value_or(0)
        != 0;
}

// The level a run of `rows` belongs to: the number of merges that make a
// run that large from full ones.
std::int64_t levelOf(std::int64_t rows)
{
    std::int64_t level = 0;
    for (std::int64_t full = runRows() * kFanIn; rows >= full && full < (std::int64_t(1) << 60); full *= kFanIn)
        ++level;
    return level;
}

// The runs' rows into one new run of `level`, in hash order, so that the
// new run is written front to back. The first level's runs lie in
// `shingle_fresh` (those of a library written before it, in `shingle_runs`);
// when a merge takes every one of them that table is cleared whole, which
// SQLite does without visiting its rows.
bool merge(SQLiteDB& db, const QList<std::int64_t>& runs, std::int64_t level)
{
    const QString list = u'(' + SQLiteDB::marks(runs.size()) + u')';
    const QString in = QStringLiteral(" WHERE run IN ") + list;
    const SQLArgs args = argsOf(runs);
    const auto into = db.scalarInt(QStringLiteral("SELECT MAX(run) + 1 FROM shingle_levels"));
    const auto firstLevelLeft =
        db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM shingle_levels WHERE level=0 AND run NOT IN ") + list, args);
    if (!into || !firstLevelLeft)
        return false;
    const QString columns = QStringLiteral("hash, sid, page_id, book_id");
    return db.run(QStringLiteral("INSERT INTO shingle_runs(run, hash, sid, page_id, book_id) SELECT ?, %1 FROM "
                                 "(SELECT %1 FROM shingle_runs%2 UNION ALL SELECT %1 FROM shingle_fresh%2) "
                                 "ORDER BY hash, sid")
                      .arg(columns, in),
                  SQLArgs{*into} + args + args)
        && db.run(QStringLiteral("DELETE FROM shingle_runs") + in, args)
        && db.run(QStringLiteral("DELETE FROM shingle_fresh") + (*firstLevelLeft == 0 ? QString() : in),
                  *firstLevelLeft == 0 ? SQLArgs{} : args)
        && db.run(QStringLiteral("DELETE FROM shingle_levels") + in, args)
        && db.run(QStringLiteral("INSERT INTO shingle_levels(run, level, rows) "
                                 "SELECT ?, ?, COUNT(*) FROM shingle_runs WHERE run=?"),
                  {*into, level, *into});
}

// The runs made anew from the table: one run, of the level its size gives.
bool remake(SQLiteDB& db)
{
    const auto rows = db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM shingles"));
    return rows && db.run(QStringLiteral("DELETE FROM shingle_runs"))
        && db.run(QStringLiteral("DELETE FROM shingle_fresh"))
        && db.run(QStringLiteral("DELETE FROM shingle_levels"))
        && db.run(QStringLiteral("INSERT INTO shingle_runs(run, hash, sid, page_id, book_id) "
                                 "SELECT 1, hash, rowid, page_id, book_id FROM shingles ORDER BY hash, rowid"))
        && db.run(QStringLiteral("INSERT INTO shingle_levels(run, level, rows) VALUES(1, ?, ?)"), {levelOf(*rows), *rows})
        // A large run is full; the next rows go to a run of their own.
        && (*rows < runRows() || db.run(QStringLiteral("INSERT INTO shingle_levels(run, level, rows) VALUES(2, 0, 0)")));
}

} // namespace

std::int64_t runRows()
{
    return runRowsNow.load();
}

void setRunRows(std::int64_t rows)
{
    runRowsNow.store(std::max<std::int64_t>(1, rows));
}

std::optional<std::int64_t> openRun(SQLiteDB& db)
{
    return db.scalarInt(QStringLiteral("SELECT MAX(run) FROM shingle_levels"));
}

QString lookup(SQLiteDB& db)
{
    // The table keeps its index by hash until its rows are in runs.
    return exists(db, "view", "shingle_hashes") && !exists(db, "index", "idx_shingles_hash")
        ? QStringLiteral("shingle_hashes")
        : QStringLiteral("shingles");
}

bool settle(SQLiteDB& db, std::int64_t added)
{
    if (added <= 0)
        return true;
    const auto open = openRun(db);
    if (!open || !db.run(QStringLiteral("UPDATE shingle_levels SET rows = rows + ? WHERE run=?"), {added, *open}))
        return false;
    const auto full = [&] {
        return db.scalarInt(QStringLiteral("SELECT rows FROM shingle_levels WHERE run=?"), {*open}).value_or(0)
            >= runRows();
    };
    // The count kept by the installer misses the rows of replaced books; it
    // is made exact before the run is taken for full.
    if (!full())
        return true;
    if (!db.run(QStringLiteral("UPDATE shingle_levels SET rows = (SELECT COUNT(*) FROM shingle_fresh WHERE run=?) "
                               "+ (SELECT COUNT(*) FROM shingle_runs WHERE run=?) WHERE run=?"),
                {*open, *open, *open}))
        return false;
    if (!full())
        return true;

    // The full run is closed by opening a newer one once the merges are
    // done: the newest run is always the one the installer writes to.
    for (;;) {
        const auto crowded = db.rows(QStringLiteral("SELECT level FROM shingle_levels GROUP BY level "
                                                    "HAVING COUNT(*) >= ? ORDER BY level LIMIT 1"),
                                     {kFanIn});
        if (crowded.isEmpty())
            break;
        const std::int64_t level = crowded.first().integer(0).value_or(0);
        QList<std::int64_t> runs;
        for (const auto& row : db.rows(
                 QStringLiteral("SELECT run FROM shingle_levels WHERE level=? ORDER BY run LIMIT ?"), {level, kFanIn}))
            runs.append(row.integer(0).value_or(0));
        if (runs.size() < kFanIn || !merge(db, runs, level + 1))
            return false;
    }
    return db.run(QStringLiteral("INSERT INTO shingle_levels(run, level, rows) SELECT MAX(run) + 1, 0, 0 "
                                 "FROM shingle_levels"));
}

bool rebuild(SQLiteDB& db)
{
    if (db.inTransaction())
        return remake(db);
    Transaction transaction(db);
    return transaction.begun() && remake(db) && transaction.commit();
}

bool adopt(SQLiteDB& db)
{
    // Read first: opening a store written by this program writes nothing.
    if (!exists(db, "index", "idx_shingles_hash")) {
        if (db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM shingle_levels)")).value_or(0) != 0)
            return true;
        return db.run(QStringLiteral("INSERT OR IGNORE INTO shingle_levels(run, level, rows) VALUES(1, 0, 0)"));
    }
    Transaction transaction(db);
    if (!transaction.begun())
        return false;
    // Another process may have adopted them meanwhile. The runs are made
    // anew: a program that predates them may have written the table since
    // (bringing back its index by hash).
    if (!exists(db, "index", "idx_shingles_hash"))
        return transaction.commit();
    return remake(db) && db.exec(QStringLiteral("DROP INDEX idx_shingles_hash")) && transaction.commit();
}

} // namespace quorvel::ShingleRuns
