#include "ui/kit/WrapLayout.h"

#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace quorvel {

WrapLayout::WrapLayout(QWidget* parent, int spacing, int lineHeight) : QLayout(parent), lineHeight_(lineHeight)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(spacing);
}

WrapLayout::~WrapLayout()
{
    while (!items_.isEmpty())
        delete items_.takeFirst();
}

void WrapLayout::addItem(QLayoutItem* item) { items_.append(item); }
int WrapLayout::count() const { return int(items_.size()); }
QLayoutItem* WrapLayout::itemAt(int index) const { return items_.value(index); }
QLayoutItem* WrapLayout::takeAt(int index)
{
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}
Qt::Orientations WrapLayout::expandingDirections() const { return {}; }
bool WrapLayout::hasHeightForWidth() const { return true; }

int WrapLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

QSize WrapLayout::minimumSize() const
{
    // As narrow as the widest view, each on a line of its own.
    QSize least(0, 0);
    for (const QLayoutItem* item : items_)
        if (!item->isEmpty())
            least.setWidth(std::max(least.width(), item->minimumSize().width()));
    const QMargins m = contentsMargins();
    least.setWidth(least.width() + m.left() + m.right());
    least.setHeight(heightForWidth(least.width()));
    return least;
}

QSize WrapLayout::sizeHint() const
{
    // All on one line.
    int width = 0;
    int height = lineHeight_;
    int shown = 0;
    for (const QLayoutItem* item : items_) {
        if (item->isEmpty())
            continue;
        width += item->sizeHint().width();
        height = std::max(height, item->sizeHint().height());
        ++shown;
    }
    const QMargins m = contentsMargins();
    return QSize(width + std::max(0, shown - 1) * spacing() + m.left() + m.right(), height + m.top() + m.bottom());
}

void WrapLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int WrapLayout::arrange(const QRect& rect, bool place) const
{
    const QMargins m = contentsMargins();
    const QRect room = rect.marginsRemoved(m);
    QList<QLayoutItem*> shown;
    for (QLayoutItem* item : items_)
        if (!item->isEmpty())
            shown.append(item);
    // Each view's width on its line: its preferred one, or the line's where
    // that is narrower, never below its minimum.
    auto widthOf = [&room](const QLayoutItem* item) {
        return std::max(item->minimumSize().width(), std::min(item->sizeHint().width(), room.width()));
    };
    int total = 0;
    for (const QLayoutItem* item : shown)
        total += widthOf(item);
    const bool oneLine = total + std::max<qsizetype>(0, shown.size() - 1) * spacing() <= room.width();

    const Qt::LayoutDirection direction = parentWidget() ? parentWidget()->layoutDirection() : Qt::LeftToRight;
    int y = room.top();
    qsizetype first = 0;
    while (first < shown.size()) {
        // The views of this line.
        qsizetype end = first;
        int used = 0;
        int height = lineHeight_;
        while (end < shown.size()) {
            const int w = widthOf(shown[end]);
            if (!oneLine && end > first && used + spacing() + w > room.width())
                break;
            used += (end > first ? spacing() : 0) + w;
            height = std::max(height, shown[end]->sizeHint().height());
            ++end;
        }
        int x = room.left();
        for (qsizetype i = first; place && i < end; ++i) {
            QLayoutItem* item = shown[i];
            const int w = widthOf(item);
            const int h = std::min(height, std::max(item->minimumSize().height(), item->sizeHint().height()));
            // On one line the last view stands at the far end.
            const int left = oneLine && i == shown.size() - 1 && i > first ? room.right() + 1 - w : x;
            const QRect logical(left, y + (height - h) / 2, w, h);
            item->setGeometry(QStyle::visualRect(direction, room, logical));
            x += w + spacing();
        }
        y += height + (end < shown.size() ? spacing() : 0);
        first = end;
    }
    return y - room.top() + m.top() + m.bottom();
}

} // namespace quorvel
