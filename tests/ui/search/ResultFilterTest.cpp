#include "ui/ViewTestSupport.h"

#include "core/Arabic.h"
#include "core/SQLiteDB.h"
#include "search/SearchEngine.h"
#include "ui/search/ResultFilter.h"
#include "ui/search/ResultsModel.h"

using namespace quorvel;
using test::SmallLib;

namespace {

class ResultFilterTest : public ::testing::Test {
protected:
    ResultFilterTest() : prefs({Settings::indicDigitsKey}) { test::preparePanels(); }
    test::PreferenceGuard prefs;
    SmallLib small;

    static SearchHit page(std::int64_t id, std::int64_t book, std::int64_t seq)
    {
        return SearchHit(SearchHit::Kind::page, id, book, seq);
    }
    // One page hit in each book, and one in a book the catalogue lacks.
    static QList<SearchHit> onePerBook()
    {
        return {page(1001, SmallLib::hadithA, 3), page(1002, SmallLib::hadithA, 7), page(1101, SmallLib::hadithB, 1),
                page(1201, SmallLib::noCategory, 1), page(1301, SmallLib::lostCategory, 1),
                page(1401, SmallLib::fiqh, 1), page(5, 55, 1)};
    }
};

TEST_F(ResultFilterTest, centuriesCountFromTheFirstYearAndKeepTheEdgesApart)
{
    EXPECT_EQ(ResultFilter::century(-5), ResultFilter::beforeHijra);
    EXPECT_EQ(ResultFilter::century(0), ResultFilter::unknownCentury);
    EXPECT_EQ(ResultFilter::century(std::nullopt), ResultFilter::unknownCentury);
    EXPECT_EQ(ResultFilter::century(1), 1);
    EXPECT_EQ(ResultFilter::century(100), 1);
    EXPECT_EQ(ResultFilter::century(101), 2);
    EXPECT_EQ(ResultFilter::century(1650), 17);
    EXPECT_EQ(ResultFilter::centuryTitle(0), QStringLiteral("قبل الهجرة"));
    EXPECT_EQ(ResultFilter::centuryTitle(99), QStringLiteral("غير محدّد"));
    EXPECT_EQ(ResultFilter::centuryTitle(1), QStringLiteral("القرن الأول"));
    EXPECT_EQ(ResultFilter::centuryTitle(16), QStringLiteral("القرن السادس عشر"));
    EXPECT_EQ(ResultFilter::centuryTitle(17), QStringLiteral("القرن ١٧"));
    EXPECT_EQ(ResultFilter::key(3, 7), (std::int64_t(3) << 32) | 7);
}

TEST_F(ResultFilterTest, centuryItemsFollowTheAuthorsDeaths)
{
    ASSERT_TRUE(small.lib);
    ResultFilter filter(small.lib);
    QStringList titles;
    QList<std::int64_t> counts;
    for (const ResultFilter::Item& item : filter.centuryItems(onePerBook())) {
        titles << item.title;
        counts << item.count;
    }
    // The unknown book's hit is not counted; year 0 and no year at all are unknown.
    EXPECT_EQ(titles, (QStringList{"قبل الهجرة", "القرن الأول", "القرن الثاني", "غير محدّد"}));
    EXPECT_EQ(counts, (QList<std::int64_t>{1, 2, 1, 2}));

    filter.centuryChoice = 2;
    EXPECT_TRUE(filter.accepts(page(1101, SmallLib::hadithB, 1)));
    EXPECT_FALSE(filter.accepts(page(1001, SmallLib::hadithA, 3)));
}

TEST_F(ResultFilterTest, categoriesOfOneTitleMakeOneItemThatFiltersOnAllTheirKeys)
{
    ASSERT_TRUE(small.lib);
    ResultFilter filter(small.lib);
    const QList<ResultFilter::Item> items = filter.categoryItems(onePerBook());
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].title, QStringLiteral("كتب الحديث"));
    EXPECT_EQ(items[0].keys, (QList<std::int64_t>{1, 2}));
    EXPECT_EQ(items[0].count, 3);
    // No category and a category the catalogue does not know share a title.
    EXPECT_EQ(items[1].title, QStringLiteral("غير مصنّف"));
    EXPECT_EQ(items[1].keys, (QList<std::int64_t>{-1, 77}));
    EXPECT_EQ(items[1].count, 2);
    EXPECT_EQ(items[2].title, QStringLiteral("الفقه"));

    filter.categories = QSet<std::int64_t>(items[1].keys.begin(), items[1].keys.end());
    QList<std::int64_t> books;
    for (const SearchHit& hit : onePerBook())
        if (filter.accepts(hit))
            books << hit.bookId;
    EXPECT_EQ(books, (QList<std::int64_t>{SmallLib::noCategory, SmallLib::lostCategory}));
}

