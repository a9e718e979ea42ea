#pragma once

#include "search/SearchQuery.h"

#include <QWidget>

#include <cstdint>

class QTextBrowser;

namespace quorvel {

class Library;

// Stand-in content of a book or search tab until the reader and the result
// list exist: the book's page text, or the words searched for.
class PlaceholderView : public QWidget {
    Q_OBJECT
public:
    // A book at a page (the book's first page when seq is not positive).
    PlaceholderView(Library& lib, std::int64_t bookId, std::int64_t seq, QWidget* parent = nullptr);
    // A search.
    explicit PlaceholderView(const SearchQuery& query, QWidget* parent = nullptr);

    std::int64_t bookId() const { return bookId_; }
    std::int64_t seq() const { return seq_; }
    const SearchQuery& query() const { return query_; }
    // Shows another page of the book.
    void go(Library& lib, std::int64_t seq);

private:
    void build();

    std::int64_t bookId_ = 0;
    std::int64_t seq_ = 0;
    SearchQuery query_;
    QTextBrowser* text_ = nullptr;
};

} // namespace quorvel
