#pragma once

// The full-text search engine. A `SearchQuery` is planned into FTS5 MATCH
// expressions over `pages_fts`, each query word expanded through the index's
// own vocabulary; the candidate pages are mapped to (book, sequence), sorted
// into reading order, checked exactly where the index cannot decide, and
// handed to the caller in batches; titles and notes follow.
//
// The static parts (planning, verification, snippets) hold no state and may
// run on any thread. An engine object runs one query at a time on the
// calling thread, on a read-only connection it holds alone for the run, so
// that `cancel()` from another thread can interrupt it without disturbing
// anything else. The connection and the statements compiled on it come from
// the library's kept searches (SearchConnection) and go back to them when
// the run ends: an engine made for one search is as fast as one kept.

#include "core/Arabic.h"
#include "core/SQLiteDB.h"
#include "search/Deadline.h"
#include "search/PageMap.h"
#include "search/SearchCandidate.h"
#include "search/SearchHit.h"
#include "search/SearchQuery.h"
#include "search/SemanticIndex.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorvel {

class BatchEmitter;
class Library;
class SearchConnection;
class SQLiteDB;
class Statement;

class SearchEngine {
public:
    // ---- planning ---------------------------------------------------------

    static constexpr int nearDistance = 12; // NEAR distance in tokens, and the verifier's window
    static constexpr int maxCombos = 256;   // most combinations written out per phrase or NEAR product
    static constexpr int maxWild = 3000;    // most index terms one wildcard word may expand to
    static constexpr int minWildLetters = 2; // fewer literal units make a wildcard too broad
    static constexpr int defaultLimit = 500000;
    // A request's size bounds: every word is expanded into index terms and
    // written into the match expression, so the work grows with both.
    static constexpr int maxQueryChars = 4096; // characters of all phrases together
    static constexpr int maxQueryWords = 128;  // words of all phrases together

    struct Phrase {
        std::vector<Arabic::Tok> toks;
        std::optional<QList<Arabic::RichWord>> rich; // only when hamza or diacritics are compared
    };

    struct Plan {
        SearchQuery q;
        std::vector<Phrase> ands;
        std::vector<Phrase> ors;
        std::vector<Phrase> nots;
        bool tooLarge = false; // past the size bounds: nothing is planned or searched
        // Every condition the index leaves open is settled on the page, none
        // by token positions or by an unmarked word: the reference the faster
        // answers are compared with.
        bool pageChecked = false;
        bool valid() const { return !ands.empty() || !ors.empty(); }
    };

    // The index terms one query word may match: whole terms or prefixes.
    struct Alts {
        enum class Kind { terms, prefixes };
        Kind kind = Kind::terms;
        QStringList list;
        // Each entry quoted, prefixes followed by "*".
        QStringList fts() const;
    };

    struct PhraseExpr {
        std::optional<QString> expr;         // absent when a word has no alternative
        bool exact = true;                   // a match of expr is a match of the phrase
        std::optional<QStringList> combos;   // written-out phrase terms, absent past maxCombos
    };

    // Page ids in ascending order, each once.
    using PageSet = std::vector<std::int64_t>;

    struct FtsPlan {
        std::optional<QString> expr;
        bool verify = false;
        std::optional<QString> order; // the argument of the phrase-order test, when the rows need it
        std::shared_ptr<const PageSet> pages; // when set, the only pages that may match
    };

    struct FtsPart {
        QString expr;
        bool verify = false;
        QString table = QStringLiteral("pages_fts"); // the full-text table expr is matched against
        // When set, only rows whose and-phrases lie in the query's order (and
        // nearness) by their token positions are matches: the argument of
        // orderTest, run beside the MATCH.
        QString order;
        // When set, the only pages whose rows may match: those that hold the
        // marks the query writes.
        std::shared_ptr<const PageSet> pages;
        bool operator==(const FtsPart&) const = default;

        // The condition its rows meet in a statement over its table, and
        // that condition's arguments: the MATCH, and the order test when set.
        QString matchClause() const;
        SQLArgs matchArgs() const;
        // Whether a row may match as far as the page set tells.
        bool allows(std::int64_t rowid) const;
        // Whether its rows are final by the page index's own rows: its
        // forms, or the pages of its marked words.
        bool foundByIndex() const;
    };

