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

#include <QString>

namespace quorvel::Arabic {

// The plain spelling of a verse, its vowel marks kept.
QString plainSpelling(const QString& uthmani);

} // namespace quorvel::Arabic
