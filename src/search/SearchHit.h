#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <optional>

namespace quorvel {

// One result of a search: a page, a table-of-contents title or a user note.
// The engine fills kind, ids, sequence and (for notes) the snippet; the
// windows that list hits fill chapter and pageLabel themselves.
struct SearchHit {
    enum class Kind { page, title, note };

    Kind kind = Kind::page;
    std::int64_t pageId = 0;  // 0 for title and note hits
    std::int64_t bookId = 0;
    std::int64_t seq = 0;     // where the reader opens
    std::optional<QString> snippet;
    std::optional<QString> chapter;
    std::optional<QString> pageLabel;
    double score = 0;         // similarity of a meaning-based hit, else 0

    SearchHit() = default;
    // A hit of ids alone, as a run makes hundreds of thousands of them: no
    // optional texts are built, moved and destroyed to leave them empty.
    SearchHit(Kind kind, std::int64_t pageId, std::int64_t bookId, std::int64_t seq)
        : kind(kind), pageId(pageId), bookId(bookId), seq(seq)
    {
    }
    SearchHit(Kind kind, std::int64_t pageId, std::int64_t bookId, std::int64_t seq,
              std::optional<QString> snippet,
              std::optional<QString> chapter = std::nullopt,
              std::optional<QString> pageLabel = std::nullopt, double score = 0)
        : kind(kind), pageId(pageId), bookId(bookId), seq(seq), snippet(std::move(snippet)),
          chapter(std::move(chapter)), pageLabel(std::move(pageLabel)), score(score)
    {
    }

    bool operator==(const SearchHit&) const = default;
};

} // namespace quorvel

// A hit holds nothing that points into itself, so lists of hits (half a
// million in a long run) grow by moving their memory rather than copying
// each hit.
Q_DECLARE_TYPEINFO(quorvel::SearchHit, Q_RELOCATABLE_TYPE);
