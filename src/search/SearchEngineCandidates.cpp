// The candidate pages of a run: the rows the full-text parts match, placed
// by the page map (or read with their pages), put into reading order, then
// checked where the index cannot decide and handed over.

#include "search/SearchEngine.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/BatchEmitter.h"
#include "search/NormalWords.h"
#include "search/PageIndex.h"
#include "search/PageMap.h"

#include <algorithm>
#include <limits>

namespace quorvel {

// Takes the pages the parts find into the candidate list, when in scope and
// outside the books done, each with its book's display order. Hits come
// grouped by book, so the scope test and the catalogue lookup are made once
// per run of the same book.
class SearchEngine::CandidateSink {
public:
    CandidateSink(const Catalog& catalog, const std::optional<QSet<std::int64_t>>& scope,
                  const QSet<std::int64_t>& done, std::vector<Candidate>& candidates, std::int64_t cap)
        : catalog(catalog), scope(scope), done(done), candidates(candidates), cap(cap)
    {
    }

    // Whether more rows were read than the cap: the reading stops there.
    bool full() const { return matched > cap; }

    // The part whose rows come next.
    void readPart(const FtsPart& part)
    {
        verify = part.verify;
        indexed = part.foundByIndex();
    }

    void add(std::int64_t pid, std::int64_t bid, std::int64_t seq)
    {
        if (!haveLast || bid != lastBid) {
            haveLast = true;
            lastBid = bid;
            lastIn = inScope(scope, bid) && !done.contains(bid);
            const auto book = catalog.bookById.constFind(bid);
            lastOrder = book != catalog.bookById.constEnd() ? book->order : std::numeric_limits<std::int64_t>::max();
        }
        if (lastIn)
            candidates.push_back({lastOrder, seq, pid, bid, verify, indexed});
    }

