#include "assistant/AIAssistant.h"

#include "core/Characters.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

Passage passage(int n, const QString& text)
{
    Passage p;
    p.n = n;
    p.text = text;
    return p;
}

// A sentence of exactly `chars` characters holding the word الصلاة, in
// diacritised letters (each letter with its mark is one character).
QString sentenceOf(int chars)
{
    QString s = QStringLiteral("الصلاة ");
    while (Characters::count(s) < chars)
        s += QStringLiteral("بَ");
    return s;
}

QStringList texts(const QList<ExtractedSentence>& sentences)
{
    QStringList out;
    for (const ExtractedSentence& s : sentences)
        out << s.text;
    return out;
}

} // namespace

TEST(ExtractiveSentences, lengthsAreCountedInCharactersFrom25To420)
{
    const QString question = QStringLiteral("الصلاة");
    for (const int chars : {24, 25, 420, 421}) {
        // The full stop belongs to the sentence.
        const QString s = sentenceOf(chars - 1) + u'.';
        ASSERT_EQ(Characters::count(s), chars);
        ASSERT_GT(s.size(), chars);
        const auto got = AIAssistant::extractive(question, {passage(1, QStringLiteral("… ") + s + QStringLiteral(" وبعده"))}, 4);
        const bool kept = chars == 25 || chars == 420;
        ASSERT_EQ(got.size(), kept ? 1 : 0) << chars;
        if (kept) {
            EXPECT_EQ(got[0].text, s);
            EXPECT_EQ(got[0].n, 1);
        }
    }
    // A long run without any sentence mark is one sentence, and too long.
    EXPECT_TRUE(AIAssistant::extractive(question, {passage(1, sentenceOf(421))}, 4).isEmpty());
}

TEST(ExtractiveSentences, aTermInsideALongerWordScores)
{
    const QString s = QStringLiteral("وأقام الرجل والصلاة في وقتها الأول");
    const auto got = AIAssistant::extractive(QStringLiteral("ما الصلاة"), {passage(3, s)}, 4);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].n, 3);
}

TEST(ExtractiveSentences, duplicatesKeepTheEarlierPassageAndTiesKeepPassageOrder)
{
    const QString shared = QStringLiteral("من ترك الصلاة متعمدا فقد برئت منه الذمة.");
    const QString twoTerms = QStringLiteral("الصلاة في الجماعة تفضل صلاة الفذ بسبع وعشرين درجة.");
    const QString shortOne = QStringLiteral("أول ما يحاسب عليه العبد الصلاة.");
    const QString sameLength = QStringLiteral("آخر ما يحاسب عليه العبد الصلاة.");
    const QList<Passage> passages{
        passage(1, shortOne + u'\n' + shared),
        passage(2, shared + u'\n' + twoTerms + u'\n' + sameLength),
    };
    const auto got = AIAssistant::extractive(QStringLiteral("الصلاة مع الجماعة"), passages, 10);
    EXPECT_EQ(texts(got), QStringList({twoTerms, shortOne, sameLength, shared}));
    EXPECT_EQ(got.back().n, 1);
    EXPECT_EQ(AIAssistant::extractive(QStringLiteral("الصلاة مع الجماعة"), passages, 2).size(), 2);
    EXPECT_TRUE(AIAssistant::extractive(QStringLiteral("الصلاة مع الجماعة"), passages, 0).isEmpty());
}

TEST(ExtractiveSentences, aQuestionOfStopWordsPicksNothing)
{
    const QList<Passage> passages{passage(1, QStringLiteral("هل هذا ما كان عند الذين قال فيهم ذلك؟"))};
    EXPECT_TRUE(AIAssistant::extractive(QStringLiteral("هل هذا ما كان عند الذين"), passages, 4).isEmpty());
}
