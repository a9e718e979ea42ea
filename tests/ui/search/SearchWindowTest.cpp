#include "ui/ViewTestSupport.h"

#include "core/Arabic.h"
#include "core/Notifier.h"
#include "core/Settings.h"
#include "core/Preferences.h"
#include "ui/kit/BarView.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/SearchWindowOwner.h"
#include "ui/kit/Widgets.h"
#include "ui/search/PickerActions.h"
#include "ui/search/PickNode.h"
#include "ui/search/PickerModel.h"
#include "ui/search/PickerRowDelegate.h"
#include "ui/search/SearchWindowController.h"
#include "ui/search/SideButton.h"
#include "ui/shell/MainWindowController.h"
#include "ui/snapshot/LayoutAudit.h"
#include "support/Wait.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>

using namespace quorvel;
using WinPage = SearchWindowController::Page;

namespace {

// The main window as the search window sees it, counting what it is asked.
class FakeOwner : public QObject, public SearchWindowOwner {
public:
    void openBook(std::int64_t bookId, std::optional<std::int64_t>, const QList<SearchQuery::Term>&,
                  const std::optional<SearchQuery>&) override
    {
        opened << bookId;
    }
    void runSearch(const SearchQuery& query, const std::optional<QList<SearchHit>>& preset,
                   std::optional<int>) override
    {
        searches << query;
        presets << preset;
    }
    void bringToFront() override { ++raised; }

    QList<std::int64_t> opened;
    QList<SearchQuery> searches;
    QList<std::optional<QList<SearchHit>>> presets;
    int raised = 0;
};

class SearchWindowTest : public ::testing::Test {
protected:
    SearchWindowTest()
        : prefs({Settings::indicDigitsKey, "windowFrame.QuorvelSearch", SearchWindowController::yearFromKey,
                 SearchWindowController::yearToKey})
    {
        test::preparePanels();
        SearchWindowController::openDownloads = [this] { ++downloads; };
    }
    ~SearchWindowTest() override { SearchWindowController::openDownloads = nullptr; }

    std::unique_ptr<SearchWindowController> window(const std::shared_ptr<Library>& lib)
    {
        return std::make_unique<SearchWindowController>(lib, &owner);
    }

    // Types a key at a time (keyClicks takes ASCII only).
    static void type(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    // The labels of the picker's top rows.
    static QStringList rootTexts(const SearchWindowController& w)
    {
        QStringList out;
        for (int row = 0; row < w.model()->rowCount(); ++row)
            out << w.model()->data(w.model()->index(row, 0)).toString();
        return out;
    }

    QModelIndex rowWithText(const SearchWindowController& w, const QString& text, const QModelIndex& parent = {})
    {
        for (int row = 0; row < w.model()->rowCount(parent); ++row) {
            const QModelIndex index = w.model()->index(row, 0, parent);
            if (w.model()->data(index).toString().startsWith(text))
                return index;
        }
        return {};
    }

    test::PreferenceGuard prefs;
    FakeOwner owner;
    ScriptedDialogs dialogs;
    int downloads = 0;
};

TEST_F(SearchWindowTest, presentingCentresOnceOnTheBooksPageWithTheFirstFieldFocused)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    EXPECT_EQ(w->minimumSize(), QSize(980, 600));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("البحث"));
    w->present();
    ASSERT_TRUE(w->isVisible());
    // Its size, within the screen's free area (the test screen may be smaller).
    const QSize room = w->screen()->availableGeometry().size() - (w->frameGeometry().size() - w->size());
    EXPECT_EQ(w->size(), QSize(1180, 740).boundedTo(room));
    const QPoint centre = w->screen()->availableGeometry().center();
    EXPECT_LE(std::abs(w->frameGeometry().center().x() - centre.x()), 2);
    EXPECT_LE(std::abs(w->frameGeometry().center().y() - centre.y()), 2);
    EXPECT_EQ(w->currentPage(), WinPage::books);
    EXPECT_EQ(w->focusWidget(), w->fields().value(0));
    EXPECT_EQ(w->model()->rowCount(), sample.lib->books().size());
    EXPECT_TRUE(w->sideButtons()[0]->selected());

