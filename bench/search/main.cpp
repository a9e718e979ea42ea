// Search run time: SearchEngine::run (planning with vocabulary expansion,
// candidate collection, page map, ordering, exact checks, batching) beside a
// plain FTS5 MATCH of the same words over the same database, for a set of
// query kinds. The library is built from the tests/data corpus, or from the
// corpus catalogue given with --corpus, repeated --scale times.
//
//   bench_search [--corpus catalog.json] [--scale N] [--repeat N]

#include "../common/CorpusLibrary.h"
#include "core/Json.h"
#include "core/Library.h"
#include "search/SearchEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quorvel;

namespace {

constexpr int defaultScale = 40;
constexpr int defaultRepeats = 5;

struct Case {
    const char* name;
    SearchQuery query;
    QString baseline; // a plain FTS5 expression of the same words
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
    const QString nearBaseline = "NEAR(\"رسول\" + \"الله\" \"عائشه\", 12)";
    return {
        {"common word", words({"الله"}), "\"الله\""},
        {"phrase", words({"رسول الله"}), "\"رسول\" + \"الله\""},
        {"near pair", words(pair, {{&SearchQuery::near}}), nearBaseline},
        {"ordered near pair", words(pair, {{&SearchQuery::near}, {&SearchQuery::ordered}}), nearBaseline},
        {"affix word", words({"صلاة"}, {{&SearchQuery::affix}}), "\"صلاه\""},
        {"morph word", words({"المسلمون"}, {{&SearchQuery::morph}}), "\"مسلم\"*"},
        {"trailing wildcard", words({"حد*"}), "\"حد\"*"},
        {"leading wildcard", words({"*ثنا"}), "\"حدثنا\""},
        {"main text only", words({"حدثنا"}, {{&SearchQuery::inHawashi, false}}), "\"حدثنا\""},
        {"hamza phrase", words({"أبي هريرة"}, {{&SearchQuery::hamza}}), "\"ابي\" + \"هريره\""},
        {"with titles", words({"باب"}, {{&SearchQuery::inTitles}}), "\"باب\""},
    };
}

struct Timing {
    double firstMs = 0;
    double totalMs = 0;
    qsizetype hits = 0;
};

Timing runEngine(SearchEngine& engine, const SearchQuery& q)
{
    Timing t;
    QElapsedTimer timer;
    timer.start();
    bool first = true;
    engine.run(q, [&](const QList<SearchHit>& hits, bool) {
        if (first && !hits.isEmpty()) {
            t.firstMs = double(timer.nsecsElapsed()) / 1e6;
            first = false;
        }
        t.hits += hits.size();
    });
    t.totalMs = double(timer.nsecsElapsed()) / 1e6;
    return t;
}

Timing runBaseline(SQLiteDB& db, const QString& expr)
{
    Timing t;
    QElapsedTimer timer;
    timer.start();
    if (auto st = db.prepare("SELECT rowid FROM pages_fts WHERE pages_fts MATCH ?")) {
        st->bind({expr});
        while (st->step())
            ++t.hits;
    }
    t.totalMs = double(timer.nsecsElapsed()) / 1e6;
    return t;
}

template <typename F>
Timing median(int repeats, F&& work)
{
    std::vector<Timing> all;
    for (int i = 0; i < repeats; ++i)
        all.push_back(work());
    std::sort(all.begin(), all.end(), [](const Timing& a, const Timing& b) { return a.totalMs < b.totalMs; });
    return all[all.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString catalogPath = QStringLiteral(QUORVEL_SOURCE_DIR) + "/tests/data/catalog.json";
    int scale = defaultScale;
    int repeats = defaultRepeats;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (args[i] == "--corpus") {
            catalogPath = QFileInfo(value).isDir() ? value + "/catalog.json" : value;
            ++i;
        } else if (args[i] == "--scale") {
            scale = std::max(1, value.toInt());
            ++i;
        } else if (args[i] == "--repeat") {
            repeats = std::max(1, value.toInt());
            ++i;
        } else {
            std::fprintf(stderr, "usage: bench_search [--corpus catalog.json] [--scale N] [--repeat N]\n");
            return 2;
        }
    }

    // Everything the library touches stays in a scratch folder.
    QTemporaryDir dir;
    qputenv("HOME", dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    qputenv("QUORVEL_USERDB", dir.filePath("user.db").toUtf8());

    const QString dbPath = dir.filePath("library.db");
    QElapsedTimer buildTimer;
    buildTimer.start();
    const auto built = bench::buildCorpusLibrary(catalogPath, scale, dbPath);
    if (!built) {
        std::fprintf(stderr, "cannot build a library from %s\n", qPrintable(catalogPath));
        return 1;
    }
    const std::int64_t pages = *built;
    auto lib = Library::open(dbPath);
    auto baselineDb = lib ? lib->newSearchConnection() : nullptr;
    if (!lib || !baselineDb) {
        std::fprintf(stderr, "cannot open the built library\n");
        return 1;
    }
    std::printf("library: %lld pages (%d copies of %s), built in %.0f ms; median of %d runs\n",
                (long long)pages, scale, qPrintable(QFileInfo(catalogPath).fileName()),
                double(buildTimer.elapsed()), repeats);

    SearchEngine engine(*lib);
    const QList<Case> all = cases();
    // The first run builds the page map and reads the tables of contents.
    const Timing cold = runEngine(engine, all.first().query);
    std::printf("cold first run (page map, vocabulary table): %.2f ms, %lld hits\n\n", cold.totalMs,
                (long long)cold.hits);

    std::printf("%-20s %8s %10s %10s %9s %10s %7s\n", "query", "hits", "first ms", "run ms", "fts rows",
                "fts ms", "ratio");
    for (const Case& c : all) {
        const Timing run = median(repeats, [&] { return runEngine(engine, c.query); });
        const Timing plain = median(repeats, [&] { return runBaseline(*baselineDb, c.baseline); });
        std::printf("%-20s %8lld %10.2f %10.2f %9lld %10.2f %7.1f\n", c.name, (long long)run.hits, run.firstMs,
                    run.totalMs, (long long)plain.hits, plain.totalMs,
                    plain.totalMs > 0 ? run.totalMs / plain.totalMs : 0.0);
    }
    return 0;
}
