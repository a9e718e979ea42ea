// Search run time on the sample release installed by the product's
// installer, at its own size and scaled up by copies of every book under
// spread book ids (up to 100,000), beside the bare FTS5 statement that
// returns the same rows, on a warm connection to the same file:
//   - a query the page index answers (main text or footnotes alone, hamza
//     forms) is timed against the engine's own expression over page_forms;
//   - the prefix query against FTS5's native prefix query ("حد"*) on
//     pages_fts, not against the engine's expansion of it;
//   - every other query against the engine's own MATCH expression on
//     pages_fts (for a wildcard, its expansion).
//
// Two tables per library, ratio last:
//   all hits     SearchEngine::run to its final call ÷ the bare statement
//                stepped through all its rowids;
//   first batch  the time to the run's first batch ÷ the same statement
//                with LIMIT 200 (the run reads the first books in display
//                order first); the bare statement's time to all its rowids
//                is shown beside it.
// The "same" column compares the run's hits with those of the page-checked
// path (SearchEngine::setPageCheckedPath), run once beside the timings.
// The page map's resident memory is measured around its first build, and
// the store's size per page is printed with it.
//
//   bench_search [--copies N] [--repeat N] [--keep folder] [--only name,name]
//
// --keep stores the installed libraries in a folder and reuses them on the
// next run instead of installing again; a kept store made before the page
// index gets it first, as the installer's store does on its first open.
// --only keeps the named queries (as the tables name them), for profiling
// one path.

#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
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
#include <QTemporaryDir>

#include <algorithm>
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
        {"diacritics word", words({"الله"}, {{&SearchQuery::tashkeel}})},
        {"marked word", words({"الْحَمْدُ"}, {{&SearchQuery::tashkeel}})},
        {"affix word", words({"صلاة"}, {{&SearchQuery::affix}})},
        {"morph word", words({"المسلمون"}, {{&SearchQuery::morph}})},
        {"leading wildcard", words({"*ثنا"})},
        {"main text only", words({"حدثنا"}, {{&SearchQuery::inHawashi, false}})},
        {"footnotes only", words({"حدثنا"}, {{&SearchQuery::inMatn, false}})},
        {"hamza phrase", words({"أبي هريرة"}, {{&SearchQuery::hamza}})},
        {"hamza ordered near", words({"أبي", "هريرة"}, {{&SearchQuery::hamza}, {&SearchQuery::ordered}, {&SearchQuery::near}})},
        {"hamza ordered and", words({"أبي", "هريرة"}, {{&SearchQuery::hamza}, {&SearchQuery::ordered}})},
        {"final mark", words({"اللهُ"}, {{&SearchQuery::tashkeel}})},
        {"with titles", words({"باب"}, {{&SearchQuery::inTitles}})},
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

struct Bare {
    QString table = QStringLiteral("pages_fts");
    QString expr;
};

// The bare statement of a case: over page_forms with the engine's own
// expression when the page index answers the query, else over pages_fts.
Bare bareOf(const Case& c, SearchEngine& engine, const std::shared_ptr<SQLiteDB>& db)
{
    if (c.native)
        return {QStringLiteral("pages_fts"), QString::fromUtf8(c.native)};
    const SearchQuery& q = c.query;
    const SearchEngine::Plan plan = SearchEngine::plan(q);
    if (PageIndex::ready(*db) && (q.hamza || !(q.inMatn && q.inHawashi)) && SearchEngine::formsServe(plan)) {
        auto vocab = SearchEngine::Vocab::deferred(db, nullptr);
        vocab->useIndex(true, q.hamza);
        const auto parts = SearchEngine::ftsParts(plan, vocab.get());
        if (parts.size() == 1)
            return {parts.first().table, parts.first().expr};
    }
    return {QStringLiteral("pages_fts"), engine.ftsExpression(q).value_or(QString())};
}

