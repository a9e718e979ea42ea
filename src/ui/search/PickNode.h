#pragma once

// One row of the advanced search window's book picker: a book, a group of
// books, a search-history entry, a saved result set or a saved scope. Nodes
// are shared by reference (a check box's action keeps its node even after
// the tree was rebuilt) and never changed once the tree is built.

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace quorvel {

class CountedNoun;
struct PickNode;
using PickNodePtr = std::shared_ptr<PickNode>;

struct PickNode {
    enum class Kind { book, group, history, saved, scope };

    Kind kind = Kind::group;
    std::int64_t id = 0;          // book: its id; scope: the scope's id
    QString label;                // group: its label; saved, scope: the name
    QString symbol;               // group: its symbol's name
    QString json;                 // history, saved: the query's JSON text
    std::int64_t count = 0;       // history: its hit count
    std::int64_t ts = 0;          // history: its time, Unix seconds
    QList<std::int64_t> pageIds;  // saved: its page ids
    QList<PickNodePtr> children;
    // group: the noun its rows are counted by; the books below it without one
    const CountedNoun* entries = nullptr;
    PickNode* parent = nullptr;   // set when the node is made a child

    static PickNodePtr book(std::int64_t id);
    static PickNodePtr group(const QString& label, const QString& symbol, QList<PickNodePtr> children,
                             const CountedNoun* entries = nullptr);
    static PickNodePtr history(const QString& json, std::int64_t count, std::int64_t ts);
    static PickNodePtr saved(const QString& name, const QString& json, QList<std::int64_t> pageIds);
    static PickNodePtr scope(std::int64_t id, const QString& name, QList<PickNodePtr> children);

    // A book node's own id; for any other node its children's, in order,
    // depth first, duplicates kept.
    QList<std::int64_t> bookIds() const;
    // Group and scope rows with children open; the others never do.
    bool isExpandable() const;

private:
    void adopt(QList<PickNodePtr> nodes);
};

} // namespace quorvel
