#include "support/TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// "--icon <dir>" through the real executable: ten images, corners transparent,
// status 0, and no library or window needed.
TEST(IconSwitchTest, writesTheIconSetAndExits)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("AppIcon.iconset"));
    QProcess quorvel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUORVEL_DB"), dir.filePath(QStringLiteral("no-such.db")));
    quorvel.setProcessEnvironment(env);
    quorvel.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--icon"), out, QStringLiteral("--icon")});
    ASSERT_TRUE(quorvel.waitForFinished(60000));
    EXPECT_EQ(quorvel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quorvel.exitCode(), 0);

    const QStringList files = QDir(out).entryList({QStringLiteral("icon_*.png")}, QDir::Files);
    EXPECT_EQ(files.size(), 10);
    const QImage big(QDir(out).filePath(QStringLiteral("icon_512x512@2x.png")));
    ASSERT_EQ(big.size(), QSize(1024, 1024));
    EXPECT_EQ(qAlpha(big.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(big.pixel(1023, 1023)), 0);
    EXPECT_EQ(qAlpha(big.pixel(512, 512)), 255);
}
