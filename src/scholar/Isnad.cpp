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

namespace {

// What one piece of text between two link words holds.
struct Piece
{
    QStringList names;      // the narrators it names, in order
    bool textBegins = false; // the report's text starts in it: the chain ends
    bool tahwil = false;     // it ends with ح: a parallel route follows
    bool joint = false;      // the routes meet here (قالا, قالوا, جميعا)
};

bool isOneOf(const QString& word, std::initializer_list<const char16_t*> list)
{
    for (const char16_t* item : list)
        if (word == QStringView(item))
            return true;
    return false;
}

// Words after which a name goes on: a word after them that begins with و
// is part of the name (بن وهب, أبو وائل), not a second narrator.
bool continuesName(const QString& word)
{
    return isOneOf(word, {u"بن", u"ابن", u"بنت", u"ابنة", u"أبو", u"ابو", u"أبي", u"ابي", u"أبا", u"ابا", u"أم", u"ام",
                          u"عبد", u"ذو", u"ذي", u"مولى", u"أخو", u"أخي", u"آل"});
}

// Names that begin with و themselves.
bool isWawName(const QString& word)
{
    return isOneOf(word, {u"وكيع", u"وهب", u"وهيب", u"وائل", u"واصل", u"واقد", u"ورقاء", u"وحشي", u"وبرة",
                          u"وضاح", u"وردان", u"وابصة", u"وثيمة"});
}

bool validName(const QString& name)
{
    if (name.isEmpty() || fragments().contains(name))
        return false;
    const qsizetype length = Py::len(name);
    return length >= minNameLength && length < maxNameLength && Py::split(name).size() < maxNameWords;
}

Piece readPiece(const QString& piece)
{
    const Patterns& p = patterns();
    Piece out;
    qsizetype colon = 0;
    while (colon < piece.size() && piece[colon] != u':' && piece[colon] != u'\u061B')
        ++colon;
    QString text = piece.left(colon);
    // "He said:" ends the chain.
    if (colon < piece.size() && PyRegex::firstMatch(p.qaal, piece))
        out.textBegins = true;
    if (text.contains(u"\u0627\u0644\u0644\u0647") || text.contains(u"\u0639\u0644\u064A\u0647"))
        text = PyRegex::sub(p.honor, QStringLiteral(" "), text);
    // قال or أن(ه) followed by more words is where the report begins; a
    // bare قال before the next link word is only "he said: he told us".
    if (const auto cut = PyRegex::firstMatch(p.matnCut, text)) {
        for (const QChar c : QStringView(text).mid(cut->end()))
            if (isArabicLetter(c.unicode()))
                out.textBegins = true;
        text = text.left(cut->start);
    }

    std::u32string kept;
    kept.reserve(size_t(text.size()));
    for (char32_t c : Py::scalars(text))
        kept.push_back(isArabicLetter(c) || Py::isSpace(c) ? c : U' ');
    QStringList words = Py::split(Py::string(kept));

    // "… ح و(حدثنا)": the lone conjunction and the change-of-route mark.
    const auto dropTrailingWaw = [&words] {
        while (!words.isEmpty() && words.last() == u"\u0648")
            words.removeLast();
    };
    dropTrailingWaw();
    if (!words.isEmpty() && words.last() == u"\u062D") {
        out.tahwil = true;
        words.removeLast();
        dropTrailingWaw();
    }
    // A word that is no name ends the name; what follows it is no name either.
    qsizetype end = words.size();
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        bool stop = true;
        // "مثل ذلك", "في الذي يأتي امرأته": words no narrator's name holds.
        if (isOneOf(word, {u"نحوه", u"مثله", u"بنحوه", u"بمثله", u"يقول", u"تقول", u"مثل", u"بمثل", u"نحو",
                           u"بنحو", u"في", u"الذي"})) {
            out.textBegins = true;
        } else if (isOneOf(word, {u"قالا", u"قالوا", u"جميعا"})) {
            // Before the next link word the routes meet ("قالوا ثنا"); with
            // words after it, "they said" opens the report.
            if (i + 1 < words.size())
                out.textBegins = true;
            else
                out.joint = true;
        } else if (isOneOf(word, {u"يعني", u"يعنى", u"يعنيان"})) {
            // "أبو بكر يعني الحنفي", "إسماعيل يعنى ابن عياش": a gloss that
            // completes the name stays, without the word يعني (however it
            // is spelt); any other gloss ("يعني أباه") is no part of it.
            const bool completes = i + 1 < words.size()
                && (words[i + 1].startsWith(u"\u0627\u0644") || isOneOf(words[i + 1], {u"بن", u"ابن"}));
            if (completes && i < end) {
                words[i].clear();
                stop = false;
            }
        } else {
            stop = false;
        }
        if (stop && i < end)
            end = i;
    }
    words = words.mid(0, end);
    words.removeAll(QString());

