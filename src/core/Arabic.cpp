#include "core/Arabic.h"

#include "core/ArabicNormalize.h"
#include "core/Settings.h"

#include <QVarLengthArray>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#endif

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>

namespace quorvel::Arabic {

namespace {

constexpr char16_t kSpace = u' ';
constexpr char16_t kTatweel = 0x0640;
constexpr char16_t kAlef = 0x0627;
constexpr char16_t kWaw = 0x0648;
constexpr char16_t kHeh = 0x0647;

// The newest Unicode version whose characters count as letters and digits.
constexpr UVersionInfo kAlnumAgeLimit = {13, 0, 0, 0};

// Whether a normalised word is a candidate for rasm folding: at least three
// units, ending in و followed by ه or ا.
bool rasmCandidate(const char16_t* w, qsizetype n)
{
    return n >= 3 && w[n - 2] == kWaw && (w[n - 1] == kHeh || w[n - 1] == kAlef);
}

// A cheap test that a candidate can end in one of the table's words: the
// letter before the و must be the one some table word has there. Plural
// verbs (كانوا, قالوا) are frequent and never fold, so they stop here.
bool mayEndInRasmWord(const char16_t* w, qsizetype n)
{
    const char16_t before = w[n - 3];
    if (w[n - 1] == kAlef)
        return before == 0x0628; // ربوا
    switch (before) {
    case 0x0644: // صلوه
    case 0x0643: // زكوه, مشكوه
    case 0x064A: // حيوه
    case 0x062C: // نجوه
    case 0x062F: // غدوه
    case 0x0646: // منوه
        return true;
    default:
        return false;
    }
}

// A rasm folding found in a word: the word's first `prefix` units stay and
// the rest becomes `standard`.
struct RasmFold {
    qsizetype prefix = 0;
    QStringView standard;
};

// The folding `rasmWord` applies to `w`, found without building a string:
// the word itself in the table, else the first listed prefix under which the
// rest is in the table.
std::optional<RasmFold> rasmFoldOf(QStringView w);

// A word of the output buffer, as start and end offsets.
using WordSpan = std::pair<qsizetype, qsizetype>;
using RasmSpans = QVarLengthArray<WordSpan, 16>;

// The rasm folding of the listed words of `text` (already normalised, each
// listed word one that folds).
QString foldRasm(const QString& text, const RasmSpans& spans)
{
    QString out;
    out.reserve(text.size());
    qsizetype copied = 0; // units of `text` already moved to `out`
    for (const auto& [start, end] : spans) {
        const auto fold = rasmFoldOf(QStringView(text).mid(start, end - start));
        if (!fold)
            continue;
        out.append(QStringView(text).mid(copied, start + fold->prefix - copied));
        out.append(fold->standard);
        copied = end;
    }
    out.append(QStringView(text).mid(copied));
    return out;
}

// The basic Arabic letters, ء to ي.
constexpr char16_t kFirstLetter = 0x0621;
constexpr char16_t kLastLetter = 0x064A;

// A mark's canonical combining class: which marks may stand between a
// hamza or madda mark and its carrier.
int combiningClass(char16_t u)
{
    return int(u_getCombiningClass(UChar32(u)));
}

// A dropped unit that combines with the letter before it.
bool combiningMark(char16_t u)
{
    return u >= 0x064B && isDrop(u) && combiningClass(u) != 0;
}

} // namespace

char16_t composeSeat(char16_t carrier, char16_t mark)
{
    // Unicode's canonical compositions of a letter with U+0653..U+0655; none
    // of them is excluded from composition.
    switch (mark) {
    case 0x0653:
        return carrier == kAlef ? char16_t(0x0622) : char16_t(0);
    case 0x0654:
        switch (carrier) {
        case kAlef:
            return 0x0623;
        case kWaw:
            return 0x0624;
        case 0x064A: // ي
            return 0x0626;
        case 0x06D5: // ە
            return 0x06C0;
        case 0x06C1: // ہ
            return 0x06C2;
        case 0x06D2: // ے
            return 0x06D3;
        default:
            return 0;
        }
    case 0x0655:
        return carrier == kAlef ? char16_t(0x0625) : char16_t(0);
    default:
        return 0;
    }
}

char16_t seatAt(QStringView text, qsizetype i)
{
    if (i < 0 || i >= text.size() || !isSeatMark(text[i].unicode()))
        return 0;
    // Mostly the mark follows its letter (or the tatweel that carries
    // nothing) straight away.
    const char16_t before = i > 0 ? text[i - 1].unicode() : char16_t(0);
    if (before < 0x064B || !isDrop(before))
        return composeSeat(before, text[i].unicode());
    // Else back to the letter the marks before this one stand on: a tatweel
    // or a Quranic sign of class 0 stands in its own place, carrying nothing.
    qsizetype start = i;
    while (start > 0 && combiningMark(text[start - 1].unicode()))
        --start;
    // Only the letters a hamza above joins carry anything (a tatweel, the
    // usual letter here, does not).
    if (start == 0 || !composeSeat(text[start - 1].unicode(), 0x0654))
        return 0;
    // Then forward as canonical composition goes: a mark joins the letter
    // unless a mark left standing before it has a class as high as its own.
    char16_t letter = text[start - 1].unicode();
    int blocking = 0;
    for (qsizetype k = start; k <= i; ++k) {
        const char16_t u = text[k].unicode();
        const int cls = combiningClass(u);
        if (isSeatMark(u) && blocking < cls) {
            if (const char16_t seat = composeSeat(letter, u)) {
                letter = seat;
                if (k == i)
                    return letter;
                continue;
            }
        }
        blocking = std::max(blocking, cls);
    }
    return 0;
}

char16_t writtenAt(QStringView text, qsizetype i)
{
    char16_t letter = text[i].unicode();
    for (qsizetype k = i + 1; k < text.size(); ++k) {
        const char16_t u = text[k].unicode();
        if (!combiningMark(u))
            break;
        if (isSeatMark(u))
            if (const char16_t seat = seatAt(text, k))
                letter = seat;
    }
    return letter;
}

MarkGroup markGroup(char16_t u)
{
    if (u < 0x064B)
        return MarkGroup::None;
    if (u <= 0x0652)
        return MarkGroup::Harakat;
    if (u <= 0x065F)
        return MarkGroup::Further;
    if (u == 0x0670)
        return MarkGroup::SuperscriptAlef;
    if (u >= 0x06D6 && u <= 0x06ED)
        return MarkGroup::Quranic;
    if (u >= 0x08D3 && u <= 0x08FF)
        return MarkGroup::Extended;
    return MarkGroup::None;
}

bool isDrop(char16_t u)
{
    const MarkGroup group = markGroup(u);
    return (group != MarkGroup::None && group != MarkGroup::Further) || u == kTatweel || isSeatMark(u);
}

bool isMark(char16_t u)
{
    return markGroup(u) != MarkGroup::None;
}

bool isAlnumScalar(char32_t c)
{
    if (c > 0x10FFFF)
        return false;
    const UChar32 cp = UChar32(c);
    UVersionInfo age;
    u_charAge(cp, age);
    // Age 0.0 means unassigned; anything after the limit is unknown to the rule.
    if (age[0] == 0 && age[1] == 0)
        return false;
    if (std::memcmp(age, kAlnumAgeLimit, sizeof age) > 0)
        return false;
    const auto mask = U_GET_GC_MASK(cp);
    constexpr auto lettersAndNumbers = U_GC_LU_MASK | U_GC_LL_MASK | U_GC_LT_MASK | U_GC_LM_MASK
        | U_GC_LO_MASK | U_GC_ND_MASK | U_GC_NL_MASK | U_GC_NO_MASK;
    if (mask & lettersAndNumbers)
        return true;
    return u_getIntPropertyValue(cp, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

const std::array<bool, 65536>& alnumTable()
{
    static const std::unique_ptr<const std::array<bool, 65536>> table = [] {
        auto t = std::make_unique<std::array<bool, 65536>>();
        for (char32_t u = 0; u < 0x10000; ++u)
            (*t)[u] = !U16_IS_SURROGATE(u) && isAlnumScalar(u);
        return t;
    }();
    return *table;
}

SurrogatePair surrogatePair(QStringView units, qsizetype i)
{
    if (i < 0 || i + 1 >= units.size())
        return {};
    const char16_t hi = units[i].unicode();
    const char16_t lo = units[i + 1].unicode();
    if (!U16_IS_LEAD(hi) || !U16_IS_TRAIL(lo))
        return {};
    return {true, isAlnumScalar(char32_t(U16_GET_SUPPLEMENTARY(hi, lo)))};
}

const QHash<QString, QString>& rasm()
{
    static const QHash<QString, QString> table = {
        {QStringLiteral(u"صلوه"), QStringLiteral(u"صلاه")},
        {QStringLiteral(u"زكوه"), QStringLiteral(u"زكاه")},
        {QStringLiteral(u"حيوه"), QStringLiteral(u"حياه")},
        {QStringLiteral(u"مشكوه"), QStringLiteral(u"مشكاه")},
        {QStringLiteral(u"نجوه"), QStringLiteral(u"نجاه")},
        {QStringLiteral(u"غدوه"), QStringLiteral(u"غداه")},
        {QStringLiteral(u"منوه"), QStringLiteral(u"مناه")},
        {QStringLiteral(u"ربوا"), QStringLiteral(u"ربا")},
    };
    return table;
}

const QStringList& rasmPrefixes()
{
    static const QStringList prefixes = {
        QStringLiteral(u"ال"), QStringLiteral(u"وال"), QStringLiteral(u"بال"), QStringLiteral(u"كال"),
        QStringLiteral(u"فال"), QStringLiteral(u"لل"), QStringLiteral(u"و"), QStringLiteral(u"ف"),
        QStringLiteral(u"ب"), QStringLiteral(u"ل"), QStringLiteral(u"ك"),
    };
    return prefixes;
}

namespace {

// What the normal form does with each unit value, as the unit it writes:
// `kDropUnit` writes nothing, `kSpace` is a separator, a surrogate value needs
// the pair rule or (`kSeatUnit`) is the hamza above, which looks back for its
// carrier; anything else is the (folded) letter or digit itself. One table
// lookup per unit then decides everything without a branch on the text, and
// the rare units with a rule of their own leave the block paths. The madda
// and the hamza below only ever join an alef, which folds to ا all the same:
// they are dropped here without a look back.
constexpr char16_t kDropUnit = 0;
constexpr char16_t kSeatUnit = 0xDFFF;

const std::array<char16_t, 65536>& unitActions()
{
    static const std::unique_ptr<const std::array<char16_t, 65536>> table = [] {
        auto t = std::make_unique<std::array<char16_t, 65536>>();
        const auto& alnum = alnumTable();
        for (std::uint32_t u = 0; u < 0x10000; ++u) {
            const char16_t c = char16_t(u);
            (*t)[u] = U16_IS_SURROGATE(c) ? c
                : c == 0x0654             ? kSeatUnit
                : isDrop(c)               ? kDropUnit
                : foldedUnit(c)           ? foldedUnit(c)
                : alnum[u]                ? c
                                          : kSpace;
        }
        return t;
    }();
    return *table;
}

// The words of a normal form that rasm folding changes, found from their
// endings in وه or وا and the cheap letter test before the full one. The form
// has single spaces between words and none at either end, so its words are
// found from their last units.
void collectRasmWords(const char16_t* out, qsizetype len, RasmSpans& spans)
{
    const auto consider = [&](qsizetype wawAt) {
        // The word ends after the unit following the waw.
        const qsizetype end = wawAt + 2;
        qsizetype start = wawAt;
        while (start > 0 && out[start - 1] != kSpace)
            --start;
        if (rasmCandidate(out + start, end - start) && mayEndInRasmWord(out + start, end - start)
            && rasmFoldOf(QStringView(out + start, end - start)))
            spans.append({start, end});
    };
    qsizetype i = 0;
#if defined(__SSE2__)
    // Eight waw positions at a time (from 1: a candidate has a letter before
    // its waw). Most blocks have no waw two units before a space; in the
    // others, only the endings with a letter `mayEndInRasmWord` accepts (the
    // same letters, tested here as a filter) go on to the full test.
    const auto eq = [](__m128i v, char16_t u) { return _mm_cmpeq_epi16(v, _mm_set1_epi16(short(u))); };
    for (i = 1; i + 10 <= len; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i + 2));
        const __m128i ends = _mm_and_si128(eq(a, kWaw), eq(c, kSpace));
        if (!_mm_movemask_epi8(ends))
            continue;
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i - 1));
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i + 1));
        const __m128i withHeh = _mm_or_si128(
            _mm_or_si128(_mm_or_si128(eq(before, 0x0644), eq(before, 0x0643)),
                         _mm_or_si128(eq(before, 0x064A), eq(before, 0x062C))),
            _mm_or_si128(eq(before, 0x062F), eq(before, 0x0646)));
        const __m128i candidate = _mm_and_si128(
            ends, _mm_or_si128(_mm_and_si128(eq(last, kHeh), withHeh),
                               _mm_and_si128(eq(last, kAlef), eq(before, 0x0628))));
        unsigned mask = unsigned(_mm_movemask_epi8(candidate));
        while (mask) {
            const int lane = __builtin_ctz(mask) / 2;
            mask &= ~(3u << (2 * lane));
            consider(i + lane);
        }
    }
    if (i == 1)
        i = 0; // no block was looked at
