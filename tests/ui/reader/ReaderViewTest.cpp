#include "ui/reader/ReaderTestSupport.h"

#include "core/Arabic.h"
#include "core/Notifier.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "support/FixtureLibrary.h"
#include "support/Wait.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/MarkedScroller.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/PageRenderer.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/MainWindowController.h"

#include <QApplication>
#include <QComboBox>
#include <QSet>
#include <QCoreApplication>
#include <QLineEdit>
#include <QSlider>
#include <QSplitter>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

constexpr std::int64_t kGapBook = 901;
constexpr std::int64_t kEmptyBook = 902;

class ReaderViewTest : public ::testing::Test {
protected:
    ReaderViewTest()
        : prefs({Settings::indicDigitsKey, Settings::nightReadingKey, Settings::readerSizeKey,
                 Settings::restoreSessionKey})
    {
        AppDelegate::prepareApplication();
    }

    void TearDown() override
    {
        // No dialog may be asked for by anything the reader does here.
        EXPECT_TRUE(dialogs.requests().isEmpty());
    }

    // A hand-made library: a book with pages at 1, 2, 5 and 6 and one
    // without pages.
    std::shared_ptr<Library> gapLibrary()
    {
        QStringList rows{
            QStringLiteral("INSERT INTO books(id, title) VALUES(%1, 'كتاب الفجوة')").arg(kGapBook),
            QStringLiteral("INSERT INTO books(id, title) VALUES(%1, 'كتاب بلا صفحات')").arg(kEmptyBook),
        };
        for (int seq : {1, 2, 5, 6})
            rows << QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(%1, %2, NULL, %3, "
                                   "%1, 'حدثنا مالك عن نافع عن عبد الله بن عمر صفحة %1')")
                        .arg(seq)
                        .arg(kGapBook)
                        .arg(seq + 10);
        gapPath = test::FixtureLibrary::custom(dir.path(), QStringLiteral("gaps.db"), rows);
        EXPECT_FALSE(gapPath.isEmpty());
        test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
        return Library::open(gapPath);
    }

    std::unique_ptr<ReaderView> reader(std::int64_t book, std::optional<std::int64_t> seq, const std::shared_ptr<Library>& lib)
    {
        return std::make_unique<ReaderView>(lib, *lib->book(book), seq);
    }

    // Shows a reader at a size and waits for its first split layout.
    static void showAt(ReaderView& r, int width, int height = 760)
    {
        r.resize(width, height);
        r.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&r));
    }

    test::PreferenceGuard prefs;
    ScriptedDialogs dialogs;
    test::SampleLib sample;
    QTemporaryDir dir;
    QString gapPath;
};

} // namespace

TEST_F(ReaderViewTest, goClampsJumpsGapsAndKeepsTheLastViewedPage)
{
    auto lib = gapLibrary();
    ASSERT_TRUE(lib);
    auto r = reader(kGapBook, std::nullopt, lib);
    EXPECT_EQ(r->seq(), 1);
    EXPECT_EQ(r->minSeq(), 1);
    EXPECT_EQ(r->maxSeq(), 6);

    r->go(-4);
    EXPECT_EQ(r->seq(), 1);
    EXPECT_TRUE(r->backHistory().isEmpty()); // the page already shown
    r->go(99);
    EXPECT_EQ(r->seq(), 6);
    r->go(3);
    // No page at 3: on to 5, recorded as the jump it was asked for.
    EXPECT_EQ(r->seq(), 5);
    ASSERT_TRUE(r->page());
    EXPECT_EQ(r->page()->seq, 5);
    EXPECT_EQ(lib->lastViewed(kGapBook), 5);
    EXPECT_EQ(r->backHistory(), QList<std::int64_t>({1, 6}));
    EXPECT_EQ(r->pageField()->text(), QStringLiteral("١٥"));
    EXPECT_EQ(r->slider()->value(), 5);

    // A new reader without a seq starts where the last one stopped.
    EXPECT_EQ(reader(kGapBook, std::nullopt, lib)->seq(), 5);

    // A book without pages: the notice, and its seq stored as asked.
    auto empty = reader(kEmptyBook, 1, lib);
    EXPECT_FALSE(empty->page());
    EXPECT_EQ(empty->textView()->toPlainText(), QString::fromUtf8(PageRenderer::noPagesText));
    EXPECT_EQ(lib->lastViewed(kEmptyBook), 1);
    EXPECT_EQ(empty->pageField()->text(), QStringLiteral("١"));
}

