// Search run time on the sample release installed by the product's
// installer, at its own size and scaled up by copies of every book under
// spread book ids (up to 100,000), beside the bare statements that return
// the same rows, on a warm connection to the same file. The bare statements
// are the run's own: the parts the engine plans for the query (over
// pages_fts, or over page_forms when the page index answers it), each with
// its phrase-order test when it has one, each rowid read; a part whose pages
// are checked also reads the text the check reads and makes of it the words
// the check compares (a phrase with marks, or main text only, is checked
// that way by its nature). Only the prefix query is
// held against FTS5's native prefix query ("حد"*) instead of the expansion.
//
// A search is timed as a reader's search runs: a new SearchEngine made for
// it, as the windows, the tool server and the reports make one. The same
// search on one engine kept from run to run is shown beside it ("kept").
//
// Two tables per library, ratio last:
//   all hits     a new engine's SearchEngine::run to its final call ÷ the
//                bare statements stepped through all their rows; with
//                titles, the bare work also reads every table-of-contents
//                title, as the title search tests each one.
//   first batch  the time to a new engine's first batch ÷ the bare statements
//                that return the first 200 rows in display order: the same
//                statements over each book's stretch of page ids (rowid
//                BETWEEN), the books taken in display order until 200 rows
//                are read. The time of the statements' first 200 rows in
//                rowid order (LIMIT 200) is shown beside it.
// The "same" column compares the run's hits with those of the kept engine
// and of the page-checked path (SearchEngine::setPageCheckedPath), run once
// beside the timings; that
// run's time is the last column, what a search costs that reads and
// normalises every candidate page. The "ref" column compares every hit, in
// order, with the reference list
// (bench/search/reference.tsv, or --reference FILE): its count and a hash of
// every hit's kind, ids, sequence and snippet. A query the list lacks is
// added to it ("new"); any difference ("NO") makes the benchmark exit with 1.
// The page map's resident memory is measured around its first build, and
// the store's size per page is printed with it.
//
//   bench_search [--copies N] [--repeat N] [--keep folder] [--only name,name]
//                [--reference FILE]
//
// --keep stores the installed libraries in a folder and reuses them on the
// next run instead of installing again; a kept store made before the page
// index gets it first, as the installer's store does on its first open.
// --only keeps the named queries (as the tables name them), for profiling
// one path.

#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"
#include "search/PageMap.h"
#include "search/SearchEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <vector>

using namespace quorvel;

