// The tool server over one long-running "quorvel --mcp" pipe on the bundled
// sample release (the Quran included) installed by the product's installer:
// the time to the first "initialize" reply, the median and 95th-percentile
// latency of search_library per request beside the engine's own time for the
// same request in this process (ratio: the two 95th percentiles), the same
// for library_data per answer branch beside DataQA::run in this process (the
// first call, which counts the pages of every book, apart), the term branch
// beside its bare grouped full-text queries, and the
// server's resident memory after 100 and after --calls calls (it must stay
// flat). The engine's own time is a new engine's per request, as the tool
// makes one for each call.
//
// --copies N serves N copies of the sample release (kept in --keep's folder
// for the next run). --vs names another build's quorvel: a second server of
// it serves a copy of the store indexed by that build (BaselineStore.h), its
// requests taking turns with the first's, and its search_library latencies
// are printed beside (a baseline in the same run).
//
//   bench_mcp [--calls N] [--quorvel path] [--copies N] [--keep folder] [--vs path]

#include "../common/BaselineStore.h"
#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
#include "assistant/DataQA.h"
#include "core/Json.h"
#include "core/Library.h"
#include "search/SearchEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

using namespace quorvel;
using Json::Value;

namespace {

constexpr int kDefaultCalls = 10000;
constexpr int kEarlyCalls = 100;
constexpr int kRounds = 40; // latency samples per request
constexpr int kTermRounds = 200; // the term branch beside its bare queries: small differences, more samples
constexpr int kReplyTimeoutMs = 60000;

struct Request {
    const char* name;
    Value arguments;
};

std::vector<Request> requests()
{
    return {
        {"common word", {{"query", "الله"}}},
        {"rare word", {{"query", "القزويني"}}},
        {"phrase", {{"query", "رسول الله"}}},
        {"affix word", {{"query", "صلاة"}, {"affix", true}}},
        {"wildcard", {{"query", "حد*"}}},
        {"pair", {{"query", "رسول الله"}, {"all_of", {"عائشة"}}}},
        {"main text only", {{"query", "حدثنا"}, {"in_footnotes", false}}},
        {"quran word", {{"query", "الرحمن"}, {"book_ids", {100}}}},
    };
}

// The request the tool builds from its arguments, for the in-process baseline.
SearchQuery asQuery(const Value& arguments)
{
    SearchQuery q;
    q.andPhrases = {Json::qstr(arguments.at("query"))};
    for (const auto& extra : arguments.value("all_of", Value::array()))
        q.andPhrases << Json::qstr(extra);
    q.inNotes = false;
    q.inHawashi = arguments.value("in_footnotes", true);
    q.affix = arguments.value("affix", false);
    if (arguments.contains("book_ids"))
        q.scope = QList<std::int64_t>(arguments.at("book_ids").begin(), arguments.at("book_ids").end());
    return q;
}

// One request and its reply line over the pipe.
class Pipe {
public:
    explicit Pipe(QProcess& process) : process_(process) {}

    std::optional<Value> call(const Value& message)
    {
        process_.write(Json::dumpBytes(message) + '\n');
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(kReplyTimeoutMs))
                return std::nullopt;
        }
        return Json::parse(process_.readLine());
    }

    std::optional<Value> tool(int id, const char* name, const Value& arguments)
    {
        return call(Value{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"},
                          {"params", {{"name", name}, {"arguments", arguments}}}});
    }

private:
    QProcess& process_;
};

long residentKilobytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

struct DataQuestion {
    const char* branch;
    const char* question;
    QStringList termExpressions; // the grouped full-text queries of a term question
};

// The ten attached forms of a normalised word, as the term branch matches them.
QString forms(const QString& stem)
{
    QStringList out;
    for (const char* affix : {"", "ال", "و", "وال", "ب", "بال", "ل", "لل", "ف", "فال"})
        out << SearchEngine::quote(QString::fromUtf8(affix) + stem);
    return out.join(QStringLiteral(" OR "));
}

std::vector<DataQuestion> dataQuestions()
{
    return {
        {"statistics", "إحصاءات المكتبة", {}},
        {"one term", "كم مرة وردت كلمة الزكاة حسب القسم", {forms(QStringLiteral("زكاه"))}},
        {"four terms", "قارن «الصلاة» و«الزكاة» و«الصيام» و«الحج» حسب القرن",
         {forms(QStringLiteral("صلاه")), forms(QStringLiteral("زكاه")), forms(QStringLiteral("صيام")),
          forms(QStringLiteral("الحج"))}},
        {"authors", "أكثر المؤلفين كتبا", {}},
        {"book list", "قائمة الكتب", {}},
        {"grouped", "عدد الكتب حسب القرن", {}},
    };
}

