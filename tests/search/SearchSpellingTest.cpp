#include "SearchFixture.h"

#include "distribution/ReleaseWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// A word as a reader types it from the page: canonically composed, its
// marks and tatweel left out.
QString typed(const QString& written)
{
    QString word = written.normalized(QString::NormalizationForm_C);
    word.removeIf([](QChar c) { return Arabic::isMark(c.unicode()) || c.unicode() == 0x0640; });
    return word;
}

bool writtenWithSeatMark(const QString& word)
{
    return std::any_of(word.begin(), word.end(), [](QChar c) { return Arabic::isSeatMark(c.unicode()); });
}

QSet<std::int64_t> pageIds(const QList<SearchHit>& hits)
{
    QSet<std::int64_t> ids;
    for (const SearchHit& h : hits)
        ids.insert(h.pageId);
    return ids;
}

} // namespace

// The Quran book as the sample release pages it writes the madda and the
// hamza as marks on most pages. Each of its forty commonest words so written
// is found, typed plainly, on every page that holds it.
TEST(SearchSpelling, markedQuranWordsAreFoundOnEveryPageThatHoldsThem)
{
    const auto quran = ReleaseWriter::fromQuranText(dataPath(QStringLiteral("quran/quran-uthmani.txt")),
                                                    Json::Value{{"id", 100}, {"title", "القرآن الكريم"}},
                                                    dataPath(QStringLiteral("quran/mushaf-pages.txt")));
    ASSERT_TRUE(quran);
    FixtureBook book{100, QStringLiteral("القرآن الكريم"), {}, {}};
    for (const auto& page : quran->pages)
        book.pages << page.content.value_or(QString());
    ASSERT_GT(book.pages.size(), 600);
    SearchLibrary lib = customLibrary({book});
    ASSERT_TRUE(lib.lib);

    QHash<QString, int> count;                 // typed word → occurrences written with a mark
    QHash<QString, QSet<qsizetype>> holding;   // typed word → pages (by position) holding it
    for (qsizetype p = 0; p < book.pages.size(); ++p)
        for (const QString& written : book.pages[p].split(QRegularExpression(QStringLiteral("[\\s|]+")),
                                                          Qt::SkipEmptyParts)) {
            const QString word = typed(written);
            holding[word].insert(p);
            if (writtenWithSeatMark(written))
                ++count[word];
        }
    QList<QString> commonest = count.keys();
    std::sort(commonest.begin(), commonest.end(), [&](const QString& a, const QString& b) {
        return count[a] != count[b] ? count[a] > count[b] : a < b;
    });
    ASSERT_GE(commonest.size(), 40);
    commonest.resize(40);

    SearchEngine engine(*lib.lib);
    const auto catalog = lib.lib->catalog();
    for (const QString& word : commonest) {
        const QSet<std::int64_t> found = pageIds(runQuery(engine, phrases({word}), 100000).pages);
        qsizetype missed = 0;
        for (const qsizetype p : holding[word]) {
            const auto page = lib.lib->page(100, p + 1);
            ASSERT_TRUE(page);
            missed += found.contains(page->id) ? 0 : 1;
        }
        EXPECT_EQ(missed, 0) << word.toStdString() << ": " << missed << " of " << holding[word].size()
                             << " pages missed";
    }
}

// A query typed with combining marks is the word written precomposed, and
// the hamza-respecting search reads it as such.
TEST(SearchSpelling, aQueryTypedWithCombiningMarksFindsThePrecomposedWord)
{
    auto corpus = corpusLibrary();
    ASSERT_TRUE(corpus.lib);
    SearchEngine engine(*corpus.lib);
    const QString combined = QString(QChar(0x0627)) + QChar(0x0654) + QStringLiteral("حمد");
    for (const bool hamza : {false, true}) {
        SearchQuery precomposed = phrases({QStringLiteral("أحمد")});
        SearchQuery marked = phrases({combined});
        precomposed.hamza = marked.hamza = hamza;
        const QList<SearchHit> expected = runQuery(engine, precomposed).pages;
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(runQuery(engine, marked).pages, expected) << "hamza " << hamza;
    }
}
