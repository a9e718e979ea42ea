// Installing the bundled sample release through the product's installer,
// beside the same rows (already in their stored form) inserted into the same
// tables in the same run, with no normalisation, narrator chains, content
// root or term counting, and again with the store's triggers off (the rows
// alone: the triggers do per-row work the installer is exempt from); once as
// a plain install and once with the text-reuse data on, as scripts/run
// installs it, each beside its own baselines. Then the installer's pace once
// the store already holds more copies of the release under spread book ids
// (it must not slow down as the store grows), without and with the
// text-reuse data, each against one copy into an empty store, and an update
// that installs the first copy again.
//
//   bench_install [--copies N] [--rounds R] [--books B --run-rows S] [--reference FILE]
//   bench_install --long-pages N
//
// --long-pages measures only the peak memory of installing a book of N pages
// at the page length bound (LongPages.h).
//
// --books takes the first B books of the sample as a copy, and --run-rows
// makes a run of shingles S rows: a model of a larger library in less disk
// and time, where S to the shingles of the smaller copy is as a run to those
// of the whole sample.
//
// Each first copy is installed beside its baseline R times (3 unless told)
// and the medians are printed. The pace the growing stores are held against
// is that of one copy into an empty store, installed again every few copies
// between the growing ones: the machine's speed drifts by a third over the
// half hour that fifty copies take, and a reference taken at one moment
// would weigh that drift on one side of the ratio.
//
// The release is written here from samples/ with a key made for the run.
//
// The rows the installer stores are compared with the reference list
// (StoreRows.h): the first copy into an empty store, plain and with the
// text-reuse data, and the update. A difference fails the run.
#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
#include "LongPages.h"
#include "StoreRows.h"
#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "core/SQLiteTriggers.h"
#include "core/ShingleRuns.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace quorvel;

namespace {

constexpr int defaultCopies = 10;
constexpr int defaultRounds = 3;
// Past this many copies the updated store is too large to compare row by row
// in reasonable time; the first copy's stores are always compared.
constexpr int maxCopiesCompared = 10;

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
    store.checkpoint();
    return double(timer.nsecsElapsed()) / 1e9;
}

std::int64_t pagesIn(LocalStore& store)
{
    return store.db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0);
}

SQLArg argOf(const Statement::Value& v)
{
    return std::visit(
        [](const auto& value) -> SQLArg {
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::monostate>)
                return {};
            else
                return value;
        },
        v);
}

// One book's stored rows, read back from the installed store.
struct BookRows {
    QList<Statement::Row> pages;
    QList<PageIndex::Columns> forms;
    QList<Statement::Row> shingles;       // in page order
    QList<Statement::Row> shinglesByHash; // the same, in hash order
    QList<Statement::Row> edges;
    QList<Statement::Row> headings;
    QList<Statement::Row> marks;
};

void insertAll(Statement& st, const QList<Statement::Row>& rows)
{
    for (const auto& r : rows) {
        SQLArgs args;
        for (const auto& v : r.vals)
            args.append(argOf(v));
        st.bind(args);
        st.step();
    }
}

