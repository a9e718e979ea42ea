#pragma once

// A word's letters as the reading (Morph::reading) weighs them, with the
// marks that tell its patterns apart.

#include <QString>

#include <string>
#include <vector>

namespace quorvel::Morph {

// Every hamza seat is one letter here, told apart from the plain alef.
inline constexpr char32_t kHamza = U'ء';

// What a letter is written with.
struct Marks
{
    bool shadda = false;
    char32_t vowel = 0; // fatha, damma or kasra
};

// The word's letters: marks and tatweel dropped, every hamza seat but إ one
// letter, آ a hamza and an alef, the alef of liaison a plain alef; nothing
// when anything but an Arabic letter or mark is left. `marks` gets each
// letter's shadda and short vowel.
std::u32string lettersOf(const QString& word, bool& tanwin, std::vector<Marks>& marks);

} // namespace quorvel::Morph
