#pragma once

// The patterns and affixes the word's reading tries (Morph::reading): the
// shapes of nouns and of the verb's forms, each also without the root letter
// a weak or doubled root drops, with what reading the word by it costs; and
// the letters that may stand before and after the stem. Built once by the
// reading's tables and only read afterwards; nothing here fails.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvel::Morph {

// What a pattern can stand for.
enum class Kind : std::uint8_t { noun, verb, either, present };

// The root letter a short pattern leaves out.
enum class Drop : std::uint8_t {
    none,
    doubled,     // the last, repeating the middle one (حجّ, يحبّ)
    hollow,      // the middle weak one (قلت, يكن)
    defective,   // the last weak one (رمت, قاض)
    assimilated, // the first و (يصف, صفة)
};

// A pattern: the digits 1 to 4 are the root letters; A is an alef that opens
// the pattern (أ or إ, or ا in a text written without hamza); T is the ت of form
// VIII after the first root letter, ط after ص ض ط ظ and د after د ذ ز; M is
// that ت with the first root letter merged into it; every other letter is
// the pattern's own.
struct Pattern
{
    std::u32string shape;
    double cost;
    Kind kind;
    Drop drop = Drop::none;
    bool needsTa = false;  // only before ة (صفة, عدة)
    bool weakLast = false; // only with ي last (دنيا, عليا)
};

struct Front
{
    std::u32string text;
    double cost;
    bool article = false;    // ال, alone or after ب, ك, ل
    bool preposition = false; // ب, ك: a noun follows
    bool future = false;     // س: a present-tense verb follows
    bool join = false;       // و or ف alone
};

struct Back
{
    std::u32string text;
    double cost;
    bool verbal = false;  // a subject or object suffix only verbs take
    bool nominal = false; // ة and ات
    bool ta = false;      // ends in ة, or stands for it (ات, تين, ة written ت before a pronoun)
    bool pronoun = false; // a pronoun or nothing: the word keeps its own end
};

// Whether the shape has three root letters, not four.
bool isTrilateral(const std::u32string& shape);

// The patterns, each also without the root letter a weak or doubled root
// drops where it can, the commonest cheapest.
std::vector<Pattern> buildPatterns();

// Nouns of two letters whose third letter the lexicons restore, in every
// spelling their case or number gives them before a pronoun (ء for a
// written hamza), with their roots.
std::unordered_map<std::u32string, std::u32string> buildShortNouns();

// A conjunction, then the article, a preposition, ل or the future's س.
std::vector<Front> buildFronts();

// What a verb's subject or a noun's number adds, then a pronoun.
std::vector<Back> buildBacks();

} // namespace quorvel::Morph
