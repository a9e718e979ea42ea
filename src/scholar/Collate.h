#pragma once

// Collation of a page with the matching page of another book (another
// edition or copy of the same work): the other book's page sharing the most
// four-word shingles with it, aligned word by word, with the edit operations
// and a similarity percentage: the share of the two pages' words that match.
// Words are compared by their exact code units less their punctuation, so a
// comma after a word is no difference but a diacritic or another Unicode form
// of a letter is; punctuation standing alone goes with the word before it.
// Stateless; reads the library through the connection it is given.

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

class Library;
class SQLiteDB;
struct Page;

struct CollateOp {
    QString tag; // "equal", "replace", "delete" or "insert"
    QString a;   // the given page's words, joined by single spaces
    QString b;   // the other page's words
    bool operator==(const CollateOp&) const = default;
};

struct CollateResult {
    QList<CollateOp> ops;
    std::int64_t ratio = 0; // percent
    std::int64_t otherPageId = 0;
    std::int64_t otherBookId = 0;
    std::int64_t otherSeq = 0;
    std::optional<std::int64_t> otherPageNum;
    QString otherTitle;
};

namespace Collate {

// The page of `otherBookId` holding the most of the page's shingles; nothing
// when the page has none or none occurs in that book.
std::optional<std::int64_t> matchPage(SQLiteDB& db, std::int64_t pageId, std::int64_t otherBookId);

// Where another edition holds the page: its match, else the other book's
// entry of the same heading as the page's entry (for books installed without
// shingles); nothing when neither is found.
std::optional<Page> counterpart(Library& lib, const Page& page, std::int64_t otherBookId);

// The collation of the page with its match in `otherBookId`; nothing without a match.
std::optional<CollateResult> run(SQLiteDB& db, std::int64_t pageId, std::int64_t otherBookId);

// The operations and percentage of two texts split at white space.
CollateResult compare(const QString& a, const QString& b);

} // namespace Collate
} // namespace quorvel
