#include "ui/reader/ReaderTestSupport.h"

#include "core/Arabic.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "support/FixtureLibrary.h"
#include "support/Wait.h"
#include "ui/kit/Beep.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/MarkedScroller.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/PageTextView.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/MainWindowController.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSlider>
#include <QSplitter>
#include <QTest>
#include <QThreadPool>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

constexpr std::int64_t kGapBook = 901;
constexpr std::int64_t kMuwatta = 1;   // two volumes, a table of contents
constexpr std::int64_t kNoTocBook = 3; // no table of contents
constexpr std::int64_t kSiffin = 17;

class ReaderNavigationTest : public ::testing::Test {
protected:
    ReaderNavigationTest()
        : prefs({Settings::indicDigitsKey, Settings::nightReadingKey, Settings::copyNoTashkeelKey,
                 Settings::copyNoFootnoteRefsKey})
    {
        AppDelegate::prepareApplication();
        previousBeep = Beep::setHook([this] { ++beeps; });
    }
    ~ReaderNavigationTest() override { Beep::setHook(previousBeep); }

    void TearDown() override
    {
        // Nothing stays running into the next test.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        EXPECT_TRUE(dialogs.requests().isEmpty());
    }

    // A book with pages at 1, 2, 5 and 6 only.
    std::shared_ptr<Library> gapLibrary()
    {
        QStringList rows{QStringLiteral("INSERT INTO books(id, title) VALUES(%1, 'كتاب الفجوة')").arg(kGapBook)};
        for (int seq : {1, 2, 5, 6})
            rows << QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(%1, %2, NULL, %3, "
                                   "%1, 'حَدَّثَنَا مَالِكٌ عَنْ نَافِعٍ صفحة %1')")
                        .arg(seq)
                        .arg(kGapBook)
                        .arg(seq + 10);
        const QString path = test::FixtureLibrary::custom(dir.path(), QStringLiteral("gaps.db"), rows);
        EXPECT_FALSE(path.isEmpty());
        test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
        return Library::open(path);
    }

    std::unique_ptr<ReaderView> reader(std::int64_t book, std::optional<std::int64_t> seq,
                                       const std::shared_ptr<Library>& lib)
    {
        return std::make_unique<ReaderView>(lib, *lib->book(book), seq);
    }

    // A reader of the Muwatta marking «الجمعة», a word on pages 8, 9, 70
    // and then on a run from 100 on.
    std::unique_ptr<ReaderView> fridayReader(std::int64_t seq)
    {
        auto r = reader(kMuwatta, seq, sample.lib);
        SearchQuery q;
        q.andPhrases = {QStringLiteral("الجمعة")};
        r->setQuery(q);
        r->setHighlight(q.highlightTerms());
        return r;
    }

    static void showAt(QWidget& w, int width, int height = 760)
    {
        w.resize(width, height);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    }

    // Waits for a queued book search to come back and be taken up.
    static void settle()
    {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }

    test::PreferenceGuard prefs;
    ScriptedDialogs dialogs;
    test::SampleLib sample;
    QTemporaryDir dir;
    int beeps = 0;
    std::function<void()> previousBeep;
};

} // namespace

// ---- Page text keys, menu and copy -------------------------------------------

TEST_F(ReaderNavigationTest, arrowKeysTurnPagesInReadingDirectionUnlessModified)
{
    auto lib = gapLibrary();
    ASSERT_TRUE(lib);
    auto r = reader(kGapBook, 1, lib);
    PageTextView* text = r->textView();
    QTest::keyClick(text, Qt::Key_Left);
    EXPECT_EQ(r->seq(), 2);
    QTest::keyClick(text, Qt::Key_Left);
    EXPECT_EQ(r->seq(), 5); // over the gap
    QTest::keyClick(text, Qt::Key_Right, Qt::KeypadModifier);
    EXPECT_EQ(r->seq(), 2);
    EXPECT_EQ(r->backHistory(), QList<std::int64_t>({1, 2, 5}));

    // Shift extends the selection instead.
    QTextCursor cursor = text->textCursor();
    cursor.setPosition(3);
    text->setTextCursor(cursor);
    QTest::keyClick(text, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(r->seq(), 2);
    EXPECT_TRUE(text->textCursor().hasSelection());

    // Without a callback the arrows do nothing at all, the caret included.
    PageTextView bare;
    bare.setPlainText(QStringLiteral("حدثنا مالك عن نافع"));
    QTextCursor caret = bare.textCursor();
    caret.setPosition(5);
    bare.setTextCursor(caret);
    QTest::keyClick(&bare, Qt::Key_Left);
    QTest::keyClick(&bare, Qt::Key_Right);
    EXPECT_EQ(bare.textCursor().position(), 5);
    EXPECT_FALSE(bare.textCursor().hasSelection());
}

TEST_F(ReaderNavigationTest, ctrlArrowsInThePageTextReachTheWindowsPageCommands)
{
    auto lib = gapLibrary();
    ASSERT_TRUE(lib);
    QWidget window;
    auto* r = new ReaderView(lib, *lib->book(kGapBook), 1, &window);
    r->setGeometry(0, 0, 900, 600);
    int next = 0;
    auto* command = new QAction(&window);
    command->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Right));
    command->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(command, &QAction::triggered, [&next] { ++next; });
    window.addAction(command);
    showAt(window, 900, 600);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    r->textView()->setFocus();
    ASSERT_TRUE(r->textView()->hasFocus());
    QTest::keyClick(r->textView(), Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(next, 1);
    EXPECT_EQ(r->seq(), 1);
}

