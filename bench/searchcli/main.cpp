// The search tool as a user runs it: a fixed set of request lines through
// "quorvel --search-cli" on a library built from a corpus catalogue (the
// bundled sample release unless --corpus names another, such as the whole
// shared corpus) and from a copy scaled --scale times. For each request it
// prints the tool's own total and first-batch times beside a bare FTS5 MATCH
// of the engine's expression on the same database, and whether the two
// return the same page ids.
//
//   bench_searchcli [--corpus catalog.json] [--scale N] [--repeat N] [--quorvel path]

#include "../common/BenchArgs.h"
#include "../common/CorpusLibrary.h"
#include "core/Json.h"
#include "core/Library.h"
#include "search/SearchCLI.h"
#include "search/SearchEngine.h"

#include <QCoreApplication>
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
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void benchLibrary(const QString& quorvel, const QString& dbPath, const QString& requestsPath,
                  std::int64_t pages, int scale, int repeat)
{
    // Our side: the tool itself, every hit listed so the ids can be compared.
    QProcess tool;
    tool.start(quorvel, {QStringLiteral("--search-cli"), QStringLiteral("--db"), dbPath, QStringLiteral("--qfile"),
                         requestsPath, QStringLiteral("--repeat"), QString::number(repeat), QStringLiteral("--ids")});
    if (!tool.waitForFinished(kProcessTimeoutMs) || tool.exitCode() != 0) {
        std::fprintf(stderr, "quorvel --search-cli failed: %s\n", tool.readAllStandardError().constData());
        return;
    }
    std::vector<Json::Value> lines;
    for (const QByteArray& line : tool.readAllStandardOutput().split('\n')) {
        if (auto value = Json::parse(line))
            lines.push_back(*value);
    }

    // The baseline: a bare MATCH of the engine's expression on the same file.
    std::shared_ptr<Library> lib = Library::open(dbPath);
    auto db = lib ? lib->newSearchConnection() : nullptr;
    if (!db)
        return;
    SearchEngine planner(*lib);

    std::printf("\n%lld pages (corpus x%d), %d runs each; times in ms (median run)\n", (long long)pages, scale, repeat);
    std::printf("%-14s %8s %10s %10s %10s %9s %6s %7s\n", "request", "hits", "ours", "first", "fts5", "fts rows",
                "same", "ratio");
    for (std::size_t i = 0; i < std::size(kRequests) && i < lines.size(); ++i) {
        const Json::Value& line = lines[i];
        std::vector<double> ours;
        for (const auto& ms : line.at("ms"))
            ours.push_back(ms.get<double>());
        QSet<std::int64_t> ourIds;
        for (const auto& hit : line.at("hits")) {
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
        const double ourMs = median(ours);
        const double ftsMs = median(fts);
        std::printf("%-14s %8lld %10.1f %10.1f %10.1f %9lld %6s %7.1f\n", kRequests[i].name,
                    (long long)line.at("count").get<std::int64_t>(), ourMs, line.at("first_ms").get<double>(), ftsMs,
                    (long long)ftsIds.size(), ftsIds == ourIds ? "yes" : "no", ftsMs > 0 ? ourMs / ftsMs : 0.0);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const QString catalogPath = args.text(QStringLiteral("--corpus"), bench::sampleCatalogPath());
    QString quorvel = args.text(QStringLiteral("--quorvel"), bench::defaultQuorvelPath());
    const int scale = args.number(QStringLiteral("--scale"), kDefaultScale, 1);
    const int repeat = args.number(QStringLiteral("--repeat"), kDefaultRepeat, 1);
    if (!QFileInfo(quorvel).isExecutable())
        quorvel = QCoreApplication::applicationDirPath() + QStringLiteral("/quorvel");

    QTemporaryDir dir;
    const QString requestsPath = dir.filePath(QStringLiteral("requests.jsonl"));
    {
        QFile file(requestsPath);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (const auto& request : kRequests)
            file.write(QByteArray(request.line) + '\n');
    }
    // The tool keeps its user database in the sandbox next to the run's files.
    qputenv("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")).toUtf8());

    for (const int copies : {1, scale}) {
        const QString dbPath = dir.filePath(QStringLiteral("library-x%1.db").arg(copies));
        const auto pages = bench::buildCorpusLibrary(catalogPath, copies, dbPath);
        if (!pages) {
            std::fprintf(stderr, "cannot build a library from %s\n", qPrintable(catalogPath));
            return 1;
        }
        benchLibrary(quorvel, dbPath, requestsPath, *pages, copies, repeat);
    }
    return 0;
}