TEST_F(ResultFilterTest, statusLineCountsShownRowsAndOnlyPageHitsTowardTheLimit)
{
    EXPECT_EQ(ResultFilter::statusText(0, 0, 0, 0, true, {}), QStringLiteral("النتائج: ٠"));
    EXPECT_EQ(ResultFilter::statusText(12, 2, 0, 10, false, {}), QStringLiteral("النتائج: ١٢ (عناوين ٢)…"));
    EXPECT_EQ(ResultFilter::statusText(12, 2, 3, 7, true, {}), QStringLiteral("النتائج: ١٢ (عناوين ٢ – تعليقات ٣)"));
    EXPECT_EQ(ResultFilter::statusText(1, 0, 0, 500000, true, {QStringLiteral("ق*"), QStringLiteral("ب*")}),
              QStringLiteral("النتائج: ١ – بلغ الحدّ – النمط «ق*»، «ب*» واسع جدا: أضف إليه حروفا"));
    // A pattern the engine reads in its normal form is named as it was typed.
    ASSERT_TRUE(small.lib);
    SearchQuery broad;
    broad.andPhrases = {QStringLiteral("*ة حديث")};
    SearchEngine engine(*small.lib);
    engine.run(broad, [](const QList<SearchHit>&, bool) {});
    ASSERT_EQ(engine.tooBroad().size(), 1);
    EXPECT_EQ(ResultFilter::asTyped(broad, engine.tooBroad()), QStringList{QStringLiteral("*ة")});

    // 499,999 page hits and a few titles stay under the limit; one more page reaches it.
    ASSERT_TRUE(small.lib);
    ResultFilter filter(small.lib);
    ResultsModel model(small.lib, {});
    QList<SearchHit> hits(ResultFilter::runLimit - 1, page(1001, SmallLib::hadithA, 3));
    for (int i = 0; i < 3; ++i)
        hits << SearchHit(SearchHit::Kind::title, 0, SmallLib::hadithA, 1);
    model.append(hits, filter);
    EXPECT_EQ(model.pageHits(), ResultFilter::runLimit - 1);
    EXPECT_EQ(model.shownTitles(), 3);
    EXPECT_FALSE(ResultFilter::statusText(int(model.shown().size()), model.shownTitles(), 0, model.pageHits(), true, {})
                     .contains(QStringLiteral("بلغ الحدّ")));
    model.append({page(1002, SmallLib::hadithA, 7)}, filter);
    EXPECT_TRUE(ResultFilter::statusText(int(model.shown().size()), model.shownTitles(), 0, model.pageHits(), true, {})
                    .contains(QStringLiteral("بلغ الحدّ")));
}