TEST_F(ReaderNavigationTest, aContextMenuComesEvenPastTheTextAndPassesTheHook)
{
    auto lib = gapLibrary();
    ASSERT_TRUE(lib);
    auto r = reader(kGapBook, 1, lib);
    showAt(*r, 900, 600);
    QList<QPoint> seen;
    r->textView()->extraMenu = [&seen](QMenu* menu, const QPoint& at) {
        seen.append(at);
        menu->addAction(QStringLiteral("بند المالك"));
    };
    // Far below the one short line of the page.
    const QPoint empty(r->textView()->viewport()->width() / 2, r->textView()->viewport()->height() - 5);
    std::unique_ptr<QMenu> menu(r->textView()->menuFor(empty));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(seen, QList<QPoint>{empty});
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().last()->text(), QStringLiteral("بند المالك"));
}

TEST_F(ReaderNavigationTest, copyIsRichAndPlainUnlessAPreferenceAsksForPlainCleanText)
{
    auto lib = gapLibrary();
    ASSERT_TRUE(lib);
    auto r = reader(kGapBook, 1, lib);
    PageTextView* text = r->textView();
    const QString marked = QStringLiteral("حَدَّثَنَا مَالِكٌ");
    text->selectAll();
    QClipboard* clipboard = QApplication::clipboard();

    // Both off: the standard copy, rich and plain, the marks kept.
    text->copy();
    const QMimeData* data = clipboard->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->hasHtml());
    EXPECT_TRUE(data->text().contains(marked));

    // One on: only plain text, the marks gone.
    Settings::setCopyNoTashkeel(true);
    text->copy();
    data = clipboard->mimeData();
    EXPECT_FALSE(data->hasHtml());
    EXPECT_TRUE(data->text().startsWith(QStringLiteral("حدثنا مالك عن نافع")));
    EXPECT_FALSE(data->text().contains(marked));

    // Nothing selected: the standard copy, which copies nothing.
    clipboard->setText(QStringLiteral("قبل"));
    QTextCursor none = text->textCursor();
    none.clearSelection();
    text->setTextCursor(none);
    text->copy();
    EXPECT_EQ(clipboard->text(), QStringLiteral("قبل"));
}

// ---- Page commands ------------------------------------------------------------------

TEST_F(ReaderNavigationTest, stepJumpsGapsAndStopsAtTheEnds)
{
    auto lib = gapLibrary();
    ASSERT_TRUE(lib);
    auto r = reader(kGapBook, 2, lib);
    r->step(1);
    EXPECT_EQ(r->seq(), 5);
    r->step(0); // anything below one goes back
    EXPECT_EQ(r->seq(), 2);
    r->last();
    EXPECT_EQ(r->seq(), 6);
    const auto history = r->backHistory();
    r->step(1);
    EXPECT_EQ(r->seq(), 6);
    EXPECT_EQ(r->backHistory(), history);
    r->first();
    r->step(-1);
    EXPECT_EQ(r->seq(), 1);

    // The header's page arrows: the left one goes forward.
    QTest::mouseClick(r->nextPageButton(), Qt::LeftButton);
    EXPECT_EQ(r->seq(), 2);
    QTest::mouseClick(r->previousPageButton(), Qt::LeftButton);
    EXPECT_EQ(r->seq(), 1);
}