    // Shown again where the user moved it, not centred anew.
    w->move(w->pos() + QPoint(40, 30));
    const QPoint moved = w->pos();
    w->present(WinPage::authors);
    EXPECT_EQ(w->pos(), moved);
    EXPECT_EQ(w->currentPage(), WinPage::authors);
    EXPECT_TRUE(w->sideButtons()[int(WinPage::authors)]->selected());
    EXPECT_FALSE(w->sideButtons()[0]->selected());

    // The downloads page opens the downloads window and keeps the page.
    w->present(WinPage::imported);
    EXPECT_EQ(downloads, 1);
    EXPECT_EQ(w->currentPage(), WinPage::authors);
    EXPECT_TRUE(w->isVisible());

    // The window cannot be made smaller than its minimum.
    w->resize(500, 300);
    EXPECT_EQ(w->size(), QSize(980, 600).boundedTo(room));
    w->hide();
}

TEST_F(SearchWindowTest, userDataReloadsOnlyTheListsOfUserDataButTheCatalogueAlways)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    QSignalSpy resets(w->model(), &QAbstractItemModel::modelReset);
    for (WinPage page : {WinPage::books, WinPage::categories, WinPage::authors, WinPage::period})
        w->select(page);
    resets.clear();
    Notifier::postUserDataChanged();
    EXPECT_EQ(resets.size(), 0);
    Notifier::postLibraryChanged();
    EXPECT_EQ(resets.size(), 1);

    // A scope saved elsewhere shows at once on the scopes page.
    w->select(WinPage::scopes);
    EXPECT_EQ(w->model()->rowCount(), 0);
    sample.lib->saveScope(QStringLiteral("الموطأ وحده"), {1});
    EXPECT_EQ(rootTexts(*w), QStringList{"الموطأ وحده"});
    w->select(WinPage::logs);
    EXPECT_EQ(w->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("النتائج والتاريخ"));
}

TEST_F(SearchWindowTest, theColumnHeadersNameWhatEachPageShowsInThem)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->resize(1100, 700);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    // Each page is reached as the reader reaches it, by its side button; an
    // empty page says what would be listed there.
    const struct {
        WinPage page;
        const char16_t* title;
        const char16_t* second;
        const char16_t* empty; // part of the note of the page while empty; none when it has rows
    } cases[] = {
        {WinPage::authors, u"المؤلف", u"عدد الكتب", nullptr},
        {WinPage::books, u"الكتاب", u"المؤلف", nullptr},
        {WinPage::logs, u"البحث", u"النتائج والتاريخ", u"عمليات البحث التي أجريتها"},
        {WinPage::period, u"القرن / الكتاب", u"عدد الكتب / المؤلف", nullptr},
        {WinPage::favorites, u"المجموعة / الكتاب", u"عدد الكتب / المؤلف", u"الكتب التي تضع عليها النجمة"},
        {WinPage::scopes, u"المجال / الكتاب", u"عدد الكتب / المؤلف", u"المجال قائمة كتب"},
        {WinPage::categories, u"الكتاب", u"المؤلف", nullptr},
    };
    for (const auto& c : cases) {
        SideButton* side = w->sideButtons()[int(c.page)];
        QTest::mousePress(side->window()->windowHandle(), Qt::LeftButton, {}, side->mapTo(side->window(), QPoint(40, 30)));
        QTest::mouseRelease(side->window()->windowHandle(), Qt::LeftButton, {}, side->mapTo(side->window(), QPoint(40, 30)));
        ASSERT_TRUE(side->selected()) << int(c.page);
        EXPECT_EQ(w->model()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf16(c.title)) << int(c.page);
        EXPECT_EQ(w->model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf16(c.second)) << int(c.page);
        if (!c.empty) {
            EXPECT_TRUE(w->emptyNote()->isHidden()) << int(c.page);
            continue;
        }
        if (w->model()->rowCount() > 0) {
            EXPECT_TRUE(w->emptyNote()->isHidden()) << int(c.page);
            continue;
        }
        EXPECT_FALSE(w->emptyNote()->isHidden()) << int(c.page);
        EXPECT_TRUE(w->emptyNote()->text().contains(QString::fromUtf16(c.empty))) << w->emptyNote()->text().toStdString();
        if (c.page == WinPage::scopes) {
            EXPECT_TRUE(w->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/search-window-empty-scopes.png")));
        }
    }
    // A scope saved elsewhere fills the page, and the note goes.
    sample.lib->saveScope(QStringLiteral("الموطأ وحده"), {1});
    w->select(WinPage::scopes);
    EXPECT_TRUE(w->emptyNote()->isHidden());
    w->hide();
}