    // The index vocabulary of one search connection, read by range scans of
    // an fts5vocab table in the connection's temporary schema. Its terms are
    // the tokenizer's, so Latin letters come lower-cased while the normal form
    // keeps them as typed: a wildcard or affix word with Latin capitals finds
    // no term. Arabic has no case, so only such Latin words are affected.
    class Vocab {
    public:
        // The glued-digit terms of the words looked up so far, kept for one
        // database while its data is unchanged and shared by every run on it.
        class Glued;

        // Nothing when the vocabulary table or its statement cannot be made.
        static std::unique_ptr<Vocab> make(std::shared_ptr<SQLiteDB> db);
        // A vocabulary that makes its table and statement at its first scan,
        // so that a run whose words need none (their glued terms already in
        // `glued`) does no vocabulary work. Once making them fails it acts as
        // no vocabulary at all, as make() answering nothing does.
        static std::unique_ptr<Vocab> deferred(std::shared_ptr<SQLiteDB> db, std::shared_ptr<Glued> glued);
        // The glued terms of the database at `path` in data generation
        // `generation` (PageMap::Current::dataGeneration); a new generation
        // starts empty. Nothing for an unknown generation (below 0).
        static std::shared_ptr<Glued> gluedTerms(const QString& path, std::int64_t generation);
        ~Vocab();

        // The upper bound of every range scan: a text that sorts after any term.
        static const QString& topChar();
        // Puts terms in the index's (code-point) order.
        static void sortCodePoints(QStringList& list);

        // Makes the table and statement if not yet made; false when they cannot be.
        bool open();

        // Terms t with lo <= t < hi, in the index's (code-point) order.
        QStringList range(const QString& lo, const QString& hi);
        // The same terms handed one by one to `visit` until it returns false,
        // so that a scan of the whole vocabulary holds no list of it.
        void scan(const QString& lo, const QString& hi, const std::function<bool(const QString&)>& visit);
        QStringList terms(const QString& prefix);
        // Index terms made of `w` followed directly by digits.
        QStringList glued(const QString& w);

        // Wildcard words too broad to expand, in the order met.
        QStringList tooBroad;

        // Reads the vocabulary from the page index's term table instead of
        // the full-text index (the same terms, found by range, also from the
        // end of a word); with `forms`, every expression is written for the
        // page_forms table, the alternatives of a word being the forms its
        // terms are written in, those with other hamza forms than the query's
        // left out when `hamza`. Only for a complete page index.
        void useIndex(bool forms, bool hamza);
        // Scans the terms whose reversed key (PageIndex::reversedKey) lies in
        // [lo, hi); false when it stopped before its end or reads no term table.
        bool scanReversed(const QString& lo, const QString& hi, const std::function<bool(const QString&)>& visit);
        bool writesForms() const { return forms; }
        bool readsTermTable() const { return termTable; }
        bool keepsHamza() const { return hamza; }
        void keepHamza(bool on) { hamza = on; }
        // A word's alternatives as page_forms terms, in code-point order;
        // nothing when there are too many to write out. `asked`: the query
        // word's letters whose alef forms a form must carry.
        std::optional<QStringList> formsOf(const Alts& alts, const QList<Arabic::RichLetter>* asked);
        // The marked words of the page index whose term lies in [lo, hi), as
        // (term, written form) once each; nothing without the index or when
        // the read failed (then indexFailed is set).
        std::optional<QList<std::pair<QString, QString>>> markedForms(const QString& lo, const QString& hi);
        // The pages holding one of those words; nothing when the read failed.
        std::optional<PageSet> markedPages(const QList<std::pair<QString, QString>>& words);
        // Set once a word had too many forms: the expressions are incomplete.
        bool formsFailed = false;
        // Set once a statement over the term table failed (a cancel among
        // them): the index may be damaged and the expressions are incomplete.
        bool indexFailed = false;

        // Takes its statements from `lender` (a run's kept statements of the
        // same connection) instead of compiling its own.
        void borrow(std::function<Statement*(const QString&)> lender) { lend = std::move(lender); }

    private:
        Vocab() = default;
        // The statement of `sql`, lent or compiled here; nullptr when it cannot be compiled.
        Statement* compile(const QString& sql);
        // Runs the range statement; false when it stopped before its end.
        bool scanAll(const QString& lo, const QString& hi, const std::function<bool(const QString&)>& visit);

