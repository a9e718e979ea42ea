#include "ui/ViewTestSupport.h"
#include "support/Wait.h"

#include "core/Arabic.h"
#include "core/Notifier.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/kit/Beep.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/BookCellDelegate.h"
#include "ui/search/ResultsModel.h"
#include "ui/shell/MainWindowController.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QThreadPool>
#include <QSplitter>
#include <QTableView>
#include <QTest>

using namespace quorvel;
using test::SmallLib;

namespace {

class SearchTabViewTest : public ::testing::Test {
protected:
    SearchTabViewTest()
        : prefs({Settings::indicDigitsKey, Settings::nightReadingKey, Settings::readerSizeKey,
                 Settings::restoreSessionKey})
    {
        test::preparePanels();
        previousBeep = Beep::setHook([this] { ++beeps; });
    }
    ~SearchTabViewTest() override { Beep::setHook(previousBeep); }

    void TearDown() override
    {
        // Let the workers of finished tabs hand back what they still hold.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }

    // A tab whose run has ended, with beeps counted.
    std::unique_ptr<SearchTabView> ranTab(const std::shared_ptr<Library>& lib, const SearchQuery& q)
    {
        auto tab = std::make_unique<SearchTabView>(lib, q);
        EXPECT_TRUE(QTest::qWaitFor([&] { return tab->isDone(); }, 20000));
        return tab;
    }

    static SearchHit page(std::int64_t id, std::int64_t book, std::int64_t seq)
    {
        return SearchHit(SearchHit::Kind::page, id, book, seq);
    }

    test::PreferenceGuard prefs;
    test::SampleLib sample;
    ScriptedDialogs dialogs;
    int beeps = 0;
    std::function<void()> previousBeep;
};

TEST_F(SearchTabViewTest, aSearchWithoutHitsEndsEmptyAndIsRecorded)
{
    REQUIRE_SAMPLE(sample);
    auto tab = ranTab(sample.lib, test::wordsQuery(QStringLiteral("ظظظقققغغغ")));
    EXPECT_EQ(tab->resultCount(), 0);
    EXPECT_EQ(tab->countLabel()->text(), QStringLiteral("النتائج: ٠"));
    EXPECT_EQ(tab->selectedRow(), -1);
    EXPECT_EQ(tab->currentReader(), nullptr);
    EXPECT_TRUE(tab->progress()->isHidden());
    const QList<Library::HistoryEntry> history = sample.lib->history();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history[0].count, 0);
    EXPECT_EQ(history[0].title, QStringLiteral("ظظظقققغغغ"));
    EXPECT_EQ(tab->title(), QStringLiteral("بحث: ظظظقققغغغ"));
    EXPECT_EQ(SearchTabView(sample.lib, SearchQuery(), QList<SearchHit>{}).title(), QStringLiteral("بحث: …"));
}

TEST_F(SearchTabViewTest, aRunStreamsItsHitsThenFillsThePopupsAndShowsTheFirst)
{
    REQUIRE_SAMPLE(sample);
    test::HeldJobs jobs;
    SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("رسول الله")));
    QStringList titles;
    tab.onTitle = [&](const QString& t) { titles << t; };
    // While running: only the all-items, and the status line ends with "…".
    EXPECT_EQ(tab.categoryPopup()->count(), 1);
    EXPECT_EQ(tab.categoryPopup()->itemText(0), QStringLiteral("جميع الأقسام"));
    EXPECT_EQ(tab.centuryPopup()->itemText(0), QStringLiteral("جميع القرون"));
    EXPECT_FALSE(tab.progress()->isHidden());
    ASSERT_EQ(jobs.size(), 1);
    jobs.run(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tab.isDone(); }, 20000));
    EXPECT_GT(tab.resultCount(), 200);
    EXPECT_EQ(tab.selectedRow(), 0);
    ASSERT_NE(tab.currentReader(), nullptr);
    EXPECT_EQ(tab.currentReader()->book().id, tab.model()->hitAt(0).bookId);
    EXPECT_GT(tab.categoryPopup()->count(), 2);
    EXPECT_GT(tab.centuryPopup()->count(), 1);
    EXPECT_FALSE(titles.isEmpty());
    EXPECT_FALSE(tab.countLabel()->text().endsWith(QStringLiteral("…")));
    EXPECT_EQ(sample.lib->history().value(0).count, tab.model()->all().size());

    // Both editions of Ibn Majah have hits: a narrow book cell shortens the
    // shared title, not the edition that tells them apart.
    int second = -1;
    for (int row = 0; row < tab.model()->rowCount() && second < 0; ++row)
        if (tab.model()->hitAt(row).bookId == 3)
            second = row;
    ASSERT_GE(second, 0);
    const QModelIndex cell = tab.model()->index(second, ResultsModel::bookColumn);
    const QString label = cell.data().toString();
    EXPECT_EQ(label, QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب)"));
    const QFontMetrics metrics(QApplication::font());
    const int narrow = metrics.horizontalAdvance(label) * 2 / 3;
    const QString shown = BookCellDelegate::fit(label, cell.data(ResultsModel::bookTitleRole).toString(), metrics, narrow);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("(نشرة ب)"))) << shown.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(shown), narrow);

    // Choosing a category shows its hits only, and the first of them.
    const int chosen = tab.categoryPopup()->count() - 1;
    tab.categoryPopup()->setCurrentIndex(chosen);
    tab.refilter(false);
    EXPECT_EQ(tab.resultCount(), tab.categoryPopup()->itemData(chosen, Qt::ToolTipRole).toString() == Arabic::num(tab.resultCount())
                                     ? tab.resultCount()
                                     : -1);
    EXPECT_EQ(tab.selectedRow(), 0);
    tab.clearAction();
    EXPECT_EQ(tab.categoryPopup()->currentIndex(), 0);
    EXPECT_EQ(tab.resultCount(), tab.model()->all().size());
}

