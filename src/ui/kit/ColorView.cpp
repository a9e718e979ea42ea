#include "ui/kit/ColorView.h"

#include <QPaintEvent>
#include <QPainter>

namespace quorvel {

ColorView::ColorView(const ThemeColor& color, QWidget* parent) : QWidget(parent), color_(color) {}

void ColorView::setColor(const ThemeColor& color)
{
    color_ = color;
    update();
}

void ColorView::setBorder(const ThemeColor& color, double radius)
{
    border_ = color;
    radius_ = radius;
    update();
}

void ColorView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!border_) {
        painter.fillRect(rect() & event->rect(), color());
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(border_->resolve(palette()), 1));
    painter.setBrush(color());
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
}

} // namespace quorvel
