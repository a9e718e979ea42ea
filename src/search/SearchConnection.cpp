#include "search/SearchConnection.h"

#include "core/SQLiteDB.h"

#include <utility>

namespace quorvel {

std::unique_ptr<SearchConnection> SearchConnection::take(const Library& lib)
{
    // Only this layer puts connections into the pool.
    if (std::unique_ptr<Library::KeptSearch> idle = lib.takeKeptSearch())
        return std::unique_ptr<SearchConnection>(static_cast<SearchConnection*>(idle.release()));
    // A connection another reader gave back is warm too.
    if (std::shared_ptr<SQLiteDB> db = lib.takeSearchConnection())
        return std::make_unique<SearchConnection>(std::move(db));
    return nullptr;
}

void SearchConnection::giveBack(const Library& lib, std::unique_ptr<SearchConnection> kept)
{
    if (!kept)
        return;
    kept->resetAll();
    kept->end();
    lib.keepSearch(std::move(kept));
}

// Its statements go first (declared after the connection); an open
// transaction ends with the connection.
SearchConnection::~SearchConnection() = default;

Statement* SearchConnection::statement(const QString& sql)
{
    auto it = statements.find(sql);
    if (it == statements.end()) {
        auto st = db->prepare(sql);
        if (!st)
            return nullptr;
        ++compiles;
        it = statements.emplace(sql, std::make_unique<Statement>(std::move(*st))).first;
    }
    it->second->bind({});
    return it->second.get();
}

void SearchConnection::resetAll()
{
    for (auto& statement : statements)
        statement.second->bind({});
}

bool SearchConnection::begin()
{
    open = false;
    held = false;
    Statement* start = db->inTransaction() ? nullptr : statement(QStringLiteral("BEGIN"));
    if (!start || start->next() != Statement::Step::Done)
        return false;
    open = true;
    Statement* first = map.changes
        ? statement(QStringLiteral("SELECT value FROM meta WHERE key='%1'").arg(QLatin1String(PageMap::changesKey)))
        : statement(QStringLiteral("PRAGMA schema_version"));
    const bool read = first && first->step();
    held = read && map.changes && map.snapshot && first->text(0) == map.changes;
    if (first)
        first->bind({});
    return held;
}

void SearchConnection::end()
{
    held = false;
    if (!std::exchange(open, false) || !db->inTransaction())
        return;
    Statement* commit = statement(QStringLiteral("COMMIT"));
    if ((!commit || commit->next() != Statement::Step::Done) && db->inTransaction())
        db->exec(QStringLiteral("ROLLBACK"));
    if (commit)
        commit->bind({});
}

void SearchConnection::keep(const PageMap::Current& current)
{
    if (current.dataGeneration < 0 || current.dataGeneration != map.dataGeneration) {
        end();
        statements.clear();
    }
    map = current;
}

} // namespace quorvel
