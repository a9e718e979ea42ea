#include "DerivedTables.h"

#include "core/LibrarySchema.h"
#include "smart/Isnad.h"
#include "smart/TextReuse.h"
#include "support/FixtureLibrary.h"

namespace quorvel::test {

bool fillDerivedTables(SQLiteDB& db)
{
    // Start from empty tables, whatever the library builder already derived.
    bool ok = db.exec(QStringLiteral("BEGIN; DELETE FROM isnad_edges; DELETE FROM narrators; "
                                     "DELETE FROM shingles;"));
    const auto pages = db.rows(QStringLiteral("SELECT id, book_id, content FROM pages ORDER BY id"));
    for (const auto& page : pages) {
        const qint64 pageId = page.integer(0).value_or(0);
        const qint64 bookId = page.integer(1).value_or(0);
        const QString content = page.str(2).value_or(QString());
        if (Isnad::hasIsnad(content)) {
            QList<qint64> ids;
            for (const QString& name : Isnad::chain(content)) {
                ok &= db.run(QStringLiteral("INSERT OR IGNORE INTO narrators(name) VALUES(?)"), {name});
                if (const auto id = db.scalarInt(QStringLiteral("SELECT id FROM narrators WHERE name=?"), {name}))
                    ids.append(*id);
            }
            for (qsizetype i = 0; i + 1 < ids.size(); ++i)
                ok &= db.run(QStringLiteral("INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) "
                                            "VALUES(?,?,?,?)"),
                             {ids[i], ids[i + 1], bookId, pageId});
        }
        for (qint64 hash : TextReuse::shingleHashes(content))
            ok &= db.run(QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,?)"),
                         {hash, pageId, bookId});
    }
    return db.exec(QStringLiteral("COMMIT")) && ok;
}

std::shared_ptr<SQLiteDB> corpusLibrary(const QString& dir)
{
    const QString path = FixtureLibrary::build(dir);
    if (path.isEmpty())
        return nullptr;
    auto db = SQLiteDB::open(path, false);
    if (!db || !fillDerivedTables(*db))
        return nullptr;
    return db;
}

std::shared_ptr<SQLiteDB> emptyLibrary(const QString& dir)
{
    auto db = SQLiteDB::open(dir + QStringLiteral("/empty.db"), false);
    if (!db || !LibrarySchema::create(*db))
        return nullptr;
    // Tests write row by row; a sync per row would make them crawl.
    db->exec(QStringLiteral("PRAGMA synchronous=OFF"));
    return db;
}

} // namespace quorvel::test
