#include "assistant/AIAnswer.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(AnswerRecords, anAnswerBuiltFromItsFirstThreeFieldsHoldsNothingElse)
{
    Passage p;
    p.n = 1;
    const AIAnswer a{AIMode::report, QStringLiteral("سؤال"), {p}};
    EXPECT_EQ(a.mode, AIMode::report);
    EXPECT_EQ(a.question, QStringLiteral("سؤال"));
    EXPECT_EQ(a.passages.size(), 1);
    EXPECT_TRUE(a.extractive.isEmpty());
    EXPECT_TRUE(a.text.isEmpty());
    EXPECT_TRUE(a.rawText.isEmpty());
    EXPECT_FALSE(a.verifiedAll);
    EXPECT_EQ(a.quoteCount, 0);
    EXPECT_EQ(a.failedQuotes, 0);
    EXPECT_EQ(a.tier, 0);
    EXPECT_FALSE(a.note.has_value());
    EXPECT_FALSE(a.isRuling);
    EXPECT_FALSE(a.structured);
    EXPECT_FALSE(a.routed);
    EXPECT_TRUE(a.topic.isEmpty());
    EXPECT_FALSE(a.followUp);
    EXPECT_TRUE(a.tables.isEmpty());
}

TEST(AnswerModes, parsingIsExactAndCaseSensitive)
{
    EXPECT_EQ(AIMode::fromRawValue(QStringLiteral("auto")), AIMode::automatic);
    EXPECT_EQ(AIMode::fromRawValue(QStringLiteral("takhrij")), AIMode::takhrij);
    EXPECT_FALSE(AIMode::fromRawValue(QStringLiteral("Auto")));
    EXPECT_FALSE(AIMode::fromRawValue(QStringLiteral("auto ")));
    EXPECT_FALSE(AIMode::fromRawValue(QString()));
}

TEST(AnswerModes, allCasesKeepThePopUpOrderAndRoundTrip)
{
    const QStringList expected{"auto", "answer", "report", "views", "biography",
                               "term", "history", "takhrij", "sources", "data"};
    QStringList names;
    QStringList titles;
    for (const AIMode mode : AIMode::allCases()) {
        names << mode.rawValue();
        titles << mode.title();
        EXPECT_EQ(AIMode::fromRawValue(mode.rawValue()), mode);
        EXPECT_FALSE(mode.hint().isEmpty());
        EXPECT_FALSE(mode.help().isEmpty());
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(titles.front(), QStringLiteral("تلقائي"));
    EXPECT_EQ(titles.back(), QStringLiteral("جداول وبيانات"));
    EXPECT_EQ(titles.removeDuplicates(), 0);
}

TEST(AnswerModes, onlyTheComputedModesLeaveTheModelAlone)
{
    QStringList without;
    for (const AIMode mode : AIMode::allCases()) {
        if (!mode.usesModel())
            without << mode.rawValue();
    }
    EXPECT_EQ(without, QStringList({"takhrij", "sources", "data"}));
}

TEST(DataTables, aChangedCopyLeavesTheOriginalAlone)
{
    DataTable table{QStringLiteral("عدد الكتب"), {QStringLiteral("القرن"), QStringLiteral("العدد")},
                    {{QStringLiteral("الثالث"), QStringLiteral("٤")}},
                    {{QStringLiteral("الثالث"), {4}}}, {QStringLiteral("الكتب")}, std::nullopt};
    DataTable copy = table;
    copy.rows[0][1] = QStringLiteral("٥");
    copy.chart[0].values[0] = 5;
    copy.note = QString();
    EXPECT_EQ(table.rows[0][1], QStringLiteral("٤"));
    EXPECT_EQ(table.chart[0].values[0], 4);
    EXPECT_FALSE(table.note.has_value());
    EXPECT_TRUE(copy.note.has_value());
}
