#include "core/Arabic.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace quorvel::Arabic {

namespace {

constexpr char16_t kStar = u'*';
constexpr char16_t kQuestion = u'?';
constexpr char16_t kAlefUnit = 0x0627;

const std::shared_ptr<const FormSet>& noForms()
{
    static const auto empty = std::make_shared<const FormSet>();
    return empty;
}

// Whether the unit at `i` of `s` is a character of its own: neither joined
// to what follows (a combining mark, a joiner, a spacing mark) nor to what
// precedes (a prepended sign such as the Arabic number sign).
bool standsAlone(QStringView s, qsizetype i)
{
    const auto breakClass = [](UChar32 c) {
        return u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
    };
    if (i + 1 < s.size()) {
        UChar32 next = s[i + 1].unicode();
        if (U16_IS_LEAD(next) && i + 2 < s.size() && s[i + 2].isLowSurrogate())
            next = U16_GET_SUPPLEMENTARY(next, s[i + 2].unicode());
        const int b = breakClass(next);
        if (b == U_GCB_EXTEND || b == U_GCB_ZWJ || b == U_GCB_SPACING_MARK)
            return false;
    }
    if (i > 0) {
        UChar32 prev = s[i - 1].unicode();
        if (U16_IS_TRAIL(prev) && i >= 2 && s[i - 2].isHighSurrogate())
            prev = U16_GET_SUPPLEMENTARY(s[i - 2].unicode(), prev);
        if (breakClass(prev) == U_GCB_PREPEND)
            return false;
    }
    return true;
}

bool isWildcardAt(QStringView s, qsizetype i)
{
    const char16_t u = s[i].unicode();
    return (u == kStar || u == kQuestion) && standsAlone(s, i);
}

// The mark-bit of a unit, as (mask 1 or 2, bit), or nothing for a non-mark.
std::optional<std::pair<int, int>> markBit(char16_t u)
{
    switch (markGroup(u)) {
    case MarkGroup::Harakat:
        return std::pair{1, int(u - 0x064B)};
    case MarkGroup::SuperscriptAlef:
        return std::pair{1, 8};
    case MarkGroup::Quranic:
        return std::pair{1, int(u - 0x06CD)}; // bits 9..32
    case MarkGroup::Extended:
        return std::pair{2, int(u - 0x08D3)};
    case MarkGroup::Further:
    case MarkGroup::None:
        break;
    }
    return std::nullopt;
}

bool isWhiteSpace(char16_t u)
{
    return u_isUWhiteSpace(UChar32(u));
}

} // namespace

// ---------------------------------------------------------------------------
// Tok

Tok::Tok(const QString& word, bool affix, bool morph, bool exactDigits, bool variants)
    : t(word), digitsExact(exactDigits), tHasDigit(hasDigit(word)), forms(noForms())
{
    if (isDigits(word)) {
        mode = TokMode::exact;
        digit = true;
        alts = {word};
        return;
    }
    if (isWild(word)) {
        mode = TokMode::wild;
        glob = word;
        alts = {word};
        return;
    }
    alts = variants ? spellings(word) : QStringList{word};
    if (morph) {
        mode = TokMode::morph;
        for (const QString& alt : alts)
            for (const QString& head : Arabic::heads(stem(alt)))
                if (!heads.contains(head))
                    heads.append(head);
    } else if (affix) {
        mode = TokMode::affix;
        if (alts.size() == 1) {
            forms = affixForms(alts.front());
        } else {
            auto all = std::make_shared<FormSet>();
            for (const QString& alt : alts)
                all->unite(*affixForms(alt));
            forms = std::move(all);
        }
    } else {
        mode = TokMode::exact;
    }
}

Tok Tok::stemTok(const QString& w)
{
    Tok tok;
    tok.t = w;
    tok.mode = TokMode::morph;
    tok.digit = false;
    tok.digitsExact = true;
    tok.tHasDigit = hasDigit(w);
    tok.forms = noForms();
    tok.heads = Arabic::heads(w);
    tok.alts = {w};
    return tok;
}

bool Tok::match(const QString& w) const
{
    if (digit) {
        if (digitsExact)
            return w == t;
        return isDigits(w) && foldDigits(w) == foldDigits(t);
    }
    if (!tHasDigit) {
        if (const auto stripped = stripTrailingDigits(w); stripped && base(*stripped))
            return true;
    }
    return base(w);
}