TEST_F(SearchWindowTest, aStoredQueryComesBackAndJunkLeavesTheDefaults)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    sample.lib->setKV(QString::fromLatin1(SearchWindowController::searchKey), QStringLiteral("{\"andPhrases\": 3"));
    {
        auto w = window(sample.lib);
        for (QLineEdit* field : w->fields())
            EXPECT_TRUE(field->text().isEmpty());
        for (int b = 0; b < SearchForm::boxCount; ++b)
            EXPECT_EQ(w->box(SearchForm::Box(b))->isChecked(), SearchForm::defaultOn(SearchForm::Box(b))) << b;
        EXPECT_TRUE(w->allBooksButton()->isChecked());
        EXPECT_EQ(w->scopeLabel()->text(), QStringLiteral("مجال البحث الحالي: جميع الكتب"));
    }
    SearchQuery q = test::wordsQuery(QStringLiteral("الصلاة الزكاة"));
    q.orPhrases = {QStringLiteral("الصوم")};
    q.inNotes = false;
    q.scope = QList<std::int64_t>{1, 2};
    sample.lib->setKV(QString::fromLatin1(SearchWindowController::searchKey), q.json());
    auto w = window(sample.lib);
    EXPECT_EQ(w->fields()[0]->text(), QStringLiteral("الصلاة"));
    EXPECT_EQ(w->fields()[1]->text(), QStringLiteral("الزكاة"));
    EXPECT_FALSE(w->box(SearchForm::notes)->isChecked());
    EXPECT_TRUE(w->someBooksButton()->isChecked());
    EXPECT_EQ(w->checked(), (QSet<std::int64_t>{1, 2}));
    EXPECT_EQ(w->scopeLabel()->text(), QStringLiteral("مجال البحث الحالي: كتابان محددان"));
}

TEST_F(SearchWindowTest, theTabsKeepTheirTextAndTheExplanationFollowsEveryKey)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->present();
    type(w->fields()[0], QStringLiteral("الصلاة"));
    EXPECT_TRUE(w->explain()->toPlainText().startsWith(QStringLiteral("تحتوي الصفحة على كلّ من: «الصلاة»\n")));
    type(w->fields()[1], QStringLiteral("الزكاة"));
    EXPECT_TRUE(w->explain()->toPlainText().startsWith(QStringLiteral("تحتوي الصفحة على كلّ من: «الصلاة» و«الزكاة»\n")));

    // The all-button flips the require-all option and its own title.
    w->allButton()->click();
    EXPECT_FALSE(w->box(SearchForm::requireAll)->isChecked());
    EXPECT_EQ(w->allButton()->text(), QStringLiteral("[أيّها]"));
    EXPECT_TRUE(w->explain()->toPlainText().startsWith(QStringLiteral("تحتوي على أيٍّ من: ")));

    w->tabButton(SearchForm::orTab)->click();
    EXPECT_TRUE(w->fields()[0]->text().isEmpty());
    EXPECT_FALSE(w->box(SearchForm::requireAll)->isEnabled());
    EXPECT_FALSE(w->box(SearchForm::near)->isEnabled());
    EXPECT_FALSE(w->allButton()->isVisible());
    type(w->fields()[0], QStringLiteral("الصوم"));
    w->tabButton(SearchForm::notTab)->click();
    EXPECT_TRUE(w->fields()[0]->text().isEmpty());
    w->tabButton(SearchForm::orTab)->click();
    EXPECT_EQ(w->fields()[0]->text(), QStringLiteral("الصوم"));
    w->tabButton(SearchForm::andTab)->click();
    EXPECT_EQ(w->fields()[1]->text(), QStringLiteral("الزكاة"));
    EXPECT_TRUE(w->allButton()->isVisible());
    EXPECT_TRUE(w->box(SearchForm::ordered)->isEnabled());

    // A new search empties every tab and keeps the options.
    w->box(SearchForm::titles)->click();
    w->newSearch();
    EXPECT_TRUE(w->fields()[1]->text().isEmpty());
    EXPECT_TRUE(w->form().buildQuery({}).orPhrases.isEmpty());
    EXPECT_TRUE(w->box(SearchForm::titles)->isChecked());
    w->hide();
}

