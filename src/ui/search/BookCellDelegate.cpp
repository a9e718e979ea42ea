#include "ui/search/BookCellDelegate.h"

#include "ui/kit/Widgets.h"
#include "ui/search/ResultsModel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

namespace quorvel {

QString BookCellDelegate::fit(const QString& label, const QString& title, const QFontMetrics& metrics, int width)
{
    return fitText(label, title, metrics, width);
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