TEST_F(ReaderViewTest, backAndForwardRetraceTheJumpsAndANewJumpDropsForward)
{
    auto lib = gapLibrary();
    auto r = reader(kGapBook, 1, lib);
    r->go(2);
    r->go(2);
    r->go(6);
    EXPECT_EQ(r->backHistory(), QList<std::int64_t>({1, 2}));
    QTest::mouseClick(r->backButton(), Qt::LeftButton);
    EXPECT_EQ(r->seq(), 2);
    r->goBack();
    EXPECT_EQ(r->seq(), 1);
    EXPECT_EQ(r->forwardHistory(), QList<std::int64_t>({6, 2}));
    QTest::mouseClick(r->forwardButton(), Qt::LeftButton);
    EXPECT_EQ(r->seq(), 2);
    r->goForward();
    EXPECT_EQ(r->seq(), 6);
    r->goForward(); // nothing left
    EXPECT_EQ(r->seq(), 6);
    r->goBack();
    r->go(1, false); // unrecorded: the history stays
    EXPECT_EQ(r->forwardHistory(), QList<std::int64_t>({6}));
    r->go(5);
    EXPECT_TRUE(r->forwardHistory().isEmpty());
    EXPECT_EQ(r->backHistory(), QList<std::int64_t>({1, 1}));

    // The slider goes to its value, with the jump recorded.
    r->slider()->setValue(2);
    EXPECT_EQ(r->seq(), 2);
    EXPECT_EQ(r->backHistory().last(), 5);
}

TEST_F(ReaderViewTest, aPageLessPartClearsTheHitsOfThePageBefore)
{
    auto lib = gapLibrary();
    auto r = reader(kGapBook, 6, lib);
    showAt(*r, 900);
    r->setHighlight({{QStringLiteral("مالك"), Arabic::Match::word}, {QStringLiteral("نافع"), Arabic::Match::word}});
    ASSERT_EQ(r->hitRanges().size(), 2);
    EXPECT_EQ(r->hitLabel()->text(), QStringLiteral("١ / ٢"));
    ASSERT_EQ(r->scroller()->marks().size(), 2);
    for (double mark : r->scroller()->marks())
        EXPECT_TRUE(mark > 0 && mark < 1) << mark;

    // The last page is removed under the reader, which still knows 6 as
    // its last seq: nothing is left to show there.
    {
        auto writer = SQLiteDB::open(gapPath, false);
        ASSERT_TRUE(writer && writer->run(QStringLiteral("DELETE FROM pages WHERE seq=6")));
    }
    r->go(5);
    r->go(6);
    EXPECT_FALSE(r->page());
    EXPECT_TRUE(r->hitRanges().isEmpty());
    EXPECT_EQ(r->hitIndex(), 0);
    EXPECT_TRUE(r->hitLabel()->text().isEmpty());
    EXPECT_TRUE(r->scroller()->marks().isEmpty());
}

TEST_F(ReaderViewTest, volumeChooserShowsOnlyForSeveralVolumesAndFollowsThePage)
{
    REQUIRE_SAMPLE(sample);
    auto single = reader(17, 1, sample.lib);
    EXPECT_TRUE(single->volPopup()->isHidden());
    EXPECT_TRUE(single->volLabel()->isHidden());

    auto two = reader(1, 1, sample.lib);
    EXPECT_FALSE(two->volPopup()->isHidden());
    EXPECT_FALSE(two->volLabel()->isHidden());
    ASSERT_EQ(two->volPopup()->count(), 2);
    EXPECT_EQ(two->volPopup()->itemText(1), QStringLiteral("٢"));
    EXPECT_EQ(two->volPopup()->currentIndex(), 0);
    const std::optional<std::int64_t> second = sample.lib->firstSeq(1, QStringLiteral("2"));
    ASSERT_TRUE(second);
    two->go(*second);
    EXPECT_EQ(two->volPopup()->currentIndex(), 1);
    two->go(1);
    EXPECT_EQ(two->volPopup()->currentIndex(), 0);

    // Choosing a volume goes to its first page.
    two->volPopup()->setCurrentIndex(1);
    emit two->volPopup()->activated(1);
    EXPECT_EQ(two->seq(), *second);
    EXPECT_EQ(two->backHistory().last(), 1);
}