TEST_F(SearchWindowTest, runningStoresTheQueryOpensATabAndHides)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->present();

    // Nothing typed, then nowhere to look: refused with their alerts.
    QTest::keyClick(w->fields()[0], Qt::Key_Return);
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("اكتب عبارة البحث"));
    EXPECT_EQ(dialogs.requests()[0].text, QStringLiteral("اكتب عبارة واحدة على الأقل في تبويب «و» أو «أو»."));
    type(w->fields()[0], QStringLiteral("الصلاة"));
    for (SearchForm::Box b : {SearchForm::matn, SearchForm::hawashi, SearchForm::notes})
        w->box(b)->click();
    QTest::keyClick(w->fields()[0], Qt::Key_Return);
    ASSERT_EQ(dialogs.requests().size(), 2);
    EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("اختر موضعاً للبحث"));
    EXPECT_TRUE(owner.searches.isEmpty());
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(sample.lib->kv(QString::fromLatin1(SearchWindowController::searchKey)).has_value());

    w->box(SearchForm::matn)->click();
    QTest::keyClick(w->fields()[0], Qt::Key_Return);
    ASSERT_EQ(owner.searches.size(), 1);
    EXPECT_EQ(owner.searches[0].andPhrases, QStringList{"الصلاة"});
    EXPECT_FALSE(owner.presets[0].has_value());
    EXPECT_EQ(sample.lib->kv(QString::fromLatin1(SearchWindowController::searchKey)), owner.searches[0].json());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(owner.raised, 1);
    // Hiding kept the form.
    EXPECT_EQ(w->fields()[0]->text(), QStringLiteral("الصلاة"));

    // The recent list of the next showing.
    sample.lib->addHistory(owner.searches[0].title(), owner.searches[0].json(), 12);
    w->present(WinPage::logs);
    ASSERT_EQ(w->recentBox()->count(), 1);
    EXPECT_EQ(w->recentBox()->itemText(0), QStringLiteral("الصلاة  (١٢)"));
    w->newSearch();
    w->chooseRecent(0);
    EXPECT_EQ(w->fields()[0]->text(), QStringLiteral("الصلاة"));
    EXPECT_EQ(owner.searches.size(), 1);
}

TEST_F(SearchWindowTest, aBookOpensFromTheKeyboardAndTheWordBesideTheSymbolSearches)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->present(WinPage::books);
    w->focusFilter();
    EXPECT_EQ(w->focusWidget(), w->filter());

    // A title typed, then Return: the keyboard is on the first book found.
    const Book wanted = sample.lib->books().last();
    type(w->filter(), wanted.title.left(8));
    QTest::keyClick(w->filter(), Qt::Key_Return);
    EXPECT_EQ(w->focusWidget(), w->outline());
    const PickNode* node = w->model()->node(w->outline()->currentIndex());
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->kind, PickNode::Kind::book);
    EXPECT_TRUE(owner.opened.isEmpty());
    // Return and the keypad's Enter open the book on the row, as a double click does.
    QTest::keyClick(w->outline(), Qt::Key_Return);
    QTest::keyClick(w->outline(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(owner.opened, (QList<std::int64_t>{node->id, node->id}));
    EXPECT_EQ(owner.raised, 2);

    // Down from the filter goes to the list too; Up and Down move there.
    w->outline()->setCurrentIndex({});
    QTest::keyClick(w->filter(), Qt::Key_Down);
    EXPECT_EQ(w->focusWidget(), w->outline());

    // A click on the word «ابحث» beside the binoculars runs the search.
    QLabel* word = nullptr;
    for (QLabel* label : w->findChildren<QLabel*>())
        if (label->text() == QStringLiteral("ابحث"))
            word = label;
    ASSERT_NE(word, nullptr);
    type(w->fields()[0], QStringLiteral("الصلاة"));
    QTest::mouseClick(word, Qt::LeftButton);
    ASSERT_EQ(owner.searches.size(), 1);
    EXPECT_EQ(owner.searches[0].andPhrases, QStringList{"الصلاة"});
}

TEST_F(SearchWindowTest, withoutTheMainWindowTheQueryIsStillStoredAndTheWindowHides)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto gone = std::make_unique<FakeOwner>();
    SearchWindowController w(sample.lib, gone.get());
    w.present();
    gone.reset();
    type(w.fields()[0], QStringLiteral("الزكاة"));
    w.doSearch();
    EXPECT_FALSE(w.isVisible());
    const std::optional<QString> stored = sample.lib->kv(QString::fromLatin1(SearchWindowController::searchKey));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(SearchQuery::from(*stored).value_or(SearchQuery()).andPhrases, QStringList{"الزكاة"});
    // Books double-clicked open nothing and nothing fails.
    w.doubleClick(w.model()->index(0, 0));
}