TEST_F(SearchTabViewTest, aPresetIsShownAtOnceWithoutHistory)
{
    REQUIRE_SAMPLE(sample);
    const QList<SearchHit> preset{page(1, 1, 1), page(2, 1, 2), page(41, 2, 1)};
    SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("مالك")), preset);
    EXPECT_TRUE(tab.isDone());
    EXPECT_EQ(tab.resultCount(), 3);
    EXPECT_EQ(tab.selectedRow(), 0);
    ASSERT_NE(tab.currentReader(), nullptr);
    EXPECT_TRUE(tab.broad().isEmpty());
    EXPECT_EQ(tab.countLabel()->text(), QStringLiteral("النتائج: ٣"));
    EXPECT_TRUE(sample.lib->history().isEmpty());
}

TEST_F(SearchTabViewTest, cancellingKeepsTheHitsAndStillRecordsTheSearch)
{
    REQUIRE_SAMPLE(sample);
    {
        // Cancelled before its worker starts: it ends at once with nothing.
        test::HeldJobs jobs;
        SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("الله")));
        tab.clearAction(); // while running, the clear button stops the run
        jobs.runAll();
        ASSERT_TRUE(QTest::qWaitFor([&] { return tab.isDone(); }, 20000));
        EXPECT_EQ(tab.resultCount(), 0);
        EXPECT_EQ(sample.lib->history().value(0).count, 0);
    }
    // Cancelled once hits have come: those stay and are the count recorded.
    SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("الله")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tab.resultCount() > 0 || tab.isDone(); }, 20000));
    tab.cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tab.isDone(); }, 20000));
    EXPECT_GT(tab.resultCount(), 0);
    EXPECT_TRUE(tab.progress()->isHidden());
    const QList<Library::HistoryEntry> history = sample.lib->history();
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history[0].count, tab.model()->all().size());
}

TEST_F(SearchTabViewTest, aTabClosedDuringItsRunDropsTheLateBatches)
{
    REQUIRE_SAMPLE(sample);
    test::HeldJobs jobs;
    auto* tab = new SearchTabView(sample.lib, test::wordsQuery(QStringLiteral("رسول الله")));
    EXPECT_TRUE(tab->requestClose());
    delete tab;
    jobs.runAll();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(sample.lib->history().isEmpty());
}

