#include "search/SearchEngine.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/BatchEmitter.h"
#include "search/NormalWords.h"
#include "search/PageIndex.h"
#include "search/PageMap.h"
#include "search/SharedMeaningIndex.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>

namespace quorvel {

namespace {

// The condition a part's rows meet in a statement over its table, and its
// arguments: the MATCH, and the order test when the part has one.
QString matchClause(const SearchEngine::FtsPart& part)
{
    QString clause = QStringLiteral("%1 MATCH ?").arg(part.table);
    if (!part.order.isEmpty())
        clause += QStringLiteral(" AND %2(%1, ?)").arg(part.table, QLatin1String(SearchEngine::orderTest));
    return clause;
}

// Whether a row of the part may match as far as its page set tells.
bool allowed(const SearchEngine::FtsPart& part, std::int64_t rowid)
{
    return !part.pages || std::binary_search(part.pages->begin(), part.pages->end(), rowid);
}

// Whether every part's expression over the page index's own table reads
// to its end, nothing else read beside it.
bool formsReadable(const QList<SearchEngine::FtsPart>& parts, SQLiteDB& db)
{
    for (const SearchEngine::FtsPart& part : parts) {
        if (part.table != QLatin1String(PageIndex::formsTable))
            continue;
        auto st = db.prepare(QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ?").arg(part.table));
        if (!st)
            return false;
        st->bind({part.expr});
        Statement::Step step;
        while ((step = st->next()) == Statement::Step::Row) {
        }
        if (step != Statement::Step::Done)
            return false;
    }
    return true;
}

// Whether the page index of the database at `path` agrees with a sample of
// its pages; sampled once per data generation and process (again when a
// stop cut the sample short).
bool sampledOnce(const QString& path, std::int64_t generation, SQLiteDB& db, const std::function<bool()>& stopped)
{
    static std::mutex lock;
    static QHash<QString, std::int64_t> sampled;
    {
        std::lock_guard guard(lock);
        if (generation >= 0 && sampled.value(path, -1) == generation)
            return true;
    }
    if (!PageIndex::sampleAgrees(db))
        return false;
    if (stopped())
        return true;
    std::lock_guard guard(lock);
    sampled.insert(path, generation);
    return true;
}

// Whether the part's rows are final by the page index's own rows: its
// forms, or the pages of its marked words.
bool foundByIndex(const SearchEngine::FtsPart& part)
{
    return !part.verify && (part.pages || part.table == QLatin1String(PageIndex::formsTable));
}

SQLArgs matchArgs(const SearchEngine::FtsPart& part)
{
    SQLArgs args{part.expr};
    if (!part.order.isEmpty())
        args << part.order;
    return args;
}

// A table-of-contents entry, read once per data generation and shared by
// every engine of the process. Its title's normal form (its tokens joined
// by single spaces) lies in the table's one text of all normal forms, so
// that testing every title reads one block in order.
struct TitleRow {
    std::int64_t book = 0;
    std::int64_t seq = 0;
    QString raw;
    qsizetype at = 0;   // where the normal form starts in TitleRows::normals
    qsizetype size = 0; // its length
};
struct TitleRows {
    std::vector<TitleRow> rows;
    QString normals;
    QStringView normal(const TitleRow& row) const { return QStringView(normals).sliced(row.at, row.size); }
};

struct TitleCache {
    std::int64_t gen = -1;
    std::shared_ptr<const TitleRows> rows;
};

std::mutex& titleLock()
{
    static std::mutex lock;
    return lock;
}

TitleCache& titleCache()
{
    static TitleCache cache;
    return cache;
}

// Every table-of-contents row in table order. `complete` is false when the
// read stopped early (a cancel interrupts the run's connection, or the
// database was busy): such rows serve this search but must not be cached.
std::shared_ptr<const TitleRows> readTitles(SQLiteDB& db, bool& complete)
{
    auto rows = std::make_shared<TitleRows>();
    complete = false;
    if (auto st = db.prepare(QStringLiteral("SELECT book_id, page_seq, title FROM toc"))) {
        Statement::Step step;
        while ((step = st->next()) == Statement::Step::Row) {
            TitleRow row;
            row.book = st->integer(0).value_or(0);
            row.seq = st->integer(1).value_or(0);
            row.raw = st->text(2).value_or(QString());
            const QString normal = Arabic::tokens(row.raw).join(u' ');
            row.at = rows->normals.size();
            row.size = normal.size();
            rows->normals += normal;
            rows->rows.push_back(std::move(row));
        }
        complete = step == Statement::Step::Done;
    }
    return rows;
}

bool inScope(const std::optional<QSet<std::int64_t>>& scope, std::int64_t book)
{
    return !scope || scope->contains(book);
}

} // namespace

SearchEngine::SearchEngine(Library& lib) : lib(lib) {}

SearchEngine::~SearchEngine() = default;

QStringList SearchEngine::tooBroad() const
{
    return tooBroadList;
}

void SearchEngine::cancel()
{
    cancelled.store(true);
    // Interrupted under the lock: the run hands its connection back to the
    // pool only after dropping it here, so no later run on that connection
    // is ever stopped by this cancel.
    std::lock_guard guard(connLock);
    if (conn) {
        conn->interrupt();
        connInterrupted = true;
    }
}

bool SearchEngine::stopRequested()
{
    if (!cancelled.load() && deadline && deadline->passed()) {
        expired = true;
        cancelled.store(true);
    }
    return cancelled.load();
}

void SearchEngine::run(const SearchQuery& q, int limit, const OnBatch& onBatch, const Deadline& deadline)
{
    tooBroadList.clear();
    lastMatchTotal.reset();
    lastChecked = 0;
    rechecked = 0;
    indexMismatch = false;
    expired = false;
    this->deadline = deadline.isSet() ? &deadline : nullptr;
    std::shared_ptr<SQLiteDB> db;
    // The run's statements read one version of the library: an install that
    // commits meanwhile must not leave a total of one version beside hits,
    // page checks or titles of the next.
    std::optional<ReadTransaction> reading;
    auto finish = [&] {
        if (db && this->deadline)
            db->setProgressCheck(0, {});
        reading.reset();
        bool interrupted = false;
        {
            std::lock_guard guard(connLock);
            conn.reset();
            interrupted = connInterrupted;
            connInterrupted = false;
        }
        // An interrupted connection may still carry the interruption into
        // its next statement: it is closed rather than kept.
        if (!interrupted)
            lib.returnSearchConnection(std::move(db));
        db.reset();
        this->deadline = nullptr;
        onBatch({}, true);
        // Cleared only now: a cancel made before the run started stopped it.
        cancelled.store(false);
    };

    db = lib.takeSearchConnection();
    if (!db || stopRequested()) {
        finish();
        return;
    }
    {
        std::lock_guard guard(connLock);
        conn = db;
    }
    reading.emplace(*db);
    // The deadline interrupts a long statement from inside, as cancel() would.
    if (this->deadline)
        db->setProgressCheck(deadlineCheckSteps, [this] { return stopRequested(); });

    Plan plan = SearchEngine::plan(q);
    plan.pageChecked = pageChecked;
    std::optional<QSet<std::int64_t>> scope;
    if (q.scope)
        scope = QSet<std::int64_t>(q.scope->begin(), q.scope->end());

    BatchEmitter emitter(onBatch, clock);
    const PageMap::Current map = PageMap::current(lib.main().path());
    // A meaning-based query ends here when the shared index is loaded; without
    // it the query's phrases are searched as full text below.
    if (q.semantic && !stopRequested()) {
        if (const auto index = SharedMeaningIndex::index()) {
            QStringList phrases = q.andPhrases;
            phrases += q.orPhrases;
            const auto pairs = index->search(phrases.join(u' '), semanticK, scope, db.get());
            onBatch(semanticHits(pairs, *db, [this] { return stopRequested(); }), false);
            finish();
            return;
        }
    }

    if ((q.inMatn || q.inHawashi) && plan.valid() && !stopRequested()) {
        // Glued-digit lookups are shared while the data is unchanged: a word
        // searched again costs no vocabulary scan.
        std::unique_ptr<Vocab> vocab = Vocab::deferred(db, Vocab::gluedTerms(lib.main().path(), map.dataGeneration));
        bool indexed = !pageChecked && PageIndex::ready(*db);
        const bool forms = indexed && (q.hamza || !(q.inMatn && q.inHawashi)) && formsServe(plan);
        if (indexed)
            vocab->useIndex(forms, q.hamza);
        QList<FtsPart> parts = ftsParts(plan, vocab.get());
        // A statement over the page index that fails, other than for a
        // cancel, sends this search to the page check; when the index's own
        // tables fail it is damaged, and cleared to be built again.
        auto leaveIndex = [&](bool damaged) {
            if (damaged)
                PageIndex::distrust(lib.dbPath());
            indexed = false;
            vocab = Vocab::deferred(db, Vocab::gluedTerms(lib.main().path(), map.dataGeneration));
            parts = ftsParts(plan, vocab.get());
        };
        if (indexed && vocab->indexFailed && !stopRequested()) {
            leaveIndex(true);
        } else if (indexed && !sampledOnce(lib.dbPath(), map.dataGeneration, *db, [this] { return stopRequested(); })
                   && !stopRequested()) {
            leaveIndex(true);
        } else if (vocab->formsFailed) {
            // A word written in too many forms: the sections and hamza go
            // back to the page check.
            vocab = Vocab::deferred(db, Vocab::gluedTerms(lib.main().path(), map.dataGeneration));
            vocab->useIndex(false, false);
            parts = ftsParts(plan, vocab.get());
        }
        // Without the order test on this connection the page check decides the order.
        if (std::any_of(parts.begin(), parts.end(), [](const FtsPart& part) { return !part.order.isEmpty(); })
            && !db->addFtsRowTest(orderTest, &SearchEngine::phrasesInOrder)) {
            for (FtsPart& part : parts) {
                part.verify = part.verify || !part.order.isEmpty();
                part.order.clear();
            }
        }
        if (vocab)
            for (const QString& word : vocab->tooBroad)
                if (!tooBroadList.contains(word))
                    tooBroadList << word;
        // The same condition as needsVerify() false, without a scope: then
        // the one part is the full expression and its rows are the total.
        const bool total = !scope && parts.size() == 1 && !parts.first().verify && parts.first().order.isEmpty()
                           && !parts.first().pages
                           && q.inMatn && q.inHawashi && parts.first().table == QLatin1String("pages_fts");
        QSet<std::int64_t> done;
        const bool rest = !map.snapshot || searchFirstBooks(plan, parts, *db, *map.snapshot, scope, limit, emitter, done);
        if (rest && !stopRequested()) {
            std::optional<std::int64_t> rows;
            std::vector<Slice> slices =
                collectCandidates(parts, *db, map.snapshot.get(), scope, done, candidateBuffer, rows);
            const bool overForms = std::any_of(parts.begin(), parts.end(), [](const FtsPart& part) {
                return part.table == QLatin1String(PageIndex::formsTable);
            });
            // The statements read more than the index (the pages beside it,
            // the order test): the index is blamed only if its own table
            // fails alone.
            if (indexed && overForms && !rows && !stopRequested()) {
                const bool readable = formsReadable(parts, *db);
                leaveIndex(!readable && !stopRequested());
                slices = collectCandidates(parts, *db, map.snapshot.get(), scope, done, candidateBuffer, rows);
            }
            if (total)
                lastMatchTotal = rows;
            verifyAndEmit(plan, *db, candidateBuffer, slices, limit, emitter);
            candidateBuffer.clear();
        } else if (total && !stopRequested()) {
            // The first books held every hit asked for; the total is still counted.
            lastMatchTotal = db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?"),
                                           {parts.first().expr});
            if (stopRequested())
                lastMatchTotal.reset();
        }
        emitter.flush();
    }