TEST_F(SearchWindowTest, sideButtonsActOnceAPressAndKeepTheirTitleWithoutASymbol)
{
    int pressed = 0;
    SideButton known(QStringLiteral("الكتب"), QStringLiteral("text.book.closed.fill"), [&] { ++pressed; });
    known.resize(SideButton::fixedWidth, 70);
    known.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&known));
    EXPECT_TRUE(known.hasSymbol());
    EXPECT_EQ(known.width(), SideButton::fixedWidth);
    // On the title, on the symbol and at the edge: one action each, at the press.
    // Through the window, so that the press reaches whatever child is there.
    for (QPoint at : {QPoint(42, 60), QPoint(42, 20), QPoint(2, 2)}) {
        QTest::mousePress(known.windowHandle(), Qt::LeftButton, {}, at);
        EXPECT_EQ(pressed, 1);
        QTest::mouseRelease(known.windowHandle(), Qt::LeftButton, {}, at);
        EXPECT_EQ(pressed, 1);
        pressed = 0;
    }

    SideButton unknown(QStringLiteral("السجلات"), QStringLiteral("no.such.symbol"), {});
    EXPECT_FALSE(unknown.hasSymbol());
    EXPECT_EQ(unknown.title(), QStringLiteral("السجلات"));

    // The selected look is drawn: the tinted background shows in the middle.
    known.setSelected(true);
    const QImage on = known.grab().toImage();
    known.setSelected(false);
    const QImage off = known.grab().toImage();
    EXPECT_NE(on.pixel(5, 35), off.pixel(5, 35));
    EXPECT_EQ(SearchWindowController::page(8), WinPage::logs);
    EXPECT_FALSE(SearchWindowController::page(9).has_value());
}

TEST_F(SearchWindowTest, doubleClicksOpenBooksTakeScopesAndRepeatSearches)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->present(WinPage::books);
    const QModelIndex first = w->model()->index(0, 0);
    w->doubleClick(first);
    EXPECT_EQ(owner.opened, QList<std::int64_t>{w->model()->node(first)->id});
    EXPECT_EQ(owner.raised, 1);
    EXPECT_TRUE(w->isVisible());

    // A scope: its books become the checked and applied ones; one of unknown
    // books only says that nothing is checked.
    sample.lib->saveScope(QStringLiteral("مجال"), {2, 1});
    sample.lib->saveScope(QStringLiteral("مفقود"), {99999});
    w->select(WinPage::scopes);
    w->doubleClick(rowWithText(*w, QStringLiteral("مجال")));
    EXPECT_EQ(w->checked(), (QSet<std::int64_t>{1, 2}));
    ASSERT_TRUE(w->form().scope.has_value());
    EXPECT_EQ(QSet<std::int64_t>(w->form().scope->begin(), w->form().scope->end()), (QSet<std::int64_t>{1, 2}));
    EXPECT_TRUE(w->someBooksButton()->isChecked());
    w->doubleClick(rowWithText(*w, QStringLiteral("مفقود")));
    EXPECT_TRUE(w->checked().isEmpty());
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("لم تحدّد أيّ كتاب"));

    // A saved set whose query is broken searches its name over its pages.
    sample.lib->saveResults(QStringLiteral("نتائج الصلاة"), QStringLiteral("not json"), {});
    const SearchQuery history = test::wordsQuery(QStringLiteral("الزكاة"));
    sample.lib->addHistory(history.title(), history.json(), 4);
    w->select(WinPage::logs);
    const QModelIndex saved = rowWithText(*w, QStringLiteral("نتائج الصلاة"), w->model()->index(0, 0));
    ASSERT_TRUE(saved.isValid());
    w->doubleClick(saved);
    ASSERT_EQ(owner.searches.size(), 1);
    EXPECT_EQ(owner.searches[0].andPhrases, QStringList{"نتائج الصلاة"});
    ASSERT_TRUE(owner.presets[0].has_value());
    EXPECT_FALSE(w->isVisible());

    // A history entry fills the form and runs it.
    w->present(WinPage::logs);
    const QModelIndex entry = w->model()->index(0, 0, w->model()->index(1, 0));
    ASSERT_TRUE(entry.isValid());
    w->doubleClick(entry);
    ASSERT_EQ(owner.searches.size(), 2);
    EXPECT_EQ(owner.searches[1], history);
    EXPECT_EQ(w->fields()[0]->text(), QStringLiteral("الزكاة"));
    EXPECT_FALSE(w->isVisible());

    // A group opens and closes.
    w->present(WinPage::categories);
    const QModelIndex group = w->model()->index(0, 0);
    const bool open = w->outline()->isExpanded(group);
    w->doubleClick(group);
    EXPECT_NE(w->outline()->isExpanded(group), open);
    w->hide();
}