TEST_F(ResultFilterTest, rowsShowExcerptChapterAndPageLabel)
{
    ASSERT_TRUE(small.lib);
    ResultFilter filter(small.lib);
    ResultsModel model(small.lib, test::wordsQuery(QStringLiteral("رسول الله")).highlightTerms());
    model.append({page(SmallLib::volumePage, SmallLib::hadithA, 0), page(SmallLib::plainPage, SmallLib::hadithA, 7),
                  page(9999, SmallLib::hadithA, 5), SearchHit(SearchHit::Kind::title, 0, SmallLib::hadithA, 1),
                  SearchHit(SearchHit::Kind::note, 0, SmallLib::hadithB, 1, QStringLiteral("ذكر رسول الله 12 مرة"))},
                 filter);
    ASSERT_EQ(model.rowCount(), 5);

    const ResultsModel::RowData volume = model.rowData(0);
    EXPECT_EQ(volume.label, QStringLiteral("٢/١٥"));
    EXPECT_TRUE(volume.text.contains(QStringLiteral("رسول الله")));
    ASSERT_FALSE(volume.ranges.isEmpty());
    EXPECT_EQ(volume.text.mid(volume.ranges[0].location, volume.ranges[0].length), QStringLiteral("رسول"));
    // The hit takes its page's sequence once the page is read, and its
    // chapter is the one of that page.
    EXPECT_EQ(model.all()[0].seq, 3);
    EXPECT_EQ(volume.chapter, QStringLiteral("باب النية عند رسول الله"));

    EXPECT_EQ(model.rowData(1).label, QStringLiteral("٧"));

    // A page that is gone: no excerpt and no label, the chapter at its sequence all the same.
    const ResultsModel::RowData missing = model.rowData(2);
    EXPECT_EQ(missing.text, QString());
    EXPECT_EQ(missing.label, QString());
    EXPECT_EQ(missing.chapter, QStringLiteral("باب النية عند رسول الله"));

    const ResultsModel::RowData title = model.rowData(3);
    EXPECT_EQ(title.text, QStringLiteral("عنوان: باب النية عند رسول الله"));
    // Each term's matches, the terms in query order.
    ASSERT_EQ(title.ranges.size(), 2);
    EXPECT_EQ(title.text.mid(title.ranges[0].location, title.ranges[0].length), QStringLiteral("رسول"));
    EXPECT_EQ(title.text.mid(title.ranges[1].location, title.ranges[1].length), QStringLiteral("الله"));

    const ResultsModel::RowData note = model.rowData(4);
    EXPECT_EQ(note.text, QStringLiteral("تعليق: ذكر رسول الله ١٢ مرة"));
    EXPECT_EQ(note.ranges.size(), 2);

    EXPECT_EQ(model.data(model.index(4, ResultsModel::numberColumn)).toString(), QStringLiteral("٥"));
    EXPECT_TRUE(model.data(model.index(0, ResultsModel::bookColumn), Qt::ToolTipRole)
                    .toString()
                    .startsWith(QStringLiteral("الموطأ\nالأول")));
    EXPECT_EQ(model.shownTitles(), 1);
    EXPECT_EQ(model.shownNotes(), 1);
}

TEST_F(ResultFilterTest, aRenderedRowIsKeptAcrossFilterChanges)
{
    ASSERT_TRUE(small.lib);
    ResultFilter filter(small.lib);
    const QList<SearchQuery::Term> terms = test::wordsQuery(QStringLiteral("رسول")).highlightTerms();
    ResultsModel model(small.lib, terms);
    model.append({page(SmallLib::plainPage, SmallLib::hadithA, 7), page(1101, SmallLib::hadithB, 1)}, filter);
    const QString before = model.rowData(0).text;

    // The page changes underneath; a filter change must not render the row again.
    auto writer = SQLiteDB::open(small.path, false);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->run(QStringLiteral("UPDATE pages SET content='نص آخر عن رسول آخر' WHERE id=1002")));
    filter.categories = QSet<std::int64_t>{1};
    model.refilter(filter);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_TRUE(model.isCached(0));
    EXPECT_EQ(model.rowData(0).text, before);
    // The running number follows the shown rows.
    EXPECT_EQ(model.data(model.index(0, ResultsModel::numberColumn)).toString(), QStringLiteral("١"));

    ResultsModel fresh(small.lib, terms);
    fresh.append({page(SmallLib::plainPage, SmallLib::hadithA, 7)}, filter);
    EXPECT_NE(fresh.rowData(0).text, before);
}

TEST_F(ResultFilterTest, savingReportsWhetherTheSetWasWritten)
{
    ASSERT_TRUE(small.lib);
    EXPECT_TRUE(small.lib->saveResults(QStringLiteral("مجموعة"), QStringLiteral("{}"), {}));
    ASSERT_TRUE(small.lib->user().run(QStringLiteral("DROP TABLE saved_results")));
    EXPECT_FALSE(small.lib->saveResults(QStringLiteral("مجموعة"), QStringLiteral("{}"), {1001}));
}

} // namespace
