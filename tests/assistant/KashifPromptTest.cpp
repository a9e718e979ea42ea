#include "assistant/AIAssistant.h"

#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

const QString header = QStringLiteral(
    "أجب على السؤال بناء على السياق أدناه. أجب بالعربية في جملتين أو ثلاث، ثم انقل بين علامتي تنصيص "
    "الجملة من السياق التي تدل على الجواب كما هي حرفا بحرف.\n\nالسياق:\n");

Passage passage(int n, const QString& title, const QString& text)
{
    Passage p;
    p.n = n;
    p.bookTitle = title;
    p.text = text;
    return p;
}

// "[n] " + title + "\n" + text + "\n\n" with a text that makes the whole
// block exactly `chars` user-perceived characters, each a letter with a
// diacritic (two UTF-16 units), so that counting units would go wrong.
Passage sized(int n, int chars)
{
    const QString title = QStringLiteral("كتاب");
    const int fixed = 1 + QString::number(n).size() + 2 + title.size() + 1 + 2;
    QString text;
    for (int i = 0; i < chars - fixed; ++i)
        text += QStringLiteral("بَ");
    return passage(n, title, text);
}

} // namespace

TEST(KashifPrompt, headerIsFixedAndWithoutPassagesTheQuestionFollowsIt)
{
    EXPECT_EQ(header.toUtf8().size(), 284);
    EXPECT_EQ(AIAssistant::kashifPrompt(QStringLiteral("ما الصبر؟"), {}),
              header + QStringLiteral("السؤال: ما الصبر؟\nالإجابة:"));
}

TEST(KashifPrompt, blockCarriesTheNumberInLatinDigitsAndTheTitleOnly)
{
    Settings::setIndicDigits(true);
    Passage p = passage(3, QStringLiteral("رياض الصالحين"), QStringLiteral("الصبر ضياء"));
    p.author = QStringLiteral("النووي");
    p.vol = QStringLiteral("2");
    p.pageNum = 45;
    EXPECT_EQ(AIAssistant::kashifPrompt(QStringLiteral("س"), {p}),
              header + QStringLiteral("[3] رياض الصالحين\nالصبر ضياء\n\nالسؤال: س\nالإجابة:"));
}

TEST(KashifPrompt, budgetCountsCharactersAndTheFirstMisfitEndsTheContext)
{
    // Three blocks of 4000: the third would pass 9000, and the short fourth is
    // not tried after it.
    const QString three = AIAssistant::kashifPrompt(
        QStringLiteral("س"), {sized(1, 4000), sized(2, 4000), sized(3, 4000), sized(4, 10)});
    EXPECT_TRUE(three.contains(QStringLiteral("[2] ")));
    EXPECT_FALSE(three.contains(QStringLiteral("[3] ")));
    EXPECT_FALSE(three.contains(QStringLiteral("[4] ")));

    // Exactly the budget is accepted; one character more is not.
    const QString exact = AIAssistant::kashifPrompt(QStringLiteral("س"), {sized(1, 4000), sized(2, 5000)});
    EXPECT_TRUE(exact.contains(QStringLiteral("[2] ")));
    const QString over = AIAssistant::kashifPrompt(QStringLiteral("س"), {sized(1, 4000), sized(2, 5001)});
    EXPECT_FALSE(over.contains(QStringLiteral("[2] ")));
    EXPECT_FALSE(AIAssistant::kashifPrompt(QStringLiteral("س"), {sized(1, 4000), sized(2, 51)}, 4050)
                     .contains(QStringLiteral("[2] ")));
}

TEST(KashifPrompt, firstPassageIsKeptWholeHoweverLong)
{
    const Passage huge = sized(1, 12000);
    const QString prompt = AIAssistant::kashifPrompt(QStringLiteral("س"), {huge, sized(2, 5)});
    EXPECT_TRUE(prompt.contains(huge.text));
    EXPECT_FALSE(prompt.contains(QStringLiteral("[2] ")));
}