TEST_F(SearchTabViewTest, aRestoreRowPastTheRowsSelectsTheFirst)
{
    REQUIRE_SAMPLE(sample);
    test::HeldJobs jobs;
    SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("رسول الله")));
    tab.restoreRow = 1000000;
    jobs.runAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tab.isDone(); }, 20000));
    EXPECT_EQ(tab.selectedRow(), 0);
    EXPECT_EQ(tab.restoreRow, 1000000);

    SearchTabView second(sample.lib, test::wordsQuery(QStringLiteral("رسول الله")));
    second.restoreRow = 5;
    jobs.runAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.isDone(); }, 20000));
    EXPECT_EQ(second.selectedRow(), 5);
    EXPECT_FALSE(second.restoreRow);
    const std::optional<Json::Value> entry = Json::parse(Json::dumpBytes(second.sessionJSON()));
    ASSERT_TRUE(entry);
    EXPECT_EQ(Json::strictInt(*entry, "row"), 5);
    EXPECT_EQ(Json::strictInt(*entry, "b"), second.currentReader()->book().id);
    const std::optional<SearchTabView::Entry> decoded = SearchTabView::decode(*entry);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->query, second.query());
    EXPECT_EQ(decoded->row, 5);
}

TEST_F(SearchTabViewTest, theDividerGivesTheReaderItsShareOnlyInATallTab)
{
    REQUIRE_SAMPLE(sample);
    for (const auto& [height, expected] : {std::pair{1000, 600}, std::pair{460, -1}}) {
        SearchTabView tab(sample.lib, SearchQuery(), QList<SearchHit>{});
        tab.resize(900, height);
        tab.split()->resize(900, height);
        const QList<int> before = tab.split()->sizes();
        tab.placeDivider();
        if (expected > 0)
            EXPECT_EQ(tab.split()->sizes().value(0), expected);
        else
            EXPECT_EQ(tab.split()->sizes(), before);
    }
}

TEST_F(SearchTabViewTest, searchingWithinResultsKeepsTheMatchingPagesAndTheLatestWins)
{
    REQUIRE_SAMPLE(sample);
    auto tab = ranTab(sample.lib, test::wordsQuery(QStringLiteral("رسول الله")));
    const int all = tab->resultCount();
    ASSERT_GT(all, 0);

    test::HeldJobs jobs;
    tab->refineField()->setText(QStringLiteral("ظظظقققغغغ"));
    tab->startRefine();
    EXPECT_EQ(tab->countLabel()->text(), QStringLiteral("جارٍ البحث في النتائج…"));
    tab->refineField()->setText(QStringLiteral("  مالك "));
    tab->startRefine();
    ASSERT_EQ(jobs.size(), 2);
    // The later refinement ends first; the earlier one, ending after it, is dropped.
    jobs.run(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tab->refining(); }, 20000));
    const int narrowed = tab->resultCount();
    EXPECT_GT(narrowed, 0);
    EXPECT_LT(narrowed, all);
    jobs.run(0);
    EXPECT_EVENTUALLY(tab->resultCount() == narrowed, 5000) << tab->resultCount();

    // Text that matches nothing empties the table; an empty field shows every hit again.
    tab->refineField()->setText(QStringLiteral("ظظظقققغغغ"));
    tab->startRefine();
    jobs.runAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tab->refining(); }, 20000));
    EXPECT_EQ(tab->resultCount(), 0);
    EXPECT_EQ(tab->countLabel()->text(), QStringLiteral("النتائج: ٠"));
    tab->refineField()->setText(QStringLiteral(" \t"));
    tab->startRefine();
    EXPECT_EQ(tab->resultCount(), all);

    // On a tab without hits the scope is empty and nothing matches.
    SearchTabView empty(sample.lib, SearchQuery(), QList<SearchHit>{});
    empty.refineField()->setText(QStringLiteral("مالك"));
    empty.startRefine();
    jobs.runAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !empty.refining(); }, 20000));
    EXPECT_EQ(empty.resultCount(), 0);
}