#endif
    for (; i + 2 <= len; ++i) {
        if (out[i] == kWaw && (out[i + 1] == kHeh || out[i + 1] == kAlef)
            && (i + 2 == len || out[i + 2] == kSpace))
            consider(i);
    }
}

// The normal form being written: `out` holds `len` units, and `atSeparator`
// says whether the last unit that was not dropped separates words (or
// nothing has been written yet), so that a run of separators gives one space.
struct Writer {
    const char16_t* actions;
    const char16_t* in;
    qsizetype n;
    char16_t* out;
    qsizetype len = 0;
    unsigned atSeparator = 1;

    // The unit at `i` by the table; returns the index after it (after both
    // halves of a surrogate pair). The action is written unconditionally and
    // kept only when it is a letter or the first separator of a run. Each
    // unit writes at most one unit, so `len` never passes the input index and
    // `n` units of output room hold even a block's full-width store. Always
    // inlined: called out of line, it takes the writer's address, and the
    // block loop's copy then lives in memory rather than in registers.
    __attribute__((always_inline)) qsizetype unit(qsizetype i)
    {
        const char16_t u = in[i];
        const char16_t a = actions[u];
        if (U16_IS_SURROGATE(a)) [[unlikely]] {
            if (!U16_IS_SURROGATE(u)) {
                // A hamza or madda mark: it joins the letter last written,
                // or, joining nothing, vanishes as the other marks do.
                if (const char16_t seat = seatAt(QStringView(in, n), i))
                    out[len - 1] = actions[seat];
                return i + 1;
            }
            if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(in[i + 1])) {
                const char32_t c = U16_GET_SUPPLEMENTARY(u, in[i + 1]);
                if (isAlnumScalar(c)) {
                    out[len++] = u;
                    out[len++] = in[i + 1];
                    atSeparator = 0;
                    return i + 2;
                }
                ++i;
            }
            // A symbol pair or a lone surrogate separates words.
            out[len] = kSpace;
            len += 1 - atSeparator;
            atSeparator = 1;
            return i + 1;
        }
        const unsigned isSpace = a == kSpace;
        const unsigned keep = a > kSpace;
        out[len] = a;
        len += keep | (isSpace & (1 - atSeparator));
        atSeparator = isSpace | (atSeparator & (1 - keep));
        return i + 1;
    }

    void units(qsizetype from, qsizetype to)
    {
        for (qsizetype i = from; i < to;)
            i = unit(i);
    }
};

