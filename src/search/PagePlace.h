#pragma once

// Where a found page stands: its ids, its place in its book as a reader
// cites it, and the book's title and author. The searches' hits carry it
// beside what each search adds. Plain data: any thread.

#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

struct PagePlace
{
    std::int64_t pageId = 0;
    std::int64_t bookId = 0;
    std::int64_t seq = 0;
    std::optional<QString> vol;
    std::optional<std::int64_t> pageNum;
    QString bookTitle;
    std::optional<QString> author; // absent when the book has no author row
};

} // namespace quorvel
