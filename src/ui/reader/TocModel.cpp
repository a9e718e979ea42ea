#include "ui/reader/TocModel.h"

#include "core/Arabic.h"
#include "core/Theme.h"

namespace quorvel {

void TocModel::setRoots(const QList<TocNodePtr>& roots)
{
    beginResetModel();
    roots_ = roots;
    endResetModel();
}

void TocModel::refreshTitles()
{
    refreshTitles({});
}

void TocModel::refreshTitles(const QModelIndex& parent)
{
    const int rows = rowCount(parent);
    if (rows == 0)
        return;
    emit dataChanged(index(0, 0, parent), index(rows - 1, 0, parent), {Qt::DisplayRole, Qt::ToolTipRole});
    for (int row = 0; row < rows; ++row)
        refreshTitles(index(row, 0, parent));
}

TocNode* TocModel::node(const QModelIndex& index)
{
    return index.isValid() ? static_cast<TocNode*>(index.internalPointer()) : nullptr;
}

const QList<TocNodePtr>& TocModel::childrenOf(const TocNode* node) const
{
    return node ? node->children : roots_;
}

QModelIndex TocModel::indexOf(const TocNode* node) const
{
    if (!node)
        return {};
    const TocNodePtr parent = node->parent.lock();
    const QList<TocNodePtr>& siblings = childrenOf(parent.get());
    for (int row = 0; row < siblings.size(); ++row) {
        if (siblings[row].get() == node)
            return createIndex(row, 0, siblings[row].get());
    }
    return {};
}

QModelIndex TocModel::index(int row, int column, const QModelIndex& parent) const
{
    const QList<TocNodePtr>& children = childrenOf(node(parent));
    if (column != 0 || row < 0 || row >= children.size())
        return {};
    return createIndex(row, 0, children[row].get());
}

QModelIndex TocModel::parent(const QModelIndex& child) const
{
    const TocNode* n = node(child);
    return n ? indexOf(n->parent.lock().get()) : QModelIndex();
}

int TocModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(childrenOf(node(parent)).size());
}

int TocModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant TocModel::data(const QModelIndex& index, int role) const
{
    const TocNode* n = node(index);
    if (!n)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return Arabic::digits(n->title);
    case Qt::DecorationRole:
        return Theme::symbol(QString::fromLatin1(n->children.isEmpty() ? leafSymbol : branchSymbol), symbolSize,
                             {Theme::goldInk().resolve()});
    default:
        return {};
    }
}

} // namespace quorvel
