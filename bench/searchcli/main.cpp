// The search tool as a user runs it: a fixed set of request lines through
// "quorvel --search-cli", which makes a new engine for every repeat, on the
// bundled sample release installed by the product's installer, at its own
// size and scaled up by --scale copies (kept in --keep's folder for the
// next run, under the names bench_search gives them). --corpus builds the
// libraries from another corpus catalogue instead (such as the whole shared
// corpus), without the installer's page index. For each request it prints
// the tool's own total and first-batch times beside a bare FTS5 MATCH of the
// engine's expression on the same database, and whether the two return the
// same page ids.
//
// --vs names another build's quorvel: it searches a copy of each library
// indexed by itself (BaselineStore.h), its runs taking turns with this
// build's, and its median and first-batch times are printed beside, with
// whether its hits are ours in the same order.
//
//   bench_searchcli [--corpus catalog.json] [--scale N] [--repeat N] [--quorvel path]
//                   [--keep folder] [--vs path]

#include "../common/BaselineStore.h"
#include "../common/BenchArgs.h"
#include "../common/CorpusLibrary.h"
#include "../common/SampleStore.h"
#include "core/Json.h"
#include "core/Library.h"
#include "search/SearchCLI.h"
#include "search/SearchEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quorvel;

namespace {

constexpr int kDefaultScale = 10;
constexpr int kDefaultRepeat = 3;
constexpr int kProcessTimeoutMs = 30 * 60 * 1000;

const struct {
    const char* name;
    const char* line;
} kRequests[] = {
    {"common word", R"({"andPhrases":["الله"],"inNotes":false})"},
    {"rare word", R"({"andPhrases":["القزويني"],"inNotes":false})"},
    {"phrase", R"({"andPhrases":["رسول الله"],"inNotes":false})"},
    {"affix word", R"({"andPhrases":["صلاة"],"affix":true,"inNotes":false})"},
    {"wildcard", R"({"andPhrases":["حد*"],"inNotes":false})"},
    {"ordered pair", R"({"andPhrases":["رسول الله","عائشة"],"ordered":true,"inNotes":false})"},
    {"NEAR pair", R"({"andPhrases":["رسول الله","عائشة"],"near":true,"inNotes":false})"},
    {"footnote only", R"({"andPhrases":["الأصل"],"inMatn":false,"inNotes":false})"},
    {"ordered NEAR", R"({"andPhrases":["رسول الله","عائشة"],"near":true,"ordered":true,"inNotes":false})"},
    {"ordered and 3", R"({"andPhrases":["حدثنا","مالك","نافع"],"ordered":true,"inNotes":false})"},
    {"diacritics", R"({"andPhrases":["الله"],"tashkeel":true,"inNotes":false})"},
    {"marked word", R"({"andPhrases":["الْحَمْدُ"],"tashkeel":true,"inNotes":false})"},
    {"marked phrase", R"({"andPhrases":["الْحَمْدُ لِلَّهِ"],"tashkeel":true,"inNotes":false})"},
    {"morph word", R"({"andPhrases":["المسلمون"],"morph":true,"inNotes":false})"},
    {"leading wild", R"({"andPhrases":["*ثنا"],"inNotes":false})"},
    {"main text", R"({"andPhrases":["حدثنا"],"inHawashi":false,"inNotes":false})"},
    {"main common", R"({"andPhrases":["الله"],"inHawashi":false,"inNotes":false})"},
    {"hamza word", R"({"andPhrases":["أبي"],"hamza":true,"inNotes":false})"},
    {"hamza phrase", R"({"andPhrases":["أبي هريرة"],"hamza":true,"inNotes":false})"},
    {"or words", R"({"orPhrases":["عائشة","هريرة"],"inNotes":false})"},
    {"not word", R"({"andPhrases":["حدثنا"],"notPhrases":["مالك"],"inNotes":false})"},
    {"scope", R"({"andPhrases":["الله"],"scope":[1,2,4],"inNotes":false})"},
    {"with titles", R"({"andPhrases":["باب"],"inTitles":true,"inNotes":false})"},
};

constexpr int kRounds = 3; // runs of the tool per build, taking turns with the other build

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One build's runs of every request: the times of every run of all rounds,
// the first batch's time of each round, and the last run's hit list.
struct ToolRuns {
    std::vector<std::vector<double>> ms, firstMs;
    std::vector<std::int64_t> counts;
    std::vector<Json::Value> hits;
};

// One "--search-cli" run of every request, `repeat` times each (a new engine
// for every repeat, as the tool makes one), added to `into`; false when the
// tool failed.
bool runTool(const QString& quorvel, const QString& dbPath, const QString& requestsPath, int repeat, ToolRuns& into)
{
    QProcess tool;
    // Every hit listed, so that the ids can be compared.
    tool.start(quorvel, {QStringLiteral("--search-cli"), QStringLiteral("--db"), dbPath, QStringLiteral("--qfile"),
                         requestsPath, QStringLiteral("--repeat"), QString::number(repeat), QStringLiteral("--ids")});
    if (!tool.waitForFinished(kProcessTimeoutMs) || tool.exitCode() != 0) {
        std::fprintf(stderr, "%s --search-cli failed: %s\n", qPrintable(quorvel), tool.readAllStandardError().constData());
        return false;
    }
    std::size_t i = 0;
    for (const QByteArray& text : tool.readAllStandardOutput().split('\n')) {
        const auto line = Json::parse(text);
        if (!line)
            continue;
        if (into.ms.size() <= i) {
            into.ms.resize(i + 1);
            into.firstMs.resize(i + 1);
            into.counts.resize(i + 1);
            into.hits.resize(i + 1);
        }
        for (const auto& ms : line->at("ms"))
            into.ms[i].push_back(ms.get<double>());
        into.firstMs[i].push_back(line->at("first_ms").get<double>());
        into.counts[i] = line->at("count").get<std::int64_t>();
        into.hits[i] = line->at("hits");
        ++i;
    }
    return i == std::size(kRequests);
}

void benchLibrary(const QString& quorvel, const QString& dbPath, const QString& requestsPath, std::int64_t pages,
                  int scale, int repeat, const std::optional<QString>& baseline)
{
    std::optional<QString> baselinePath;
    if (baseline && !(baselinePath = bench::baselineStore(*baseline, dbPath, dbPath + QStringLiteral("-vs.db"))))
        return;
    ToolRuns ours, theirs;
    for (int round = 0; round < kRounds; ++round) {
        // The builds take turns going first.
        if (baselinePath && round % 2 == 1 && !runTool(*baseline, *baselinePath, requestsPath, repeat, theirs))
            return;
        if (!runTool(quorvel, dbPath, requestsPath, repeat, ours))
            return;
        if (baselinePath && round % 2 == 0 && !runTool(*baseline, *baselinePath, requestsPath, repeat, theirs))
            return;
    }

    // The baseline: a bare MATCH of the engine's expression on the same file.
    std::shared_ptr<Library> lib = Library::open(dbPath);
    auto db = lib ? lib->newSearchConnection() : nullptr;
    if (!db)
        return;
    SearchEngine planner(*lib);

    std::printf("\n%lld pages (x%d), %d runs each; times in ms (median run)\n", (long long)pages, scale,
                repeat * kRounds);
    std::printf("%-14s %8s %10s %10s %10s %9s %6s %7s", "request", "hits", "ours", "first", "fts5", "fts rows",
                "same", "ratio");
    if (baselinePath)
        std::printf(" %10s %10s %6s %7s", "vs", "vs first", "vs =", "ours/vs");
    std::printf("\n");
    for (std::size_t i = 0; i < std::size(kRequests); ++i) {
        QSet<std::int64_t> ourIds;
        for (const auto& hit : ours.hits[i]) {
            if (hit[3] == "p")
                ourIds.insert(hit[0].get<std::int64_t>());
        }

        const auto query = SearchCLI::parseQuery(QString::fromUtf8(kRequests[i].line));
        const auto expression = query ? planner.ftsExpression(*query) : std::nullopt;
        std::vector<double> fts;
        QSet<std::int64_t> ftsIds;
        for (int r = 0; r < repeat && expression; ++r) {
            QElapsedTimer timer;
            timer.start();
            ftsIds.clear();
            for (const auto& row : db->rows(QStringLiteral("SELECT rowid FROM pages_fts WHERE pages_fts MATCH ?"),
                                            {*expression}))
                ftsIds.insert(row.integer(0).value_or(0));
            fts.push_back(timer.nsecsElapsed() / 1e6);
        }
        const double ourMs = median(ours.ms[i]);
        const double ftsMs = median(fts);
        std::printf("%-14s %8lld %10.1f %10.1f %10.1f %9lld %6s %7.1f", kRequests[i].name, (long long)ours.counts[i],
                    ourMs, median(ours.firstMs[i]), ftsMs, (long long)ftsIds.size(), ftsIds == ourIds ? "yes" : "no",
                    ftsMs > 0 ? ourMs / ftsMs : 0.0);
        if (baselinePath) {
            const double theirMs = median(theirs.ms[i]);
            std::printf(" %10.1f %10.1f %6s %7.2f", theirMs, median(theirs.firstMs[i]),
                        theirs.hits[i] == ours.hits[i] ? "yes" : "no", theirMs > 0 ? ourMs / theirMs : 0.0);
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const QString catalogPath = args.text(QStringLiteral("--corpus"), QString());
    QString quorvel = args.text(QStringLiteral("--quorvel"), bench::defaultQuorvelPath());
    const int scale = args.number(QStringLiteral("--scale"), kDefaultScale, 1);
    const int repeat = args.number(QStringLiteral("--repeat"), kDefaultRepeat, 1);
    const QString vs = args.text(QStringLiteral("--vs"), QString());
    const std::optional<QString> baseline = vs.isEmpty() ? std::nullopt : std::optional<QString>(vs);
    if (!QFileInfo(quorvel).isExecutable())
        quorvel = QCoreApplication::applicationDirPath() + QStringLiteral("/quorvel");

    QTemporaryDir dir;
    // The libraries and the tool's user data stay in the sandbox.
    bench::keepInScratch(dir.path());
    const QString folder = args.text(QStringLiteral("--keep"), dir.path());
    QDir().mkpath(folder);
    const QString requestsPath = dir.filePath(QStringLiteral("requests.jsonl"));
    {
        QFile file(requestsPath);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (const auto& request : kRequests)
            file.write(QByteArray(request.line) + '\n');
    }

    for (const int copies : {1, scale}) {
        QString dbPath;
        std::optional<std::int64_t> pages;
        if (catalogPath.isEmpty()) {
            dbPath = QDir(folder).filePath(QStringLiteral("sample-%1x.db").arg(copies));
            if (const auto store = bench::sampleStore(dbPath, copies))
                pages = store->pages;
        } else {
            dbPath = QDir(folder).filePath(QStringLiteral("corpus-x%1.db").arg(copies));
            QFile::remove(dbPath);
            pages = bench::buildCorpusLibrary(catalogPath, copies, dbPath);
        }
        if (!pages) {
            std::fprintf(stderr, "cannot build a library of %d copies\n", copies);
            return 1;
        }
        benchLibrary(quorvel, dbPath, requestsPath, *pages, copies, repeat, baseline);
    }
    return 0;
}
