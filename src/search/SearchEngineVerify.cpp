// Exact verification: the conditions the full-text index cannot decide,
// settled on the words of one text.

#include "search/SearchEngine.h"

#include "core/ArabicPlain.h"
#include "core/Library.h"
#include "search/NormalWords.h"
#include "search/PageIndex.h"

#include <QVarLengthArray>

#include <algorithm>
#include <limits>
#include <string>

namespace quorvel {

namespace {

// The exhaustive search of the unordered near case tries at most this many
// combinations of one occurrence per phrase; past it, an anchored scan.
constexpr qint64 kMaxNearCombinations = 20000;
constexpr qint64 kCombinationCountCap = qint64(1) << 30;

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

bool isDigitUnit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= 0x0660 && u <= 0x0669) || (u >= 0x06F0 && u <= 0x06F9);
}

// Tok::base over a word read in place.
bool baseMatch(const Arabic::Tok& tok, QStringView w)
{
    switch (tok.mode) {
    case Arabic::TokMode::exact:
        return w == tok.t || (tok.alts.size() >= 2 && tok.alts.contains(w));
    case Arabic::TokMode::affix:
        // The form set is keyed by whole strings.
        return tok.base(w.toString());
    case Arabic::TokMode::morph:
        return std::any_of(tok.heads.begin(), tok.heads.end(), [w](const QString& head) { return w.startsWith(head); });
    case Arabic::TokMode::wild:
        return Arabic::globMatch(tok.glob, w);
    }
    return false;
}

// Tok::match over a word read in place: the same rule, a number glued to the
// end of the word tried without it first.
bool wordMatch(const Arabic::Tok& tok, QStringView w)
{
    if (tok.digit)
        return tok.digitsExact ? w == tok.t : tok.match(w.toString());
    if (!tok.tHasDigit) {
        qsizetype end = w.size();
        while (end > 0 && isDigitUnit(w[end - 1]))
            --end;
        if (end != w.size() && end != 0 && baseMatch(tok, w.first(end)))
            return true;
    }
    return baseMatch(tok, w);
}

bool wordMatch(const Arabic::Tok& tok, const QString& w)
{
    return tok.match(w);
}

// Whether the phrase stands in the words; its start positions are appended
// to `out`, and without one the search stops at the first.
template <typename Words>
bool positionsInto(QList<int>* out, const SearchEngine::Phrase& phrase, const Words& words,
                   const QList<Arabic::RichWord>* rich, const SearchQuery& q)
{
    const qsizetype n = qsizetype(phrase.toks.size());
    if (n == 0 || words.size() < n)
        return false;
    bool found = false;
    const bool compareRich = phrase.rich && rich;
    // A word of another script is compared by its full-text term, as the
    // index compares it (its case and accents aside), and has no hamza or
    // marks to compare.
    QVarLengthArray<bool, 8> foreign(n);
    for (qsizetype j = 0; j < n; ++j)
        foreign[j] = PageIndex::foreign(phrase.toks[size_t(j)].t);
    for (qsizetype i = 0; i + n <= words.size(); ++i) {
        bool ok = true;
        for (qsizetype j = 0; j < n && ok; ++j) {
            const Arabic::Tok& tok = phrase.toks[size_t(j)];
            ok = wordMatch(tok, words[i + j]);
            if (foreign[j]) {
                const QStringView word(words[i + j]);
                if (!ok && PageIndex::foreign(word))
                    ok = wordMatch(tok, PageIndex::queryTerm(word.toString()));
                continue;
            }
            if (ok && compareRich && !tok.digit && j < phrase.rich->size() && i + j < rich->size())
                ok = Arabic::rawOK((*phrase.rich)[j].letters, (*rich)[i + j].letters, q.hamza, q.tashkeel);
        }
        if (ok) {
            found = true;
            if (!out)
                return true;
            *out << int(i);
        }
    }
    return found;
}

template <typename Words>
QList<int> positionsIn(const SearchEngine::Phrase& phrase, const Words& words, const QList<Arabic::RichWord>* rich,
                       const SearchQuery& q)
{
    QList<int> out;
    positionsInto(&out, phrase, words, rich, q);
    return out;
}

template <typename Words>
bool holds(const SearchEngine::Phrase& phrase, const Words& words, const QList<Arabic::RichWord>* rich,
           const SearchQuery& q)
{
    return positionsInto(nullptr, phrase, words, rich, q);
}

