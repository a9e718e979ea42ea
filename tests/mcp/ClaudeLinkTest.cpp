#include "mcp/ClaudeLink.h"

#include "core/Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace ClaudeLink = quorvel::ClaudeLink;
using quorvel::Json::Value;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

Value parsed(const QString& path)
{
    const auto value = quorvel::Json::parse(readAll(path));
    EXPECT_TRUE(value);
    return value ? *value : Value();
}

// Points the link at a file in a fresh folder for each test.
class ClaudeLinkFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir.filePath(QStringLiteral("Claude/claude_desktop_config.json"));
        qputenv("QUORVEL_CLAUDE_CONFIG", path.toUtf8());
    }
    void TearDown() override { qunsetenv("QUORVEL_CLAUDE_CONFIG"); }

    Value entry() const
    {
        return Value{{"command", ClaudeLink::binary().toStdString()}, {"args", Value::array({"--mcp"})}};
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(ClaudeLinkFile, linkingCreatesTheFolderAndFile)
{
    EXPECT_EQ(ClaudeLink::configPath(), path);
    EXPECT_FALSE(ClaudeLink::desktopInstalled());
    EXPECT_FALSE(ClaudeLink::linked());
    ClaudeLink::link(true);
    EXPECT_TRUE(ClaudeLink::linked());
    EXPECT_TRUE(ClaudeLink::desktopInstalled());
    EXPECT_EQ(parsed(path), (Value{{"mcpServers", {{"quorvel-library", entry()}}}}));
    EXPECT_FALSE(QFile::exists(ClaudeLink::backupPath())); // nothing to back up
    // Indented, keys sorted, "/" written plainly.
    const QByteArray text = readAll(path);
    EXPECT_TRUE(text.contains("\n  \"mcpServers\""));
    EXPECT_LT(text.indexOf("\"args\""), text.indexOf("\"command\""));
    EXPECT_FALSE(text.contains("\\/"));

    ClaudeLink::link(false);
    EXPECT_FALSE(ClaudeLink::linked());
    EXPECT_EQ(parsed(path), (Value{{"mcpServers", Value::object()}}));
}

TEST_F(ClaudeLinkFile, otherServersAndMembersAreKept)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const Value original{
        {"globalShortcut", "Ctrl+Space"},
        {"mcpServers",
         {{"files", {{"command", "/usr/bin/files-server"}, {"args", {"--root", "/srv/a b"}}, {"env", {{"K", "v"}}}}},
          {"notes", {{"command", "notes"}, {"args", Value::array()}}}}},
    };
    const QByteArray canonical = quorvel::Json::dumpBytes(original, {false, 2});
    writeAll(path, canonical);

    ClaudeLink::link(true);
    Value expected = original;
    expected["mcpServers"]["quorvel-library"] = entry();
    EXPECT_EQ(parsed(path), expected);
    EXPECT_EQ(readAll(ClaudeLink::backupPath()), canonical);

    // Unlinking removes our entry only: the file is the original again, byte for byte.
    ClaudeLink::link(false);
    EXPECT_EQ(readAll(path), canonical);

    // A second link backs up the file as the previous write left it.
    ClaudeLink::link(true);
    const QByteArray linkedBytes = readAll(path);
    ClaudeLink::link(true);
    EXPECT_EQ(readAll(ClaudeLink::backupPath()), linkedBytes);
}

TEST_F(ClaudeLinkFile, entryForAnotherExecutableIsNotLinkedAndIsReplaced)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeAll(path, R"({"mcpServers":{"quorvel-library":{"command":"/old/place/quorvel","args":["--mcp"]}}})");
    EXPECT_FALSE(ClaudeLink::linked());
    ClaudeLink::link(true);
    EXPECT_EQ(parsed(path).at("mcpServers").at("quorvel-library"), entry());

    // Other arguments do not matter.
    Value config = parsed(path);
    config["mcpServers"]["quorvel-library"]["args"] = Value::array({"--other"});
    writeAll(path, quorvel::Json::dumpBytes(config));
    EXPECT_TRUE(ClaudeLink::linked());

    // An empty file reads as an empty configuration.
    writeAll(path, "");
    ClaudeLink::link(true);
    EXPECT_TRUE(ClaudeLink::linked());
}

TEST_F(ClaudeLinkFile, aFileThatIsNotAJsonObjectIsRefusedUntouched)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    for (const QByteArray& content : {QByteArray("{\"mcpServers\": {"), QByteArray("[1, 2]"), QByteArray("\"x\"")}) {
        writeAll(path, content);
        try {
            ClaudeLink::link(true);
            ADD_FAILURE() << "linked into " << content.toStdString();
        } catch (const ClaudeLink::Error& error) {
            EXPECT_EQ(error.message(), QStringLiteral("ملف إعداد Claude ليس JSON صالحا، فلم يعدل."));
        }
        EXPECT_EQ(readAll(path), content);
        EXPECT_FALSE(ClaudeLink::linked());
        EXPECT_FALSE(QFile::exists(ClaudeLink::backupPath()));
    }
}

