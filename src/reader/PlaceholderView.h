#pragma once

#include "app/kit/TabContent.h"
#include "search/SearchQuery.h"

#include <cstdint>

class QTextBrowser;

namespace quorvel {

class Library;

// Stand-in content of a book or search tab until the reader and the result
// list exist: the book's page text, or the words searched for.
class PlaceholderView : public TabContent {
    Q_OBJECT
public:
    enum class Content { Book, Search };

    // The session kinds of the two tabs.
    static constexpr const char* bookKind = "book";
    static constexpr const char* searchKind = "search";

    // An empty view of one content, to be filled by restore.
    PlaceholderView(Library& lib, Content content, QWidget* parent = nullptr);
    // A book at a page (the book's first page when seq is not positive).
    PlaceholderView(Library& lib, std::int64_t bookId, std::int64_t seq, QWidget* parent = nullptr);
    // A search.
    PlaceholderView(Library& lib, const SearchQuery& query, QWidget* parent = nullptr);

    Content content() const { return content_; }
    std::int64_t bookId() const { return bookId_; }
    std::int64_t seq() const { return seq_; }
    const SearchQuery& query() const { return query_; }
    // Shows another page of the book.
    void go(std::int64_t seq);

    QString title() const override { return title_; }
    QString symbol() const override;
    Json::Value sessionJSON() const override;
    // A book entry is taken up when its book is in the library; a search
    // entry when its query decodes.
    bool restore(const Json::Value& entry) override;

private:
    void build();
    void showBook(std::int64_t bookId, std::int64_t seq);
    void showQuery(const SearchQuery& query);

    Library& lib_;
    Content content_;
    std::int64_t bookId_ = 0;
    std::int64_t seq_ = 0;
    SearchQuery query_;
    QString title_;
    QTextBrowser* text_ = nullptr;
};

} // namespace quorvel