// A saved scope holding both editions of a work shows two rows a reader
// tells apart at the column's width.
TEST_F(SearchWindowTest, twinEditionsInASavedScopeReadApart)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    sample.lib->saveScope(QStringLiteral("ابن ماجه"), {2, 3});
    w->present(WinPage::scopes);
    const QModelIndex scope = rowWithText(*w, QStringLiteral("ابن ماجه"));
    ASSERT_TRUE(scope.isValid());
    w->outline()->expand(scope);
    // A title column narrower than the labels, as a reader's window has it.
    w->outline()->header()->resizeSection(0, 330);
    QCoreApplication::processEvents();
    QStringList shown;
    for (int row = 0; row < w->model()->rowCount(scope); ++row) {
        const QModelIndex book = w->model()->index(row, 0, scope);
        const QRect cell = w->outline()->visualRect(book);
        ASSERT_TRUE(cell.isValid());
        // What the row paints: the label in its font, elided as the view
        // elides it, beside the row's check box and symbol.
        const QFontMetrics metrics(book.data(Qt::FontRole).value<QFont>());
        ASSERT_GT(metrics.horizontalAdvance(book.data().toString()), cell.width()) << "the label fits whole";
        shown << metrics.elidedText(book.data().toString(), w->outline()->textElideMode(), cell.width() - 60);
    }
    ASSERT_EQ(shown.size(), 2);
    EXPECT_NE(shown[0], shown[1]) << shown.join(u'|').toStdString();
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        Notifier::postReaderSettingsChanged();
        EXPECT_TRUE(w->grab().save(QCoreApplication::applicationDirPath() +
                                   (night ? QStringLiteral("/scope-twins-night.png") : QStringLiteral("/scope-twins-day.png"))));
    }
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
    w->hide();
}

// A list too narrow for a title beside its author (the room large text
// leaves) puts the author under the title; given room again, they sit side
// by side once more.
TEST_F(SearchWindowTest, aNarrowListPutsTheAuthorUnderAReadableTitle)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->present(WinPage::books);
    auto shortened = [&] { return layoutFaults(w.get()).filter(QStringLiteral("text shortened")); };
    auto rowHeight = [&] { return w->outline()->visualRect(w->model()->index(0, 0)).height(); };
    // The window's usual size: title and author side by side, rows of one line.
    w->resize(SearchWindowController::windowSize);
    ASSERT_EVENTUALLY(!w->outline()->isColumnHidden(PickerModel::authorColumn)
                          && rowHeight() == PickerRowDelegate::rowHeight, 5000);
    EXPECT_TRUE(shortened().isEmpty()) << shortened().join(u'\n').toStdString();

    // The room text at 200% leaves on a screen of 1600×1000.
    w->setMinimumSize(0, 0);
    w->resize(800, 500);
    ASSERT_EVENTUALLY(w->outline()->isColumnHidden(PickerModel::authorColumn)
                          && rowHeight() > PickerRowDelegate::rowHeight, 5000);
    EXPECT_TRUE(shortened().isEmpty()) << shortened().join(u'\n').toStdString();
    EXPECT_GE(w->outline()->columnWidth(PickerModel::titleColumn), w->outline()->viewport()->width());
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        Notifier::postReaderSettingsChanged();
        for (WinPage page : {WinPage::books, WinPage::authors}) {
            w->select(page);
            QCoreApplication::processEvents();
            EXPECT_TRUE(w->outline()->grab().save(QCoreApplication::applicationDirPath()
                                                  + QStringLiteral("/narrow-picker-%1-%2.png")
                                                        .arg(int(page))
                                                        .arg(night ? QStringLiteral("night") : QStringLiteral("day"))));
        }
    }
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
    w->hide();
}

