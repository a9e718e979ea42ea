#include "core/ModeDispatch.h"

#include <gtest/gtest.h>

using quorvel::ModeDispatch;
using Mode = ModeDispatch::Mode;

namespace {

Mode pick(QStringList arguments)
{
    arguments.prepend(QStringLiteral("/usr/bin/quorvel"));
    return ModeDispatch::choose(arguments).mode;
}

} // namespace

TEST(ModeDispatch, mcpWinsOverEverySwitchWhereverItStands)
{
    EXPECT_EQ(pick({"--mcp"}), Mode::Mcp);
    EXPECT_EQ(pick({"--dist-install", "x", "--mcp"}), Mode::Mcp);
    EXPECT_EQ(pick({"--gen-signing-key", "--check-update", "--ai", "auto", "q", "--smart",
                    "--search-cli", "--mcp"}),
              Mode::Mcp);
    // Only whole arguments count.
    EXPECT_EQ(pick({"--mcpx"}), Mode::Window);
    EXPECT_EQ(pick({"--MCP"}), Mode::Window);
}

TEST(ModeDispatch, distributionSwitchWinsOverTheRest)
{
    for (const QString& sw : ModeDispatch::distSwitches()) {
        EXPECT_EQ(pick({"--search-cli", "--smart", "--ai", "auto", "q", "--check-update", sw}),
                  Mode::Dist)
            << sw.toStdString();
        EXPECT_EQ(pick({sw, "--check-update"}), Mode::Dist) << sw.toStdString();
    }
    const ModeDispatch first = ModeDispatch::choose(
        {"quorvel", "--smart", "--verify-index", "--sign-index"});
    EXPECT_EQ(first.distSwitch, "--verify-index");
    EXPECT_EQ(first.switchName(), "--verify-index");
    EXPECT_EQ(pick({"--dist-installer"}), Mode::Window);
}

TEST(ModeDispatch, checkUpdateComesBeforeAssistantAndTools)
{
    EXPECT_EQ(pick({"--ai", "auto", "question", "--check-update"}), Mode::CheckUpdate);
    EXPECT_EQ(pick({"--smart", "--search-cli", "--check-update"}), Mode::CheckUpdate);
}

TEST(ModeDispatch, assistantNeedsTwoArgumentsAfterTheFirstAi)
{
    const ModeDispatch ai = ModeDispatch::choose({"quorvel", "--ai", "answer", "ما الصلاة", "--smart"});
    EXPECT_EQ(ai.mode, Mode::Ai);
    EXPECT_EQ(ai.aiMode, "answer");
    EXPECT_EQ(ai.aiQuestion, "ما الصلاة");

    // "--ai" last or second to last falls through, without error.
    EXPECT_EQ(pick({"--smart", "--ai", "answer"}), Mode::Smart);
    EXPECT_EQ(pick({"--search-cli", "--ai"}), Mode::SearchCli);
    EXPECT_EQ(pick({"--ai", "answer"}), Mode::Window);
    EXPECT_EQ(pick({"--ai"}), Mode::Window);

    // Only the first "--ai" counts: a later one is taken as a mode or question.
    const ModeDispatch twice = ModeDispatch::choose({"quorvel", "--ai", "--ai", "x"});
    EXPECT_EQ(twice.mode, Mode::Ai);
    EXPECT_EQ(twice.aiMode, "--ai");
    EXPECT_EQ(twice.aiQuestion, "x");
    const ModeDispatch later = ModeDispatch::choose({"quorvel", "--smart", "--ai", "q", "--ai"});
    EXPECT_EQ(later.mode, Mode::Ai);
    EXPECT_EQ(later.aiQuestion, "--ai");
    EXPECT_EQ(pick({"x", "--ai", "a"}), Mode::Window);
}

TEST(ModeDispatch, smartBeforeSearchToolBeforeWindow)
{
    EXPECT_EQ(pick({"--search-cli", "--smart"}), Mode::Smart);
    EXPECT_EQ(pick({"--q", "{}", "--search-cli"}), Mode::SearchCli);
    EXPECT_EQ(pick({}), Mode::Window);
    EXPECT_EQ(pick({"--snapshot", "/x", "--icon", "/y"}), Mode::Window);
    // The program path itself takes part like any argument.
    EXPECT_EQ(ModeDispatch::choose({"--search-cli"}).mode, Mode::SearchCli);
    EXPECT_EQ(ModeDispatch::choose({}).mode, Mode::Window);
}
