#include "ui/shell/ClaudeLinkDialog.h"

#include "ui/kit/Dialogs.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace ClaudeLink = quorvel::ClaudeLink;
using quorvel::Dialogs::Kind;

namespace {

// The link's file in a fresh folder, the three-button question answered by script.
class ClaudeLinkDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("QUORVEL_CLAUDE_CONFIG", dir.filePath(QStringLiteral("Claude/config.json")).toUtf8());
        previous = ClaudeLink::setChooser([this](const ClaudeLink::DialogContent& content) {
            shown.append(content);
            return choice;
        });
    }
    void TearDown() override
    {
        ClaudeLink::setChooser(previous);
        qunsetenv("QUORVEL_CLAUDE_CONFIG");
    }

    QTemporaryDir dir;
    ClaudeLink::Chooser previous;
    ClaudeLink::Choice choice = ClaudeLink::Choice::Close;
    QList<ClaudeLink::DialogContent> shown;
    quorvel::ScriptedDialogs dialogs;
};

} // namespace

TEST_F(ClaudeLinkDialogTest, copyPutsTheCommandOnTheClipboard)
{
    choice = ClaudeLink::Choice::Copy;
    ClaudeLink::showDialog(nullptr);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_FALSE(shown[0].firstEnabled); // no client folder yet
    EXPECT_EQ(QGuiApplication::clipboard()->text(), ClaudeLink::codeCommand());
    const auto alerts = dialogs.requestsOf(Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral("نسخ الأمر"));
    EXPECT_TRUE(alerts[0].text.endsWith(ClaudeLink::codeCommand()));
}

TEST_F(ClaudeLinkDialogTest, firstButtonLinksThenUnlinks)
{
    // A disabled first button does nothing.
    choice = ClaudeLink::Choice::First;
    ClaudeLink::showDialog(nullptr);
    EXPECT_FALSE(QFile::exists(ClaudeLink::configPath()));
    EXPECT_TRUE(dialogs.requests().isEmpty());

    // Once the client's folder exists the link can be made.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("Claude"))));
    ClaudeLink::showDialog(nullptr);
    EXPECT_TRUE(ClaudeLink::linked());
    ClaudeLink::showDialog(nullptr);
    EXPECT_FALSE(ClaudeLink::linked());
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[2].firstButton, QStringLiteral("إلغاء الربط"));
    const auto alerts = dialogs.requestsOf(Kind::Alert);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[0].title, QStringLiteral("تم الربط"));
    EXPECT_EQ(alerts[1].title, QStringLiteral("ألغي الربط"));
}