#if defined(__SSE2__)
// Whether the eight units at `in` are plain text: Arabic letters of
// U+0621..U+064A other than tatweel, and single spaces (none after a
// separator). When they are, their normal form is stored at `out` and the
// writer moves on.
inline bool plainBlock(Writer& w, qsizetype i)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.in + i));
    const __m128i isSpace = _mm_cmpeq_epi16(v, _mm_set1_epi16(short(kSpace)));
    // v - U+0621 <= 0x29, unsigned: saturating subtraction leaves zero.
    const __m128i offset = _mm_sub_epi16(v, _mm_set1_epi16(short(kFirstLetter)));
    const __m128i inRange = _mm_cmpeq_epi16(
        _mm_subs_epu16(offset, _mm_set1_epi16(short(kLastLetter - kFirstLetter))), _mm_setzero_si128());
    const __m128i letter = _mm_andnot_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(short(kTatweel))), inRange);
    const unsigned spaces = unsigned(_mm_movemask_epi8(isSpace));
    const unsigned plain = unsigned(_mm_movemask_epi8(_mm_or_si128(letter, isSpace)));
    // A space whose previous unit is a space, or the first after a separator.
    const unsigned doubled = spaces & ((spaces << 2) | (w.atSeparator ? 3u : 0u));
    if (plain != 0xFFFFu || doubled)
        return false;

    // The letters that `foldedUnit` folds in this range, written out: folds
    // read from the unit table at run time cost the benchmark 2%. The test
    // of the fast paths holds every unit in a block to the unit rule.
    const auto fold = [](__m128i x, char16_t from, __m128i to) {
        const __m128i m = _mm_cmpeq_epi16(x, _mm_set1_epi16(short(from)));
        return _mm_or_si128(_mm_andnot_si128(m, x), _mm_and_si128(m, to));
    };
    const __m128i alefV = _mm_set1_epi16(short(kAlef));
    __m128i r = fold(v, 0x0622, alefV); // آ
    r = fold(r, 0x0623, alefV);         // أ
    r = fold(r, 0x0625, alefV);         // إ
    r = fold(r, 0x0629, _mm_set1_epi16(short(kHeh))); // ة
    r = fold(r, 0x0649, _mm_set1_epi16(short(0x064A))); // ى
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w.out + w.len), r);
    w.len += 8;
    w.atSeparator = spaces >> 15;
    return true;
}

