#include "ui/WindowTestSupport.h"

#include "core/Theme.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/TabButton.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/TabItem.h"
#include "ui/shell/TabStrip.h"
#include "support/Wait.h"

#include <QApplication>
#include <QMenu>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class TabStripTest : public test::WindowTest {
protected:
    static QList<TabButton*> buttons(TabStrip& strip)
    {
        QList<TabButton*> found;
        for (QWidget* w : strip.stack()->arrangedSubviews())
            found.append(qobject_cast<TabButton*>(w));
        return found;
    }
};

} // namespace

TEST_F(TabStripTest, emptyStripOffersOnlyTheDisabledHint)
{
    TabStrip strip;
    strip.set({}, -1);
    EXPECT_TRUE(buttons(strip).isEmpty());
    std::unique_ptr<QMenu> menu(strip.buildMenu());
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("لا توجد تبويبات"));
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    EXPECT_EQ(strip.height(), TabStrip::stripHeight);
}

TEST_F(TabStripTest, activeIndexOutsideTheListMarksNothing)
{
    TabStrip strip;
    strip.set({{QStringLiteral("أ"), QStringLiteral("book.closed.fill")}, {QStringLiteral("ب"), QStringLiteral("sparkles")}}, 5);
    for (TabButton* b : buttons(strip))
        EXPECT_FALSE(b->isActive());
    std::unique_ptr<QMenu> menu(strip.buildMenu());
    ASSERT_EQ(menu->actions().size(), 2);
    for (QAction* a : menu->actions())
        EXPECT_FALSE(a->isChecked());

    strip.set(strip.tabs(), 1);
    EXPECT_FALSE(buttons(strip)[0]->isActive());
    EXPECT_TRUE(buttons(strip)[1]->isActive());
    std::unique_ptr<QMenu> menu2(strip.buildMenu());
    EXPECT_TRUE(menu2->actions()[1]->isChecked());
}

TEST_F(TabStripTest, longTitleIsShortenedAtItsEndButKeptElsewhere)
{
    QString title = QStringLiteral("بداية ") + QString(290, QChar(0x0645)) + QStringLiteral(" نهاية");
    TabStrip strip;
    strip.set({{title, QStringLiteral("book.closed.fill")}}, 0);
    strip.resize(1200, TabStrip::stripHeight);
    strip.show();
    QCoreApplication::processEvents();
    TabButton* button = buttons(strip).first();
    Label* l = button->titleLabel();
    EXPECT_LE(l->width(), TabButton::maxTitleWidth);
    const QString shown = l->shownText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("بداية")));
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_EQ(button->toolTip(), title);
    std::unique_ptr<QMenu> menu(strip.buildMenu());
    EXPECT_EQ(menu->actions()[0]->text(), title);

    // A book told apart from its other edition keeps the telling part in view.
    const QString edition = QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة أ)");
    strip.set({{edition, QStringLiteral("book.closed.fill")}}, 0);
    QCoreApplication::processEvents();
    Label* e = buttons(strip).first()->titleLabel();
    e->resize(e->fontMetrics().horizontalAdvance(edition) * 2 / 3, e->height());
    EXPECT_TRUE(e->shownText().endsWith(QStringLiteral("(نشرة أ)"))) << e->shownText().toStdString();
}

