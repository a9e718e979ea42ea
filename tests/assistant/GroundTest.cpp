#include "assistant/AIAssistant.h"

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

const QString prayer = QStringLiteral("صلاة الجماعة تفضل صلاة الفذ بسبع وعشرين درجة");
const QString fasting = QStringLiteral("الصيام جنة فإذا كان يوم صوم أحدكم فلا يرفث ولا يصخب");

QList<Passage> two() { return {passage(1, prayer), passage(2, fasting)}; }

} // namespace

TEST(QuoteGrounding, quotationsFoundInAPassageStandOnTheirOwnLineOthersGo)
{
    const QString reply = QStringLiteral("الجماعة أفضل. «صَلاةُ الجَماعةِ تفضل صلاة الفذ» وقيل \"كلام لا أصل له في المصادر\" [1]");
    const auto g = AIAssistant::ground(reply, two());
    EXPECT_EQ(g.quotes, 1);
    EXPECT_EQ(g.failed, 1);
    // The dropped quotation's marker goes with it.
    EXPECT_EQ(g.text, QStringLiteral("الجماعة أفضل. \n«صَلاةُ الجَماعةِ تفضل صلاة الفذ» [1]\n وقيل"));
    EXPECT_FALSE(g.notFound);
}

TEST(QuoteGrounding, whatIsNoQuotationStaysAsWritten)
{
    const QString reply = QStringLiteral("قال «قصير» ثم «سطر\nمقطوع بين سطرين» وانتهى");
    const auto g = AIAssistant::ground(reply, two());
    EXPECT_EQ(g.quotes, 0);
    EXPECT_EQ(g.failed, 0);
    EXPECT_EQ(g.text, reply);
    // An opening » or ” opens nothing; “ … » pairs.
    EXPECT_EQ(AIAssistant::ground(QStringLiteral("»صلاة الجماعة تفضل صلاة الفذ»"), two()).quotes, 0);
    EXPECT_EQ(AIAssistant::ground(QStringLiteral("”صلاة الجماعة تفضل صلاة الفذ”"), two()).quotes, 0);
    EXPECT_EQ(AIAssistant::ground(QStringLiteral("“صلاة الجماعة تفضل صلاة الفذ»"), two()).quotes, 1);
}

TEST(QuoteGrounding, piecesAroundEllipsesAreFoundApartButInOnePassage)
{
    const auto apart = AIAssistant::ground(QStringLiteral("«بسبع وعشرين … صلاة الجماعة»"), two());
    EXPECT_EQ(apart.quotes, 1);
    EXPECT_EQ(apart.text, QStringLiteral("«بسبع وعشرين … صلاة الجماعة» [1]"));
    EXPECT_EQ(AIAssistant::ground(QStringLiteral("\"الصيام جنة...فلا يرفث\""), two()).quotes, 1);
    const auto split = AIAssistant::ground(QStringLiteral("«صلاة الجماعة … الصيام جنة»"), two());
    EXPECT_EQ(split.quotes, 0);
    EXPECT_EQ(split.failed, 1);
    // The first passage in list order wins.
    const auto order = AIAssistant::ground(QStringLiteral("«تفضل صلاة الفذ»"), {passage(3, prayer), passage(1, prayer)});
    EXPECT_EQ(order.text, QStringLiteral("«تفضل صلاة الفذ» [3]"));
}

TEST(QuoteGrounding, markersOfMissingPassagesAreDeletedOthersStay)
{
    const auto g = AIAssistant::ground(QStringLiteral("أ [7] ب [2] ج [٧] د [123456789012345678901234567890]"), two());
    EXPECT_EQ(g.text, QStringLiteral("أ  ب [2] ج [٧] د [123456789012345678901234567890]"));
    EXPECT_EQ(AIAssistant::ground(QStringLiteral("[1] نص"), {}).text, QStringLiteral("نص"));
    EXPECT_EQ(AIAssistant::ground(QStringLiteral("أ\n\n\n\nب"), two()).text, QStringLiteral("أ\n\n\nب"));
}

TEST(QuoteGrounding, notFoundPhrasesInAnyCaseOrDiacritics)
{
    EXPECT_TRUE(AIAssistant::ground(QStringLiteral("The answer is Not Found In The Context."), two()).notFound);
    EXPECT_TRUE(AIAssistant::ground(QStringLiteral("هذا غَيْرُ مَوْجُودٍ فِي السِّيَاقِ"), two()).notFound);
    EXPECT_TRUE(AIAssistant::ground(QStringLiteral("لا يمكن الإجابة"), two()).notFound);
    EXPECT_FALSE(AIAssistant::ground(QStringLiteral("موجود في السياق"), two()).notFound);
}

TEST(QuoteGrounding, faithfulWhenTwoThirdsOfTheOwnWordsAreThePassages)
{
    // 50 own terms, 33 of them in the quoted passage: exactly 0.66.
    const QString quoted = QStringLiteral("«صلاة الجماعة تفضل صلاة الفذ» ");
    QStringList own;
    // Distinct words, the first 33 also in the quoted passage.
    QString passageText = prayer;
    for (int i = 0; i < 50; ++i) {
        const QString word = QStringLiteral("وقع") + QString::number(1000 + i);
        own << word;
        if (i < 33)
            passageText += u' ' + word;
    }
    const QList<Passage> passages{passage(1, passageText), passage(2, fasting)};
    const auto at = AIAssistant::ground(quoted + own.join(u' '), passages);
    EXPECT_EQ(at.quotes, 1);
    EXPECT_TRUE(at.faithful);
    own[0] = QStringLiteral("خارج1000");
    passageText.replace(QStringLiteral("وقع1000"), QStringLiteral("داخل"));
    const auto below = AIAssistant::ground(quoted + own.join(u' '), {passage(1, passageText), passage(2, fasting)});
    EXPECT_FALSE(below.faithful);
    // No quotation kept: the words are looked for in every passage.
    EXPECT_TRUE(AIAssistant::ground(QStringLiteral("يرفث الصيام جنة"), two()).faithful);
    // No own content word at all.
    EXPECT_TRUE(AIAssistant::ground(QStringLiteral("«صلاة الجماعة تفضل» هو ذلك"), {passage(2, fasting)}).faithful);
}
