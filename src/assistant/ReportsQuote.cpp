// One verbatim quotation of a passage: the sentence chosen for the question,
// taken whole words at a time, never ending inside a name or a formula of
// blessing, and marked with «…» wherever it cuts a sentence.

#include "assistant/Reports.h"

#include "core/Arabic.h"
#include "core/Characters.h"

#include <algorithm>

namespace quorvel::Reports {

namespace {

// The window quoted when no sentence of a passage can be picked.
constexpr int kQuoteWindowChars = 280;
constexpr int kQuoteSentences = 6;
// How many words a quotation may grow by to finish a name or a formula,
// and reach on either side of a phrase to the ends of its sentence.
constexpr qsizetype kNameWords = 6;
constexpr qsizetype kPhraseReachWords = 40;

const QChar ellipsis(0x2026);

// One word of a passage: where it stands and its normal form (empty for
// punctuation or a number's marks alone).
struct Word {
    qsizetype from = 0;
    qsizetype to = 0;
    QString norm;
};

QList<Word> wordsOf(const QString& text)
{
    QList<Word> words;
    qsizetype i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        const qsizetype from = i;
        while (i < text.size() && !text[i].isSpace())
            ++i;
        if (i > from)
            words.append({from, i, Arabic::normalize(text.mid(from, i - from))});
    }
    return words;
}

bool isSentenceEnd(QChar c)
{
    return c == u'.' || c == u'؟' || c == u'!' || c == u'؛' || c == u'?' || c == u':';
}

// Whether a sentence (or a line, which in these books is a paragraph or a
// heading) ends between two words.
bool endsBetween(const QString& text, qsizetype left, qsizetype right)
{
    if (left > 0 && isSentenceEnd(text[left - 1]))
        return true;
    for (qsizetype k = left; k < right; ++k) {
        if (text[k] == u'\n')
            return true;
    }
    return false;
}

// The words that join a name to the next one: a quotation ending on one
// has cut the name («… بعتبة بن»).
bool joinsName(const QString& norm)
{
    static const QSet<QString> words{QStringLiteral("بن"), QStringLiteral("ابن"), QStringLiteral("بنت"),
                                     QStringLiteral("ابو"), QStringLiteral("ابي"), QStringLiteral("ابا"),
                                     QStringLiteral("ام"), QStringLiteral("عبد"), QStringLiteral("ذو"),
                                     QStringLiteral("ذي")};
    return words.contains(norm);
}

// Formulas of blessing and praise, in normal form, longest first so that the
// fuller one is taken where two begin alike.
const QList<QStringList>& formulas()
{
    static const QList<QStringList> table = [] {
        const QStringList texts{
            QStringLiteral("صلي الله عليه وعلي اله وسلم"), QStringLiteral("صلي الله عليه واله وسلم"),
            QStringLiteral("صلي الله عليه وسلم"), QStringLiteral("صلي الله عليه"),
            QStringLiteral("رضي الله عنهما"), QStringLiteral("رضي الله عنهم"), QStringLiteral("رضي الله عنها"),
            QStringLiteral("رضي الله عنه"), QStringLiteral("عليهم السلام"), QStringLiteral("عليه السلام"),
            QStringLiteral("رحمهم الله"), QStringLiteral("رحمه الله"), QStringLiteral("سبحانه وتعالي"),
            QStringLiteral("تبارك وتعالي"), QStringLiteral("عز وجل"), QStringLiteral("جل وعز"),
            QStringLiteral("جل ثناؤه"), QStringLiteral("جل جلاله")};
        QList<QStringList> out;
        for (const QString& t : texts)
            out << t.split(u' ');
        return out;
    }();
    return table;
}

// The words [first, last] of every formula in the passage.
QList<std::pair<qsizetype, qsizetype>> formulaSpans(const QList<Word>& words)
{
    QList<std::pair<qsizetype, qsizetype>> spans;
    for (qsizetype i = 0; i < words.size(); ++i) {
        for (const QStringList& f : formulas()) {
            if (i + f.size() > words.size())
                continue;
            bool same = true;
            for (qsizetype k = 0; same && k < f.size(); ++k)
                same = words[i + k].norm == f[k];
            if (same) {
                spans.append({i, i + f.size() - 1});
                i += f.size() - 1;
                break;
            }
        }
    }
    return spans;
}

// The words of the passage from `first` to `last` grown so that neither end
// falls inside a formula or a name: a start inside a formula moves past it,
// an end inside one moves to its end; an end on a word that joins a name
// takes the words that finish the name, and a start on «بن» the name before.
// Where the passage ends first, the broken name is left out instead.
std::pair<qsizetype, qsizetype> wholeNames(const QString& text, const QList<Word>& words, qsizetype first,
                                           qsizetype last)
{
    for (const auto& [from, to] : formulaSpans(words)) {
        if (from < first && first <= to && to < last)
            first = to + 1;
        if (from <= last && last < to)
            last = to;
    }
    const auto isMark = [&](qsizetype i) { return words[i].norm.isEmpty(); };
    // A word closing its sentence («على فراش أبي.») joins nothing.
    const auto joinsNext = [&](qsizetype i) { return joinsName(words[i].norm) && !isSentenceEnd(text[words[i].to - 1]); };
    for (qsizetype grown = 0; grown < kNameWords && last + 1 < words.size() && !isMark(last + 1) && joinsNext(last); ++grown)
        ++last;
    while (last > first && joinsNext(last))
        --last;
    const auto inName = [&](qsizetype i) {
        return words[i].norm == QStringLiteral("بن") || words[i].norm == QStringLiteral("بنت");
    };
    for (qsizetype grown = 0; grown < kNameWords && first > 0 && !isMark(first - 1) && inName(first); ++grown)
        --first;
    for (bool skipped = false; first < last && (inName(first) || (skipped && joinsName(words[first - 1].norm)));
         skipped = true)
        ++first;
    return {first, last};
}

// The quotation of words [first, last] of `text`, «…» where a sentence goes on
// beyond either end (a passage cut from its page says so by its own «…»).
QString quotedWords(const QString& text, const QList<Word>& words, qsizetype first, qsizetype last)
{
    std::tie(first, last) = wholeNames(text, words, first, last);
    const auto isCut = [&](const Word& w) { return w.norm.isEmpty() && text.mid(w.from, w.to - w.from).contains(ellipsis); };
    // The window's own marks are the passage's edges, not words to quote.
    while (first < last && isCut(words[first]))
        ++first;
    while (last > first && isCut(words[last]))
        --last;
    const bool cutBefore = first > 0 && !endsBetween(text, words[first - 1].to, words[first].from);
    const bool cutAfter = last + 1 < words.size() && !endsBetween(text, words[last].to, words[last + 1].from);
    QString s = text.mid(words[first].from, words[last].to - words[first].from);
    s.replace(u'\n', u' ');
    return (cutBefore ? QStringLiteral("… ") : QString()) + s + (cutAfter ? QStringLiteral(" …") : QString());
}

// The words [first, last] that a piece of the passage's text covers.
std::optional<std::pair<qsizetype, qsizetype>> wordsCovering(const QString& text, const QList<Word>& words,
                                                            const QString& piece)
{
    const QString trimmed = Characters::trim(piece, [](QChar c) { return c.isSpace() || c == ellipsis; }).toString();
    const qsizetype at = trimmed.isEmpty() ? -1 : text.indexOf(trimmed);
    if (at < 0)
        return std::nullopt;
    const qsizetype end = at + trimmed.size();
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words[i].to > at && words[i].from < end) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0)
        return std::nullopt;
    return std::pair{first, last};
}

