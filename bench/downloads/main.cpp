// The Downloads window under a large catalogue, and its runs beside the
// command-line install, each against a baseline measured in the same run.
//
// Filter: 10,000 generated books by 2,500 authors; a filter typed a keystroke
// at a time. Each keystroke does what the window does: builds the tree from
// the catalogue's cached normal forms, sets it into the model and opens the
// groups of the outline. The baseline is the work the cache saves: every
// title with its author normalised once.
//
// Install: the bundled sample release (books, narrator merge, word model and
// page vectors) installed by a window run and by "--dist-install" of the same
// release, alternately, each into the same emptied local store.
//
//   bench_downloads [--repeat 5] [--rounds 2]

#include "../common/BenchArgs.h"
#include "../common/GeneratedCatalog.h"
#include "app/AppDelegate.h"
#include "app/kit/Dialogs.h"
#include "core/Arabic.h"
#include "core/LibrarySchema.h"
#include "dist/DistCLI.h"
#include "dist/LocalStore.h"
#include "dist/ui/DownloadsModel.h"
#include "dist/ui/DownloadsWindowController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
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

double elapsedMs(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The generated catalogue as a release would carry it.
std::optional<Dist::Catalog> generatedCatalog(const QString& dir)
{
    auto db = SQLiteDB::open(QDir(dir).filePath(QStringLiteral("generated.db")), false);
    if (!db || !LibrarySchema::create(*db) || !bench::fillGeneratedCatalog(*db, books, authors, categories))
        return std::nullopt;
    Dist::Catalog catalog;
    for (const auto& row : db->rows(QStringLiteral("SELECT id, name, sort FROM categories ORDER BY id")))
        catalog.categories.append({row.integer(0).value_or(0), row.str(1).value_or(QString()), std::nullopt,
                                   row.integer(2)});
    for (const auto& row : db->rows(QStringLiteral("SELECT id, name, death_year FROM authors ORDER BY id")))
        catalog.authors.append({row.integer(0).value_or(0), row.str(1).value_or(QString()), row.integer(2), {}});
    for (const auto& row : db->rows(QStringLiteral("SELECT id, title, author_id, category_id FROM books ORDER BY id"))) {
        Dist::CatBook book;
        book.id = row.integer(0).value_or(0);
        book.title = row.str(1).value_or(QString());
        book.authorId = row.integer(2);
        book.categoryId = row.integer(3);
        book.size = 100000 + book.id * 37;
        catalog.books.append(book);
    }
    return catalog;
}

int benchFilter(int repeats)
{
    QTemporaryDir dir;
    const auto catalog = generatedCatalog(dir.path());
    if (!catalog) {
        std::fprintf(stderr, "cannot build the catalogue\n");
        return 1;
    }
    QElapsedTimer prepare;
    prepare.start();
    const std::shared_ptr<const DownloadsModel::Source> source = DownloadsModel::prepare(*catalog);
    const double prepared = elapsedMs(prepare);

    DownloadsModel model;
    QTreeView view;
    view.setModel(&model);
    view.setUniformRowHeights(true);
    view.header()->hide();
    view.resize(900, 600);
    view.show();
    QCoreApplication::processEvents();

    // The baseline: every title with its author normalised once.
    std::vector<double> baseline;
    for (int i = 0; i < repeats * 4; ++i) {
        QElapsedTimer t;
        t.start();
        qsizetype total = 0;
        for (const Dist::CatBook& book : catalog->books)
            total += Arabic::normalize(book.title + QLatin1Char(' ') + source->authors.value(book.authorId.value_or(0)),
                                       true)
                         .size();
        baseline.push_back(elapsedMs(t));
        if (total == 0)
            return 1;
    }
    const double base = median(baseline);

    const QString filter = QString::fromUtf8(typed);
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r)
        for (qsizetype n = 1; n <= filter.size(); ++n) {
            const QString text = filter.left(n);
            QElapsedTimer t;
            t.start();
            model.setTree(DownloadsModel::build(*source, text), source);
            if (!Arabic::normalize(text, true).trimmed().isEmpty())
                view.expandAll();
            view.doItemsLayout();
            times.push_back(elapsedMs(t));
        }
    const double med = median(times);
    const double worst = *std::max_element(times.begin(), times.end());
    std::printf("filter: %d books by %d authors, «%s» typed a keystroke at a time; normal forms cached in %.1f ms\n",
                int(catalog->books.size()), authors, typed, prepared);
    std::printf("%-30s %10s %10s\n", "keystroke", "ms", "ratio");
    std::printf("%-30s %10.2f %10.2f\n", "baseline: normalise all", base, 1.0);
    std::printf("%-30s %10.2f %10.2f\n", "window filter, median", med, med / base);
    std::printf("%-30s %10.2f %10.2f\n", "window filter, worst", worst, worst / base);
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
    const double base = median(cli);
    const double run = median(window);
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
