#pragma once

// How well a word model's vocabulary covers the words of a library's pages,
// as the meaning search meets them (the search's normal form split at
// spaces): the share of the word occurrences it knows, and the share of the
// distinct words. Both must be large enough: a model of a few dozen of the
// commonest words knows a third of all occurrences yet almost none of the
// words that tell one page from another. The model trainer checks its pack
// with it as the vector builder checks a downloaded one. Memory grows with
// the distinct words seen (8 bytes each), not with the pages. One thread.

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace quorvel {

class WordCoverage {
public:
    // The least share of the word occurrences on the pages a model must know.
    static constexpr double leastOccurrences = 0.3;
    // The least share of the distinct words on the pages it must know, and
    // the number of them that is enough however many the pages hold (a
    // library far larger than the books a model learnt from holds many
    // words no model knows).
    static constexpr double leastDistinct = 0.02;
    static constexpr std::int64_t enoughDistinct = 1000;

    explicit WordCoverage(const QStringList& modelWords);
    // Counts the words of one page's text.
    void see(const QString& text);
    // Whether the model knows enough of both; a library without words says
    // nothing against a model.
    bool enough() const;
    double occurrenceShare() const;
    double distinctShare() const;

private:
    std::int64_t distinctSeen() const;

    QHash<QString, std::int32_t> known_;
    std::vector<char> knownMet_;
    std::int64_t knownDistinct_ = 0;
    std::int64_t words_ = 0;
    std::int64_t found_ = 0;
    // Hashes of the words seen, made unique whenever they double.
    mutable std::vector<std::uint64_t> seen_;
    mutable std::size_t uniqueUpTo_ = 0;
};

} // namespace quorvel
