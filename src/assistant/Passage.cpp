#include "assistant/Passage.h"

#include "core/Arabic.h"

namespace quorvel {

QString Passage::citation() const
{
    const QString separator = QStringLiteral(" · ");
    QString out = bookTitle;
    if (!author.isEmpty())
        out += separator + author;
    if (vol)
        out += separator + u'ج' + Arabic::digits(*vol);
    out += separator + u'ص' + Arabic::num(pageNum.value_or(seq));
    return out;
}

} // namespace quorvel
