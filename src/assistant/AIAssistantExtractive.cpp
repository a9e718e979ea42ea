#include "assistant/AIAssistant.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/PyRegex.h"

#include <algorithm>

namespace quorvel::AIAssistant {

namespace {

// Sentence lengths kept, in characters.
constexpr qsizetype kMinSentenceChars = 25;
constexpr qsizetype kMaxSentenceChars = 420;
// Characters of the normal form that make two sentences the same.
constexpr qsizetype kDuplicateKeyChars = 60;

const PyRegex::Regex& sentencePattern()
{
    static const PyRegex::Regex re = PyRegex::compile(QStringLiteral("[^.؟!؛\n]+[.؟!؛]?"));
    return re;
}

// Spaces, tabs and the ellipses that cut windows carry at their ends.
bool isTrimmed(QChar c) { return c == u' ' || c == u'\t' || c == QChar(0x2026); }

QStringView trimSentence(QStringView s)
{
    return Characters::trim(s, isTrimmed);
}

struct Candidate {
    int score = 0;
    qsizetype length = 0;
    QString sentence;
    int n = 0;
};

} // namespace

QList<ExtractedSentence> extractive(const QString& question, const QList<Passage>& passages, int k)
{
    const QStringList q = terms(question);
    if (q.isEmpty() || k <= 0)
        return {};

    QList<Candidate> candidates;
    QSet<QString> keys;
    for (const Passage& passage : passages) {
        for (const PyRegex::Range& r : PyRegex::allMatches(sentencePattern(), passage.text)) {
            const QStringView sentence = trimSentence(QStringView(passage.text).mid(r.start, r.length));
            const qsizetype length = Characters::count(sentence, kMaxSentenceChars);
            if (length < kMinSentenceChars || length > kMaxSentenceChars)
                continue;
            const QString text = sentence.toString();
            const QStringList words = Arabic::tokens(text);
            int score = 0;
            for (const QString& term : q) {
                if (std::any_of(words.begin(), words.end(), [&](const QString& w) { return w.contains(term); }))
                    ++score;
            }
            if (score == 0)
                continue;
            const QString norm = Arabic::normalize(text);
            const QString key = norm.left(Characters::endOfFirst(norm, kDuplicateKeyChars));
            if (keys.contains(key))
                continue;
            keys.insert(key);
            candidates.append({score, length, text, passage.n});
        }
    }

    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.score != b.score)
            return a.score > b.score;
        return a.length < b.length;
    });
    QList<ExtractedSentence> out;
    for (qsizetype i = 0; i < std::min<qsizetype>(k, candidates.size()); ++i)
        out.append({candidates[i].sentence, candidates[i].n});
    return out;
}

} // namespace quorvel::AIAssistant