TEST_F(SearchTabViewTest, savingStoresTheShownPagesOrSaysItCouldNot)
{
    ASSERT_TRUE(true);
    SmallLib small;
    ASSERT_TRUE(small.lib);
    const QList<SearchHit> hits{SearchHit(SearchHit::Kind::title, 0, SmallLib::hadithA, 1),
                                SearchHit(SearchHit::Kind::note, 0, SmallLib::hadithB, 1, QStringLiteral("رسول"))};
    SearchTabView tab(small.lib, test::wordsQuery(QStringLiteral("رسول")), hits);
    tab.saveResults();
    const QList<Library::SavedResult> saved = small.lib->savedResults();
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0].name, QStringLiteral("رسول"));
    EXPECT_TRUE(saved[0].pageIds.isEmpty());
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("حُفظت النتائج"));
    EXPECT_EQ(dialogs.requests()[0].text, QStringLiteral("«رسول» – ٠ نتيجة\nتجدها في نافذة البحث ← السجلات."));

    SearchTabView pages(small.lib, test::wordsQuery(QStringLiteral("رسول")),
                        QList<SearchHit>{page(SmallLib::plainPage, SmallLib::hadithA, 7), page(1101, SmallLib::hadithB, 1)});
    pages.saveField()->setText(QStringLiteral(" مختارات\t"));
    pages.saveResults();
    EXPECT_EQ(small.lib->savedResults().value(0).pageIds, (QList<std::int64_t>{SmallLib::plainPage, 1101}));
    EXPECT_EQ(small.lib->savedResults().value(0).name, QStringLiteral("مختارات"));
    EXPECT_TRUE(pages.saveField()->text().isEmpty());

    // A set that cannot be written is not announced as saved, and its name stays.
    dialogs.clear();
    ASSERT_TRUE(small.lib->user().run(QStringLiteral("DROP TABLE saved_results")));
    pages.saveField()->setText(QStringLiteral("مختارات"));
    pages.saveResults();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("تعذر حفظ النتائج"));
    EXPECT_EQ(pages.saveField()->text(), QStringLiteral("مختارات"));
}

TEST_F(SearchTabViewTest, theCategoryPopupMergesTitlesAndFiltersOnEveryKey)
{
    SmallLib small;
    ASSERT_TRUE(small.lib);
    const QList<SearchHit> hits{page(1001, SmallLib::hadithA, 3), page(1101, SmallLib::hadithB, 1),
                                page(1201, SmallLib::noCategory, 1), page(1301, SmallLib::lostCategory, 1),
                                page(1401, SmallLib::fiqh, 1)};
    SearchTabView tab(small.lib, test::wordsQuery(QStringLiteral("رسول")), hits);
    QComboBox* popup = tab.categoryPopup();
    ASSERT_EQ(popup->count(), 4);
    const int uncategorised = popup->findText(QStringLiteral("غير مصنّف"));
    ASSERT_GT(uncategorised, 0);
    EXPECT_EQ(popup->itemData(uncategorised, Qt::ToolTipRole).toString(), QStringLiteral("٢"));
    popup->setCurrentIndex(uncategorised);
    tab.refilter(false);
    EXPECT_EQ(tab.resultCount(), 2);
    popup->setCurrentIndex(popup->findText(QStringLiteral("كتب الحديث")));
    tab.refilter(false);
    EXPECT_EQ(tab.resultCount(), 2);

    QStringList centuries;
    for (int i = 0; i < tab.centuryPopup()->count(); ++i)
        centuries << tab.centuryPopup()->itemText(i);
    EXPECT_EQ(centuries, (QStringList{"جميع القرون", "قبل الهجرة", "القرن الأول", "القرن الثاني", "غير محدّد"}));
}

