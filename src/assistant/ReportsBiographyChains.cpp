#include "assistant/ReportsBiographyText.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"

#include <QSet>

#include <algorithm>

namespace quorvel::Reports::BiographyText {

namespace {

// The chains decide only where they are a good part of the form's use: their
// links at least this share of the pages naming it...
constexpr std::int64_t kChainLinksPerPageDivisor = 4;
// ...where the man they point to shares at least this share of the form's
// links with its chains...
constexpr std::int64_t kSharedLinksDivisor = 10;
// ...and more than this many times the next man's.
constexpr std::int64_t kAheadOfNext = 2;

using Counted = QHash<QString, std::int64_t>;

// The form at `at` in the words as the man's own name, not his father's nor
// a kinsman's or patron's («أخي الزهري»); «ابن X» only as his own father's
// name («سالم بن عبد الله بن عمر» is the son of the man called «ابن عمر»).
bool formAt(const QStringList& words, qsizetype at, const QStringList& form)
{
    if (words.mid(at, form.size()) != form)
        return false;
    if (form.first() == sonOf() && at != words.indexOf(sonOf()))
        return false;
    return at == 0 || !(isLineage(words[at - 1]) || isRelation(words[at - 1]));
}

qsizetype formIn(const QStringList& words, const QStringList& form)
{
    for (qsizetype at = 0; at + form.size() <= words.size(); ++at)
        if (formAt(words, at, form))
            return at;
    return -1;
}

// Two names of one man in the chains: the same words, or a short form and a
// longer name that holds it as the man's own («الأثرم», «علي بن المغيرة الأثرم»).
bool sameMan(const QStringList& a, const QStringList& b)
{
    if (a == b)
        return true;
    const QStringList& shorter = a.size() < b.size() ? a : b;
    const QStringList& longer = a.size() < b.size() ? b : a;
    return isShortForm(shorter) && formIn(longer, shorter) >= 0;
}

// The teachers (or students) of the narrators `ids`, by name, with how many links each.
Counted neighbours(const Library& lib, const QList<std::int64_t>& ids, bool teachers)
{
    Counted out;
    if (ids.isEmpty())
        return out;
    const QString sql = teachers
        ? QStringLiteral("SELECT n.name, count(*) FROM isnad_edges e JOIN narrators n ON n.id = e.teacher_id "
                         "WHERE e.student_id IN (")
        : QStringLiteral("SELECT n.name, count(*) FROM isnad_edges e JOIN narrators n ON n.id = e.student_id "
                         "WHERE e.teacher_id IN (");
    for (const Statement::Row& row :
         lib.main().rows(sql + SQLiteDB::marks(ids.size()) + QStringLiteral(") GROUP BY n.name"), argsOf(ids)))
        out[foldedTokens(row.str(0).value_or(QString())).join(u' ')] += row.integer(1).value_or(0);
    return out;
}

// How many of the form's links the chains of a fuller name share: a teacher
// (or student) of the form alone who is also one of his.
std::int64_t shared(const Counted& alone, const Counted& his)
{
    std::int64_t n = 0;
    for (auto it = alone.cbegin(); it != alone.cend(); ++it) {
        const QStringList a = it.key().split(u' ', Qt::SkipEmptyParts);
        if (std::any_of(his.keyBegin(), his.keyEnd(), [&](const QString& h) {
                return sameMan(a, h.split(u' ', Qt::SkipEmptyParts));
            }))
            n += it.value();
    }
    return n;
}

std::int64_t total(const Counted& c)
{
    std::int64_t n = 0;
    for (const std::int64_t v : c)
        n += v;
    return n;
}

// Each heading's group: the first of the headings that are one man's. A
// dictionary may file him again under his kunya and a nisba («أبو غسان
// المدني» beside «مطر بن دينار أبو غسان المدني»): a heading whose every
// word stands in another's, one part of them agreeing, is his too.
QList<qsizetype> menOf(const QList<QStringList>& headings, const QStringList& form)
{
    const auto within = [](const QStringList& x, const QStringList& y) {
        return std::all_of(x.begin(), x.end(), [&](const QString& w) { return y.contains(w); });
    };
    QList<NameParts> parts;
    for (const QStringList& h : headings)
        parts << nameParts(h);
    QList<qsizetype> group(headings.size());
    for (qsizetype b = 0; b < headings.size(); ++b) {
        group[b] = b;
        for (qsizetype c = 0; c < b; ++c) {
            if (group[c] == c
                && (oneMan(parts[b], parts[c], 2, form)
                    || ((within(headings[b], headings[c]) || within(headings[c], headings[b]))
                        && oneMan(parts[b], parts[c], 1, form)))) {
                group[b] = c;
                break;
            }
        }
    }
    return group;
}

} // namespace

// Of a short form's bearers (the headings of their entries), the one the
// chains mean where they name him by the form alone: the bearer whose fuller
// names in the chains share their teachers and students with the form's.
// kNoEntry when they plainly mean a man whose fuller name there matches no
// heading; nothing when the chains are a small part of the form's use or
// point to no one man; not `plain` when they lean to one man but hold too
// few of the form's links to decide alone. His other headings, one man's
// with the chosen one, are in `his`.
std::optional<ChainsMan> chainsBearer(const Library& lib, const QStringList& form, const QList<QStringList>& headings)
{
    if (form.isEmpty() || headings.isEmpty())
        return std::nullopt;
    QList<std::int64_t> alone;
    QList<std::pair<std::int64_t, QStringList>> fuller;
    for (const Statement::Row& row : lib.main().rows(QStringLiteral("SELECT id, name FROM narrators"))) {
        const QStringList words = foldedTokens(row.str(1).value_or(QString()));
        const std::int64_t id = row.integer(0).value_or(0);
        if (words == form)
            alone << id;
        else if (formIn(words, form) >= 0)
            fuller.append({id, words});
    }
    const Counted teachers = neighbours(lib, alone, true);
    const Counted students = neighbours(lib, alone, false);
    const std::int64_t links = total(teachers) + total(students);
    if (links == 0 || links * kChainLinksPerPageDivisor < pagesCount(lib, form))
        return std::nullopt;
    // One man may head entries in several dictionaries, or twice in one
    // («أبو غسان المدني» beside «مطر بن دينار أبو غسان المدني»): his
    // headings are one group, and his links go to it once.
    const QList<qsizetype> group = menOf(headings, form);
    // The last score is that of men of the chains no heading names.
    QList<std::int64_t> score(headings.size() + 1, 0);
    for (const auto& [id, words] : fuller) {
        // The fuller name says of him more than the form: a given name, a
        // father, another kunya or nisba, none of them another man's.
        const NameParts parts = nameParts(words);
        QSet<qsizetype> his;
        for (qsizetype b = 0; b < headings.size(); ++b)
            if (oneMan(parts, nameParts(headings[b]), 1, form))
                his.insert(group[b]);
        // A man of no entry only where the chains give his name and his father's before the form.
        const qsizetype at = formIn(words, form);
        const qsizetype son = words.indexOf(sonOf());
        if (his.isEmpty() && son > 0 && son < at)
            his.insert(headings.size());
        if (his.isEmpty())
            continue;
        const std::int64_t n =
            shared(teachers, neighbours(lib, {id}, true)) + shared(students, neighbours(lib, {id}, false));
        for (const qsizetype b : his)
            score[b] += n;
    }
    const qsizetype best = std::max_element(score.begin(), score.end()) - score.begin();
    std::int64_t next = 0;
    for (qsizetype g = 0; g < score.size(); ++g)
        if (g != best)
            next = std::max(next, score[g]);
    if (score[best] <= next * kAheadOfNext)
        return std::nullopt;
    // Too few of the form's links for the chains to decide alone: they only lean to him.
    const bool plain = score[best] * kSharedLinksDivisor >= links;
    if (best == headings.size())
        return plain ? std::optional(ChainsMan{kNoEntry, {}, true}) : std::nullopt;
    ChainsMan man{best, {}, plain};
    for (qsizetype b = best + 1; b < headings.size(); ++b)
        if (group[b] == best)
            man.his << b;
    return man;
}

} // namespace quorvel::Reports::BiographyText
