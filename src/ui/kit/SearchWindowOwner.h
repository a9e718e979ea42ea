#pragma once

// What the advanced search window asks of the main window that made it: show
// a book, open a results tab, come to the front. The main window implements
// it; the search window holds it weakly, through the QObject it is, and skips
// these calls once that object is gone.

#include "search/SearchHit.h"
#include "search/SearchQuery.h"

#include <QList>

#include <cstdint>
#include <optional>

namespace quorvel {

class SearchWindowOwner {
public:
    virtual ~SearchWindowOwner() = default;

    virtual void openBook(std::int64_t bookId, std::optional<std::int64_t> seq,
                          const QList<SearchQuery::Term>& highlight, const std::optional<SearchQuery>& query) = 0;
    virtual void runSearch(const SearchQuery& query, const std::optional<QList<SearchHit>>& preset,
                           std::optional<int> restoreRow) = 0;
    // Makes the owner's window the active one, in front.
    virtual void bringToFront() = 0;
};

} // namespace quorvel
