#include "DerivedTables.h"

#include "core/LibrarySchema.h"
#include "distribution/LocalStore.h"
#include "support/FixtureLibrary.h"

namespace quorvel::test {

std::shared_ptr<SQLiteDB> corpusLibrary(const QString& dir)
{
    const bool reuse = LocalStore::withReuse();
    LocalStore::setWithReuse(true);
    const QString path = FixtureLibrary::build(dir);
    LocalStore::setWithReuse(reuse);
    if (path.isEmpty())
        return nullptr;
    return SQLiteDB::open(path, false);
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
