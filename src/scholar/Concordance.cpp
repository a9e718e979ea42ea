#include "scholar/Concordance.h"

#include "core/Arabic.h"
#include "core/SQLiteDB.h"
#include "search/SearchEngine.h"

#include <algorithm>

namespace quorvel::Concordance {

std::optional<QString> expression(const QString& word)
{
    const QStringList tokens = Arabic::tokens(word);
    if (tokens.isEmpty())
        return std::nullopt;
    return SearchEngine::quote(tokens.join(QLatin1Char(' ')));
}

Result lookup(SQLiteDB& db, const QString& word, int top)
{
    Result result;
    const auto expr = expression(word);
    if (!expr)
        return result;

    // The page id list comes from the index; the grouping walks the pages
    // in book order through their index.
    const auto rows = db.rows(QStringLiteral(
                                  "SELECT book_id, COUNT(*) FROM pages INDEXED BY idx_pages_book\n"
                                  "WHERE id IN (SELECT rowid FROM pages_fts WHERE pages_fts MATCH ?) "
                                  "GROUP BY book_id"),
                              {*expr});
    QList<BookCount> counts;
    counts.reserve(rows.size());
    for (const auto& row : rows) {
        const auto bookId = row.integer(0);
        if (!bookId)
            continue;
        const std::int64_t count = row.integer(1).value_or(0);
        counts.append({*bookId, count});
        result.pages += count;
    }
    result.books = counts.size();

    std::sort(counts.begin(), counts.end(), [](const BookCount& a, const BookCount& b) {
        return a.count != b.count ? a.count > b.count : a.bookId < b.bookId;
    });
    counts.resize(std::min<qsizetype>(counts.size(), std::max(top, 0)));
    result.top = counts;
    return result;
}

} // namespace quorvel::Concordance
