// Passage retrieval on the sample library. For each of twenty questions the
// median time of AIAssistant::retrieve (k 5, perBook 2) beside its parts done
// bare in the same run: the FTS5 statements with the same MATCH expressions
// and LIMIT 300 (the AND pass, and the OR pass when AND finds fewer than k
// pages), the page(id) reads of the passages, and their windows. The baseline
// is the statements plus the page reads; target: retrieve <= 1.3x baseline.
// Then each question's passages with their citations.
//
//   bench_retrieval [--repeat N] [--smart 1]   (--smart 1 keeps the semantic index)

#include "../common/AssistantQuestions.h"
#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/SampleStore.h"
#include "assistant/AIAssistant.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/SharedMeaningIndex.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace quorvel;

namespace {

constexpr int defaultRepeats = 9;
constexpr int k = 5;
constexpr int perBook = 2;

const QString ftsStatement = QStringLiteral(
    "SELECT page_id, book_id, bm25(pages_fts) FROM pages_fts WHERE pages_fts MATCH ? "
    "ORDER BY bm25(pages_fts) LIMIT 300");

// Runs the passes retrieve runs without a semantic index; the number of
// candidate rows, and how many passes ran.
std::pair<int, int> barePasses(SQLiteDB& db, const QStringList& groups)
{
    int rows = 0;
    int passes = 0;
    for (const QString& joiner : {QStringLiteral(" AND "), QStringLiteral(" OR ")}) {
        if (rows >= k)
            break;
        ++passes;
        auto statement = db.prepare(ftsStatement);
        if (!statement)
            break;
        statement->bind({groups.join(joiner)});
        while (statement->step()) {
            if (statement->integer(0) && statement->integer(1))
                ++rows;
        }
    }
    return {rows, passes};
}

QString shortened(const QString& text, int chars)
{
    return text.size() <= chars ? text : text.left(chars) + QStringLiteral("…");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);
    const bool smart = args.number(QStringLiteral("--smart"), 0, 0) != 0;

    QTemporaryDir dir;
    const auto opened = bench::assistantLibrary(dir.path(), smart);
    if (!opened)
        return 1;
    const bench::InstalledStore* store = &opened->store;
    const std::shared_ptr<Library> lib = opened->lib;
    const std::shared_ptr<SQLiteDB> db = opened->db;
    const bool hybrid = smart && SharedMeaningIndex::index();
    std::printf("sample library: %lld pages, %lld books; semantic index: %s; median of %d runs\n\n",
                (long long)store->pages, (long long)store->books, hybrid ? "loaded (hybrid step runs)" : "none",
                repeats);
    std::printf("%-3s %-6s %4s %11s %8s %9s %10s %11s %7s\n", "#", "passes", "n", "retrieve ms", "FTS ms",
                "pages ms", "windows ms", "baseline ms", "ratio");

    double sumRetrieve = 0;
    double sumBaseline = 0;
    double sumWindows = 0;
    QStringList listing;
    int number = 0;
    for (const QString& question : bench::assistantQuestions()) {
        ++number;
        const QStringList terms = AIAssistant::terms(question);
        const QStringList groups = AIAssistant::termGroups(terms);
        const QList<Passage> passages = AIAssistant::retrieve(*lib, question, k, std::nullopt, perBook);
        QList<std::int64_t> ids;
        QStringList contents;
        for (const Passage& p : passages) {
            ids << p.pageId;
            contents << lib->page(p.pageId).value_or(Page{}).content.replace(
                QStringLiteral("__________"), QStringLiteral("\n[الحاشية]\n"));
        }
        int passes = 0;
        const auto t = bench::medians(repeats, {
            [&] { AIAssistant::retrieve(*lib, question, k, std::nullopt, perBook); },
            [&] { passes = barePasses(*db, groups).second; },
            [&] {
                for (const std::int64_t id : ids)
                    lib->page(id);
            },
            [&] {
                for (const QString& content : contents)
                    AIAssistant::window(content, terms, AIAssistant::windowChars.load());
            },
        });
        const double baseline = t[1] + t[2];
        sumRetrieve += t[0];
        sumBaseline += baseline;
        sumWindows += t[3];
        std::printf("%-3d %-6s %4lld %11.2f %8.2f %9.2f %10.2f %11.2f %7.2f\n", number,
                    passes == 2 ? "AND+OR" : "AND", (long long)passages.size(), t[0], t[1], t[2], t[3], baseline,
                    baseline > 0 ? t[0] / baseline : 0.0);
        listing << QStringLiteral("%1. %2  [%3]").arg(number).arg(question, terms.join(QStringLiteral("، ")));
        for (const Passage& p : passages)
            listing << QStringLiteral("   [%1] %2 — %3").arg(p.n).arg(p.citation(), shortened(p.text.simplified(), 90));
    }
    std::printf("\nall questions: retrieve %.2f ms, baseline %.2f ms (windows %.2f ms): ratio %.2f (target <= 1.30)\n",
                sumRetrieve, sumBaseline, sumWindows, sumBaseline > 0 ? sumRetrieve / sumBaseline : 0.0);

    std::printf("\npassages:\n");
    for (const QString& line : listing)
        std::printf("%s\n", qPrintable(line));
    return 0;
}
