// The reader by keyboard alone: the contents and the page each have a key,
// taking the contents opens no row, the analysis panels open from the menu's
// keys; and the phrase tree asks about the whole words a selection holds.

#include "ui/reader/ReaderViewFixture.h"

#include "core/Arabic.h"
#include "core/Settings.h"
#include "scholar/Genealogy.h"
#include "scholar/PanelText.h"
#include "support/FixtureLibrary.h"
#include "ui/kit/Dialogs.h"
#include "ui/reader/ReaderView.h"
#include "ui/reader/SmartPopover.h"
#include "ui/reader/TocModel.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/MainWindowController.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QThreadPool>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

constexpr std::int64_t kMuwatta = 1;

class ReaderKeyboardTest : public test::ReaderViewFixture {
protected:
    ReaderKeyboardTest() : ReaderViewFixture({Settings::indicDigitsKey, Settings::nightReadingKey}) {}
};

} // namespace

TEST_F(ReaderKeyboardTest, aChapterIsReadByKeyboardAloneAndTakingTheContentsTurnsNoPage)
{
    REQUIRE_SAMPLE(sample);
    MainWindowController w(sample.lib);
    QPointer<MainWindowController> main(&w);
    w.setMenuBar(MainMenu::build([main] { return main.data(); }));
    // The page before the first entry of the contents: the list has no current row.
    w.openBook(kMuwatta, 1);
    showAt(w, 1200);
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    ReaderView* r = w.activeReader();
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->seq(), 1);
    ASSERT_FALSE(r->outline()->currentIndex().isValid());

    // Tabbing into the contents marks a row and leaves the page where it is.
    r->outline()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(r->outline()->hasFocus());
    EXPECT_EQ(r->seq(), 1);
    // The page's key, then the contents' key, from wherever the keyboard is.
    QTest::keyClick(w.searchField(), Qt::Key_J, Qt::ControlModifier);
    EXPECT_TRUE(r->textView()->hasFocus());
    QTest::keyClick(r->textView(), Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(r->outline()->hasFocus());
    EXPECT_EQ(r->seq(), 1);
    // Return opens the row the keyboard is on; the arrows go on through the chapters.
    const TocNode* row = TocModel::node(r->outline()->currentIndex());
    ASSERT_NE(row, nullptr);
    QTest::keyClick(r->outline(), Qt::Key_Return);
    EXPECT_EQ(r->seq(), row->seq);
    QTest::keyClick(r->outline(), Qt::Key_Down);
    const TocNode* next = TocModel::node(r->outline()->currentIndex());
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next, row);
    EXPECT_EQ(r->seq(), next->seq);

    // The analysis panels have menu items with keys, and each key opens its panel.
    QTest::keyClick(w.searchField(), Qt::Key_J, Qt::ControlModifier);
    for (const auto& [key, title] : {std::pair{Qt::Key_I, "الإسناد"}, std::pair{Qt::Key_R, "المصادر"}}) {
        QTest::keyClick(r->textView(), key, Qt::ControlModifier | Qt::ShiftModifier);
        const auto shown = SmartPopover::current();
        ASSERT_TRUE(shown && shown->isOpen()) << title;
        EXPECT_EQ(shown->title(), QString::fromUtf8(title));
        shown->close();
    }
    // The word at the text cursor, and the phrase selected.
    const QString text = r->textView()->document()->toPlainText();
    const int at = int(text.indexOf(QStringLiteral("مالك")));
    ASSERT_GE(at, 0);
    select(*r, at + 1, 0);
    QTest::keyClick(r->textView(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(SmartPopover::current() && SmartPopover::current()->isOpen());
    EXPECT_EQ(SmartPopover::current()->title(), QStringLiteral("الكلمة"));
    SmartPopover::current()->close();
    select(*r, at, 8);
    QTest::keyClick(r->textView(), Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(SmartPopover::current() && SmartPopover::current()->isOpen());
    EXPECT_EQ(SmartPopover::current()->title(), QStringLiteral("شجرة المسألة"));
}

TEST_F(ReaderKeyboardTest, thePhraseTreeTakesTheWholeWordsOfASelectionWithoutNumbersMarksOrHeadings)
{
    REQUIRE_SAMPLE(sample);
    // A drag cutting a word at each end: the cut words are left out, and the
    // phrase is found in the books that hold it.
    auto page = reader(kMuwatta, 6);
    showAt(*page, 900);
    QString text = page->textView()->document()->toPlainText();
    const QString whole = QStringLiteral("الظهر إذا زاغت الشمس والعصر");
    const int from = int(text.indexOf(whole));
    ASSERT_GE(from, 0);
    select(*page, from + 2, int(whole.size()) - 4);
    EXPECT_EQ(page->selectedPhrase(), QStringLiteral("إذا زاغت الشمس"));
    const QString tree = PanelText::genealogy(*sample.lib, page->selectedPhrase()).plain();
    EXPECT_FALSE(tree.contains(QStringLiteral("لم تُعثر على مواضع كافية"))) << tree.toStdString();
    EXPECT_GE(tree.count(QStringLiteral(" · ص")), 3) << tree.toStdString();

    // Across a heading: its words are left out, and so are numbers and a lone letter.
    auto headed = reader(kMuwatta, 8);
    showAt(*headed, 900);
    text = headed->textView()->document()->toPlainText();
    const QString across = QStringLiteral("يصلون الظهر بعشي س ") + Arabic::digits(QStringLiteral("1 - 54\n2 باب وقت الجمعة"));
    const int start = int(text.indexOf(across));
    ASSERT_GE(start, 0) << text.toStdString();
    select(*headed, start, int(across.size()));
    EXPECT_FALSE(headed->selectedPhrase().contains(QStringLiteral("باب"))) << headed->selectedPhrase().toStdString();
    EXPECT_EQ(Genealogy::phrase(headed->selectedPhrase()), QStringLiteral("يصلون الظهر بعشي"));
    // What the command line is given as it stands: a cut letter, a mark of page.
    const std::optional<GenealogyResult> typed =
        Genealogy::run(sample.lib->main(), QStringLiteral("ا إذا زاغت الشمس \\ ٣٠"));
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->query, QStringLiteral("إذا زاغت الشمس"));
    EXPECT_GE(typed->nodes.size(), 3);

    // A lone particle is told why it has no tree.
    const QString particle = PanelText::genealogy(*sample.lib, QStringLiteral("من")).plain();
    EXPECT_TRUE(particle.contains(Genealogy::particlesNote(QStringLiteral("من")))) << particle.toStdString();
    EXPECT_FALSE(particle.contains(QStringLiteral(" · ص")));
}
