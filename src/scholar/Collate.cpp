#include "scholar/Collate.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"
#include "scholar/SequenceMatcher.h"
#include "scholar/TextReuse.h"

#include <QHash>

#include <algorithm>
#include <string>
#include <unordered_map>

namespace quorvel::Collate {

namespace {

const QString pageTextSQL = QStringLiteral("SELECT content FROM pages WHERE id=?");
const QString otherPageSQL = QStringLiteral(
    "SELECT p.book_id, p.seq, p.page_num, b.title FROM pages p JOIN books b ON b.id=p.book_id WHERE p.id=?");

QString pageText(SQLiteDB& db, std::int64_t pageId)
{
    const auto rows = db.rows(pageTextSQL, {pageId});
    return rows.isEmpty() ? QString() : rows.first().str(0).value_or(QString());
}

// A word as compared (its letters, marks and digits) and as shown (as
// written, with the punctuation around it and any that stood alone after it).
struct Unit {
    QString key;
    QString shown;
};

QString withoutPunctuation(const QString& word)
{
    QString out;
    out.reserve(word.size());
    for (const QChar c : word)
        if (!c.isPunct())
            out.append(c);
    return out;
}

// The words of a text split at white space; punctuation standing alone goes
// with the word before it (the first word when it leads), so a comma or an
// asterisk is no word of its own.
QList<Unit> units(const QString& text)
{
    QList<Unit> out;
    QString leading;
    for (const QString& word : Py::split(text)) {
        const QString key = withoutPunctuation(word);
        if (key.isEmpty()) {
            if (out.isEmpty())
                leading += (leading.isEmpty() ? QString() : QStringLiteral(" ")) + word;
            else
                out.last().shown += u' ' + word;
            continue;
        }
        out.append({key, leading.isEmpty() ? word : leading + u' ' + word});
        leading.clear();
    }
    // A text of punctuation alone is one unit, compared as written.
    if (out.isEmpty() && !leading.isEmpty())
        out.append({leading, leading});
    return out;
}

QString joined(const QList<Unit>& words, qsizetype from, qsizetype to)
{
    QStringList shown;
    for (qsizetype i = from; i < to; ++i)
        shown.append(words[i].shown);
    return shown.join(u' ');
}

} // namespace

std::optional<std::int64_t> matchPage(SQLiteDB& db, std::int64_t pageId, std::int64_t otherBookId)
{
    const QList<std::int64_t> hashes = TextReuse::pageHashes(db, pageId);
    if (hashes.isEmpty())
        return std::nullopt;
    // A page may hold more distinct shingles than one statement binds: the
    // counts of every slice are summed per page. Ties keep the page met first.
    const qsizetype slice = std::max<qsizetype>(1, db.maxParameters() - 1);
    const QString lookup = ShingleRuns::lookup(db);
    std::unordered_map<std::int64_t, std::int64_t> counts;
    std::vector<std::int64_t> order;
    for (qsizetype from = 0; from < hashes.size(); from += slice) {
        const QList<std::int64_t> part = hashes.mid(from, slice);
        SQLArgs args = argsOf(part);
        args.append(otherBookId);
        const auto rows = db.rows(QStringLiteral("SELECT page_id, COUNT(*) AS sh FROM %1\nWHERE hash IN (").arg(lookup)
                                      + SQLiteDB::marks(part.size())
                                      + QStringLiteral(") AND book_id=? GROUP BY page_id\nORDER BY sh DESC"),
                                  args);
        for (const auto& row : rows) {
            const auto page = row.integer(0);
            if (!page)
                continue;
            if (!counts.contains(*page))
                order.push_back(*page);
            counts[*page] += row.integer(1).value_or(0);
        }
    }
    std::optional<std::int64_t> best;
    for (std::int64_t page : order)
        if (!best || counts[page] > counts[*best])
            best = page;
    return best;
}

CollateResult compare(const QString& a, const QString& b)
{
    const QList<Unit> wordsA = units(a);
    const QList<Unit> wordsB = units(b);
    std::unordered_map<std::u16string, std::int64_t> ids;
    auto tokens = [&](const QList<Unit>& words) {
        std::vector<std::int64_t> out;
        out.reserve(size_t(words.size()));
        for (const Unit& w : words)
            out.push_back(ids.try_emplace(Py::key(w.key), std::int64_t(ids.size())).first->second);
        return out;
    };
    std::vector<std::int64_t> tokensA = tokens(wordsA);
    std::vector<std::int64_t> tokensB = tokens(wordsB);
    const SequenceMatcher matcher(std::move(tokensA), std::move(tokensB));
    const QList<SequenceMatcher::Block> blocks = matcher.matchingBlocks();

    CollateResult result;
    for (const auto& op : SequenceMatcher::opcodes(blocks))
        result.ops.append({op.tag, joined(wordsA, op.i1, op.i2), joined(wordsB, op.j1, op.j2)});
    qsizetype matches = 0;
    for (const auto& block : blocks)
        matches += block.size;
    const qsizetype total = wordsA.size() + wordsB.size();
    // The percentage first, then rounded half to even: 62.5 gives 62.
    const double percent = total == 0 ? 100.0 : (2.0 * double(matches) / double(total)) * 100.0;
    result.ratio = Py::round(percent);
    return result;
}

std::optional<Page> counterpart(Library& lib, const Page& page, std::int64_t otherBookId)
{
    if (const std::optional<std::int64_t> matched = matchPage(lib.main(), page.id, otherBookId))
        if (std::optional<Page> other = lib.page(*matched))
            return other;
    if (const TocNodePtr entry = lib.chapter(page.bookId, page.seq)) {
        const QString heading = Arabic::normalize(entry->title);
        for (const TocNodePtr& other : lib.tocEntries(otherBookId))
            if (Arabic::normalize(other->title) == heading)
                return lib.page(otherBookId, other->seq);
    }
    return std::nullopt;
}

std::optional<CollateResult> run(SQLiteDB& db, std::int64_t pageId, std::int64_t otherBookId)
{
    const auto other = matchPage(db, pageId, otherBookId);
    if (!other)
        return std::nullopt;
    CollateResult result = compare(pageText(db, pageId), pageText(db, *other));
    result.otherPageId = *other;
    result.otherBookId = otherBookId;
    const auto rows = db.rows(otherPageSQL, {*other});
    if (!rows.isEmpty()) {
        const auto& row = rows.first();
        result.otherBookId = row.integer(0).value_or(otherBookId);
        result.otherSeq = row.integer(1).value_or(0);
        result.otherPageNum = row.integer(2);
        result.otherTitle = row.str(3).value_or(QString());
    }
    return result;
}

} // namespace quorvel::Collate