// The sentence around the first place the passage holds `phrase` (normal
// form, words in order), reaching at most a few dozen words either way.
std::optional<std::pair<qsizetype, qsizetype>> sentenceHolding(const QString& text, const QList<Word>& words,
                                                              const QString& phrase)
{
    const QStringList want = phrase.split(u' ', Qt::SkipEmptyParts);
    if (want.isEmpty())
        return std::nullopt;
    QList<qsizetype> spoken; // the words that are words, not marks
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (!words[i].norm.isEmpty())
            spoken << i;
    }
    for (qsizetype s = 0; s + want.size() <= spoken.size(); ++s) {
        bool same = true;
        for (qsizetype k = 0; same && k < want.size(); ++k)
            same = words[spoken[s + k]].norm == want[k];
        if (!same)
            continue;
        qsizetype first = spoken[s];
        qsizetype last = spoken[s + want.size() - 1];
        for (qsizetype n = 0; n < kPhraseReachWords && first > 0 && !endsBetween(text, words[first - 1].to, words[first].from); ++n)
            --first;
        for (qsizetype n = 0; n < kPhraseReachWords && last + 1 < words.size() && !endsBetween(text, words[last].to, words[last + 1].from); ++n)
            ++last;
        return std::pair{first, last};
    }
    return std::nullopt;
}

} // namespace

