#include "core/Arabic.h"
#include "core/ArabicPlain.h"

#include <unicode/utf16.h>

#include <algorithm>

namespace quorvel::Arabic {

namespace {

constexpr char16_t kSpace = u' ';

struct WordSpan {
    qsizetype start = 0; // in norm
    qsizetype end = 0;
    QString text;        // rasm-folded
};

// The stored-text range of the normalised units [start, end), stretched over
// the marks and tatweel written after the last letter.
Range originRange(const Index& idx, qsizetype start, qsizetype end)
{
    Q_ASSERT(start >= 0 && start < end && end <= idx.norm.size());
    const qsizetype location = idx.map[start];
    qsizetype stop = idx.map[end - 1] + 1;
    // A supplementary letter maps its two units to its two offsets, so the
    // stop is already past the pair.
    while (stop < idx.origin.size() && isDrop(idx.origin[stop].unicode()))
        ++stop;
    return {location, stop - location};
}

QList<WordSpan> wordsOf(const QString& norm)
{
    QList<WordSpan> words;
    const qsizetype n = norm.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && norm[i] == kSpace)
            ++i;
        if (i == n)
            break;
        const qsizetype start = i;
        while (i < n && norm[i] != kSpace)
            ++i;
        words.append({start, i, rasmWord(norm.mid(start, i - start))});
    }
    return words;
}

// Prefix and substring matches widen to the whole word (or words) holding
// them, so each word is highlighted at most once.
QList<Range> scanRanges(const QString& term, const Index& idx, bool anywhere)
{
    QList<Range> out;
    const QStringView q(term);
    const QStringView norm(idx.norm);
    if (q.isEmpty())
        return out;
    qsizetype p = 0;
    while (p + q.size() <= norm.size()) {
        const bool atWordStart = p == 0 || norm[p - 1] == kSpace;
        if ((anywhere || atWordStart) && norm.mid(p, q.size()) == q) {
            qsizetype start = p;
            while (start > 0 && norm[start - 1] != kSpace)
                --start;
            qsizetype end = p + q.size();
            while (end < norm.size() && norm[end] != kSpace)
                ++end;
            out.append(originRange(idx, start, end));
            p = end;
        } else {
            ++p;
        }
    }
    return out;
}

QList<Range> wordRanges(const QString& term, const Index& idx, Match mode)
{
    QList<Range> out;
    QList<Tok> toks;
    for (const QString& piece : term.split(kSpace, Qt::SkipEmptyParts)) {
        // In stem mode a number or a wildcard pattern still matches as written.
        const bool asWritten = mode != Match::stem || isDigits(piece) || isWild(piece);
        toks.append(asWritten ? Tok(piece, mode == Match::affix, false, true, true)
                              : Tok::stemTok(piece));
    }
    const QList<WordSpan> words = wordsOf(idx.norm);
    const qsizetype n = toks.size();
    const qsizetype m = words.size();
    if (n == 0 || n > m)
        return out;
    qsizetype s = 0;
    while (s + n <= m) {
        bool all = true;
        for (qsizetype k = 0; k < n && all; ++k)
            all = toks[k].match(words[s + k].text);
        if (all) {
            out.append(originRange(idx, words[s].start, words[s + n - 1].end));
            s += n;
        } else {
            ++s;
        }
    }
    return out;
}

} // namespace

namespace {

// The normal form without rasm folding, built alongside the offset of every
// unit's source; it differs from `normalize(s, false)` only in keeping a
// trailing space.
Index ownIndex(const QString& s)
{
    const auto& alnum = alnumTable();
    Index idx;
    idx.origin = s;
    const qsizetype n = s.size();
    idx.norm.reserve(n);
    idx.map.reserve(n);
    const char16_t* in = reinterpret_cast<const char16_t*>(s.constData());
    bool atSeparator = true;
    const auto separate = [&](qsizetype at) {
        if (!atSeparator) {
            idx.norm.append(QChar(kSpace));
            idx.map.append(at);
            atSeparator = true;
        }
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = in[i];
        if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(in[i + 1])) {
            if (isAlnumScalar(char32_t(U16_GET_SUPPLEMENTARY(u, in[i + 1])))) {
                idx.norm.append(QChar(u));
                idx.map.append(i);
                idx.norm.append(QChar(in[i + 1]));
                idx.map.append(i + 1);
                atSeparator = false;
            } else {
                separate(i);
            }
            ++i;
            continue;
        }
        if (isSeatMark(u)) {
            // Joined to the letter before it, whose unit keeps its place.
            if (const char16_t seat = seatAt(s, i))
                idx.norm.back() = QChar(mapped(seat).value_or(seat));
            continue;
        }
        if (isDrop(u))
            continue;
        if (const auto folded = mapped(u)) {
            idx.norm.append(QChar(*folded));
            idx.map.append(i);
            atSeparator = false;
        } else if (alnum[u]) {
            idx.norm.append(QChar(u));
            idx.map.append(i);
            atSeparator = false;
        } else {
            separate(i);
        }
    }
    return idx;
}

QList<Range> ownRanges(const QString& term, const Index& idx, Match mode)
{
    switch (mode) {
    case Match::prefix:
        return scanRanges(term, idx, false);
    case Match::anywhere:
        return scanRanges(term, idx, true);
    case Match::word:
    case Match::affix:
    case Match::stem:
        return wordRanges(term, idx, mode);
    }
    return {};
}

} // namespace

Index index(const QString& s)
{
    Index idx = ownIndex(s);
    PlainWords words = plainWords(s);
    if (!words.text.isEmpty()) {
        idx.plain = std::make_shared<const Index>(ownIndex(words.text));
        idx.plainSource = std::move(words.source);
    }
    return idx;
}

QList<Range> ranges(const QString& term, const Index& idx, Match mode)
{
    QList<Range> out = ownRanges(term, idx, mode);
    if (!idx.plain)
        return out;
    // A match in the plain spelling marks the stored words it was written
    // from, unless they are marked already.
    const auto overlaps = [&](const Range& r) {
        return std::any_of(out.begin(), out.end(), [&](const Range& o) {
            return r.location < o.location + o.length && o.location < r.location + r.length;
        });
    };
    for (const Range& r : ownRanges(term, *idx.plain, mode)) {
        const qsizetype start = idx.plainSource[r.location].first;
        const qsizetype end = idx.plainSource[r.location + r.length - 1].second;
        const Range stored{start, end - start};
        if (stored.length > 0 && !overlaps(stored))
            out.append(stored);
    }
    std::sort(out.begin(), out.end(), [](const Range& a, const Range& b) { return a.location < b.location; });
    return out;
}

} // namespace quorvel::Arabic
