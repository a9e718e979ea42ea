#pragma once

// The book picker's outline: two columns ("title" with the check box, symbol
// and name; "author" with the author or a count) over the rows a BookPicker
// built. Checked books are kept by id, so they survive every rebuild and
// every page.

#include "ui/search/BookPicker.h"

#include <QAbstractItemModel>
#include <QSet>

#include <functional>

namespace quorvel {

class PickerModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { titleColumn, authorColumn };
    static constexpr int columns = 2;
    static constexpr double fontSize = 13;

    explicit PickerModel(BookPicker& picker, QObject* parent = nullptr);

    // Replaces every row in one reset.
    void setRoots(QList<PickNodePtr> roots);
    const QList<PickNodePtr>& roots() const { return roots_; }
    PickNode* node(const QModelIndex& index) const;
    QModelIndex indexOf(const PickNode* node) const;

    QSet<std::int64_t>& checked() { return checked_; }
    // Says that the checked books changed (by a check box or an action).
    void checkedChanged();
    // Called after a check box changed the checked books.
    std::function<void()> onChecked;

    // The two columns' headers, set by the window for the page it shows.
    void setHeaders(const QString& title, const QString& author);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QVariant titleData(const PickNode& node, int role) const;
    QVariant authorData(const PickNode& node, int role) const;

    BookPicker& picker_;
    QList<PickNodePtr> roots_;
    QSet<std::int64_t> checked_;
    QString titleHeader_;
    QString authorHeader_;
};

} // namespace quorvel