TEST_F(SearchTabViewTest, theReaderFollowsTheSelectionAcrossBooksAndTheTableEndsBeep)
{
    REQUIRE_SAMPLE(sample);
    const QList<SearchHit> preset{page(1, 1, 1), page(2, 1, 2), page(41, 2, 1)};
    SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("مالك")), preset);
    std::optional<SearchQuery> asked;
    tab.onRunSearch = [&](const SearchQuery& q) { asked = q; };
    QList<std::pair<std::int64_t, std::optional<std::int64_t>>> opened;
    tab.onOpenBook = [&](std::int64_t b, std::optional<std::int64_t> s) { opened.append({b, s}); };

    ReaderView* reader = tab.currentReader();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->book().id, 1);
    EXPECT_FALSE(reader->highlight().isEmpty());
    EXPECT_TRUE(reader->showsResultsToggle());

    // Stepping back past the first hit of the first row beeps and keeps the selection.
    ASSERT_EQ(reader->hitIndex(), 0);
    reader->nextHit(-1);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(tab.selectedRow(), 0);
    // The next row chosen opens at its first hit.
    tab.moveResult(1);
    EXPECT_EQ(tab.selectedRow(), 1);
    EXPECT_EQ(reader->hitIndex(), 0);
    reader->onHitOverflow(1);
    EXPECT_EQ(tab.selectedRow(), 2);
    // Another book's hit: the same reader shows that book.
    EXPECT_EQ(tab.currentReader(), reader);
    EXPECT_EQ(reader->book().id, 2);
    tab.moveResult(1);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(tab.selectedRow(), 2);

    // Find in book searches the book the reader shows now.
    reader->onSearchInBook(QStringLiteral("نافع"));
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->andPhrases, QStringList{QStringLiteral("نافع")});
    EXPECT_EQ(asked->scope, QList<std::int64_t>{2});

    // The results toggle hides and gives back the results pane.
    reader->onToggleResults();
    EXPECT_TRUE(tab.bottom()->isHidden());
    reader->onToggleResults();
    EXPECT_FALSE(tab.bottom()->isHidden());

    // A double click opens the row's hit, else the selected one's, in a book tab.
    tab.openInBookTab(0);
    tab.openInBookTab(-1);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], (std::pair<std::int64_t, std::optional<std::int64_t>>{1, 1}));
    EXPECT_EQ(opened[1].first, 2);
    // A double click below the last row opens the selected row's hit.
    tab.resize(900, 700);
    tab.show();
    QCoreApplication::processEvents();
    QWidget* rows = tab.table()->viewport();
    ASSERT_GT(rows->height(), 4 * 30);
    QTest::mouseDClick(rows, Qt::LeftButton, {}, QPoint(rows->width() / 2, rows->height() - 5));
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[2].first, 2);
    tab.table()->clearSelection();
    tab.openInBookTab(-1);
    QTest::mouseDClick(rows, Qt::LeftButton, {}, QPoint(rows->width() / 2, rows->height() - 5));
    EXPECT_EQ(opened.size(), 3);
    // With no selection, +1 reaches the first row and -1 beeps.
    tab.moveResult(-1);
    EXPECT_EQ(beeps, 3);
    tab.moveResult(1);
    EXPECT_EQ(tab.selectedRow(), 0);
}

TEST_F(SearchTabViewTest, previewingResultsLeavesEveryBooksReadingPositionAlone)
{
    REQUIRE_SAMPLE(sample);
    sample.lib->setLastViewed(1, 5);
    const QList<SearchHit> preset{page(1, 1, 1), page(2, 1, 2), page(41, 2, 1)};
    SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("مالك")), preset);
    ReaderView* reader = tab.currentReader();
    ASSERT_NE(reader, nullptr);
    tab.moveResult(1);
    reader->step(1);
    tab.moveResult(1);
    reader->step(1);
    EXPECT_EQ(reader->book().id, 2);
    // Read before: still where the reader left it; never read: still unread.
    EXPECT_EQ(sample.lib->lastViewed(1), 5);
    EXPECT_FALSE(sample.lib->lastViewed(2));
    EXPECT_EQ(sample.lib->recentBooks().size(), 1);
}

