#include "ui/reader/ReaderTestSupport.h"

#include "core/Library.h"
#include "search/SearchEngine.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranView.h"

#include <QHash>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quorvel;

namespace {

constexpr std::int64_t kQuranBook = 100;

// The pages of the tafsir books as their stored words, read apart from the
// search: the count the places search is held to.
struct TafsirPages {
    QList<std::int64_t> ids;
    QList<QStringList> words;
    QHash<QString, QList<qsizetype>> byWord; // a word -> the pages holding it

    // The pages holding `phrase` as consecutive words.
    QSet<std::int64_t> quoting(const QStringList& phrase) const
    {
        // Only the pages holding its rarest word are read.
        const QString* rarest = &phrase.first();
        for (const QString& w : phrase)
            if (byWord.value(w).size() < byWord.value(*rarest).size())
                rarest = &w;
        QSet<std::int64_t> found;
        for (const qsizetype p : byWord.value(*rarest)) {
            const QStringList& page = words[p];
            for (qsizetype i = 0; i + phrase.size() <= page.size(); ++i)
                if (std::equal(phrase.begin(), phrase.end(), page.begin() + i)) {
                    found.insert(ids[p]);
                    break;
                }
        }
        return found;
    }
};

TafsirPages tafsirPages(Library& lib, const QList<std::int64_t>& books)
{
    TafsirPages pages;
    for (const std::int64_t book : books)
        for (const auto& row : lib.main().rows(QStringLiteral("SELECT id, content_norm FROM pages WHERE book_id=?"), {book})) {
            pages.ids.append(row.integer(0).value_or(0));
            pages.words.append(row.str(1).value_or(QString()).split(u' ', Qt::SkipEmptyParts));
            for (const QString& w : QSet<QString>(pages.words.last().begin(), pages.words.last().end()))
                pages.byWord[w].append(pages.ids.size() - 1);
        }
    return pages;
}

QSet<std::int64_t> pagesFound(SearchEngine& engine, const SearchQuery& query)
{
    QSet<std::int64_t> found;
    engine.run(query, [&](const QList<SearchHit>& hits, bool) {
        for (const SearchHit& hit : hits)
            if (hit.kind == SearchHit::Kind::page)
                found.insert(hit.pageId);
    });
    return found;
}

} // namespace

// The verses the tafsir books quote most: the places found, after as many
// fallbacks as it takes, are the pages that quote the longest opening of the
// verse the books hold, and every fallback taken says which words it searched.
TEST(VersePlaces, theMostQuotedVersesFindThePagesThatQuoteThem)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    const std::shared_ptr<const QuranText> q = QuranText::load(*sample.lib);
    ASSERT_TRUE(q);
    QuranView view(sample.lib, q);
    QList<QuranView::Places> asked;
    QList<SearchQuery> queries;
    view.onSearch = [&](const SearchQuery& query, const QList<QuranView::Fallback>& fallbacks) {
        queries.append(query);
        asked.append({query.andPhrases.first(), fallbacks});
    };
    view.show(1, 1, false);
    view.searchCited(true);
    ASSERT_EQ(queries.size(), 1);
    const QList<std::int64_t> scope = queries.first().scope.value_or(QList<std::int64_t>());
    ASSERT_FALSE(scope.isEmpty());
    ASSERT_FALSE(scope.contains(kQuranBook));
    const TafsirPages pages = tafsirPages(*sample.lib, scope);

    // The pages quoting the longest opening of `words`, from all of them
    // down to the shortest opening; its length, 0 when none quotes it.
    const auto longestQuoted = [&](const QStringList& words) {
        for (qsizetype length = words.size(); length >= std::min<qsizetype>(words.size(), QuranView::shortestOpening);
             --length) {
            const QSet<std::int64_t> found = pages.quoting(words.mid(0, length));
            if (!found.isEmpty())
                return std::pair(length, found);
        }
        return std::pair(qsizetype(0), QSet<std::int64_t>());
    };
    // The verses ranked by the pages quoting their first words.
    struct Quoted {
        int index;
        qsizetype pages;
    };
    QList<Quoted> quoted;
    for (int i = 0; i < q->ayat.size(); ++i) {
        const QStringList words = q->ayat[i].plain.split(u' ', Qt::SkipEmptyParts);
        const qsizetype first = words.size() < QuranView::wholeVerseWords ? words.size() : QuranView::leadingWords;
        const qsizetype count = words.isEmpty() ? 0 : longestQuoted(words.mid(0, first)).second.size();
        if (count > 0)
            quoted.append({i, count});
    }
    std::stable_sort(quoted.begin(), quoted.end(), [](const Quoted& a, const Quoted& b) { return a.pages > b.pages; });
    ASSERT_GE(quoted.size(), 100);
    quoted.resize(100);

    SearchEngine engine(*sample.lib);
    int fellBack = 0;
    for (const Quoted& verse : quoted) {
        const auto [sura, n] = std::pair(q->ayat[verse.index].sura, q->ayat[verse.index].n);
        view.show(sura, n, false);
        view.searchCited(true);
        const QuranView::Places& places = asked.last();
        QSet<std::int64_t> found = pagesFound(engine, queries.last());
        QString searched = places.phrase;
        for (const QuranView::Fallback& fallback : places.fallbacks) {
            if (!found.isEmpty())
                break;
            EXPECT_EQ(fallback.query.scope, queries.last().scope);
            searched = fallback.query.andPhrases.first();
            EXPECT_TRUE(fallback.note.contains(u'«' + searched + u'»')) << fallback.note.toStdString();
            found = pagesFound(engine, fallback.query);
        }
        fellBack += searched != places.phrase ? 1 : 0;
        const auto [length, quoting] = longestQuoted(places.phrase.split(u' ', Qt::SkipEmptyParts));
        EXPECT_EQ(searched.split(u' ').size(), length) << q->cite(verse.index).toStdString();
        EXPECT_EQ(found, quoting) << q->cite(verse.index).toStdString();
    }
    std::printf("verse places: 100 verses, %d by a shorter opening\n", fellBack);
}
