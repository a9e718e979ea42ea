#include "ui/kit/HoverButton.h"

#include "core/Theme.h"

#include <QEnterEvent>
#include <QPainter>

namespace quorvel {

namespace {
constexpr double kHoverAlpha = 0.12;
constexpr double kPressedAlpha = 0.22;
// Room around the symbol, so that the hover tint frames it.
constexpr QSize kSymbolRoom(16, 12);
constexpr double kFocusRingWidth = 2;
} // namespace

void paintFocusRing(QPainter& painter, const QWidget& widget, double radius)
{
    const double inset = kFocusRingWidth / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Theme::accent().resolve(widget.palette()), kFocusRingWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(widget.rect()).adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.restore();
}

HoverButton::HoverButton(QWidget* parent) : QAbstractButton(parent)
{
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::ArrowCursor);
}

QColor HoverButton::hoverTint() const
{
    if (!hovered_)
        return {};
    QColor tint = Theme::emerald();
    tint.setAlphaF(float(isDown() ? kPressedAlpha : kHoverAlpha));
    return tint;
}

QSize HoverButton::sizeHint() const
{
    return iconSize() + kSymbolRoom;
}

void HoverButton::setSymbol(const QString& name, double size, const QList<ThemeColor>& colors, QFont::Weight weight)
{
    symbol_ = name;
    symbolSize_ = size;
    symbolColors_ = colors;
    symbolWeight_ = weight;
    tintSymbol();
}

void HoverButton::tintSymbol()
{
    QList<QColor> colors;
    colors.reserve(symbolColors_.size());
    for (const ThemeColor& color : std::as_const(symbolColors_))
        colors.append(color.resolve(palette()));
    setIcon(Theme::symbol(symbol_, symbolSize_, colors, symbolWeight_));
}

void HoverButton::changeEvent(QEvent* event)
{
    // The symbol is a painted image: a new appearance paints it again.
    if (!symbol_.isEmpty() && (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange))
        tintSymbol();
    QAbstractButton::changeEvent(event);
}

void HoverButton::enterEvent(QEnterEvent* event)
{
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event)
{
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void HoverButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor tint = hoverTint();
    if (tint.isValid()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(tint);
        painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    }
    if (!icon().isNull()) {
        const QSize size = iconSize();
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
        icon().paint(&painter, target, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
    }
    if (hasFocus())
        paintFocusRing(painter, *this, cornerRadius);
}

} // namespace quorvel
