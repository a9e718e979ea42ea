#include "scholar/IsnadWords.h"

#include "core/PyRegex.h"

// Where a chain's reports end: the next report's number, a note's bracket,
// a chapter's heading.

namespace quorvel::Isnad::detail {

// Where the next report begins inside a piece: after the "\ 57 \" that ends
// a report, at the number of the next one just before its link word ("58
// حدثنا", "1195 - حدثنا"), or past a note's closing bracket at a line's end.
// -1 when it does not.
qsizetype reportBoundary(const QString& piece, bool beforeOpener)
{
    static const PyRegex::Regex ended = PyRegex::compile(QStringLiteral(u"\\\\\\s*[0-9\u0660-\u0669]+\\s*\\\\"));
    static const PyRegex::Regex numbered = PyRegex::compile(QStringLiteral(u"[0-9\u0660-\u0669]+[^\\p{L}\\p{N}]*$"));
    // «(1) [رواه أحمد قال حدثنا فلان]» at a line's end: the note that
    // quotes the chain closes there, its bracket opened before the chain.
    if (const qsizetype bracket = piece.indexOf(u']'); bracket >= 0 && !piece.first(bracket).contains(u'[')) {
        qsizetype k = bracket + 1;
        while (k < piece.size() && piece[k] != u'\n' && piece[k].isSpace())
            ++k;
        if (k < piece.size() && piece[k] == u'\n')
            return bracket;
    }
    // «عائشة 12 باب إخراج المشركين»: a numbered chapter line, whatever its title.
    static const PyRegex::Regex chapter = PyRegex::compile(
        QStringLiteral(u"[0-9\u0660-\u0669]+\\)?\\s*-?\\s*(?:باب|كتاب|[اأ]بواب)\\b"));
    if (piece.contains(u"\u0628\u0627\u0628") || piece.contains(u"\u0643\u062A\u0627\u0628")) // باب، كتاب
        if (const auto heading = PyRegex::firstMatch(chapter, piece))
            return heading->start;
    if (!piece.contains(u'\\') && !beforeOpener)
        return -1;
    if (const auto end = PyRegex::firstMatch(ended, piece))
        return end->start;
    if (beforeOpener)
        if (const auto number = PyRegex::firstMatch(numbered, piece))
            return number->start;
    return -1;
}

// A chapter's heading ("باب …", "كتاب …", "آخر كتاب النكاح") ends the
// reports before it: the tokens are cut where it begins. Whether one did.
bool cutAtHeading(QStringList& t)
{
    for (qsizetype k = 0; k + 1 < t.size(); ++k) {
        const QString next = fold(t[k + 1]);
        const bool titled = next.startsWith(u"\u0627\u0644") || isOneOf(next, {u"ما", u"في", u"من", u"فضل", u"ذكر"});
        const bool closing = k > 0 && fold(t[k - 1]) == u"اخر";
        if (isOneOf(fold(t[k]), {u"باب", u"كتاب", u"ابواب"}) && (titled || closing)) {
            t.resize(closing ? k - 1 : k);
            return true;
        }
    }
    return false;
}

} // namespace quorvel::Isnad::detail