// The actions of the eight units at `in`, built in a register (units
// written to memory one by one and read back as a vector would stall on
// store forwarding). False when one of them is a surrogate.
inline bool blockActions(const Writer& w, qsizetype i, __m128i& av)
{
    const char16_t* u = w.in + i;
    const char16_t* actions = w.actions;
    av = _mm_cvtsi32_si128(actions[u[0]]);
    av = _mm_insert_epi16(av, actions[u[1]], 1);
    av = _mm_insert_epi16(av, actions[u[2]], 2);
    av = _mm_insert_epi16(av, actions[u[3]], 3);
    av = _mm_insert_epi16(av, actions[u[4]], 4);
    av = _mm_insert_epi16(av, actions[u[5]], 5);
    av = _mm_insert_epi16(av, actions[u[6]], 6);
    av = _mm_insert_epi16(av, actions[u[7]], 7);
    const __m128i surrogate = _mm_cmpeq_epi16(
        _mm_subs_epu16(_mm_sub_epi16(av, _mm_set1_epi16(short(0xD800))), _mm_set1_epi16(0x7FF)),
        _mm_setzero_si128());
    return _mm_movemask_epi8(surrogate) == 0;
}

// One bit per unit (bit k for unit k) where the units of `v` equal `value`.
inline unsigned laneBits(__m128i v, char16_t value)
{
    const __m128i eq = _mm_cmpeq_epi16(v, _mm_set1_epi16(short(value)));
    return unsigned(_mm_movemask_epi8(_mm_packs_epi16(eq, _mm_setzero_si128())));
}

