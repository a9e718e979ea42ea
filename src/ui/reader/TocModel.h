#pragma once

#include "core/TocNode.h"

#include <QAbstractItemModel>
#include <QList>

namespace quorvel {

// A book's table of contents as a tree of titles for the reader's outline:
// each row shows its title beside a page symbol in gold, one with lines for an
// entry that has entries under it, a plainer one for a leaf, and the whole
// title as its tool tip for a row cut short. Titles show their digits as the
// page does, in the user's digits. Each index points at its
// TocNode; the nodes belong to the tree handed in, which the model keeps
// alive.
class TocModel : public QAbstractItemModel {
    Q_OBJECT
public:
    using QAbstractItemModel::QAbstractItemModel;

    // Replaces the whole tree.
    void setRoots(const QList<TocNodePtr>& roots);
    // Tells the views every title changed, after the digits preference did.
    void refreshTitles();
    const QList<TocNodePtr>& roots() const { return roots_; }

    // The node of an index; nullptr for the invisible root.
    static TocNode* node(const QModelIndex& index);
    // The index of a node of the tree; invalid for a node not in it.
    QModelIndex indexOf(const TocNode* node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    static constexpr const char* branchSymbol = "doc.text";
    static constexpr const char* leafSymbol = "doc.plaintext";
    static constexpr double symbolSize = 13;

    // The title (display and tool tip) and the symbol (decoration).
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const QList<TocNodePtr>& childrenOf(const TocNode* node) const;
    void refreshTitles(const QModelIndex& parent);

    QList<TocNodePtr> roots_;
};

} // namespace quorvel