        std::shared_ptr<SQLiteDB> db;
        std::function<Statement*(const QString&)> lend;
        std::vector<std::unique_ptr<Statement>> owned; // those compiled here
        Statement* st = nullptr;
        std::shared_ptr<Glued> known;
        bool failed = false;
        bool termTable = false;
        bool forms = false;
        bool hamza = false;
        Statement *reversedSt = nullptr, *formSt = nullptr, *formRangeSt = nullptr, *markedSt = nullptr,
                  *markedPagesSt = nullptr;
    };

    using Held = QSet<QString>;

    // `text` without double quotes, between double quotes: one FTS5 term.
    static QString quote(const QString& text);
    // Past the size bounds the plan is empty and marked tooLarge, so no
    // caller can make the planner work through a huge request.
    static Plan plan(const SearchQuery& q);
    // The refusal of a request past the size bounds, in Arabic, for callers
    // to show; nothing for a request of acceptable size.
    static std::optional<QString> refusal(const SearchQuery& q);
    static Alts alts(const Arabic::Tok& tok, Vocab* vocab, bool glued, Held& held);
    static PhraseExpr phraseExpr(const Phrase& phrase, Vocab* vocab, bool glued, Held& held);
    static std::optional<QStringList> nearCombos(const QList<PhraseExpr>& exprs);
    static FtsPlan ftsPlan(const Plan& plan, Vocab* vocab, bool glued, Held& held);
    static QList<FtsPart> ftsParts(const Plan& plan, Vocab* vocab);
    // Whether the page index can answer the plan's sections and hamza forms:
    // every phrase and NEAR group short enough to be seen across the
    // footnote line when the whole page is searched.
    static bool formsServe(const Plan& plan);

    // For callers that run FTS5 themselves: the full expression of a query
    // (absent when it has nothing to search), and whether its matches still
    // need the exact page check.
    std::optional<QString> ftsExpression(const SearchQuery& q) const;
    bool needsVerify(const SearchQuery& q) const;

    // ---- exact verification -----------------------------------------------

    // Start positions of the phrase in the words (occurrences may overlap).
    static QList<int> positions(const Phrase& phrase, const QStringList& words,
                                const QList<Arabic::RichWord>* rich, const SearchQuery& q);
    // Whether one occurrence per phrase can be chosen in order and/or within
    // the window of nearDistance words.
    static bool orderNear(const QList<QList<int>>& occurrences, const QList<int>& lengths,
                          bool ordered, bool near);
    // The SQL name of phrasesInOrder on a search connection.
    static constexpr const char* orderTest = "phrase_order";
    // The order test's column for the page index's whole page: its main
    // text, footnotes and seam columns together.
    static constexpr int wholePageColumns = -1;
    // Whether a full-text row holds the and-phrases in order (and within the
    // window when near) by their token positions, as orderNear decides on
    // the page's words; `argument` is an FtsPart's order. A row whose phrase
    // sizes differ from the query's words is kept, for the page check.
    static bool phrasesInOrder(const SQLiteDB::FtsRow& row, std::string_view argument);
    static bool evaluate(const Plan& plan, const QStringList& words, const QList<Arabic::RichWord>* rich);
    static bool evaluate(const Plan& plan, const QString& text);
    // The part of a stored page text the query searches (main text, footnotes or both).
    static QString sectionText(const SearchQuery& q, const QString& content);
    // Whether a page check reads the index's normal form of the page
    // (content_norm split on spaces) instead of its stored text: when the
    // query needs neither a section of the page nor hamza or marks.
    static bool checksNormalForm(const SearchQuery& q) { return q.inMatn && q.inHawashi && !q.hamza && !q.tashkeel; }

    // ---- snippets -----------------------------------------------------------

    struct Snippet {
        QString text;
        QList<Arabic::Range> ranges; // UTF-16 ranges of the matches inside text
    };
    static constexpr int defaultRadius = 11;
    static constexpr int fallbackCharacters = 160;
    // An excerpt of a page around the earliest match of any term, with the
    // matches marked; the start of the text when nothing matches. With
    // `asked`, only matches written with the hamza forms its query asks for
    // count (marks are stripped from the excerpt, so they are not compared).
    static Snippet snippet(const QString& content, const QList<SearchQuery::Term>& terms,
                           int radius = defaultRadius, const Plan* asked = nullptr);
    // Of `ranges` in `text`, those whose words the plan's exact check accepts
    // with its hamza forms and, when `marks`, its diacritics: a highlight then
    // marks what the search itself counted. Every range when the query
    // compares neither.
    static QList<Arabic::Range> writtenAsAsked(const Plan& plan, const QString& text,
                                               QList<Arabic::Range> ranges, bool marks);

