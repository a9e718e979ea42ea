#include "ui/kit/TrackStyle.h"

#include "core/Theme.h"

#include <QPainter>
#include <QStyleOptionSlider>

namespace quorvel {

TrackStyle::TrackStyle(QObject* parent)
{
    setParent(parent);
}

void TrackStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                    const QWidget* widget) const
{
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider || !(slider->subControls & SC_SliderGroove) || !Theme::isDark(option->palette)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRectF groove = subControlRect(CC_Slider, slider, SC_SliderGroove, widget);
    const QRectF line = slider->orientation == Qt::Horizontal
                            ? QRectF(groove.left(), groove.center().y() - thickness / 2.0, groove.width(), thickness)
                            : QRectF(groove.center().x() - thickness / 2.0, groove.top(), thickness, groove.height());
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Theme::track().resolve(option->palette));
    painter->drawRoundedRect(line, thickness / 2.0, thickness / 2.0);
    painter->restore();
    QStyleOptionSlider rest(*slider);
    rest.subControls &= ~SC_SliderGroove;
    QProxyStyle::drawComplexControl(control, &rest, painter, widget);
}

} // namespace quorvel