// Whether the words satisfy the whole plan: the and-phrases (all, or any
// one when alternatives), their order and nearness, one or-phrase, and no
// not-phrase. A plan without and- and or-phrases never passes.
template <typename Words>
bool evaluateWords(const SearchEngine::Plan& plan, const Words& words, const QList<Arabic::RichWord>* rich)
{
    const SearchQuery& q = plan.q;
    if (plan.ands.empty() && plan.ors.empty())
        return false;
    if (!plan.ands.empty()) {
        const bool all = q.requireAll || q.ordered || q.near;
        if (!all) {
            if (std::none_of(plan.ands.begin(), plan.ands.end(),
                             [&](const SearchEngine::Phrase& p) { return holds(p, words, rich, q); }))
                return false;
        } else if (plan.ands.size() < 2 || !(q.ordered || q.near)) {
            for (const SearchEngine::Phrase& p : plan.ands)
                if (!holds(p, words, rich, q))
                    return false;
        } else {
            // Kept with their room between calls: a run tests many texts.
            thread_local QList<QList<int>> occ;
            thread_local QList<int> lens;
            occ.resize(qsizetype(plan.ands.size()));
            lens.resize(qsizetype(plan.ands.size()));
            for (qsizetype k = 0; k < occ.size(); ++k) {
                const SearchEngine::Phrase& p = plan.ands[std::size_t(k)];
                occ[k].clear();
                if (!positionsInto(&occ[k], p, words, rich, q))
                    return false;
                lens[k] = int(p.toks.size());
            }
            if (!SearchEngine::orderNear(occ, lens, q.ordered, q.near))
                return false;
        }
    }
    if (!plan.ors.empty()
        && std::none_of(plan.ors.begin(), plan.ors.end(),
                        [&](const SearchEngine::Phrase& p) { return holds(p, words, rich, q); }))
        return false;
    for (const SearchEngine::Phrase& p : plan.nots)
        if (holds(p, words, rich, q))
            return false;
    return true;
}

} // namespace

bool NormalWords::evaluate(const SearchEngine::Plan& plan, QStringView normal)
{
    // Kept with its room between calls: a run tests many texts.
    thread_local QList<QStringView> words;
    words.clear();
    const qsizetype size = normal.size();
    for (qsizetype start = 0; start < size;) {
        qsizetype end = start;
        while (end < size && normal[end] != u' ')
            ++end;
        if (end > start)
            words.append(normal.sliced(start, end - start));
        start = end + 1;
    }
    return evaluateWords(plan, words, nullptr);
}

