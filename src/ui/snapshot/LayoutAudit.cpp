#include "ui/snapshot/LayoutAudit.h"

#include "ui/kit/Widgets.h"

#include <QAbstractScrollArea>
#include <QBoxLayout>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolButton>
#include <QTreeView>
#include <QHeaderView>
#include <QStyledItemDelegate>

#include <algorithm>

namespace quorvel {

namespace {

constexpr qsizetype kShownText = 30;
// A row whose text keeps fewer letters than this (or than it has) is no
// longer read but guessed at.
constexpr qsizetype kReadableLetters = 10;
// A pixel of rounding between a measured text and its view is no cut.
constexpr int kSlack = 1;

QRect inWindow(const QWidget* view, const QWidget* window)
{
    return QRect(view->mapTo(window, QPoint(0, 0)), view->size());
}

QString describe(const QWidget* view, const QWidget* window)
{
    QString text;
    if (const auto* button = qobject_cast<const QAbstractButton*>(view))
        text = button->text();
    else if (const auto* label = qobject_cast<const QLabel*>(view))
        text = label->text();
    text = text.simplified().left(kShownText);
    const QRect r = inWindow(view, window);
    QString name = QString::fromLatin1(view->metaObject()->className());
    if (!view->objectName().isEmpty())
        name += u'#' + view->objectName();
    return QStringLiteral("%1 «%2» %3,%4,%5,%6").arg(name, text).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The scroll area whose viewport `view` is, if any.
const QAbstractScrollArea* scrolledBy(const QWidget* view)
{
    const auto* area = view->parentWidget() ? qobject_cast<const QAbstractScrollArea*>(view->parentWidget()) : nullptr;
    return area && area->viewport() == view ? area : nullptr;
}

// The least size a layout may give the view, as the layouts themselves reckon it.
QSize leastSize(const QWidget* view)
{
    const QSize set = view->minimumSize();
    const QSize hint = view->minimumSizeHint().expandedTo(QSize(0, 0));
    const QSize full = view->sizeHint().expandedTo(QSize(0, 0));
    const QSizePolicy policy = view->sizePolicy();
    auto least = [](int setValue, QSizePolicy::Policy p, int minimumHint, int sizeHint) {
        if (setValue > 0 || p == QSizePolicy::Ignored)
            return setValue;
        return (p & QSizePolicy::ShrinkFlag) ? minimumHint : sizeHint;
    };
    QSize size(least(set.width(), policy.horizontalPolicy(), hint.width(), full.width()),
               least(set.height(), policy.verticalPolicy(), hint.height(), full.height()));
    // A view whose height follows its width (wrapping lines) needs what its width asks.
    if (view->hasHeightForWidth() && view->heightForWidth(view->width()) > 0)
        size.setHeight(std::max(set.height(), view->heightForWidth(view->width())));
    return size.boundedTo(view->maximumSize());
}

// What a button's or label's text needs across, or 0 where the view shortens
// its text on purpose or shows none.
int textNeed(const QWidget* view)
{
    if (const auto* push = qobject_cast<const QPushButton*>(view)) {
        if (push->text().isEmpty())
            return 0;
        const QStyle* style = push->style();
        const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
        // As the button measures itself, less the style's least width for a short text.
        return push->fontMetrics().size(Qt::TextShowMnemonic, push->text()).width() + icon
             + style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push)
             + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, push);
    }
    if (const auto* tool = qobject_cast<const QToolButton*>(view))
        return tool->text().isEmpty() || tool->toolButtonStyle() == Qt::ToolButtonIconOnly ? 0 : tool->sizeHint().width();
    if (const auto* button = qobject_cast<const QAbstractButton*>(view))
        return button->text().isEmpty() ? 0 : button->sizeHint().width();
    const auto* text = qobject_cast<const QLabel*>(view);
    if (!text || qobject_cast<const Label*>(view) || text->wordWrap() || text->text().isEmpty())
        return 0;
    return text->sizeHint().width();
}

// The visible views a box, grid or form layout arranges side by side, its
// nested layouts included; a layout that lays views over one another on
// purpose (pinned, stacked) arranges none.
void arranged(const QLayout* layout, const QWidget* window, QList<const QWidget*>& views)
{
    if (!qobject_cast<const QBoxLayout*>(layout) && !qobject_cast<const QGridLayout*>(layout)
        && !qobject_cast<const QFormLayout*>(layout))
        return;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (const QWidget* view = item->widget()) {
            if (view->isVisibleTo(window) && !view->geometry().isEmpty())
                views.append(view);
        } else if (const QLayout* inner = item->layout()) {
            arranged(inner, window, views);
        }
    }
}

void overlaps(const QWidget* parent, const QWidget* window, QStringList& faults)
{
    QList<const QWidget*> views;
    if (parent->layout())
        arranged(parent->layout(), window, views);
    for (qsizetype i = 0; i < views.size(); ++i)
        for (qsizetype j = i + 1; j < views.size(); ++j)
            if (views[i]->geometry().intersects(views[j]->geometry()))
                faults << QStringLiteral("overlap: %1 over %2").arg(describe(views[i], window), describe(views[j], window));
}

// The holder that hides part of the view, if any: each holder up to the
// window cuts it, but a scrolled area only where it cannot scroll.
const QWidget* cutBy(const QWidget* view, const QWidget* window)
{
    const QRect whole = inWindow(view, window);
    for (const QWidget* holder = view->parentWidget(); holder && holder != window; holder = holder->parentWidget()) {
        const QRect edge = inWindow(holder, window);
        if (const QAbstractScrollArea* area = scrolledBy(holder)) {
            const bool across = area->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff;
            return across && (whole.left() < edge.left() || whole.right() > edge.right()) ? area : nullptr;
        }
        if (!edge.adjusted(-kSlack, -kSlack, kSlack, kSlack).contains(whole))
            return holder;
    }
    return window->rect().adjusted(-kSlack, -kSlack, kSlack, kSlack).contains(whole) ? nullptr : window;
}

