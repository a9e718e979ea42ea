// The report builders on the sample library, without a model: for five
// questions per mode, each builder's median time beside the same searches run
// bare in the same run (the retrieve calls it makes, the search engine's run
// of takhrij's phrase, the grouped counts of sources and the phrase count of
// term); the difference is the choosing and writing of the report.
// Target: a builder <= 1.2x its searches.
//
//   bench_reports [--repeat N]

#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/SampleStore.h"
#include "assistant/AIAssistant.h"
#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/SearchEngine.h"
#include "search/SearchHit.h"
#include "search/SearchQuery.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace quorvel;

namespace {

constexpr int defaultRepeats = 5;

struct ModeCase {
    AIMode mode;
    QStringList questions;
};

QList<ModeCase> cases()
{
    return {
        {AIMode::views, {"صلاة الجماعة", "المسح على الخفين", "القراءة خلف الإمام", "بيع الغرر", "زكاة الفطر"}},
        {AIMode::history, {"صلاة الجماعة", "نكاح المتعة", "الوضوء من لحوم الإبل", "صيام عاشوراء", "التيمم"}},
        {AIMode::term, {"الغرر", "التيمم", "الصعيد", "الخرنق", "العلم"}},
        {AIMode::biography, {"ابن حجر العسقلاني", "مالك بن أنس", "الشافعي", "ابن ماجه", "أبو داود"}},
        {AIMode::takhrij,
         {"إنما الأعمال بالنيات", "صلاة الجماعة تفضل صلاة الفذ", "من كذب علي متعمدا", "الدين النصيحة",
          "بني الإسلام على خمس"}},
        {AIMode::sources, {"الزكاة", "الصلاة", "الصيام", "الحج", "البيوع"}},
    };
}

const QString groupedCount = QStringLiteral(
    "SELECT book_id, count(*) FROM pages_fts WHERE pages_fts MATCH ? GROUP BY book_id ORDER BY 2 DESC");
const QString phraseCount =
    QStringLiteral("SELECT count(*), count(DISTINCT book_id) FROM pages_fts WHERE pages_fts MATCH ?");

// The searches a builder runs for one question, done bare.
std::function<void()> searchesOf(Library& lib, SQLiteDB& db, AIMode mode, const QString& q)
{
    switch (mode) {
    case AIMode::views:
        return [&lib, q] { AIAssistant::retrieve(lib, q, 16, std::nullopt, 1); };
    case AIMode::history:
        return [&lib, q] { AIAssistant::retrieve(lib, q, 20, std::nullopt, 1); };
    case AIMode::term: {
        const QSet<std::int64_t> lexicons = Reports::books(lib, Reports::lexiconKeys());
        QSet<std::int64_t> others;
        for (const Book& b : lib.books())
            others.insert(b.id);
        others.subtract(lexicons);
        return [&lib, &db, q, lexicons, others] {
            if (!lexicons.isEmpty())
                AIAssistant::retrieve(lib, q, 8, lexicons, 1);
            AIAssistant::retrieve(lib, q, 10, others, 1);
            db.rows(phraseCount, {SearchEngine::quote(Arabic::normalize(q))});
        };
    }
    case AIMode::biography: {
        // Retrieval's pool and the name as a phrase («بن» also «ابن»), in the
        // dictionaries and, when they give fewer than three passages, everywhere.
        const QSet<std::int64_t> tarajim = Reports::books(lib, Reports::tarajimKeys());
        qsizetype fromTarajim = 0;
        for (const Passage& p : Reports::biography(lib, q, std::nullopt).passages)
            fromTarajim += tarajim.contains(p.bookId) ? 1 : 0;
        const bool topUp = fromTarajim < 3;
        QStringList phrases{QString()};
        for (const QString& w : Arabic::tokens(q)) {
            QStringList grown;
            for (const QString& v : phrases) {
                for (const QString& spelling : w == QStringLiteral("بن") || w == QStringLiteral("ابن")
                         ? QStringList{QStringLiteral("بن"), QStringLiteral("ابن")}
                         : QStringList{w})
                    grown << (v.isEmpty() ? spelling : v + u' ' + spelling);
            }
            phrases = grown;
        }
        for (QString& v : phrases)
            v = SearchEngine::quote(v);
        const QString phrase = phrases.join(QStringLiteral(" OR "));
        QStringList ids;
        for (const std::int64_t id : tarajim)
            ids << QString::number(id);
        const QString named = QStringLiteral("SELECT page_id FROM pages_fts WHERE pages_fts MATCH ?");
        const QString order = QStringLiteral(" ORDER BY bm25(pages_fts) LIMIT 300");
        const QString inTarajim = named + QStringLiteral(" AND book_id IN (") + ids.join(u',') + u')' + order;
        return [&lib, &db, q, tarajim, topUp, phrase, inTarajim, everywhere = named + order] {
            AIAssistant::retrieve(lib, q, 40, tarajim, 4);
            db.rows(inTarajim, {phrase});
            if (topUp) {
                AIAssistant::retrieve(lib, q, 40, std::nullopt, 4);
                db.rows(everywhere, {phrase});
            }
        };
    }
    case AIMode::takhrij:
        return [&lib, q] {
            SearchQuery query;
            query.andPhrases = {Arabic::tokens(q).mid(0, 12).join(u' ')};
            query.inNotes = false;
            SearchEngine engine(lib);
            engine.run(query, 50000, [](const QList<SearchHit>&, bool) {});
        };
    case AIMode::sources: {
        const QStringList groups = AIAssistant::termGroups(AIAssistant::terms(q));
        return [&lib, &db, q, groups] {
            QList<std::int64_t> top;
            for (const QString& joiner : {QStringLiteral(" AND "), QStringLiteral(" OR ")}) {
                if (!top.isEmpty())
                    break;
                for (const auto& row : db.rows(groupedCount, {groups.join(joiner)})) {
                    if (row.integer(0) && top.size() < 4)
                        top << *row.integer(0);
                }
            }
            for (const std::int64_t book : top)
                AIAssistant::retrieve(lib, q, 1, QSet<std::int64_t>{book}, 1);
        };
    }
    default:
        return [] {};
    }
}

Reports::Built build(Library& lib, AIMode mode, const QString& q)
{
    switch (mode) {
    case AIMode::views: return Reports::views(lib, q, std::nullopt);
    case AIMode::history: return Reports::history(lib, q, std::nullopt);
    case AIMode::term: return Reports::term(lib, q, std::nullopt);
    case AIMode::biography: return Reports::biography(lib, q, std::nullopt);
    case AIMode::takhrij: return Reports::takhrij(lib, q, std::nullopt);
    case AIMode::sources: return Reports::sources(lib, q, std::nullopt);
    default: return {};
    }
}

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
    std::printf("sample library: %lld pages; five questions per mode, median of %d runs (sums, ms)\n\n",
                (long long)store->pages, repeats);
    std::printf("%-10s %10s %11s %10s %7s %9s\n", "mode", "builder", "searches", "writing", "ratio", "passages");
    for (const ModeCase& c : cases()) {
        double builder = 0;
        double searches = 0;
        qsizetype passages = 0;
        for (const QString& q : c.questions) {
            passages += build(*lib, c.mode, q).passages.size();
            const auto bare = searchesOf(*lib, *db, c.mode, q);
            const auto t = bench::medians(repeats, {[&] { build(*lib, c.mode, q); }, bare});
            builder += t[0];
            searches += t[1];
        }
        std::printf("%-10s %10.2f %11.2f %10.2f %7.2f %9lld\n", qPrintable(c.mode.rawValue()), builder, searches,
                    builder - searches, searches > 0 ? builder / searches : 0.0, (long long)passages);
    }
    std::printf("\ntarget: builder / searches <= 1.20 (takhrij: against the engine's run of its phrase)\n");
    return 0;
}
