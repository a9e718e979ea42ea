#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

// A catalogue book. Every field but `order` is fixed once loaded; `order` is
// the book's position in the catalogue's display order.
struct Book {
    std::int64_t id = 0;
    QString title;
    std::optional<std::int64_t> authorId;
    std::optional<std::int64_t> categoryId;
    std::optional<std::int64_t> bookDate; // Hijri year used for chronological order
    std::optional<QString> edition;
    std::optional<QString> publisher;
    std::optional<QString> source; // column source_uri
    std::optional<QString> license;
    std::int64_t order = 0;
};

} // namespace quorvel