TEST_F(ReaderViewTest, contentsPaneTakesAQuarterUpToACapAndHidesWithoutContents)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(4, 766, sample.lib);
    showAt(*r, 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return r->outline()->width() == 240; }, 20000)) << r->outline()->width();
    EXPECT_EQ(r->split()->widget(0), r->outline());
    // The contents pane is on the right of a right-to-left window.
    EXPECT_GT(r->outline()->x(), r->textView()->x());
    // The chapter of the page is selected.
    EXPECT_EQ(r->outline()->currentIndex().data().toString(), QStringLiteral("١٠ باب هل يرث المسلم الكافر"));

    r->resize(1400, 760);
    r->layoutSplit();
    EXPECT_EQ(r->outline()->width(), 300);
    r->toggleToc();
    EXPECT_TRUE(r->outline()->isHidden());
    r->toggleToc();
    EXPECT_FALSE(r->outline()->isHidden());
    EXPECT_EQ(r->outline()->width(), 300);

    // Clicking an entry goes to its page, recorded.
    const QModelIndex first = r->outline()->model()->index(0, 0);
    r->outline()->setCurrentIndex(first);
    EXPECT_EQ(r->seq(), 1);
    EXPECT_EQ(r->backHistory().last(), 766);

    auto bare = reader(17, 1, sample.lib);
    showAt(*bare, 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bare->outline()->isHidden(); }, 20000));
    bare->toggleToc();
    EXPECT_TRUE(bare->outline()->isHidden());
    EXPECT_GE(bare->textView()->width(), 990);
}

TEST_F(ReaderViewTest, theSettingsNoticeRendersThePageAgainInTheNewColours)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(17, 1, sample.lib);
    const QColor day = Theme::parchment();
    EXPECT_EQ(r->textView()->palette().color(QPalette::Base), day);
    const QPointer<QTextDocument> before = r->textView()->document();
    Settings::setNightReading(true);
    // A preference alone changes nothing until the notice is posted.
    EXPECT_EQ(r->textView()->palette().color(QPalette::Base), day);
    Notifier::postReaderSettingsChanged();
    EXPECT_TRUE(before.isNull()); // a new page replaced the old one
    EXPECT_EQ(r->textView()->palette().color(QPalette::Base), QColor(0x1C, 0x1B, 0x17));
    EXPECT_EQ(RichText::formatAt(*r->textView()->document(), 0).foreground().color(), Theme::ink());
}

TEST_F(ReaderViewTest, findInBookAsksTheOwnerOnlyWithText)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(17, 1, sample.lib);
    showAt(*r, 1000);
    QStringList asked;
    r->onSearchInBook = [&](const QString& text) { asked << text; };
    QTest::keyClick(r->bookFind(), Qt::Key_Return);
    QTest::mouseClick(r->findButton(), Qt::LeftButton);
    EXPECT_TRUE(asked.isEmpty());
    r->bookFind()->setText(QStringLiteral("صفين"));
    QTest::keyClick(r->bookFind(), Qt::Key_Return);
    QTest::mouseClick(r->findButton(), Qt::LeftButton);
    EXPECT_EQ(asked, QStringList({QStringLiteral("صفين"), QStringLiteral("صفين")}));
}

TEST_F(ReaderViewTest, typingInTheFindFieldMarksThePageAndDiacriticsToggleIsStored)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(17, 1, sample.lib);
    showAt(*r, 1000);
    r->setHighlight({{QStringLiteral("الحنابله"), Arabic::Match::word}});
    EXPECT_EQ(r->hitRanges().size(), 1);
    r->pageFind()->setText(QStringLiteral("أخبرنا"));
    EXPECT_GE(r->hitRanges().size(), 3);
    EXPECT_EQ(r->hitLabel()->text(), QStringLiteral("١ / ") + Arabic::num(r->hitRanges().size()));
    r->pageFind()->clear();
    EXPECT_EQ(r->hitRanges().size(), 1);

    EXPECT_TRUE(r->tashkeel());
    QTest::mouseClick(r->tashkeelButton(), Qt::LeftButton);
    EXPECT_FALSE(r->tashkeel());
    EXPECT_FALSE(sample.lib->tashkeel(17));
    r->setTashkeelVisible(true);
    EXPECT_FALSE(sample.lib->tashkeel(17)); // shown, not stored
}

