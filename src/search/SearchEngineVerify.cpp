// Exact verification: the conditions the full-text index cannot decide,
// settled on the words of one text.

#include "search/SearchEngine.h"

#include "core/Library.h"

#include <algorithm>

namespace quorvel {

namespace {

// The exhaustive search of the unordered near case tries at most this many
// combinations of one occurrence per phrase; past it, an anchored scan.
constexpr qint64 maxNearCombinations = 20000;
constexpr qint64 combinationCountCap = qint64(1) << 30;

struct Span {
    int start;
    int end;
};

bool spanLess(const Span& a, const Span& b)
{
    return a.start != b.start ? a.start < b.start : a.end < b.end;
}

// The spans lie within the window when the last one (by start, then end)
// starts at most nearDistance words after the first one ends.
bool windowOK(const std::vector<Span>& spans)
{
    if (spans.size() < 2)
        return true;
    const Span lo = *std::min_element(spans.begin(), spans.end(), spanLess);
    const Span hi = *std::max_element(spans.begin(), spans.end(), spanLess);
    return hi.start - lo.end <= SearchEngine::nearDistance;
}

bool orderedNear(const QList<QList<int>>& occ, const QList<int>& lens, qsizetype k, int from,
                 std::optional<int> anchor)
{
    if (k == occ.size())
        return true;
    for (int p : occ[k]) {
        if (p < from)
            continue;
        const int a = anchor ? *anchor : p + lens[k];
        if (p - a > SearchEngine::nearDistance)
            break; // later occurrences lie farther still
        if (orderedNear(occ, lens, k + 1, p + lens[k], a))
            return true;
    }
    return false;
}

bool exhaustiveNear(const QList<QList<int>>& occ, const QList<int>& lens, qsizetype k,
                    std::vector<Span>& spans)
{
    if (k == occ.size())
        return windowOK(spans);
    for (int p : occ[k]) {
        spans.push_back({p, p + lens[k]});
        const bool ok = exhaustiveNear(occ, lens, k + 1, spans);
        spans.pop_back();
        if (ok)
            return true;
    }
    return false;
}

} // namespace

QList<int> SearchEngine::positions(const Phrase& phrase, const QStringList& words,
                                   const QList<Arabic::RichWord>* rich, const SearchQuery& q)
{
    QList<int> out;
    const qsizetype n = qsizetype(phrase.toks.size());
    if (n == 0 || words.size() < n)
        return out;
    const bool compareRich = phrase.rich && rich;
    for (qsizetype i = 0; i + n <= words.size(); ++i) {
        bool ok = true;
        for (qsizetype j = 0; j < n && ok; ++j) {
            const Arabic::Tok& tok = phrase.toks[size_t(j)];
            ok = tok.match(words[i + j]);
            if (ok && compareRich && !tok.digit && j < phrase.rich->size() && i + j < rich->size())
                ok = Arabic::rawOK((*phrase.rich)[j].letters, (*rich)[i + j].letters, q.hamza, q.tashkeel);
        }
        if (ok)
            out << int(i);
    }
    return out;
}

bool SearchEngine::orderNear(const QList<QList<int>>& occ, const QList<int>& lens, bool ordered, bool near)
{
    Q_ASSERT(occ.size() == lens.size() && !occ.isEmpty());
    if (ordered && !near) {
        int from = 0;
        for (qsizetype k = 0; k < occ.size(); ++k) {
            const auto it = std::find_if(occ[k].begin(), occ[k].end(), [from](int p) { return p >= from; });
            if (it == occ[k].end())
                return false;
            from = *it + lens[k];
        }
        return true;
    }
    if (ordered && near)
        return orderedNear(occ, lens, 0, 0, std::nullopt);
    if (!near)
        return true;

    qint64 count = 1;
    for (const QList<int>& list : occ)
        count = std::min(count * std::max<qint64>(list.size(), 1), combinationCountCap);
    if (count <= maxNearCombinations) {
        for (const QList<int>& list : occ)
            if (list.isEmpty())
                return false;
        std::vector<Span> spans;
        return exhaustiveNear(occ, lens, 0, spans);
    }
    // Anchored scan: each occurrence of each phrase, with every other phrase
    // at its first occurrence from there on.
    std::vector<Span> spans;
    for (qsizetype k = 0; k < occ.size(); ++k) {
        for (int a : occ[k]) {
            spans.clear();
            bool complete = true;
            for (qsizetype j = 0; j < occ.size() && complete; ++j) {
                if (j == k) {
                    spans.push_back({a, a + lens[k]});
                    continue;
                }
                const auto it = std::lower_bound(occ[j].begin(), occ[j].end(), a);
                if (it == occ[j].end())
                    complete = false;
                else
                    spans.push_back({*it, *it + lens[j]});
            }
            if (complete && windowOK(spans))
                return true;
        }
    }
    return false;
}

// Whether the words satisfy the whole plan: the and-phrases (all, or any
// one when alternatives), their order and nearness, one or-phrase, and no
// not-phrase. A plan without and- and or-phrases never passes.
bool SearchEngine::evaluate(const Plan& plan, const QStringList& words, const QList<Arabic::RichWord>* rich)
{
    const SearchQuery& q = plan.q;
    if (plan.ands.empty() && plan.ors.empty())
        return false;
    if (!plan.ands.empty()) {
        QList<QList<int>> occ;
        QList<int> lens;
        int present = 0;
        for (const Phrase& p : plan.ands) {
            occ << positions(p, words, rich, q);
            lens << int(p.toks.size());
            present += occ.last().isEmpty() ? 0 : 1;
        }
        const bool all = q.requireAll || q.ordered || q.near;
        if (all ? present < occ.size() : present == 0)
            return false;
        if (occ.size() >= 2 && (q.ordered || q.near) && !orderNear(occ, lens, q.ordered, q.near))
            return false;
    }
    if (!plan.ors.empty()) {
        bool any = false;
        for (const Phrase& p : plan.ors)
            if (!positions(p, words, rich, q).isEmpty()) {
                any = true;
                break;
            }
        if (!any)
            return false;
    }
    for (const Phrase& p : plan.nots)
        if (!positions(p, words, rich, q).isEmpty())
            return false;
    return true;
}

bool SearchEngine::evaluate(const Plan& plan, const QString& text)
{
    if (!plan.q.hamza && !plan.q.tashkeel)
        return evaluate(plan, Arabic::tokens(text), nullptr);
    const QList<Arabic::RichWord> rich = Arabic::richWords(text);
    QStringList words;
    words.reserve(rich.size());
    for (const Arabic::RichWord& w : rich)
        words << w.word;
    return evaluate(plan, words, &rich);
}

QString SearchEngine::sectionText(const SearchQuery& q, const QString& content)
{
    if (q.inMatn && q.inHawashi)
        return content;
    const auto [main, notes] = Library::splitFootnotes(content);
    QStringList taken;
    if (q.inMatn)
        taken << main;
    if (q.inHawashi && notes)
        taken << *notes;
    return taken.join('\n');
}

} // namespace quorvel
