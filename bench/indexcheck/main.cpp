// What the page index's check costs the searches of an undamaged library,
// against the run time of each kind of search on the same store in the same
// run. The check runs once per process and data generation, before the first
// search over the index; later searches pay nothing for it. It reads the
// index's tables whole (the sum of the term counts and the marked-word rows,
// against the totals kept beside them) only when their rows were changed
// outside the installer since they were last found whole; otherwise it reads
// the one row that marks them so. Then it re-reads its sample of pages, as it
// did before the totals were kept.
//
// Columns per search kind: its run time to the final call (median, warm),
// and as shares of it the whole-table read, the mark's read and the check
// as a first search runs it (with its sample).
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
    // The statements the check reads: the tables whole, once after their
    // rows were changed outside the installer, else the mark that they were
    // found whole.
    const auto totals = [&] {
        db->rows(QStringLiteral("SELECT (SELECT IFNULL(SUM(pages), 0) FROM page_terms), (SELECT COUNT(*) FROM page_marks)"));
    };
    const auto marked = [&] { db->rows(QStringLiteral("SELECT value FROM meta WHERE key='page_index_checked'")); };
    bool agrees = true;
    const auto check = [&] { agrees = PageIndex::sampleAgrees(*db) && agrees; };
    std::vector<std::function<void()>> work{totals, marked, check};
    const QList<Kind> all = kinds();
    for (const Kind& k : all)
        work.push_back([&run, &k] { run(k.query); });
    const std::vector<double> ms = bench::medians(repeats, work);
    std::printf("\n== %s: %lld pages, %lld books; check %s\n", label, (long long)store.pages, (long long)store.books,
                agrees ? "agrees" : "DISAGREES");
    std::printf("tables read whole %.3f ms, their mark %.4f ms, the check with its sample %.3f ms\n", ms[0], ms[1],
                ms[2]);
    std::printf("%-18s %10s %10s %8s %9s\n", "search kind", "run ms", "whole %", "mark %", "check %");
    for (qsizetype i = 0; i < all.size(); ++i) {
        const double r = ms[std::size_t(i) + 3];
        const auto share = [r](double part) { return r > 0 ? 100 * part / r : 0.0; };
        std::printf("%-18s %10.3f %9.1f%% %7.2f%% %8.1f%%\n", all[i].name, r, share(ms[0]), share(ms[1]), share(ms[2]));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int copies = args.number(QStringLiteral("--copies"), 10, 2);
    const int repeats = args.number(QStringLiteral("--repeat"), 9, 1);
    QTemporaryDir scratch;
    qputenv("HOME", scratch.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", scratch.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", scratch.filePath("data").toUtf8());
    qputenv("QUORVEL_USERDB", scratch.filePath("user.db").toUtf8());
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
