#include "ui/kit/PillView.h"

#include "core/Theme.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace quorvel {

namespace {
constexpr double kTextSize = 14;
constexpr double kWhiteBlend = 0.25;
} // namespace

PillView::PillView(const QString& text, const QColor& color, QWidget* parent)
    : QWidget(parent), text_(text), color_(color)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PillView::setText(const QString& text)
{
    text_ = text;
    updateGeometry();
    update();
}

QFont PillView::textFont() const
{
    return Theme::ui(kTextSize, QFont::Bold);
}

QSize PillView::sizeHint() const
{
    const double width = QFontMetricsF(textFont()).horizontalAdvance(text_);
    return QSize(int(std::ceil(width)) + horizontalPadding, pillHeight);
}

void PillView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath path;
    path.addRoundedRect(r, r.height() / 2, r.height() / 2);

    const QColor start = QColor::fromRgbF(color_.redF() + (1 - color_.redF()) * kWhiteBlend,
                                          color_.greenF() + (1 - color_.greenF()) * kWhiteBlend,
                                          color_.blueF() + (1 - color_.blueF()) * kWhiteBlend, color_.alphaF());
    QLinearGradient gradient(r.topLeft(), r.bottomLeft());
    gradient.setColorAt(0, start);
    gradient.setColorAt(1, color_);
    painter.fillPath(path, gradient);
    painter.setPen(QPen(Theme::gold(), 1));
    painter.drawPath(path);

    painter.setFont(textFont());
    painter.setPen(Qt::white);
    painter.drawText(QRectF(rect()), Qt::AlignCenter, text_);
}

} // namespace quorvel