TEST_F(SearchTabViewTest, returnOnTheSelectedRowOpensItAsADoubleClickDoes)
{
    REQUIRE_SAMPLE(sample);
    const QList<SearchHit> preset{page(1, 1, 1), page(2, 1, 2), page(41, 2, 1)};
    SearchTabView tab(sample.lib, test::wordsQuery(QStringLiteral("مالك")), preset);
    QList<std::int64_t> opened;
    tab.onOpenBook = [&](std::int64_t b, std::optional<std::int64_t>) { opened.append(b); };
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        tab.moveResult(1);
        QTest::keyClick(tab.table(), key);
    }
    EXPECT_EQ(opened, (QList<std::int64_t>{1, 2}));
}

TEST_F(SearchTabViewTest, theMainWindowRunsSearchesInNewTabsWithoutTheIgnoredBooks)
{
    REQUIRE_SAMPLE(sample);
    test::HeldJobs jobs;
    MainWindowController w(sample.lib);
    w.runSearch(SearchQuery());
    EXPECT_TRUE(w.tabs().isEmpty());

    sample.lib->setIgnoredBooks({1, 2});
    w.runSearch(test::wordsQuery(QStringLiteral("الصلاة")));
    auto* whole = qobject_cast<SearchTabView*>(w.tabs().value(0)->view());
    ASSERT_NE(whole, nullptr);
    ASSERT_TRUE(whole->query().scope);
    EXPECT_EQ(whole->query().scope->size(), sample.lib->books().size() - 2);
    EXPECT_FALSE(whole->query().scope->contains(1));

    SearchQuery one = test::wordsQuery(QStringLiteral("الصلاة"));
    one.scope = QList<std::int64_t>{1};
    w.runSearch(one);
    w.runSearch(one, QList<SearchHit>{page(1, 1, 1)});
    ASSERT_EQ(w.tabs().size(), 3);
    EXPECT_EQ(qobject_cast<SearchTabView*>(w.tabs()[1]->view())->query().scope, QList<std::int64_t>{1});
    auto* preset = qobject_cast<SearchTabView*>(w.tabs()[2]->view());
    EXPECT_EQ(preset->query().scope, QList<std::int64_t>{1});
    EXPECT_EQ(preset->resultCount(), 1);

    // Opening a hit goes to a book tab with the query's marks.
    preset->openInBookTab(0);
    ASSERT_EQ(w.tabs().size(), 4);
    ASSERT_NE(w.tabs()[3]->reader(), nullptr);
    EXPECT_EQ(w.tabs()[3]->reader()->query(), preset->query());

    // The embedded reader's find-in-book opens a tab of its own.
    preset->currentReader()->onSearchInBook(QStringLiteral("نافع"));
    ASSERT_EQ(w.tabs().size(), 5);
    EXPECT_EQ(qobject_cast<SearchTabView*>(w.tabs()[4]->view())->query().scope, QList<std::int64_t>{1});
    sample.lib->setIgnoredBooks({});
}

