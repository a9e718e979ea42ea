#pragma once

// The catalogue of the Downloads window as a two-level tree: one group row
// per category (in the catalogue's category order) holding its books sorted
// by title, the books without a category last under "غير مصنّف" in
// catalogue order. Four columns: a tri-state tick with the title, the author,
// the size and the install state. The ticks live in the window's set of book
// ids, which this model reads and writes.

#include "dist/Dist.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace quorvel {

class DownloadsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { TitleColumn, AuthorColumn, SizeColumn, StateColumn, ColumnCount };

    // One row: a group (a category, its books in `books`) or a book.
    struct Node {
        QString title;
        QList<Dist::CatBook> books;         // group: the group's books
        std::optional<Dist::CatBook> book;  // book row
        QList<Node> children;
        bool isGroup() const { return !book.has_value(); }
    };

    // The catalogue with the normal form of each book's title and author,
    // computed once per load so that filtering never normalises again.
    struct Source {
        Dist::Catalog catalog;
        QHash<std::int64_t, QString> authors; // author id → name
        QList<QString> norms;                 // per catalogue book
    };
    static std::shared_ptr<const Source> prepare(Dist::Catalog catalog);

    // The tree of the books that hold every word of `filter` (normalised);
    // an empty filter keeps every book.
    static QList<Node> build(const Source& source, const QString& filter);

    // "NKB" below a million bytes (at least 1), "N.NMB" from there, in the
    // digits of the current setting.
    static QString mb(std::int64_t bytes);

    explicit DownloadsModel(QObject* parent = nullptr);

    void setTree(QList<Node> roots, std::shared_ptr<const Source> source);
    void setInstalled(QHash<std::int64_t, QString> installed);
    const QList<Node>& roots() const { return roots_; }
    const QHash<std::int64_t, QString>& installed() const { return installed_; }

    // The ticked book ids; survives every rebuild.
    QSet<std::int64_t> checked;

    // The install state of a book: text and colour.
    std::pair<QString, QColor> state(const Dist::CatBook& book) const;
    // The row's book, or nullptr for a group row or an invalid index.
    const Dist::CatBook* bookAt(const QModelIndex& index) const;
    const Node* nodeAt(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<std::int64_t> idsOf(const Node& node) const;

    QList<Node> roots_;
    std::shared_ptr<const Source> source_;
    QHash<std::int64_t, QString> installed_;
};

} // namespace quorvel