TEST_F(TabStripTest, fourteenTabsInTheNarrowestWindowKeepReadableTitlesAndScrollToTheActiveOne)
{
    const QStringList titles{
        QStringLiteral("الجامع المسند الصحيح المختصر من أمور رسول الله"),
        QStringLiteral("موطأ الإمام مالك"),
        QStringLiteral("فتح الباري شرح صحيح البخاري"),
        QStringLiteral("المنهاج شرح صحيح مسلم بن الحجاج"),
        QStringLiteral("سنن ابن ماجه"),
        QStringLiteral("تقريب التهذيب"),
        QStringLiteral("الصلاة على النبي"),
        QStringLiteral("تفسير القرآن العظيم"),
        QStringLiteral("البحث الذكي"),
        QStringLiteral("الرسالة"),
        QStringLiteral("إحياء علوم الدين"),
        QStringLiteral("سير أعلام النبلاء"),
        QStringLiteral("تهذيب الكمال في أسماء الرجال"),
        QStringLiteral("القرآن الكريم"),
    };
    QList<QPair<QString, QString>> tabs;
    for (const QString& title : titles)
        tabs.append({title, QStringLiteral("book.closed.fill")});
    constexpr int active = 12;

    // The main window at its narrowest.
    QWidget window;
    window.setFixedSize(980, 60);
    auto* column = new QVBoxLayout(&window);
    column->setContentsMargins(0, 0, 0, 0);
    auto* strip = new TabStrip;
    column->addWidget(strip);
    column->addStretch(1);
    strip->set(tabs, active);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto whole = [&](int tab) {
        TabButton* button = buttons(*strip).value(tab);
        return button && button->visibleRegion().boundingRect() == button->rect();
    };
    // Laid out across the window, the active tab scrolled into view.
    EXPECT_EVENTUALLY(strip->width() == 980 && whole(active), 2000);
    EXPECT_EQ(strip->width(), 980);

    const QList<TabButton*> shown = buttons(*strip);
    ASSERT_EQ(shown.size(), titles.size());
    for (int i = 0; i < titles.size(); ++i) {
        // Without the joiners that keep the letters beside the ellipsis joined.
        const QString text = QString(shown[i]->titleLabel()->shownText()).remove(QChar(0x200D));
        const QString& title = titles[i];
        if (title.size() <= TabButton::keptTitleCharacters) {
            EXPECT_EQ(text, title);
        } else {
            EXPECT_TRUE(text.startsWith(title.left(TabButton::keptTitleCharacters))) << text.toStdString();
            EXPECT_TRUE(text == title || text.endsWith(QChar(0x2026))) << text.toStdString();
        }
        EXPECT_EQ(shown[i]->toolTip(), title);
    }
    // The active tab, far along the strip, is scrolled into view.
    EXPECT_EQ(shown[active]->visibleRegion().boundingRect(), shown[active]->rect());
    // Tab walks every tab (each scrolled into view as it is reached) and
    // leaves for the menu button: the strip shows the active tab again.
    // The active tab near the start, so that the walk ends far from it.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    strip->set(tabs, 1);
    EXPECT_EVENTUALLY(whole(1), 2000);
    const QList<TabButton*> again = buttons(*strip);
    ASSERT_EQ(again[1]->visibleRegion().boundingRect(), again[1]->rect());
    QWidget* viewport = strip->findChild<QScrollArea*>()->viewport();
    const auto inView = [&](QWidget* widget) {
        return viewport->rect().contains(QRect(widget->mapTo(viewport, QPoint(0, 0)), widget->size()));
    };
    again.first()->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 4 * titles.size() && QApplication::focusWidget() != strip->menuButton(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        // The stop Tab reached is in view.
        QWidget* at = QApplication::focusWidget();
        if (at != strip->menuButton()) {
            EXPECT_EVENTUALLY(inView(at), 2000) << i << " " << at->metaObject()->className();
        }
    }
    ASSERT_EQ(QApplication::focusWidget(), strip->menuButton());
    ASSERT_EVENTUALLY(inView(again[1]), 2000);
    strip->set(tabs, active);
    EXPECT_EVENTUALLY(whole(active), 2000);
    std::unique_ptr<QMenu> menu(strip->buildMenu());
    ASSERT_EQ(menu->actions().size(), titles.size());
    EXPECT_TRUE(menu->actions()[active]->isChecked());

    for (const bool night : {false, true}) {
        window.setPalette(Theme::palette(night));
        QCoreApplication::processEvents();
        const QImage shot = strip->grab().toImage();
        EXPECT_GT(test::colourCount(shot), 4);
        const QString file = QCoreApplication::applicationDirPath()
                             + (night ? QStringLiteral("/tab-strip-14-night.png") : QStringLiteral("/tab-strip-14-day.png"));
        EXPECT_TRUE(shot.save(file, "PNG")) << file.toStdString();
    }
}

