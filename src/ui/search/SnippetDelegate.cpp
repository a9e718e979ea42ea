#include "ui/search/SnippetDelegate.h"

#include "core/Theme.h"
#include "ui/search/ResultsModel.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

#include <memory>

namespace quorvel {

namespace {

constexpr char16_t kEllipsis = u'\u2026';

// A one-line right-to-left layout of the first `length` units of the row's
// text (followed by an ellipsis when cut), its matches marked.
std::unique_ptr<QTextLayout> lineOf(const ResultsModel::RowData& row, qsizetype length, const QColor& ink)
{
    const bool cut = length < row.text.size();
    auto layout = std::make_unique<QTextLayout>(cut ? row.text.left(length) + QChar(kEllipsis) : row.text,
                                                Theme::reader(SnippetDelegate::fontSize));
    QTextOption option;
    option.setTextDirection(Qt::RightToLeft);
    option.setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
    option.setWrapMode(QTextOption::NoWrap);
    layout->setTextOption(option);
    QList<QTextLayout::FormatRange> formats;
    QTextLayout::FormatRange base;
    base.start = 0;
    base.length = int(layout->text().size());
    base.format.setForeground(ink);
    formats.append(base);
    for (const Arabic::Range& r : row.ranges) {
        if (r.location >= length)
            continue;
        QTextLayout::FormatRange mark;
        mark.start = int(r.location);
        mark.length = int(std::min(r.location + r.length, length) - r.location);
        mark.format.setForeground(Theme::hitInk());
        mark.format.setBackground(Theme::hitMark());
        mark.format.setFont(Theme::reader(SnippetDelegate::fontSize, true));
        formats.append(mark);
    }
    layout->setFormats(formats);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid())
        line.setLineWidth(1e6);
    layout->endLayout();
    return layout;
}

} // namespace

void SnippetDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const auto row = index.data(ResultsModel::rowDataRole).value<ResultsModel::RowData>();
    if (row.text.isEmpty())
        return;
    const QRectF box = QRectF(option.rect).adjusted(inset, 0, -inset, 0);
    const QColor ink = option.palette.color(option.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                    : QPalette::Text);
    auto fits = [&](const QTextLayout& layout) { return layout.lineAt(0).naturalTextWidth() <= box.width(); };

    std::unique_ptr<QTextLayout> layout = lineOf(row, row.text.size(), ink);
    if (!fits(*layout)) {
        // The longest head of the text that fits with its ellipsis.
        qsizetype lo = 0;
        qsizetype hi = row.text.size() - 1;
        while (lo < hi) {
            const qsizetype mid = (lo + hi + 1) / 2;
            if (fits(*lineOf(row, mid, ink)))
                lo = mid;
            else
                hi = mid - 1;
        }
        layout = lineOf(row, lo, ink);
    }
    QTextLine line = layout->lineAt(0);
    // The line is laid out wide; move it so that its text ends at the cell's right edge.
    const qreal x = box.right() - line.naturalTextRect().right();
    const qreal y = box.top() + (box.height() - line.height()) / 2;
    painter->save();
    painter->setClipRect(option.rect);
    layout->draw(painter, QPointF(x, y));
    painter->restore();
}

} // namespace quorvel
