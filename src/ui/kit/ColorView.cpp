#include "ui/kit/ColorView.h"

#include <QPaintEvent>
#include <QPainter>

namespace quorvel {

ColorView::ColorView(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {}

void ColorView::setColor(const QColor& color)
{
    color_ = color;
    update();
}

void ColorView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(rect() & event->rect(), color_);
}

} // namespace quorvel