TEST_F(SearchTabViewTest, anEmptyRunSaysNothingWasFoundAndWhyWhereTheQueryShowsIt)
{
    REQUIRE_SAMPLE(sample);
    MainWindowController w(sample.lib);
    w.setSearchMode(0);
    w.resize(1300, 860);
    w.show();
    const auto typed = [&](const QString& text) {
        w.searchField()->clear();
        for (const QChar c : text) // keyClicks takes ASCII only
            QTest::sendKeyEvent(QTest::Click, w.searchField(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::keyClick(w.searchField(), Qt::Key_Return);
        auto* tab = qobject_cast<SearchTabView*>(w.tabs().value(w.active())->view());
        EXPECT_NE(tab, nullptr);
        EXPECT_TRUE(tab && QTest::qWaitFor([&] { return tab->isDone(); }, 20000));
        return tab;
    };
    struct Case {
        QString text;
        QString why;
    };
    const Case cases[] = {
        {QStringLiteral("*"), QStringLiteral("علامة «*» أو «؟» وحدها")},
        {QStringLiteral("ب*"), QStringLiteral("الكلمة «ب*» أقصر من أن يُبحث بها")},
        {QStringLiteral("ظظظقققغغغ"), QString()},
    };
    for (const Case& c : cases) {
        SearchTabView* tab = typed(c.text);
        ASSERT_NE(tab, nullptr) << c.text.toStdString();
        EXPECT_EQ(tab->resultCount(), 0) << c.text.toStdString();
        EXPECT_TRUE(tab->hintText().startsWith(QStringLiteral("لم يُعثر على نتائج"))) << tab->hintText().toStdString();
        EXPECT_EQ(tab->hintText().contains(c.why) && !c.why.isEmpty(), !c.why.isEmpty()) << tab->hintText().toStdString();
    }
    // A scope that holds no book of the library, as a verse's tafsir books
    // may on a library without them.
    SearchQuery scoped = test::wordsQuery(QStringLiteral("الصلاة"));
    scoped.scope = QList<std::int64_t>{987654};
    w.runSearch(scoped);
    auto* tab = qobject_cast<SearchTabView*>(w.tabs().value(w.active())->view());
    ASSERT_NE(tab, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tab->isDone(); }, 20000));
    EXPECT_TRUE(tab->hintText().contains(QStringLiteral("النطاق المختار لا يضم أي كتاب"))) << tab->hintText().toStdString();

    w.select(0);
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        Notifier::postReaderSettingsChanged();
        QCoreApplication::processEvents();
        const QImage shot = w.grab().toImage();
        EXPECT_FALSE(shot.isNull());
        EXPECT_TRUE(shot.save(QCoreApplication::applicationDirPath()
                                  + (night ? QStringLiteral("/search-empty-night.png") : QStringLiteral("/search-empty.png")),
                              "PNG"));
    }
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
}

TEST_F(SearchTabViewTest, quranExcerptsShowTheVerseAndItsMarkNotTheBooksMarkup)
{
    REQUIRE_SAMPLE(sample);
    auto tab = ranTab(sample.lib, test::wordsQuery(QStringLiteral("الرحمن الرحيم")));
    ASSERT_GT(tab->resultCount(), 0);
    int verses = 0;
    for (int row = 0; row < tab->resultCount(); ++row) {
        const QString text = tab->model()->index(row, ResultsModel::textColumn).data().toString();
        EXPECT_FALSE(text.contains(u'|')) << text.toStdString();
        if (text.contains(QChar(0xFD3F)))
            ++verses;
    }
    EXPECT_GT(verses, 0);
}

TEST_F(SearchTabViewTest, resultsPictureShowsTheReaderAndMarkedExcerpts)
{
    REQUIRE_SAMPLE(sample);
    auto tab = ranTab(sample.lib, test::wordsQuery(QStringLiteral("رسول الله")));
    tab->resize(1300, 860);
    tab->show();
    // The split shown, then the reader given its share above the results.
    ASSERT_EVENTUALLY(tab->currentReader() && tab->currentReader()->isVisible() && tab->table()->isVisible(), 5000);
    tab->placeDivider();
    QCoreApplication::processEvents();
    ASSERT_NE(tab->currentReader(), nullptr);
    const QImage shot = tab->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/search-results.png");
    ASSERT_TRUE(shot.save(file, "PNG"));
    const QImage back(file);
    EXPECT_EQ(back.size(), tab->size() * back.devicePixelRatio());

    // The table shows excerpts with their matches on the mark colour.
    const QImage table = tab->table()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor mark = Theme::hitMark();
    int marked = 0;
    for (int y = 0; y < table.height(); ++y)
        for (int x = 0; x < table.width(); ++x) {
            const QColor c(table.pixel(x, y));
            if (std::abs(c.red() - mark.red()) < 12 && std::abs(c.green() - mark.green()) < 12
                && std::abs(c.blue() - mark.blue()) < 12)
                ++marked;
        }
    EXPECT_GT(marked, 200);
    EXPECT_GT(tab->split()->sizes().value(0), tab->split()->sizes().value(1));
}

} // namespace
