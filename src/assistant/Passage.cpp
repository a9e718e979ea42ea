#include "assistant/Passage.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Page.h"
#include "core/QuranLines.h"

namespace quorvel {

Passage Passage::of(const Library& lib, const Book& book, const Page& page, const QString& text, int n)
{
    return Passage{
        .n = n,
        .pageId = page.id,
        .bookId = book.id,
        .seq = page.seq,
        .vol = page.vol,
        .pageNum = page.num,
        .bookTitle = book.title,
        .author = lib.authorName(book),
        .edition = book.edition,
        .text = QuranLines::shown(text),
        .death = lib.deathYear(book),
    };
}

QString Passage::citation() const
{
    const QString separator = QStringLiteral(" · ");
    QString out = bookTitle;
    if (!author.isEmpty())
        out += separator + author;
    if (vol)
        out += separator + u'ج' + Arabic::digits(*vol);
    // The volume's number stands beside the next separator.
    out += (vol && !vol->isEmpty() ? QString::fromUtf8(CountedNoun::separator) : separator) + u'ص' + Arabic::num(pageNum.value_or(seq));
    return out;
}

} // namespace quorvel