QList<int> SearchEngine::positions(const Phrase& phrase, const QStringList& words,
                                   const QList<Arabic::RichWord>* rich, const SearchQuery& q)
{
    return positionsIn(phrase, words, rich, q);
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
        count = std::min(count * std::max<qint64>(list.size(), 1), kCombinationCountCap);
    if (count <= kMaxNearCombinations) {
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

namespace {

// An order test's argument read once: "column;near;lengths;groups", the
// lengths in words of the and-phrases and, for each FTS5 phrase of the
// expression in its order, the and-phrase it writes (-1 for none).
struct OrderArgument {
    int column = 0;
    bool near = false;
    QList<int> lengths;
    std::vector<int> groups;
    bool valid = false;

    static QList<int> numbers(std::string_view text)
    {
        QList<int> out;
        while (!text.empty()) {
            const std::size_t comma = text.find(',');
            const std::string_view item = text.substr(0, comma);
            int value = 0;
            bool negative = false;
            for (std::size_t i = 0; i < item.size(); ++i) {
                if (i == 0 && item[i] == '-')
                    negative = true;
                else if (item[i] >= '0' && item[i] <= '9')
                    value = value * 10 + (item[i] - '0');
                else
                    return {};
            }
            out << (negative ? -value : value);
            text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        }
        return out;
    }

    explicit OrderArgument(std::string_view text)
    {
        std::string_view fields[4];
        for (std::string_view& field : fields) {
            const std::size_t semi = text.find(';');
            field = text.substr(0, semi);
            text = semi == std::string_view::npos ? std::string_view{} : text.substr(semi + 1);
        }
        const QList<int> head = numbers(fields[0]);
        const QList<int> nearness = numbers(fields[1]);
        lengths = numbers(fields[2]);
        const QList<int> phraseGroups = numbers(fields[3]);
        groups.assign(phraseGroups.begin(), phraseGroups.end());
        valid = head.size() == 1 && nearness.size() == 1 && lengths.size() >= 2
            && std::all_of(groups.begin(), groups.end(), [&](int g) { return g < lengths.size(); });
        column = valid ? head.first() : 0;
        near = valid && nearness.first() != 0;
    }
};

} // namespace

bool SearchEngine::phrasesInOrder(const SQLiteDB::FtsRow& row, std::string_view argument)
{
    // One expression per run: its argument is read once per thread.
    thread_local std::string lastText;
    thread_local std::optional<OrderArgument> last;
    if (!last || lastText != argument) {
        lastText.assign(argument);
        last.emplace(argument);
    }
    const OrderArgument& arg = *last;
    if (!arg.valid)
        return true;
    const auto groupOf = [&](const SQLiteDB::FtsInstance& at) {
        return at.phrase < 0 || std::size_t(at.phrase) >= arg.groups.size() ? -1 : arg.groups[std::size_t(at.phrase)];
    };
    const auto sizeAgrees = [&](const SQLiteDB::FtsInstance& at, int group) {
        return std::size_t(at.phrase) < row.phraseSizes.size()
            && row.phraseSizes[std::size_t(at.phrase)] == arg.lengths[group];
    };
    // Over the page index's whole page the main text comes before the
    // footnotes; the seam repeats the words around the line between them.
    const bool wholePage = arg.column == SearchEngine::wholePageColumns;
    if (!arg.near) {
        // orderNear's greedy walk, in place: each phrase in turn at its first
        // offset from the end of the one before. On the whole page a place
        // is (column, offset) over the main text and footnotes, which holds
        // every occurrence of a phrase of one word.
        const auto place = [](int column, int offset) { return (std::int64_t(column) << 32) + offset; };
        std::int64_t from = 0;
        for (int group = 0; group < int(arg.lengths.size()); ++group) {
            std::int64_t first = std::numeric_limits<std::int64_t>::max();
            for (const SQLiteDB::FtsInstance& at : row.instances) {
                if ((wholePage ? at.column > 1 : at.column != arg.column) || groupOf(at) != group)
                    continue;
                if (!sizeAgrees(at, group))
                    return true;
                const std::int64_t here = place(wholePage ? at.column : 0, at.offset);
                if (here >= from && here < first)
                    first = here;
            }
            if (first == std::numeric_limits<std::int64_t>::max())
                return false;
            from = first + arg.lengths[group];
        }
        return true;
    }
    // A window of near phrases crossing the footnote line lies whole in the
    // seam (the planner keeps windows that short), so on the whole page
    // each column is tried alone.
    const int firstColumn = wholePage ? 0 : arg.column;
    const int lastColumn = wholePage ? 2 : arg.column;
    // Kept with their room between rows.
    thread_local QList<QList<int>> occurrences;
    for (int column = firstColumn; column <= lastColumn; ++column) {
        occurrences.resize(arg.lengths.size());
        for (QList<int>& list : occurrences)
            list.clear();
        for (const SQLiteDB::FtsInstance& at : row.instances) {
            const int group = groupOf(at);
            if (at.column != column || group < 0)
                continue;
            if (!sizeAgrees(at, group))
                return true;
            occurrences[group] << at.offset;
        }
        // A phrase's offsets come in order; only a word written in several
        // forms merges lists.
        bool all = true;
        for (QList<int>& list : occurrences) {
            if (list.isEmpty()) {
                all = false;
                break;
            }
            if (!std::is_sorted(list.begin(), list.end())) {
                std::sort(list.begin(), list.end());
                list.erase(std::unique(list.begin(), list.end()), list.end());
            }
        }
        if (all && orderNear(occurrences, arg.lengths, true, arg.near))
            return true;
    }
    return false;
}

bool SearchEngine::evaluate(const Plan& plan, const QStringList& words, const QList<Arabic::RichWord>* rich)
{
    return evaluateWords(plan, words, rich);
}

bool SearchEngine::evaluate(const Plan& plan, const QString& text)
{
    if (!plan.q.hamza && !plan.q.tashkeel)
        return NormalWords::evaluate(plan, Arabic::normalize(text, true));
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
        return Library::searchedContent(content);
    const auto [main, notes] = Library::splitFootnotes(content);
    QStringList taken;
    if (q.inMatn)
        taken << Arabic::searchedText(main);
    if (q.inHawashi && notes)
        taken << Arabic::searchedText(*notes);
    return taken.join('\n');
}

} // namespace quorvel
