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

// A first root letter that form VIII's ت has swallowed (اتّقى, اتّبع).
inline constexpr char32_t kMergedT = U'\u0001';

// A letter a root may have where the word writes another, and what reading
// it so costs.
struct Option
{
    char32_t letter;
    double cost;
};

// What a root letter written `c` at place `i` of a root of `n` letters can
// stand for, with the pattern's letters `before` and `after` it (A for the
// alef of أفعل, إ where that alef is written so); `augmented` for a pattern
// longer than its root.
std::vector<Option> optionsOf(char32_t c, std::size_t i, std::size_t n, char32_t before, char32_t after,
                              bool augmented);

} // namespace quorvel::Morph
