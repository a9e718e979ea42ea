#include "assistant/Passage.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Page.h"
#include "core/QuranLines.h"

namespace quorvel {

namespace {

// The sura and verses of the Quran's verse lines in `text`: the first line's
// sura with its verse, and the last verse when more follow in that sura.
QString versesOf(const QString& text)
{
    std::optional<QuranLines::VerseLine> first;
    std::optional<QuranLines::VerseLine> last;
    for (const QString& line : text.split(u'\n'))
        if (const auto verse = QuranLines::verseLine(line); verse && verse->sura >= 1 && verse->sura <= Library::suras().size()) {
            if (!first)
                first = verse;
            if (verse->sura == first->sura)
                last = verse;
        }
    if (!first)
        return {};
    QString out = Library::suras()[first->sura - 1] + QStringLiteral(": ") + Arabic::num(first->verse);
    if (last->verse != first->verse)
        out += QChar(0x2013) + Arabic::num(last->verse);
    return out;
}

} // namespace

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
        .verses = versesOf(text),
    };
}

QString Passage::citation() const
{
    const QString separator = QStringLiteral(" · ");
    if (!verses.isEmpty())
        return bookTitle + separator + verses;
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
