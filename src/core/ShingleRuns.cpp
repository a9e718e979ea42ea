#include "core/ShingleRuns.h"

#include "core/SQLiteDB.h"

#include <atomic>
#include <limits>

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
// Rows of each merge being written that an install copies per row it adds:
// a merge then ends within half the rows that fill its level again, so
// that lookups read its runs beside the others for half the time only; at
// three the longest install grew against the median one, and lookups were
// no faster.
constexpr std::int64_t kCopiesPerRow = 2;
// Rows of merged runs an install deletes per row it adds: those of a merge
// are gone before the next merge of their level ends.
constexpr std::int64_t kDeletesPerRow = 1;

std::atomic<std::int64_t> runRowsNow{kRunRows};

// The first level's two tables.
const QStringList kFreshTables = runTables().mid(1);

bool exists(SQLiteDB& db, const char* type, const char* name)
{
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type=? AND name=?"),
                        {QString::fromLatin1(type), QString::fromLatin1(name)})
               .value_or(0)
        != 0;
}

// Whether `table` holds a row of `run`; nothing when the statement failed.
std::optional<bool> holds(SQLiteDB& db, const QString& table, std::int64_t run)
{
    const auto found = db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM %1 WHERE run=?)").arg(table), {run});
    return found ? std::optional<bool>(*found != 0) : std::nullopt;
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

// A run number no run has had: merged runs whose rows are not yet deleted
// keep theirs.
std::optional<std::int64_t> newRun(SQLiteDB& db)
{
    return db.scalarInt(QStringLiteral("SELECT MAX(IFNULL((SELECT MAX(run) FROM shingle_levels), 0), "
                                       "IFNULL((SELECT MAX(run) FROM shingle_building), 0), "
                                       "IFNULL((SELECT MAX(run) FROM shingle_dead), 0)) + 1"));
}

// Clears whole each first-level table that holds no row of a live run or
// of one being written, which SQLite does without visiting its rows.
bool clearFresh(SQLiteDB& db)
{
    for (const QString& table : kFreshTables) {
        const auto spent = db.scalarInt(
            QStringLiteral("SELECT EXISTS(SELECT 1 FROM %1) AND NOT EXISTS(SELECT 1 FROM %1 WHERE run IN "
                           "(SELECT run FROM shingle_levels UNION ALL SELECT run FROM shingle_building))")
                .arg(table));
        if (!spent || (*spent != 0 && !db.run(QStringLiteral("DELETE FROM %1").arg(table))))
            return false;
    }
    return true;
}

// The merge written whole: its runs leave the live ones and its output
// takes their place, in one step, so that readers meet every row once.
// The merged runs' rows in `shingle_runs` are deleted later, a part at a
// time; those in the first level's tables go when their table is cleared.
bool swap(SQLiteDB& db, std::int64_t output)
{
    return db.run(QStringLiteral("INSERT INTO shingle_dead(run) SELECT run FROM shingle_sources s WHERE output=? "
                                 "AND EXISTS(SELECT 1 FROM shingle_runs r WHERE r.run = s.run)"),
                  {output})
        && db.run(QStringLiteral("DELETE FROM shingle_levels WHERE run IN (SELECT run FROM shingle_sources "
                                 "WHERE output=?)"),
                  {output})
        && db.run(QStringLiteral("DELETE FROM shingle_sources WHERE output=?"), {output})
        && db.run(QStringLiteral("INSERT INTO shingle_levels(run, level, rows) SELECT run, level, rows "
                                 "FROM shingle_building WHERE run=?"),
                  {output})
        && db.run(QStringLiteral("DELETE FROM shingle_building WHERE run=?"), {output}) && clearFresh(db);
}

