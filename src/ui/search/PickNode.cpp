#include "ui/search/PickNode.h"

namespace quorvel {

PickNodePtr PickNode::book(std::int64_t id)
{
    auto node = std::make_shared<PickNode>();
    node->kind = Kind::book;
    node->id = id;
    return node;
}

PickNodePtr PickNode::group(const QString& label, const QString& symbol, QList<PickNodePtr> children,
                            const CountedNoun* entries)
{
    auto node = std::make_shared<PickNode>();
    node->kind = Kind::group;
    node->label = label;
    node->symbol = symbol;
    node->entries = entries;
    node->adopt(std::move(children));
    return node;
}

PickNodePtr PickNode::history(const QString& json, std::int64_t count, std::int64_t ts)
{
    auto node = std::make_shared<PickNode>();
    node->kind = Kind::history;
    node->json = json;
    node->count = count;
    node->ts = ts;
    return node;
}

PickNodePtr PickNode::saved(const QString& name, const QString& json, QList<std::int64_t> pageIds)
{
    auto node = std::make_shared<PickNode>();
    node->kind = Kind::saved;
    node->label = name;
    node->json = json;
    node->pageIds = std::move(pageIds);
    return node;
}

PickNodePtr PickNode::scope(std::int64_t id, const QString& name, QList<PickNodePtr> children)
{
    auto node = std::make_shared<PickNode>();
    node->kind = Kind::scope;
    node->id = id;
    node->label = name;
    node->adopt(std::move(children));
    return node;
}

void PickNode::adopt(QList<PickNodePtr> nodes)
{
    children = std::move(nodes);
    for (const PickNodePtr& child : children)
        child->parent = this;
}

QList<std::int64_t> PickNode::bookIds() const
{
    if (kind == Kind::book)
        return {id};
    QList<std::int64_t> out;
    for (const PickNodePtr& child : children)
        out += child->bookIds();
    return out;
}

bool PickNode::isExpandable() const
{
    return (kind == Kind::group || kind == Kind::scope) && !children.isEmpty();
}

} // namespace quorvel
