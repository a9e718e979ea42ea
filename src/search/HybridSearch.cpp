#include "search/HybridSearch.h"

#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "search/Lexical.h"
#include "search/SemanticIndex.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace quorvel {

namespace {

const QString pagesSQL = QStringLiteral(
    "SELECT p.id, p.book_id, p.seq, CAST(p.vol AS TEXT), p.page_num, substr(p.content,1,170) AS preview,\n"
    "       b.title AS book_title, a.name AS author\n"
    "FROM pages p JOIN books b ON b.id=p.book_id\n"
    "LEFT JOIN authors a ON a.id=b.author_id WHERE p.id IN (");

const QString keywordTag = QStringLiteral("kw");
const QString vectorTag = QStringLiteral("vec");

} // namespace

QList<HybridHit> hybridSearch(SQLiteDB& db, const SemanticIndex* index, const QString& query, int k, int rrf,
                              int pool)
{
    // A negative pool would mean "no limit" to the lexical search.
    if (k < 1 || pool < 1)
        return {};

    QHash<std::int64_t, double> score;
    QHash<std::int64_t, QSet<QString>> tags;
    QList<std::int64_t> seen; // in order of first appearance
    auto add = [&](std::int64_t page, qsizetype rank, const QString& tag) {
        if (!score.contains(page))
            seen.append(page);
        score[page] += 1.0 / double(std::int64_t(rrf) + rank + 1);
        tags[page].insert(tag);
    };

    const QList<LexicalHit> lexical = Lexical::search(db, query, pool, 0);
    for (qsizetype r = 0; r < lexical.size(); ++r)
        add(lexical[r].pageId, r, keywordTag);

    if (index) {
        if (const auto q = index->embed(query)) {
            const auto best = index->vectorTopK(*q, std::min<qsizetype>(index->rows(), pool), std::nullopt, &db);
            for (size_t r = 0; r < best.size(); ++r)
                add(best[r].pageId, qsizetype(r), vectorTag);
        }
    }

    QList<std::int64_t> kept = Py::stableSorted(seen, [&](std::int64_t a, std::int64_t b) {
        return score.value(a) > score.value(b);
    });
    if (kept.size() > k)
        kept.resize(k);
    if (kept.isEmpty())
        return {};

    // One statement unless the ids exceed the connection's parameter limit.
    QHash<std::int64_t, Statement::Row> rows;
    const qsizetype slice = db.maxParameters();
    for (qsizetype from = 0; from < kept.size(); from += slice) {
        const QList<std::int64_t> part = kept.mid(from, slice);
        SQLArgs args;
        args.reserve(part.size());
        for (std::int64_t id : part)
            args.append(id);
        for (const auto& row : db.rows(pagesSQL + SQLiteDB::marks(part.size()) + QLatin1Char(')'), args)) {
            if (const auto id = row.integer(0))
                rows.insert(*id, row);
        }
    }

    QList<HybridHit> hits;
    for (std::int64_t id : kept) {
        const auto row = rows.constFind(id);
        if (row == rows.cend())
            continue;
        HybridHit hit;
        hit.pageId = id;
        hit.bookId = row->integer(1).value_or(0);
        hit.seq = row->integer(2).value_or(0);
        hit.vol = row->str(3);
        hit.pageNum = row->integer(4);
        hit.preview = row->str(5).value_or(QString());
        hit.bookTitle = row->str(6).value_or(QString());
        hit.author = row->str(7);
        hit.score = score.value(id);
        QStringList sources = tags.value(id).values();
        std::sort(sources.begin(), sources.end());
        hit.src = sources.join(u'+');
        hits.append(hit);
    }
    return hits;
}

} // namespace quorvel
