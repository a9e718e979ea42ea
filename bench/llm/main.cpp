// The local model engine against the project's fake inference server, each
// operation beside a baseline doing the same transfer or hashing bare:
//   - chat over --deltas streamed pieces, beside a plain GET that reads the
//     same bytes line by line;
//   - ensureServer() reusing a running server, beside one bare /health GET;
//   - sha256(of:) over a --hash-mb file, beside QCryptographicHash::addData
//     reading the same file.
//
//   bench_llm [--deltas N] [--rounds N] [--hash-mb N] [--server path]

#include "../common/BenchArgs.h"
#include "assistant/LocalLLM.h"
#include "core/Preferences.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace quorvel;

namespace {

constexpr int kDefaultDeltas = 10000;
constexpr int kDefaultRounds = 15;
constexpr int kReuseRounds = 200;
constexpr int kDefaultHashMB = 1024;

struct Timing {
    double ours = 0;     // median milliseconds
    double baseline = 0; // median milliseconds
};

double milliseconds(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed() / 1e6;
}

// Median wall times of `rounds` runs of each, taken in turns so that both
// see the same load on a busy machine.
Timing compare(int rounds, const std::function<void()>& ours, const std::function<void()>& baseline)
{
    std::vector<double> a, b;
    for (int i = 0; i < rounds; ++i) {
        a.push_back(milliseconds(ours));
        b.push_back(milliseconds(baseline));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return {a[a.size() / 2], b[b.size() / 2]};
}

// One GET on a fresh manager, the body read line by line as it arrives;
// returns the number of lines.
int bareGet(const QUrl& url)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
    int lines = 0;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        while (reply->canReadLine()) {
            reply->readLine();
            ++lines;
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    delete reply;
    return lines;
}

void row(const char* operation, const char* baseline, Timing t, double target)
{
    std::printf("%-34s %10.2f ms   %-30s %10.2f ms   %5.2fx (target <= %.1fx)\n", operation, t.ours, baseline,
                t.baseline, t.ours / t.baseline, target);
}

} // namespace

int main(int argc, char** argv)
{
    // Keep the user's preferences and models folder out of it.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qunsetenv("QUORVEL_NO_MODEL");
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int deltas = args.number("--deltas", kDefaultDeltas, 1);
    const int rounds = args.number("--rounds", kDefaultRounds, 1);
    const int hashMB = args.number("--hash-mb", kDefaultHashMB, 1);
    LocalLLM::Testing::setServerBinary(args.text("--server", QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER)));

    const QString script = home.filePath("model.gguf");
    {
        QFile file(script);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("quiet\nrepeat %1 delta \"كلمة \"\ndone\n").arg(deltas).toUtf8());
    }
    Preferences::standard().set(QStringLiteral("localModelPath"), script);
    if (!LocalLLM::ensureServer()) {
        std::fprintf(stderr, "bench_llm: the fake server did not start\n");
        return 1;
    }
    const QUrl stream(QStringLiteral("http://127.0.0.1:%1/stream").arg(LocalLLM::port()));
    const QUrl health(QStringLiteral("http://127.0.0.1:%1/health").arg(LocalLLM::port()));

    std::printf("local model engine, fake server on port %d\n\n", LocalLLM::port());
    int pieces = 0;
    int lines = 0;
    const Timing chat = compare(
        rounds,
        [&] {
            pieces = 0;
            LocalLLM::chat({}, QStringLiteral("سؤال"), 1500, [&](const QString&) { ++pieces; });
        },
        [&] { lines = bareGet(stream); });
    if (pieces != deltas || lines != deltas + 1)
        std::fprintf(stderr, "bench_llm: expected %d pieces, got %d (%d lines)\n", deltas, pieces, lines);
    row(qPrintable(QStringLiteral("chat, %1 deltas").arg(deltas)), "bare GET, same lines", chat, 1.3);

    const Timing reuse = compare(kReuseRounds, [] { LocalLLM::ensureServer(); }, [&] { bareGet(health); });
    row("ensureServer, server reused", "bare GET /health", reuse, 1.2);
    LocalLLM::stop();

    const QString big = home.filePath("big.bin");
    {
        QFile file(big);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(i * 131 + (i >> 9));
        for (int i = 0; i < hashMB; ++i)
            file.write(block);
    }
    auto baselineHash = [&] {
        QFile file(big);
        file.open(QIODevice::ReadOnly);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(&file);
        return QString::fromLatin1(hash.result().toHex());
    };
    QString ours, theirs;
    baselineHash(); // both read from the page cache from here on
    const Timing hash = compare(
        3, [&] { ours = LocalLLM::sha256(big).value_or(QString()); }, [&] { theirs = baselineHash(); });
    if (ours != theirs)
        std::fprintf(stderr, "bench_llm: the digests differ\n");
    row(qPrintable(QStringLiteral("sha256(of:), %1 MB").arg(hashMB)), "QCryptographicHash::addData", hash, 1.1);
    return 0;
}
