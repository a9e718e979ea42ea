// The first books of a run: the books in display order are searched a few
// at a time over their stretches of page ids, so that the first batch need
// not wait for the whole library.

#include "search/SearchEngine.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/BatchEmitter.h"
#include "search/PageMap.h"

#include <QHash>

#include <algorithm>

namespace quorvel {

// The books in display order as (order, id): the scope's catalogued books,
// or the whole catalogue, which is in that order already; with how many
// pages the map holds for them.
class SearchEngine::BooksInOrder {
public:
    BooksInOrder(const Catalog& catalog, const PageMap::Snapshot& map, const std::optional<QSet<std::int64_t>>& scope)
        : catalog(catalog), scoped(scope.has_value()), pages(std::int64_t(map.ids.size()))
    {
        if (!scope)
            return;
        pages = 0;
        for (const std::int64_t id : *scope) {
            const auto book = catalog.bookById.constFind(id);
            if (book != catalog.bookById.constEnd())
                list.push_back({book->order, id});
            const auto block = map.blocks.constFind(id);
            if (block != map.blocks.constEnd())
                pages += std::int64_t(block->last - block->first + 1);
        }
        std::sort(list.begin(), list.end());
    }

    std::size_t size() const { return scoped ? list.size() : std::size_t(catalog.books.size()); }
    std::pair<std::int64_t, std::int64_t> at(std::size_t i) const
    {
        if (scoped)
            return list[i];
        const Book& book = catalog.books[qsizetype(i)];
        return {book.order, book.id};
    }
    std::int64_t pageCount() const { return pages; }

private:
    const Catalog& catalog;
    bool scoped;
    std::int64_t pages;
    std::vector<std::pair<std::int64_t, std::int64_t>> list;
};

// One step of the first books: their display order by id and their
// stretches of the page map, joined where they touch.
struct SearchEngine::BooksStep {
    struct Stretch {
        std::size_t first, last;
    };
    QHash<std::int64_t, std::int64_t> orderOf;
    std::vector<Stretch> stretches;
    std::size_t end = 0;    // the first book after the step's
    std::int64_t pages = 0; // the pages of the step's books

    // Takes up to `size` books with pages from `next` on; false when a book
    // id does not fit the map.
    bool take(const BooksInOrder& books, const PageMap::Snapshot& map, std::size_t next, std::size_t size)
    {
        orderOf.clear();
        stretches.clear();
        end = next;
        pages = 0;
        while (end < books.size() && std::size_t(orderOf.size()) < size) {
            const auto [order, id] = books.at(end++);
            // The map keeps the low 32 bits of a book id.
            if (id != std::int64_t(std::int32_t(id)))
                return false;
            const auto block = map.blocks.constFind(id);
            if (block == map.blocks.constEnd())
                continue; // a book without pages
            orderOf.insert(id, order);
            stretches.push_back({block->first, block->last});
            pages += std::int64_t(block->last - block->first + 1);
        }
        join();
        return true;
    }

private:
    void join()
    {
        std::sort(stretches.begin(), stretches.end(),
                  [](const Stretch& a, const Stretch& b) { return a.first < b.first; });
        std::size_t joined = 0;
        for (std::size_t i = 1; i < stretches.size(); ++i) {
            if (stretches[i].first == stretches[joined].last + 1)
                stretches[joined].last = stretches[i].last;
            else
                stretches[++joined] = stretches[i];
        }
        if (!stretches.empty())
            stretches.resize(joined + 1);
    }
};

bool SearchEngine::searchFirstBooks(const Plan& plan, const QList<FtsPart>& parts, SQLiteDB& db,
                                    const PageMap::Snapshot& map, const std::optional<QSet<std::int64_t>>& scope,
                                    int limit, BatchEmitter& emitter, QSet<std::int64_t>& done)
{
    if (!map.blocked || parts.isEmpty() || limit <= 0 || !rangesPay(parts))
        return true;
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    const BooksInOrder books(*catalog, map, scope);
    std::vector<Statement*> statements;
    for (const FtsPart& part : parts) {
        Statement* st = statement(QStringLiteral("SELECT rowid FROM %1 WHERE ").arg(part.table) + part.matchClause()
                                  + QStringLiteral(" AND rowid BETWEEN ? AND ?"));
        if (!st)
            return true;
        statements.push_back(st);
    }

    std::vector<Candidate> found;
    BooksStep step;
    std::size_t size = 1;
    std::int64_t pagesDone = 0;
    int ran = 0;
    while (step.end < books.size()) {
        if (stopRequested())
            return false;
        const std::size_t next = step.end;
        if (!step.take(books, map, next, size))
            return true;
        ran += int(step.stretches.size() * std::size_t(parts.size()));
        if (ran > firstBooksStatements && next > 0)
            return pagesLeft(map, scope, done);

        found.clear();
        switch (readStep(parts, statements, map, step, found)) {
        case StepRead::whole:
            break;
        case StepRead::unplaced:
            return true;
        case StepRead::stopped:
            return !stopRequested();
        }
        const std::vector<Slice> slices = orderCandidates(found);
        if (!verifyAndEmit(plan, db, found, slices, limit, emitter))
            return false;
        for (auto it = step.orderOf.constBegin(); it != step.orderOf.constEnd(); ++it)
            done.insert(it.key());
        pagesDone += step.pages;
        if (emitter.count() >= limit)
            return false;
        const std::optional<std::size_t> grown =
            nextStepSize(emitter, books.pageCount(), pagesDone, std::int64_t(step.end), ran, size);
        if (!grown)
            break;
        size = *grown;
    }
    return pagesLeft(map, scope, done);
}

// A prefix term makes FTS5 merge its whole range of terms, and a long list
// of alternatives looks up every one, on each range statement anew: there,
// ranges cost more than collecting everything at once.
bool SearchEngine::rangesPay(const QList<FtsPart>& parts)
{
    return std::none_of(parts.begin(), parts.end(), [](const FtsPart& part) {
        return part.expr.contains(QLatin1String("\"*")) || part.expr.count(QLatin1Char('"')) / 2 > firstBooksTerms;
    });
}

std::optional<std::vector<SearchEngine::IdStretch>> SearchEngine::scopeStretches(const QList<FtsPart>& parts,
                                                                                const PageMap::Snapshot& map,
                                                                                const QSet<std::int64_t>& scope,
                                                                                const QSet<std::int64_t>& done)
{
    if (!map.blocked || parts.isEmpty())
        return std::nullopt;
    std::vector<PageMap::Snapshot::Block> blocks;
    std::size_t pages = 0;
    for (const std::int64_t id : scope) {
        const auto block = map.blocks.constFind(id);
        if (block == map.blocks.constEnd() || done.contains(id))
            continue;
        blocks.push_back(*block);
        pages += block->last - block->first + 1;
    }
    if (2 * pages > map.ids.size())
        return std::nullopt;
    std::sort(blocks.begin(), blocks.end(),
              [](const PageMap::Snapshot::Block& a, const PageMap::Snapshot::Block& b) { return a.first < b.first; });
    std::vector<IdStretch> stretches;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (i > 0 && blocks[i].first == blocks[i - 1].last + 1)
            stretches.back().second = map.ids[blocks[i].last];
        else
            stretches.push_back({map.ids[blocks[i].first], map.ids[blocks[i].last]});
    }
    // Each stretch repeats the lookup of every term of every part; a prefix
    // term merges its whole range of terms each time, so it takes one stretch.
    const std::size_t statements = stretches.size() * std::size_t(parts.size());
    if (statements > std::size_t(firstBooksStatements) || (!rangesPay(parts) && stretches.size() > 1))
        return std::nullopt;
    return stretches;
}