TEST_F(ReaderViewTest, scrollFractionIsZeroOnAShortPageAndFollowsALongOne)
{
    auto lib = gapLibrary();
    auto r = reader(kGapBook, 1, lib);
    showAt(*r, 1000);
    EXPECT_EQ(r->scrollFraction(), 0);
    r->setScrollFraction(0.7);
    EXPECT_EQ(r->scrollFraction(), 0);

    REQUIRE_SAMPLE(sample);
    auto longPage = reader(17, 1, sample.lib);
    int scrolled = 0;
    longPage->onScroll = [&] { ++scrolled; };
    showAt(*longPage, 700, 400);
    longPage->setScrollFraction(0.5);
    EXPECT_NEAR(longPage->scrollFraction(), 0.5, 0.01);
    EXPECT_GT(scrolled, 0);
    const Json::Value entry = longPage->sessionJSON();
    EXPECT_EQ(Json::strictString(entry, "k"), QStringLiteral("book"));
    EXPECT_EQ(Json::strictInt(entry, "b"), 17);
    EXPECT_EQ(Json::strictInt(entry, "s"), 1);
    EXPECT_NEAR(entry["y"].get<double>(), 0.5, 0.01);

    // A session entry brings the page and the position back.
    std::unique_ptr<ReaderView> restored(ReaderView::fromSession(sample.lib, entry));
    ASSERT_TRUE(restored);
    showAt(*restored, 700, 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return restored->scrollFraction() > 0.4; }, 20000));
    EXPECT_NEAR(restored->scrollFraction(), 0.5, 0.01);
    Json::Value other = entry;
    other["b"] = 999999;
    EXPECT_EQ(ReaderView::fromSession(sample.lib, other), nullptr);
    EXPECT_FALSE(restored->restore(other));
}

TEST_F(ReaderViewTest, openBookReusesTheBookTabAndReplacesMarksAndQuery)
{
    REQUIRE_SAMPLE(sample);
    MainWindowController w(sample.lib);
    SearchQuery query;
    query.andPhrases = {QStringLiteral("صفين")};
    w.openBook(17, 1, query.highlightTerms(), query);
    w.openBook(4, 766);
    ASSERT_EQ(w.tabs().size(), 2);
    ReaderView* first = w.tabs()[0]->reader();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->query(), query);
    EXPECT_EQ(first->highlight(), query.highlightTerms());
    EXPECT_EQ(w.tabs()[0]->title(), QStringLiteral("وقعة صفين"));

    // Without a page: the tab is only selected, as it was.
    w.openBook(17, std::nullopt);
    EXPECT_EQ(w.tabs().size(), 2);
    EXPECT_EQ(w.active(), 0);
    EXPECT_EQ(first->query(), query);

    // With a page: moved there, recorded, marks and query replaced.
    w.openBook(17, 3, {{QStringLiteral("علي"), Arabic::Match::word}}, std::nullopt);
    EXPECT_EQ(w.tabs().size(), 2);
    EXPECT_EQ(first->seq(), 3);
    EXPECT_EQ(first->backHistory(), QList<std::int64_t>({1}));
    EXPECT_FALSE(first->query());
    EXPECT_EQ(first->highlight().size(), 1);

    // A book shown only in a search tab gets a book tab of its own.
    w.runSearch(query);
    ASSERT_EQ(w.tabs().size(), 3);
    EXPECT_NE(qobject_cast<SearchTabView*>(w.tabs()[2]->view()), nullptr);
    EXPECT_EQ(w.tabs()[2]->reader(), nullptr);
    w.openBook(10, 2);
    EXPECT_EQ(w.tabs().size(), 4);
    EXPECT_EQ(w.tabs()[3]->reader()->book().id, 10);

    // The find-in-book field opens a search tab over this one book.
    first->onSearchInBook(QStringLiteral("معاوية"));
    ASSERT_EQ(w.tabs().size(), 5);
    auto* search = qobject_cast<SearchTabView*>(w.tabs()[4]->view());
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->query().andPhrases, QStringList{QStringLiteral("معاوية")});
    EXPECT_EQ(search->query().scope, QList<std::int64_t>{17});

    // The session remembers each reader's book, page and position.
    const std::optional<Json::Value> session = Json::parse(w.sessionJSON().toUtf8());
    ASSERT_TRUE(session);
    const Json::Value& tab = (*session)["tabs"][0];
    EXPECT_EQ(Json::strictInt(tab, "b"), 17);
    EXPECT_EQ(Json::strictInt(tab, "s"), 3);
    EXPECT_TRUE(tab["y"].is_number());
}

