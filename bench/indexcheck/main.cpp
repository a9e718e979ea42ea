// What the page index's check costs the searches of an undamaged library,
// against the run time of each kind of search on the same store in the same
// run. Once found whole (its tables read whole against the totals kept
// beside them, a sample of its pages re-read, and the forms' segments
// checked by the full-text table itself), the index is marked so in the
// store with the schema version and the count of changes as they were; any
// change to the index's rows, the full-text tables or the pages counts up.
// Every search, the first of a process too, compares the mark with them in
// the one statement that also reads whether the index is complete, which it
// read before the check existed. So an unchanged index costs each search the
// mark's part of that statement; the whole check is paid once after each
// change of the store.
//
// Columns per search kind: its run time to the final call (median, warm),
// and as shares of it: the mark (the state statement less the bare read of
// the state it replaced), the mark as it was read while only triggers on
// some changes dropped it (a bare flag), and the whole check with its sample
// and the segments' check, paid by the first search after a change.
// Target: the mark at most 5% of every kind's run at 1x and 10x.
//
//   bench_indexcheck [--copies N] [--repeat N] [--keep folder]

#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/SampleStore.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"
#include "search/SearchEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace quorvel;

namespace {

struct Kind {
    const char* name;
    SearchQuery query;
};

SearchQuery words(const QStringList& ands, const std::function<void(SearchQuery&)>& adjust = {})
{
    SearchQuery q;
    q.andPhrases = ands;
    q.inNotes = false;
    if (adjust)
        adjust(q);
    return q;
}

QList<Kind> kinds()
{
    return {
        {"common word", words({"الله"})},
        {"rare word", words({"القزويني"})},
        {"phrase", words({"رسول الله"})},
        {"prefix", words({"حد*"})},
        {"near pair", words({"رسول الله", "عائشة"}, [](SearchQuery& q) { q.near = true; })},
        {"marked word", words({"الْحَمْدُ"}, [](SearchQuery& q) { q.tashkeel = true; })},
        {"hamza phrase", words({"أبي هريرة"}, [](SearchQuery& q) { q.hamza = true; })},
        {"main text only", words({"حدثنا"}, [](SearchQuery& q) { q.inHawashi = false; })},
        {"affix word", words({"صلاة"}, [](SearchQuery& q) { q.affix = true; })},
        {"leading wildcard", words({"*ثنا"})},
    };
}

void benchStore(const bench::InstalledStore& store, const char* label, int repeats)
{
    auto lib = Library::open(store.dbPath);
    auto db = SQLiteDB::open(store.dbPath, true);
    if (!lib || !db || !PageIndex::ready(*db)) {
        std::fprintf(stderr, "cannot open %s with a complete page index\n", qPrintable(store.dbPath));
        return;
    }
    SearchEngine engine(*lib);
    const auto run = [&](const SearchQuery& q) { engine.run(q, [](const QList<SearchHit>&, bool) {}); };
    // What searches read before the check existed, what they read now, and
    // the whole check as the first search after a change makes it.
    const auto bare = [&] {
        if (auto st = db->prepare(QStringLiteral("SELECT value FROM meta WHERE key='page_index'")))
            st->step();
    };
    const auto state = [&] { PageIndex::state(*db); };
    const auto flag = [&] {
        if (auto st = db->prepare(QStringLiteral("SELECT (SELECT value FROM meta WHERE key='page_index'), "
                                                 "EXISTS(SELECT 1 FROM meta WHERE key='page_index_checked')")))
            st->step();
    };
    auto writer = SQLiteDB::open(store.dbPath, false);
    bool agrees = writer != nullptr;
    const auto check = [&] {
        if (writer)
            writer->run(QStringLiteral("DELETE FROM meta WHERE key='page_index_checked'"));
        agrees = PageIndex::sampleAgrees(*db) && agrees;
    };
    // Timed on its own: each run changes the store, whose next statement
    // on any connection then reads it afresh.
    const double checkMs = bench::medians(repeats, {check})[0];
    std::vector<std::function<void()>> work{bare, state, flag};
    const QList<Kind> all = kinds();
    for (const Kind& k : all)
        work.push_back([&run, &k] { run(k.query); });
    const std::vector<double> ms = bench::medians(repeats, work);
    std::printf("\n== %s: %lld pages, %lld books; check %s\n", label, (long long)store.pages, (long long)store.books,
                agrees ? "agrees" : "DISAGREES");
    // Below the timer's noise the difference may come out negative.
    const double mark = std::max(ms[1] - ms[0], 0.0);
    const double flagMark = std::max(ms[2] - ms[0], 0.0);
    std::printf("state read before %.4f ms, with the mark %.4f ms (the mark %+.4f ms; as a bare flag %+.4f ms); "
                "whole check %.3f ms; marked after: %s\n",
                ms[0], ms[1], ms[1] - ms[0], ms[2] - ms[0], checkMs, PageIndex::state(*db).whole ? "yes" : "NO");
    std::printf("%-18s %10s %8s %8s %9s\n", "search kind", "run ms", "mark %", "flag %", "check %");
    double worst = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const double r = ms[std::size_t(i) + 3];
        const auto share = [r](double part) { return r > 0 ? 100 * part / r : 0.0; };
        worst = std::max(worst, share(mark));
        std::printf("%-18s %10.3f %7.2f%% %7.2f%% %8.1f%%\n", all[i].name, r, share(mark), share(flagMark),
                    share(checkMs));
    }
    std::printf("the mark at most %.2f%% of a search (target at most 5%%)\n", worst);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int copies = args.number(QStringLiteral("--copies"), 10, 2);
    const int repeats = args.number(QStringLiteral("--repeat"), 9, 1);
    QTemporaryDir scratch;
    bench::keepInScratch(scratch.path());
    const QString folder = args.text(QStringLiteral("--keep"), scratch.path());
    QDir().mkpath(folder);
    const auto single = bench::sampleStore(QDir(folder).filePath(QStringLiteral("sample-1x.db")), 1);
    const auto scaled = bench::sampleStore(QDir(folder).filePath(QStringLiteral("sample-%1x.db").arg(copies)), copies);
    if (!single || !scaled)
        return 1;
    for (const bench::InstalledStore* store : {&*single, &*scaled}) {
        auto local = LocalStore::open(store->dbPath);
        if (!local || local->buildPageIndex() != PageIndex::Build::complete)
            return 1;
    }
    benchStore(*single, "sample release, 1x", repeats);
    benchStore(*scaled, qPrintable(QStringLiteral("sample release, %1x").arg(copies)), repeats);
    return 0;
}