// Eight units of any kind but surrogates, by their actions: a letter is
// kept, a drop vanishes, and a separator is kept when the last unit before
// it that is not dropped is no separator. Portable: the units are kept one
// by one. `drops` has a bit for each dropped unit.
inline void mixedBlock(Writer& w, __m128i av, unsigned drops)
{
    alignas(16) char16_t a[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), av);
    const unsigned seps = laneBits(av, kSpace);
    const unsigned letters = ~(drops | seps) & 0xFFu;
    // Bit k: the last unit before k that is not dropped is a separator (or,
    // with none in the block, the text so far ends in one).
    unsigned after = (seps << 1) | w.atSeparator;
    unsigned through = drops << 1;
    after |= (after << 1) & through;
    through &= through << 1;
    after |= (after << 2) & through;
    through &= through << 2;
    after |= (after << 4) & through;
    const unsigned keep = letters | (seps & ~after);
    for (int k = 0; k < 8; ++k) {
        w.out[w.len] = a[k];
        w.len += (keep >> k) & 1u;
    }
    // The last unit not dropped decides; a block of marks only changes nothing.
    const unsigned written = letters | seps;
    const unsigned lastIsSep = (seps >> (31 - __builtin_clz(written | 1u))) & 1u;
    w.atSeparator = written ? lastIsSep : w.atSeparator;
}

