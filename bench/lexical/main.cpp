// Lexical ranked search and concordance time. Lexical::search (limit 20) for
// four kinds of query beside, on the same connection and with the same FTS5
// expression: (a) the bare ranking query over the index alone, and (b) the
// full ranking statement (pages, books and authors joined, excerpts made) run
// directly through SQLiteDB, so that search/(b) is what the C++ side adds
// and (b)/(a) the price of the statement itself. Concordance::lookup is timed
// beside a bare COUNT(*) of the same phrase. The library is the sample corpus,
// or the corpus catalogue given with --corpus, repeated --scale times.
//
//   bench_lexical [--corpus catalog.json] [--scale N] [--repeat N]

#include "../common/BenchArgs.h"
#include "../common/CorpusLibrary.h"
#include "../common/Medians.h"
#include "core/SQLiteDB.h"
#include "scholar/Concordance.h"
#include "search/Lexical.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

using namespace quorvel;

namespace {

constexpr int defaultScale = 8;
constexpr int defaultRepeats = 7;
constexpr int limit = 20;

struct Case {
    const char* name;
    QString query;
    QString op = QStringLiteral("AND");
};

QList<Case> cases()
{
    return {
        {"rare word", QString::fromUtf8("الغلس")},
        {"common word", QString::fromUtf8("الله")},
        {"wal- word (4 alts)", QString::fromUtf8("والصلاة")},
        {"two words AND", QString::fromUtf8("رسول صلى")},
    };
}

const QString bareRanking = QStringLiteral(
    "SELECT rowid, bm25(pages_fts) FROM pages_fts WHERE pages_fts MATCH ? ORDER BY rank LIMIT 20");
const QString bareCount = QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?");


// Total matches of an expression, for the table.
qint64 matches(SQLiteDB& db, const QString& expr)
{
    return db.scalarInt(bareCount, {expr}).value_or(0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); i += 2) {
        if ((args[i] != "--corpus" && args[i] != "--scale" && args[i] != "--repeat") || i + 1 >= args.size()) {
            std::fprintf(stderr, "usage: bench_lexical [--corpus catalog.json] [--scale N] [--repeat N]\n");
            return 2;
        }
    }
    const bench::BenchArgs options(args);
    QString catalogPath = options.text("--corpus", bench::sampleCatalogPath());
    if (QFileInfo(catalogPath).isDir())
        catalogPath += "/catalog.json";
    const int scale = options.number("--scale", defaultScale, 1);
    const int repeats = options.number("--repeat", defaultRepeats, 1);

    QTemporaryDir dir;
    const QString dbPath = dir.filePath("library.db");
    QElapsedTimer buildTimer;
    buildTimer.start();
    const auto built = bench::buildCorpusLibrary(catalogPath, scale, dbPath);
    if (!built) {
        std::fprintf(stderr, "cannot build a library from %s\n", qPrintable(catalogPath));
        return 1;
    }
    auto db = SQLiteDB::open(dbPath, true);
    if (!db) {
        std::fprintf(stderr, "cannot open the built library\n");
        return 1;
    }
    std::printf("library: %lld pages (%d copies of %s), built in %.0f ms; median of %d runs, limit %d\n\n",
                (long long)*built, scale, qPrintable(QFileInfo(catalogPath).fileName()),
                double(buildTimer.elapsed()), repeats, limit);

    std::printf("%-20s %8s %10s %10s %10s %9s %9s\n", "query", "matches", "search ms", "(a) ms",
                "(b) ms", "srch/(b)", "srch/(a)");
    QStringList tops;
    for (const Case& c : cases()) {
        const QString expr = Lexical::ftsQuery(c.query, c.op);
        QList<LexicalHit> hits;
        const auto t = bench::medians(repeats, {
            [&] { hits = Lexical::search(*db, c.query, limit, 0, c.op); },
            [&] { db->rows(bareRanking, {expr}); },
            [&] { db->rows(Lexical::searchSQL, {expr, limit, 0}); },
        });
        std::printf("%-20s %8lld %10.2f %10.2f %10.2f %9.2f %9.2f\n", c.name, (long long)matches(*db, expr),
                    t[0], t[1], t[2], t[2] > 0 ? t[0] / t[2] : 0.0, t[1] > 0 ? t[0] / t[1] : 0.0);
        tops << QStringLiteral("%1 [%2]: %3 | %4")
                    .arg(QString::fromUtf8(c.name), expr,
                         hits.isEmpty() ? QStringLiteral("-") : hits.first().bookTitle,
                         hits.isEmpty() ? QString() : hits.first().snippet);
    }

    std::printf("\n%-20s %8s %10s %10s %9s\n", "concordance", "pages", "lookup ms", "count ms", "ratio");
    const std::pair<const char*, const char*> phrases[] = {
        {"common word", "الله"}, {"two-word phrase", "رسول الله"}, {"rare word", "الغلس"}};
    for (const auto& [name, phrase] : phrases) {
        const QString word = QString::fromUtf8(phrase);
        const QString expr = Concordance::expression(word).value_or(QString());
        Concordance::Result result;
        const auto t = bench::medians(repeats, {
            [&] { result = Concordance::lookup(*db, word, 10); },
            [&] { db->scalarInt(bareCount, {expr}); },
        });
        std::printf("%-20s %8lld %10.2f %10.2f %9.2f\n", name, (long long)result.pages, t[0],
                    t[1], t[1] > 0 ? t[0] / t[1] : 0.0);
    }

    std::printf("\ntop hits:\n");
    for (const QString& line : tops)
        std::printf("  %s\n", qPrintable(line));
    return 0;
}