namespace {

constexpr int defaultCopies = 10;
constexpr int defaultRepeats = 15;
constexpr int firstBatchRows = 200;

struct Case {
    const char* name;
    SearchQuery query;
    const char* native = nullptr; // FTS5's own expression of the same rows, when it has one
};

// A flag set away from its default.
struct Flag {
    bool SearchQuery::*member;
    bool value = true;
};

SearchQuery words(const QStringList& ands, std::initializer_list<Flag> flags = {})
{
    SearchQuery q;
    q.andPhrases = ands;
    q.inNotes = false;
    for (const Flag& f : flags)
        q.*f.member = f.value;
    return q;
}

SearchQuery with(SearchQuery q, const std::function<void(SearchQuery&)>& change)
{
    change(q);
    return q;
}

constexpr const char* quranPlain = "quran plain word";
constexpr const char* quranUthmani = "quran uthmani word";
void inQuran(SearchQuery& q)
{
    q.scope = QList<std::int64_t>{100};
}

QList<Case> cases()
{
    const QStringList pair{"رسول الله", "عائشة"};
    return {
        {"common word", words({"الله"})},
        {"phrase", words({"رسول الله"})},
        {"prefix", words({"حد*"}), "\"حد\"*"},
        {"near pair", words(pair, {{&SearchQuery::near}})},
        {"rare word", words({"القزويني"})},
        {"ordered near pair", words(pair, {{&SearchQuery::near}, {&SearchQuery::ordered}})},
        {"ordered and", words({"حدثنا", "مالك"}, {{&SearchQuery::ordered}})},
        {"ordered and of 3", words({"حدثنا", "مالك", "نافع"}, {{&SearchQuery::ordered}})},
        {"diacritics word", words({"الله"}, {{&SearchQuery::tashkeel}})},
        {"marked word", words({"الْحَمْدُ"}, {{&SearchQuery::tashkeel}})},
        {"marked phrase", words({"الْحَمْدُ لِلَّهِ"}, {{&SearchQuery::tashkeel}})},
        {"affix word", words({"صلاة"}, {{&SearchQuery::affix}})},
        {"morph word", words({"المسلمون"}, {{&SearchQuery::morph}})},
        {"leading wildcard", words({"*ثنا"})},
        {"main text only", words({"حدثنا"}, {{&SearchQuery::inHawashi, false}})},
        {"main common word", words({"الله"}, {{&SearchQuery::inHawashi, false}})},
        {"footnotes only", words({"حدثنا"}, {{&SearchQuery::inMatn, false}})},
        {"hamza word", words({"أبي"}, {{&SearchQuery::hamza}})},
        {"hamza phrase", words({"أبي هريرة"}, {{&SearchQuery::hamza}})},
        {"hamza ordered near", words({"أبي", "هريرة"}, {{&SearchQuery::hamza}, {&SearchQuery::ordered}, {&SearchQuery::near}})},
        {"hamza ordered and", words({"أبي", "هريرة"}, {{&SearchQuery::hamza}, {&SearchQuery::ordered}})},
        {"final mark", words({"اللهُ"}, {{&SearchQuery::tashkeel}})},
        {"or words", with(words({}), [](SearchQuery& q) { q.orPhrases = {"عائشة", "هريرة"}; })},
        {"not word", with(words({"حدثنا"}), [](SearchQuery& q) { q.notPhrases = {"مالك"}; })},
        {"scope", with(words({"الله"}), [](SearchQuery& q) { q.scope = QList<std::int64_t>{1, 2, 4}; })},
        {"with titles", words({"باب"}, {{&SearchQuery::inTitles}})},
        // A word of the Quran book typed plain, and as the mushaf spells it.
        {quranPlain, with(words({"السماوات"}), inQuran)},
        {quranUthmani, with(words({"ٱلسَّمَـٰوَٰتِ"}), inQuran)},
    };
}


struct Timing {
    double firstMs = -1; // to the first batch holding hits
    double totalMs = 0;
    qsizetype hits = 0;
};

Timing runEngine(SearchEngine& engine, const SearchQuery& q)
{
    Timing t;
    QElapsedTimer timer;
    timer.start();
    engine.run(q, [&](const QList<SearchHit>& hits, bool) {
        if (t.firstMs < 0 && !hits.isEmpty())
            t.firstMs = double(timer.nsecsElapsed()) / 1e6;
        t.hits += hits.size();
    });
    t.totalMs = double(timer.nsecsElapsed()) / 1e6;
    return t;
}

// The statements of a case: the engine's own parts, as planned for its run.
struct Bare {
    QList<SearchEngine::FtsPart> parts;
    bool titles = false; // the run also tests every table-of-contents title
};

Bare bareOf(const Case& c, const std::shared_ptr<SQLiteDB>& db)
{
    Bare bare;
    bare.titles = c.query.inTitles;
    if (c.native) {
        SearchEngine::FtsPart part;
        part.expr = QString::fromUtf8(c.native);
        bare.parts << part;
        return bare;
    }
    const SearchQuery& q = c.query;
    const SearchEngine::Plan plan = SearchEngine::plan(q);
    auto vocab = SearchEngine::Vocab::deferred(db, nullptr);
    if (PageIndex::ready(*db))
        vocab->useIndex((q.hamza || !(q.inMatn && q.inHawashi)) && SearchEngine::formsServe(plan), q.hamza);
    bare.parts = SearchEngine::ftsParts(plan, vocab.get());
    return bare;
}

volatile qsizetype checkedWordSink = 0; // written, so the words are made

// The text a checked part's page check reads, as the run reads it.
QString checkedText(const SearchQuery& q, const QString& table)
{
    return SearchEngine::checksNormalForm(q)
        ? QStringLiteral("(SELECT content_norm FROM pages_fts WHERE rowid = %1.rowid)").arg(table)
        : QStringLiteral("(SELECT content FROM pages WHERE id = %1.rowid)").arg(table);
}

// The words the page check makes of a stored page before it compares them
// (as SearchEngine::evaluate does), so that a checked kind is held against
// the work its nature needs; the normal form is compared as it stands.
qsizetype checkedWords(const SearchQuery& q, const QString& text)
{
    if (SearchEngine::checksNormalForm(q))
        return text.size();
    const QString section = SearchEngine::sectionText(q, text);
    return q.hamza || q.tashkeel ? Arabic::richWords(section).size() : Arabic::normalize(section, true).size();
}

// One part's rows as the bare statement reads them: the rowid, and the text
// the page check reads when the part is checked, made into the words it
// compares; within [lo, hi] when given.
Statement::Step readPart(SQLiteDB& db, const SearchEngine::FtsPart& part, const SearchQuery& q, qsizetype& rows,
                         std::optional<std::pair<std::int64_t, std::int64_t>> range = std::nullopt,
                         qsizetype enough = -1)
{
    const QString sql = QStringLiteral("SELECT rowid%1 FROM %2 WHERE ")
                            .arg(part.verify ? QStringLiteral(", ") + checkedText(q, part.table) : QString(), part.table)
        + part.matchClause() + (range ? QStringLiteral(" AND rowid BETWEEN ? AND ?") : QString());
    auto st = db.prepare(sql);
    if (!st)
        return Statement::Step::Error;
    SQLArgs args = part.matchArgs();
    if (range)
        args << range->first << range->second;
    st->bind(args);
    Statement::Step step;
    while ((step = st->next()) == Statement::Step::Row) {
        if (part.allows(st->rowid(0)))
            ++rows;
        if (part.verify)
            checkedWordSink = checkedWords(q, st->text(1).value_or(QString()));
        if (enough >= 0 && rows >= enough)
            break;
    }
    return step;
}

// The bare statements: every row of every part (with a scope, over the
// stretches of its books), then every title when the run tests them.
Timing runBare(SQLiteDB& db, const Bare& bare, const SearchQuery& q, const PageMap::Snapshot* map)
{
    Timing t;
    QElapsedTimer timer;
    timer.start();
    for (const SearchEngine::FtsPart& part : bare.parts) {
        if (!q.scope || !map || !map->blocked) {
            readPart(db, part, q, t.hits);
            continue;
        }
        for (const std::int64_t book : *q.scope) {
            const auto block = map->blocks.constFind(book);
            if (block != map->blocks.constEnd())
                readPart(db, part, q, t.hits, std::pair{map->ids[block->first], map->ids[block->last]});
        }
    }
    if (bare.titles)
        if (auto st = db.prepare(QStringLiteral("SELECT book_id, page_seq, title FROM toc")))
            while (st->step())
                st->text(2);
    t.totalMs = double(timer.nsecsElapsed()) / 1e6;
    return t;
}

// The first 200 rows of the parts in rowid order: one statement with LIMIT.
double runBareFirst(SQLiteDB& db, const Bare& bare)
{
    QStringList selects;
    SQLArgs args;
    for (const SearchEngine::FtsPart& part : bare.parts) {
        selects << QStringLiteral("SELECT rowid AS id FROM %1 WHERE ").arg(part.table) + part.matchClause();
        args << part.matchArgs();
    }
    QElapsedTimer timer;
    timer.start();
    if (auto st = db.prepare(QStringLiteral("SELECT id FROM (%1) LIMIT %2")
                                 .arg(selects.join(QStringLiteral(" UNION ALL ")))
                                 .arg(firstBatchRows))) {
        st->bind(args);
        while (st->step())
            st->rowid(0);
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

// The first 200 rows in display order: the same statements over each book's
// stretch of page ids, the books taken in display order (in scope) until
// 200 rows are read. A library whose books do not keep their pages apart
// has no such stretches: nothing.
std::optional<double> runBareDisplay(SQLiteDB& db, const Bare& bare, const SearchQuery& q, const Library& lib,
                                     const PageMap::Snapshot& map)
{
    if (!map.blocked)
        return std::nullopt;
    QElapsedTimer timer;
    timer.start();
    qsizetype rows = 0;
    for (const Book& book : lib.catalog()->books) {
        if (q.scope && !q.scope->contains(book.id))
            continue;
        const auto block = map.blocks.constFind(book.id);
        if (block == map.blocks.constEnd())
            continue;
        for (const SearchEngine::FtsPart& part : bare.parts)
            readPart(db, part, q, rows, std::pair{map.ids[block->first], map.ids[block->last]}, firstBatchRows);
        if (rows >= firstBatchRows)
            break;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Every hit of a run in order, as a count and an FNV-1a hash of each hit's
// kind, page id, book id, sequence and snippet.
struct Fingerprint {
    qsizetype count = 0;
    QString hash;
    bool operator==(const Fingerprint&) const = default;
};

Fingerprint fingerprint(const QList<SearchHit>& hits)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    auto feed = [&h](const QByteArray& bytes) {
        for (const char c : bytes) {
            h ^= std::uint8_t(c);
            h *= 0x100000001b3ULL;
        }
    };
    for (const SearchHit& hit : hits)
        feed(QStringLiteral("%1 %2 %3 %4 %5\n")
                 .arg(int(hit.kind))
                 .arg(hit.pageId)
                 .arg(hit.bookId)
                 .arg(hit.seq)
                 .arg(hit.snippet ? QStringLiteral("=") + *hit.snippet : QStringLiteral("-"))
                 .toUtf8());
    return {hits.size(), QString::number(h, 16)};
}

// The reference list: "library<TAB>query<TAB>count<TAB>hash" lines.
class Reference {
public:
    explicit Reference(QString path) : path(std::move(path))
    {
        QFile file(this->path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() == 4)
                known.insert(QString::fromUtf8(f[0] + '\t' + f[1]), {f[2].toLongLong(), QString::fromUtf8(f[3])});
        }
    }
    // "yes", "NO", or "new" for a query the list lacked (now added).
    const char* check(const QString& library, const char* query, const Fingerprint& found)
    {
        const QString key = library + u'\t' + QString::fromUtf8(query);
        const auto it = known.constFind(key);
        if (it == known.constEnd()) {
            known.insert(key, found);
            added = true;
            return "new";
        }
        if (*it == found)
            return "yes";
        failed = true;
        return "NO";
    }
    bool failedAny() const { return failed; }
    void save() const
    {
        if (!added)
            return;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        for (auto it = known.constBegin(); it != known.constEnd(); ++it)
            file.write(QStringLiteral("%1\t%2\t%3\n").arg(it.key()).arg(it->count).arg(it->hash).toUtf8());
    }

private:
    QString path;
    QMap<QString, Fingerprint> known;
    bool added = false;
    bool failed = false;
};

struct Row {
    const char* name;
    qsizetype hits, bareRows;
    double run, first;         // a new engine per search
    double keptRun, keptFirst; // one engine kept from run to run
    double bareAll, bareFirst, bareDisplay;
    double checked; // the page-checked path's one run
    bool same;
    const char* ref;
};

void printRows(const std::vector<Row>& rows, int repeats)
{
    std::printf("\nall hits (median of %d)\n", repeats);
    std::printf("%-18s %8s %10s %9s %9s %10s %7s %5s %4s %11s\n", "query", "hits", "run ms", "kept ms", "fts rows",
                "fts ms", "ratio", "same", "ref", "checked ms");
    for (const Row& r : rows)
        std::printf("%-18s %8lld %10.3f %9.3f %9lld %10.3f %7.2f %5s %4s %11.3f\n", r.name, (long long)r.hits, r.run,
                    r.keptRun, (long long)r.bareRows, r.bareAll, r.bareAll > 0 ? r.run / r.bareAll : 0.0,
                    r.same ? "yes" : "NO", r.ref, r.checked);

    std::printf("\nfirst batch (median of %d)\n", repeats);
    std::printf("%-18s %10s %10s %12s %14s %7s\n", "query", "first ms", "kept ms", "fts 200 ms", "display 200 ms",
                "ratio");
    for (const Row& r : rows) {
        if (r.first < 0)
            std::printf("%-18s %10s %10s %12.3f %14.3f %7s\n", r.name, "-", "-", r.bareFirst, r.bareDisplay, "-");
        else
            std::printf("%-18s %10.3f %10.3f %12.3f %14.3f %7.2f\n", r.name, r.first, r.keptFirst, r.bareFirst,
                        r.bareDisplay, r.bareDisplay > 0 ? r.first / r.bareDisplay : 0.0);
    }
}

// The two spellings of one Quran word find the same pages, at about the same
// cost: their rows compared.
void compareQuranSpellings(const std::vector<Row>& rows, const QList<SearchHit>& plain, const QList<SearchHit>& uthmani)
{
    const auto row = [&](const char* name) {
        return std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return std::strcmp(r.name, name) == 0; });
    };
    const auto a = row(quranPlain);
    const auto b = row(quranUthmani);
    if (a == rows.end() || b == rows.end())
        return;
    std::printf("\nquran word typed plain beside its uthmani spelling: %lld and %lld hits, same pages %s, "
                "time ratio %.2f\n",
                (long long)a->hits, (long long)b->hits, plain == uthmani ? "yes" : "NO",
                b->run > 0 ? a->run / b->run : 0.0);
}

void describeStore(const bench::InstalledStore& store, const char* label, Library& lib, SQLiteDB& bare)
{
    const long before = residentKilobytes();
    const auto snapshot = PageMap::snapshot(lib.main().path());
    const long after = residentKilobytes();
    const auto range = bare.rows(QStringLiteral("SELECT MIN(id), MAX(id) FROM pages"));
    std::printf("\n== %s: %lld pages, %lld books, page ids %lld … %lld\n", label, (long long)store.pages,
                (long long)store.books,
                (long long)(range.isEmpty() ? 0 : range[0].integer(0).value_or(0)),
                (long long)(range.isEmpty() ? 0 : range[0].integer(1).value_or(0)));
    std::printf("page map: %s, %.1f MB resident, %.1f bytes per page\n",
                snapshot ? "built" : "none (fallback path)", double(after - before) / 1024.0,
                store.pages > 0 ? double(after - before) * 1024.0 / double(store.pages) : 0.0);
    const double storeBytes = double(bare.scalarInt(QStringLiteral("PRAGMA page_count")).value_or(0))
        * double(bare.scalarInt(QStringLiteral("PRAGMA page_size")).value_or(0));
    std::printf("store: %.0f bytes per page, page index %s\n", store.pages > 0 ? storeBytes / double(store.pages) : 0.0,
                PageIndex::ready(bare) ? "complete" : "missing");
}

void benchLibrary(const bench::InstalledStore& store, const char* label, const QString& key, int repeats,
                  const QStringList& only, Reference& reference)
{
    auto lib = Library::open(store.dbPath);
    auto bare = SQLiteDB::open(store.dbPath, true);
    if (!lib || !bare) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(store.dbPath));
        return;
    }
    describeStore(store, label, *lib, *bare);
    bare->addFtsRowTest(SearchEngine::orderTest, &SearchEngine::phrasesInOrder);

    const auto map = PageMap::snapshot(lib->main().path());
    SearchEngine engine(*lib); // the kept engine
    const QList<Case> all = cases();
    runEngine(engine, all.first().query); // warms the title cache and the connection pages

    SearchEngine checked(*lib);
    checked.setPageCheckedPath(true);
    auto hitsOf = [](SearchEngine& e, const SearchQuery& q) {
        QList<SearchHit> out;
        e.run(q, [&](const QList<SearchHit>& hits, bool) { out << hits; });
        return out;
    };
    std::vector<Row> rows;
    for (const Case& c : all) {
        if (!only.isEmpty() && !only.contains(QLatin1String(c.name)))
            continue;
        const Bare statements = bareOf(c, bare);
        std::vector<double> run, first, keptRun, keptFirst, bareAll, bareFirst, bareDisplay;
        Timing lastRun, lastBare;
        for (int i = 0; i < repeats; ++i) {
            // Whichever goes later finds the caches warmed by the earlier on
            // the same rows: the three take turns going first.
            auto timeNewEngine = [&] {
                // Made and ended inside the timing, as a window's search makes one.
                QElapsedTimer made;
                made.start();
                Timing t;
                {
                    SearchEngine fresh(*lib);
                    t = runEngine(fresh, c.query);
                }
                t.totalMs = double(made.nsecsElapsed()) / 1e6;
                lastRun = t;
                run.push_back(t.totalMs);
                first.push_back(t.firstMs);
            };
            auto timeKeptEngine = [&] {
                const Timing t = runEngine(engine, c.query);
                keptRun.push_back(t.totalMs);
                keptFirst.push_back(t.firstMs);
            };
            auto timeBare = [&] {
                lastBare = runBare(*bare, statements, c.query, map.get());
                bareAll.push_back(lastBare.totalMs);
            };
            const std::function<void()> turns[3] = {timeNewEngine, timeKeptEngine, timeBare};
            for (int k = 0; k < 3; ++k)
                turns[(i + k) % 3]();
            bareFirst.push_back(runBareFirst(*bare, statements));
            if (map)
                bareDisplay.push_back(runBareDisplay(*bare, statements, c.query, *lib, *map).value_or(0));
        }
        SearchEngine fresh(*lib);
        const QList<SearchHit> hits = hitsOf(fresh, c.query);
        const bool keptSame = hitsOf(engine, c.query) == hits;
        QElapsedTimer checkedTimer;
        checkedTimer.start();
        const QList<SearchHit> checkedHits = hitsOf(checked, c.query);
        const double checkedMs = double(checkedTimer.nsecsElapsed()) / 1e6;
        rows.push_back({c.name, lastRun.hits, lastBare.hits, median(run), median(first), median(keptRun),
                        median(keptFirst), median(bareAll), median(bareFirst), median(bareDisplay), checkedMs,
                        hits == checkedHits && keptSame,
                        reference.check(key, c.name, fingerprint(hits))});
    }
    printRows(rows, repeats);
    const auto queryOf = [&](const char* name) {
        return std::find_if(all.begin(), all.end(), [&](const Case& c) { return std::strcmp(c.name, name) == 0; })->query;
    };
    compareQuranSpellings(rows, hitsOf(engine, queryOf(quranPlain)), hitsOf(engine, queryOf(quranUthmani)));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int copies = args.number(QStringLiteral("--copies"), defaultCopies, 2);
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);
    Reference reference(args.text(QStringLiteral("--reference"),
                                  QStringLiteral(QUORVEL_SOURCE_DIR "/bench/search/reference.tsv")));

    // Everything the library touches stays in a scratch folder.
    QTemporaryDir scratch;
    bench::keepInScratch(scratch.path());
    const QString folder = args.text(QStringLiteral("--keep"), scratch.path());
    const QStringList only = args.text(QStringLiteral("--only"), QString()).split(u',', Qt::SkipEmptyParts);
    QDir().mkpath(folder);

    const auto single = bench::sampleStore(QDir(folder).filePath(QStringLiteral("sample-1x.db")), 1);
    const auto scaled = bench::sampleStore(QDir(folder).filePath(QStringLiteral("sample-%1x.db").arg(copies)), copies);
    if (!single || !scaled)
        return 1;
    for (const bench::InstalledStore* store : {&*single, &*scaled}) {
        QElapsedTimer timer;
        timer.start();
        auto local = LocalStore::open(store->dbPath);
        if (local && local->buildPageIndex() == PageIndex::Build::complete && timer.elapsed() > 1000)
            std::printf("page index of %s built in %.1f s\n", qPrintable(store->dbPath), double(timer.elapsed()) / 1000);
    }
    benchLibrary(*single, "sample release, 1x", QStringLiteral("1x"), repeats, only, reference);
    benchLibrary(*scaled, qPrintable(QStringLiteral("sample release, %1x, spread book ids").arg(copies)),
                 QStringLiteral("%1x").arg(copies), repeats, only, reference);
    reference.save();
    if (reference.failedAny()) {
        std::fprintf(stderr, "bench_search: hits differ from the reference list\n");
        return 1;
    }
    return 0;
}