TEST_F(ReaderNavigationTest, thePageFieldTakesPrintedNumbersInTheChosenVolume)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 1, sample.lib);
    QLineEdit* field = r->pageField();
    auto type = [&](const QString& text) {
        field->setText(text);
        QTest::keyClick(field, Qt::Key_Return);
    };
    type(QStringLiteral("٤٥"));
    EXPECT_EQ(r->seq(), 44);
    EXPECT_EQ(r->page()->num, 45);
    r->first();
    type(QStringLiteral(" 45 "));
    EXPECT_EQ(r->seq(), 44);
    r->first();
    type(QStringLiteral("45x"));
    EXPECT_EQ(r->seq(), 1);
    type(QString());
    EXPECT_EQ(r->seq(), 1);

    // The second volume numbers its pages from 443.
    r->volPopup()->setCurrentIndex(1);
    type(QStringLiteral("45"));
    EXPECT_EQ(r->page()->vol, QStringLiteral("2"));
    EXPECT_EQ(r->page()->num, 443);
    EXPECT_EQ(r->seq(), 426);

    // Past every printed number: taken as a seq and clamped to the last page.
    type(QStringLiteral("99999"));
    EXPECT_EQ(r->seq(), r->maxSeq());
}

TEST_F(ReaderNavigationTest, openSwitchesBooksWithTheirOwnPageHistoryAndContents)
{
    REQUIRE_SAMPLE(sample);
    sample.lib->setLastViewed(kSiffin, 40);
    auto r = reader(kMuwatta, 10, sample.lib);
    showAt(*r, 1200);
    r->go(20);
    const QList<std::int64_t> history = r->backHistory();

    // The same book without a page: nothing moves, nothing is recorded.
    r->open(*sample.lib->book(kMuwatta), std::nullopt);
    EXPECT_EQ(r->seq(), 20);
    EXPECT_EQ(r->backHistory(), history);

    // Another book resumes where it was left, with a history of its own.
    r->open(*sample.lib->book(kSiffin), std::nullopt);
    EXPECT_EQ(r->book().id, kSiffin);
    EXPECT_EQ(r->seq(), 40);
    EXPECT_TRUE(r->backHistory().isEmpty());
    EXPECT_EQ(r->titleLabel()->text(), sample.lib->book(kSiffin)->title);

    // No contents: the pane goes, and comes back with a book that has some.
    r->open(*sample.lib->book(kNoTocBook), 5);
    EXPECT_TRUE(r->outline()->isHidden());
    r->open(*sample.lib->book(kMuwatta), std::nullopt);
    EXPECT_EQ(r->seq(), 20);
    EXPECT_FALSE(r->outline()->isHidden());
    EXPECT_GT(r->split()->sizes().value(0), 0);

    // Unless the user hid it.
    r->toggleToc();
    ASSERT_TRUE(r->userHidToc());
    r->open(*sample.lib->book(kNoTocBook), std::nullopt);
    r->open(*sample.lib->book(kMuwatta), std::nullopt);
    EXPECT_TRUE(r->outline()->isHidden());
}

// ---- Hit navigation -------------------------------------------------------------------

TEST_F(ReaderNavigationTest, hitsStepInsideThePageWithoutRenderingAndAcrossPagesWithOneBookSearch)
{
    REQUIRE_SAMPLE(sample);
    auto r = fridayReader(8);
    showAt(*r, 1100);
    ASSERT_EQ(r->hitRanges().size(), 4);
    EXPECT_EQ(r->hitLabel()->text(), QStringLiteral("١ / ٤"));

    // Inside the page: two backgrounds change, nothing is rendered.
    const int renders = r->renderCount();
    r->nextHit(1);
    r->nextHit(1);
    EXPECT_EQ(r->hitIndex(), 2);
    EXPECT_EQ(r->hitLabel()->text(), QStringLiteral("٣ / ٤"));
    EXPECT_EQ(r->renderCount(), renders);
    const QTextDocument* doc = r->textView()->document();
    auto background = [doc](const Arabic::Range& range) {
        QTextCursor c(const_cast<QTextDocument*>(doc));
        c.setPosition(int(range.location + 1));
        return c.charFormat().background().color();
    };
    EXPECT_EQ(background(r->hitRanges()[2]), Theme::hitCurrent());
    EXPECT_EQ(background(r->hitRanges()[1]), Theme::hitMark());
    EXPECT_EQ(background(r->hitRanges()[0]), Theme::hitMark());

    // Past the last hit: the next page with hits, at its first hit.
    r->nextHit(1);
    ASSERT_EQ(r->hitIndex(), 3);
    r->nextHit(1);
    EXPECT_EQ(r->seq(), 8); // the book search is still running
    ASSERT_TRUE(QTest::qWaitFor([&] { return r->seq() != 8; }, 20000));
    EXPECT_EQ(r->seq(), 9);
    EXPECT_EQ(r->hitIndex(), 0);
    ASSERT_TRUE(r->bookHitSeqs());
    EXPECT_EQ(r->bookHitSeqs()->mid(0, 3), QList<std::int64_t>({8, 9, 70}));

    // A page without hits steps to the nearest with hits either way.
    r->go(50);
    r->nextHit(1);
    EXPECT_EQ(r->seq(), 70);
    r->go(50);
    r->nextHit(-1);
    EXPECT_EQ(r->seq(), 9);
    r->nextHit(-1);
    // Backwards lands on the previous page's last hit.
    EXPECT_EQ(r->seq(), 8);
    EXPECT_EQ(r->hitIndex(), 3);
    EXPECT_EQ(r->hitLabel()->text(), QStringLiteral("٤ / ٤"));

    // Before the first and past the last page with hits: a beep, no move.
    r->nextHit(-4);
    EXPECT_EQ(r->seq(), 8);
    EXPECT_EQ(beeps, 1);
    r->go(r->bookHitSeqs()->last());
    r->nextHit(int(r->hitRanges().size()));
    EXPECT_EQ(r->seq(), r->bookHitSeqs()->last());
    EXPECT_EQ(beeps, 2);

    // One book search served every page step.
    EXPECT_EQ(r->bookSearchCount(), 1);
    // New terms forget the pages; the next crossing searches again.
    r->setHighlight({{QStringLiteral("الكسوف"), Arabic::Match::word}});
    EXPECT_FALSE(r->bookHitSeqs());
}