// The page a quotation cites opens at the quoted words, marked as a search's
// current hit, however far down a long dictionary page they stand. A
// quotation that runs past what the page holds is found by its opening words;
// one the page holds too little of marks nothing.
TEST_F(ReaderViewTest, aCitedPageOpensAtTheQuotedWordsMarkedAsTheCurrentHit)
{
    REQUIRE_SAMPLE(sample);
    constexpr std::int64_t kDictionary = 10;
    constexpr std::int64_t kLongPage = 178;
    const QString entry = QStringLiteral(u"و العرض أيضا النفس يقال أكرمت عنه عرضي أي صنت عنه نفسي");
    MainWindowController w(sample.lib);
    w.resize(1000, 640);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    const struct {
        QString quoted;
        QString marked; // empty: nothing marked
    } cases[] = {
        {entry, entry},
        {entry + QStringLiteral(u" وهذا ما لم يكتبه صاحب الكتاب هنا"), entry},
        {QStringLiteral(u"أكرمت عنه كلاما لم يرد"), QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quoted.toStdString());
        w.openCited(kDictionary, kLongPage, c.quoted);
        ReaderView* r = w.activeReader();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->book().id, kDictionary);
        EXPECT_EQ(r->seq(), kLongPage);
        if (c.marked.isEmpty()) {
            EXPECT_TRUE(r->hitRanges().isEmpty());
            continue;
        }
        ASSERT_EQ(r->hitRanges().size(), 1);
        QTextDocument* document = r->textView()->document();
        const Arabic::Range hit = r->hitRanges().first();
        const QString shown = document->toPlainText().mid(hit.location, hit.length);
        EXPECT_EQ(Arabic::normalize(shown, true), Arabic::normalize(c.marked, true)) << shown.toStdString();
        // Marked as the current hit of a search is.
        QTextCursor cursor(document);
        cursor.setPosition(int(hit.location + 1));
        EXPECT_EQ(cursor.charFormat().background().color(), Theme::hitCurrent());
        // The entry stands far down the page, and the view is brought to it.
        const QRectF rect = RichText::rangeRect(*document, hit.location, hit.length);
        const int clip = r->textView()->viewport()->height();
        EXPECT_GT(rect.top(), 2 * clip) << "the entry is not far down the page";
        ASSERT_EVENTUALLY(r->scroller()->value() <= rect.top() && rect.bottom() <= r->scroller()->value() + clip, 5000)
            << "scrolled to " << r->scroller()->value() << ", the words at " << rect.top();
    }
}

TEST_F(ReaderViewTest, readerPicturesShowRightToLeftPagesByDayAndByNight)
{
    REQUIRE_SAMPLE(sample);
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        QApplication::setPalette(Theme::palette(night));
        auto r = reader(17, 1, sample.lib);
        r->setHighlight({{QStringLiteral("الحنابله"), Arabic::Match::word}, {QStringLiteral("ربيع"), Arabic::Match::word}});
        showAt(*r, 1200, 800);
        const QImage shot = r->grab().toImage();
        const QString file = QCoreApplication::applicationDirPath() + (night ? QStringLiteral("/reader-night.png")
                                                                              : QStringLiteral("/reader.png"));
        ASSERT_TRUE(shot.save(file, "PNG"));
        const QImage back(file);
        EXPECT_EQ(back.size(), r->size() * back.devicePixelRatio());
        QSet<QRgb> colours;
        for (int y = 0; y < back.height(); y += 5)
            for (int x = 0; x < back.width(); x += 5)
                colours.insert(back.pixel(x, y));
        EXPECT_GT(colours.size(), 32);

        // The first line of text reaches the right margin of the page.
        const QImage page = r->textView()->viewport()->grab().toImage();
        const QColor paper = Theme::parchment();
        int rightmost = -1;
        for (int y = 0; y < std::min(page.height(), 120); ++y)
            for (int x = page.width() - 1; x > rightmost; --x)
                if (QColor(page.pixel(x, y)) != paper) {
                    rightmost = x;
                    break;
                }
        EXPECT_GT(rightmost, page.width() - 34 - 14) << "text ends at " << rightmost << " of " << page.width();
        EXPECT_LE(rightmost, page.width() - 34 + 2);
    }
    QApplication::setPalette(Theme::palette(false));
}