TEST_F(SearchWindowTest, thePeriodDialogChecksTheSpansBooksAndKeepsItsTexts)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);

    // Cancelled: nothing at all.
    w->pickYears();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::Fields);
    EXPECT_EQ(dialogs.requests()[0].buttons, (QStringList{"من سنة", "إلى سنة"}));
    EXPECT_FALSE(Preferences::standard().string(QString::fromLatin1(SearchWindowController::yearFromKey)));

    // The end before the start: refused, the texts kept for next time.
    w->checked() = {1};
    dialogs.answerFields({QStringLiteral("700"), QStringLiteral("600")});
    w->pickYears();
    ASSERT_EQ(dialogs.requests().size(), 3);
    EXPECT_EQ(dialogs.requests()[2].title, QStringLiteral("سنة البداية بعد سنة النهاية"));
    EXPECT_EQ(w->checked(), QSet<std::int64_t>{1});
    EXPECT_EQ(Preferences::standard().string(QString::fromLatin1(SearchWindowController::yearToKey)),
              QStringLiteral("600"));
    dialogs.clear();
    dialogs.answerFields({QStringLiteral("٢٠٠"), QStringLiteral("300")});
    w->pickYears();
    EXPECT_EQ(dialogs.requests()[0].initial, QStringLiteral("700\n600"));
    const QList<std::int64_t> span = PickerActions::books(*sample.lib, 200, 300);
    ASSERT_FALSE(span.isEmpty());
    EXPECT_EQ(w->checked(), QSet<std::int64_t>(span.begin(), span.end()));
    EXPECT_TRUE(w->someBooksButton()->isChecked());
    EXPECT_TRUE(w->scopeLabel()->text().endsWith(QStringLiteral(" · وفيات من ٢٠٠هـ إلى ٣٠٠هـ")))
        << w->scopeLabel()->text().toStdString();
}

TEST_F(SearchWindowTest, theGearMenuActsOnTheWindowsPicker)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->select(WinPage::authors);
    std::unique_ptr<QMenu> menu(w->gearMenu());
    QAction* all = nullptr;
    QAction* byTitle = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->text() == QStringLiteral("تحديد كل الظاهر"))
            all = a;
        if (a->text() == QStringLiteral("ترتيب هجائي"))
            byTitle = a;
    }
    ASSERT_TRUE(all && byTitle);
    all->trigger();
    EXPECT_EQ(w->checked().size(), sample.lib->books().size());
    EXPECT_EQ(w->scopeLabel()->text(), QStringLiteral("مجال البحث الحالي: جميع الكتب"));
    w->someBooksButton()->click();
    EXPECT_EQ(w->scopeLabel()->text(),
              QStringLiteral("مجال البحث الحالي: ١٩ كتابا محددا"));
    byTitle->trigger();
    EXPECT_TRUE(w->sorted({1, 2}).size() == 2);
    std::unique_ptr<QMenu> again(w->gearMenu());
    EXPECT_TRUE(again->actions()[1]->isChecked());

    // The history menu fills the form without running.
    const SearchQuery q = test::wordsQuery(QStringLiteral("النية"));
    sample.lib->addHistory(q.title(), q.json(), 2);
    std::unique_ptr<QMenu> history(w->historyMenu());
    ASSERT_EQ(history->actions().size(), 1);
    history->actions()[0]->trigger();
    EXPECT_EQ(w->fields()[0]->text(), QStringLiteral("النية"));
    EXPECT_TRUE(owner.searches.isEmpty());
}