// Whether some page in scope lies outside the books done: a book the
// catalogue lacks, or one not reached.
bool SearchEngine::pagesLeft(const PageMap::Snapshot& map, const std::optional<QSet<std::int64_t>>& scope,
                             const QSet<std::int64_t>& done)
{
    if (!scope)
        return qsizetype(done.size()) < map.blocks.size();
    for (const std::int64_t id : *scope)
        if (!done.contains(id) && map.blocks.contains(id))
            return true;
    return false;
}

// The step's pages that the parts find, into `found`.
SearchEngine::StepRead SearchEngine::readStep(const QList<FtsPart>& parts, const std::vector<Statement*>& statements,
                                              const PageMap::Snapshot& map, const BooksStep& step,
                                              std::vector<Candidate>& found)
{
    for (const BooksStep::Stretch& stretch : step.stretches) {
        for (qsizetype p = 0; p < parts.size(); ++p) {
            Statement& st = *statements[std::size_t(p)];
            const bool indexed = parts[p].foundByIndex();
            st.bind(parts[p].matchArgs() << map.ids[stretch.first] << map.ids[stretch.last]);
            PageMap::Snapshot::Cursor cursor(map);
            Statement::Step stepped = Statement::Step::Row;
            while (!cancelled.load() && (stepped = st.next()) == Statement::Step::Row) {
                const std::int64_t rowid = st.rowid(0);
                if (!parts[p].allows(rowid))
                    continue;
                const auto page = cursor.lookup(rowid);
                // A page the map does not place (added since it was
                // built): this step is collected the usual way.
                const auto order = page ? step.orderOf.constFind(page->first) : step.orderOf.constEnd();
                if (order == step.orderOf.constEnd())
                    return StepRead::unplaced;
                found.push_back({*order, page->second, rowid, page->first, parts[p].verify, indexed});
            }
            if (stepped != Statement::Step::Done)
                return StepRead::stopped;
        }
    }
    return StepRead::whole;
}

// How many books the next step takes; nothing when the rest is to be
// collected at once: after the first batch, when the hits so far foretell
// no batch before the end, or when the statements the first batch still
// takes at the pace of the books so far pass the cap (they would be run
// for nothing, the rest being collected at once all the same).
std::optional<std::size_t> SearchEngine::nextStepSize(const BatchEmitter& emitter, std::int64_t pages,
                                                      std::int64_t pagesDone, std::int64_t booksDone, int ran,
                                                      std::size_t size)
{
    const std::int64_t hits = emitter.count();
    const std::int64_t wanted = BatchEmitter::firstBatch;
    if (emitter.handedOver() > 0 || hits * pages < wanted * pagesDone)
        return std::nullopt;
    std::size_t grown = size * 2;
    if (hits > 0) {
        const std::int64_t booksWanted = ((wanted - hits) * booksDone + hits - 1) / hits;
        if (ran + (booksWanted * ran + booksDone - 1) / booksDone > firstBooksStatements)
            return std::nullopt;
        // No more books than that pace asks for: each may be a statement of
        // its own, and a step too short costs only one more step.
        grown = std::min(grown, std::size_t(std::max<std::int64_t>(booksWanted, 1)));
    }
    return grown;
}

} // namespace quorvel