TEST_F(TabStripTest, clicksBecomeSelectOrCloseWithTheTabsIndex)
{
    TabStrip strip;
    QList<int> selected, closed;
    strip.onSelect = [&](int i) { selected.append(i); };
    strip.onClose = [&](int i) { closed.append(i); };
    strip.set({{QStringLiteral("أ"), QStringLiteral("book.closed.fill")},
               {QStringLiteral("ب"), QStringLiteral("magnifyingglass")},
               {QStringLiteral("ج"), QStringLiteral("sparkles")}},
              0);
    strip.resize(800, TabStrip::stripHeight);
    strip.show();
    QCoreApplication::processEvents();

    QTest::mouseClick(buttons(strip)[2]->closeButton(), Qt::LeftButton);
    EXPECT_EQ(closed, QList<int>{2});
    EXPECT_TRUE(selected.isEmpty());

    QTest::mousePress(buttons(strip)[1], Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(selected, QList<int>{1});

    std::unique_ptr<QMenu> menu(strip.buildMenu());
    menu->actions()[2]->trigger();
    EXPECT_EQ(selected, (QList<int>{1, 2}));
}

TEST_F(TabStripTest, firstTabSitsOnTheRightInRightToLeft)
{
    TabStrip strip;
    strip.set({{QStringLiteral("أ"), QStringLiteral("book.closed.fill")}, {QStringLiteral("ب"), QStringLiteral("sparkles")}}, 0);
    strip.resize(800, TabStrip::stripHeight);
    strip.show();
    QCoreApplication::processEvents();
    const auto b = buttons(strip);
    EXPECT_GT(b[0]->mapTo(&strip, QPoint()).x(), b[1]->mapTo(&strip, QPoint()).x());
    // The tabs stand on the strip's bottom edge.
    EXPECT_EQ(b[0]->mapTo(&strip, QPoint(0, b[0]->height())).y(), strip.height());
}

TEST_F(TabStripTest, darkAppearanceUsesTheDarkGradient)
{
    TabStrip strip;
    EXPECT_EQ(strip.top().resolve(Theme::palette(true)).rgb(), Theme::rgb(0x262625).rgb());
    EXPECT_EQ(strip.bottom().resolve(Theme::palette(true)).rgb(), Theme::rgb(0x222221).rgb());
    EXPECT_EQ(strip.top().resolve(Theme::palette(false)).rgb(), Theme::rgb(0xEDEDEA).rgb());
    strip.setPalette(Theme::palette(true));
    strip.resize(100, TabStrip::stripHeight);
    const QColor top(strip.grab().toImage().pixel(50, 0));
    EXPECT_LE(std::abs(top.red() - 0x26), 2);

    // The menu button's symbol takes the dark appearance's light label colour.
    const QImage chevron = strip.menuButton()->icon().pixmap(QSize(12, 12), 1.0).toImage();
    int lightest = 0;
    for (int y = 0; y < chevron.height(); ++y)
        for (int x = 0; x < chevron.width(); ++x)
            if (qAlpha(chevron.pixel(x, y)) > 200)
                lightest = std::max(lightest, QColor(chevron.pixel(x, y)).lightness());
    EXPECT_GT(lightest, 150);
}

TEST_F(TabStripTest, tabItemsShowTheTitleAndSymbolOfTheirView)
{
    test::FixtureLib fixture;
    ASSERT_TRUE(fixture.lib);
    auto* book = new ReaderView(fixture.lib, *fixture.lib->book(1), 1);
    SearchQuery query;
    query.andPhrases = {QStringLiteral("الصلاة")};
    SearchTabView search(fixture.lib, query);
    TabItem item(book);
    EXPECT_EQ(item.title(), QStringLiteral("موطأ الإمام مالك"));
    EXPECT_EQ(item.icon(), QStringLiteral("book.closed.fill"));
    EXPECT_EQ(TabItem(&search).icon(), QStringLiteral("magnifyingglass"));
    // Every tab's symbol is one the application carries.
    for (const TabItem& tab : {item, TabItem(&search)})
        EXPECT_FALSE(Theme::symbol(tab.icon(), 13).isNull()) << tab.icon().toStdString();
    EXPECT_EQ(item.view(), book);
    delete book;
    EXPECT_EQ(item.view(), nullptr);
    EXPECT_EQ(item.title(), QString());
    EXPECT_EQ(item.icon(), QString());
}
