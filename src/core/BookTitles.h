#pragma once

// The titles a list of books shows. Two books of one list may share a title
// (two editions of one work, two works of one name); each then shows after
// its title what tells it apart: its author, or, where another book of that
// title has the same author, the edition note of the catalogue. A list of
// distinct titles shows them unchanged. Plain functions of their arguments,
// callable from any thread.

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>

namespace quorvel {

struct Book;
struct Catalog;

namespace BookTitles {

// What a list knows of one of its books.
struct Entry {
    QString title;
    QString author;  // display name; empty when unknown
    QString edition; // the catalogue's edition note; empty when none
};

// Between a title and what tells it apart.
inline constexpr char16_t separator[] = u" — ";

// For each entry, in order, what tells it apart from the other entries of
// the same title: its author when no other has that author, else its edition
// note; empty when its title is the list's alone or nothing tells it apart.
// Entries are books, each at most once.
QList<QString> notes(const QList<Entry>& entries);
// The title, followed by the separator and the note, its digits in the
// user's family, when there is one.
QString label(const QString& title, const QString& note);
// label() of every entry with its note.
QList<QString> labels(const QList<Entry>& entries);
// The label of each catalogue book of `books` (ids unknown to the
// catalogue are left out; repeated ids count once) within that list.
QHash<std::int64_t, QString> labels(const Catalog& catalog, const QList<std::int64_t>& books);
// The label of one catalogue book among every catalogue book of its title:
// what a tab, a citation or a note header names it by. Empty for an id the
// catalogue does not know.
QString label(const Catalog& catalog, std::int64_t book);
// label(catalog, book) of each catalogue book of `books` (unknown ids left
// out): the names of a list whose books are told apart as their tabs are,
// whichever of a work's editions the list holds.
QHash<std::int64_t, QString> catalogLabels(const Catalog& catalog, const QList<std::int64_t>& books);

// Two catalogue books are editions of one work when they have the same
// author and the same title, diacritics and letter forms aside.
bool sameWork(const Book& a, const Book& b);
// The catalogue's other editions of the book's work, in catalogue order.
QList<std::int64_t> otherEditions(const Catalog& catalog, std::int64_t book);
// The work of a book, named by its first edition in catalogue order (the
// book itself when it has no other edition or is unknown).
std::int64_t work(const Catalog& catalog, std::int64_t book);

} // namespace BookTitles

} // namespace quorvel