// A tool server started on the store, answering "initialize"; nothing when
// it did not start or answer, after a line on stderr. `initializeMs` receives
// the time from its start to that reply.
std::unique_ptr<QProcess> startServer(const QString& quorvel, const QString& dbPath, double& initializeMs)
{
    auto server = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_DB"), dbPath);
    server->setProcessEnvironment(env);
    server->setProcessChannelMode(QProcess::SeparateChannels);
    server->setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer startUp;
    startUp.start();
    server->start(quorvel, {QStringLiteral("--mcp")});
    if (!server->waitForStarted()) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(quorvel));
        return nullptr;
    }
    Pipe pipe(*server);
    const auto hello = pipe.call(Value{{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"},
                                       {"params", {{"protocolVersion", "2025-06-18"}}}});
    initializeMs = startUp.nsecsElapsed() / 1e6;
    if (!hello) {
        std::fprintf(stderr, "no reply to initialize from %s\n", qPrintable(quorvel));
        return nullptr;
    }
    return server;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const QString quorvel = args.text(QStringLiteral("--quorvel"), bench::defaultQuorvelPath());
    const int calls = args.number(QStringLiteral("--calls"), kDefaultCalls, kEarlyCalls);
    const int copies = args.number(QStringLiteral("--copies"), 1, 1);
    const QString baseline = args.text(QStringLiteral("--vs"), QString());

    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    const QString folder = args.text(QStringLiteral("--keep"), dir.path());
    QDir().mkpath(folder);
    const QString dbPath = QDir(folder).filePath(QStringLiteral("mcp-%1x.db").arg(copies));
    if (!bench::sampleStore(dbPath, copies))
        return 1;

    double initializeMs = 0;
    const std::unique_ptr<QProcess> server = startServer(quorvel, dbPath, initializeMs);
    if (!server)
        return 1;
    Pipe pipe(*server);
    std::printf("first initialize reply: %.1f ms after start\n", initializeMs);
    std::unique_ptr<QProcess> other;
    if (!baseline.isEmpty()) {
        double otherMs = 0;
        const auto otherPath =
            bench::baselineStore(baseline, dbPath, QDir(folder).filePath(QStringLiteral("mcp-%1x-vs.db").arg(copies)));
        if (!otherPath || !(other = startServer(baseline, *otherPath, otherMs)))
            return 1;
        std::printf("first initialize reply of %s: %.1f ms after start\n", qPrintable(baseline), otherMs);
    }
    std::printf("\n");

    std::shared_ptr<Library> lib = Library::open(dbPath);
    if (!lib)
        return 1;
    std::printf("%-15s %8s %8s %12s %12s %8s", "search_library", "p50 ms", "p95 ms", "engine p50", "engine p95",
                "ratio");
    if (other)
        std::printf(" %8s %8s", "vs p50", "vs p95");
    std::printf("\n");
    int id = 1;
    std::optional<Pipe> otherPipe;
    if (other)
        otherPipe.emplace(*other);
    for (const Request& request : requests()) {
        std::vector<double> over;
        std::vector<double> overOther;
        std::vector<double> engine;
        for (int round = 0; round < kRounds; ++round) {
            QElapsedTimer timer;
            // The two servers take turns going first.
            auto ask = [&](Pipe& to, std::vector<double>& into) {
                timer.restart();
                to.tool(id++, "search_library", request.arguments);
                into.push_back(timer.nsecsElapsed() / 1e6);
            };
            if (otherPipe && round % 2 == 1)
                ask(*otherPipe, overOther);
            ask(pipe, over);
            if (otherPipe && round % 2 == 0)
                ask(*otherPipe, overOther);

            timer.restart();
            {
                SearchEngine own(*lib);
                own.run(asQuery(request.arguments), 20, [](const QList<SearchHit>&, bool) {});
            }
            engine.push_back(timer.nsecsElapsed() / 1e6);
        }
        const double p95 = percentile(over, 0.95);
        const double engineP95 = percentile(engine, 0.95);
        std::printf("%-15s %8.2f %8.2f %12.2f %12.2f %8.2f", request.name, percentile(over, 0.5), p95,
                    percentile(engine, 0.5), engineP95, engineP95 > 0 ? p95 / engineP95 : 0.0);
        if (otherPipe)
            std::printf(" %8.2f %8.2f", percentile(overOther, 0.5), percentile(overOther, 0.95));
        std::printf("\n");
    }
    if (other) {
        other->closeWriteChannel();
        other->waitForFinished(kReplyTimeoutMs);
    }

    // library_data: the first call of each side counts the pages of every
    // book once; the rounds after it reuse the counts, as a long session does.
    {
        const auto questions = dataQuestions();
        QElapsedTimer timer;
        timer.start();
        pipe.tool(id++, "library_data", Value{{"question", questions.front().question}});
        const double firstOver = timer.nsecsElapsed() / 1e6;
        timer.restart();
        DataQA::run(*lib, QString::fromUtf8(questions.front().question));
        const double firstEngine = timer.nsecsElapsed() / 1e6;
        std::printf("\nlibrary_data first call (page counts): %.2f ms over the pipe, %.2f ms in process\n",
                    firstOver, firstEngine);
        std::printf("%-15s %8s %8s %12s %12s %8s\n", "library_data", "p50 ms", "p95 ms", "DataQA p50", "DataQA p95",
                    "ratio");
        for (const DataQuestion& q : questions) {
            std::vector<double> over;
            std::vector<double> engine;
            const QString question = QString::fromUtf8(q.question);
            for (int round = 0; round < kRounds; ++round) {
                timer.restart();
                pipe.tool(id++, "library_data", Value{{"question", q.question}});
                over.push_back(timer.nsecsElapsed() / 1e6);
                timer.restart();
                const AIAnswer answer = DataQA::run(*lib, question);
                engine.push_back(timer.nsecsElapsed() / 1e6);
                if (answer.tables.isEmpty())
                    std::fprintf(stderr, "%s: no table\n", q.branch);
            }
            const double p95 = percentile(over, 0.95);
            const double engineP95 = percentile(engine, 0.95);
            std::printf("%-15s %8.2f %8.2f %12.2f %12.2f %8.2f\n", q.branch, percentile(over, 0.5), p95,
                        percentile(engine, 0.5), engineP95, engineP95 > 0 ? p95 / engineP95 : 0.0);
        }

        // The term branch beside the same grouped queries on a connection of
        // their own, as the branch opens one.
        std::printf("\n%-15s %12s %12s %8s\n", "term branch", "DataQA p50", "bare FTS p50", "ratio");
        for (const DataQuestion& q : questions) {
            if (q.termExpressions.isEmpty())
                continue;
            std::vector<double> engine;
            std::vector<double> bare;
            const QString question = QString::fromUtf8(q.question);
            const auto answer = [&] {
                timer.restart();
                DataQA::run(*lib, question);
                engine.push_back(timer.nsecsElapsed() / 1e6);
            };
            const auto grouped = [&] {
                timer.restart();
                long long rows = 0;
                {
                    // Opened and closed inside the timing, as the branch does.
                    const auto conn = lib->newSearchConnection();
                    for (const QString& expression : q.termExpressions)
                        rows += conn->rows(QStringLiteral("SELECT book_id, COUNT(*) FROM pages_fts WHERE pages_fts "
                                                          "MATCH ? GROUP BY book_id"),
                                           {expression})
                                    .size();
                }
                bare.push_back(timer.nsecsElapsed() / 1e6);
                if (rows == 0)
                    std::fprintf(stderr, "%s: the bare query found nothing\n", q.branch);
            };
            // Alternating which goes first keeps either from always finding
            // the other's pages in the cache.
            for (int round = 0; round < kTermRounds; ++round) {
                if (round % 2 == 0) {
                    answer();
                    grouped();
                } else {
                    grouped();
                    answer();
                }
            }
            const double e = percentile(engine, 0.5);
            const double b = percentile(bare, 0.5);
            std::printf("%-15s %12.2f %12.2f %8.2f\n", q.branch, e, b, b > 0 ? e / b : 0.0);
        }
    }

    // Memory: the same mix of calls, measured early and after many more.
    const std::vector<Request> mix = requests();
    long early = -1;
    for (int n = 1; n <= calls; ++n) {
        const Request& request = mix[static_cast<std::size_t>(n) % mix.size()];
        if (n % 3 == 0)
            pipe.tool(id++, "read_page", Value{{"book_id", 1}, {"seq", 1 + n % 30}});
        else
            pipe.tool(id++, "search_library", request.arguments);
        if (n == kEarlyCalls)
            early = residentKilobytes(server->processId());
    }
    const long late = residentKilobytes(server->processId());
    std::printf("\nresident memory: %ld KiB after %d calls, %ld KiB after %d calls (%+.1f%%)\n", early, kEarlyCalls,
                late, calls, early > 0 ? 100.0 * double(late - early) / double(early) : 0.0);

    server->closeWriteChannel();
    server->waitForFinished(kReplyTimeoutMs);
    return 0;
}
