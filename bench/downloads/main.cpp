// The Downloads window under a large catalogue, and its runs beside the
// command-line install, each against a baseline measured in the same run.
//
// Filter: 10,000 generated books by 2,500 authors in a signed release that a
// Downloads window loads; a filter typed into the window's field a keystroke
// at a time. A keystroke is everything the window does until its outline is
// laid out: filtering, the model reset, opening the groups and the layout of
// the outline's rows. The baseline is the work the cache saves: every title
// with its author normalised once.
//
// Install: the bundled sample release (books, narrator merge, word model and
// page vectors) installed by a window run and by "--dist-install" of the same
// release, alternately, each into the same emptied local store.
//
//   bench_downloads [--repeat 5] [--rounds 2]

#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/GeneratedCatalog.h"
#include "core/Arabic.h"
#include "core/LibrarySchema.h"
#include "distribution/DistCLI.h"
#include "distribution/LocalStore.h"
#include "distribution/ReleaseWriter.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/kit/Dialogs.h"
#include "ui/shell/AppDelegate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quorvel;

namespace {

constexpr int books = 10000;
constexpr int authors = 2500;
constexpr int categories = 40;
constexpr int defaultRepeats = 5;
constexpr int defaultRounds = 2;
constexpr int waitMs = 600000;
const char* const typed = "شرح السنن الكامل";

// The generated catalogue as a signed release in `dir`, trusted for this run.
bool writeGeneratedRelease(const QString& dir)
{
    auto db = SQLiteDB::open(QDir(dir).filePath(QStringLiteral("generated.db")), false);
    if (!db || !LibrarySchema::create(*db) || !bench::fillGeneratedCatalog(*db, books, authors, categories))
        return false;
    Json::Value cats = Json::Value::array();
    for (const auto& row : db->rows(QStringLiteral("SELECT id, name, sort FROM categories ORDER BY id")))
        cats.push_back({{"id", row.integer(0).value_or(0)},
                        {"name", Json::utf8(row.str(1).value_or(QString()))},
                        {"sort", row.integer(2).value_or(0)}});
    Json::Value people = Json::Value::array();
    for (const auto& row : db->rows(QStringLiteral("SELECT id, name FROM authors ORDER BY id")))
        people.push_back({{"id", row.integer(0).value_or(0)}, {"name", Json::utf8(row.str(1).value_or(QString()))}});
    Json::Value entries = Json::Value::array();
    for (const auto& row : db->rows(QStringLiteral("SELECT id, title, author_id, category_id FROM books ORDER BY id"))) {
        const std::int64_t id = row.integer(0).value_or(0);
        entries.push_back({{"id", id},
                           {"title", Json::utf8(row.str(1).value_or(QString()))},
                           {"author_id", row.integer(2).value_or(0)},
                           {"category_id", row.integer(3).value_or(0)},
                           {"pages", 1},
                           {"vols", Json::Value::array()},
                           {"root", std::string(64, '0')},
                           {"file", Json::utf8(QStringLiteral("b%1.qbk").arg(id))},
                           {"size", 100000 + id * 37},
                           {"usize", 200000 + id * 37},
                           {"sha256", std::string(64, '0')}});
    }
    const auto keys = ReleaseWriter::generateKeyPair();
    if (!keys)
        return false;
    Dist::overridePublicKey(ReleaseWriter::base64(keys->publicKey));
    ReleaseWriter::ReleaseInfo info;
    info.generated = QStringLiteral("2025-01-01T00:00:00Z");
    info.expires = QStringLiteral("2099-12-31T23:59:59Z");
    return ReleaseWriter::writeRelease(dir, info, cats, people, entries, keys->secretKey);
}

// Loops events until `done` or the wait runs out; false on time-out.
template <typename Done>
bool waitFor(Done done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > waitMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

int benchFilter(int repeats)
{
    QTemporaryDir dir;
    if (!writeGeneratedRelease(dir.path())) {
        std::fprintf(stderr, "cannot write the generated release\n");
        return 1;
    }
    DownloadsWindowController::setSource(dir.path());
    DownloadsWindowController window;
    if (!waitFor([&] { return window.catalog().has_value(); }) || window.catalog()->books.size() != books) {
        std::fprintf(stderr, "the window did not load the generated release: %s\n", qPrintable(window.statusText()));
        return 1;
    }
    Dist::overridePublicKey({});
    window.resize(980, 660);
    window.QWidget::show();
    QCoreApplication::processEvents();
    const Dist::Catalog& catalog = *window.catalog();

    // The baseline: every title with its author normalised once.
    QHash<std::int64_t, QString> names;
    for (const Dist::CatAuthor& author : catalog.authors)
        names.insert(author.id, author.name);
    std::vector<double> baseline;
    for (int i = 0; i < repeats * 4; ++i) {
        QElapsedTimer t;
        t.start();
        qsizetype total = 0;
        for (const Dist::CatBook& book : catalog.books)
            total += Arabic::normalize(book.title + QLatin1Char(' ') + names.value(book.authorId.value_or(0)), true)
                         .size();
        baseline.push_back(bench::elapsedMs(t));
        if (total == 0)
            return 1;
    }
    const double base = bench::median(baseline);

    const QString filter = QString::fromUtf8(typed);
    std::vector<double> times;
    std::vector<double> trees;
    std::vector<double> layouts;
    for (int r = 0; r < repeats; ++r)
        for (qsizetype n = 1; n <= filter.size(); ++n) {
            QElapsedTimer t;
            t.start();
            window.filter()->setText(filter.left(n));
            const double tree = bench::elapsedMs(t);
            window.outline()->doItemsLayout();
            times.push_back(bench::elapsedMs(t));
            trees.push_back(tree);
            layouts.push_back(times.back() - tree);
            // The window paints between keystrokes, outside the measure.
            QCoreApplication::processEvents();
        }
    const double med = bench::median(times);
    const double worst = *std::max_element(times.begin(), times.end());
    std::printf("filter: %d books by %d authors, «%s» typed a keystroke at a time into the window\n",
                int(catalog.books.size()), authors, typed);
    std::printf("%-34s %10s %10s\n", "keystroke", "ms", "ratio");
    std::printf("%-34s %10.2f %10.2f\n", "baseline: normalise all", base, 1.0);
    std::printf("%-34s %10.2f %10.2f\n", "window filter, median", med, med / base);
    std::printf("%-34s %10.2f %10.2f\n", "window filter, worst", worst, worst / base);
    std::printf("%-34s %10.2f %10.2f\n", "  of which tree and groups, median", bench::median(trees), bench::median(trees) / base);
    std::printf("%-34s %10.2f %10.2f\n", "  of which layout, median", bench::median(layouts), bench::median(layouts) / base);
    std::printf("target: median <= 0.2x\n\n");
    return 0;
}

// The local store and the smart folder emptied, so each install starts alike.
void emptyStore(const QString& store, const QString& smart)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(store + QString::fromLatin1(suffix));
    QDir(smart).removeRecursively();
    QDir().mkpath(smart);
}

// Seconds of one window run over every book of the release; negative on failure.
double windowInstall(const QString& release)
{
    DownloadsWindowController::setSource(release);
    auto w = std::make_unique<DownloadsWindowController>();
    if (!waitFor([&] { return w->catalog().has_value(); }))
        return -1;
    bool finished = false;
    QObject::connect(w.get(), &DownloadsWindowController::runFinished, [&finished] { finished = true; });
    QElapsedTimer t;
    t.start();
    if (!w->run(w->catalog()->books))
        return -1;
    if (!waitFor([&] { return finished; }))
        return -1;
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    return w->progressText().contains(QStringLiteral(u"خطأ")) ? -1 : seconds;
}

double cliInstall(const QString& release)
{
    const DistCLI::Output quiet{[](const QString&) {}, [](const QString&) {}};
    QElapsedTimer t;
    t.start();
    const int status = DistCLI::run({QStringLiteral("quorvel"), QStringLiteral("--dist-install"), release}, quiet);
    return status == 0 ? double(t.nsecsElapsed()) / 1e9 : -1;
}

int benchInstall(const QString& store, const QString& smart, int rounds)
{
#ifdef QUORVEL_SAMPLE_RELEASE
    const QString release = QStringLiteral(QUORVEL_SAMPLE_RELEASE);
#else
    const QString release;
#endif
    if (release.isEmpty() || !QFileInfo::exists(release + QStringLiteral("/index.json"))) {
        std::printf("install: the sample release is not built; skipped\n");
        return 0;
    }
    std::vector<double> window;
    std::vector<double> cli;
    for (int r = 0; r < rounds; ++r) {
        emptyStore(store, smart);
        cli.push_back(cliInstall(release));
        emptyStore(store, smart);
        window.push_back(windowInstall(release));
        if (cli.back() < 0 || window.back() < 0) {
            std::fprintf(stderr, "install failed\n");
            return 1;
        }
    }
    const auto pages = LocalStore::open(store)->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0);
    const double base = bench::median(cli);
    const double run = bench::median(window);
    std::printf("install: the sample release, %lld pages with their vectors, median of %d\n",
                static_cast<long long>(pages), rounds);
    std::printf("%-30s %10s %10s\n", "install", "s", "ratio");
    std::printf("%-30s %10.2f %10.2f\n", "baseline: --dist-install", base, 1.0);
    std::printf("%-30s %10.2f %10.2f\n", "window run", run, run / base);
    std::printf("target: <= 1.2x\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Settings, the local store and the smart folder of this run only.
    QTemporaryDir scratch;
    const QString store = scratch.filePath(QStringLiteral("library.db"));
    const QString smart = scratch.filePath(QStringLiteral("smart"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    qputenv("QUORVEL_USERDB", scratch.filePath(QStringLiteral("user.db")).toUtf8());
    qputenv("QUORVEL_LIBDB", store.toUtf8());
    qputenv("QUORVEL_SMARTDIR", smart.toUtf8());
    QApplication app(argc, argv);
    AppDelegate::prepareApplication();
    const bench::BenchArgs args(app.arguments());
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);
    const int rounds = args.number(QStringLiteral("--rounds"), defaultRounds, 1);
    // A failure report would otherwise wait for a click.
    ScriptedDialogs dialogs;
    if (const int status = benchFilter(repeats))
        return status;
    return benchInstall(store, smart, rounds);
}