    // ---- running ------------------------------------------------------------

    // Receives hits on the run's thread; the last call has an empty list and done = true.
    using OnBatch = std::function<void(const QList<SearchHit>& hits, bool done)>;
    // Monotonic nanoseconds; tests inject their own.
    using Clock = std::function<std::uint64_t()>;

    explicit SearchEngine(Library& lib);
    ~SearchEngine();
    SearchEngine(const SearchEngine&) = delete;
    SearchEngine& operator=(const SearchEngine&) = delete;

    // Runs the query on the calling thread and returns when it is over: page
    // hits in book display order in batches (at most `limit` of them), then
    // the title hits in one call, then the note hits in one call, then the
    // final call. Also a cancelled or failed run ends with the final call.
    // A run still under way when `deadline` passes stops as if cancelled.
    void run(const SearchQuery& q, int limit, const OnBatch& onBatch, const Deadline& deadline = {});
    void run(const SearchQuery& q, const OnBatch& onBatch) { run(q, defaultLimit, onBatch); }

    // Whether the deadline stopped the last run before its final call; read
    // after run() returns.
    bool timedOut() const { return expired; }

    // Safe from any thread at any time. Stops the run under way at once; a
    // cancel that arrives while no run is under way applies to the next run
    // (a search queued and then abandoned never runs in full). The flag is
    // cleared when a run ends, so callers that arm a cancel timer should
    // disarm it when the run has delivered its final call.
    void cancel();
    bool isCancelled() const { return cancelled.load(); }

    // The wildcard patterns the last run found too broad; read after run() returns.
    QStringList tooBroad() const;

    // The number of index rows the last run's full expression matched, as
    // "SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?" with
    // ftsExpression() would count them: known only when that run had no
    // scope, searched the whole page with one expression that needs no page
    // check (needsVerify() false), and was neither cancelled nor timed out
    // (a run that the limit ends early counts the rows it did not read).
    // Read after run().
    std::optional<std::int64_t> matchTotal() const { return lastMatchTotal; }

    void setClock(Clock clock) { this->clock = std::move(clock); }

    // Runs every query as before the page index: the vocabulary read from the
    // full-text index, and sections, hamza forms, marks and order checked
    // page by page. Off by default; for comparing the two paths.
    void setPageCheckedPath(bool on) { pageChecked = on; }
    // How many pages the last run read to check them; read after run().
    std::int64_t pagesChecked() const { return lastChecked; }

    // Title and note search of a run; `scope` absent means every book. The
    // titles are cached per `generation` (the page map's data generation);
    // -1 means the database's state is unknown and the table is read afresh.
    QList<SearchHit> searchTitles(const Plan& plan, SQLiteDB& db, const std::optional<QSet<std::int64_t>>& scope,
                                  std::int64_t generation);
    QList<SearchHit> searchNotes(const Plan& plan, const std::optional<QSet<std::int64_t>>& scope);

    // The most pages a meaning-based run returns.
    static constexpr int semanticK = 300;
    // The page hits of a meaning-based run, in the pairs' order with their
    // scores; a page the library no longer holds is skipped, and the loop
    // ends early once `stop` answers true (checked before every pair). Empty
    // when the lookup cannot be prepared.
    static QList<SearchHit> semanticHits(const std::vector<SemanticIndex::PageScore>& pairs, SQLiteDB& db,
                                         const std::function<bool()>& stop);

private:
    using Candidate = SearchCandidate;

    // How many pages of each run that the page index alone finds are
    // checked all the same, before any is handed over: damaged rows that
    // still read are caught by the hits they give.
    static constexpr int indexRechecks = 1;

    // How many virtual-machine steps of the run's statements pass between
    // two readings of the deadline's clock.
    static constexpr int deadlineCheckSteps = 1000;
    // How many titles or candidates pass between two readings outside SQL.
    static constexpr std::size_t deadlineCheckRows = 256;

