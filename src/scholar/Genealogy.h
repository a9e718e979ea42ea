#pragma once

// Phrase genealogy: the books in which a phrase occurs, one representative
// page each (its best lexical hit), on a timeline by the death year of each
// book's author, linked where two representative pages share enough
// four-word shingles, each link pointing from the earlier author to the
// later. Stateless; reads the library through the connection it is given.

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

class SQLiteDB;

struct GenealogyNode {
    std::int64_t bookId = 0;
    QString title;
    std::optional<QString> author;
    std::optional<std::int64_t> deathYear; // as stored; a stored 0 stays 0
    std::int64_t seq = 0;
    std::optional<std::int64_t> pageNum;
    std::int64_t pageId = 0;
    QString snippet;
};

struct GenealogyEdge {
    std::int64_t from = 0;
    std::int64_t to = 0;
    QString fromTitle;
    QString toTitle;
    std::int64_t shared = 0; // distinct shingles both representative pages hold
};

struct GenealogyResult {
    QString query;         // the phrase looked up: the words of the text asked about
    bool particles = false; // the phrase is particles alone, which every book has: no tree
    QList<GenealogyNode> nodes; // timeline order
    QList<GenealogyEdge> edges; // most shared first
};

namespace Genealogy {

// The least number of shared shingles an edge needs.
inline constexpr int minShared = 3;
// The most books kept on the timeline.
inline constexpr int maxBooks = 14;
// How many lexical hits are fetched.
inline constexpr int defaultPool = 80;
// The year of an undated node, and of one whose year is stored as 0.
inline constexpr std::int64_t unknownYear = 9999;

// The node's death year; unknownYear when absent or 0.
std::int64_t year(const GenealogyNode& node);

// The phrase a text selected by a reader asks about: its words, without
// numbers, marks of verse and page or punctuation, and without a lone letter
// a drag left at either end of it (the cut end of a word).
QString phrase(const QString& text);

// Why a phrase of particles alone has no tree, said to the reader.
QString particlesNote(const QString& phrase);

// The genealogy of phrase(query); nothing when it has no word or the lexical
// search finds no page, no nodes (and `particles`) when its words are all
// particles.
std::optional<GenealogyResult> run(SQLiteDB& db, const QString& query, int pool = defaultPool,
                                   int minShared = Genealogy::minShared, int maxBooks = Genealogy::maxBooks);

// The links between the nodes' representative pages sharing at least
// `minShared` distinct shingles, most shared first (ties in the order the
// pairs were first met); from the earlier year, or the lower page id on
// equal years.
QList<GenealogyEdge> transmission(SQLiteDB& db, const QList<GenealogyNode>& nodes, int minShared);

} // namespace Genealogy
} // namespace quorvel
