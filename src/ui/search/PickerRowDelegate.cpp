#include "ui/search/PickerRowDelegate.h"

#include "core/Theme.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace quorvel {

namespace {

// The line under the title: the height of its text and a little air.
constexpr int kLineGap = 4;

QFont cellFont(const QModelIndex& index, const QStyleOptionViewItem& option)
{
    const QVariant font = index.data(Qt::FontRole);
    return font.isValid() ? font.value<QFont>() : option.font;
}

int underHeight(const QModelIndex& index, const QStyleOptionViewItem& option)
{
    return QFontMetrics(cellFont(index.siblingAtColumn(1), option)).height() + kLineGap;
}

} // namespace

void PickerRowDelegate::setStacked(bool stacked)
{
    if (stacked == stacked_)
        return;
    stacked_ = stacked;
    // The rows change height: the view lays them out again.
    emit sizeHintChanged(QModelIndex());
}

QSize PickerRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(stacked_ ? rowHeight + underHeight(index, option) : rowHeight);
    return size;
}

void PickerRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (!stacked_ || index.column() != 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem title = option;
    initStyleOption(&title, index);
    const QWidget* view = option.widget;
    const QStyle* style = view ? view->style() : QApplication::style();
    // The selection and hover span both lines; the title's line is drawn as
    // an ordinary row over its upper part.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &title, painter, view);
    const bool focused = title.state & QStyle::State_HasFocus;
    title.state &= ~QStyle::State_HasFocus;
    title.rect.setHeight(option.rect.height() - underHeight(index, option));
    style->drawControl(QStyle::CE_ItemViewItem, &title, painter, view);

    // The author (or a group's count) under the title's text, in the title's
    // room and shortened as the view shortens its rows.
    const QModelIndex second = index.siblingAtColumn(1);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    QRect under = style->subElementRect(QStyle::SE_ItemViewItemText, &title, view).adjusted(margin, 0, -margin, 0);
    under.setTop(title.rect.bottom() + 1 - kLineGap);
    under.setBottom(option.rect.bottom() - kLineGap / 2);
    const QFont font = cellFont(second, option);
    const bool selected = title.state & QStyle::State_Selected;
    painter->save();
    painter->setFont(font);
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText) : Theme::secondaryLabel());
    painter->drawText(under, int(QStyle::visualAlignment(option.direction, Qt::AlignLeading | Qt::AlignVCenter)),
                      QFontMetrics(font).elidedText(second.data().toString(), option.textElideMode, under.width()));
    painter->restore();

    if (focused) {
        QStyleOptionFocusRect frame;
        frame.QStyleOption::operator=(option);
        frame.backgroundColor = option.palette.color(selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, painter, view);
    }
}

} // namespace quorvel
