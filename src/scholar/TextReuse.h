#pragma once

// Text reuse by word shingles: where the text of a page occurs again in other
// books, and which other books are editions of the same work.
//
// A shingle is a run of `n` consecutive words of the page's normal form
// (rasm folded), joined by single spaces and reduced to its CRC-32. The book
// installer stores each distinct shingle hash of a page in the `shingles`
// table with `shingleHashes`; the queries here only read that table, the
// catalogue and the pages, so both sides must use this one recipe.

#include "search/PagePlace.h"

#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace quorvel {

class SQLiteDB;

namespace TextReuse {

// Words per shingle.
inline constexpr int n = 4;
// The usual least number of shared rare shingles for a page to be a source.
inline constexpr int minShared = 3;
// A shingle found in more than this many distinct books is common, not evidence.
inline constexpr int maxDF = 6;
// Distinct hashes of a book, spread over all its pages, sampled to find its editions.
inline constexpr int editionSample = 200;
// Hashes with more rows than this are read only for books that may still
// reach the editions threshold.
inline constexpr std::int64_t heavyHashRows = 1000;

struct ReuseHit : PagePlace
{
    std::int64_t shared = 0;  // the queried page's rare shingles this page also has
    QString phrase;     // the longest shared passage, in this page's own words
};

struct EditionHit
{
    std::int64_t bookId = 0;
    QString title;
    std::optional<QString> author;
    std::int64_t pct = 0; // share of the queried book's sampled shingles, percent
};

// The hash of every window of `n` words of `normalized` (text already in the
// normal form, words separated by spaces), one per window position, in order.
// Fewer than `n` words give none.
QList<std::int64_t> windowHashes(const QString& normalized, int n = TextReuse::n);

// The distinct shingle hashes of a page's stored text, in order of first
// occurrence: what the installer stores for the page. Each lies in
// 0..4294967295.
QList<std::int64_t> shingleHashes(const QString& pageText);

// The same for text that is already `Arabic::normalize(text, true)`, so that
// the installer normalises each page once.
QList<std::int64_t> shingleHashesOfNormalized(const QString& normalized);

// Whether the library holds any text-reuse shingles at all: a store
// installed without them can find no source for any page.
bool installed(SQLiteDB& db);

// Whether any shingle of the book is stored (a library installed without
// shared-passage data holds none).
bool hasShingles(SQLiteDB& db, std::int64_t bookId);

// The distinct hashes stored for one page, in row order.
QList<std::int64_t> pageHashes(SQLiteDB& db, std::int64_t pageId);

// The hashes among `hashes` that occur in more than `maxDF` distinct books.
QSet<std::int64_t> commonHashes(SQLiteDB& db, const QList<std::int64_t>& hashes);

// Pages of other books sharing at least `minShared` of the page's rare
// shingles, most shared first, at most `limit`.
QList<ReuseHit> sources(SQLiteDB& db, std::int64_t pageId, int minShared, int limit);

// The longest passage of `text` made of consecutive windows whose hashes are
// in `hashes`, in the text's own words where they line up with the normal
// form; empty when no window is in the set.
QString sharedPhrase(const QString& text, const QSet<std::int64_t>& hashes, int n = TextReuse::n);

// Books sharing at least `minFrac` of a sample of the book's shingles, the
// largest share first, at most `limit`.
QList<EditionHit> editions(SQLiteDB& db, std::int64_t bookId, double minFrac = 0.4, int limit = 5);

// For each other book sharing at least `need` of the sampled hashes: (book
// id, shared count), in ascending book id.
QList<std::pair<std::int64_t, std::int64_t>> sharedCounts(SQLiteDB& db, std::int64_t bookId,
                                              const QList<std::int64_t>& sample, std::int64_t need);

} // namespace TextReuse
} // namespace quorvel
