#pragma once

// One ranked list of pages for a free-text question, fused from the lexical
// ranking (BM25 over the full-text index) and the meaning-based ranking of
// the semantic index by reciprocal rank fusion: each list adds
// 1 / (rrf + rank) to a page, rank counted from 1. Without a semantic index
// the result is the lexical ranking alone.

#include "search/PagePlace.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

class SQLiteDB;
class SemanticIndex;

// Book and sequence are 0 where the page's columns are null.
struct HybridHit : PagePlace
{
    QString preview;                // the first characters of the stored page
    double score = 0;               // fused; higher is better
    QString src;                    // "kw", "vec" or "kw+vec"
};

namespace Hybrid {
inline constexpr int defaultK = 20;
inline constexpr int defaultRRF = 60;
inline constexpr int defaultPool = 60;
// Characters of the page's stored text in `preview`, as SQLite counts them.
inline constexpr int previewLength = 170;
} // namespace Hybrid

// The best `k` pages for `query`, each list contributing its best `pool`
// candidates; `index` may be null. Pages whose row or book row is missing are
// dropped, so fewer than `k` may come back. A k or pool below 1 gives none.
// Runs on the calling thread, on `db` only.
QList<HybridHit> hybridSearch(SQLiteDB& db, const SemanticIndex* index, const QString& query,
                              int k = Hybrid::defaultK, int rrf = Hybrid::defaultRRF,
                              int pool = Hybrid::defaultPool);

} // namespace quorvel
