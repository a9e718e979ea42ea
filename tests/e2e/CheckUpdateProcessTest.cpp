// "--check-update" through the built executable, on manifests in files.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

struct CheckRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CheckRun checkUpdate(const std::optional<QString>& address)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (address)
        env.insert(QStringLiteral("QUORVEL_UPDATE_URL"), *address);
    else
        env.remove(QStringLiteral("QUORVEL_UPDATE_URL"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--check-update")});
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

TEST(CheckUpdateProcess, printsTheStatusLineOrFailsWithOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("manifest.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"mac":{"version":"99.0","build":9000000000,"notes":null}})");
    file.close();

    const CheckRun newer = checkUpdate(QUrl::fromLocalFile(path).toString());
    EXPECT_EQ(newer.exitCode, 0) << newer.err.toStdString();
    const QString installed = QStringLiteral("installed %1 (%2)").arg(QStringLiteral(QUORVEL_VERSION)).arg(QUORVEL_BUILD);
    EXPECT_EQ(newer.out, installed + QStringLiteral(" · latest 99.0 (9000000000) · update available\n"));

    const CheckRun missing = checkUpdate(QUrl::fromLocalFile(dir.filePath(QStringLiteral("none.json"))).toString());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.startsWith(QStringLiteral("check failed: "))) << missing.err.toStdString();

    const CheckRun empty = checkUpdate(QString());
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(empty.err.startsWith(QStringLiteral("check failed: bad URL"))) << empty.err.toStdString();
}

TEST(CheckUpdateProcess, defaultBuildContactsNoHost)
{
    const CheckRun run = checkUpdate(std::nullopt);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("no update address is configured"))) << run.err.toStdString();
}
