#include "scholar/NameWords.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "scholar/Concordance.h"

namespace quorvel {

namespace {

// Narrators asked about in one statement, well under SQLite's limit of bound
// values.
constexpr qsizetype kIdsPerStatement = 400;

QStringList wordsOf(const QString& name)
{
    return Arabic::normalize(name, true).split(u' ', Qt::SkipEmptyParts);
}

} // namespace

NameWords::NameWords(Library& lib) : db_(lib.main())
{
    for (const auto& row : db_.rows(QStringLiteral("SELECT id, name FROM narrators"))) {
        const std::optional<std::int64_t> id = row.integer(0);
        const std::optional<QString> name = row.str(1);
        if (!id || !name)
            continue;
        const QStringList words = wordsOf(*name);
        if (words.size() == 1) {
            names_.insert(words.first());
            continue;
        }
        for (const QString& word : QSet<QString>(words.begin(), words.end()))
            narrators_[word].append(*id);
    }
    // An author's words have no chains to weigh them by, unless a narrator
    // bears them too.
    for (const Author& author : lib.catalog()->authors)
        for (const QString& word : wordsOf(author.name))
            if (!narrators_.contains(word))
                names_.insert(word);
}

bool NameWords::contains(const QString& word)
{
    const QStringList words = wordsOf(word);
    if (words.size() != 1)
        return false;
    const QString& w = words.first();
    if (names_.contains(w))
        return true;
    const auto narrators = narrators_.constFind(w);
    if (narrators == narrators_.constEnd())
        return false;
    const auto known = asked_.constFind(w);
    if (known != asked_.constEnd())
        return *known;
    const bool name = standsInChains(w, *narrators);
    asked_.insert(w, name);
    return name;
}

// Whether the pages on which narrators bearing `word` stand in a chain are
// at least half of the pages that hold the word.
bool NameWords::standsInChains(const QString& word, const QList<std::int64_t>& narrators)
{
    const std::int64_t pages = Concordance::lookup(db_, word, 0).pages;
    if (pages == 0)
        return false;
    QSet<std::int64_t> inChains;
    for (qsizetype from = 0; from < narrators.size(); from += kIdsPerStatement) {
        const QList<std::int64_t> some = narrators.mid(from, kIdsPerStatement);
        QStringList marks;
        SQLArgs args;
        for (const std::int64_t id : some) {
            marks << QStringLiteral("?");
            args << SQLArg(id);
        }
        const QString list = marks.join(u',');
        const SQLArgs ids = args;
        args += ids; // once for the students, once for the teachers
        const QString sql = QStringLiteral("SELECT page_id FROM isnad_edges WHERE student_id IN (%1) "
                                           "UNION SELECT page_id FROM isnad_edges WHERE teacher_id IN (%1)")
                                .arg(list);
        for (const auto& row : db_.rows(sql, args))
            if (const std::optional<std::int64_t> page = row.integer(0))
                inChains.insert(*page);
        if (2 * inChains.size() >= pages)
            return true;
    }
    return 2 * inChains.size() >= pages;
}

} // namespace quorvel
