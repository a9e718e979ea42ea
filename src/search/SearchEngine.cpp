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
#include <unordered_map>
#include <utility>

namespace quorvel {

namespace {

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
// its pages; sampled once per data generation and process where the store
// cannot keep the mark that it was found whole (again when a stop cut the
// sample short).
bool sampledOnce(const QString& path, std::int64_t generation, SQLiteDB& db, const std::function<bool()>& stopped)
{
    static std::mutex lock;
    static QHash<QString, std::int64_t> sampled;
    {
        std::lock_guard guard(lock);
        if (generation >= 0 && sampled.value(path, -1) == generation)
            return true;
    }
    bool marked = false;
    if (!PageIndex::sampleAgrees(db, 8, &marked))
        return false;
    // Marked whole in the store, the index needs no memory here: a change to
    // its rows drops the mark, and the next search checks it again.
    if (stopped() || marked)
        return true;
    std::lock_guard guard(lock);
    sampled.insert(path, generation);
    return true;
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

QString SearchEngine::FtsPart::matchClause() const
{
    QString clause = QStringLiteral("%1 MATCH ?").arg(table);
    if (!order.isEmpty())
        clause += QStringLiteral(" AND %2(%1, ?)").arg(table, QLatin1String(orderTest));
    return clause;
}

SQLArgs SearchEngine::FtsPart::matchArgs() const
{
    SQLArgs args{expr};
    if (!order.isEmpty())
        args << order;
    return args;
}

bool SearchEngine::FtsPart::allows(std::int64_t rowid) const
{
    return !pages || std::binary_search(pages->begin(), pages->end(), rowid);
}

bool SearchEngine::FtsPart::foundByIndex() const
{
    return !verify && (pages || table == QLatin1String(PageIndex::formsTable));
}

// The connection of the last run and the statements compiled on it, by
// their text. Every statement is reset when handed out and when a run ends,
// so that none holds the version of the library it last read.
class SearchEngine::Prepared {
public:
    Prepared(std::shared_ptr<SQLiteDB> db, PageMap::Current map) : db(std::move(db)), map(std::move(map)) {}

    Statement* statement(const QString& sql)
    {
        auto it = statements.find(sql);
        if (it == statements.end()) {
            auto st = db->prepare(sql);
            if (!st)
                return nullptr;
            it = statements.emplace(sql, std::make_unique<Statement>(std::move(*st))).first;
        }
        it->second->bind({});
        return it->second.get();
    }

    void resetAll()
    {
        for (auto& statement : statements)
            statement.second->bind({});
    }

    // Opens the run's read transaction with kept statements and takes its
    // version at once by a first read: the store's count of changes where it
    // keeps one, so that the read also tells whether `map` still holds.
    // True when the transaction is open and the count is the map's.
    bool begin()
    {
        open = false;
        held = false;
        Statement* start = db->inTransaction() ? nullptr : statement(QStringLiteral("BEGIN"));
        if (!start || start->next() != Statement::Step::Done)
            return false;
        open = true;
        Statement* first = map.changes
            ? statement(QStringLiteral("SELECT value FROM meta WHERE key='%1'").arg(QLatin1String(PageMap::changesKey)))
            : statement(QStringLiteral("PRAGMA schema_version"));
        const bool read = first && first->step();
        held = read && map.changes && map.snapshot && first->text(0) == map.changes;
        if (first)
            first->bind({});
        return held;
    }

    // Ends the transaction begin() opened; what the reads made in the
    // connection's temporary schema is kept by the COMMIT.
    void end()
    {
        held = false;
        if (!std::exchange(open, false) || !db->inTransaction())
            return;
        Statement* commit = statement(QStringLiteral("COMMIT"));
        if ((!commit || commit->next() != Statement::Step::Done) && db->inTransaction())
            db->exec(QStringLiteral("ROLLBACK"));
        if (commit)
            commit->bind({});
    }

    // The connection, its statements finalised first.
    std::shared_ptr<SQLiteDB> release()
    {
        end();
        statements.clear();
        return std::move(db);
    }

    std::shared_ptr<SQLiteDB> db;
    // The library as the statements were kept under: its data generation,
    // snapshot and count of changes.
    PageMap::Current map;
    // Whether the open transaction reads the very data `map` was built from.
    bool held = false;

private:
    bool open = false; // a transaction begin() opened is not ended yet
    // Declared after db: finalised before the connection closes.
    std::unordered_map<QString, std::unique_ptr<Statement>> statements;
};

SearchEngine::SearchEngine(Library& lib) : lib(lib) {}

// The kept connection is closed, not given back: the library may be gone
// before the last holder of an engine lets it go.
SearchEngine::~SearchEngine() = default;

Statement* SearchEngine::statement(const QString& sql)
{
    return kept ? kept->statement(sql) : nullptr;
}

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

// One run's hold on its engine: what the last run left is cleared when it
// begins, and when it ends, stopped or not, its statements are reset and its
// read transaction closed, so that the connection and statements kept for
// the next run pin no version of the library between runs; a connection a
// cancel interrupted is closed instead of kept. Then the final call is made.
class SearchEngine::Run {
public:
    Run(SearchEngine& engine, const Deadline& deadline, const OnBatch& onBatch)
        : engine(engine), onBatch(onBatch)
    {
        engine.tooBroadList.clear();
        engine.lastMatchTotal.reset();
        engine.lastChecked = 0;
        engine.rechecked = 0;
        engine.indexMismatch = false;
        engine.expired = false;
        engine.deadline = deadline.isSet() ? &deadline : nullptr;
        if (engine.stopRequested())
            return;
        // The kept connection reads the store's count of changes in the
        // run's own transaction: unchanged, the map it was kept with holds.
        if (engine.kept && engine.kept->begin()) {
            map = engine.kept->map;
        } else {
            if (engine.kept)
                engine.kept->end();
            map = PageMap::current(engine.lib.main().path());
            // Statements kept under other data are given up with their
            // connection: the library changes seldom, and the pool keeps it.
            if (engine.kept && (map.dataGeneration < 0 || engine.kept->map.dataGeneration != map.dataGeneration))
                engine.lib.returnSearchConnection(std::exchange(engine.kept, nullptr)->release());
            if (engine.kept)
                engine.kept->map = map;
            else if (auto taken = engine.lib.takeSearchConnection())
                engine.kept = std::make_unique<Prepared>(std::move(taken), map);
            if (!engine.kept || engine.stopRequested())
                return;
            // The run's statements read one version of the library: an
            // install that commits meanwhile must not leave a total of one
            // version beside hits, page checks or titles of the next.
            engine.kept->begin();
        }
        db = engine.kept->db;
        {
            std::lock_guard guard(engine.connLock);
            engine.conn = db;
        }
        if (engine.stopRequested())
            return;
        // The deadline interrupts a long statement from inside, as cancel() would.
        if (engine.deadline)
            db->setProgressCheck(deadlineCheckSteps, [&engine] { return engine.stopRequested(); });
        searching = true;
    }

    ~Run()
    {
        if (db && engine.deadline)
            db->setProgressCheck(0, {});
        // A statement left part-way holds its version past the commit.
        if (engine.kept) {
            engine.kept->resetAll();
            engine.kept->end();
        }
        bool interrupted = false;
        {
            std::lock_guard guard(engine.connLock);
            engine.conn.reset();
            interrupted = engine.connInterrupted;
            engine.connInterrupted = false;
        }
        db.reset();
        // An interrupted connection may still carry the interruption into
        // its next statement: it is closed rather than kept.
        if (interrupted)
            engine.kept.reset();
        engine.deadline = nullptr;
        onBatch({}, true);
        // Cleared only now: a cancel made before the run started stopped it.
        engine.cancelled.store(false);
    }

    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // The run's connection, when it may search: it has one and was not
    // stopped before it began.
    const std::shared_ptr<SQLiteDB>* connection() const { return searching ? &db : nullptr; }
    const PageMap::Current& library() const { return map; }

private:
    SearchEngine& engine;
    const OnBatch& onBatch;
    PageMap::Current map;
    std::shared_ptr<SQLiteDB> db;
    bool searching = false;
};

void SearchEngine::run(const SearchQuery& q, int limit, const OnBatch& onBatch, const Deadline& deadline)
{
    const Run running(*this, deadline, onBatch);
    if (const auto* db = running.connection())
        searchAll(q, limit, onBatch, *db, running.library());
}

// The meaning-based hits, or the page hits; then the titles and the notes.
void SearchEngine::searchAll(const SearchQuery& q, int limit, const OnBatch& onBatch,
                             const std::shared_ptr<SQLiteDB>& db, const PageMap::Current& map)
{
    Plan plan = SearchEngine::plan(q);
    plan.pageChecked = pageChecked;
    std::optional<QSet<std::int64_t>> scope;
    if (q.scope)
        scope = QSet<std::int64_t>(q.scope->begin(), q.scope->end());

    // A meaning-based query ends here when the shared index is loaded; without
    // it the query's phrases are searched as full text below.
    if (q.semantic && !stopRequested() && searchByMeaning(q, scope, *db, onBatch))
        return;
    if ((q.inMatn || q.inHawashi) && plan.valid() && !stopRequested()) {
        BatchEmitter emitter(onBatch, clock, &batchBuffer);
        searchPages(plan, scope, map, db, limit, emitter);
        emitter.flush();
    }
    if (q.inTitles && plan.valid() && !stopRequested())
        onBatch(searchTitles(plan, *db, scope, map.dataGeneration), false);
    if (q.inNotes && plan.valid() && !stopRequested())
        onBatch(searchNotes(plan, scope), false);
}

// False when the shared meaning index is not loaded.
bool SearchEngine::searchByMeaning(const SearchQuery& q, const std::optional<QSet<std::int64_t>>& scope, SQLiteDB& db,
                                   const OnBatch& onBatch)
{
    const auto index = SharedMeaningIndex::index();
    if (!index)
        return false;
    QStringList phrases = q.andPhrases;
    phrases += q.orPhrases;
    const auto pairs = index->search(phrases.join(u' '), semanticK, scope, &db);
    onBatch(semanticHits(pairs, db, [this] { return stopRequested(); }), false);
    return true;
}

// The expressions are chosen, the first books searched ahead, the rest
// collected at once; each page is checked where the index cannot decide.
void SearchEngine::searchPages(const Plan& plan, const std::optional<QSet<std::int64_t>>& scope,
                               const PageMap::Current& map, const std::shared_ptr<SQLiteDB>& db, int limit,
                               BatchEmitter& emitter)
{
    RunParts chosen = runParts(plan, db, map.dataGeneration);
    // Without the order test on this connection the page check decides the order.
    if (std::any_of(chosen.parts.begin(), chosen.parts.end(), [](const FtsPart& part) { return !part.order.isEmpty(); })
        && !db->addFtsRowTest(orderTest, &SearchEngine::phrasesInOrder)) {
        for (FtsPart& part : chosen.parts) {
            part.verify = part.verify || !part.order.isEmpty();
            part.order.clear();
        }
    }
    if (chosen.vocab)
        for (const QString& word : chosen.vocab->tooBroad)
            if (!tooBroadList.contains(word))
                tooBroadList << word;
    // The same condition as needsVerify() false, without a scope: then the
    // one part is the full expression and its rows are the total.
    const bool total = !scope && isFullExpression(plan.q, chosen.parts);
    QSet<std::int64_t> done;
    std::optional<std::int64_t> rows;
    // Rows that few are read at once: the first books would read them twice
    // for a first batch that comes no sooner.
    if (!scope && map.snapshot && collectRest(plan, chosen, db, map, scope, done, limit, emitter, rows, fewRows)) {
        if (total)
            lastMatchTotal = rows;
        return;
    }
    const bool rest =
        !map.snapshot || searchFirstBooks(plan, chosen.parts, *db, *map.snapshot, scope, limit, emitter, done);
    if (rest && !stopRequested()) {
        collectRest(plan, chosen, db, map, scope, done, limit, emitter, rows);
        if (total)
            lastMatchTotal = rows;
    } else if (total && !stopRequested()) {
        // The first books held every hit asked for; the total is still counted.
        if (Statement* count = statement(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?"))) {
            count->bind({chosen.parts.first().expr});
            if (count->step())
                lastMatchTotal = count->integer(0);
        }
        if (stopRequested())
            lastMatchTotal.reset();
    }
}

std::unique_ptr<SearchEngine::Vocab> SearchEngine::runVocab(const std::shared_ptr<SQLiteDB>& db,
                                                            std::int64_t generation) const
{
    // Glued-digit lookups are shared while the data is unchanged: a word
    // searched again costs no vocabulary scan.
    auto vocab = Vocab::deferred(db, Vocab::gluedTerms(lib.main().path(), generation));
    // On the run's connection its statements are the run's kept ones.
    if (Prepared* run = kept.get(); run && run->db == db)
        vocab->borrow([run](const QString& sql) { return run->statement(sql); });
    return vocab;
}

// Over the page index when it is ready and agrees with a sample of its
// pages, else over the full-text index; a word written in too many forms
// sends the sections and hamza back to the page check.
SearchEngine::RunParts SearchEngine::runParts(const Plan& plan, const std::shared_ptr<SQLiteDB>& db,
                                              std::int64_t generation)
{
    const SearchQuery& q = plan.q;
    RunParts chosen;
    chosen.vocab = runVocab(db, generation);
    PageIndex::State index;
    if (Statement* read = pageChecked ? nullptr : statement(QLatin1String(PageIndex::stateQuery)))
        index = PageIndex::state(*read);
    chosen.indexed = index.ready;
    const bool forms = chosen.indexed && (q.hamza || !(q.inMatn && q.inHawashi)) && formsServe(plan);
    if (chosen.indexed)
        chosen.vocab->useIndex(forms, q.hamza);
    chosen.parts = ftsParts(plan, chosen.vocab.get());
    if (chosen.indexed && chosen.vocab->indexFailed && !stopRequested()) {
        leaveIndex(chosen, plan, db, generation, true);
    } else if (chosen.indexed && !index.whole && !sampledOnce(lib.dbPath(), generation, *db, [this] { return stopRequested(); })
               && !stopRequested()) {
        leaveIndex(chosen, plan, db, generation, true);
    } else if (chosen.vocab->formsFailed) {
        chosen.vocab = runVocab(db, generation);
        chosen.vocab->useIndex(false, false);
        chosen.parts = ftsParts(plan, chosen.vocab.get());
    }
    return chosen;
}

// A statement over the page index that fails, other than for a cancel,
// sends this search to the page check; when the index's own tables fail it
// is damaged, and cleared to be built again.
void SearchEngine::leaveIndex(RunParts& chosen, const Plan& plan, const std::shared_ptr<SQLiteDB>& db,
                              std::int64_t generation, bool damaged)
{
    if (damaged)
        PageIndex::distrust(lib.dbPath());
    chosen.indexed = false;
    chosen.vocab = runVocab(db, generation);
    chosen.parts = ftsParts(plan, chosen.vocab.get());
}

// The pages the first books left are collected at once, checked and handed
// over; `rows` receives how many index rows the parts matched, as
// collectCandidates. False, nothing handed over, when the parts match more
// rows than `cap`.
bool SearchEngine::collectRest(const Plan& plan, RunParts& chosen, const std::shared_ptr<SQLiteDB>& db,
                               const PageMap::Current& map, const std::optional<QSet<std::int64_t>>& scope,
                               const QSet<std::int64_t>& done, int limit, BatchEmitter& emitter,
                               std::optional<std::int64_t>& rows, std::int64_t cap)
{
    std::optional<std::vector<IdStretch>> stretches;
    if (scope && map.snapshot)
        stretches = scopeStretches(chosen.parts, *map.snapshot, *scope, done);
    std::optional<std::vector<Slice>> found = collectCandidates(
        chosen.parts, map.snapshot.get(), stretches ? &*stretches : nullptr, scope, done, candidateBuffer, rows, cap);
    if (!found)
        return false;
    std::vector<Slice> slices = std::move(*found);
    // The stretches are the map's: a page written since it was built may lie
    // outside them, so the whole index is read when the library has changed.
    if (stretches && !stopRequested() && !(kept && kept->held)
        && PageMap::current(lib.main().path()).dataGeneration != map.dataGeneration) {
        stretches.reset();
        slices = *collectCandidates(chosen.parts, map.snapshot.get(), nullptr, scope, done, candidateBuffer, rows);
    }
    const bool overForms = std::any_of(chosen.parts.begin(), chosen.parts.end(), [](const FtsPart& part) {
        return part.table == QLatin1String(PageIndex::formsTable);
    });
    // The statements read more than the index (the pages beside it, the
    // order test): the index is blamed only if its own table fails alone.
    if (chosen.indexed && overForms && !rows && !stopRequested()) {
        const bool readable = formsReadable(chosen.parts, *db);
        leaveIndex(chosen, plan, db, map.dataGeneration, !readable && !stopRequested());
        slices = *collectCandidates(chosen.parts, map.snapshot.get(), stretches ? &*stretches : nullptr, scope,
                                    done, candidateBuffer, rows);
    }
    verifyAndEmit(plan, *db, candidateBuffer, slices, limit, emitter);
    candidateBuffer.clear();
    return true;
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
            out.emplaceBack(SearchHit::Kind::note, 0, note.bookId, note.seq, note.text);
    }
    return out;
}

} // namespace quorvel
