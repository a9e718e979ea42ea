// Pictures of the main window with a menu open, over the bundled sample
// library, for a person to look at; the checks catch a menu laid out left to
// right or drawn empty.

#include "ui/WindowTestSupport.h"

#include "core/Settings.h"
#include "support/Wait.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/AboutWindow.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/MainWindowController.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class MenuShotTest : public test::WindowTest {
protected:
    MenuShotTest() : WindowTest({Settings::restoreSessionKey, MainWindowController::searchModeKey}) {}
};

// The main window as it looks with `menu` open over it.
QImage withMenu(MainWindowController& w, QMenu* menu)
{
    QImage shot = w.grab().toImage();
    QPainter painter(&shot);
    painter.drawImage(menu->geometry().topLeft() - w.mapToGlobal(QPoint(0, 0)), menu->grab().toImage());
    return shot;
}

void save(const QImage& image, const char* name)
{
    const QString file = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
    EXPECT_TRUE(image.save(file, "PNG")) << file.toStdString();
}

// The leftmost and rightmost columns of a row band, inside the menu's frame,
// that differ clearly from the band's background (its right-hand margin).
std::pair<int, int> inkSpan(const QImage& image, int top, int bottom)
{
    constexpr int frame = 4;
    int left = image.width();
    int right = -1;
    for (int y = top; y < bottom && y < image.height(); ++y) {
        const QColor background = image.pixelColor(image.width() - 2 * frame, y);
        for (int x = frame; x < image.width() - frame; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.lightness() - background.lightness()) > 60) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return {left, right};
}

} // namespace

TEST_F(MenuShotTest, mainWindowWithTheFileMenuAndTheNotesMenuOpen)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    const QList<Book> books = sample.lib->books();
    ASSERT_GE(books.size(), 2);
    sample.lib->saveNote(books[0].id, 3, QStringLiteral("يُراجع الإسناد في هذه الصفحة مع طبعة أخرى"));
    sample.lib->saveNote(books[1].id, 5, QStringLiteral("فائدة في الباب"));
    sample.lib->toggleBookmark(books[1].id, 2);

    MainWindowController w(sample.lib);
    QPointer<MainWindowController> main(&w);
    w.setMenuBar(MainMenu::build([main] { return main.data(); }));
    w.resize(1400, 860);
    w.openBook(books[0].id, 3);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // The menu bar laid out with its menus.
    ASSERT_EVENTUALLY(w.menuBar()->isVisible() && !w.menuBar()->actions().isEmpty()
                          && !w.menuBar()->actionGeometry(w.menuBar()->actions().first()).isEmpty(),
                      5000);

    // The application menu comes first, on the right.
    QMenuBar* bar = w.menuBar();
    const QRect first = bar->actionGeometry(bar->actions().first());
    EXPECT_GT(first.right(), bar->width() - 60);
    EXPECT_LT(bar->actionGeometry(bar->actions().last()).right(), first.left());

    QAction* fileItem = bar->actions().at(1);
    bar->setActiveAction(fileItem);
    QMenu* file = fileItem->menu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(file->isVisible()); }, 20000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(file));
    // Opened under its title, right edges together.
    const QRect title = bar->actionGeometry(fileItem).translated(bar->mapToGlobal(QPoint(0, 0)));
    EXPECT_LE(std::abs(file->geometry().right() - title.right()), 4);
    const QImage fileShot = file->grab().toImage();
    EXPECT_GT(test::colourCount(fileShot), 4);
    // An item's title starts at the right margin and its key sits on the left.
    const QRect row = file->actionGeometry(file->actions().at(1));
    const auto [rowLeft, rowRight] = inkSpan(fileShot, row.top() + 2, row.bottom() - 2);
    EXPECT_GT(rowRight, fileShot.width() - 60);
    EXPECT_LT(rowLeft, fileShot.width() / 3);
    save(withMenu(w, file), "main-menu-file.png");
    file->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(!file->isVisible()); }, 20000));

    HoverButton* notesButton = nullptr;
    for (HoverButton* b : w.findChildren<HoverButton*>())
        if (b->toolTip() == QStringLiteral("التعليقات والعلامات"))
            notesButton = b;
    ASSERT_NE(notesButton, nullptr);
    QMenu* notes = w.notesMenu();
    notes->setAttribute(Qt::WA_DeleteOnClose);
    notes->popup(notesButton->mapToGlobal(notesButton->rect().bottomRight()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(notes->isVisible()); }, 20000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(notes));
    const QImage notesShot = notes->grab().toImage();
    const QRect header = notes->actionGeometry(notes->actions().first());
    const auto [headerLeft, headerRight] = inkSpan(notesShot, header.top() + 2, header.bottom() - 2);
    EXPECT_GT(headerRight, notesShot.width() - 60);
    EXPECT_GT(headerLeft, notesShot.width() / 3);
    save(withMenu(w, notes), "top-bar-notes-menu.png");
    notes->close();
}

TEST_F(MenuShotTest, aboutWindowOverTheSampleLibrary)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    MainWindowController w(sample.lib);
    w.resize(1000, 700);
    w.show();
    // The message as the dialogs build it, shown without its modal loop.
    QMessageBox* box = Dialogs::messageBox(QStringLiteral("مكتبة قورفل"), AboutWindow::text(*sample.lib, QStringLiteral("0.1.0")),
                                           {}, &w, QApplication::windowIcon().pixmap(64));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->isVisible(); }, 20000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_EQ(box->layoutDirection(), Qt::RightToLeft);
    const QImage shot = box->grab().toImage();
    EXPECT_GT(test::colourCount(shot), 4);
    // The credits wrap; every line of the block, wrapped ones too, keeps to
    // the right edge.
    auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->alignment() & (Qt::AlignHorizontal_Mask | Qt::AlignAbsolute), Qt::AlignRight | Qt::AlignAbsolute);
    const QImage block = info->grab().toImage();
    const QColor paper = block.pixelColor(block.width() - 1, 0);
    auto inked = [&](int x, int y) {
        const QColor c = block.pixelColor(x, y);
        return std::abs(c.red() - paper.red()) + std::abs(c.green() - paper.green()) + std::abs(c.blue() - paper.blue()) > 150;
    };
    // Line by line, the rightmost ink of each band one line high.
    const int step = info->fontMetrics().lineSpacing();
    int lines = 0;
    for (int top = info->contentsRect().top(); top + step <= block.height(); top += step) {
        int right = -1;
        for (int y = top; y < top + step; ++y)
            for (int x = block.width() - 1; x > right; --x)
                if (inked(x, y)) {
                    right = x;
                    break;
                }
        if (right < 0)
            continue; // the empty line between paragraphs
        EXPECT_GT(right, block.width() - 16) << "line at " << top << " of " << block.height();
        ++lines;
    }
    EXPECT_GE(lines, 8);
    save(shot, "about-window.png");
    box->close();
}
