#pragma once

// How the book picker's rows are drawn: all as high as one another, and on a
// list too narrow for the title and the author side by side (large text) the
// author's line goes under the title, which then has the whole row.

#include <QStyledItemDelegate>

namespace quorvel {

class PickerRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int rowHeight = 28;

    using QStyledItemDelegate::QStyledItemDelegate;

    // Whether the second column's text is drawn under the first's; the view
    // hides the second column meanwhile.
    void setStacked(bool stacked);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    bool stacked_ = false;
};

} // namespace quorvel
