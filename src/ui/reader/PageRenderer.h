#pragma once

// The book page as the reader shows it: main text, a short rule and the
// footnotes, headings of the table of contents in red, verse separators and
// verse numbers in gold, a centred page label, the reader's own note on the
// page, and every hit of the search or find text marked, the current one set
// apart. A plain class, so that a page can be rendered and checked without a
// window; the reader view shows what it builds.
//
// The reading preferences (size, spacing, night reading, digits) are read on
// every call, so a changed preference shows at the next render.

#include "core/Note.h"
#include "core/Page.h"
#include "core/TocNode.h"
#include "search/SearchQuery.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

class QTextDocument;

namespace quorvel {

class PageRenderer {
public:
    // What a run of the page is, as TextProperty::pageRole.
    enum class Role { main = 1, heading, verseSeparator, verseNumber, footnoteRule, footnote, pageLabel, userNote };

    // A hit index meaning "the last hit of the page", set when the page is
    // reached by stepping backwards through hits.
    static constexpr int lastHit = std::numeric_limits<int>::max();

    static constexpr char noPagesText[] = "لا توجد صفحات في هذا الكتاب.";
    static constexpr char emptyPageText[] = "(صفحة فارغة)";

    // The reader's state a page is rendered from.
    struct State {
        std::optional<Page> page;          // none: the book has no page here
        std::int64_t seq = 0;
        bool tashkeel = true;              // diacritics shown
        QList<TocNodePtr> roots;           // the book's table of contents
        QList<SearchQuery::Term> highlight; // terms in normal form with their match
        int hitIndex = 0;                  // or lastHit
        QString findText;                  // the find-in-page field
        std::optional<Note> note;          // the reader's note on this page
    };

    struct Result {
        std::unique_ptr<QTextDocument> document;
        QList<Arabic::Range> hitRanges; // ascending, merged, in document positions
        int hitIndex = 0;               // a valid index of hitRanges, or 0
    };

    static Result render(const State& state);

    // The normal forms (rasm-folded) of the titles of every entry of the
    // tree that points at `seq`, depth first, each entry before its
    // children; duplicates kept.
    static QStringList tocTitles(const QList<TocNodePtr>& roots, std::int64_t seq);

    // The hit ranges of a text: those of the find text (its normal form,
    // matched anywhere) when it is not blank, else those of every highlight
    // term in turn; sorted by start (equal starts keep their order) and
    // merged where they overlap or touch.
    static QList<Arabic::Range> hitRanges(const QString& text, const QList<SearchQuery::Term>& highlight,
                                          const QString& findText);
    // Ranges sorted by start (stable) and merged in one pass: a range that
    // starts at or before the end of the one kept last joins it.
    static QList<Arabic::Range> merge(QList<Arabic::Range> ranges);

    // A page's text with the Quran book's "sura|verse|text" lines written as
    // the Quran tab shows a verse: its text, then its numbered mark. Other
    // lines stay as they are.
    static QString versesShown(QString text);
};

} // namespace quorvel
