#pragma once

// What the advanced search window's book picker lists, without any widget:
// the rows of each side page built from the library, the book order, the
// text filter and the state of a group's check box. The normal form of every
// book's title and author is made once per catalogue, so typing in the
// filter only tests substrings.

#include "ui/search/PickNode.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

namespace quorvel {

class Library;
struct Catalog;

class BookPicker {
public:
    // The side pages, in the window's order; `imported` has no rows.
    enum class Page { books, categories, authors, period, favorites, recent, imported, scopes, logs };

    static constexpr int recentLimit = 60;
    static constexpr int historyRows = 200;
    static constexpr int openRootsAtMost = 3;
    static constexpr std::int64_t noAuthor = -1;
    static constexpr int unknownCentury = 99;
    static constexpr int beforeHijra = 0;
    static constexpr std::int64_t lastKnownYear = 2000;

    explicit BookPicker(std::shared_ptr<Library> lib);

    // Takes up the library's catalogue as it is now (at start and after a
    // change of the library).
    void catalogueChanged();

    // The rows of a page under a filter text.
    QList<PickNodePtr> roots(Page page, const QString& filter) const;
    // Whether the roots of a page open when shown.
    static bool opensRoots(Page page, qsizetype rootCount, const QString& filter);

    // The ids of the catalogue's books among `ids`, in the current order:
    // by title (canonically composed, by code point) when sortAlpha, else by
    // the catalogue's display order. Stable; unknown ids dropped.
    QList<std::int64_t> sorted(const QList<std::int64_t>& ids) const;
    bool sortAlpha = false;

    // Whether a book passes the filter: every space-separated piece of the
    // filter's normal form occurs in the normal form of title and author.
    bool matchesFilter(std::int64_t book, const QString& filter) const;

    // Off, on or partly on, by how many of the node's book ids (each
    // occurrence counted) are checked; off for a node without books.
    static Qt::CheckState groupState(const PickNode& node, const QSet<std::int64_t>& checked);
    // Checks every book of the node, or unchecks them all when every one
    // already is; nothing for a node without books.
    static void toggle(const PickNode& node, QSet<std::int64_t>& checked);

    // The century of a death year for the period page, and its label.
    static int century(std::optional<std::int64_t> deathYear);
    static QString centuryLabel(int century);
    // A history entry's short date, "d MMM، HH:mm" in the digits preferred.
    static QString dateStr(std::int64_t ts);

    // The texts the rows show; a title the catalogue shares between books
    // carries what tells each apart.
    QString bookTitle(std::int64_t book) const;
    QString authorName(std::int64_t book) const;
    const Catalog& catalog() const { return *catalog_; }

private:
    // A group of books whose members and order do not depend on the filter.
    struct Grouped {
        QString label;
        QList<std::int64_t> ids; // sorted
    };
    // The books, authors and centuries pages without filter, made once per
    // catalogue and book order.
    struct Layout {
        bool alpha = false;
        QList<std::int64_t> books;
        QList<Grouped> authors;
        QList<Grouped> centuries;
    };
    const Layout& layout() const;
    QList<PickNodePtr> bookNodes(const QList<std::int64_t>& ids, const QStringList& pieces) const;
    QList<PickNodePtr> filtered(const QList<std::int64_t>& sortedIds, const QStringList& pieces) const;
    bool passes(std::int64_t book, const QStringList& pieces) const;
    static QStringList pieces(const QString& filter);

    std::shared_ptr<Library> lib_;
    std::shared_ptr<const Catalog> catalog_;
    QHash<std::int64_t, QString> searchText_; // normal form of title and author, per book
    QHash<std::int64_t, std::u32string> sortTitle_; // composed title scalars, per book
    QHash<std::int64_t, QString> titleLabel_;       // the title shown, per book
    mutable std::optional<Layout> layout_;
};

} // namespace quorvel
