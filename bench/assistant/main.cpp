// The answer path without a model (QUORVEL_NO_MODEL), on the sample library:
// for twenty questions in each of the modes auto, answer and report, the
// median time of AIAssistant::run split into retrieval, the extractive
// sentences, and a ground() of a scripted reply holding ten quotations of the
// same passages; beside, in the same run, the bare FTS5 statements of the
// retrieval and one normalisation of the passages' texts.
// Targets: extractive + ground <= 0.3x retrieval; ground <= 3x normalisation.
//
//   bench_assistant [--repeat N]

#include "../common/AssistantQuestions.h"
#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/SampleStore.h"
#include "assistant/AIAssistant.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace quorvel;

namespace {

constexpr int defaultRepeats = 7;
constexpr int quotations = 10;

const QString ftsStatement = QStringLiteral(
    "SELECT page_id, book_id, bm25(pages_fts) FROM pages_fts WHERE pages_fts MATCH ? "
    "ORDER BY bm25(pages_fts) LIMIT 300");

void barePasses(SQLiteDB& db, const QStringList& groups, int k)
{
    int rows = 0;
    for (const QString& joiner : {QStringLiteral(" AND "), QStringLiteral(" OR ")}) {
        if (rows >= k)
            break;
        auto statement = db.prepare(ftsStatement);
        if (!statement)
            break;
        statement->bind({groups.join(joiner)});
        while (statement->step()) {
            if (statement->integer(0) && statement->integer(1))
                ++rows;
        }
    }
}

// A model reply as a model writes it: a sentence of prose, then ten
// quotations of eight words each, taken in turn from the passages at
// different places.
QString scriptedReply(const QList<Passage>& passages)
{
    QString reply = QStringLiteral("الجواب في النصوص التالية كما نقلها أهل العلم.\n");
    for (int i = 0; i < quotations && !passages.isEmpty(); ++i) {
        const Passage& p = passages[i % passages.size()];
        const QStringList words = p.text.split(u' ', Qt::SkipEmptyParts);
        const qsizetype room = std::max<qsizetype>(1, words.size() - 8);
        const qsizetype from = (qsizetype(i) * 37) % room;
        reply += QStringLiteral("«") + words.mid(from, 8).join(u' ') + QStringLiteral("» [") + QString::number(p.n)
            + QStringLiteral("]\n");
    }
    return reply;
}

struct Totals {
    double run = 0, retrieval = 0, extractive = 0, ground = 0, fts = 0, normalise = 0;
    int quotes = 0, failed = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);

    QTemporaryDir dir;
    qputenv("QUORVEL_NO_MODEL", "1");
    const auto opened = bench::assistantLibrary(dir.path(), false);
    if (!opened)
        return 1;
    const bench::InstalledStore* store = &opened->store;
    const std::shared_ptr<Library> lib = opened->lib;
    const std::shared_ptr<SQLiteDB> db = opened->db;
    std::printf("sample library: %lld pages; no model, no semantic index; %d questions per mode, median of %d runs\n"
                "(sums over the questions, ms)\n\n",
                (long long)store->pages, int(bench::assistantQuestions().size()), repeats);
    std::printf("%-7s %8s %10s %11s %8s %8s %10s %8s %14s %12s\n", "mode", "run", "retrieval", "extractive",
                "ground", "FTS", "normalise", "quotes", "(ext+gr)/retr", "ground/norm");

    for (const AIMode mode : {AIMode(AIMode::automatic), AIMode(AIMode::answer), AIMode(AIMode::report)}) {
        const int k = mode == AIMode::report ? 8 : 5;
        Totals sum;
        for (const QString& question : bench::assistantQuestions()) {
            const QStringList groups = AIAssistant::termGroups(AIAssistant::terms(question));
            const QList<Passage> passages = AIAssistant::retrieve(*lib, question, k);
            const QString reply = scriptedReply(passages);
            const AIAssistant::Grounded g = AIAssistant::ground(reply, passages);
            sum.quotes += g.quotes;
            sum.failed += g.failed;
            const auto t = bench::medians(repeats, {
                [&] { AIAssistant::run(*lib, question, mode); },
                [&] { AIAssistant::retrieve(*lib, question, k); },
                [&] { AIAssistant::extractive(question, passages, 4); },
                [&] { AIAssistant::ground(reply, passages); },
                [&] { barePasses(*db, groups, k); },
                [&] {
                    for (const Passage& p : passages)
                        Arabic::normalize(p.text);
                },
            });
            sum.run += t[0];
            sum.retrieval += t[1];
            sum.extractive += t[2];
            sum.ground += t[3];
            sum.fts += t[4];
            sum.normalise += t[5];
        }
        std::printf("%-7s %8.2f %10.2f %11.2f %8.2f %8.2f %10.2f %4d/%-3d %14.3f %12.2f\n", qPrintable(mode.rawValue()),
                    sum.run, sum.retrieval, sum.extractive, sum.ground, sum.fts, sum.normalise, sum.quotes,
                    sum.quotes + sum.failed, sum.retrieval > 0 ? (sum.extractive + sum.ground) / sum.retrieval : 0.0,
                    sum.normalise > 0 ? sum.ground / sum.normalise : 0.0);
    }
    std::printf("\ntargets: (extractive + ground) / retrieval <= 0.30; ground / normalisation <= 3.00\n");
    return 0;
}