// The text eight units at a time: plain runs stored as they are, blocks
// with a surrogate unit by unit, and every other block by `keepMixed` (one
// of the two ways of keeping its units) from its actions and the bits of its
// dropped units. Returns where the blocks stopped. Always inlined: the SSSE3
// caller can then inline its step, which a function built for the plain
// target may not.
template <void (*keepMixed)(Writer&, __m128i, unsigned)>
__attribute__((always_inline)) inline qsizetype blocks(Writer& writer)
{
    // A local copy keeps the state in registers: the caller's writer is
    // in memory that every store to the output might alias.
    Writer w = writer;
    // Text with marks rarely has a plain block; the plain test waits until a
    // block without marks suggests one may follow.
    bool tryPlain = true;
    qsizetype i = 0;
    while (i + 8 <= w.n) {
        if (tryPlain && plainBlock(w, i)) {
            i += 8;
            continue;
        }
        __m128i av;
        if (!blockActions(w, i, av)) [[unlikely]] {
            const qsizetype stop = i + 8;
            while (i < stop)
                i = w.unit(i);
            continue;
        }
        const unsigned drops = laneBits(av, kDropUnit);
        keepMixed(w, av, drops);
        tryPlain = drops == 0;
        i += 8;
    }
    writer = w;
    return i;
}

// For processors without SSSE3.
qsizetype portableBlocks(Writer& writer)
{
    return blocks<mixedBlock>(writer);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QUORVEL_SHUFFLE_BLOCKS 1

// For each 8-bit keep mask, the byte shuffle that moves the kept 16-bit
// lanes to the front (the rest become zero), and how many lanes are kept.
struct ShuffleTable {
    alignas(16) std::uint8_t order[256][16];
    std::uint8_t count[256];
    constexpr ShuffleTable() : order(), count()
    {
        for (unsigned mask = 0; mask < 256; ++mask) {
            unsigned lane = 0;
            for (unsigned k = 0; k < 8; ++k) {
                if (mask & (1u << k)) {
                    order[mask][2 * lane] = std::uint8_t(2 * k);
                    order[mask][2 * lane + 1] = std::uint8_t(2 * k + 1);
                    ++lane;
                }
            }
            for (unsigned rest = 2 * lane; rest < 16; ++rest)
                order[mask][rest] = 0x80;
            count[mask] = std::uint8_t(lane);
        }
    }
};
constexpr ShuffleTable shuffles;

__attribute__((target("ssse3"))) inline __m128i keepLanes(__m128i v, unsigned mask)
{
    return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(shuffles.order[mask])));
}

// As `mixedBlock`, with the kept units moved together by two byte shuffles:
// the first removes the drops, the second the separators that follow a
// separator among what is left.
__attribute__((target("ssse3"))) inline void shuffledBlock(Writer& w, __m128i av, unsigned drops)
{
    const unsigned kept = ~drops & 0xFFu;
    const __m128i first = keepLanes(av, kept);
    const unsigned firstCount = shuffles.count[kept];
    // Lanes past the kept ones are zero, never a space.
    const unsigned seps = laneBits(first, kSpace);
    const unsigned doubled = seps & ((seps << 1) | w.atSeparator);
    const unsigned keep = ~doubled & ((1u << firstCount) - 1u);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w.out + w.len), keepLanes(first, keep));
    w.len += shuffles.count[keep];
    const unsigned lastIsSep = (seps >> ((firstCount - 1) & 7u)) & 1u;
    w.atSeparator = firstCount ? lastIsSep : w.atSeparator;
}

__attribute__((target("ssse3"))) qsizetype shuffledBlocks(Writer& writer)
{
    return blocks<shuffledBlock>(writer);
}

bool shufflesAvailable()
{
    static const bool available = __builtin_cpu_supports("ssse3");
    return available;
}
#endif
#endif

QString normalizeBy(const QString& s, bool rasmFold, bool shuffled)
{
    const qsizetype n = s.size();
    QString result(n, Qt::Uninitialized);
    Writer w{unitActions().data(), reinterpret_cast<const char16_t*>(s.constData()), n,
             reinterpret_cast<char16_t*>(result.data())};
    qsizetype i = 0;
#if defined(QUORVEL_SHUFFLE_BLOCKS)
    if (shuffled && shufflesAvailable())
        i = shuffledBlocks(w);
    else
        i = portableBlocks(w);
#elif defined(__SSE2__)
    i = portableBlocks(w);
#endif
    (void)shuffled;
    w.units(i, n);
    qsizetype len = w.len;
    if (w.atSeparator && len > 0)
        --len; // the trailing space
    result.truncate(len);
    if (!rasmFold)
        return result;
    RasmSpans rasmSpans;
    collectRasmWords(reinterpret_cast<const char16_t*>(result.constData()), len, rasmSpans);
    if (rasmSpans.isEmpty())
        return result;
    return foldRasm(result, rasmSpans);
}

} // namespace