    // Too many words for names joined by و: the report's text.
    if (words.size() >= maxNameWords && !out.tahwil && !out.joint) {
        out.textBegins = true;
        return out;
    }
    QStringList name;
    const auto flush = [&] {
        const QString joined = name.join(QLatin1Char(' '));
        name.clear();
        if (joined.isEmpty())
            return;
        if (validName(joined))
            out.names.append(joined);
        else if (Py::len(joined) >= maxNameLength || Py::split(joined).size() >= maxNameWords)
            out.textBegins = true;
    };
    for (const QString& word : std::as_const(words)) {
        // "يحيى بن سعيد ومحمد بن جعفر" names two narrators.
        if (!name.isEmpty() && word.startsWith(u'\u0648') && word.size() > 2 && !continuesName(name.last())) {
            flush();
            name.append(isWawName(word) ? word : word.mid(1));
            continue;
        }
        name.append(word);
    }
    flush();
    return out;
}

bool restartsChain(QStringView linkWord)
{
    return linkWord.startsWith(u"\u062D\u062F\u062B\u0646") // حدثن
        || linkWord.mid(1).startsWith(u"\u062E\u0628\u0631\u0646"); // اخبرن
}

} // namespace

QList<Chain> chains(const QString& text)
{
    const Patterns& p = patterns();
    const QString t = stripTashkeel(text);
    if (!mayOpenChain(t))
        return {};
    const auto opener = PyRegex::firstMatch(p.opener, t);
    if (!opener)
        return {};
    const QString s = t.mid(opener->start);
    const QList<PyRegex::Range> linkWords = PyRegex::allMatches(p.link, s);

    QList<Chain> result;
    QList<Chain> routes; // the routes of the chain being read
    bool open = true;    // inside a chain
    bool shared = false; // the routes have met: a name goes to each
    const auto finish = [&] {
        for (Chain& route : routes)
            if (!route.isEmpty())
                result.append(std::move(route));
        routes.clear();
        shared = false;
    };
    routes.append(Chain());
    for (qsizetype k = -1; k < linkWords.size(); ++k) {
        if (!open) {
            if (!restartsChain(QStringView(s).mid(linkWords[k].start, linkWords[k].length)))
                continue;
            open = true;
            routes.append(Chain());
        }
        const qsizetype from = k < 0 ? 0 : linkWords[k].end();
        const qsizetype to = k + 1 < linkWords.size() ? linkWords[k + 1].start : s.size();
        const Piece piece = readPiece(s.mid(from, to - from));
        if (!piece.names.isEmpty()) {
            if (shared) {
                for (Chain& route : routes)
                    route.append(piece.names);
            } else {
                routes.last().append(piece.names);
            }
        }
        if (piece.joint && routes.size() > 1)
            shared = true;
        if (piece.textBegins) {
            finish();
            open = false;
        } else if (piece.tahwil) {
            routes.append(Chain());
            shared = false;
        }
    }
    finish();
    return result;
}

QStringList chain(const QString& text)
{
    const QList<Chain> all = chains(text);
    QStringList names;
    if (!all.isEmpty())
        for (const Link& link : all.first())
            names += link;
    return names;
}

QList<std::pair<QString, QString>> edges(const QString& text)
{
    QList<std::pair<QString, QString>> pairs;
    QSet<std::pair<QString, QString>> seen;
    for (const Chain& route : chains(text))
        for (qsizetype i = 0; i + 1 < route.size(); ++i)
            for (const QString& student : route[i])
                for (const QString& teacher : route[i + 1])
                    if (student != teacher && !seen.contains({student, teacher})) {
                        seen.insert({student, teacher});
                        pairs.append({student, teacher});
                    }
    return pairs;
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
