#include "assistant/Passage.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"

namespace quorvel {

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
