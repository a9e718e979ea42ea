#pragma once

// How widely a word or a short phrase is used across the library: the pages
// that hold it, the books they belong to and the books that use it most.
// Counted through the full-text index with one grouped query; no page text
// is read.

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

class SQLiteDB;

namespace Concordance {

struct BookCount
{
    std::int64_t bookId = 0;
    std::int64_t count = 0; // matching pages of the book
    bool operator==(const BookCount&) const = default;
};

struct Result
{
    std::int64_t pages = 0; // matching pages in the whole library
    std::int64_t books = 0; // books with at least one matching page
    QList<BookCount> top;   // most matching pages first, then lower book id
    bool operator==(const Result&) const = default;
};

// The tokens of `word` as one FTS5 phrase, so several words match only
// side by side and in order; nothing when it has no token.
std::optional<QString> expression(const QString& word);

// The counts of `word` and its `top` books (a negative `top` counts as 0).
// No token, or a query that fails, gives zeros and no books.
Result lookup(SQLiteDB& db, const QString& word, int top);

} // namespace Concordance
} // namespace quorvel
