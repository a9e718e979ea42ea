// The run: its hold on the kept connection and read transaction, the choice
// of the index it reads, and its steps from the page hits to the final call.

#include "search/SearchEngine.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/BatchEmitter.h"
#include "search/PageIndex.h"
#include "search/PageMap.h"
#include "search/SearchConnection.h"
#include "search/SharedMeaningIndex.h"

#include <QHash>

#include <algorithm>
#include <cassert>
#include <functional>
#include <limits>
#include <tuple>
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

SearchEngine::SearchEngine(Library& lib) : lib(lib) {}

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
// begins, and a kept connection taken from the library; when it ends,
// stopped or not, the connection is given back, its statements reset and
// its read transaction closed, so that it pins no version of the library
// between runs; a connection a cancel interrupted is closed instead of kept.
// Then the final call is made.
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
        // Whichever search last gave it back, any caller's engine.
        engine.kept = SearchConnection::take(engine.lib);
        if (!engine.kept)
            return;
        // The kept connection reads the store's count of changes in the
        // run's own transaction: unchanged, the map it was kept with holds.
        if (engine.kept->begin()) {
            map = engine.kept->library();
        } else {
            engine.kept->end();
            map = PageMap::current(engine.lib.main().path());
            // Statements kept under other data are dropped: the library
            // changes seldom.
            engine.kept->keep(map);
            if (engine.stopRequested())
                return;
            // The run's statements read one version of the library: an
            // install that commits meanwhile must not leave a total of one
            // version beside hits, page checks or titles of the next.
            engine.kept->begin();
        }
        db = engine.kept->connection();
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
        bool interrupted = false;
        {
            std::lock_guard guard(engine.connLock);
            engine.conn.reset();
            interrupted = engine.connInterrupted;
            engine.connInterrupted = false;
        }
        db.reset();
        // An interrupted connection may still carry the interruption into
        // its next statement: it is closed rather than kept. Given back, its
        // statements are reset first: one left part-way holds its version
        // past the commit.
        if (interrupted)
            engine.kept.reset();
        else
            SearchConnection::giveBack(engine.lib, std::move(engine.kept));
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
        BatchEmitter emitter(onBatch, clock, kept ? &kept->batchRoom() : nullptr);
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
    // for a first batch that comes no sooner. Rows the first books leave
    // alone (as searchFirstBooks decides) are read at once however many: a try
    // under the cap would start the statement twice, and starting it is
    // what a prefix's or a root's many terms cost.
    const bool firstBooks =
        map.snapshot && map.snapshot->blocked && !chosen.parts.isEmpty() && limit > 0 && rangesPay(chosen.parts);
    if (!scope && map.snapshot && !(firstBooks && positional(chosen.parts))
        && collectRest(plan, chosen, db, map, scope, done, limit, emitter, rows,
                       firstBooks ? fewRows : std::numeric_limits<std::int64_t>::max())) {
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

bool SearchEngine::positional(const QList<FtsPart>& parts)
{
    return std::any_of(parts.begin(), parts.end(), [](const FtsPart& part) {
        return !part.order.isEmpty() || part.expr.contains(QLatin1String("NEAR(")) || part.expr.contains(u'+');
    });
}

std::unique_ptr<SearchEngine::Vocab> SearchEngine::runVocab(const std::shared_ptr<SQLiteDB>& db,
                                                            std::int64_t generation) const
{
    // Glued-digit lookups are shared while the data is unchanged: a word
    // searched again costs no vocabulary scan.
    auto vocab = Vocab::deferred(db, Vocab::gluedTerms(lib.main().path(), generation));
    // On the run's connection its statements are the run's kept ones.
    if (SearchConnection* run = kept.get(); run && run->connection() == db)
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
    // Only a run on a kept connection searches, and fills that connection's room.
    assert(kept);
    std::vector<Candidate>& candidateBuffer = kept->candidateRoom();
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
    if (stretches && !stopRequested() && !(kept && kept->holdsLibrary())
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

} // namespace quorvel
