#pragma once

// The catalogue of the Downloads window as a two-level tree: one group row
// per category (in the catalogue's category order) holding its books sorted
// by title, the books without a category last under "غير مصنّف" in
// catalogue order. Four columns: a tri-state tick with the title, the author,
// the size and the install state. The ticks live in the window's set of book
// ids, which this model reads and writes.

#include "distribution/Dist.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace quorvel {

class DownloadsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { TitleColumn, AuthorColumn, SizeColumn, StateColumn, ColumnCount };

    // The catalogue with the normal form of each book's title and author and
    // the whole tree in display order, computed once per load so that a
    // keystroke in the filter neither normalises nor sorts again.
    struct Source {
        struct Group {
            QString title;
            QList<int> rows; // catalogue positions of the group's books, in display order
        };
        Dist::Catalog catalog;
        QHash<std::int64_t, QString> authors; // author id → name
        QList<QString> titles;                // the title book i shows
        QList<Group> groups;                  // every group that may show, in display order
        // The normal form of book i: norms[ends[i - 1], ends[i]), all of them
        // in one piece so that a scan reads memory in order.
        QString norms;
        std::vector<qsizetype> ends;
        QStringView norm(int i) const
        {
            const qsizetype from = i > 0 ? ends[std::size_t(i) - 1] : 0;
            return QStringView(norms).sliced(from, ends[std::size_t(i)] - from);
        }
    };
    static std::shared_ptr<const Source> prepare(Dist::Catalog catalog);

    // "NKB" below a million bytes (at least 1), "N.NMB" from there, in the
    // digits of the current setting.
    static QString mb(std::int64_t bytes);

    explicit DownloadsModel(QObject* parent = nullptr);

    // Shows the books of `source` that hold every word of `filter`
    // (normalised), grouped; an empty filter keeps every book. Typing on
    // from the previous filter of the same source only re-tests the books it
    // showed.
    void setTree(std::shared_ptr<const Source> source, const QString& filter);
    // Whether the last filter had a word (its groups are then opened).
    bool filtering() const { return !words_.isEmpty(); }
    void setInstalled(QHash<std::int64_t, QString> installed);
    const QHash<std::int64_t, QString>& installed() const { return installed_; }

    // The ticked book ids; survives every rebuild.
    QSet<std::int64_t> checked;

    // The install state of a book: text and colour.
    std::pair<QString, QColor> state(const Dist::CatBook& book) const;
    // The row's book, or nullptr for a group row or an invalid index.
    const Dist::CatBook* bookAt(const QModelIndex& index) const;
    // The row's category name or book title as shown; empty for an invalid index.
    QString titleAt(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    // A shown group: its books are rows_[first, first + count).
    struct Shown {
        int group;
        int first;
        int count;
    };
    const Shown* groupAt(const QModelIndex& index) const;
    // The catalogue positions of the row's books: a group's shown books or the one book.
    std::pair<const int*, const int*> rowsOf(const QModelIndex& index) const;

    std::shared_ptr<const Source> source_;
    QStringList words_;
    std::vector<char> passes_;     // per catalogue book: holds every word
    std::vector<int> passing_;     // the passing positions, ascending
    QList<Shown> shown_;
    std::vector<int> rows_;        // the shown books, group after group
    QHash<std::int64_t, QString> installed_;
    // Index 1 holds the night appearance's.
    mutable QIcon groupIcon_[2];
    mutable QIcon bookIcon_[2];
};

} // namespace quorvel