TEST_F(ReaderNavigationTest, aPageTurnedWhileTheCurrentHitGlowsLeavesNoGlowBehind)
{
    REQUIRE_SAMPLE(sample);
    auto r = fridayReader(8);
    showAt(*r, 1100);
    ASSERT_EQ(r->hitRanges().size(), 4);

    // The glow is on when the page turns under it; the old page is deleted,
    // and neither the glow's end nor the next glow may reach back into it.
    r->nextHit(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !r->textView()->extraSelections().isEmpty(); }, 20000));
    r->go(9);
    EXPECT_TRUE(r->textView()->extraSelections().isEmpty());
    QTest::qWait(600);
    r->nextHit(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !r->textView()->extraSelections().isEmpty(); }, 20000));
    EXPECT_EQ(r->textView()->extraSelections().first().cursor.document(), r->textView()->document());
    r->go(70);
    QTest::qWait(600);
    EXPECT_TRUE(r->textView()->extraSelections().isEmpty());
}

TEST_F(ReaderNavigationTest, anOwnerDecidesPastThePageAndANoMoveLeavesNoPendingLastHit)
{
    REQUIRE_SAMPLE(sample);
    auto r = fridayReader(8);
    QList<int> asked;
    r->onHitOverflow = [&asked](int delta) { asked.append(delta); };
    ASSERT_EQ(r->hitIndex(), 0);
    // The owner beeps at its first row and does not move; a later slider
    // move is unrelated and opens its page at the first hit.
    r->nextHit(-1);
    EXPECT_EQ(asked, QList<int>({-1}));
    EXPECT_EQ(r->seq(), 8);
    r->slider()->setValue(101);
    r->slider()->triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(r->seq(), 101);
    ASSERT_GT(r->hitRanges().size(), 1);
    EXPECT_EQ(r->hitIndex(), 0);

    // Past the last hit the owner is asked for +1; the book is not searched.
    while (r->hitIndex() + 1 < r->hitRanges().size())
        r->nextHit(1);
    r->nextHit(1);
    EXPECT_EQ(asked, QList<int>({-1, 1}));
    EXPECT_EQ(r->bookSearchCount(), 0);
    EXPECT_EQ(r->seq(), 101);

    // An owner that moves does get the last hit of the page it shows.
    r->onHitOverflow = [&r](int) { r->go(100); };
    r->go(101);
    ASSERT_EQ(r->hitIndex(), 0);
    r->nextHit(-1);
    EXPECT_EQ(r->seq(), 100);
    EXPECT_EQ(r->hitIndex(), r->hitRanges().size() - 1);
}

