#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace quorvel {

struct TocNode;
using TocNodePtr = std::shared_ptr<TocNode>;

// A table-of-contents entry. A parent owns its children and a child refers
// back weakly, so releasing the roots releases the whole tree. Trees handed
// out by Library are shared by every caller and must not be modified.
struct TocNode {
    TocNode(std::int64_t id, QString title, std::int64_t seq, std::int64_t level)
        : id(id), title(std::move(title)), seq(seq), level(level) {}

    std::int64_t id = 0;
    QString title;
    std::int64_t seq = 0;   // the page sequence the entry points to
    std::int64_t level = 1; // at least 1
    std::weak_ptr<TocNode> parent;
    QList<TocNodePtr> children;
};

} // namespace quorvel
