#include "ui/WindowTestSupport.h"

#include "core/Theme.h"
#include "ui/kit/BarView.h"
#include "ui/kit/ColorView.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/MarkedScroller.h"
#include "ui/kit/PillView.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QFontMetricsF>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace quorvel;

namespace {
class CustomViewsTest : public test::WindowTest {};
} // namespace

TEST_F(CustomViewsTest, scrollerMarksAreClampedAndNonFiniteOnesSkipped)
{
    const QRectF slot(0, 10, 15, 200);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto rects = MarkedScroller::markRects({-0.5, nan, 0.5, 1.7}, slot);
    ASSERT_EQ(rects.size(), 3);
    EXPECT_EQ(rects[0], QRectF(2, 8, 11, 4));   // top of the slot
    EXPECT_EQ(rects[1], QRectF(2, 108, 11, 4)); // middle
    EXPECT_EQ(rects[2], QRectF(2, 208, 11, 4)); // bottom
    EXPECT_TRUE(MarkedScroller::markRects({}, slot).isEmpty());
}

TEST_F(CustomViewsTest, scrollerPaintsItsMarksInTheTrack)
{
    MarkedScroller scroller;
    scroller.setRange(0, 100);
    scroller.resize(16, 300);
    const QImage plain = scroller.grab().toImage();
    scroller.setMarks({0.5});
    const QImage marked = scroller.grab().toImage();
    const QRectF mark = MarkedScroller::markRects({0.5}, scroller.slotRect()).first();
    const QPoint centre = mark.center().toPoint();
    EXPECT_EQ(QColor(marked.pixel(centre)).rgb(), Theme::hitCurrent().rgb());
    EXPECT_NE(plain.pixel(centre), marked.pixel(centre));
}

TEST_F(CustomViewsTest, barDrawsItsLineOnlyWhenAsked)
{
    BarView bar;
    bar.setPalette(Theme::palette(false));
    bar.resize(50, 20);
    const QColor line = Theme::barLine().resolve(Theme::palette(false));
    EXPECT_EQ(QColor(bar.grab().toImage().pixel(25, 19)).rgb(), line.rgb());
    bar.setLine(false);
    const QImage image = bar.grab().toImage();
    EXPECT_NE(QColor(image.pixel(25, 19)).rgb(), line.rgb());
    // Top colour along the top edge, bottom colour along the bottom.
    const QColor top(image.pixel(25, 0));
    EXPECT_LE(std::abs(top.red() - Theme::barTop().resolve(Theme::palette(false)).red()), 2);
    const QColor bottom(image.pixel(25, 19));
    EXPECT_LE(std::abs(bottom.red() - Theme::barBottom().resolve(Theme::palette(false)).red()), 3);
}

TEST_F(CustomViewsTest, pillSizesToItsTextAndPaintsItsColour)
{
    PillView empty(QString(), Theme::emerald());
    EXPECT_EQ(empty.sizeHint(), QSize(26, 24));
    PillView pill(QStringLiteral("١٢٣"), Theme::emerald());
    const int width = int(std::ceil(QFontMetricsF(pill.textFont()).horizontalAdvance(QStringLiteral("١٢٣"))));
    EXPECT_EQ(pill.sizeHint(), QSize(width + 26, 24));
    pill.setText(QString());
    EXPECT_EQ(pill.sizeHint(), QSize(26, 24));
    pill.setColor(Qt::red);
    EXPECT_EQ(pill.color(), QColor(Qt::red));

    // A repaint fills with the stored colour, lightened towards the top.
    pill.resize(pill.sizeHint());
    const QImage image = pill.grab().toImage();
    const QColor top(image.pixel(10, 4));
    const QColor bottom(image.pixel(10, 20));
    EXPECT_GT(bottom.red(), 240);
    EXPECT_LT(bottom.green(), 20);
    EXPECT_GT(top.green(), bottom.green() + 20);
}

TEST_F(CustomViewsTest, hoverButtonTintsOnlyWhileThePointerIsOver)
{
    HoverButton button;
    button.resize(30, 30);
    EXPECT_FALSE(button.hoverTint().isValid());
    const QImage idle = button.grab().toImage();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&button, &enter);
    ASSERT_TRUE(button.hoverTint().isValid());
    EXPECT_NEAR(button.hoverTint().alphaF(), 0.12, 1e-3);
    EXPECT_EQ(button.hoverTint().rgb(), Theme::emerald().rgb());
    // The tint is painted behind the middle, but not into the rounded corner.
    const QImage lit = button.grab().toImage();
    EXPECT_NE(lit.pixel(15, 15), idle.pixel(15, 15));
    EXPECT_EQ(lit.pixel(0, 0), idle.pixel(0, 0));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.hoverTint().isValid());
    EXPECT_EQ(button.hoverCornerRadius(), 6);
}

TEST_F(CustomViewsTest, colorViewFillsWithItsColour)
{
    ColorView view(Qt::blue);
    view.resize(10, 10);
    EXPECT_EQ(QColor(view.grab().toImage().pixel(5, 5)), QColor(Qt::blue));
    view.setColor(Qt::green);
    EXPECT_EQ(QColor(view.grab().toImage().pixel(5, 5)), QColor(Qt::green));
}
