#include "scholar/Isnad.h"

#include "core/Arabic.h"
#include "core/SQLiteDB.h"

#include <QHash>
#include <QSet>

// The graph side of the chains: read-only queries over the narrators and
// edges the installer stored.

namespace quorvel::Isnad {

namespace {

// The page's own word for each narrator the graph files under another name
// («سليمان بن بريدة عن أبيه»: بريدة reads «أبيه» there), unless the page
// also names him so itself. Keyed by the filed name's spelling.
QHash<QString, QString> wordsOnPage(const QString& text)
{
    const QList<Chain> read = chains(text);
    const QList<Chain> filed = filedChains(read);
    QSet<QString> named;
    for (const Chain& route : read)
        for (const Link& place : route)
            for (const QString& name : place)
                named.insert(spellingKey(name));
    QHash<QString, QString> written;
    // The filed chains are the chains read, place for place, fathers named.
    for (qsizetype r = 0; r < read.size() && r < filed.size(); ++r)
        for (qsizetype i = 0; i < read[r].size() && i < filed[r].size(); ++i)
            for (qsizetype j = 0; j < read[r][i].size() && j < filed[r][i].size(); ++j)
                if (const QString key = spellingKey(filed[r][i][j]);
                    filed[r][i][j] != read[r][i][j] && !named.contains(key) && !written.contains(key))
                    written.insert(key, read[r][i][j]);
    return written;
}

} // namespace

QString spellingKey(const QString& name)
{
    // «ابن بريدة» and «بن بريدة» are one man, as the books write him either way.
    static const QString ibn = Arabic::normalize(QStringLiteral(u"ابن"), true);
    static const QString bin = Arabic::normalize(QStringLiteral(u"بن"), true);
    QStringList words = Arabic::normalize(name, true).split(u' ');
    for (QString& word : words)
        if (word == ibn)
            word = bin;
    return words.join(u' ');
}

Filing::Filing(SQLiteDB& db)
{
    // One pass over the narrators gives both the names and the fathers they name.
    QStringList names;
    for (const auto& row : db.rows(QStringLiteral("SELECT id, name FROM narrators"))) {
        const auto name = row.str(1);
        if (!name)
            continue;
        names.append(*name);
        if (const auto id = row.integer(0))
            byKey_.insert(spellingKey(*name), Narrator{*id, *name, *name});
    }
    fathers_ = FatherNames(names);
}

std::optional<Narrator> Filing::of(const QString& name) const
{
    if (const auto found = byKey_.constFind(spellingKey(name)); found != byKey_.cend())
        return *found;
    if (const QString father = fathers_.of(name); !father.isEmpty())
        if (const auto found = byKey_.constFind(spellingKey(father)); found != byKey_.cend())
            return *found;
    return std::nullopt;
}

QList<std::pair<Narrator, Narrator>> Filing::links(const QString& text) const
{
    QList<std::pair<Narrator, Narrator>> out;
    QSet<std::pair<std::int64_t, std::int64_t>> seen;
    for (const auto& [student, teacher] : edges(text)) {
        const auto s = of(student);
        const auto t = of(teacher);
        if (s && t && s->id != t->id && !seen.contains({s->id, t->id})) {
            seen.insert({s->id, t->id});
            out.append({*s, *t});
        }
    }
    return out;
}

QList<Narrator> narrators(SQLiteDB& db, std::int64_t pageId, const Filing* filing)
{
    QList<std::int64_t> ids;
    QSet<std::int64_t> seen;
    const auto edges = db.rows(
        QStringLiteral("SELECT student_id, teacher_id FROM isnad_edges WHERE page_id=? ORDER BY rowid"),
        {pageId});
    for (const auto& row : edges) {
        for (int col : {0, 1}) {
            const auto id = row.integer(col);
            if (id && !seen.contains(*id)) {
                seen.insert(*id);
                ids.append(*id);
            }
        }
    }
    if (ids.isEmpty())
        return {};

    // A page with a very long chain may mention more narrators than one
    // statement can bind, so the names are read in slices.
    QHash<std::int64_t, QString> names;
    const qsizetype slice = db.maxParameters();
    for (qsizetype from = 0; from < ids.size(); from += slice) {
        const QList<std::int64_t> part = ids.mid(from, slice);
        const QString sql = QStringLiteral("SELECT id, name FROM narrators WHERE id IN (")
            + SQLiteDB::marks(part.size()) + QStringLiteral(")");
        for (const auto& row : db.rows(sql, argsOf(part))) {
            const auto id = row.integer(0);
            if (id)
                names.insert(*id, row.str(1).value_or(QString()));
        }
    }

    // Each is named as the page names him, under the id the graph files him.
    const auto page = db.rows(QStringLiteral("SELECT content FROM pages WHERE id=?"), {pageId});
    const QHash<QString, QString> written =
        page.isEmpty() ? QHash<QString, QString>() : wordsOnPage(page.first().str(0).value_or(QString()));
    // A fallback the library merged into the man it names («والد سهيل»:
    // أبو صالح) is found through the library's names.
    QHash<std::int64_t, QString> writtenById;
    if (!written.isEmpty()) {
        std::optional<Filing> own;
        const Filing& filed = filing ? *filing : own.emplace(db);
        for (auto it = written.cbegin(); it != written.cend(); ++it)
            if (const auto narrator = filed.of(it.key()))
                writtenById.insert(narrator->id, it.value());
    }
    QList<Narrator> result;
    for (std::int64_t id : ids) {
        const auto found = names.constFind(id);
        if (found != names.cend())
            result.append(Narrator{id, writtenById.value(id, *found), *found});
    }
    return result;
}

QList<std::pair<Narrator, Narrator>> storedLinks(SQLiteDB& db, std::int64_t pageId)
{
    QList<std::pair<Narrator, Narrator>> out;
    QSet<std::pair<std::int64_t, std::int64_t>> seen;
    const auto rows = db.rows(QStringLiteral("SELECT s.id, s.name, t.id, t.name FROM isnad_edges e\n"
                                             "JOIN narrators s ON s.id=e.student_id\n"
                                             "JOIN narrators t ON t.id=e.teacher_id\n"
                                             "WHERE e.page_id=? ORDER BY e.rowid"),
                              {pageId});
    for (const auto& row : rows) {
        const std::int64_t student = row.integer(0).value_or(0);
        const std::int64_t teacher = row.integer(2).value_or(0);
        if (seen.contains({student, teacher}))
            continue;
        seen.insert({student, teacher});
        const QString studentName = row.str(1).value_or(QString());
        const QString teacherName = row.str(3).value_or(QString());
        out.append({Narrator{student, studentName, studentName}, Narrator{teacher, teacherName, teacherName}});
    }
    return out;
}

std::optional<QString> name(SQLiteDB& db, std::int64_t narratorId)
{
    const auto rows = db.rows(QStringLiteral("SELECT name FROM narrators WHERE id=?"), {narratorId});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().str(0);
}

Links links(SQLiteDB& db, std::int64_t narratorId)
{
    // The column names are constants of this function; only the id is bound.
    const auto query = [&](const char* joinSide, const char* whereSide) {
        const QString sql =
            QStringLiteral("SELECT nn.id, nn.name, COUNT(*) FROM isnad_edges e JOIN narrators nn ON nn.id=e.")
            + QLatin1String(joinSide) + QStringLiteral("id\nWHERE e.") + QLatin1String(whereSide)
            + QStringLiteral("id=? GROUP BY nn.id ORDER BY nn.name");
        QList<LinkedNarrator> linked;
        for (const auto& row : db.rows(sql, {narratorId}))
            linked.append(LinkedNarrator{row.integer(0).value_or(0), row.str(1).value_or(QString()),
                                         row.integer(2).value_or(0)});
        return linked;
    };
    Links result;
    result.teachers = query("teacher_", "student_");
    result.students = query("student_", "teacher_");
    return result;
}

} // namespace quorvel::Isnad
