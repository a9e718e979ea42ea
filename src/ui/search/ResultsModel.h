#pragma once

// The rows of a search tab: every hit received (`all`), the indices of the
// rows shown (`shown`), and each hit's rendered row, made the first time the
// table asks for it and kept for the life of the tab. A batch under unchanged
// filters appends rows; only a change of filters recomputes them.

#include "core/Arabic.h"
#include "search/SearchHit.h"
#include "search/SearchQuery.h"
#include "ui/search/ResultFilter.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QHash>
#include <QList>

#include <memory>

namespace quorvel {

class Library;

class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { numberColumn, bookColumn, textColumn, chapterColumn, pageColumn };
    static constexpr int columns = 5;
    // The text column's rendered row, for its delegate.
    static constexpr int rowDataRole = Qt::UserRole + 1;
    // The book column's bare title, which a shared title's note follows.
    static constexpr int bookTitleRole = Qt::UserRole + 2;
    static constexpr int snippetRadius = 11;

    // One rendered row: the excerpt with the ranges to mark, the chapter and
    // the page label.
    struct RowData {
        QString text;
        QList<Arabic::Range> ranges;
        QString chapter;
        QString label;
    };

    ResultsModel(std::shared_ptr<Library> lib, QList<SearchQuery::Term> terms, QObject* parent = nullptr);

    const QList<SearchHit>& all() const { return all_; }
    const QList<int>& shown() const { return shown_; }
    // Title and note hits among the shown rows; page hits among all.
    int shownTitles() const { return titles_; }
    int shownNotes() const { return notes_; }
    std::int64_t pageHits() const { return pageHits_; }
    const SearchHit& hitAt(int row) const { return all_[shown_[row]]; }

    // Appends hits; those the filter accepts become new rows at the end.
    void append(const QList<SearchHit>& hits, ResultFilter& filter);
    // Recomputes the shown rows from every hit.
    void refilter(ResultFilter& filter);

    // The rendered row of table row `row`, from the cache when present.
    RowData rowData(int row);
    bool isCached(int index) const { return cache_.contains(index); }
    // Drops the rendered rows, whose digits followed the preference of their
    // time, and has the views ask again.
    void clearRendered();
    // Marks other terms in the rows rendered from now on.
    void setTerms(const QList<SearchQuery::Term>& terms);
    // Where the highlight terms match in a text: one list per term, joined
    // as found (neither sorted nor merged).
    QList<Arabic::Range> hitRanges(const QString& text) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void count(const SearchHit& hit, int sign);
    // Gives the hit's book its title in this list; true when another book
    // of the list shares the title, whose shown title then changed too.
    bool labelBook(std::int64_t book);

    std::shared_ptr<Library> lib_;
    std::shared_ptr<const Catalog> catalog_;
    QList<SearchQuery::Term> terms_;
    QList<SearchHit> all_;
    QList<int> shown_;
    QHash<int, RowData> cache_;
    // The title each book of the hits shows, and the books of each title.
    QHash<std::int64_t, QString> bookTitles_;
    QHash<QString, QList<std::int64_t>> titleBooks_;
    int titles_ = 0;
    int notes_ = 0;
    std::int64_t pageHits_ = 0;
};

} // namespace quorvel

Q_DECLARE_METATYPE(quorvel::ResultsModel::RowData)