TEST_F(ReaderNavigationTest, withoutTermsOrOwnerAStepBeepsAndTheCounterIsEmpty)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8, sample.lib);
    EXPECT_TRUE(r->hitLabel()->text().isEmpty());
    EXPECT_TRUE(r->scroller()->marks().isEmpty());
    r->nextHit(1);
    r->nextHit(-1);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(r->bookSearchCount(), 0);

    // The find field marks the page; Return with the same text steps.
    showAt(*r, 1000);
    r->pageFind()->setText(QStringLiteral("مالك"));
    ASSERT_GE(r->hitRanges().size(), 2);
    EXPECT_EQ(r->hitIndex(), 0);
    QTest::keyClick(r->pageFind(), Qt::Key_Return);
    EXPECT_EQ(r->hitIndex(), 1);
    QTest::mouseClick(r->hitDownButton(), Qt::LeftButton);
    EXPECT_EQ(r->hitIndex(), 2);
    QTest::mouseClick(r->hitUpButton(), Qt::LeftButton);
    EXPECT_EQ(r->hitIndex(), 1);

    // Marks sit at the middle of each hit, top to bottom.
    const QList<double> marks = r->scroller()->marks();
    ASSERT_EQ(marks.size(), r->hitRanges().size());
    for (int i = 0; i < marks.size(); ++i) {
        EXPECT_GT(marks[i], 0.0);
        EXPECT_LT(marks[i], 1.0);
        if (i > 0) {
            EXPECT_GE(marks[i], marks[i - 1]);
        }
    }
}

TEST_F(ReaderNavigationTest, aBookSearchThatComesBackAfterABookSwitchIsDropped)
{
    REQUIRE_SAMPLE(sample);
    auto r = fridayReader(50);
    r->nextHit(1);
    EXPECT_EQ(r->bookSearchCount(), 1);
    // The search's answer waits in the queue while the reader changes book.
    r->open(*sample.lib->book(kSiffin), 3);
    settle();
    EXPECT_EQ(r->book().id, kSiffin);
    EXPECT_EQ(r->seq(), 3);
    EXPECT_FALSE(r->bookHitSeqs());

    // A reader closed while its search runs is simply gone: the search keeps
    // its own share of the library.
    auto closing = fridayReader(50);
    closing->nextHit(1);
    closing.reset();
    settle();
}

TEST_F(ReaderNavigationTest, theWindowStepsTheActiveTabsReaderOnly)
{
    REQUIRE_SAMPLE(sample);
    MainWindowController w(sample.lib);
    w.nextHit(1); // no tab: nothing
    SearchQuery q;
    q.andPhrases = {QStringLiteral("الجمعة")};
    w.openBook(kMuwatta, 8, q.highlightTerms(), q);
    ReaderView* r = w.tabs()[0]->reader();
    ASSERT_NE(r, nullptr);
    w.nextHit(1);
    EXPECT_EQ(r->hitIndex(), 1);
    w.nextHit(-1);
    EXPECT_EQ(r->hitIndex(), 0);
    w.runSearch(q); // a tab without a reader yet
    w.nextHit(1);
    EXPECT_EQ(r->hitIndex(), 0);
    EXPECT_EQ(beeps, 0);
}

TEST_F(ReaderNavigationTest, hitsPictureShowsBothHitColoursAndTheScrollBarMarks)
{
    REQUIRE_SAMPLE(sample);
    auto r = fridayReader(101);
    showAt(*r, 1200, 800);
    ASSERT_GE(r->hitRanges().size(), 5);
    r->nextHit(1);
    r->nextHit(1);
    // The hit's glow is on.
    ASSERT_EVENTUALLY(!r->textView()->extraSelections().isEmpty(), 2000);
    const QImage shot = r->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/reader-hits.png");
    ASSERT_TRUE(shot.save(file, "PNG"));

    auto has = [](const QImage& image, const QColor& colour) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (QColor(image.pixel(x, y)).rgb() == colour.rgb())
                    return true;
        return false;
    };
    // A moment after the step a short glow covers the current hit: the
    // page is read where the hit's own colour shows, before it or after it.
    QImage page;
    EXPECT_EVENTUALLY(has(page = r->textView()->viewport()->grab().toImage(), Theme::hitCurrent()), 20000);
    // The other hits' colour is translucent over the parchment.
    QColor mark = Theme::hitMark();
    const QColor paper = Theme::parchment();
    const double a = mark.alphaF();
    const QColor blended = QColor::fromRgbF(mark.redF() * a + paper.redF() * (1 - a),
                                            mark.greenF() * a + paper.greenF() * (1 - a),
                                            mark.blueF() * a + paper.blueF() * (1 - a));
    bool near = false;
    for (int y = 0; y < page.height() && !near; ++y)
        for (int x = 0; x < page.width() && !near; ++x) {
            const QColor c(page.pixel(x, y));
            near = std::abs(c.red() - blended.red()) <= 2 && std::abs(c.green() - blended.green()) <= 2 &&
                   std::abs(c.blue() - blended.blue()) <= 2;
        }
    EXPECT_TRUE(near);
    EXPECT_TRUE(has(r->scroller()->grab().toImage(), Theme::hitCurrent()));
}
