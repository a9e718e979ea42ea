#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

// One page of a book. `seq` is the page's running position inside its book,
// the key every navigation uses; `content` holds main text and footnotes
// (see Library::splitFootnotes).
struct Page {
    std::int64_t id = 0;
    std::int64_t bookId = 0;
    std::optional<QString> vol{};      // volume label; an empty label is absent
    std::optional<std::int64_t> num{}; // printed page number
    std::int64_t seq = 0;
    QString content{};
};

} // namespace quorvel
