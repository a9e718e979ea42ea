// Installing the bundled sample release through the product's installer,
// beside the same rows (already in their matching form) inserted into the
// same tables without normalisation, narrator chains or shingles, in the same
// run; then the installer's pace once the store already holds nine more
// copies of the release under spread book ids (it must not slow down as the
// store grows).
//
//   bench_install [--reuse] [--copies N]
//
// The release is written here from samples/ with a key made for the run.
#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>

using namespace quorvel;

namespace {

constexpr int defaultCopies = 10;

// Installs the books of one copy; the seconds it took.
double installCopy(LocalStore& store, const Dist::Catalog& catalog, std::int64_t release, const QUrl& base,
                   const QSet<std::int64_t>& ids)
{
    QElapsedTimer timer;
    timer.start();
    for (const auto& book : catalog.books)
        if (ids.contains(book.id))
            store.install(book, catalog, release, base);
    store.dedupNarrators();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const bool reuse = app.arguments().contains(QStringLiteral("--reuse"));
    const int copies = args.number(QStringLiteral("--copies"), defaultCopies, 2);
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    LocalStore::setWithReuse(reuse);

    const QString releaseDir = scratch.filePath(QStringLiteral("release"));
    const auto publicKey = bench::writeSampleRelease(releaseDir, copies);
    const auto sample = Json::parseFile(QStringLiteral(QUORVEL_SOURCE_DIR "/samples/catalog.json"));
    if (!publicKey || !sample) {
        std::fprintf(stderr, "bench_install: cannot build the sample release\n");
        return 1;
    }
    // The book ids of each copy, in the release writer's numbering.
    QList<QSet<std::int64_t>> copyIds(copies);
    for (int copy = 0; copy < copies; ++copy) {
        int index = 0;
        for (const auto& meta : sample->at("books"))
            copyIds[copy].insert(bench::spreadBookId(copy, index++, meta.at("id").get<std::int64_t>()));
    }
    Dist::overridePublicKey(*publicKey);
    const QUrl base = QUrl::fromLocalFile(releaseDir);
    const auto [index, catalog] = Dist::loadCatalog(base, 0);

    // The installer, first into an empty store.
    auto store = LocalStore::open(scratch.filePath(QStringLiteral("library.db")));
    const double installSeconds = installCopy(*store, catalog, index.release, base, copyIds[0]);
    const auto pages = store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0);

    // The baseline: the installed rows copied into the same tables of a fresh
    // store, one transaction per book, nothing derived.
    auto plain = LocalStore::open(scratch.filePath(QStringLiteral("plain.db")));
    QList<QList<Statement::Row>> rowsByBook;
    for (const auto& book : catalog.books)
        if (copyIds[0].contains(book.id))
            rowsByBook.append(store->db().rows(
            QStringLiteral("SELECT id, book_id, vol, page_num, seq, content, content_norm FROM pages WHERE book_id=? ORDER BY seq"),
            {book.id}));
    auto value = [](const Statement::Value& v) -> SQLArg {
        if (auto i = std::get_if<std::int64_t>(&v))
            return *i;
        if (auto s = std::get_if<QString>(&v))
            return *s;
        return {};
    };
    QElapsedTimer timer;
    timer.start();
    for (const auto& rows : rowsByBook) {
        plain->db().exec(QStringLiteral("BEGIN IMMEDIATE"));
        auto insertPage = plain->db().prepare(QStringLiteral(
            "INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) VALUES(?,?,?,?,?,?,?)"));
        auto insertFts = plain->db().prepare(
            QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"));
        for (const auto& r : rows) {
            SQLArgs args;
            for (const auto& v : r.vals)
                args.append(value(v));
            insertPage->bind(args);
            insertPage->step();
            insertFts->bind({args[0], args[6], args[0], args[1]});
            insertFts->step();
        }
        plain->db().exec(QStringLiteral("COMMIT"));
    }
    const double plainSeconds = timer.elapsed() / 1000.0;

    // The same installer into a store that already holds the other copies.
    for (int copy = 1; copy + 1 < copies; ++copy)
        installCopy(*store, catalog, index.release, base, copyIds[copy]);
    const auto before = store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0);
    const double lastSeconds = installCopy(*store, catalog, index.release, base, copyIds[copies - 1]);
    const auto lastPages = store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0) - before;

    std::printf("%-48s %10s %12s\n", "operation", "seconds", "pages/s");
    std::printf("%-48s %10.2f %12.0f\n", reuse ? "install sample release (with shingles)" : "install sample release",
                installSeconds, double(pages) / installSeconds);
    std::printf("%-48s %10.2f %12.0f\n", "baseline: insert normalised rows + FTS", plainSeconds, double(pages) / plainSeconds);
    std::printf("%-48s %10.2f\n", "ratio install / baseline", installSeconds / plainSeconds);
    std::printf("(%lld pages, %lld books per copy)\n\n", static_cast<long long>(pages),
                static_cast<long long>(copyIds[0].size()));

    std::printf("%-48s %10s %12s\n", "store size", "seconds", "pages/s");
    std::printf("%-48s %10.2f %12.0f\n", "1x: one copy into an empty store", installSeconds, double(pages) / installSeconds);
    const QString label = QStringLiteral("%1x: the last copy beside %2 others").arg(copies).arg(copies - 1);
    std::printf("%-48s %10.2f %12.0f\n", qPrintable(label), lastSeconds, double(lastPages) / lastSeconds);
    std::printf("%-48s %10.2f\n", "ratio pages/s at the larger store / 1x",
                (double(lastPages) / lastSeconds) / (double(pages) / installSeconds));
    return 0;
}
