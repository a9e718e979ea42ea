#pragma once

// The book picker's actions that need no window: the books whose authors
// died in a span of years, the period dialog's reading of its two fields,
// checking every shown book or inverting the check, the search a saved
// result set reopens, and the history menu's entries. The advanced search
// window shows the dialogs and menus and calls these.

#include "search/SearchHit.h"
#include "search/SearchQuery.h"
#include "ui/search/PickNode.h"

#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

class Library;

namespace PickerActions {

inline constexpr std::int64_t firstYear = 1;
inline constexpr std::int64_t lastYear = 9999;
// Death years the period takes: from 2 up to, not including, 2000.
inline constexpr std::int64_t earliestDeath = 2;
inline constexpr std::int64_t deathsBefore = 2000;
inline constexpr int historyMenuEntries = 25;

// The ids of the catalogue's books, in catalogue order, whose death year d
// (the author's, else the book's date) has 2 <= d < 2000 and from <= d <= to.
QList<std::int64_t> books(const Library& lib, std::int64_t from, std::int64_t to);

// One field of the period dialog read as a year: spaces and tabs trimmed,
// Arabic-Indic digits made Latin, an optional sign; nothing for an empty or
// unreadable text.
std::optional<std::int64_t> year(const QString& field);

// What the period dialog's answer does.
struct Period {
    std::int64_t from = firstYear;
    std::int64_t to = lastYear;
    // The alert to show instead of checking books; empty when there is none.
    QString alert;
    QList<std::int64_t> ids;
    // Appended to the scope label once the books are checked.
    QString labelSuffix;
};
// Reads the two fields and finds the span's books. The caller stores the
// raw texts under "yearFrom" and "yearTo" before acting on the answer.
Period period(const Library& lib, const QString& fromField, const QString& toField);

// Checks the books of every root (the page as built, filter and collapsed
// groups included).
void checkAll(const QList<PickNodePtr>& roots, QSet<std::int64_t>& checked);
// Flips the books of every root; books of other pages keep their state.
void invert(const QList<PickNodePtr>& roots, QSet<std::int64_t>& checked);

// The search a saved result set opens again: its query (its name as the one
// phrase when the query is broken or asks for nothing) and its pages that
// still exist, as page hits in order.
struct Reopened {
    SearchQuery query;
    QList<SearchHit> hits;
};
Reopened reopen(const Library& lib, const QString& name, const QString& json, const QList<std::int64_t>& pageIds);

// The history menu: the decodable ones among the newest 25 entries, each
// titled by its query with its count.
struct HistoryItem {
    QString title;
    SearchQuery query;
};
QList<HistoryItem> historyItems(const Library& lib);

} // namespace PickerActions
} // namespace quorvel
