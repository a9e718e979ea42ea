#include "ui/search/BookCellDelegate.h"

#include "ui/search/ResultsModel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

namespace quorvel {

QString BookCellDelegate::fit(const QString& label, const QString& title, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(label) <= width || !label.startsWith(title) || label.size() == title.size())
        return metrics.elidedText(label, Qt::ElideRight, width);
    const QString rest = label.mid(title.size());
    // Joined letters measure a little differently apart than together, so
    // the budget shrinks until the whole fits.
    for (int budget = width; budget > 0; budget -= 2) {
        QString shown;
        const int restWidth = metrics.horizontalAdvance(rest);
        if (restWidth < budget)
            shown = metrics.elidedText(title, Qt::ElideRight, budget - restWidth);
        if (!shown.isEmpty()) {
            shown += rest;
        } else {
            // The note alone is too wide: a little of the title, and the note
            // cut in its middle, where editions' notes tend to agree.
            shown = metrics.elidedText(title, Qt::ElideRight, budget / 3)
                + metrics.elidedText(rest, Qt::ElideMiddle, budget - budget / 3);
        }
        if (metrics.horizontalAdvance(shown) <= width)
            return shown;
    }
    return QString();
}

void BookCellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QString title = index.data(ResultsModel::bookTitleRole).toString();
    if (title.isEmpty() || option->text == title)
        return;
    // The width the style gives the text, less its own margins, so that it
    // finds nothing left to cut.
    const QStyle* style = option->widget ? option->widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option->widget) + 1;
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, option, option->widget);
    option->text = fit(option->text, title, option->fontMetrics, textRect.width() - 2 * margin);
}

} // namespace quorvel
