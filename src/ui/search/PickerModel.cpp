#include "ui/search/PickerModel.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Theme.h"
#include "search/SearchQuery.h"

#include <QGuiApplication>
#include <QPalette>

namespace quorvel {

namespace {

bool checkable(const PickNode& node)
{
    return node.kind == PickNode::Kind::book || node.kind == PickNode::Kind::group || node.kind == PickNode::Kind::scope;
}

} // namespace

PickerModel::PickerModel(BookPicker& picker, QObject* parent)
    : QAbstractItemModel(parent), picker_(picker)
{
}

void PickerModel::setHeaders(const QString& title, const QString& author)
{
    titleHeader_ = title;
    authorHeader_ = author;
    emit headerDataChanged(Qt::Horizontal, titleColumn, authorColumn);
}

QVariant PickerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    constexpr double kHeaderFontSize = 12;

    if (orientation != Qt::Horizontal)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return section == titleColumn ? titleHeader_ : authorHeader_;
    case Qt::FontRole:
        return Theme::ui(kHeaderFontSize, QFont::Medium);
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return {};
    }
}

void PickerModel::setRoots(QList<PickNodePtr> roots)
{
    beginResetModel();
    roots_ = std::move(roots);
    endResetModel();
}

PickNode* PickerModel::node(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<PickNode*>(index.internalPointer()) : nullptr;
}

QModelIndex PickerModel::indexOf(const PickNode* node) const
{
    if (!node)
        return {};
    const QList<PickNodePtr>& siblings = node->parent ? node->parent->children : roots_;
    for (int i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node)
            return createIndex(i, 0, const_cast<PickNode*>(node));
    return {};
}

QModelIndex PickerModel::index(int row, int column, const QModelIndex& parent) const
{
    const QList<PickNodePtr>& list = parent.isValid() ? node(parent)->children : roots_;
    if (row < 0 || row >= list.size() || column < 0 || column >= columns)
        return {};
    return createIndex(row, column, list[row].get());
}

QModelIndex PickerModel::parent(const QModelIndex& child) const
{
    const PickNode* n = node(child);
    return n ? indexOf(n->parent) : QModelIndex();
}

int PickerModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(roots_.size());
    if (parent.column() != 0)
        return 0;
    return int(node(parent)->children.size());
}

int PickerModel::columnCount(const QModelIndex&) const
{
    return columns;
}

bool PickerModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return !roots_.isEmpty();
    return parent.column() == 0 && node(parent)->isExpandable();
}

Qt::ItemFlags PickerModel::flags(const QModelIndex& index) const
{
    const PickNode* n = node(index);
    if (!n)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == titleColumn && checkable(*n))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant PickerModel::data(const QModelIndex& index, int role) const
{
    const PickNode* n = node(index);
    if (!n)
        return {};
    return index.column() == titleColumn ? titleData(*n, role) : authorData(*n, role);
}

QVariant PickerModel::titleData(const PickNode& node, int role) const
{
    constexpr char kUntitledSearch[] = "بحث";
    constexpr char kBookSymbol[] = "book.closed.fill";
    constexpr char kScopeSymbol[] = "checklist";
    constexpr char kHistorySymbol[] = "magnifyingglass";
    constexpr char kSavedSymbol[] = "tray.full.fill";
    constexpr double kGroupSymbolSize = 14;
    constexpr double kLogSymbolSize = 13;

    const bool heading = node.kind == PickNode::Kind::group || node.kind == PickNode::Kind::scope;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (node.kind) {
        case PickNode::Kind::book:
            return picker_.bookTitle(node.id);
        case PickNode::Kind::history:
            if (const std::optional<SearchQuery> q = SearchQuery::from(node.json))
                return q->title();
            return QString::fromUtf8(kUntitledSearch);
        default:
            return node.label;
        }
    case Qt::FontRole:
        return Theme::ui(fontSize, heading ? QFont::Medium : QFont::Normal);
    case Qt::DecorationRole:
        switch (node.kind) {
        case PickNode::Kind::book:
            return Theme::symbol(QString::fromLatin1(kBookSymbol), kGroupSymbolSize, {Theme::accent().resolve(), Theme::gold()});
        case PickNode::Kind::group:
            return Theme::symbol(node.symbol, kGroupSymbolSize, {Theme::goldInk().resolve(), Theme::accent().resolve()});
        case PickNode::Kind::scope:
            return Theme::symbol(QString::fromLatin1(kScopeSymbol), kGroupSymbolSize, {Theme::accent().resolve(), Theme::gold()});
        case PickNode::Kind::history:
            return Theme::symbol(QString::fromLatin1(kHistorySymbol), kLogSymbolSize, {Theme::accent().resolve()});
        case PickNode::Kind::saved:
            return Theme::symbol(QString::fromLatin1(kSavedSymbol), kLogSymbolSize, {Theme::goldInk().resolve()});
        }
        break;
    case Qt::CheckStateRole:
        if (node.kind == PickNode::Kind::book)
            return checked_.contains(node.id) ? Qt::Checked : Qt::Unchecked;
        if (heading)
            return BookPicker::groupState(node, checked_);
        break;
    default:
        break;
    }
    return {};
}

QVariant PickerModel::authorData(const PickNode& node, int role) const
{
    if (role == Qt::FontRole)
        return Theme::ui(fontSize);
    if (role == Qt::ForegroundRole && node.kind != PickNode::Kind::book)
        return Theme::secondaryLabel();
    if (role != Qt::DisplayRole)
        return {};
    switch (node.kind) {
    case PickNode::Kind::book:
        return picker_.authorName(node.id);
    case PickNode::Kind::group:
    case PickNode::Kind::scope:
        if (node.entries)
            return node.entries->count(node.children.size());
        return CountedNoun::books().count(node.bookIds().size());
    case PickNode::Kind::history:
    {
        static const CountedNoun results(QStringLiteral("نتيجة"), QStringLiteral("نتيجتان"),
                                         QStringLiteral("نتائج"), QStringLiteral("نتيجة"));
        return results.count(node.count) + QString::fromUtf8(CountedNoun::separator) + BookPicker::dateStr(node.ts);
    }
    case PickNode::Kind::saved:
    {
        static const CountedNoun saved(QStringLiteral("نتيجة محفوظة"), QStringLiteral("نتيجتان محفوظتان"),
                                       QStringLiteral("نتائج محفوظة"), QStringLiteral("نتيجة محفوظة"));
        return saved.count(node.pageIds.size());
    }
    }
    return {};
}

bool PickerModel::setData(const QModelIndex& index, const QVariant&, int role)
{
    const PickNode* n = node(index);
    if (role != Qt::CheckStateRole || !n || index.column() != titleColumn || !checkable(*n))
        return false;
    BookPicker::toggle(*n, checked_);
    checkedChanged();
    if (onChecked)
        onChecked();
    return true;
}

void PickerModel::checkedChanged()
{
    // A book may show on several rows and every group above it changes: the
    // whole outline is drawn again.
    emit layoutChanged();
}

} // namespace quorvel
