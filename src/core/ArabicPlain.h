#pragma once

// The Quran's Uthmani script written in the plain (imla'i) spelling the
// library's books use when they quote it: «يَـٰٓأَيُّهَا ٱلَّذِينَ ءَامَنُوا۟» becomes
// «يَا أَيُّهَا الَّذِينَ آمَنُوا». The superscript alef is written out as a letter
// except in the words whose plain spelling leaves it unwritten too (هٰذا، ذٰلك،
// إلٰه، الرحمٰن …); the hamza written as a mark on a tatweel takes its seat;
// the small waw and yeh of the recitation go, a small yeh that is a letter of
// the word is written; pause marks and the other recitation signs go. A text
// already in the plain spelling comes back unchanged but for those signs.
// A text rule beside the normal form: the Quran view shows it and matches
// verses by its normal form. Pure functions, callable from any thread.

#include <QList>
#include <QString>
#include <QStringView>

#include <utility>

namespace quorvel::Arabic {

// The plain spelling of a verse, its vowel marks kept.
QString plainSpelling(const QString& uthmani);

// Whether `text` may hold the mushaf's spelling: the wasla, a superscript
// alef, a Quranic annotation sign, a hamza on a tatweel or «ءا». A quick
// test; what is read in the plain spelling is decided line by line.
bool mushafSpelling(QStringView text);

// The lines of `text` whose plain spelling differs from them in the normal
// form (the mushaf's spelling: a book's own lines never do, even vowelled
// with هٰذا or ذٰلك), in the plain spelling, each on a line of its own;
// empty when there are none.
QString plainLines(const QString& text);

// Whether plainLines(text) holds anything, found at the first such line
// without spelling the others.
bool hasPlainLines(const QString& text);

// What a search reads of a text: the text followed, on lines of their own,
// by the plain spelling of its lines in the mushaf's spelling, so that a
// verse is found as readers type it as well as written; any other text
// unchanged. The page index, the page check and the stored normal form read
// pages through this one rule (a page's sections each on its own:
// Library::searchedContent).
QString searchedText(const QString& text);

// Where the words of the lines plainLines() reads stand, for matching them
// as their plain spelling: `text` holds the plain spelling of those
// words, and `source` gives, for each of its units, the stored range of the
// word it was written from. Empty when `origin` has no such word.
struct PlainWords {
    QString text;
    QList<std::pair<qsizetype, qsizetype>> source; // per unit of text: [start, end) in origin
};
PlainWords plainWords(const QString& origin);

} // namespace quorvel::Arabic