    if (q.inTitles && plan.valid() && !stopRequested())
        onBatch(searchTitles(plan, *db, scope, map.dataGeneration), false);
    if (q.inNotes && plan.valid() && !stopRequested())
        onBatch(searchNotes(plan, scope), false);
    finish();
}

QList<SearchHit> SearchEngine::semanticHits(const std::vector<SemanticIndex::PageScore>& pairs, SQLiteDB& db,
                                           const std::function<bool()>& stop)
{
    QList<SearchHit> hits;
    auto page = db.prepare(QStringLiteral("SELECT seq, book_id FROM pages WHERE id=?"));
    if (!page)
        return hits;
    hits.reserve(qsizetype(pairs.size()));
    for (const SemanticIndex::PageScore& pair : pairs) {
        if (stop && stop())
            break;
        page->bind({pair.pageId});
        if (!page->step())
            continue;
        hits.append(SearchHit(SearchHit::Kind::page, pair.pageId, page->integer(1).value_or(0),
                              page->integer(0).value_or(0), std::nullopt, std::nullopt, std::nullopt,
                              double(pair.score)));
    }
    return hits;
}

std::vector<SearchEngine::Slice> SearchEngine::collectCandidates(
    const QList<FtsPart>& parts, SQLiteDB& db, const PageMap::Snapshot* map,
    const std::optional<QSet<std::int64_t>>& scope, const QSet<std::int64_t>& done,
    std::vector<Candidate>& candidates, std::optional<std::int64_t>& rows)
{
    std::int64_t matched = 0;
    bool whole = true;
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    candidates.clear();
    // The parts are disjoint, so no run finds more pages than the map holds;
    // room left untouched costs no memory.
    if (map)
        candidates.reserve(map->ids.size());
    // Hits come grouped by book, so the scope test and the catalogue lookup
    // are made once per run of the same book.
    std::int64_t lastBid = 0;
    std::int64_t lastOrder = 0;
    bool lastIn = false;
    bool haveLast = false;
    bool partIndexed = false; // foundByIndex of the part being read, not asked row by row
    auto add = [&](std::int64_t pid, std::int64_t bid, std::int64_t seq, const FtsPart& part) {
        if (!haveLast || bid != lastBid) {
            haveLast = true;
            lastBid = bid;
            lastIn = inScope(scope, bid) && !done.contains(bid);
            const auto book = catalog->bookById.constFind(bid);
            lastOrder = book != catalog->bookById.constEnd() ? book->order : std::numeric_limits<std::int64_t>::max();
        }
        if (lastIn)
            candidates.push_back({lastOrder, seq, pid, bid, part.verify, partIndexed});
    };

    for (const FtsPart& part : parts) {
        partIndexed = foundByIndex(part);
        if (stopRequested()) {
            whole = false;
            break;
        }
        std::optional<Statement> byRowid;
        if (map)
            byRowid = db.prepare(QStringLiteral("SELECT rowid FROM %1 WHERE ").arg(part.table) + matchClause(part));
        if (byRowid) {
            byRowid->bind(matchArgs(part));
            QList<std::int64_t> misses;
            PageMap::Snapshot::Cursor cursor(*map);
            Statement::Step step = Statement::Step::Row; // not Done until the statement says so
            while (!cancelled.load() && (step = byRowid->next()) == Statement::Step::Row) {
                ++matched;
                // A rowid is never null.
                const std::int64_t rowid = byRowid->rowid(0);
                if (!allowed(part, rowid))
                    continue;
                if (const auto found = cursor.lookup(rowid))
                    add(rowid, found->first, found->second, part);
                else
                    misses << rowid;
            }
            whole = whole && step == Statement::Step::Done;
            byRowid.reset();
            if (!misses.isEmpty()) {
                if (auto page = db.prepare(QStringLiteral("SELECT book_id, seq FROM pages WHERE id=?"))) {
                    for (std::int64_t id : misses) {
                        if (cancelled.load())
                            break;
                        page->bind({id});
                        if (!page->step())
                            continue;
                        const auto bid = page->integer(0);
                        if (bid)
                            add(id, *bid, page->integer(1).value_or(0), part);
                    }
                }
            }
        } else {
            auto found = db.prepare(
                (part.table == QLatin1String("pages_fts")
                     ? QStringLiteral("SELECT page_id, book_id FROM pages_fts WHERE ")
                     : QStringLiteral("SELECT %1.rowid, p.book_id FROM %1 JOIN pages p ON p.id = %1.rowid WHERE ")
                           .arg(part.table))
                + matchClause(part));
            if (!found) {
                whole = false;
                continue;
            }
            auto seqOf = db.prepare(QStringLiteral("SELECT seq FROM pages WHERE id=?"));
            found->bind(matchArgs(part));
            Statement::Step step = Statement::Step::Row; // not Done until the statement says so
            while (!cancelled.load() && (step = found->next()) == Statement::Step::Row) {
                ++matched;
                const auto pid = found->integer(0);
                const auto bid = found->integer(1);
                if (!pid || !bid || !allowed(part, *pid))
                    continue;
                std::int64_t seq = 0;
                if (seqOf) {
                    seqOf->bind({*pid});
                    if (seqOf->step())
                        seq = seqOf->integer(0).value_or(0);
                }
                add(*pid, *bid, seq, part);
            }
            whole = whole && step == Statement::Step::Done;
        }
    }

    rows = whole ? std::optional<std::int64_t>(matched) : std::nullopt;
    return orderCandidates(candidates);
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
    // content_norm split on spaces serves whenever the query needs neither
    // a section of the page nor hamza or marks.
    const bool useNorm = q.inMatn && q.inHawashi && !q.hamza && !q.tashkeel;
    std::optional<Statement> text;
    const auto recheck = [&](const Candidate& c) {
        return c.indexed && (indexMismatch || rechecked < indexRechecks);
    };
    if (std::any_of(candidates.begin(), candidates.end(), [&](const Candidate& c) { return c.verify || recheck(c); }))
        // The index's copy of the normal form: the page row would be read
        // through its stored text first.
        text = db.prepare(useNorm ? QStringLiteral("SELECT content_norm FROM pages_fts WHERE rowid=?")
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

bool SearchEngine::searchFirstBooks(const Plan& plan, const QList<FtsPart>& parts, SQLiteDB& db,
                                    const PageMap::Snapshot& map, const std::optional<QSet<std::int64_t>>& scope,
                                    int limit, BatchEmitter& emitter, QSet<std::int64_t>& done)
{
    if (!map.blocked || parts.isEmpty() || limit <= 0)
        return true;
    // A prefix term makes FTS5 merge its whole range of terms, and a long
    // list of alternatives looks up every one, on each range statement
    // anew: there, ranges cost more than collecting everything at once.
    const bool costly = std::any_of(parts.begin(), parts.end(), [](const FtsPart& part) {
        return part.expr.contains(QLatin1String("\"*")) || part.expr.count(QLatin1Char('"')) / 2 > firstBooksTerms;
    });
    if (costly)
        return true;
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    // The books in display order as (order, id): the scope's catalogued
    // books, or the whole catalogue, which is in that order already.
    std::vector<std::pair<std::int64_t, std::int64_t>> scoped;
    std::int64_t pages = std::int64_t(map.ids.size());
    if (scope) {
        pages = 0;
        for (const std::int64_t id : *scope) {
            const auto book = catalog->bookById.constFind(id);
            if (book != catalog->bookById.constEnd())
                scoped.push_back({book->order, id});
            const auto block = map.blocks.constFind(id);
            if (block != map.blocks.constEnd())
                pages += std::int64_t(block->last - block->first + 1);
        }
        std::sort(scoped.begin(), scoped.end());
    }
    const std::size_t books = scope ? scoped.size() : std::size_t(catalog->books.size());
    const auto bookAt = [&](std::size_t i) {
        return scope ? scoped[i] : std::make_pair(catalog->books[qsizetype(i)].order, catalog->books[qsizetype(i)].id);
    };
    // Whether some page in scope lies outside the books done: a book the
    // catalogue lacks, or one not reached.
    const auto rest = [&] {
        if (!scope)
            return qsizetype(done.size()) < map.blocks.size();
        for (const std::int64_t id : *scope)
            if (!done.contains(id) && map.blocks.contains(id))
                return true;
        return false;
    };

    std::vector<Statement> statements;
    for (qsizetype p = 0; p < parts.size(); ++p) {
        auto st = db.prepare(QStringLiteral("SELECT rowid FROM %1 WHERE ").arg(parts[p].table) + matchClause(parts[p])
                             + QStringLiteral(" AND rowid BETWEEN ? AND ?"));
        if (!st)
            return true;
        statements.push_back(std::move(*st));
    }

    struct Stretch {
        std::size_t first, last;
    };
    std::vector<Candidate> found;
    QHash<std::int64_t, std::int64_t> orderOf; // the step's books
    std::vector<Stretch> stretches;
    std::size_t next = 0;
    std::size_t step = 1;
    std::int64_t pagesDone = 0;
    int ran = 0;
    while (next < books) {
        if (stopRequested())
            return false;
        // The step's books and their stretches, joined where they touch.
        orderOf.clear();
        stretches.clear();
        std::size_t end = next;
        std::int64_t stepPages = 0;
        while (end < books && std::size_t(orderOf.size()) < step) {
            const auto [order, id] = bookAt(end++);
            // The map keeps the low 32 bits of a book id.
            if (id != std::int64_t(std::int32_t(id)))
                return true;
            const auto block = map.blocks.constFind(id);
            if (block == map.blocks.constEnd())
                continue; // a book without pages
            orderOf.insert(id, order);
            stretches.push_back({block->first, block->last});
            stepPages += std::int64_t(block->last - block->first + 1);
        }
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
        ran += int(stretches.size() * std::size_t(parts.size()));
        if (ran > firstBooksStatements && next > 0)
            return rest();

        found.clear();
        for (const Stretch& stretch : stretches) {
            for (qsizetype p = 0; p < parts.size(); ++p) {
                Statement& st = statements[std::size_t(p)];
                const bool indexed = foundByIndex(parts[p]);
                st.bind(matchArgs(parts[p]) << map.ids[stretch.first] << map.ids[stretch.last]);
                PageMap::Snapshot::Cursor cursor(map);
                Statement::Step stepped = Statement::Step::Row;
                while (!cancelled.load() && (stepped = st.next()) == Statement::Step::Row) {
                    const std::int64_t rowid = st.rowid(0);
                    if (!allowed(parts[p], rowid))
                        continue;
                    const auto page = cursor.lookup(rowid);
                    // A page the map does not place (added since it was
                    // built): this step is collected the usual way.
                    const auto order = page ? orderOf.constFind(page->first) : orderOf.constEnd();
                    if (order == orderOf.constEnd())
                        return true;
                    found.push_back({*order, page->second, rowid, page->first, parts[p].verify, indexed});
                }
                if (stepped != Statement::Step::Done)
                    return !stopRequested();
            }
        }
        const std::vector<Slice> slices = orderCandidates(found);
        if (!verifyAndEmit(plan, db, found, slices, limit, emitter))
            return false;
        for (auto it = orderOf.constBegin(); it != orderOf.constEnd(); ++it)
            done.insert(it.key());
        pagesDone += stepPages;
        next = end;
        if (emitter.count() >= limit)
            return false;
        // After the first batch the rest is collected at once, and so it is
        // when the hits so far foretell no batch before the end.
        const std::int64_t hits = emitter.count();
        const std::int64_t wanted = BatchEmitter::firstBatch;
        if (emitter.handedOver() > 0 || hits * pages < wanted * pagesDone)
            break;
        // The statements the first batch still takes at the pace of the
        // books so far: past the cap they would be run for nothing, the
        // rest being collected at once all the same.
        const std::int64_t booksDone = std::int64_t(next);
        std::size_t grown = step * 2;
        if (hits > 0) {
            const std::int64_t booksWanted = ((wanted - hits) * booksDone + hits - 1) / hits;
            if (ran + (booksWanted * ran + booksDone - 1) / booksDone > firstBooksStatements)
                break;
            // No more books than that pace asks for: each may be a statement
            // of its own, and a step too short costs only one more step.
            grown = std::min(grown, std::size_t(std::max<std::int64_t>(booksWanted, 1)));
        }
        step = grown;
    }
    return rest();
}

// Tests every table-of-contents title against the plan. The titles are read
// once per data generation under the lock and shared; the test runs outside
// it. Hits come in book display order (a book missing from the catalogue
// counts as order 0), then sequence, table order kept on ties.
QList<SearchHit> SearchEngine::searchTitles(const Plan& plan, SQLiteDB& db,
                                            const std::optional<QSet<std::int64_t>>& scope,
                                            std::int64_t generation)
{
    std::shared_ptr<const TitleRows> rows;
    {
        std::lock_guard guard(titleLock());
        TitleCache& cache = titleCache();
        // Without a generation the database's state is unknown: read afresh.
        if (generation >= 0 && cache.rows && cache.gen == generation) {
            rows = cache.rows;
        } else {
            bool complete = false;
            rows = readTitles(db, complete);
            if (generation >= 0 && complete)
                cache = TitleCache{generation, rows};
        }
    }

    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    // The passing titles are sorted as small keys and the hits made once at
    // the end: a hit is many times the size of its key.
    struct Keyed {
        std::int64_t order;
        std::int64_t seq;
        std::size_t row;
    };
    std::vector<Keyed> keys;
    std::size_t seen = 0;
    std::int64_t lastBook = 0;
    std::int64_t lastOrder = 0;
    bool haveBook = false;
    for (std::size_t i = 0; i < rows->rows.size(); ++i) {
        const TitleRow& row = rows->rows[i];
        if (++seen % deadlineCheckRows == 0 ? stopRequested() : cancelled.load())
            continue;
        if (!inScope(scope, row.book))
            continue;
        // The cached words carry no hamza or marks; a query comparing them reads the title again.
        const bool pass = plan.q.hamza || plan.q.tashkeel ? evaluate(plan, row.raw)
                                                          : NormalWords::evaluate(plan, rows->normal(row));
        if (!pass)
            continue;
        // A book's titles come together: its order is looked up once.
        if (!haveBook || row.book != lastBook) {
            const auto book = catalog->bookById.constFind(row.book);
            lastOrder = book != catalog->bookById.constEnd() ? book->order : 0;
            lastBook = row.book;
            haveBook = true;
        }
        keys.push_back({lastOrder, row.seq, i});
    }
    // The row's place in the table keeps ties in table order.
    std::sort(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) {
        if (a.order != b.order)
            return a.order < b.order;
        return a.seq != b.seq ? a.seq < b.seq : a.row < b.row;
    });
    QList<SearchHit> out;
    out.reserve(qsizetype(keys.size()));
    for (const Keyed& k : keys)
        out.emplaceBack(SearchHit::Kind::title, 0, rows->rows[k.row].book, k.seq);
    return out;
}

// Tests every user note, newest first, against the plan; a hit carries the
// note's whole text as its snippet.
QList<SearchHit> SearchEngine::searchNotes(const Plan& plan, const std::optional<QSet<std::int64_t>>& scope)
{
    QList<SearchHit> out;
    for (const Note& note : lib.notes(std::nullopt)) {
        if (!inScope(scope, note.bookId))
            continue;
        if (evaluate(plan, note.text))
            out << SearchHit(SearchHit::Kind::note, 0, note.bookId, note.seq, note.text);
    }
    return out;
}

} // namespace quorvel