bool Tok::base(const QString& w) const
{
    switch (mode) {
    case TokMode::exact:
        return w == t || (alts.size() >= 2 && alts.contains(w));
    case TokMode::affix:
        return forms->contains(w);
    case TokMode::morph:
        for (const QString& head : heads)
            if (w.startsWith(head))
                return true;
        return false;
    case TokMode::wild:
        return globMatch(glob, w);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Wildcards

bool isWild(const QString& s)
{
    return s.contains(kStar) || s.contains(kQuestion);
}

bool globMatch(QStringView p, QStringView s)
{
    qsizetype i = 0;
    qsizetype j = 0;
    qsizetype starAt = -1;
    qsizetype mark = 0;
    while (j < s.size()) {
        if (i < p.size() && (p[i] == kQuestion || p[i] == s[j])) {
            ++i;
            ++j;
        } else if (i < p.size() && p[i] == kStar) {
            starAt = i;
            mark = j;
            ++i;
        } else if (starAt >= 0) {
            i = starAt + 1;
            ++mark;
            j = mark;
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == kStar)
        ++i;
    return i == p.size();
}

// The literal runs between wildcards are normalised (their spaces removed) and
// runs of stars collapse to one; a piece of wildcards only is not searchable.
std::optional<QString> pattern(const QString& p)
{
    QString out;
    QString pending;
    qsizetype literalUnits = 0;
    const auto flush = [&] {
        if (pending.isEmpty())
            return;
        QString literal = normalize(pending, true);
        literal.remove(u' ');
        literalUnits += literal.size();
        out += literal;
        pending.clear();
    };
    for (qsizetype i = 0; i < p.size(); ++i) {
        if (!isWildcardAt(p, i)) {
            pending.append(p[i]);
            continue;
        }
        flush();
        if (p[i] == kStar && out.endsWith(kStar))
            continue;
        out.append(p[i]);
    }
    flush();
    if (literalUnits == 0)
        return std::nullopt;
    return out;
}

// ---------------------------------------------------------------------------
// Rich words

void addMark(RichLetter& letter, char16_t mark)
{
    const auto bit = markBit(mark);
    if (!bit)
        return;
    const std::uint64_t flag = std::uint64_t(1) << bit->second;
    if (bit->first == 1)
        letter.m1 |= flag;
    else
        letter.m2 |= flag;
}

QString marksOf(const RichLetter& letter)
{
    QString out;
    for (int bit = 0; bit < 64; ++bit)
        if (letter.m1 & (std::uint64_t(1) << bit))
            out.append(QChar(bit < 8 ? char16_t(0x064B + bit) : bit == 8 ? char16_t(0x0670) : char16_t(0x06CD + bit)));
    for (int bit = 0; bit < 64; ++bit)
        if (letter.m2 & (std::uint64_t(1) << bit))
            out.append(QChar(char16_t(0x08D3 + bit)));
    return out;
}

// The words of `s` exactly as `tokens` gives them, each with its letters
// carrying their written alef form and marks. A page check reads every page
// through here: the tests that cost a call (pairs, mark groups, seats) wait
// behind the range tests that settle the common units inline.
QList<RichWord> richWords(const QString& s)
{
    constexpr char16_t kTatweelUnit = 0x0640;
    constexpr char16_t kFirstHaraka = 0x064B;
    constexpr char16_t kLastHaraka = 0x0652;
    const auto& alnum = alnumTable();
    QList<RichWord> out;
    QList<RichLetter> letters;
    const auto endWord = [&] {
        if (letters.isEmpty())
            return;
        QString word(letters.size(), Qt::Uninitialized);
        char16_t* w = reinterpret_cast<char16_t*>(word.data());
        for (const RichLetter& l : std::as_const(letters))
            *w++ = l.norm;
        out.append({rasmWord(word), letters});
        letters.clear();
    };
    const qsizetype n = s.size();
    const char16_t* in = reinterpret_cast<const char16_t*>(s.constData());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = in[i];
        if (u >= kFirstHaraka && u <= kLastHaraka) {
            if (!letters.isEmpty())
                letters.last().m1 |= std::uint64_t(1) << (u - kFirstHaraka);
            continue;
        }
        if (QChar::isSurrogate(u)) {
            if (const SurrogatePair pair = surrogatePair(s, i); pair.isPair) {
                if (pair.alnum) {
                    letters.append({u, 0, 0, 0});
                    letters.append({in[i + 1], 0, 0, 0});
                } else {
                    endWord();
                }
                ++i;
            } else {
                endWord();
            }
            continue;
        }
        if (u == kTatweelUnit)
            continue;
        if (isSeatMark(u)) {
            // Joined to its carrier it is the letter written precomposed;
            // joining nothing it vanishes as the other marks do.
            if (const char16_t seat = seatAt(s, i); seat && !letters.isEmpty()) {
                RichLetter& carrier = letters.last();
                if (isHamzaAlef(seat))
                    carrier.alif = seat;
                else
                    carrier.norm = seat;
            }
            continue;
        }
        if (u > kLastHaraka && markBit(u)) {
            if (!letters.isEmpty())
                addMark(letters.last(), u);
            continue;
        }
        const char16_t folded = foldedUnit(u);
        const char16_t norm = folded ? folded : u;
        // An alef keeps its written form; the alef of liaison counts as plain.
        if (norm == kAlefUnit)
            letters.append({kAlefUnit, isHamzaAlef(u) ? u : kAlefUnit, 0, 0});
        else if (folded || alnum[u])
            letters.append({norm, 0, 0, 0});
        else
            endWord();
    }
    endWord();
    return out;
}

QueryWords queryWords(const QString& q, bool rich)
{
    constexpr char16_t kArabicQuestion = 0x061F;
    QueryWords result;
    QList<RichWord> richForms;
    if (!q.contains(kStar) && !q.contains(kQuestion) && !q.contains(QChar(kArabicQuestion))) {
        result.words = tokens(q);
        if (rich)
            result.rich = richWords(q);
        return result;
    }
    qsizetype i = 0;
    while (i < q.size()) {
        while (i < q.size() && isWhiteSpace(q[i].unicode()))
            ++i;
        const qsizetype start = i;
        while (i < q.size() && !isWhiteSpace(q[i].unicode()))
            ++i;
        if (i == start)
            continue;
        QString piece = q.mid(start, i - start);
        piece.replace(QChar(kArabicQuestion), QChar(kQuestion));
        while (piece.endsWith(kQuestion))
            piece.chop(1);
        if (isWild(piece)) {
            if (const auto p = pattern(piece)) {
                result.words.append(*p);
                // The letters written before the first wildcard keep their
                // alef forms and marks, as a whole word's do.
                qsizetype literal = 0;
                while (literal < piece.size() && piece[literal] != kStar && piece[literal] != kQuestion)
                    ++literal;
                const QList<RichWord> written = rich ? richWords(piece.left(literal)) : QList<RichWord>();
                richForms.append({*p, written.size() == 1 ? written.first().letters : QList<RichLetter>()});
            }
        } else {
            result.words += tokens(piece);
            if (rich)
                richForms += richWords(piece);
        }
    }
    if (rich)
        result.rich = std::move(richForms);
    return result;
}

// Tries the query letters at each of the first page offsets, and also without
// the query's article, so a page word with a conjunction or preposition in
// front still carries them. The last letter may differ or be missing (a
// suffix or a folded ending), but where letters agree the alef form and the
// marks asked for must be written on the page.
bool rawOK(const QList<RichLetter>& q, const QList<RichLetter>& w, bool hamza, bool marks)
{
    constexpr char16_t kLamUnit = 0x0644;
    // How many leading page letters may be skipped (conjunctions,
    // prepositions, the article), plus one for the unshifted start.
    constexpr qsizetype kRawOffsets = 5;
    if (w.isEmpty())
        return false;
    QList<QList<RichLetter>> variants{q};
    // The article is written with a plain alef (or a wasla); أ, إ and آ
    // begin words such as ألا and إله, whose remainder would match almost
    // anything once its first two letters were dropped.
    if (q.size() >= 3 && q[0].norm == kAlefUnit && q[0].alif == kAlefUnit && q[1].norm == kLamUnit)
        variants.append(q.mid(2));
    const qsizetype offsets = std::min(w.size(), kRawOffsets);
    for (const QList<RichLetter>& v : variants) {
        if (v.isEmpty())
            return true;
        for (qsizetype o = 0; o < offsets; ++o) {
            bool ok = true;
            for (qsizetype k = 0; k < v.size() && ok; ++k) {
                const bool last = k == v.size() - 1;
                if (o + k >= w.size()) {
                    ok = last;
                    break;
                }
                const RichLetter& a = v[k];
                const RichLetter& b = w[o + k];
                if (a.norm != b.norm) {
                    ok = last;
                    break;
                }
                if (hamza && a.alif != 0 && (b.alif != 0 ? b.alif : b.norm) != a.alif)
                    ok = false;
                if (marks && ((a.m1 & b.m1) != a.m1 || (a.m2 & b.m2) != a.m2))
                    ok = false;
            }
            if (ok)
                return true;
        }
    }
    return false;
}

} // namespace quorvel::Arabic
