#pragma once

// Longest-matching-block alignment of two integer sequences, as difflib's
// SequenceMatcher computes it with no junk and no pruning of popular
// elements: every occurrence of every element of `b` may anchor a match, so a
// word that fills a long page still aligns. Used by collation on token ids.
// Not for use by two threads at once.

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace quorvel {

class SequenceMatcher {
public:
    struct Block {
        qsizetype i = 0; // start in a
        qsizetype j = 0; // start in b
        qsizetype size = 0;
        bool operator==(const Block&) const = default;
    };
    struct Opcode {
        QString tag; // "equal", "replace", "delete" or "insert"
        qsizetype i1 = 0, i2 = 0, j1 = 0, j2 = 0;
        bool operator==(const Opcode&) const = default;
    };

    SequenceMatcher(std::vector<std::int64_t> a, std::vector<std::int64_t> b);

    // The longest block common to a[alo, ahi) and b[blo, bhi); on ties the one
    // starting earliest in a, then in b. (alo, blo, 0) when there is none.
    Block findLongestMatch(qsizetype alo, qsizetype ahi, qsizetype blo, qsizetype bhi) const;
    // Every matching block, ascending, adjacent blocks merged, ending with
    // the sentinel (a.size(), b.size(), 0).
    QList<Block> matchingBlocks() const;
    // The edit operations the blocks imply, in text order, equal runs included.
    static QList<Opcode> opcodes(const QList<Block>& blocks);
    // 2 × matches ÷ length; 1.0 when length is below 1.
    static double ratio(qsizetype matches, qsizetype length);

private:
    std::vector<std::int64_t> a_;
    std::vector<std::int64_t> b_;
    // Positions of each element in b, ascending. Elements that are small
    // non-negative ids (collation numbers its words from 0) index a flat
    // table (one run of positions per element, starts in denseStart_); any
    // other element goes to the hash.
    std::vector<qsizetype> denseStart_;
    std::vector<qsizetype> densePositions_;
    QHash<std::int64_t, std::vector<qsizetype>> b2j_;
    // The positions of `element` in b as [first, last); empty when absent.
    std::pair<const qsizetype*, const qsizetype*> positions(std::int64_t element) const;
    // Scratch rows of findLongestMatch, one entry per position of b; a
    // matcher is used by one thread at a time.
    mutable std::vector<qsizetype> runs_;
    mutable std::vector<qsizetype> nextRuns_;
    mutable std::vector<qsizetype> touched_;
    mutable std::vector<qsizetype> nextTouched_;
};

} // namespace quorvel