TEST_F(SearchWindowTest, theTopBarOpensTheOneWindowAndItsSearchesBecomeTabs)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    test::HeldJobs jobs;
    MainWindowController main(sample.lib);
    auto command = [&](const QString& tip) {
        for (HoverButton* b : main.topBar()->findChildren<HoverButton*>())
            if (b->toolTip() == tip)
                return b;
        return static_cast<HoverButton*>(nullptr);
    };
    ASSERT_NE(command(QStringLiteral("المؤلّفون")), nullptr);
    command(QStringLiteral("المؤلّفون"))->click();
    SearchWindowController* w = main.searchWindow();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->currentPage(), WinPage::authors);
    command(QStringLiteral("البحث"))->click();
    EXPECT_EQ(main.searchWindow(), w);
    EXPECT_EQ(w->currentPage(), WinPage::authors);
    command(QStringLiteral("الكتب"))->click();
    EXPECT_EQ(w->currentPage(), WinPage::books);

    type(w->fields()[0], QStringLiteral("الصلاة"));
    w->doSearch();
    ASSERT_EQ(main.tabs().size(), 1);
    EXPECT_FALSE(w->isVisible());
    w->select(WinPage::books);
    w->doubleClick(w->model()->index(0, 0));
    EXPECT_EQ(main.tabs().size(), 2);
}

// The walk of a reader looking for one author's books: filter, tick, apply.
TEST_F(SearchWindowTest, anAuthorsBooksBecomeTheScopeAndThePicturesAreTaken)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    auto w = window(sample.lib);
    w->present(WinPage::authors);
    type(w->filter(), QStringLiteral("الشافعي"));
    ASSERT_EQ(w->model()->rowCount(), 1);
    const QModelIndex group = w->model()->index(0, 0);
    EXPECT_TRUE(w->outline()->isExpanded(group));
    ASSERT_EQ(w->model()->rowCount(group), 2);
    w->model()->setData(group, Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(w->checked().size(), 2);
    EXPECT_EQ(w->model()->data(group, Qt::CheckStateRole).toInt(), Qt::Checked);
    w->applyChecked();
    EXPECT_EQ(w->scopeLabel()->text(), QStringLiteral("مجال البحث الحالي: كتابان محددان"));
    EXPECT_TRUE(w->someBooksButton()->isChecked());

    type(w->fields()[0], QStringLiteral("الصلاة"));
    type(w->fields()[1], QStringLiteral("الزكاة"));
    QCoreApplication::processEvents();
    const QImage shot = w->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/search-window.png");
    ASSERT_TRUE(shot.save(file, "PNG"));
    EXPECT_EQ(QImage(file).size(), w->size() * shot.devicePixelRatio());

    // The explanation's lines end at its right margin.
    const QImage text = w->explain()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb back = text.pixel(1, text.height() - 2);
    int rightmost = -1;
    int inked = 0;
    for (int y = 0; y < text.height(); ++y)
        for (int x = 0; x < text.width(); ++x)
            if (text.pixel(x, y) != back) {
                rightmost = std::max(rightmost, x);
                ++inked;
            }
    EXPECT_GT(inked, 200);
    EXPECT_GE(rightmost, text.width() - 20);

    // The pickers of the other pages, as shown in the window.
    const SearchQuery history = test::wordsQuery(QStringLiteral("إنما الأعمال بالنيات"));
    sample.lib->addHistory(history.title(), history.json(), 7);
    sample.lib->saveScope(QStringLiteral("كتب الشافعي"), QList<std::int64_t>(w->checked().begin(), w->checked().end()));
    w->filter()->clear();
    for (WinPage page : {WinPage::authors, WinPage::period, WinPage::scopes, WinPage::logs}) {
        w->select(page);
        QCoreApplication::processEvents();
        const QImage picker = w->outline()->grab().toImage();
        const QString name = QStringLiteral("/search-window-page%1.png").arg(int(page));
        ASSERT_TRUE(picker.save(QCoreApplication::applicationDirPath() + name, "PNG"));
        EXPECT_GT(w->model()->rowCount(), 0) << int(page);
    }
    w->hide();
}

} // namespace
