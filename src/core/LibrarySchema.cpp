#include "core/LibrarySchema.h"

#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"

namespace quorvel::LibrarySchema {

namespace {

// What reads the runs of shingles by hash, in the three tables that hold
// them. Readers see the live runs only; the triggers also reach the runs
// being written by a merge, so that a row changed or removed meanwhile is
// changed or removed in the rows already copied too. A row whose key moves
// across the point a merge has copied up to is put right in its output:
// added when it will no longer be met in the sources, taken out when it
// will be met there again.
const QString kShingleReaders = [] {
    const QStringList& tables = ShingleRuns::runTables();
    QStringList view, moved, removed, inSources;
    for (const QString& table : tables) {
        // Only the first level's runs lie in its tables: a lookup seeks no
        // other run there. Merges write to the first table.
        const bool fresh = table != tables.first();
        const QString inLive = fresh ? QStringLiteral("run IN (SELECT run FROM shingle_levels WHERE level=0)")
                                     : QStringLiteral("run IN (SELECT run FROM shingle_levels)");
        const QString inWritten = fresh ? inLive
                                        : QStringLiteral("run IN (SELECT run FROM shingle_levels UNION ALL "
                                                         "SELECT run FROM shingle_building)");
        view << QStringLiteral("SELECT hash, page_id, book_id FROM %1 WHERE %2").arg(table, inLive);
        moved << QStringLiteral("UPDATE %1 SET hash=new.hash, sid=new.rowid, page_id=new.page_id, "
                                "book_id=new.book_id WHERE %2 AND hash=old.hash AND sid=old.rowid; ")
                     .arg(table, inWritten);
        removed << QStringLiteral("DELETE FROM %1 WHERE %2 AND hash=old.hash AND sid=old.rowid; ").arg(table, inWritten);
        inSources << QStringLiteral("EXISTS(SELECT 1 FROM %1 WHERE run IN (SELECT run FROM shingle_sources "
                                    "WHERE output=b.run) AND hash=new.hash AND sid=new.rowid)")
                         .arg(table);
    }
    const QString passed = QStringLiteral("(%1.hash, %1.rowid) <= (b.hash, b.sid)");
    const QString repaired =
        QStringLiteral("INSERT INTO shingle_runs(run, hash, sid, page_id, book_id) "
                       "SELECT b.run, new.hash, new.rowid, new.page_id, new.book_id FROM shingle_building b "
                       "WHERE NOT %1 AND %2 AND (%3); "
                       "DELETE FROM shingle_runs WHERE run IN (SELECT b.run FROM shingle_building b "
                       "WHERE %1 AND NOT %2) AND hash=new.hash AND sid=new.rowid; ")
            .arg(passed.arg(QStringLiteral("old")), passed.arg(QStringLiteral("new")), inSources.join(QStringLiteral(" OR ")));
    return QStringLiteral("CREATE VIEW IF NOT EXISTS shingle_hashes AS ") + view.join(QStringLiteral(" UNION ALL "))
        + QStringLiteral(";\nCREATE TRIGGER IF NOT EXISTS shingles_moved_in_run AFTER UPDATE ON shingles BEGIN ")
        + moved.join(QString()) + repaired
        + QStringLiteral("END;\nCREATE TRIGGER IF NOT EXISTS shingles_out_of_run AFTER DELETE ON shingles BEGIN ")
        + removed.join(QString()) + QStringLiteral("END;\n");
}();

// A library written before the first level's runs had two tables, or
// before merges were written a part at a time, reads fewer tables or
// misses the runs being written: its view and triggers are made again, at
// once.
bool readBothRunTables(SQLiteDB& db)
{
    const auto view =
        db.rows(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='view' AND name='shingle_hashes'"));
    if (view.isEmpty() || view.first().str(0).value_or(QString()).contains(u"shingle_fresh2"))
        return true;
    Transaction transaction(db);
    return transaction.begun()
        && db.exec(QStringLiteral("DROP VIEW shingle_hashes; DROP TRIGGER IF EXISTS shingles_moved_in_run; "
                                  "DROP TRIGGER IF EXISTS shingles_out_of_run;")
                   + kShingleReaders)
        && transaction.commit();
}

} // namespace

const QString& text()
{
    static const QString schema = QStringLiteral(
        "PRAGMA journal_mode=WAL;\n"
        "CREATE TABLE IF NOT EXISTS categories(id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
        "parent_id INTEGER, sort INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS authors(id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
        "full_name TEXT, death_year INTEGER, death_text TEXT, bio TEXT);\n"
        "CREATE TABLE IF NOT EXISTS books(id INTEGER PRIMARY KEY, title TEXT NOT NULL, "
        "author_id INTEGER, category_id INTEGER, book_date INTEGER, group_id INTEGER, "
        "edition TEXT, publisher TEXT, source_uri TEXT, license TEXT, cover TEXT);\n"
        "CREATE TABLE IF NOT EXISTS pages(id INTEGER PRIMARY KEY, book_id INTEGER NOT NULL, "
        "vol TEXT, page_num INTEGER, seq INTEGER NOT NULL, content TEXT, content_norm TEXT);\n"
        "CREATE INDEX IF NOT EXISTS idx_pages_book ON pages(book_id, seq);\n"
        "CREATE TABLE IF NOT EXISTS toc(id INTEGER PRIMARY KEY, book_id INTEGER NOT NULL, "
        "title TEXT NOT NULL, page_seq INTEGER, parent_id INTEGER, level INTEGER);\n"
        "CREATE INDEX IF NOT EXISTS idx_toc_book ON toc(book_id);\n"
        "CREATE VIRTUAL TABLE IF NOT EXISTS pages_fts USING fts5(content_norm, "
        "page_id UNINDEXED, book_id UNINDEXED, tokenize='unicode61 remove_diacritics 2');\n"
        "CREATE TABLE IF NOT EXISTS installed(book_id INTEGER PRIMARY KEY, root TEXT, "
        "release INTEGER, ts INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS narrators(id INTEGER PRIMARY KEY, name TEXT UNIQUE);\n"
        "CREATE TABLE IF NOT EXISTS isnad_edges(student_id INTEGER, teacher_id INTEGER, "
        "book_id INTEGER, page_id INTEGER);\n"
        "CREATE INDEX IF NOT EXISTS idx_edge_student ON isnad_edges(student_id);\n"
        "CREATE INDEX IF NOT EXISTS idx_edge_teacher ON isnad_edges(teacher_id);\n"
        "CREATE INDEX IF NOT EXISTS idx_edge_page ON isnad_edges(page_id);\n"
        "CREATE INDEX IF NOT EXISTS idx_edge_book ON isnad_edges(book_id);\n"
        "CREATE TABLE IF NOT EXISTS shingles(hash INTEGER NOT NULL, page_id INTEGER NOT NULL, "
        "book_id INTEGER NOT NULL);\n"
        // Looked up by hash through the runs below, not by an index of this
        // table: see ShingleRuns.h. The installer writes the runs; changes
        // and removals made anywhere reach them through the triggers.
        "CREATE TABLE IF NOT EXISTS shingle_levels(run INTEGER PRIMARY KEY, level INTEGER NOT NULL, "
        "rows INTEGER NOT NULL);\n"
        "CREATE TABLE IF NOT EXISTS shingle_runs(run INTEGER NOT NULL, hash INTEGER NOT NULL, "
        "sid INTEGER NOT NULL, page_id INTEGER NOT NULL, book_id INTEGER NOT NULL, "
        "PRIMARY KEY(run, hash, sid)) WITHOUT ROWID;\n"
        // The first level's runs, the open one among them, in two tables of
        // their own that take turns: once every run of one is merged, it is
        // cleared whole instead of row by row.
        "CREATE TABLE IF NOT EXISTS shingle_fresh(run INTEGER NOT NULL, hash INTEGER NOT NULL, "
        "sid INTEGER NOT NULL, page_id INTEGER NOT NULL, book_id INTEGER NOT NULL, "
        "PRIMARY KEY(run, hash, sid)) WITHOUT ROWID;\n"
        "CREATE TABLE IF NOT EXISTS shingle_fresh2(run INTEGER NOT NULL, hash INTEGER NOT NULL, "
        "sid INTEGER NOT NULL, page_id INTEGER NOT NULL, book_id INTEGER NOT NULL, "
        "PRIMARY KEY(run, hash, sid)) WITHOUT ROWID;\n"
        // A merge's output while installs write it a part at a time, with the
        // key it has been copied up to (none yet: NULL); the runs it merges,
        // live until it is whole; and merged runs whose rows in
        // `shingle_runs` are still being deleted.
        "CREATE TABLE IF NOT EXISTS shingle_building(run INTEGER PRIMARY KEY, level INTEGER NOT NULL, "
        "rows INTEGER NOT NULL, hash INTEGER, sid INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS shingle_sources(run INTEGER PRIMARY KEY, output INTEGER NOT NULL);\n"
        "CREATE TABLE IF NOT EXISTS shingle_dead(run INTEGER PRIMARY KEY);\n"
        "CREATE INDEX IF NOT EXISTS idx_shingles_page ON shingles(page_id);\n"
        "CREATE INDEX IF NOT EXISTS idx_shingles_book ON shingles(book_id);\n"
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);\n")
        + kShingleReaders;
    return schema;
}

bool create(SQLiteDB& db)
{
    return db.exec(text()) && readBothRunTables(db) && ShingleRuns::adopt(db);
}

} // namespace quorvel::LibrarySchema
