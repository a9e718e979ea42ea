#pragma once

#include <QStyledItemDelegate>

namespace quorvel {

// Paints the text column of the results table: the excerpt as one
// right-to-left line in the reading font, the matches bold on their mark
// colour, cut at its tail with an ellipsis when the cell is too narrow.
class SnippetDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr double fontSize = 15;
    static constexpr int inset = 5;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace quorvel
