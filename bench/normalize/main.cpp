// Throughput of the Arabic normal form over real book text, beside a baseline
// that only copies the same UTF-16 text into fresh strings, so the ratio
// survives a noisy machine. The ratio is the throughput of each row over the
// copy's: 1 is as fast as copying, lower is slower.
//
// Usage: bench_normalize [books-folder]
// The test corpus (its books and the Quran) is always read; a folder given on
// the command line adds every *.json book in it.

#include "../common/CorpusLibrary.h"
#include "core/Arabic.h"
#include "core/Json.h"
#include "search/PageIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>

using namespace quorvel;

namespace {

// Rounds over the whole text; the fastest one counts. A fast operation
// takes more rounds, until they add up to `minimumSeconds`: a round of a
// millisecond or two is often cut by another process on a shared machine.
constexpr int rounds = 7;
constexpr double minimumSeconds = 0.3;
constexpr int maximumRounds = 2000;

void addBook(const QString& path, QStringList& texts)
{
    const auto doc = Json::parseFile(path);
    if (!doc || !doc->is_object() || !doc->contains("pages") || !(*doc)["pages"].is_array())
        return;
    for (const auto& page : (*doc)["pages"])
        if (const auto content = Json::strictString(page, "content"))
            texts.append(*content);
}

void addBooks(const QString& folder, QStringList& texts)
{
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        addBook(dir.filePath(name), texts);
}

void addQuran(const QString& path, QStringList& texts)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine());
        if (line.startsWith(u'#'))
            continue;
        const QStringList parts = line.split(u'|');
        if (parts.size() == 3)
            texts.append(parts[2].trimmed());
    }
}

// Seconds of the fastest round of `work` over all texts; `sink` keeps the
// results observable so nothing is optimised away.
template <typename Work>
double fastest(const QStringList& texts, Work work, qsizetype& sink)
{
    double best = 1e300;
    double total = 0;
    for (int r = 0; r < maximumRounds && (r < rounds || total < minimumSeconds); ++r) {
        QElapsedTimer timer;
        timer.start();
        for (const QString& t : texts)
            sink += work(t).size();
        const double seconds = timer.nsecsElapsed() / 1e9;
        best = std::min(best, seconds);
        total += seconds;
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString data = QStringLiteral(QUORVEL_SOURCE_DIR "/tests/data");
    QStringList texts;
    addBooks(data + "/books", texts);
    addQuran(data + "/quran/quran-uthmani.txt", texts);
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i)
        addBooks(args[i], texts);

    qsizetype units = 0;
    for (const QString& t : texts)
        units += t.size();
    if (units == 0) {
        std::fprintf(stderr, "no text found\n");
        return 1;
    }
    const double megabytes = units * 2 / 1e6; // UTF-16 bytes

    qsizetype sink = 0;
    const double copy = fastest(texts, [](const QString& t) {
        return QString(t.constData(), t.size());
    }, sink);
    const double plain = fastest(texts, [](const QString& t) {
        return Arabic::normalize(t, false);
    }, sink);
    const double folded = fastest(texts, [](const QString& t) {
        return Arabic::normalize(t, true);
    }, sink);
    // What a search does with a page it checks for hamza forms or marks,
    // and what the highlight does with a page it shows.
    const double rich = fastest(texts, [](const QString& t) {
        return Arabic::richWords(t);
    }, sink);
    const double indexed = fastest(texts, [](const QString& t) {
        return Arabic::index(t).norm;
    }, sink);
    // What the installer writes into the page index for each page.
    const double forms = fastest(texts, [](const QString& t) {
        return PageIndex::columnsOf(t).matn;
    }, sink);

    std::printf("texts %lld, %.2f MB of UTF-16, best of at least %d rounds (%.1f s for fast rows)\n",
                static_cast<long long>(texts.size()), megabytes, rounds, minimumSeconds);
    std::printf("%-28s %10s %10s %8s\n", "operation", "ms", "MB/s", "ratio");
    const auto row = [&](const char* name, double seconds) {
        std::printf("%-28s %10.3f %10.1f %8.3f\n", name, seconds * 1e3, megabytes / seconds,
                    copy / seconds);
    };
    row("copy (baseline)", copy);
    row("normalize, rasm off", plain);
    row("normalize, rasm on", folded);
    row("rich words", rich);
    row("highlight index", indexed);
    row("page index forms", forms);
    std::printf("(checksum %lld)\n", static_cast<long long>(sink));
    return 0;
}
