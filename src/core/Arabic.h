#pragma once

// The Arabic text rules shared by the installer, the search engine, the
// highlighter, the assistant and the tools.
//
// The normal form is the matching form of Arabic text: diacritics, Quranic
// annotation signs and tatweel are dropped; a hamza or madda written as a
// mark after its carrier is composed with it (ا + U+0654 is أ) and one that
// composes with nothing (on a tatweel) is dropped; آ أ إ ٱ fold to ا, ة to ه
// and ى to ي; every run of non-alphanumeric units becomes one space, with no
// space at either end; and, by default, eight Quranic spellings with waw
// (الصلوة …) are replaced by their standard spellings ("rasm" folding).
// Everything works on UTF-16 code units, the unit of every position and
// length here.
//
// The library database stores page text in this form (`content_norm` and the
// full-text index), so a query term, a verified page, a highlight and a text
// reuse hash only agree when they are computed by exactly these rules. The
// rules carry a version number, `normVersion`: a book release states the
// version it was normalised with, and a release built with other rules is
// refused. Any change to what `normalize` returns for some input must bump it.
//
// All functions are pure (apart from the preferences read by `digits`, `num`
// and `forCopy`) and safe to call from any thread; the static tables are built
// once on first use.

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace quorvel::Arabic {

// Version of the normalisation rules. A library database records the version
// its stored forms were made with, and a store made with another is brought
// to this one (LocalStore::refreshNormalForm).
inline constexpr int normVersion = 3;

// ---------------------------------------------------------------------------
// Normal form and tokens

// The normal form of `s`: alphanumeric words joined by single spaces, marks
// and tatweel dropped, alef forms, ta marbuta and alef maqsura folded; with
// `rasm`, the Quranic waw spellings folded as well. Lone surrogates, NUL and
// other controls are separators; text of marks only gives an empty string.
QString normalize(const QString& s, bool rasm = true);

// The words of `normalize(s, true)`, in order; never an empty word.
QStringList tokens(const QString& s);

// The rasm folding of one normalised word: الصلوه → الصلاه, للربوا → للربا;
// any other word is returned unchanged.
QString rasmWord(const QString& w);

// `s` without marks and tatweel; letters are not folded, nothing else changes.
QString stripMarks(const QString& s);

// Text for the clipboard: footnote reference numbers removed when the
// "copyNoFootnoteRefs" preference is on, then marks stripped when
// "copyNoTashkeel" is on.
QString forCopy(const QString& s);

// The Arabic combining marks by group; every mark range of the system is
// read from here. Harakat: tanwin, the short vowels, shadda and sukun
// (U+064B..U+0652); Further: the other marks of the Arabic block
// (U+0653..U+065F); the superscript alef (U+0670); Quranic: the annotation
// signs (U+06D6..U+06ED); Extended: the extended Arabic marks (U+08D3..U+08FF).
enum class MarkGroup { None, Harakat, Further, SuperscriptAlef, Quranic, Extended };
MarkGroup markGroup(char16_t u);

// Unit classes. A dropped unit never reaches the normal form as itself:
// every mark group but Further, tatweel, and the hamza and madda marks
// (U+0653..U+0655), which either join their carrier or vanish. A mark is
// what `stripMarks` removes (it also removes tatweel, which is not a mark).
bool isDrop(char16_t u);
bool isMark(char16_t u);

// Hamza seats, one table for every fold: the letter under the hamza or madda
// of آ أ إ ؤ ئ (ا ا ا و ي), as Unicode's canonical decompositions give it
// (a test holds the table to them); 0 for every other code point. Inline:
// the tokenizer and the page index ask it letter by letter.
constexpr char16_t hamzaCarrier(char32_t c)
{
    switch (c) {
    case 0x0622: // آ
    case 0x0623: // أ
    case 0x0625: // إ
        return 0x0627;
    case 0x0624: // ؤ
        return 0x0648;
    case 0x0626: // ئ
        return 0x064A;
    default:
        return 0;
    }
}
// آ أ إ: an alef carrying hamza or madda.
constexpr bool isHamzaAlef(char32_t c)
{
    return c == 0x0622 || c == 0x0623 || c == 0x0625;
}
// ٱ, the alef of liaison: Unicode gives it no decomposition, so it is no
// hamza seat, yet every fold writes it as a plain alef.
inline constexpr char16_t alefWasla = 0x0671;

// The folded replacement of an alef form, ة or ى; 0 for any other unit.
constexpr char16_t foldedUnit(char16_t u)
{
    if (u == 0x0629) // ة
        return 0x0647;
    if (u == 0x0649) // ى
        return 0x064A;
    return u == alefWasla || isHamzaAlef(u) ? char16_t(0x0627) : char16_t(0);
}
// The same as an optional: nothing for a unit that does not fold.
inline std::optional<char16_t> mapped(char16_t u)
{
    const char16_t folded = foldedUnit(u);
    return folded ? std::optional<char16_t>(folded) : std::nullopt;
}

// The hamza and madda marks: maddah above, hamza above, hamza below.
constexpr bool isSeatMark(char16_t u)
{
    return u >= 0x0653 && u <= 0x0655;
}
// The letter that a carrier and a hamza or madda mark compose to by Unicode's
// canonical composition (ا + U+0653 is آ, و + U+0654 is ؤ, ۓ …); 0 when they
// do not compose (ى, a tatweel or a consonant under the mark).
char16_t composeSeat(char16_t carrier, char16_t mark);
// For the hamza or madda mark at `i` of `text`: the letter its carrier has
// become once this mark and the ones before it joined it, or 0 when this mark
// joins nothing. The carrier is the letter before the mark that only dropped
// marks of a lower combining class, and seat marks that joined it, stand
// between (canonical composition); a tatweel carries nothing, and a mark that
// separates words ends the search.
char16_t seatAt(QStringView text, qsizetype i);
// The letter written at `i` of `text` with the hamza or madda marks after it
// that compose with it: أ for ا + U+0654; the unit itself when none does.
char16_t writtenAt(QStringView text, qsizetype i);

// Whether a code point counts as a letter or digit: assigned in Unicode 13.0
// or earlier, and a letter (Lu Ll Lt Lm Lo), a number (Nd Nl No) or a code
// point with a numeric type.
bool isAlnumScalar(char32_t c);

// The alphanumeric rule applied to every UTF-16 unit value; surrogates false.
const std::array<bool, 65536>& alnumTable();

struct SurrogatePair {
    bool isPair = false; // a high surrogate at i followed by a low surrogate
    bool alnum = false;  // the pair's code point is alphanumeric
};
SurrogatePair surrogatePair(QStringView units, qsizetype i);

// The eight waw spellings (normal form) and their standard spellings, and the
// prefixes under which they are still recognised, in the order tried.
const QHash<QString, QString>& rasm();
const QStringList& rasmPrefixes();

// ---------------------------------------------------------------------------
// Digits: Latin 0-9, Arabic-Indic ٠-٩, Extended Arabic-Indic ۰-۹

// 0-9 for a digit of any of the three families, nothing otherwise.
std::optional<int> digitValue(char32_t c);
// Non-empty and digits only (families may be mixed).
bool isDigits(const QString& s);
bool hasDigit(const QString& s);
// The digits of `s` in order, written Latin, Arabic-Indic and Extended; every
// other code point is left out.
std::array<QString, 3> digitForms(const QString& s);
// The Latin form: `digitForms(s)[0]`.
QString foldDigits(const QString& s);
// `s` without its trailing digits; nothing when it does not end in a digit or
// is all digits.
std::optional<QString> stripTrailingDigits(const QString& s);
// Display form: Latin digits become Arabic-Indic unless the "indicDigits"
// preference is off. A digit carrying a combining mark stays as it is.
QString digits(const QString& s);
QString num(long long n);
// A number with `places` decimals in display form: in Arabic-Indic digits
// with the Arabic decimal separator («٥٫٥»), or as Latin «5.5» when the
// digits preference is off.
QString decimal(double value, int places);
// A dotted version («0.1.0») in display form: «٠٫١٫٠» in Arabic-Indic
// digits, whose points would read as zeros, or as written.
QString version(const QString& text);
// Input form: every single-code-point character with a whole-number value
// becomes U+0030 plus that value (so any script's digits become Latin).
QString latinDigits(const QString& s);

// ---------------------------------------------------------------------------
// Affixes, stems and spelling variants (inputs and outputs in normal form)

const QStringList& stemPrefixes();
const QStringList& stemSuffixes();
const QStringList& affixPrefixes();
const QStringList& alPrefixes();
const QStringList& lamAlPrefixes();
const QStringList& affixSuffixes();
struct SpellingPair {
    QString a;
    QString b;
};
const QList<SpellingPair>& spellingPairs();

// The light stem: one listed prefix and one listed suffix removed while more
// than two letters remain.
QString stem(const QString& w);
// The prefixed forms of `w` used as word beginnings (12 for a word with the
// article, 27 otherwise), in table order.
QStringList heads(const QString& w);

using FormSet = QSet<QString>;
// Every accepted affixed form of `w`. Served from a bounded cache of recent
// words; the set returned stays valid after it leaves the cache.
std::shared_ptr<const FormSet> affixForms(const QString& w);
// The forms in which a page holds the word `w` a reader asks about: `w`
// behind its clitics with a pronoun or one ending of the light-stem table
// (the ت form of a final ه, a final hamza on ي or و, before an ending); the
// article takes only the endings of number. A stem under three letters
// takes no ending of the light-stem table. Cached as affixForms is.
std::shared_ptr<const FormSet> wordForms(const QString& w);
// The beginnings of every form of `w` that wordForms accepts: the heads of
// `w`, of its ت and ا forms and of its hamza's seats, distinct, in that order.
QStringList wordHeads(const QString& w);
// Distinct heads of `w` and of its ت and ا variants, in code-point order.
QStringList affixHeads(const QString& w);
// `w` first, then its spelling variants, without duplicates.
QStringList spellings(const QString& w);

// Words the affix cache holds at most, and how many it holds now.
inline constexpr qsizetype affixCacheCapacity = 2048;
qsizetype affixCacheSize();

// Orders texts by code point (UTF-16 order differs above U+FFFF).
bool codePointLess(QStringView a, QStringView b);

// ---------------------------------------------------------------------------
// Query tokens and diacritic-aware words

enum class TokMode { exact, affix, morph, wild };

// One query word and how a page word matches it.
struct Tok {
    QString t;                    // the normalised word or wildcard pattern
    TokMode mode = TokMode::exact;
    bool digit = false;           // digits only
    bool digitsExact = true;      // a digit word must match in its own family
    bool tHasDigit = false;       // contains a digit
    std::shared_ptr<const FormSet> forms; // affix mode; never null
    QStringList heads;            // morph mode: accepted word beginnings
    QStringList alts;             // the word and its spelling variants
    QString glob;                 // wild mode: the pattern's units

    Tok(const QString& t, bool affix, bool morph, bool digitsExact, bool variants);
    // A morph token over the heads of `w` itself (not of its stem).
    static Tok stemTok(const QString& w);

    // Whether the normalised page word `w` matches; a page word with a number
    // glued to its end matches as the word without it.
    bool match(const QString& w) const;
    bool base(const QString& w) const;

private:
    Tok() = default;
};

// `s` contains "*" or "?".
bool isWild(const QString& s);
// A wildcard piece with its letters normalised and star runs collapsed;
// nothing when it has no letters.
std::optional<QString> pattern(const QString& p);
// Whole-string match over UTF-16 units: "?" one unit, "*" any run.
bool globMatch(QStringView pattern, QStringView s);

// A letter of a page or query word with what normalisation throws away: the
// written alef form and the marks on it.
struct RichLetter {
    char16_t norm = 0; // the letter in normal form
    char16_t alif = 0; // the written alef form, 0 for other letters
    std::uint64_t m1 = 0; // U+064B..U+0652 bits 0-7, U+0670 bit 8, U+06D6..U+06ED bits 9-32
    std::uint64_t m2 = 0; // U+08D3..U+08FF bits 0-44
    bool operator==(const RichLetter&) const = default;
};
// Sets the bit of one mark on `letter`; any other unit is ignored.
void addMark(RichLetter& letter, char16_t mark);
// The marks whose bits `letter` carries, one unit each in bit order: what
// addMark, given them in turn, sets again.
QString marksOf(const RichLetter& letter);

struct RichWord {
    QString word;               // normalised and rasm-folded
    QList<RichLetter> letters;  // one per normalised unit, not rasm-folded
};
QList<RichWord> richWords(const QString& s);

struct QueryWords {
    QStringList words;
    std::optional<QList<RichWord>> rich; // only when asked for
};
// The words of a query; pieces with "*", "?" or "؟" inside become wildcard
// patterns, and a question mark ending a piece is punctuation.
QueryWords queryWords(const QString& q, bool rich);

// Whether page letters `w` carry the query letters `q` with the required
// alef forms (`hamza`) and marks (`marks`).
bool rawOK(const QList<RichLetter>& q, const QList<RichLetter>& w, bool hamza, bool marks);

// ---------------------------------------------------------------------------
// Highlight index and ranges

// The normal form (without rasm folding) of a stored text, with each unit's
// offset in the stored text. Unlike `normalize`, a trailing space remains.
// A text with words in the mushaf's spelling also carries the index of their
// plain spelling, so that a term is found in either.
struct Index {
    QString norm;
    QList<qsizetype> map; // same length as norm
    QString origin;
    std::shared_ptr<const Index> plain;                 // of the plain spelling's words, when any
    QList<std::pair<qsizetype, qsizetype>> plainSource; // per unit of plain->origin: the word's range here
};
Index index(const QString& s);

enum class Match { word, affix, stem, prefix, anywhere };

// A span of the stored text in UTF-16 units.
struct Range {
    qsizetype location = 0;
    qsizetype length = 0;
    bool operator==(const Range&) const = default;
};

// The stored-text ranges where `term` matches, in text order, not
// overlapping, each covering whole words and the marks written on their last
// letter; words in the mushaf's spelling match as written or as their plain
// spelling. `term` is in normal form; in the word modes (where several words
// match as a phrase) the stored words are compared rasm-folded, so the term
// should come from `normalize(_, true)`.
QList<Range> ranges(const QString& term, const Index& idx, Match mode);

} // namespace quorvel::Arabic
