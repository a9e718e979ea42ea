#include "ui/WindowTestSupport.h"

#include "core/Theme.h"
#include "ui/kit/Widgets.h"
#include "ui/shell/WelcomeView.h"

#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>

using namespace quorvel;

namespace {
class WelcomeViewTest : public test::WindowTest {};

QList<WelcomeView::Entry> entries(int n, int* calls)
{
    QList<WelcomeView::Entry> list;
    for (int i = 0; i < n; ++i)
        list.append({QStringLiteral("كتاب %1").arg(i), [calls, i] { calls[i]++; }});
    return list;
}
} // namespace

TEST_F(WelcomeViewTest, recentRowShowsAtMostFiveAndHidesItsHeadingWhenEmpty)
{
    WelcomeView view;
    view.resize(1000, 700);
    view.show();
    EXPECT_TRUE(view.recentTitle()->isVisible()); // before the first assignment
    view.setRecent({});
    EXPECT_FALSE(view.recentTitle()->isVisible());
    EXPECT_TRUE(view.recentStack()->arrangedSubviews().isEmpty());

    int calls[7] = {};
    view.setRecent(entries(7, calls));
    EXPECT_TRUE(view.recentTitle()->isVisible());
    const auto buttons = view.recentStack()->arrangedSubviews();
    ASSERT_EQ(buttons.size(), 5);
    qobject_cast<QPushButton*>(buttons[3])->click();
    EXPECT_EQ(calls[3], 1);
    EXPECT_EQ(calls[0] + calls[1] + calls[2] + calls[4] + calls[5] + calls[6], 0);
}

TEST_F(WelcomeViewTest, longTitleIsCutAtTheEndWithinTheButtonWidth)
{
    WelcomeView view;
    const QString title = QStringLiteral("أول ") + QString(200, QChar(0x0644)) + QStringLiteral(" آخر");
    view.setRecent({{title, nullptr}});
    auto* button = qobject_cast<QPushButton*>(view.recentStack()->arrangedSubviews().first());
    ASSERT_NE(button, nullptr);
    EXPECT_LE(button->sizeHint().boundedTo(button->maximumSize()).width(), WelcomeView::maxButtonWidth);
    EXPECT_TRUE(button->text().startsWith(QStringLiteral("أول")));
    EXPECT_TRUE(button->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(button->toolTip(), title);
}

TEST_F(WelcomeViewTest, titleSizeAndGlowAreBounded)
{
    EXPECT_DOUBLE_EQ(WelcomeView::titleSize(980), 84);
    EXPECT_DOUBLE_EQ(WelcomeView::titleSize(1400), 119);
    EXPECT_DOUBLE_EQ(WelcomeView::titleSize(2000), 150);
    EXPECT_DOUBLE_EQ(WelcomeView::glowCenter(QSizeF(980, 620)).y(), 620 * 0.34);
    EXPECT_DOUBLE_EQ(WelcomeView::glowCenter(QSizeF(2000, 1400)).y(), 260);
    EXPECT_DOUBLE_EQ(WelcomeView::glowCenter(QSizeF(2000, 1400)).x(), 1000);
}

TEST_F(WelcomeViewTest, backdropSpreadsFromTheMiddleToACircleAboveItCoveringTheView)
{
    const QRadialGradient g = WelcomeView::backdrop(QSizeF(1000, 800), false);
    EXPECT_EQ(g.focalPoint(), QPointF(500, 400)); // the lightest point: the view's middle
    EXPECT_EQ(g.center(), QPointF(500, 300));     // a quarter of the half-height higher
    EXPECT_DOUBLE_EQ(g.radius(), std::hypot(500.0, 500.0)); // reaches the far bottom corners
    ASSERT_EQ(g.stops().size(), 3);
    EXPECT_EQ(g.stops()[0].second.rgb(), Theme::rgb(0xF6F0E1).rgb());
    EXPECT_EQ(g.stops()[1].second.rgb(), Theme::rgb(0xE6D9BA).rgb());
    EXPECT_EQ(WelcomeView::backdrop(QSizeF(10, 10), true).stops()[1].second.rgb(), Theme::rgb(0x2A241A).rgb());
}

TEST_F(WelcomeViewTest, darkAndLightAppearancesDrawDifferentBackdrops)
{
    WelcomeView view;
    view.resize(980, 620);
    view.setPalette(Theme::palette(false));
    const QImage light = view.grab().toImage();
    view.setPalette(Theme::palette(true));
    const QImage dark = view.grab().toImage();
    EXPECT_GT(QColor(light.pixel(10, 600)).lightness(), 150);
    EXPECT_LT(QColor(dark.pixel(10, 600)).lightness(), 80);
    EXPECT_GT(test::colourCount(light), 16);
}
