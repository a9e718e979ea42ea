#include "scholar/NarratorFullName.h"

#include "core/Arabic.h"
#include "core/SQLiteDB.h"

#include <QHash>
#include <QStringList>

#include <algorithm>

namespace quorvel::Isnad {

namespace {

// A longer name of the same man is asked for where its chains share at
// least this share of the links of his best-shared name.
constexpr std::int64_t kLongerNameShareOf = 4;

using Neighbours = QHash<std::int64_t, std::int64_t>; // narrator id → links

// A name's words in normal form, «ابن» read as «بن» and «مولى» in one spelling.
QStringList wordsOf(const QString& name)
{
    QStringList words = Arabic::normalize(name).split(u' ', Qt::SkipEmptyParts);
    for (QString& w : words) {
        if (w == QStringLiteral("ابن"))
            w = QStringLiteral("بن");
    }
    return words;
}

// A bare given name: one word, or «عبد …»/«عبيد …» of two, no father, no
// kunya, no nisba.
bool isBareGivenName(const QStringList& words)
{
    if (words.isEmpty() || words.size() > 2)
        return false;
    const QString& first = words.first();
    if (first.startsWith(QStringLiteral("ال")) || first == QStringLiteral("ابو") || first == QStringLiteral("ابي")
        || first == QStringLiteral("ام") || first == QStringLiteral("بن"))
        return false;
    return words.size() == 1 || first == QStringLiteral("عبد") || first == QStringLiteral("عبيد");
}

// What may follow a given name in a fuller name of him: a father, a patron, a nisba.
bool continuesName(const QString& word)
{
    return word == QStringLiteral("بن") || word == QStringLiteral("مولي") || word.startsWith(QStringLiteral("ال"));
}

Neighbours neighbours(SQLiteDB& db, std::int64_t id, bool teachers)
{
    const QString sql = teachers
        ? QStringLiteral("SELECT teacher_id, count(*) FROM isnad_edges WHERE student_id=? GROUP BY teacher_id")
        : QStringLiteral("SELECT student_id, count(*) FROM isnad_edges WHERE teacher_id=? GROUP BY student_id");
    Neighbours out;
    for (const Statement::Row& row : db.rows(sql, {id}))
        out.insert(row.integer(0).value_or(0), row.integer(1).value_or(0));
    return out;
}

// The links both chains hold: each shared teacher or student as often as
// the rarer of the two names is linked with him, so that a fuller name is
// not credited with the bare name's every link to a teacher they share.
std::int64_t shared(const Neighbours& bare, const Neighbours& fuller)
{
    std::int64_t n = 0;
    for (auto it = bare.cbegin(); it != bare.cend(); ++it)
        if (const auto other = fuller.constFind(it.key()); other != fuller.cend())
            n += std::min(it.value(), *other);
    return n;
}

struct Fuller {
    QString name;
    QStringList added; // the words after the bare name
    std::int64_t shared = 0;
    qsizetype man = 0; // the first fuller name of the same man
};

// Two fuller names of one man: the words one adds stand all in the other's
// («مولى بن عمر», «مولى عبد الله بن عمر»).
bool oneMan(const QStringList& a, const QStringList& b)
{
    const QStringList& shorter = a.size() <= b.size() ? a : b;
    const QStringList& longer = a.size() <= b.size() ? b : a;
    return std::all_of(shorter.begin(), shorter.end(), [&](const QString& w) { return longer.contains(w); });
}

} // namespace

QString fullName(SQLiteDB& db, std::int64_t narratorId)
{
    const QList<Statement::Row> own = db.rows(QStringLiteral("SELECT name FROM narrators WHERE id=?"), {narratorId});
    const QString name = own.isEmpty() ? QString() : own.first().str(0).value_or(QString());
    const QStringList words = wordsOf(name);
    if (!isBareGivenName(words))
        return name;
    const Neighbours teachers = neighbours(db, narratorId, true);
    const Neighbours students = neighbours(db, narratorId, false);
    QList<Fuller> fuller;
    for (const Statement::Row& row : db.rows(QStringLiteral("SELECT id, name FROM narrators WHERE name LIKE ? || ' %'"),
                                             {name})) {
        const QString candidate = row.str(1).value_or(QString());
        const QStringList w = wordsOf(candidate);
        if (w.size() <= words.size() || w.mid(0, words.size()) != words || !continuesName(w[words.size()]))
            continue;
        const std::int64_t id = row.integer(0).value_or(0);
        const std::int64_t n = shared(teachers, neighbours(db, id, true)) + shared(students, neighbours(db, id, false));
        if (n > 0)
            fuller.append({candidate, w.mid(words.size()), n, 0});
    }
    if (fuller.isEmpty())
        return name;
    std::stable_sort(fuller.begin(), fuller.end(), [](const Fuller& a, const Fuller& b) { return a.shared > b.shared; });
    // The men the fuller names are, each with the links of all his names.
    QHash<qsizetype, std::int64_t> links;
    for (qsizetype i = 0; i < fuller.size(); ++i) {
        fuller[i].man = i;
        for (qsizetype j = 0; j < i; ++j) {
            if (fuller[j].man == j && oneMan(fuller[i].added, fuller[j].added)) {
                fuller[i].man = j;
                break;
            }
        }
        links[fuller[i].man] += fuller[i].shared;
    }
    qsizetype best = 0;
    for (auto it = links.cbegin(); it != links.cend(); ++it)
        if (*it > links.value(best))
            best = it.key();
    std::int64_t next = 0;
    for (auto it = links.cbegin(); it != links.cend(); ++it)
        if (it.key() != best)
            next = std::max(next, *it);
    // Chains that point to two men alike name neither.
    if (links.value(best) <= next)
        return name;
    // His best-shared name, or a longer one of his that goes on from it.
    const Fuller* chosen = &fuller[best];
    for (const Fuller& f : fuller) {
        if (f.man == best && f.added.size() > chosen->added.size() && f.added.mid(0, chosen->added.size()) == chosen->added
            && f.shared * kLongerNameShareOf >= fuller[best].shared)
            chosen = &f;
    }
    return chosen->name;
}

} // namespace quorvel::Isnad
