#pragma once

// Light morphological analysis of one Arabic word, without a dictionary: the
// word is normalised, the name of God is recognised, one definite-article
// form or one proclitic is taken off the front and one suffix off the end, a
// light root is guessed by dropping augment letters, and the affixes and the
// part of speech are glossed in Arabic.
//
// Everything works on lists of code points (as Py::scalars gives them), and
// every length is a count of code points. The tables are built once and only
// read afterwards, so the functions are safe on any thread. Nothing here
// fails: any input yields a result.

#include <QList>
#include <QString>

#include <optional>

#include <string>
#include <utility>

namespace quorvel {

struct MorphResult
{
    // One stripped affix as it stands in the normalised word, with its gloss.
    struct Part
    {
        QString t;
        QString g;
        bool operator==(const Part&) const = default;
    };

    QString word;        // exactly as the caller passed it
    QString norm;        // marks and hamza seats folded away
    QList<Part> prefix;  // empty, or the one front affix
    QString stem;
    QList<Part> suffix;  // empty, or the one end affix
    QString root;
    QString pos;         // the part-of-speech guess

    bool operator==(const MorphResult&) const = default;
};

namespace Morph {

// An affix and what is left of the word, both as code points. Nothing
// stripped: an empty affix and the unchanged input.
using Split = std::pair<std::u32string, std::u32string>;

// The first definite-article form (وبال, فبال, وكال, بال, كال, فال, وال, لل,
// ال, tried in that order) that begins `w` and leaves at least 3 code points.
Split stripDef(const std::u32string& w);

// The first proclitic (است, وسي, فسي, سي, سن, ست, و, ف, ب, ك, ل) that begins
// `w` and leaves at least 3 code points, or at least 4 after the ambiguous
// one-letter ب, ك and ل.
Split stripClitic(const std::u32string& w);

// The first suffix of the fixed list (longest forms first) that ends `w` and
// leaves at least 3 code points; the suffix comes first in the pair.
Split stripSuffix(const std::u32string& w);

// The stem less augment letters, one per pass (a leading augment letter,
// else the first weak letter, else the last augment letter), until 3 remain
// or none can go. Stems shorter than 4 are their own root.
std::u32string lightRoot(const std::u32string& stem);

// Every Arabic mark (harakat, those above and below, the dagger alef, the
// Quran's small signs) and the tatweel: nothing of a word's letters.
bool notALetter(char32_t c);

// The hamza written as a mark above or below (the Quran's ـَٔ, a seat and
// ٔ in decomposed text) as the letter it stands for: on a tatweel a hamza
// of its own, on ا, و, ي or ى the seat become one; elsewhere left as is.
std::u32string hamzaMarksAsLetters(std::u32string w);

// How a word reads as a root set in a pattern: its root as the classical
// dictionaries file it, and whether the reading is a verb. Every way of
// taking its front and end affixes off is tried with the patterns of nouns
// and of the verb's forms, weak, hamza and doubled letters restored; the
// cheapest reading wins, and a root the bundled dictionary lists beats one
// it does not, and of two listed roots the rules find equally likely, the
// one the sample texts use more, or whose weak letter their present tense
// shows. A word the dictionary files under a root by name (ماء under موه),
// or a noun of two letters whose third it restores (أبيه under أبو), takes
// that root. Nothing when no pattern fits.
struct Reading
{
    QString root; // every hamza written ا
    bool verb = false;
    bool present = false; // a present-tense verb
    QString front;        // the affixes the reading took off, as the
    QString back;         // normalised word writes them
};
std::optional<Reading> reading(const QString& word);

// The whole analysis of `word`. The root and the part of speech come from
// `reading` where a pattern fits, the part of speech otherwise from the
// word's first and last letters and its affixes; a word no pattern fits
// keeps its light root.
MorphResult analyze(const QString& word);

} // namespace Morph
} // namespace quorvel
