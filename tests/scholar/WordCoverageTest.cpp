// How well a word model covers a library's words, over the sample's own books.

#include "scholar/WordCoverage.h"

#include "core/Arabic.h"
#include "scholar/SmartBuild.h"
#include "support/CorpusText.h"

#include <QHash>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quorvel;

namespace {

// The embedded text of every page of the sample's books.
const QStringList& samplePages()
{
    static const QStringList pages = [] {
        QStringList out;
        for (int book = 1; book <= 17; ++book)
            for (const QString& page :
                 test::bookPages(QStringLiteral("../../samples/books/%1.json").arg(book, 3, 10, QLatin1Char('0'))))
                out << SmartBuild::embeddedText(page);
        return out;
    }();
    return pages;
}

// The pages' words, most frequent first, as the model trainer ranks them.
QList<std::pair<QString, int>> rankedWords()
{
    QHash<QString, int> counts;
    for (const QString& page : samplePages())
        for (const QString& word : Arabic::normalize(page, true).split(u' ', Qt::SkipEmptyParts))
            ++counts[word];
    QList<std::pair<QString, int>> ranked;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        ranked.append({it.key(), it.value()});
    std::sort(ranked.begin(), ranked.end(),
              [](const auto& a, const auto& b) { return a.second != b.second ? a.second > b.second : a.first < b.first; });
    return ranked;
}

WordCoverage coverageOf(const QStringList& words)
{
    WordCoverage coverage(words);
    for (const QString& page : samplePages())
        coverage.see(page);
    return coverage;
}

} // namespace

TEST(WordCoverage, aModelOfTheCommonestWordsKnowsTooFewOfTheWordsThatTellPagesApart)
{
    ASSERT_GT(samplePages().size(), 1000);
    const QList<std::pair<QString, int>> ranked = rankedWords();
    QStringList commonest, trained;
    for (const auto& [word, count] : ranked) {
        if (commonest.size() < 26)
            commonest << word;
        // What the trainer keeps by default: words seen five times, at most 24,000.
        if (count >= 5 && trained.size() < 24'000)
            trained << word;
    }
    // بن، الله، عن، من، قال …: a third of every word read, almost no page told apart.
    const WordCoverage few = coverageOf(commonest);
    EXPECT_GE(few.occurrenceShare(), WordCoverage::leastOccurrences);
    EXPECT_FALSE(few.enough()) << few.distinctShare();
    const WordCoverage model = coverageOf(trained);
    EXPECT_TRUE(model.enough()) << model.occurrenceShare() << " " << model.distinctShare();
    // Nothing seen says nothing against a model.
    EXPECT_TRUE(WordCoverage(commonest).enough());
}