QString quotedStretch(const QString& text, qsizetype from, qsizetype to)
{
    const QList<Word> words = wordsOf(text);
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words[i].to > from && words[i].from < to) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return first < 0 ? QString() : quotedWords(text, words, first, last);
}

QString quote(const QString& q, const Passage& p, const std::optional<QString>& containing)
{
    QStringList sentences;
    for (const ExtractedSentence& s : AIAssistant::extractive(q, {p}, kQuoteSentences))
        sentences << s.text;
    const QList<Word> words = wordsOf(p.text);
    std::optional<std::pair<qsizetype, qsizetype>> span;
    if (containing && !containing->isEmpty()) {
        QStringList holding;
        for (const QString& s : sentences) {
            if (Arabic::normalize(s).contains(*containing))
                holding << s;
        }
        if (!holding.isEmpty())
            sentences = holding;
        // No one sentence holds the text (it runs across a stop or a line):
        // the sentence around the page's own words, never a heading that
        // shares a few of them.
        else
            span = sentenceHolding(p.text, words, *containing);
    } else {
        // A sentence that holds a key as a word before one that holds it
        // only inside another word.
        QList<std::shared_ptr<const Arabic::FormSet>> forms;
        for (const QString& key : keys(q))
            forms << Arabic::wordForms(key);
        const auto asWords = [&](const QString& text) {
            QStringList held;
            for (const QString& w : wordsAsWritten(text)) {
                if (std::any_of(forms.begin(), forms.end(), [&](const auto& f) { return f->contains(w); }))
                    held << w;
            }
            return held;
        };
        QStringList holding;
        for (const QString& s : sentences) {
            if (!asWords(s).isEmpty())
                holding << s;
        }
        // One that names the word with its article before one that only holds a form of it.
        const QSet<QString> named = namedForms(q);
        std::stable_partition(holding.begin(), holding.end(), [&](const QString& s) {
            const QStringList words = Arabic::tokens(s);
            return std::any_of(words.begin(), words.end(), [&](const QString& w) { return named.contains(w); });
        });
        if (!holding.isEmpty())
            sentences = holding;
        // No sentence holds them as words: the window around the words themselves.
        else if (const QStringList held = asWords(p.text); !held.isEmpty())
            sentences = {AIAssistant::window(p.text, held, kQuoteWindowChars)};
    }
    if (!span) {
        const QString s = sentences.isEmpty() ? AIAssistant::window(p.text, keys(q), kQuoteWindowChars) : sentences.first();
        span = wordsCovering(p.text, words, s);
    }
    const QString quoted = span ? quotedWords(p.text, words, span->first, span->second) : QString();
    return QStringLiteral("«") + quoted + QStringLiteral("» [") + QString::number(p.n) + u']';
}

} // namespace quorvel::Reports
