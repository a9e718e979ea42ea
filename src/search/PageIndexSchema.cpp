// The index's tables, the triggers that count every change to what it
// mirrors, and the state a search reads before it uses the index.

#include "search/PageIndex.h"

#include "core/Numbers.h"
#include "core/SQLiteDB.h"
#include "search/PageIndexStore.h"
#include "search/PageMap.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <utility>

namespace quorvel::PageIndex {

namespace {

// What a change does to the mark and the count.
const QString kChangeCounted = QStringLiteral(
    "DELETE FROM meta WHERE key='page_index_checked'; "
    "INSERT INTO meta(key, value) VALUES('page_index_changes', 1) ON CONFLICT(key) DO UPDATE SET value = value + 1;");
const QString kUnlessWriting = QStringLiteral("WHEN NOT EXISTS (SELECT 1 FROM meta WHERE key='page_index_writing') ");
const QString kLibraryChanged =
    QStringLiteral("BEGIN UPDATE meta SET value = value + 1 WHERE key='library_changes'; END");

struct Trigger {
    QString name;
    QString sql; // as the schema stores it: the statement without IF NOT EXISTS or a closing semicolon
};

// One trigger counting each kind of change to a table; unless `exemptWriter`
// is false, not for the installer's writer, whose rows come row by row and
// whose start is counted instead.
QList<Trigger> countedChanges(const QString& table, bool exemptWriter = true)
{
    QList<Trigger> out;
    for (const char* op : {"INSERT", "UPDATE", "DELETE"}) {
        const QString name = table + QStringLiteral("_counted_") + QString::fromLatin1(op).toLower();
        out.append({name, QStringLiteral("CREATE TRIGGER %1 AFTER %2 ON %3 %4BEGIN %5 END")
                              .arg(name, QString::fromLatin1(op), table, exemptWriter ? kUnlessWriting : QString(),
                                   kChangeCounted)});
    }
    return out;
}

// Every trigger this build's store holds. Changes to the full-text tables
// are counted where this program makes them: with the pages they mirror
// (pages_fts), or by the index's writers themselves (page_forms, see
// countChange); their shadow tables are FTS5's own and are not watched.
QList<Trigger> triggers()
{
    QList<Trigger> out = countedChanges(QStringLiteral("page_terms")) + countedChanges(QStringLiteral("page_marks"))
        + countedChanges(QStringLiteral("pages"));
    // The writer's start is counted: a write that set its row to skip the
    // triggers above is counted however it ends.
    out.append({QStringLiteral("page_index_writer_counted"),
                QStringLiteral("CREATE TRIGGER page_index_writer_counted AFTER INSERT ON meta "
                               "WHEN new.key='page_index_writing' BEGIN ")
                    + kChangeCounted + QStringLiteral(" END")});
    out.append({QStringLiteral("page_index_writer_renamed"),
                QStringLiteral("CREATE TRIGGER page_index_writer_renamed AFTER UPDATE OF key ON meta "
                               "WHEN new.key='page_index_writing' BEGIN ")
                    + kChangeCounted + QStringLiteral(" END")});
    // Pages written by anything but the installer's writer leave the index
    // behind: it is taken as missing and built again.
    const QString behind = QStringLiteral(
        "BEGIN DELETE FROM meta WHERE key IN ('page_index','page_index_cursor','page_index_cursor_version'); END");
    out.append({QStringLiteral("page_index_added"),
                QStringLiteral("CREATE TRIGGER page_index_added AFTER INSERT ON pages ") + kUnlessWriting + behind});
    out.append({QStringLiteral("page_index_changed"),
                QStringLiteral("CREATE TRIGGER page_index_changed AFTER UPDATE OF id, content ON pages ") + behind});
    // The count of changes to the pages and headings that the search's
    // caches follow (PageMap): the installer's writer counts a book's pages
    // once, in finish().
    out.append({QStringLiteral("library_changes_added"),
                QStringLiteral("CREATE TRIGGER library_changes_added AFTER INSERT ON pages ") + kUnlessWriting
                    + kLibraryChanged});
    out.append({QStringLiteral("library_changes_removed"),
                QStringLiteral("CREATE TRIGGER library_changes_removed AFTER DELETE ON pages ") + kLibraryChanged});
    out.append({QStringLiteral("library_changes_changed"),
                QStringLiteral("CREATE TRIGGER library_changes_changed AFTER UPDATE OF id, book_id, seq, content ON pages ")
                    + kLibraryChanged});
    const std::pair<const char*, const char*> headingChanges[] = {
        {"added", "INSERT"}, {"removed", "DELETE"}, {"changed", "UPDATE"}};
    for (const auto& [change, op] : headingChanges)
        out.append({QStringLiteral("heading_changes_") + QLatin1String(change),
                    QStringLiteral("CREATE TRIGGER heading_changes_%1 AFTER %2 ON toc ")
                            .arg(QLatin1String(change), QLatin1String(op))
                        + kLibraryChanged});
    return out;
}

// The triggers of earlier builds: marks dropped at the first change of the
// index's rows only, and counts of the full-text tables' shadow tables,
// whose writes inside FTS5's own left its tables unsound.
QStringList obsoleteTriggers()
{
    QStringList out{QStringLiteral("page_terms_touched"), QStringLiteral("page_terms_changed"),
                    QStringLiteral("page_marks_touched"), QStringLiteral("page_marks_changed"),
                    QStringLiteral("page_forms_written")};
    for (const char* table : {"pages_fts", "page_forms"})
        for (const char* shadow : {"_data", "_idx", "_config", "_content", "_docsize"})
            for (const char* op : {"insert", "update", "delete"})
                out << QLatin1String(table) + QLatin1String(shadow) + QStringLiteral("_counted_") + QLatin1String(op);
    return out;
}

// The stored text of every trigger, by name.
QHash<QString, QString> storedTriggers(SQLiteDB& db)
{
    QHash<QString, QString> out;
    for (const auto& row : db.rows(QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type='trigger'")))
        out.insert(row.str(0).value_or(QString()), row.str(1).value_or(QString()));
    return out;
}

} // namespace

extern const QString kTables = QStringLiteral(
    "CREATE VIRTUAL TABLE IF NOT EXISTS page_forms USING fts5(matn, hawashi, seam, content='', columnsize=0, "
    "tokenize='unicode61 remove_diacritics 2');"
    "CREATE TABLE IF NOT EXISTS page_terms(term TEXT NOT NULL, form TEXT NOT NULL, rterm TEXT NOT NULL, "
    "pages INTEGER NOT NULL, PRIMARY KEY(term, form)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS page_terms_reversed ON page_terms(rterm);"
    "CREATE TABLE IF NOT EXISTS page_marks(term TEXT NOT NULL, form TEXT NOT NULL, page_id INTEGER NOT NULL, "
    "PRIMARY KEY(term, form, page_id)) WITHOUT ROWID;");

bool createTriggers(SQLiteDB& db)
{
    const QHash<QString, QString> stored = storedTriggers(db);
    QString sql;
    for (const QString& name : obsoleteTriggers())
        if (stored.contains(name))
            sql += QStringLiteral("DROP TRIGGER %1;").arg(name);
    // A trigger of this name with other text (an earlier build's, or one
    // put in its place) is replaced.
    for (const Trigger& t : triggers())
        if (stored.value(t.name) != t.sql)
            sql += QStringLiteral("DROP TRIGGER IF EXISTS %1;").arg(t.name) + t.sql + u';';
    // Nothing to change writes nothing: opening a store takes no write lock.
    return sql.isEmpty() || db.exec(sql);
}

bool triggersWhole(SQLiteDB& db)
{
    const QHash<QString, QString> stored = storedTriggers(db);
    const QList<Trigger> expected = triggers();
    return !stored.isEmpty()
        && std::all_of(expected.begin(), expected.end(), [&](const Trigger& t) { return stored.value(t.name) == t.sql; });
}

bool countChange(SQLiteDB& db)
{
    return db.exec(kChangeCounted);
}

bool createSchema(SQLiteDB& db)
{
    const bool had = tablesExist(db);
    bool ok = db.exec(kTables) && createTriggers(db);
    // Looked for first: a store that has its count takes no write here.
    // The count of changes is started by its triggers, or by the first mark:
    // opening a store writes nothing more.
    if (ok && !metaValue(db, QString::fromLatin1(PageMap::changesKey)))
        ok = setMeta(db, QString::fromLatin1(PageMap::changesKey), QStringLiteral("0"));
    if (ok && !had && db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM pages)")).value_or(1) == 0)
        ok = setMeta(db, kTermPagesKey, QStringLiteral("0")) && setMeta(db, kMarkRowsKey, QStringLiteral("0"))
            && setMeta(db, kStateKey, QString::number(version));
    return ok;
}

State state(SQLiteDB& db)
{
    auto st = db.prepare(QLatin1String(stateQuery));
    return st ? state(*st) : State{};
}

State state(Statement& st)
{
    st.bind({});
    if (!st.step())
        return {};
    const bool ready = st.text(0) == QString::number(version);
    const std::optional<QString> mark = st.text(1);
    const std::optional<std::int64_t> schema = st.integer(2);
    const QString structure = st.text(3).value_or(QString());
    st.bind({});
    return {ready, ready && mark && schema && mark->section(u' ', 0, 0) == QString::number(*schema)
                       && mark->section(u' ', 2, 2) == structure};
}

std::optional<QString> metaValue(SQLiteDB& db, const QString& key)
{
    const auto rows = db.rows(QStringLiteral("SELECT value FROM meta WHERE key=?"), {key});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().str(0);
}

bool setMeta(SQLiteDB& db, const QString& key, const QString& value)
{
    return db.run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?,?)"), {key, value});
}

bool tablesExist(SQLiteDB& db)
{
    return db.scalarInt(QStringLiteral(
                            "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('page_forms','page_terms','page_marks')"))
               .value_or(0)
        == 3;
}

std::optional<std::int64_t> indexedUpTo(SQLiteDB& db)
{
    if (!tablesExist(db))
        return std::nullopt;
    if (metaValue(db, kStateKey) == QString::number(version))
        return kComplete;
    if (metaValue(db, kCursorKey + QStringLiteral("_version")) != QString::number(version))
        return std::nullopt;
    const auto text = metaValue(db, kCursorKey);
    const auto cursor = text ? Numbers::parseInteger(*text) : std::nullopt;
    if (!cursor || *cursor < 0)
        return std::nullopt;
    const auto last = db.scalarInt(QStringLiteral("SELECT IFNULL(MAX(id), 0) FROM pages"));
    if (!last || *cursor > *last)
        return std::nullopt;
    return cursor;
}

} // namespace quorvel::PageIndex
