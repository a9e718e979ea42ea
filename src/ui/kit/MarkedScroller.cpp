#include "ui/kit/MarkedScroller.h"

#include "core/Theme.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {
constexpr double kMarkHeight = 4;
constexpr double kMarkInset = 2;
constexpr double kMarkRadius = 1.5;
} // namespace

MarkedScroller::MarkedScroller(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

void MarkedScroller::setMarks(const QList<double>& marks)
{
    marks_ = marks;
    update();
}

QList<QRectF> MarkedScroller::markRects(const QList<double>& marks, const QRectF& slot)
{
    QList<QRectF> rects;
    for (double mark : marks) {
        if (!std::isfinite(mark))
            continue;
        const double y = slot.top() + std::clamp(mark, 0.0, 1.0) * slot.height();
        rects.append(QRectF(slot.left() + kMarkInset, y - kMarkHeight / 2, slot.width() - 2 * kMarkInset, kMarkHeight));
    }
    return rects;
}

QRectF MarkedScroller::slotRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, this);
}

void MarkedScroller::paintEvent(QPaintEvent* event)
{
    QScrollBar::paintEvent(event);
    if (marks_.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::hitCurrent());
    for (const QRectF& r : markRects(marks_, slotRect()))
        painter.drawRoundedRect(r, kMarkRadius, kMarkRadius);
}

} // namespace quorvel
