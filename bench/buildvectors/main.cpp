// Building the page vectors of the meaning-based search: the built
// executable's "--build-vectors" as a child process over the sample library
// at ×1, ×4 and ×16 copies, its pages per second and its peak anonymous
// memory (RssAnon sampled from /proc; the mapped database and vector files
// are file-backed and do not count), beside a loop in this process that reads
// and embeds the same pages with the same model without writing anything.
//
//   bench_buildvectors [--quorvel PATH] [--model DIR] [--store DIR] [--copies 1,4,16]
//
// The model is the sample word model the build trains (<build>/sample-wordmodel);
// --store keeps the scaled libraries between runs.
#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
#include "core/SQLiteDB.h"
#include "scholar/SmartBuild.h"
#include "search/SemanticIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace quorvel;

namespace {

constexpr int sampleIntervalMs = 5;

// The RssAnon of a process in kB; -1 when it cannot be read.
long rssAnonKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').first().toLong();
    return -1;
}

struct ChildRun {
    bool ok = false;
    double seconds = 0;
    long peakKb = 0;
    QString out;
};

ChildRun buildAsChild(const QString& quorvel, const QString& libdb, const QString& smartDir)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_LIBDB"), libdb);
    env.insert(QStringLiteral("QUORVEL_SMARTDIR"), smartDir);
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(quorvel, {QStringLiteral("--build-vectors")});
    ChildRun run;
    if (!process.waitForStarted())
        return run;
    const qint64 pid = process.processId();
    while (!process.waitForFinished(sampleIntervalMs))
        run.peakKb = std::max(run.peakKb, rssAnonKb(pid));
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.out = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()).trimmed();
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

// The same pages read and embedded in this process, nothing written; seconds.
double embedLoop(const QString& libdb, const SemanticIndex& index, std::int64_t& pages)
{
    QElapsedTimer timer;
    timer.start();
    auto db = SQLiteDB::open(libdb, true);
    auto rows = db->prepare(QStringLiteral("SELECT id, content FROM pages ORDER BY id"));
    double sink = 0;
    pages = 0;
    while (rows && rows->step()) {
        const auto v = index.embed(SmartBuild::embeddedText(rows->text(1).value_or(QString())));
        sink += v ? (*v)[0] : 0.0;
        ++pages;
    }
    if (sink == 12345.678)
        std::printf(" ");
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const QString quorvel = args.text(QStringLiteral("--quorvel"), bench::defaultQuorvelPath());
    const QString model = args.text(QStringLiteral("--model"),
                                    QFileInfo(quorvel).dir().filePath(QStringLiteral("sample-wordmodel")));
    QTemporaryDir scratch;
    const QString storeRoot = args.text(QStringLiteral("--store"), scratch.path());
    QList<int> copies;
    for (const QString& n : args.text(QStringLiteral("--copies"), QStringLiteral("1,4,16")).split(u','))
        if (n.toInt() > 0)
            copies << n.toInt();
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());

    std::printf("%-6s %9s %10s %10s %14s %10s %10s %8s\n", "copies", "pages", "build s", "pages/s", "peak anon MB",
                "loop s", "loop p/s", "ratio");
    for (int n : copies) {
        const QString dir = QDir(storeRoot).filePath(QStringLiteral("x%1").arg(n));
        QDir().mkpath(dir);
        const auto store = bench::sampleStore(QDir(dir).filePath(QStringLiteral("library.db")), n);
        if (!store)
            return 1;
        const QString smartDir = QDir(dir).filePath(QStringLiteral("smart"));
        QDir(smartDir).removeRecursively();
        QDir().mkpath(smartDir);
        for (const QString& name : {SmartBuild::wordvecFile, SmartBuild::vocabFile}) {
            if (!QFile::copy(QDir(model).filePath(name), QDir(smartDir).filePath(name))) {
                std::fprintf(stderr, "bench_buildvectors: no %s in %s\n", name.toUtf8().constData(),
                             model.toUtf8().constData());
                return 1;
            }
        }
        const ChildRun built = buildAsChild(quorvel, store->dbPath, smartDir);
        if (!built.ok) {
            std::fprintf(stderr, "bench_buildvectors: %s\n", built.out.toUtf8().constData());
            return 1;
        }
        const auto index = SemanticIndex::load(smartDir);
        if (!index)
            return 1;
        std::int64_t pages = 0;
        const double loop = embedLoop(store->dbPath, *index, pages);
        std::printf("%-6d %9lld %10.2f %10.0f %14.1f %10.2f %10.0f %8.2f\n", n, static_cast<long long>(pages),
                    built.seconds, double(pages) / built.seconds, double(built.peakKb) / 1024.0, loop,
                    double(pages) / loop, built.seconds / loop);
    }
    return 0;
}