    std::int64_t matched = 0; // index rows read, in scope or not

private:
    const Catalog& catalog;
    const std::optional<QSet<std::int64_t>>& scope;
    const QSet<std::int64_t>& done;
    std::vector<Candidate>& candidates;
    const std::int64_t cap;
    std::int64_t lastBid = 0;
    std::int64_t lastOrder = 0;
    bool lastIn = false;
    bool haveLast = false;
    bool verify = false;
    bool indexed = false; // foundByIndex of the part being read, not asked row by row
};

std::optional<std::vector<SearchEngine::Slice>> SearchEngine::collectCandidates(
    const QList<FtsPart>& parts, const PageMap::Snapshot* map, const std::vector<IdStretch>* stretches, const std::optional<QSet<std::int64_t>>& scope, const QSet<std::int64_t>& done,
    std::vector<Candidate>& candidates, std::optional<std::int64_t>& rows, std::int64_t cap)
{
    bool whole = true;
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    candidates.clear();
    // The parts are disjoint, so no run finds more pages than the map holds;
    // room left untouched costs no memory.
    if (map)
        candidates.reserve(map->ids.size());
    CandidateSink sink(*catalog, scope, done, candidates, cap);
    for (const FtsPart& part : parts) {
        sink.readPart(part);
        if (sink.full())
            break;
        if (stopRequested()) {
            whole = false;
            break;
        }
        Statement* byRowid = nullptr;
        if (map)
            byRowid = statement(QStringLiteral("SELECT rowid FROM %1 WHERE ").arg(part.table) + part.matchClause()
                                + (stretches ? QStringLiteral(" AND rowid BETWEEN ? AND ?") : QString()));
        if (byRowid) {
            QList<std::int64_t> misses;
            bool read = true;
            if (!stretches)
                read = readMappedRows(part, *byRowid, {}, *map, sink, misses);
            else
                for (const auto& [first, last] : *stretches)
                    if (!(read = readMappedRows(part, *byRowid, {first, last}, *map, sink, misses)))
                        break;
            whole = whole && read;
            byRowid->bind({});
            addUnmapped(misses, sink);
        } else {
            const bool read = readJoinedRows(part, sink);
            whole = whole && read;
        }
    }
    if (sink.full()) {
        candidates.clear();
        rows.reset();
        return std::nullopt;
    }
    rows = whole ? std::optional<std::int64_t>(sink.matched) : std::nullopt;
    return orderCandidates(candidates);
}

// The part's rows placed by the page map; `misses` receives the rows the map
// does not place. False when the statement stopped before its end.
bool SearchEngine::readMappedRows(const FtsPart& part, Statement& byRowid, const SQLArgs& bounds,
                                  const PageMap::Snapshot& map, CandidateSink& sink, QList<std::int64_t>& misses)
{
    byRowid.bind(part.matchArgs() << bounds);
    PageMap::Snapshot::Cursor cursor(map);
    Statement::Step step = Statement::Step::Row; // not Done until the statement says so
    while (!cancelled.load() && (step = byRowid.next()) == Statement::Step::Row) {
        ++sink.matched;
        if (sink.full())
            break;
        // A rowid is never null.
        const std::int64_t rowid = byRowid.rowid(0);
        if (!part.allows(rowid))
            continue;
        if (const auto found = cursor.lookup(rowid))
            sink.add(rowid, found->first, found->second);
        else
            misses << rowid;
    }
    return step == Statement::Step::Done;
}

// Pages added since the map was built: their book and sequence are read
// from the database.
void SearchEngine::addUnmapped(const QList<std::int64_t>& misses, CandidateSink& sink)
{
    if (misses.isEmpty())
        return;
    Statement* page = statement(QStringLiteral("SELECT book_id, seq FROM pages WHERE id=?"));
    if (!page)
        return;
    for (std::int64_t id : misses) {
        if (cancelled.load())
            break;
        page->bind({id});
        if (!page->step())
            continue;
        const auto bid = page->integer(0);
        if (bid)
            sink.add(id, *bid, page->integer(1).value_or(0));
    }
}

// Without a page map: each row's book comes with it and its sequence is read
// page by page. False when the statement cannot be made or stopped early.
bool SearchEngine::readJoinedRows(const FtsPart& part, CandidateSink& sink)
{
    Statement* found = statement((part.table == QLatin1String("pages_fts")
                                 ? QStringLiteral("SELECT page_id, book_id FROM pages_fts WHERE ")
                                 : QStringLiteral("SELECT %1.rowid, p.book_id FROM %1 JOIN pages p ON p.id = %1.rowid WHERE ")
                                       .arg(part.table))
                            + part.matchClause());
    if (!found)
        return false;
    Statement* seqOf = statement(QStringLiteral("SELECT seq FROM pages WHERE id=?"));
    found->bind(part.matchArgs());
    Statement::Step step = Statement::Step::Row; // not Done until the statement says so
    while (!cancelled.load() && (step = found->next()) == Statement::Step::Row) {
        ++sink.matched;
        if (sink.full())
            break;
        const auto pid = found->integer(0);
        const auto bid = found->integer(1);
        if (!pid || !bid || !part.allows(*pid))
            continue;
        std::int64_t seq = 0;
        if (seqOf) {
            seqOf->bind({*pid});
            if (seqOf->step())
                seq = seqOf->integer(0).value_or(0);
        }
        sink.add(*pid, *bid, seq);
    }
    return step == Statement::Step::Done;
}

// Orders by book order, sequence and page id. Every candidate has its own key
// (a page id is found by one part only), so any sort gives the stable order.
// The full-text index returns rowids in ascending order, and an installed
// page id is its book × 100,000 + sequence, so the list is usually a run of
// already sorted pages per book: then only the runs are put in order, and
// the list itself stays as it is. Otherwise the list is sorted in place and
// is one slice.
std::vector<SearchEngine::Slice> SearchEngine::orderCandidates(std::vector<Candidate>& candidates)
{
    auto less = [](const Candidate& a, const Candidate& b) {
        if (a.order != b.order)
            return a.order < b.order;
        if (a.seq != b.seq)
            return a.seq < b.seq;
        return a.pid < b.pid;
    };
    auto sortAll = [&] {
        std::sort(candidates.begin(), candidates.end(), less);
        return std::vector<Slice>{{0, candidates.size()}};
    };
    struct Run {
        std::int64_t order;
        Slice slice;
    };
    std::vector<Run> runs;
    QSet<std::int64_t> runBooks;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (i == 0 || candidates[i].bid != candidates[i - 1].bid) {
            // A book met twice, or a book without a catalogue entry (which
            // share one order), needs the general sort.
            if (runBooks.contains(candidates[i].bid)
                || candidates[i].order == std::numeric_limits<std::int64_t>::max())
                return sortAll();
            runBooks.insert(candidates[i].bid);
            runs.push_back({candidates[i].order, {i, i}});
        } else if (!less(candidates[i - 1], candidates[i])) {
            return sortAll();
        }
        runs.back().slice.end = i + 1;
    }
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.order < b.order; });
    std::vector<Slice> slices;
    slices.reserve(runs.size());
    for (const Run& r : runs)
        slices.push_back(r.slice);
    return slices;
}

