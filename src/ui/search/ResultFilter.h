#pragma once

// What decides which hits of a search tab are shown, without any widget: the
// facts of each hit's book (category key, Hijri century), the category and
// century pop-up items built from the hits, the test of one hit against the
// chosen filters and the search-within-results keys, and the status line.

#include "search/SearchHit.h"
#include "search/SearchQuery.h"

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

class ResultFilter {
public:
    // The run's hit limit: a run that found this many page hits was cut.
    static constexpr int runLimit = 500000;
    static constexpr std::int64_t noCategory = -1;
    static constexpr int beforeHijra = 0;
    static constexpr int unknownCentury = 99;

    // A pop-up item: its title, the keys it filters on (several when
    // categories share a title), and how many hits it stands for.
    struct Item {
        QString title;
        QList<std::int64_t> keys;
        std::int64_t count = 0;
    };

    struct Facts {
        bool known = false; // the book is in the catalogue
        std::int64_t category = noCategory;
        int century = unknownCentury;
    };

    explicit ResultFilter(std::shared_ptr<Library> lib);

    // The century of a death year: unknown for none or 0, before the Hijra
    // for a negative year, else years 1-100 are the first century.
    static int century(std::optional<std::int64_t> deathYear);
    static QString centuryTitle(int century);
    // The page key of a hit: the book in the high 32 bits, the sequence below.
    static std::int64_t key(std::int64_t book, std::int64_t seq);

    // The book's facts, read once per book from the catalogue snapshot taken
    // at construction.
    const Facts& facts(std::int64_t book);

    // Category items, most hits first; categories of one title (two of one
    // name, or "no category" beside an unknown id) make one item whose count
    // is their sum and which filters on all their keys.
    QList<Item> categoryItems(const QList<SearchHit>& all);
    // Century items in century order; the unknown century comes last.
    QList<Item> centuryItems(const QList<SearchHit>& all);

    // The chosen filters; none means every hit.
    std::optional<QSet<std::int64_t>> categories;
    std::optional<int> centuryChoice;
    std::optional<QSet<std::int64_t>> refineKeys;

    // Whether the hit is shown: its book is known and passes every filter.
    bool accepts(const SearchHit& hit);

    // The status line of a tab showing `shown` rows (of which `titles` title
    // hits and `notes` note hits) out of hits holding `pageHits` page hits.
    static QString statusText(int shown, int titles, int notes, std::int64_t pageHits, bool done,
                              const QStringList& broad);

    // The patterns the engine found too broad (in the normal form it reads
    // them in) as the query writes them: «*ة», not «*ه».
    static QStringList asTyped(const SearchQuery& q, const QStringList& broad);

    // What a tab whose run found nothing says: that nothing was found and,
    // where the query shows it, why (a request too long, a wildcard with no
    // letters, a word too short to expand, a scope holding no book of `lib`).
    static QString emptyText(const Library& lib, const SearchQuery& q, const QStringList& broad);

private:
    std::shared_ptr<Library> lib_;
    std::shared_ptr<const Catalog> catalog_;
    QHash<std::int64_t, Facts> facts_;
    // The entry of the book looked up last; an insert may move the others.
    const Facts* last_ = nullptr;
    std::int64_t lastBook_ = 0;
};

} // namespace quorvel