    // A stretch [begin, end) of the candidate list.
    struct Slice {
        std::size_t begin, end;
    };
    class CandidateSink;
    class BooksInOrder;
    struct BooksStep;
    // How the rows of a step of the first books were read.
    enum class StepRead { whole, unplaced, stopped };

    // The expressions a run collects its pages with and the vocabulary they
    // were written from; `indexed` while they read the page index.
    struct RunParts {
        std::unique_ptr<Vocab> vocab;
        QList<FtsPart> parts;
        bool indexed = false;
    };

    class Run;
    // The run's kept statement of `sql` on its connection, reset and
    // unbound; nullptr when it cannot be compiled. Valid until the run ends.
    Statement* statement(const QString& sql);
    // The steps of run(), in order.
    void searchAll(const SearchQuery& q, int limit, const OnBatch& onBatch, const std::shared_ptr<SQLiteDB>& db,
                   const PageMap::Current& map);
    bool searchByMeaning(const SearchQuery& q, const std::optional<QSet<std::int64_t>>& scope, SQLiteDB& db,
                         const OnBatch& onBatch);
    void searchPages(const Plan& plan, const std::optional<QSet<std::int64_t>>& scope, const PageMap::Current& map,
                     const std::shared_ptr<SQLiteDB>& db, int limit, BatchEmitter& emitter);
    bool collectRest(const Plan& plan, RunParts& chosen, const std::shared_ptr<SQLiteDB>& db,
                     const PageMap::Current& map, const std::optional<QSet<std::int64_t>>& scope,
                     const QSet<std::int64_t>& done, int limit, BatchEmitter& emitter, std::optional<std::int64_t>& rows,
                     std::int64_t cap = std::numeric_limits<std::int64_t>::max());
    // The most index rows a search may match to be collected at once,
    // without the first books: reading that many costs about what one more
    // statement's start does, and a first batch could come little sooner.
    static constexpr std::int64_t fewRows = 500;
    // Whether the parts' rows are tested by their phrases' positions (an
    // order or nearness test, a phrase of words). Such a row costs several
    // plain ones, so a try at collecting few rows at once, when they prove
    // more, costs more than the statement's second start it saves.
    static bool positional(const QList<FtsPart>& parts);

    // A vocabulary for the connection that shares the glued terms of the
    // data generation.
    std::unique_ptr<Vocab> runVocab(const std::shared_ptr<SQLiteDB>& db, std::int64_t generation) const;
    // Lends `use` such a vocabulary on a pooled connection of the current
    // data generation, for callers outside a run.
    void withVocab(const std::function<void(Vocab*)>& use) const;
    RunParts runParts(const Plan& plan, const std::shared_ptr<SQLiteDB>& db, std::int64_t generation);
    void leaveIndex(RunParts& chosen, const Plan& plan, const std::shared_ptr<SQLiteDB>& db, std::int64_t generation,
                    bool damaged);
    // Whether the parts are one expression over pages_fts that needs no
    // page check, the whole page searched: the condition of needsVerify()
    // false, and of a run's rows being the total.
    static bool isFullExpression(const SearchQuery& q, const QList<FtsPart>& parts);

    // A stretch [first, last] of page ids.
    using IdStretch = std::pair<std::int64_t, std::int64_t>;
    // Fills `candidates` with the pages that match the full-text parts, in
    // scope, and returns the slices of that list that read in reading order
    // (book display order, sequence, page id) when taken one after the other.
    // Without a page map each hit's book and sequence are read from the database.
    // `rows` receives how many index rows the parts matched, or nothing when
    // a statement stopped before its end.
    // The pages of the books in `done` are left out.
    // With `stretches`, the parts are read over those stretches of page ids
    // alone (with a map only).
    // Nothing, the list left empty, when the parts match more than `cap`
    // rows: the reading stops there.
    std::optional<std::vector<Slice>> collectCandidates(const QList<FtsPart>& parts, const PageMap::Snapshot* map,
                                                        const std::vector<IdStretch>* stretches,
                                                        const std::optional<QSet<std::int64_t>>& scope,
                                                        const QSet<std::int64_t>& done,
                                                        std::vector<Candidate>& candidates,
                                                        std::optional<std::int64_t>& rows,
                                                        std::int64_t cap = std::numeric_limits<std::int64_t>::max());
    bool readMappedRows(const FtsPart& part, Statement& byRowid, const SQLArgs& bounds, const PageMap::Snapshot& map,
                        CandidateSink& sink, QList<std::int64_t>& misses);
    // A scope of a few books whose pages each keep one stretch of the map:
    // those books' stretches, the books in `done` left out, joined where
    // they touch, so that the rows of the other books are never read.
    // Nothing when the parts are better read whole: the scope spans half the
    // library, or its stretches would take more statements than the first
    // books may.
    static std::optional<std::vector<IdStretch>> scopeStretches(const QList<FtsPart>& parts,
                                                                const PageMap::Snapshot& map,
                                                                const QSet<std::int64_t>& scope,
                                                                const QSet<std::int64_t>& done);
    void addUnmapped(const QList<std::int64_t>& misses, CandidateSink& sink);
    bool readJoinedRows(const FtsPart& part, CandidateSink& sink);
    static std::vector<Slice> orderCandidates(std::vector<Candidate>& candidates);
    // Checks the candidates that need it against the plan and hands the
    // passing ones to `emitter` in the order of `slices`, stopping after
    // `limit` hits. False when it stopped before that for a cancel or a
    // page text it could not read: then no page hit may follow.
    bool verifyAndEmit(const Plan& plan, SQLiteDB& db, const std::vector<Candidate>& candidates,
                       const std::vector<Slice>& slices, int limit, BatchEmitter& emitter);

