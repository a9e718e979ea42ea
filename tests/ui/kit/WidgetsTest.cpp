#include "ui/WindowTestSupport.h"

#include "ui/kit/Dialogs.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WindowPlacement.h"
#include "support/Wait.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

using namespace quorvel;

namespace {
class WidgetsTest : public test::WindowTest {};
} // namespace

TEST_F(WidgetsTest, secondActionReplacesAndReleasesTheFirst)
{
    QPushButton button;
    auto first = std::make_shared<int>(0);
    auto second = std::make_shared<int>(0);
    onAction(&button, [first](QObject*) { ++*first; });
    EXPECT_EQ(first.use_count(), 2);
    onAction(&button, [second](QObject* sender) {
        ++*second;
        EXPECT_NE(sender, nullptr);
    });
    EXPECT_EQ(first.use_count(), 1); // the first closure is gone
    button.click();
    EXPECT_EQ(*first, 0);
    EXPECT_EQ(*second, 1);
    EXPECT_EQ(button.findChildren<ClosureTarget*>().size(), 1);
}

TEST_F(WidgetsTest, menuItemsTakeControlShortcutsOnlyWhenKeyed)
{
    int fired = 0;
    std::unique_ptr<QAction> plain(menuItem(QStringLiteral("a"), QString(), [&] { ++fired; }));
    std::unique_ptr<QAction> save(menuItem(QStringLiteral("b"), QStringLiteral("s"), [&] { ++fired; }));
    std::unique_ptr<QAction> shifted(menuItem(QStringLiteral("c"), QStringLiteral("S"), nullptr));
    EXPECT_TRUE(plain->shortcut().isEmpty());
    EXPECT_EQ(save->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(shifted->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    save->trigger();
    shifted->trigger(); // an absent closure does nothing
    EXPECT_EQ(fired, 1);

    // A title with "&" (a book called "الأدب & اللغة") keeps its ampersand
    // and gains no mnemonic.
    std::unique_ptr<QAction> titled(menuItem(QStringLiteral("الأدب & اللغة"), QString(), nullptr));
    EXPECT_EQ(titled->iconText(), QStringLiteral("الأدب & اللغة"));
    EXPECT_EQ(titled->text(), QStringLiteral("الأدب && اللغة"));
}

TEST_F(WidgetsTest, iconButtonIsSizedAroundItsSymbol)
{
    int clicks = 0;
    std::unique_ptr<HoverButton> button(iconButton(QStringLiteral("magnifyingglass"), QStringLiteral("tip"), 22, [&] { ++clicks; }));
    EXPECT_EQ(button->size(), QSize(38, 34));
    EXPECT_EQ(button->minimumSize(), QSize(38, 34));
    EXPECT_EQ(button->toolTip(), QStringLiteral("tip"));
    EXPECT_FALSE(button->icon().isNull());
    button->click();
    EXPECT_EQ(clicks, 1);

    std::unique_ptr<QPushButton> text(textButton(QStringLiteral("نص"), QString(), nullptr));
    EXPECT_TRUE(text->icon().isNull());
    EXPECT_EQ(text->foregroundRole(), QPalette::ButtonText);
}

TEST_F(WidgetsTest, pinKeepsLeadingInsetOnTheReadingSide)
{
    for (Qt::LayoutDirection direction : {Qt::RightToLeft, Qt::LeftToRight}) {
        QWidget parent;
        parent.setLayoutDirection(direction);
        parent.resize(200, 100);
        auto* child = new QWidget;
        pin(&parent, child, Insets{8, 20, 6, 4});
        parent.show();
        QCoreApplication::processEvents();
        const QRect g = child->geometry();
        const int rightGap = parent.width() - g.right() - 1;
        EXPECT_EQ(g.top(), 8);
        EXPECT_EQ(parent.height() - g.bottom() - 1, 6);
        if (direction == Qt::RightToLeft) {
            EXPECT_EQ(rightGap, 20);
            EXPECT_EQ(g.left(), 4);
        } else {
            EXPECT_EQ(g.left(), 20);
            EXPECT_EQ(rightGap, 4);
        }
        EXPECT_EQ(pinnedSubviews(&parent), QList<QWidget*>{child});
        QWidget keeper;
        unpinAll(&parent, &keeper);
        EXPECT_TRUE(pinnedSubviews(&parent).isEmpty());
        EXPECT_EQ(child->parentWidget(), &keeper);
    }
}

TEST_F(WidgetsTest, windowsCentreOnTheScreensFreeAreaAndStayWithoutOne)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    QWidget window(nullptr, Qt::Window);
    window.resize(300, 200);
    window.move(3, 5);
    centreOnScreen(&window, nullptr);
    EXPECT_EQ(window.pos(), QPoint(3, 5));
    centreOnScreen(&window, screen);
    EXPECT_EQ(window.frameGeometry().center(), screen->availableGeometry().center());
}

// Under a window manager a window learns its frame only once it is shown,
// after it was placed: it is fitted again then, so that its title bar and
// borders lie inside the free area rather than above the screen's top.
TEST_F(WidgetsTest, aWindowFramedOnlyOnceShownIsFittedWithItsFrameInsideTheFreeArea)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect room = screen->availableGeometry();
    // Placed while its platform window has no frame, as large as the free area.
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.resize(room.size() + QSize(40, 40));
    centreOnScreen(&window, screen);
    EXPECT_EQ(window.geometry(), room);
    // Then framed and shown: the client area at the top of the free area would
    // leave the frame's top edge above it.
    window.setWindowFlags(Qt::Window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QMargins frame = window.windowHandle()->frameMargins();
    ASSERT_GT(frame.top(), 0) << "the platform reports no frame";
    ASSERT_EVENTUALLY(room.contains(window.frameGeometry()), 5000)
        << window.frameGeometry().y() << " " << window.frameGeometry().height();
    EXPECT_EQ(window.geometry().top() - window.frameGeometry().top(), frame.top());
    // A later move is the reader's own and is left alone.
    const QPoint aside(room.right() - 50, room.top() + 20);
    window.move(aside);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.frameGeometry().topLeft(), aside);
}