bool SearchEngine::verifyAndEmit(const Plan& plan, SQLiteDB& db, const std::vector<Candidate>& candidates,
                                 const std::vector<Slice>& slices, int limit, BatchEmitter& emitter)
{
    const SearchQuery& q = plan.q;
    const bool useNorm = checksNormalForm(q);
    Statement* text = nullptr;
    const auto recheck = [&](const Candidate& c) {
        return c.indexed && (indexMismatch || rechecked < indexRechecks);
    };
    if (std::any_of(candidates.begin(), candidates.end(), [&](const Candidate& c) { return c.verify || recheck(c); }))
        // The index's copy of the normal form: the page row would be read
        // through its stored text first.
        text = statement(useNorm ? QStringLiteral("SELECT content_norm FROM pages_fts WHERE rowid=?")
                                 : QStringLiteral("SELECT content FROM pages WHERE id=?"));
    // Every check reads in one transaction, not one per page.
    std::optional<ReadTransaction> reading;
    if (text)
        reading.emplace(db);
    emitter.expect(emitter.count()
                   + int(std::min<std::size_t>(candidates.size(), std::size_t(std::max(limit - emitter.count(), 0)))));
    if (!text) {
        // No page to read: the hits go over a stretch at a time, a stop
        // heard between stretches and after every hand-over.
        for (const Slice& slice : slices) {
            for (std::size_t i = slice.begin; i < slice.end;) {
                if (stopRequested())
                    return false;
                if (emitter.count() >= limit)
                    return true;
                const std::size_t take =
                    std::min({slice.end - i, deadlineCheckRows, std::size_t(limit - emitter.count())});
                i += emitter.addPages(take, [&](std::size_t k) {
                    const Candidate& c = candidates[i + k];
                    return std::tuple{c.pid, c.bid, c.seq};
                });
            }
        }
        return true;
    }
    std::size_t seen = 0;
    for (const Slice& slice : slices) {
        for (std::size_t i = slice.begin; i < slice.end; ++i) {
            const Candidate& c = candidates[i];
            if (++seen % deadlineCheckRows == 0 ? stopRequested() : cancelled.load())
                return false;
            if (emitter.count() >= limit)
                return true;
            const bool again = recheck(c);
            if (c.verify || again) {
                if (!text)
                    return false;
                text->bind({c.pid});
                if (again)
                    ++rechecked;
                else
                    ++lastChecked;
                if (!text->step())
                    continue;
                const QString content = text->text(0).value_or(QString());
                const bool pass = useNorm ? NormalWords::evaluate(plan, content)
                                          : evaluate(plan, sectionText(q, content));
                if (!pass) {
                    // A page the index calls a match that is none: its rows
                    // are damaged. It is cleared to be built again, and the
                    // rest of this run is checked page by page.
                    if (again && !indexMismatch) {
                        indexMismatch = true;
                        PageIndex::distrust(lib.dbPath());
                    }
                    continue;
                }
            }
            emitter.addPage(c.pid, c.bid, c.seq);
        }
    }
    return true;
}

} // namespace quorvel