// The bare statement: every rowid of the expression, or the first `limit`.
Timing runBare(SQLiteDB& db, const Bare& bare, int limit = -1)
{
    Timing t;
    QElapsedTimer timer;
    timer.start();
    const QString sql = limit < 0 ? QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ?").arg(bare.table)
                                  : QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ? LIMIT %2").arg(bare.table).arg(limit);
    const QString& expr = bare.expr;
    if (auto st = db.prepare(sql)) {
        st->bind({expr});
        while (st->step())
            ++t.hits;
    }
    t.totalMs = double(timer.nsecsElapsed()) / 1e6;
    return t;
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

void benchLibrary(const bench::InstalledStore& store, const char* label, int repeats, const QStringList& only)
{
    auto lib = Library::open(store.dbPath);
    auto bare = SQLiteDB::open(store.dbPath, true);
    if (!lib || !bare) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(store.dbPath));
        return;
    }
    const long before = residentKilobytes();
    const auto snapshot = PageMap::snapshot(lib->main().path());
    const long after = residentKilobytes();
    const auto range = bare->rows(QStringLiteral("SELECT MIN(id), MAX(id) FROM pages"));
    std::printf("\n== %s: %lld pages, %lld books, page ids %lld … %lld\n", label, (long long)store.pages,
                (long long)store.books,
                (long long)(range.isEmpty() ? 0 : range[0].integer(0).value_or(0)),
                (long long)(range.isEmpty() ? 0 : range[0].integer(1).value_or(0)));
    std::printf("page map: %s, %.1f MB resident, %.1f bytes per page\n",
                snapshot ? "built" : "none (fallback path)", double(after - before) / 1024.0,
                store.pages > 0 ? double(after - before) * 1024.0 / double(store.pages) : 0.0);
    const double storeBytes = double(bare->scalarInt(QStringLiteral("PRAGMA page_count")).value_or(0))
        * double(bare->scalarInt(QStringLiteral("PRAGMA page_size")).value_or(0));
    std::printf("store: %.0f bytes per page, page index %s\n", store.pages > 0 ? storeBytes / double(store.pages) : 0.0,
                PageIndex::ready(*bare) ? "complete" : "missing");

    SearchEngine engine(*lib);
    const QList<Case> all = cases();
    runEngine(engine, all.first().query); // warms the title cache and the connection pages

    struct Row {
        const char* name;
        qsizetype hits, bareRows;
        double run, first, bareAll, bareFirst;
        bool same;
    };
    SearchEngine checked(*lib);
    checked.setPageCheckedPath(true);
    auto pages = [](SearchEngine& e, const SearchQuery& q) {
        QList<SearchHit> out;
        e.run(q, [&](const QList<SearchHit>& hits, bool) { out << hits; });
        return out;
    };
    std::vector<Row> rows;
    for (const Case& c : all) {
        if (!only.isEmpty() && !only.contains(QLatin1String(c.name)))
            continue;
        const Bare expr = bareOf(c, engine, bare);
        std::vector<double> run, first, bareAll, bareFirst;
        Timing lastRun, lastBare;
        for (int i = 0; i < repeats; ++i) {
            lastRun = runEngine(engine, c.query);
            run.push_back(lastRun.totalMs);
            first.push_back(lastRun.firstMs);
            lastBare = runBare(*bare, expr);
            bareAll.push_back(lastBare.totalMs);
            bareFirst.push_back(runBare(*bare, expr, firstBatchRows).totalMs);
        }
        rows.push_back({c.name, lastRun.hits, lastBare.hits, median(run), median(first), median(bareAll),
                        median(bareFirst), pages(engine, c.query) == pages(checked, c.query)});
    }

    std::printf("\nall hits (median of %d)\n", repeats);
    std::printf("%-18s %8s %10s %9s %10s %7s %5s\n", "query", "hits", "run ms", "fts rows", "fts ms", "ratio", "same");
    for (const Row& r : rows)
        std::printf("%-18s %8lld %10.3f %9lld %10.3f %7.2f %5s\n", r.name, (long long)r.hits, r.run,
                    (long long)r.bareRows, r.bareAll, r.bareAll > 0 ? r.run / r.bareAll : 0.0, r.same ? "yes" : "NO");

    std::printf("\nfirst batch (median of %d)\n", repeats);
    std::printf("%-18s %10s %10s %12s %7s\n", "query", "first ms", "fts all ms", "fts 200 ms", "ratio");
    for (const Row& r : rows) {
        if (r.first < 0)
            std::printf("%-18s %10s %10.3f %12.3f %7s\n", r.name, "-", r.bareAll, r.bareFirst, "-");
        else
            std::printf("%-18s %10.3f %10.3f %12.3f %7.2f\n", r.name, r.first, r.bareAll, r.bareFirst,
                        r.bareFirst > 0 ? r.first / r.bareFirst : 0.0);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int copies = args.number(QStringLiteral("--copies"), defaultCopies, 2);
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);

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
    benchLibrary(*single, "sample release, 1x", repeats, only);
    benchLibrary(*scaled, qPrintable(QStringLiteral("sample release, %1x, spread book ids").arg(copies)), repeats, only);
    return 0;
}
