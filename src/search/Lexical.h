#pragma once

// Ranked full-text search over `pages_fts`: each word of a query is expanded
// into alternatives (the word, its stem after one leading prefix, and their
// prefix-match forms), the words are joined into one FTS5 expression, and the
// matching pages come back best first by FTS5's BM25 rank, each with a short
// excerpt and its book's title and author. No exact verification and no
// streaming: one page of ranked results at a time.

#include "search/PagePlace.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

class SQLiteDB;

struct LexicalHit : PagePlace
{
    QString snippet;               // matches in «…», cuts marked " … "
    double rank = 0;               // BM25 of FTS5: smaller is better
};

namespace Lexical {

// Words shorter than this many code points get no prefix-match form.
inline constexpr qsizetype minPrefixMatch = 4;
// A prefix is stripped only when more code points than this remain.
inline constexpr qsizetype minStemAfter = 2;

// The leading prefixes whose stem is searched too, as code points, in the
// order they are tried: ال, وال, بال, كال, فال, لل, و, ف, ب, ل, ك.
const std::vector<std::u32string>& prefixes();

// The FTS5 alternatives of one normalised word as one parenthesised OR group:
// the quoted word, the word with "*" (4 or more code points), then for the
// first prefix leaving more than two code points the quoted stem and the stem
// with "*" (4 or more); repeats dropped, first kept.
QString expand(const QString& word);

// The FTS5 expression of a whole query: its normalised words expanded and
// joined by " OR " for "OR", by " NOT " after the first for "NOT", by " AND "
// for anything else; the empty string when the query has no word.
QString ftsQuery(const QString& query, const QString& op = QStringLiteral("AND"));

// The ranked hits, at most `limit`, after skipping `offset` (as in SQL, a
// negative limit means no limit and a negative offset none). A query without
// words returns none without touching the database; a failed statement
// returns what it read.
QList<LexicalHit> search(SQLiteDB& db, const QString& query, int limit = 20, int offset = 0,
                         const QString& op = QStringLiteral("AND"));

// The ranking statement, with parameters (expression, limit, offset).
extern const QString searchSQL;

} // namespace Lexical
} // namespace quorvel