// The baseline: the installed rows inserted into the same tables of a fresh
// store, one transaction per book (the plain tables first, then the
// full-text ones, as the installer writes them), then the narrators' and the
// term table's rows, and the same checkpoint.
double insertRows(LocalStore& plain, const QList<BookRows>& books, const QList<Statement::Row>& narrators,
                  const QList<Statement::Row>& terms)
{
    SQLiteDB& db = plain.db();
    auto insertPage = db.prepare(QStringLiteral(
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) VALUES(?,?,?,?,?,?,?)"));
    auto insertFts =
        db.prepare(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"));
    auto insertForms = db.prepare(QStringLiteral("INSERT INTO page_forms(rowid, matn, hawashi, seam) VALUES(?,?,?,?)"));
    auto insertShingle =
        db.prepare(QStringLiteral("INSERT INTO shingles(rowid, hash, page_id, book_id) VALUES(?,?,?,?)"));
    auto insertMark = db.prepare(QStringLiteral("INSERT INTO page_marks(term, form, page_id) VALUES(?,?,?)"));
    auto insertTerm = db.prepare(QStringLiteral("INSERT INTO page_terms(term, form, rterm, pages) VALUES(?,?,?,?)"));
    auto insertEdge = db.prepare(
        QStringLiteral("INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) VALUES(?,?,?,?)"));
    auto insertHeading = db.prepare(
        QStringLiteral("INSERT INTO toc(id, book_id, title, page_seq, parent_id, level) VALUES(?,?,?,?,?,?)"));
    auto insertNarrator = db.prepare(QStringLiteral("INSERT INTO narrators(id, name) VALUES(?,?)"));
    auto run = [](Statement& st, const SQLArgs& args) {
        st.bind(args);
        st.step();
    };
    QElapsedTimer timer;
    timer.start();
    for (const BookRows& book : books) {
        db.exec(QStringLiteral("BEGIN IMMEDIATE"));
        insertAll(*insertPage, book.pages);
        // Each shingle with its lookup copy in the newest run, as installs
        // write them: the table in page order, the run in hash order.
        const SQLArg openRun = ShingleRuns::openRun(db).value_or(1);
        auto insertRun = db.prepare(QStringLiteral("INSERT INTO %1(run, hash, sid, page_id, book_id) VALUES(?,?,?,?,?)")
                                        .arg(ShingleRuns::openTable(db).value_or(QStringLiteral("shingle_fresh"))));
        insertAll(*insertShingle, book.shingles);
        for (const auto& r : book.shinglesByHash)
            run(*insertRun, {openRun, argOf(r.vals[1]), argOf(r.vals[0]), argOf(r.vals[2]), argOf(r.vals[3])});
        insertAll(*insertEdge, book.edges);
        for (qsizetype i = 0; i < book.pages.size(); ++i) {
            const SQLArg id = argOf(book.pages[i].vals[0]);
            run(*insertFts, {id, argOf(book.pages[i].vals[6]), id, argOf(book.pages[i].vals[1])});
            run(*insertForms, {id, book.forms[i].matn, book.forms[i].hawashi, book.forms[i].seam});
        }
        insertAll(*insertMark, book.marks);
        insertAll(*insertHeading, book.headings);
        db.exec(QStringLiteral("COMMIT"));
    }
    db.exec(QStringLiteral("BEGIN IMMEDIATE"));
    insertAll(*insertNarrator, narrators);
    insertAll(*insertTerm, terms);
    db.exec(QStringLiteral("COMMIT"));
    // The installer's timing ends with its rows moved into the database file too.
    plain.checkpoint();
    return timer.nsecsElapsed() / 1e9;
}

struct Line {
    double installSeconds = 0;
    double baselineSeconds = 0;
    std::int64_t pages = 0;
    double ratio = 0; // install / baseline, of one round or the median of the rounds'
    // The same rows inserted with the store's triggers off: the rows alone,
    // without the per-row work of triggers that exempt the installer.
    double bareSeconds = 0;
    double bareRatio = 0;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Each figure's median over the rounds.
Line medianOf(const QList<Line>& rounds)
{
    QList<double> install, baseline, ratio, bare, bareRatio;
    for (const Line& line : rounds) {
        install << line.installSeconds;
        baseline << line.baselineSeconds;
        ratio << line.ratio;
        bare << line.bareSeconds;
        bareRatio << line.bareRatio;
    }
    return {median(install), median(baseline), rounds.first().pages, median(ratio), median(bare), median(bareRatio)};
}

// One copy installed into an empty store, and its rows inserted bare into another.
Line installBeside(const QString& folder, bool reuse, const Dist::Catalog& catalog, std::int64_t release,
                   const QUrl& base, const QSet<std::int64_t>& ids, std::unique_ptr<LocalStore>* keep = nullptr)
{
    LocalStore::setWithReuse(reuse);
    auto store = LocalStore::open(QDir(folder).filePath(reuse ? QStringLiteral("reuse.db") : QStringLiteral("library.db")));
    Line line;
    line.installSeconds = installCopy(*store, catalog, release, base, ids);
    line.pages = pagesIn(*store);

    QList<BookRows> books;
    for (const auto& book : catalog.books) {
        if (!ids.contains(book.id))
            continue;
        BookRows rows;
        rows.pages = store->db().rows(QStringLiteral("SELECT id, book_id, vol, page_num, seq, content, content_norm "
                                                     "FROM pages WHERE book_id=? ORDER BY seq"),
                                      {book.id});
        for (const auto& r : rows.pages)
            rows.forms.append(PageIndex::columnsOf(r.str(5).value_or(QString())));
        rows.shingles = store->db().rows(
            QStringLiteral("SELECT rowid, hash, page_id, book_id FROM shingles WHERE book_id=? ORDER BY rowid"),
            {book.id});
        rows.shinglesByHash = rows.shingles;
        std::stable_sort(rows.shinglesByHash.begin(), rows.shinglesByHash.end(),
                         [](const Statement::Row& a, const Statement::Row& b) { return a.integer(1) < b.integer(1); });
        rows.edges = store->db().rows(QStringLiteral("SELECT student_id, teacher_id, book_id, page_id FROM isnad_edges "
                                                     "WHERE book_id=? ORDER BY rowid"),
                                      {book.id});
        rows.marks = store->db().rows(QStringLiteral("SELECT m.term, m.form, m.page_id FROM page_marks m "
                                                     "JOIN pages p ON p.id = m.page_id WHERE p.book_id=? "
                                                     "ORDER BY m.page_id, m.term, m.form"),
                                      {book.id});
        rows.headings = store->db().rows(
            QStringLiteral("SELECT id, book_id, title, page_seq, parent_id, level FROM toc WHERE book_id=? ORDER BY id"),
            {book.id});
        books.append(rows);
    }
    const auto narrators = store->db().rows(QStringLiteral("SELECT id, name FROM narrators ORDER BY id"));
    const auto terms = store->db().rows(QStringLiteral("SELECT term, form, rterm, pages FROM page_terms"));
    // Each baseline's store is removed once timed: the disk holds one at a time.
    const auto baseline = [&](const QString& name, bool triggers) {
        const QString file = QDir(folder).filePath(name);
        double seconds = 0;
        {
            auto plain = LocalStore::open(file);
            setTriggersEnabled(plain->db(), triggers);
            seconds = insertRows(*plain, books, narrators, terms);
        }
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(file + suffix);
        return seconds;
    };
    line.baselineSeconds = baseline(reuse ? QStringLiteral("reuse-plain.db") : QStringLiteral("plain.db"), true);
    line.ratio = line.installSeconds / line.baselineSeconds;
    line.bareSeconds = baseline(reuse ? QStringLiteral("reuse-bare.db") : QStringLiteral("bare.db"), false);
    line.bareRatio = line.installSeconds / line.bareSeconds;
    if (keep)
        *keep = std::move(store);
    return line;
}

void printLine(const char* label, const Line& line)
{
    std::printf("%-48s %10.2f %12.0f\n", label, line.installSeconds, double(line.pages) / line.installSeconds);
    std::printf("%-48s %10.2f %12.0f\n", "  baseline: insert the same rows", line.baselineSeconds,
                double(line.pages) / line.baselineSeconds);
    std::printf("%-48s %10.2f\n", "  ratio install / baseline", line.ratio);
    std::printf("%-48s %10.2f %12.0f\n", "  baseline with the store's triggers off", line.bareSeconds,
                double(line.pages) / line.bareSeconds);
    std::printf("%-48s %10.2f\n", "  ratio install / baseline with triggers off", line.bareRatio);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int copies = args.number(QStringLiteral("--copies"), defaultCopies, 2);
    const int rounds = args.number(QStringLiteral("--rounds"), defaultRounds, 1);
    const int books = args.number(QStringLiteral("--books"), 0, 0);
    const int runRows = args.number(QStringLiteral("--run-rows"), 0, 0);
    if (const int longPages = args.number(QStringLiteral("--long-pages"), 0, 0); longPages > 0)
        return bench::longPagesPeak(longPages);
    if (runRows > 0)
        ShingleRuns::setRunRows(runRows);
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());

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
        for (const auto& meta : sample->at("books")) {
            if (books > 0 && index >= books)
                break;
            copyIds[copy].insert(bench::spreadBookId(copy, index++, meta.at("id").get<std::int64_t>()));
        }
    }
    Dist::overridePublicKey(*publicKey);
    const QUrl base = QUrl::fromLocalFile(releaseDir);
    const auto [index, catalog] = Dist::loadCatalog(base, 0);

    bench::StoreReference reference(args.text(QStringLiteral("--reference"),
                                              QStringLiteral(QUORVEL_SOURCE_DIR "/bench/install/reference.tsv")));
    const QString shape = books > 0 ? QStringLiteral(", %1 books").arg(books) : QString();
    // The last round's stores are the ones that grow.
    std::unique_ptr<LocalStore> store;
    std::unique_ptr<LocalStore> reuseStore;
    QList<Line> firstRounds, reuseRounds;
    for (int round = 0; round < rounds; ++round) {
        const QString folder = scratch.filePath(QStringLiteral("round%1").arg(round));
        QDir(scratch.filePath(QStringLiteral("round%1").arg(round - 1))).removeRecursively();
        QDir().mkpath(folder);
        store.reset();
        reuseStore.reset();
        firstRounds << installBeside(folder, false, catalog, index.release, base, copyIds[0], &store);
        reuseRounds << installBeside(folder, true, catalog, index.release, base, copyIds[0], &reuseStore);
    }

    const int firstDiffer = reference.check(QStringLiteral("first copy") + shape, bench::storeRows(store->db()))
        + reference.check(QStringLiteral("first copy with text-reuse data") + shape, bench::storeRows(reuseStore->db()));

    // The first copy into an empty store of its own, timed alone.
    int references = 0;
    const auto oneCopy = [&](bool reuse) {
        const QString file = scratch.filePath(QStringLiteral("reference%1.db").arg(references++));
        LocalStore::setWithReuse(reuse);
        Line line;
        {
            auto empty = LocalStore::open(file);
            line.installSeconds = installCopy(*empty, catalog, index.release, base, copyIds[0]);
            line.pages = pagesIn(*empty);
        }
        LocalStore::setWithReuse(false);
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(file + suffix);
        return line;
    };

    // The same installer into a store that already holds the other copies:
    // each copy is one batch, as a download run installs it. Every few
    // copies, and once after the last, one copy goes into an empty store.
    const int every = std::max(1, (copies - 1) / 8);
    struct Growth {
        double laterSeconds = 0, lastSeconds = 0;
        std::int64_t lastPages = 0;
        QList<Line> references;
        QList<double> copySeconds; // each later copy's
        QList<std::int64_t> runsRead; // the runs of shingles a lookup reads after each later copy
        QList<double> lookupSeconds;  // a lookup of the same shingles after each later copy
    };
    const auto grow = [&](LocalStore& into, bool reuse) {
        Growth growth;
        std::int64_t beforeLast = 0;
        for (int copy = 1; copy < copies; ++copy) {
            if ((copy - 1) % every == 0)
                growth.references << oneCopy(reuse);
            if (copy + 1 == copies)
                beforeLast = pagesIn(into);
            growth.lastSeconds = installCopy(into, catalog, index.release, base, copyIds[copy]);
            growth.laterSeconds += growth.lastSeconds;
            growth.copySeconds << growth.lastSeconds;
            growth.runsRead << into.db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM shingle_levels")).value_or(0);
            if (reuse) {
                // The distinct shingles of the first copy's first pages, looked
                // up by hash as the shared-passage search does.
                const auto hashes = into.db().rows(QStringLiteral(
                    "SELECT DISTINCT hash FROM shingles WHERE page_id IN (SELECT id FROM pages WHERE book_id=? "
                    "ORDER BY seq LIMIT 20) ORDER BY hash LIMIT 500"),
                    {*std::min_element(copyIds[0].cbegin(), copyIds[0].cend())});
                QList<std::int64_t> list;
                for (const auto& row : hashes)
                    list << row.integer(0).value_or(0);
                QElapsedTimer lookupTimer;
                lookupTimer.start();
                into.db().rows(QStringLiteral("SELECT page_id, COUNT(*) FROM %1 WHERE hash IN (%2) GROUP BY page_id")
                                   .arg(ShingleRuns::lookup(into.db()), SQLiteDB::marks(list.size())),
                               argsOf(list));
                growth.lookupSeconds << double(lookupTimer.nsecsElapsed()) / 1e9;
            }
            std::fprintf(stderr, "%s copy %d: %.2f s, %lld runs\n", reuse ? "reuse" : "plain", copy + 1,
                         growth.lastSeconds, static_cast<long long>(growth.runsRead.last()));
        }
        growth.lastPages = pagesIn(into) - beforeLast;
        growth.references << oneCopy(reuse);
        return growth;
    };
    LocalStore::setWithReuse(false);
    const Growth plainGrowth = grow(*store, false);
    // A store holding shingles gets them for every book, the preference aside.
    const Growth reuseGrowth = grow(*reuseStore, true);
    reuseStore.reset();
    // An update: the books of the first copy installed again over themselves.
    const double againSeconds = installCopy(*store, catalog, index.release, base, copyIds[0]);
    int updateDiffer = -1; // not compared
    if (copies <= maxCopiesCompared)
        updateDiffer = reference.check(QStringLiteral("update of %1 copies").arg(copies) + shape,
                                       bench::storeRows(store->db()));
    store.reset();
    reference.save();
    const Line first = medianOf(firstRounds);
    const Line reuse = medianOf(reuseRounds);

    std::printf("%-48s %10s %12s\n", "operation", "seconds", "pages/s");
    printLine("install sample release", first);
    printLine("install sample release with text-reuse data", reuse);
    std::printf("(%lld pages, %lld books per copy; medians of %d rounds)\n", static_cast<long long>(first.pages),
                static_cast<long long>(copyIds[0].size()), rounds);
    std::printf("(a run of shingles takes %lld rows)\n\n", static_cast<long long>(ShingleRuns::runRows()));

    const auto printGrowth = [&](const Growth& growth, const QList<Line>& oneCopyRounds, const char* what,
                                  bool reuse) {
        const Line firstCopy = medianOf(growth.references);
        const double firstPace = double(firstCopy.pages) / firstCopy.installSeconds;
        const auto [fastest, slowest] = std::minmax_element(
            growth.references.cbegin(), growth.references.cend(),
            [](const Line& a, const Line& b) { return a.installSeconds < b.installSeconds; });
        std::printf("%-48s %10s %12s\n", what, "seconds", "pages/s");
        std::printf("%-48s %10.2f %12.0f\n", "1x: one copy into an empty store", firstCopy.installSeconds, firstPace);
        std::printf("  (median of %lld, between the growing copies: %.2f to %.2f s; %.2f s before the growth)\n",
                    static_cast<long long>(growth.references.size()), fastest->installSeconds, slowest->installSeconds,
                    medianOf(oneCopyRounds).installSeconds);
        const QString label = QStringLiteral("%1x: the last copy beside %2 others").arg(copies).arg(copies - 1);
        const double lastPace = double(growth.lastPages) / growth.lastSeconds;
        std::printf("%-48s %10.2f %12.0f\n", qPrintable(label), growth.lastSeconds, lastPace);
        std::printf("%-48s %10.2f\n", "ratio pages/s at the larger store / 1x", lastPace / firstPace);
        // The last copy may or may not be the one that merges the runs of
        // shingles; every copy after the first carries its share.
        std::printf("%-48s %10.2f\n", "ratio pages/s over every later copy / 1x",
                    (double(growth.lastPages) * (copies - 1) / growth.laterSeconds) / firstPace);
        // Merges of full runs of shingles are spread over the copies after
        // them: no copy should wait much longer than the others.
        const double middle = median(growth.copySeconds);
        const double longest = *std::max_element(growth.copySeconds.cbegin(), growth.copySeconds.cend());
        std::printf("%-48s %10.2f\n", "median later copy, seconds", middle);
        std::printf("%-48s %10.2f\n", "longest later copy, seconds", longest);
        std::printf("%-48s %10.2f\n", "ratio longest / median later copy", longest / middle);
        if (reuse) {
            const auto [fewest, most] = std::minmax_element(growth.runsRead.cbegin(), growth.runsRead.cend());
            double sum = 0;
            for (const std::int64_t runs : growth.runsRead)
                sum += double(runs);
            std::printf("%-48s %10.1f\n", "runs of shingles a lookup reads, mean", sum / double(growth.runsRead.size()));
            std::printf("  (after each later copy: %lld to %lld)\n", static_cast<long long>(*fewest),
                        static_cast<long long>(*most));
            double lookups = 0;
            for (const double seconds : growth.lookupSeconds)
                lookups += seconds;
            std::printf("%-48s %10.2f\n", "lookup of 500 shingles, mean ms", 1000 * lookups / double(growth.lookupSeconds.size()));
            std::printf("%-48s %10.2f\n", "  the same after the last copy, ms", 1000 * growth.lookupSeconds.last());
            std::printf("  (each, ms:");
            for (const double seconds : growth.lookupSeconds)
                std::printf(" %.1f", 1000 * seconds);
            std::printf(")\n");
        }
        std::printf("  (each later copy, seconds:");
        for (const double seconds : growth.copySeconds)
            std::printf(" %.1f", seconds);
        std::printf(")\n\n");
    };
    printGrowth(plainGrowth, firstRounds, "store size, plain install", false);
    printGrowth(reuseGrowth, reuseRounds, "store size, with text-reuse data", true);
    std::printf("%-48s %10.2f %12.0f\n", "update: the first copy installed again", againSeconds,
                double(first.pages) / againSeconds);
    std::printf("\nstored rows against the reference: first copies %s, update %s\n",
                firstDiffer == 0 ? "same" : "DIFFER",
                updateDiffer < 0 ? "not compared" : updateDiffer == 0 ? "same" : "DIFFER");
    if (reference.failedAny()) {
        std::fprintf(stderr, "bench_install: stored rows differ from the reference list\n");
        return 1;
    }
    return 0;
}
