#include "scholar/WordCoverage.h"

#include "core/Arabic.h"

#include <QStringTokenizer>

#include <algorithm>

namespace quorvel {

WordCoverage::WordCoverage(const QStringList& modelWords)
{
    known_.reserve(modelWords.size());
    for (const QString& word : modelWords)
        known_.insert(word, std::int32_t(known_.size()));
    knownMet_.assign(std::size_t(known_.size()), 0);
}

void WordCoverage::see(const QString& text)
{
    for (const QStringView word : QStringTokenizer{Arabic::normalize(text, true), u' ', Qt::SkipEmptyParts}) {
        ++words_;
        seen_.push_back(qHash(word, std::size_t(0x9e3779b97f4a7c15ULL)));
        const auto it = known_.constFind(QString::fromRawData(word.data(), word.size()));
        if (it == known_.constEnd())
            continue;
        ++found_;
        if (!knownMet_[std::size_t(*it)]) {
            knownMet_[std::size_t(*it)] = 1;
            ++knownDistinct_;
        }
    }
    // The hashes of every occurrence would grow with the pages: the
    // repeated ones go whenever the list has doubled.
    if (seen_.size() >= 2 * std::max<std::size_t>(uniqueUpTo_, 1 << 16))
        distinctSeen();
}

std::int64_t WordCoverage::distinctSeen() const
{
    std::sort(seen_.begin(), seen_.end());
    seen_.erase(std::unique(seen_.begin(), seen_.end()), seen_.end());
    uniqueUpTo_ = seen_.size();
    return std::int64_t(seen_.size());
}

double WordCoverage::occurrenceShare() const
{
    return words_ == 0 ? 1.0 : double(found_) / double(words_);
}

double WordCoverage::distinctShare() const
{
    const std::int64_t distinct = distinctSeen();
    return distinct == 0 ? 1.0 : double(knownDistinct_) / double(distinct);
}

bool WordCoverage::enough() const
{
    const double distinct = double(distinctSeen());
    return occurrenceShare() >= leastOccurrences
        && double(knownDistinct_) >= std::min(double(enoughDistinct), leastDistinct * distinct);
}

} // namespace quorvel