TEST_F(ClaudeLinkFile, aPipeInTheFilesPlaceIsRefusedWithoutWaitingForAWriter)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    try {
        ClaudeLink::link(true);
        ADD_FAILURE() << "linked into a pipe";
    } catch (const ClaudeLink::Error& error) {
        EXPECT_EQ(error.message(), QStringLiteral("ملف إعداد Claude ليس ملفا عاديا بحجم إعداد، فلم يعدل."));
    }
    EXPECT_FALSE(ClaudeLink::linked());
    EXPECT_FALSE(QFileInfo(path).isFile());
    EXPECT_FALSE(QFile::exists(ClaudeLink::backupPath()));
}

TEST_F(ClaudeLinkFile, failuresNeverLoseTheExistingConfiguration)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray original = R"({"mcpServers":{"keep":{"command":"k"}}})";
    writeAll(path, original);

    // The backup cannot be written: nothing is written at all.
    QDir().mkpath(ClaudeLink::backupPath() + QStringLiteral("/occupied"));
    EXPECT_THROW(ClaudeLink::link(true), ClaudeLink::Error);
    EXPECT_EQ(readAll(path), original);
    QDir(ClaudeLink::backupPath()).removeRecursively();

    // A read-only folder (only enforced for an ordinary user).
    if (::geteuid() != 0) {
        const QString folder = QFileInfo(path).absolutePath();
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_THROW(ClaudeLink::link(true), ClaudeLink::Error);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(readAll(path), original);
    }

    // A folder that cannot be created, because a plain file stands in its way.
    writeAll(dir.filePath("plain"), "x");
    qputenv("QUORVEL_CLAUDE_CONFIG", dir.filePath("plain/sub/config.json").toUtf8());
    EXPECT_THROW(ClaudeLink::link(true), ClaudeLink::Error);
    EXPECT_EQ(readAll(dir.filePath("plain")), QByteArray("x"));
}

TEST(ClaudeLinkCommand, pathIsQuotedForTheShell)
{
    EXPECT_EQ(ClaudeLink::shellQuote(QStringLiteral("/opt/q/quorvel")), QStringLiteral("'/opt/q/quorvel'"));
    EXPECT_EQ(ClaudeLink::shellQuote(QStringLiteral("it's")), QStringLiteral("'it'\\''s'"));

    // Whatever the path holds, the shell reads it back as one word, unexpanded.
    const QString hostile = QStringLiteral("/opt/a b/$HOME/`id`/\\n/\"q\"/it's/مكتبة");
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                            QStringLiteral("printf '%s|' ") + ClaudeLink::shellQuote(hostile)});
    ASSERT_TRUE(shell.waitForFinished(10000));
    EXPECT_EQ(QString::fromUtf8(shell.readAllStandardOutput()), hostile + QStringLiteral("|"));

    const QString command = ClaudeLink::codeCommand();
    EXPECT_TRUE(command.startsWith(QStringLiteral("claude mcp add --scope user quorvel-library -- '")));
    EXPECT_TRUE(command.endsWith(QStringLiteral("' --mcp")));
}

TEST(ClaudeLinkDialog, textsFollowTheState)
{
    const auto notFound = ClaudeLink::dialogContent(false, false);
    EXPECT_EQ(notFound.firstButton, QStringLiteral("ربط بتطبيق Claude"));
    EXPECT_FALSE(notFound.firstEnabled);
    EXPECT_TRUE(notFound.informative.endsWith(QStringLiteral("\nلم يعثر على تطبيق Claude على هذا الجهاز.")));
    const auto isLinked = ClaudeLink::dialogContent(true, false);
    EXPECT_EQ(isLinked.firstButton, QStringLiteral("إلغاء الربط"));
    EXPECT_TRUE(isLinked.firstEnabled);
    EXPECT_TRUE(isLinked.informative.startsWith(QStringLiteral("المكتبة مربوطة بتطبيق Claude الآن.\n\n")));
}

TEST_F(ClaudeLinkFile, toggleReportsWhatItDid)
{
    EXPECT_EQ(ClaudeLink::toggle().title, QStringLiteral("تم الربط"));
    EXPECT_TRUE(ClaudeLink::linked());
    EXPECT_EQ(ClaudeLink::toggle().title, QStringLiteral("ألغي الربط"));
    EXPECT_FALSE(ClaudeLink::linked());
    writeAll(path, "not json");
    const auto failed = ClaudeLink::toggle();
    EXPECT_EQ(failed.title, QStringLiteral("تعذر تعديل إعداد Claude"));
    EXPECT_EQ(failed.text, QStringLiteral("ملف إعداد Claude ليس JSON صالحا، فلم يعدل."));
}