TEST_F(WidgetsTest, labelsShortenTheirTextWithoutLosingIt)
{
    const QString long300 = QString(300, QChar(0x0628));
    std::unique_ptr<Label> l(label(long300, 13));
    l->setFixedWidth(120);
    EXPECT_EQ(l->text(), long300);
    EXPECT_TRUE(l->shownText().contains(QChar(0x2026)));
    EXPECT_LE(l->fontMetrics().horizontalAdvance(l->shownText()), 120);
    EXPECT_EQ(l->font().pixelSize(), 13);
}

TEST_F(WidgetsTest, stacksArrangeAndDropTheirViews)
{
    std::unique_ptr<StackView> row(hstack({new QWidget, new QWidget}, 5));
    EXPECT_EQ(row->arrangedSubviews().size(), 2);
    EXPECT_EQ(row->spacing(), 5);
    QPointer<QWidget> first = row->arrangedSubviews().first();
    row->removeArrangedSubviews();
    EXPECT_TRUE(row->arrangedSubviews().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    std::unique_ptr<StackView> column(vstack({}, 0));
    EXPECT_EQ(column->orientation(), Qt::Vertical);
}

TEST_F(WidgetsTest, scriptedDialogsRecordRequestsAndAnswerInOrder)
{
    ScriptedDialogs dialogs;
    dialogs.answer(QStringLiteral("سطر\nسطر ثان"));
    dialogs.answer(std::nullopt);
    QWidget window;
    Dialogs::alert(QStringLiteral("عنوان"), QString(), &window);
    EXPECT_EQ(Dialogs::prompt(QStringLiteral("ع"), QStringLiteral("i"), QStringLiteral("x"), QStringLiteral("نعم"), true),
              QStringLiteral("سطر\nسطر ثان"));
    EXPECT_EQ(Dialogs::prompt(QStringLiteral("ع"), QString(), QStringLiteral("x")), std::nullopt);
    EXPECT_EQ(Dialogs::openFile(QStringLiteral("ملف")), std::nullopt); // answers ran out

    ASSERT_EQ(dialogs.requests().size(), 4);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::Alert);
    EXPECT_TRUE(dialogs.requests()[0].hasWindow);
    EXPECT_TRUE(dialogs.requests()[1].multiline);
    EXPECT_EQ(dialogs.requests()[1].ok, QStringLiteral("نعم"));
    EXPECT_EQ(dialogs.requests()[2].ok, QStringLiteral("حفظ"));
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::OpenFile).size(), 1);
}

