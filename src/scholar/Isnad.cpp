#include "scholar/Isnad.h"

#include "core/Arabic.h"
#include "core/Py.h"
#include "core/PyRegex.h"
#include "core/SQLiteDB.h"

#include <QHash>
#include <QSet>

namespace quorvel::Isnad {

namespace {

struct Patterns
{
    // A transmission verb that opens a chain.
    PyRegex::Regex opener = PyRegex::compile(QStringLiteral(
        u"(?:حدثنا|حدثني|حدثنى|[اأإ]خبرنا|[اأإ]خبرني|ثنا|سمعت)\\b"));
    // The link words between two narrators, with the white space after them.
    PyRegex::Regex link = PyRegex::compile(QStringLiteral(
        u"(?:حدثنا|حدثني|حدثنى|[اأإ]خبرنا|[اأإ]خبرني|[اأإ]نب[اأ]نا|ثنا|سمعت|عن)\\s+"));
    // "He said:" / "she said:" ends the chain.
    PyRegex::Regex qaal = PyRegex::compile(QStringLiteral(u"قال(?:ت)?\\s*:"));
    PyRegex::Regex honor = PyRegex::compile(QStringLiteral(
        u"رضي\\s+الله\\s+(?:تعالى\\s+)?عنه(?:ما|م|ا)?|رحمه\\s+الله|صلى\\s+الله\\s+عليه\\s+وسلم|عليه\\s+السلام"));
    // The words that begin the report's text inside a narrator piece.
    PyRegex::Regex matnCut = PyRegex::compile(QStringLiteral(
        u"\\b(?:قال(?:ت)?|[أا]نه?|[أا]نها|[أا]نهم)\\b"));
};

const Patterns& patterns()
{
    static const Patterns compiled;
    return compiled;
}

// Pieces that clean to one of these are particles, never names.
const QSet<QString>& fragments()
{
    static const QSet<QString> set{QStringLiteral(u"ال"), QStringLiteral(u"و"),
                                   QStringLiteral(u"ف"), QStringLiteral(u"ب")};
    return set;
}

// Narrower than Arabic::isDrop, the extended marks staying: the chains, and
// the narrator tables every installed library holds, are defined on this set.
bool isTashkeel(char16_t u)
{
    const Arabic::MarkGroup group = Arabic::markGroup(u);
    return group == Arabic::MarkGroup::Harakat || group == Arabic::MarkGroup::SuperscriptAlef
        || group == Arabic::MarkGroup::Quranic || u == 0x0640;
}

// Whether the opener can match in the stripped text `t`: each of its verbs
// contains one of these letter runs. A page with none of them needs no run
// of the pattern, and searching for them costs far less.
bool mayOpenChain(QStringView t)
{
    return t.contains(u"\u062B\u0646") // ثن: حدثنا حدثني حدثنى ثنا
        || t.contains(u"\u062E\u0628\u0631\u0646") // خبرن: اخبرنا اخبرني
        || t.contains(u"\u0633\u0645\u0639\u062A"); // سمعت
}

bool isArabicLetter(char32_t c) { return c >= 0x0621 && c <= 0x064A; }

// Up to the first match of `re`, or the whole text.
QString before(const PyRegex::Regex& re, const QString& text)
{
    const auto match = PyRegex::firstMatch(re, text);
    return match ? text.left(match->start) : text;
}

} // namespace

QString stripTashkeel(const QString& text)
{
    QString out(text.size(), Qt::Uninitialized);
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    char16_t* kept = reinterpret_cast<char16_t*>(out.data());
    qsizetype length = 0;
    // Every unit is written and only the kept ones advance: no branch on
    // the text, which mixes letters and marks unit by unit.
    for (qsizetype i = 0; i < text.size(); ++i) {
        kept[length] = in[i];
        length += !isTashkeel(in[i]);
    }
    out.truncate(length);
    return out;
}

bool hasIsnad(const QString& text)
{
    const QString t = stripTashkeel(text);
    return mayOpenChain(t) && PyRegex::firstMatch(patterns().opener, t).has_value();
}

QString cleanNarrator(const QString& piece)
{
    const Patterns& p = patterns();
    // The first ":" or "؛" ends the name.
    qsizetype colon = 0;
    while (colon < piece.size() && piece[colon] != u':' && piece[colon] != u'\u061B')
        ++colon;
    QString text = piece.left(colon);
    // Every honorific formula contains الله or عليه, and every word that
    // begins the report's text contains قال, ان or أن: without them the
    // patterns cannot match, and pieces are many.
    if (text.contains(u"\u0627\u0644\u0644\u0647") || text.contains(u"\u0639\u0644\u064A\u0647"))
        text = PyRegex::sub(p.honor, QStringLiteral(" "), text);
    if (text.contains(u"\u0642\u0627\u0644") || text.contains(u"\u0627\u0646") || text.contains(u"\u0623\u0646"))
        text = before(p.matnCut, text);

    // Only Arabic letters and white space survive; each other code point
    // (digits, punctuation, Latin, a surviving mark) becomes one space.
    std::u32string kept;
    kept.reserve(size_t(text.size()));
    for (char32_t c : Py::scalars(text))
        kept.push_back(isArabicLetter(c) || Py::isSpace(c) ? c : U' ');

    // The joined name is Arabic letters and single spaces, so a lone
    // conjunction left at its end is exactly a final " و".
    QString joined = Py::split(Py::string(kept)).join(QLatin1Char(' '));
    if (joined.endsWith(u" \u0648"))
        joined.chop(2);
    return joined;
}

QStringList chain(const QString& text)
{
    const Patterns& p = patterns();
    const QString t = stripTashkeel(text);
    if (!mayOpenChain(t))
        return {};
    const auto opener = PyRegex::firstMatch(p.opener, t);
    if (!opener)
        return {};
    const QString s = before(p.qaal, t.mid(opener->start));

    QStringList names;
    for (const QString& piece : PyRegex::split(p.link, s)) {
        const QString name = cleanNarrator(piece);
        if (name.isEmpty() || fragments().contains(name))
            continue;
        const qsizetype length = Py::len(name);
        if (length < minNameLength || length >= maxNameLength)
            continue;
        if (Py::split(name).size() >= maxNameWords)
            continue;
        names.append(name);
    }
    return names;
}

QList<Narrator> narrators(SQLiteDB& db, std::int64_t pageId)
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

    QList<Narrator> result;
    for (std::int64_t id : ids) {
        const auto found = names.constFind(id);
        if (found != names.cend())
            result.append(Narrator{id, *found});
    }
    return result;
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