// Copies up to `budget` more rows of a merge into its output, the next in
// (hash, sid) order after those copied: SQLite merges the runs' ordered
// ranges as it reads them, so that nothing is sorted and the output grows
// at its end. A merge copied whole is swapped in.
bool copy(SQLiteDB& db, std::int64_t output, std::int64_t budget)
{
    const auto state =
        db.rows(QStringLiteral("SELECT hash, sid FROM shingle_building WHERE run=?"), {output});
    if (state.isEmpty())
        return false;
    const std::optional<std::int64_t> hash = state.first().integer(0), sid = state.first().integer(1);
    QStringList arms;
    SQLArgs args;
    for (const auto& source :
         db.rows(QStringLiteral("SELECT run FROM shingle_sources WHERE output=? ORDER BY run"), {output})) {
        const std::int64_t run = source.integer(0).value_or(0);
        for (const QString& table : runTables()) {
            const auto held = holds(db, table, run);
            if (!held)
                return false;
            if (!*held)
                continue;
            arms << QStringLiteral("SELECT ?, hash, sid, page_id, book_id FROM %1 WHERE run=?").arg(table)
                    + (hash && sid ? QStringLiteral(" AND (hash, sid) > (?, ?)") : QString());
            args << output << run;
            if (hash && sid)
                args << *hash << *sid;
        }
    }
    std::int64_t copied = 0;
    if (!arms.isEmpty()) {
        if (!db.run(QStringLiteral("INSERT INTO shingle_runs(run, hash, sid, page_id, book_id) ")
                        + arms.join(QStringLiteral(" UNION ALL ")) + QStringLiteral(" ORDER BY 2, 3 LIMIT ?"),
                    args << budget))
            return false;
        copied = db.changes();
    }
    if (!db.run(QStringLiteral("UPDATE shingle_building SET rows = rows + ? WHERE run=?"), {copied, output}))
        return false;
    if (copied < budget)
        return swap(db, output);
    return db.run(QStringLiteral("UPDATE shingle_building SET (hash, sid) = (SELECT hash, sid FROM shingle_runs "
                                 "WHERE run=?1 ORDER BY hash DESC, sid DESC LIMIT 1) WHERE run=?1"),
                  {output});
}

// Begins a merge of each level holding as many runs as are merged at once,
// not counting runs already being merged nor `open`, the run taking rows.
// The merge into a level is one at a time: one still being written when
// the next is due is finished first.
bool beginDue(SQLiteDB& db, std::optional<std::int64_t> open)
{
    const QString free = QStringLiteral("run NOT IN (SELECT run FROM shingle_sources) AND run IS NOT ?");
    const SQLArg openArg = open ? SQLArg(*open) : SQLArg();
    for (;;) {
        const auto crowded =
            db.rows(QStringLiteral("SELECT level FROM shingle_levels WHERE %1 GROUP BY level HAVING COUNT(*) >= ? "
                                   "ORDER BY level LIMIT 1")
                        .arg(free),
                    {openArg, kFanIn});
        if (crowded.isEmpty())
            return true;
        const std::int64_t level = crowded.first().integer(0).value_or(0);
        if (const auto earlier =
                db.scalarInt(QStringLiteral("SELECT run FROM shingle_building WHERE level=?"), {level + 1})) {
            if (!copy(db, *earlier, std::numeric_limits<std::int64_t>::max()))
                return false;
            continue;
        }
        const auto output = newRun(db);
        if (!output
            || !db.run(QStringLiteral("INSERT INTO shingle_building(run, level, rows) VALUES(?, ?, 0)"),
                       {*output, level + 1})
            || !db.run(QStringLiteral("INSERT INTO shingle_sources(run, output) SELECT run, ? FROM shingle_levels "
                                      "WHERE level=? AND %1 ORDER BY run LIMIT ?")
                           .arg(free),
                       {*output, level, openArg, kFanIn}))
            return false;
    }
}

