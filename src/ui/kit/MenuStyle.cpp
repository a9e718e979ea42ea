#include "ui/kit/MenuStyle.h"

#include "core/Theme.h"
#include "ui/kit/RichTextBuilder.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QStyleOptionMenuItem>
#include <QStyleOptionToolButton>

#include <algorithm>

namespace quorvel {

namespace {
constexpr double kSegmentRadius = 3;
constexpr double kFieldRadius = 2;
constexpr double kItemFocusWidth = 1.5;
// Room on each side of a dialog button's title.
constexpr int kDialogButtonPadding = 12;

// A checked button that is one segment of a segmented control.
bool isSelectedSegment(const QStyleOption* option, const QWidget* widget)
{
    const auto* button = qobject_cast<const QAbstractButton*>(widget);
    return option->state.testFlag(QStyle::State_On) && button && button->group() && button->group()->exclusive();
}

bool hasArabic(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.script() == QChar::Script_Arabic; });
}
} // namespace

MenuStyle::MenuStyle(QStyle* base) : QProxyStyle(base) {}

void MenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const
{
    if (element == CE_ToolButtonLabel && isSelectedSegment(option, widget)) {
        if (const auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            QStyleOptionToolButton on(*tool);
            on.palette.setColor(QPalette::ButtonText, Theme::onAccent().resolve(option->palette));
            QProxyStyle::drawControl(element, &on, painter, widget);
            return;
        }
    }
    // A menu item carries its key after a tab.
    if (element == CE_MenuItem && option->direction == Qt::RightToLeft) {
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
            const qsizetype tab = item->text.indexOf(u'\t');
            if (tab >= 0 && tab + 1 < item->text.size()) {
                QStyleOptionMenuItem isolated(*item);
                isolated.text = item->text.left(tab + 1) + RichText::leftToRight(item->text.mid(tab + 1));
                QProxyStyle::drawControl(element, &isolated, painter, widget);
                return;
            }
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void MenuStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    const bool focused = option->state.testFlag(State_HasFocus);
    if (element == PE_FrameLineEdit && focused && Theme::isDark(option->palette)) {
        // The wrapped style draws the ring from the highlight colour.
        if (const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option)) {
            QStyleOptionFrame lit(*frame);
            lit.palette.setColor(QPalette::Highlight, Theme::accent().dark());
            QProxyStyle::drawPrimitive(element, &lit, painter, widget);
            return;
        }
    }
    if (element == PE_FrameFocusRect && qobject_cast<const QAbstractItemView*>(widget)) {
        // The row that has the keyboard: the wrapped style's faint frame is
        // lost, by night above all. On a selected row, in the selection's ink.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        const QColor ring = option->state.testFlag(State_Selected)
                                ? option->palette.color(QPalette::HighlightedText)
                                : Theme::accent().resolve(option->palette);
        painter->setPen(QPen(ring, kItemFocusWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(1, 1, -1, -1), kFieldRadius, kFieldRadius);
        painter->restore();
        return;
    }
    if (element == PE_PanelButtonTool && isSelectedSegment(option, widget)) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(Qt::NoPen);
        painter->setBrush(Theme::accent().resolve(option->palette));
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), kSegmentRadius, kSegmentRadius);
        painter->restore();
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element == PE_FrameLineEdit && !focused) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(Theme::controlBorder().resolve(option->palette), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), kFieldRadius, kFieldRadius);
        painter->restore();
        return;
    }
    // Item views draw their check boxes through PE_IndicatorCheckBox too.
    const bool box = element == PE_IndicatorCheckBox;
    if ((!box && element != PE_IndicatorRadioButton) || (focused && option->state.testFlag(State_KeyboardFocusChange)))
        return;
    // The border again, over the wrapped style's own, in a colour that reads
    // on the window and on the box's white or near-black inside.
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->translate(0.5, 0.5);
    painter->setPen(QPen(Theme::controlBorder().resolve(option->palette), 1));
    painter->setBrush(Qt::NoBrush);
    const QRect rect = option->rect.adjusted(0, 0, -1, -1);
    if (box)
        painter->drawRect(rect);
    else
        painter->drawEllipse(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5));
    painter->restore();
}

void MenuStyle::polish(QWidget* widget)
{
    QProxyStyle::polish(widget);
    // An empty field takes its direction from the keyboard, not from the
    // window, and its leading edge then falls on the left.
    auto* field = qobject_cast<QLineEdit*>(widget);
    if (!field || field->layoutDirection() != Qt::RightToLeft || qobject_cast<QAbstractSpinBox*>(field->parentWidget())
        || qobject_cast<QComboBox*>(field->parentWidget()))
        return;
    const Qt::Alignment alignment = field->alignment();
    if ((alignment & (Qt::AlignHorizontal_Mask | Qt::AlignAbsolute)) == Qt::AlignLeading)
        field->setAlignment(Qt::AlignRight | Qt::AlignAbsolute | (alignment & Qt::AlignVertical_Mask));
}

QSize MenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                  const QWidget* widget) const
{
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_PushButton && widget && qobject_cast<const QDialogButtonBox*>(widget->parentWidget()))
        result.setWidth(std::max(result.width(), size.width() + 2 * kDialogButtonPadding));
    return result;
}

int MenuStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                         QStyleHintReturn* returnData) const
{
    if (hint == SH_UnderlineShortcut) {
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option); item && hasArabic(item->text))
            return 0;
        if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            button && hasArabic(button->text))
            return 0;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

} // namespace quorvel