TEST_F(WidgetsTest, withoutAResponderNoDialogBlocksOffscreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    Dialogs::alert(QStringLiteral("a"), QStringLiteral("b"));
    EXPECT_EQ(Dialogs::prompt(QStringLiteral("a"), QString(), QStringLiteral("x")), std::nullopt);
    EXPECT_EQ(Dialogs::saveFile(QStringLiteral("a"), QStringLiteral("n.pdf")), std::nullopt);
}

TEST_F(WidgetsTest, smallAlertsAreWideEnoughForTheirTitleBarAndKeepShortLinesWhole)
{
    const struct {
        QString title;
        QString text;
    } alerts[] = {
        {QStringLiteral("تم الاستيراد"), QStringLiteral("تعليقات: ٣ · علامات: ٢")},
        {QStringLiteral("مكتبة قورفل"), QStringLiteral("الإصدار ١.٠")},
        {QStringLiteral("لديك أحدث إصدار"), QString()},
    };
    for (const auto& alert : alerts) {
        SCOPED_TRACE(alert.title.toStdString());
        const std::unique_ptr<QMessageBox> box(Dialogs::messageBox(alert.title, alert.text));
        box->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
        // The title bar names the application, and the box leaves it room.
        EXPECT_EQ(box->windowTitle(), QGuiApplication::applicationDisplayName());
        const QFontMetrics bar(QApplication::font("QMdiSubWindowTitleBar"));
        EXPECT_GE(box->width(), bar.horizontalAdvance(box->windowTitle()) + 50);
        if (alert.text.isEmpty())
            continue;
        const auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        ASSERT_NE(info, nullptr);
        EXPECT_LT(info->height(), 2 * info->fontMetrics().lineSpacing()) << "the line wrapped";
    }
}

TEST_F(WidgetsTest, qtsOwnSaveChooserIsArabicAndItsButtonsWhole)
{
    // What shows where the desktop offers no chooser of its own, as offscreen.
    const std::unique_ptr<QFileDialog> dialog(
        Dialogs::saveDialog(QStringLiteral("تصدير الكتاب إلى PDF"), QStringLiteral("الموطأ.pdf"), QStringLiteral("PDF (*.pdf)")));
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    const QRegularExpression arabic(QStringLiteral("^[\\p{Arabic}\\s:]+$"));
    auto* box = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    QStringList titles;
    for (QAbstractButton* button : box->buttons()) {
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        titles << text;
        EXPECT_TRUE(arabic.match(text).hasMatch()) << text.toStdString();
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(text) + 8) << text.toStdString();
        EXPECT_GE(button->height(), button->fontMetrics().height()) << text.toStdString();
    }
    EXPECT_TRUE(titles.contains(QStringLiteral("حفظ")));
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->isVisible() && !label->text().isEmpty()) {
            EXPECT_TRUE(arabic.match(QString(label->text()).remove(QLatin1Char('&'))).hasMatch())
                << label->text().toStdString();
        }
    }
    // The type column names a folder in Arabic too.
    ASSERT_NE(dialog->iconProvider(), nullptr);
    const QString folderType = dialog->iconProvider()->type(QFileInfo(QDir::tempPath()));
    EXPECT_TRUE(arabic.match(folderType).hasMatch()) << folderType.toStdString();
    EXPECT_TRUE(dialog->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/save-dialog.png"), "PNG"));
}