// Deletes up to `budget` rows of merged runs from `shingle_runs`, each
// run's from its first key on.
bool reap(SQLiteDB& db, std::int64_t budget)
{
    while (budget > 0) {
        const auto dead = db.scalarInt(QStringLiteral("SELECT MIN(run) FROM shingle_dead"));
        if (!dead)
            return true;
        const auto cut = db.rows(QStringLiteral("SELECT hash, sid FROM shingle_runs WHERE run=? "
                                                "ORDER BY hash, sid LIMIT 1 OFFSET ?"),
                                 {*dead, budget - 1});
        if (!cut.isEmpty())
            return db.run(QStringLiteral("DELETE FROM shingle_runs WHERE run=? AND (hash, sid) <= (?, ?)"),
                          {*dead, cut.first().integer(0).value_or(0), cut.first().integer(1).value_or(0)});
        if (!db.run(QStringLiteral("DELETE FROM shingle_runs WHERE run=?"), {*dead}))
            return false;
        budget -= db.changes();
        if (!db.run(QStringLiteral("DELETE FROM shingle_dead WHERE run=?"), {*dead}))
            return false;
    }
    return true;
}

// The runs made anew from the table: one run, of the level its size gives.
bool remake(SQLiteDB& db)
{
    const auto rows = db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM shingles"));
    if (!rows)
        return false;
    for (const QString& table : runTables())
        if (!db.run(QStringLiteral("DELETE FROM %1").arg(table)))
            return false;
    return db.run(QStringLiteral("DELETE FROM shingle_levels"))
        && db.run(QStringLiteral("DELETE FROM shingle_building"))
        && db.run(QStringLiteral("DELETE FROM shingle_sources"))
        && db.run(QStringLiteral("DELETE FROM shingle_dead"))
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

const QStringList& runTables()
{
    static const QStringList tables{QStringLiteral("shingle_runs"), QStringLiteral("shingle_fresh"),
                                    QStringLiteral("shingle_fresh2")};
    return tables;
}

std::optional<std::int64_t> openRun(SQLiteDB& db)
{
    // A merge's output may be newer than the run taking rows.
    return db.scalarInt(QStringLiteral("SELECT MAX(run) FROM shingle_levels WHERE level=0"));
}

std::optional<QString> openTable(SQLiteDB& db)
{
    const auto open = openRun(db);
    if (!open)
        return std::nullopt;
    for (const QString& table : kFreshTables) {
        const auto held = holds(db, table, *open);
        if (!held)
            return std::nullopt;
        if (*held)
            return table;
    }
    // A run not yet written goes where no merge is taking runs from, so
    // that the table can be cleared once that merge is whole; beside the
    // first level's other live runs, so that the other one can.
    std::optional<QString> best;
    std::int64_t bestScore = -1;
    for (const QString& table : kFreshTables) {
        const auto score = db.scalarInt(
            QStringLiteral("SELECT 2 * NOT EXISTS(SELECT 1 FROM %1 WHERE run IN (SELECT run FROM shingle_sources)) "
                           "+ EXISTS(SELECT 1 FROM %1 WHERE run IN (SELECT run FROM shingle_levels))")
                .arg(table));
        if (!score)
            return std::nullopt;
        if (*score > bestScore) {
            best = table;
            bestScore = *score;
        }
    }
    return best;
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
    if (full()) {
        if (!db.run(QStringLiteral("UPDATE shingle_levels SET rows = (SELECT COUNT(*) FROM shingle_fresh WHERE run=?1) "
                                   "+ (SELECT COUNT(*) FROM shingle_fresh2 WHERE run=?1) "
                                   "+ (SELECT COUNT(*) FROM shingle_runs WHERE run=?1) WHERE run=?1"),
                    {*open}))
            return false;
        // The full run is closed by opening a newer one: the newest run of
        // the first level is always the one the installer writes to.
        if (full()) {
            if (!beginDue(db, std::nullopt))
                return false;
            const auto next = newRun(db);
            if (!next || !db.run(QStringLiteral("INSERT INTO shingle_levels(run, level, rows) VALUES(?, 0, 0)"), {*next}))
                return false;
        }
    }
    // Each merge being written moves on, and merged rows go, in proportion
    // to the rows the install added.
    for (const auto& building : db.rows(QStringLiteral("SELECT run FROM shingle_building ORDER BY run")))
        if (!copy(db, building.integer(0).value_or(0), added * kCopiesPerRow))
            return false;
    return reap(db, added * kDeletesPerRow) && beginDue(db, openRun(db));
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
