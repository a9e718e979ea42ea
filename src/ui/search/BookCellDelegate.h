#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

namespace quorvel {

// Paints the book column of the results table. A title that books of the
// hits share carries after it what tells each book apart; when the cell is
// too narrow, the title is shortened first so that this part stays readable.
class BookCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // `label` cut to `width` pixels: whole when it fits, else `title` (the
    // start of `label`) shortened before the rest of the label is, and that
    // rest, when it alone is too wide, cut in its middle so that both its
    // ends stay.
    static QString fit(const QString& label, const QString& title, const QFontMetrics& metrics, int width);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace quorvel