    // The most statements the first books may take before the rest is
    // collected at once.
    static constexpr int firstBooksStatements = 64;
    // The most terms a part may hold for the first books to be searched by
    // ranges: each range statement repeats the lookup of every term.
    static constexpr int firstBooksTerms = 16;
    // Searches the books in display order, a few at a time (twice as many at
    // each step, or fewer when the hits so far foretell the first batch
    // sooner) over their stretches of page ids, checking and handing over
    // each step's hits before the next, so that the first batch need not wait
    // for the whole library. Stops once a batch has been handed over, the
    // limit is reached, the hits so far foretell no first batch before the
    // end, or a page lies where the map does not place it; also once the
    // statement cap cannot be met at the pace of the books so far. `done`
    // receives the books searched to the end. True when the pages of the
    // other books are still to be collected.
    bool searchFirstBooks(const Plan& plan, const QList<FtsPart>& parts, SQLiteDB& db, const PageMap::Snapshot& map,
                          const std::optional<QSet<std::int64_t>>& scope, int limit, BatchEmitter& emitter,
                          QSet<std::int64_t>& done);
    static bool rangesPay(const QList<FtsPart>& parts);
    static bool pagesLeft(const PageMap::Snapshot& map, const std::optional<QSet<std::int64_t>>& scope,
                          const QSet<std::int64_t>& done);
    StepRead readStep(const QList<FtsPart>& parts, const std::vector<Statement*>& statements, const PageMap::Snapshot& map,
                      const BooksStep& step, std::vector<Candidate>& found);
    static std::optional<std::size_t> nextStepSize(const BatchEmitter& emitter, std::int64_t pages,
                                                   std::int64_t pagesDone, std::int64_t booksDone, int ran,
                                                   std::size_t size);
    // True once the run is cancelled or its deadline has passed; a passed
    // deadline cancels the run and is remembered as a time-out.
    bool stopRequested();
    static bool inScope(const std::optional<QSet<std::int64_t>>& scope, std::int64_t book)
    {
        return !scope || scope->contains(book);
    }

    Library& lib;
    std::atomic<bool> cancelled{false};
    const Deadline* deadline = nullptr; // the running run's, on its thread only
    bool expired = false;
    mutable std::mutex connLock;              // guards conn against cancel() on another thread
    std::shared_ptr<SQLiteDB> conn;
    bool connInterrupted = false;             // cancel() interrupted conn; guarded by connLock
    // The run's kept connection and statements, taken from the library's
    // pool when it begins and given back when it ends, so that the next run
    // of any engine finds them: while the library's data is unchanged, a
    // search compiles nothing a search compiled before.
    std::unique_ptr<SearchConnection> kept;
    QStringList tooBroadList;
    std::optional<std::int64_t> lastMatchTotal;
    bool pageChecked = false;
    std::int64_t lastChecked = 0;
    // The run's re-checks of the page index: how many were made, and whether
    // one failed (then every later page it finds is checked).
    int rechecked = 0;
    bool indexMismatch = false;
    Clock clock;
};

} // namespace quorvel