// Runs of plain letters and spaces go eight units at a time; other blocks
// of eight take one table lookup per unit and no branch on the units'
// classes; only surrogates take the full property test. Rasm folding looks
// only at the words the finished form ends in وه or وا. See the header for
// the result.
QString normalize(const QString& s, bool rasmFold)
{
    return normalizeBy(s, rasmFold, true);
}

namespace detail {
QString normalizePortable(const QString& s, bool rasmFold)
{
    return normalizeBy(s, rasmFold, false);
}
} // namespace detail

QStringList tokens(const QString& s)
{
    return normalize(s, true).split(kSpace, Qt::SkipEmptyParts);
}

namespace {

std::optional<RasmFold> rasmFoldOf(QStringView w)
{
    const qsizetype n = w.size();
    if (n < 2)
        return std::nullopt;
    const char16_t last = w[n - 1].unicode();
    if ((last != kHeh && last != kAlef) || w[n - 2].unicode() != kWaw)
        return std::nullopt;
    // The table as a list, so a word is compared in place.
    static const QList<std::pair<QString, QString>> entries = [] {
        QList<std::pair<QString, QString>> list;
        for (auto it = rasm().cbegin(); it != rasm().cend(); ++it)
            list.append({it.key(), it.value()});
        return list;
    }();
    const auto standard = [&](QStringView rest) -> std::optional<QStringView> {
        for (const auto& [spelling, standard] : entries)
            if (rest == spelling)
                return QStringView(standard);
        return std::nullopt;
    };
    if (const auto whole = standard(w))
        return RasmFold{0, *whole};
    for (const QString& prefix : rasmPrefixes()) {
        if (!w.startsWith(prefix))
            continue;
        if (const auto rest = standard(w.mid(prefix.size())))
            return RasmFold{prefix.size(), *rest};
    }
    return std::nullopt;
}

} // namespace

QString rasmWord(const QString& w)
{
    const auto fold = rasmFoldOf(w);
    if (!fold)
        return w;
    QString folded = w.left(fold->prefix);
    folded.append(fold->standard);
    return folded;
}

QString stripMarks(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (!isMark(u) && u != kTatweel)
            out.append(c);
    }
    return out;
}

namespace {

// A number of one to three digits in brackets (with one optional white-space
// character before), or glued to an Arabic letter or short vowel.
const icu::RegexPattern& footnoteRef()
{
    static const std::unique_ptr<icu::RegexPattern> compiled = [] {
        const icu::UnicodeString source(
            u"\\s?[(\\[\u00AB]\\s*[0-9\u0660-\u0669]{1,3}\\s*[)\\]\u00BB]"
            u"|(?<=[\u0621-\u064A\u064B-\u0652])[0-9\u0660-\u0669]{1,3}");
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        std::unique_ptr<icu::RegexPattern> p(
            icu::RegexPattern::compile(source, 0, parseError, status));
        if (U_FAILURE(status) || !p) {
            std::fprintf(stderr, "footnote reference pattern does not compile: %s\n",
                         u_errorName(status));
            std::abort();
        }
        return p;
    }();
    return *compiled;
}

QString removeFootnoteRefs(const QString& s)
{
    const icu::UnicodeString text(false, reinterpret_cast<const UChar*>(s.constData()),
                                  int32_t(s.size()));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(footnoteRef().matcher(text, status));
    if (U_FAILURE(status) || !matcher)
        return s;
    const icu::UnicodeString replaced = matcher->replaceAll(icu::UnicodeString(), status);
    if (U_FAILURE(status))
        return s;
    return QString(reinterpret_cast<const QChar*>(replaced.getBuffer()), replaced.length());
}

} // namespace

QString forCopy(const QString& s)
{
    QString out = s;
    if (Settings::copyNoFootnoteRefs())
        out = removeFootnoteRefs(out);
    if (Settings::copyNoTashkeel())
        out = stripMarks(out);
    return out;
}

} // namespace quorvel::Arabic