qsizetype letters(const QString& text)
{
    return std::count_if(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); });
}

// Qt's own reading of a cell into the option its delegates draw from.
struct CellOption : QStyledItemDelegate
{
    using QStyledItemDelegate::initStyleOption;
};

// The lines a cell's text shows as the styled delegate draws them: each line
// shortened to the room its check box and symbol leave.
QStringList shownLines(const QTreeView* list, const QModelIndex& index)
{
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = list->visualRect(index);
    const QStyle* style = list->style();
    const int small = style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, list);
    option.decorationSize = list->iconSize().isValid() ? list->iconSize() : QSize(small, small);
    option.decorationAlignment = Qt::AlignCenter;
    CellOption().initStyleOption(&option, index);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &option, list).width() - 2 * margin;
    QStringList shown;
    for (const QString& line : option.text.split(u'\n'))
        shown << option.fontMetrics.elidedText(line, list->textElideMode(), room);
    return shown;
}

// The rows a list shows now, each of its shown columns: a line of text kept
// to a few letters by a narrow column.
void rowFaults(const QTreeView* list, const QWidget* window, QStringList& faults)
{
    const QAbstractItemModel* model = list->model();
    if (!model)
        return;
    const QPoint top(list->columnViewportPosition(0) + 1, 0);
    for (QModelIndex row = list->indexAt(top).siblingAtColumn(0); row.isValid(); row = list->indexBelow(row)) {
        if (!list->viewport()->rect().intersects(list->visualRect(row)))
            break;
        for (int column = 0; column < model->columnCount(row.parent()); ++column) {
            const QModelIndex cell = row.siblingAtColumn(column);
            if (list->isColumnHidden(column) || !cell.isValid())
                continue;
            const QStringList whole = cell.data().toString().split(u'\n');
            const QStringList shown = shownLines(list, cell);
            for (qsizetype i = 0; i < whole.size(); ++i)
                if (letters(shown[i]) < std::min(letters(whole[i]), kReadableLetters))
                    faults << QStringLiteral("text shortened to «%1» of «%2» in %3")
                                  .arg(shown[i], whole[i].left(kShownText), describe(list, window));
        }
    }
}

void viewFaults(const QWidget* view, const QWidget* window, QStringList& faults)
{
    // Qt's own file list sizes its columns to the names in whatever folder it
    // opens and scrolls across them, so only our lists are held to their width.
    if (const auto* list = qobject_cast<const QTreeView*>(view);
        list && !qobject_cast<const QFileDialog*>(window) && !list->header()->isHidden()
        && list->header()->length() > list->viewport()->width() + kSlack)
        faults << QStringLiteral("columns %1 (%2) across in %3: %4")
                      .arg(list->header()->length())
                      .arg(list->header()->sectionSize(0))
                      .arg(list->viewport()->width())
                      .arg(describe(view, window));
    if (const auto* list = qobject_cast<const QTreeView*>(view); list && !qobject_cast<const QFileDialog*>(window))
        rowFaults(list, window, faults);
    // A view that scrolls shows what it holds at any size.
    const QSize least = qobject_cast<const QAbstractScrollArea*>(view) ? QSize() : leastSize(view);
    if (view->width() < least.width() || view->height() < least.height())
        faults << QStringLiteral("squeezed below %1×%2: %3").arg(least.width()).arg(least.height()).arg(describe(view, window));
    if (const QWidget* holder = view->geometry().isEmpty() ? nullptr : cutBy(view, window))
        faults << QStringLiteral("cut: %1 by %2").arg(describe(view, window), describe(holder, window));
    if (const int need = textNeed(view); view->width() + kSlack < need)
        faults << QStringLiteral("text needs %1: %2").arg(need).arg(describe(view, window));
    if (const auto* text = qobject_cast<const QLabel*>(view);
        text && text->wordWrap() && !text->text().isEmpty() && view->height() + kSlack < text->heightForWidth(view->width()))
        faults << QStringLiteral("text needs %1 down: %2").arg(text->heightForWidth(view->width())).arg(describe(view, window));
}

} // namespace

QStringList scrolledViews(QWidget* window)
{
    QStringList scrolled;
    if (!window || !window->isVisible())
        return scrolled;
    for (const QScrollArea* area : window->findChildren<QScrollArea*>()) {
        const QWidget* content = area->widget();
        if (area->window() == window && area->isVisibleTo(window) && content
            && (content->height() > area->viewport()->height() || content->width() > area->viewport()->width()))
            scrolled << QStringLiteral("%1 of %2×%3").arg(describe(area, window)).arg(content->width()).arg(content->height());
    }
    return scrolled;
}

QStringList layoutFaults(QWidget* window)
{
    QStringList faults;
    if (!window || !window->isVisible())
        return faults;
    if (QLayout* layout = window->layout())
        layout->activate();
    overlaps(window, window, faults);
    for (const QWidget* view : window->findChildren<QWidget*>()) {
        if (view->window() != window || !view->isVisibleTo(window))
            continue;
        // What lies inside an item view's rows is the view's own business.
        bool inRows = false;
        for (const QWidget* holder = view->parentWidget(); holder && holder != window && !inRows;
             holder = holder->parentWidget())
            inRows = scrolledBy(holder) && !qobject_cast<const QScrollArea*>(scrolledBy(holder));
        if (inRows)
            continue;
        viewFaults(view, window, faults);
        overlaps(view, window, faults);
    }
    return faults;
}

} // namespace quorvel
