#pragma once

// One numbered excerpt of a book page, with what is needed to cite it. The
// number `n` is the one prompts, model quotations ("[n]") and extracted
// sentences refer to.

#include <QString>

#include <optional>

namespace quorvel {

class Library;
struct Book;
struct Page;

struct Passage {
    int n = 0;                      // display number, 1-based
    long long pageId = 0;
    long long bookId = 0;
    long long seq = 0;              // the page's running position in its book
    std::optional<QString> vol;     // volume label
    std::optional<long long> pageNum; // printed page number
    QString bookTitle;
    QString author;                 // display name; empty when unknown
    std::optional<QString> edition;
    QString text;                   // the excerpt itself
    std::optional<long long> death; // author's death year (Hijri), else the book's date
    QString verses;                 // the Quran's verses quoted: "البقرة: ٢٥٥", "البقرة: ٢٥٥–٢٥٧"; else empty

    // "title · author · جvol · صpage": the author part only when known, the
    // volume part whenever a label is present (even an empty one), the page
    // number (or the sequence when there is none) always; digits follow the
    // user's preference. Verses of the Quran are cited "title · verses".
    QString citation() const;

    // The excerpt `text` of `page` in `book`, numbered `n`, with the book's
    // citation details as the library gives them. The Quran's verse lines
    // read as verses (QuranLines::shown), never as their record.
    static Passage of(const Library& lib, const Book& book, const Page& page, const QString& text, int n = 0);
};

} // namespace quorvel
