#include "ui/kit/MenuStyle.h"

#include <QStyleOptionMenuItem>

namespace quorvel {

namespace {
// Left-to-right isolate and its end: the key keeps its own order whatever
// the direction of the line around it.
constexpr char16_t kLeftToRightIsolate = 0x2066;
constexpr char16_t kPopDirectionalIsolate = 0x2069;
} // namespace

MenuStyle::MenuStyle(QStyle* base) : QProxyStyle(base) {}

void MenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const
{
    // A menu item carries its key after a tab.
    if (element == CE_MenuItem && option->direction == Qt::RightToLeft) {
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
            const qsizetype tab = item->text.indexOf(u'\t');
            if (tab >= 0 && tab + 1 < item->text.size()) {
                QStyleOptionMenuItem isolated(*item);
                isolated.text = item->text.left(tab + 1) + QChar(kLeftToRightIsolate) + item->text.mid(tab + 1)
                                + QChar(kPopDirectionalIsolate);
                QProxyStyle::drawControl(element, &isolated, painter, widget);
                return;
            }
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

} // namespace quorvel
