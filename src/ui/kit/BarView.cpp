#include "ui/kit/BarView.h"

#include <QLinearGradient>
#include <QPainter>

namespace quorvel {

BarView::BarView(QWidget* parent)
    : QWidget(parent), top_(Theme::barTop()), bottom_(Theme::barBottom())
{
}

void BarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, top().resolve(pal));
    gradient.setColorAt(1, bottom().resolve(pal));
    painter.fillRect(rect(), gradient);
    if (line())
        painter.fillRect(QRect(0, height() - 1, width(), 1), Theme::barLine().resolve(pal));
}

} // namespace quorvel
