#include "BaselineStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace quorvel::bench {

namespace {

constexpr int catchUpTimeoutMs = 60 * 60 * 1000;

} // namespace

std::optional<QString> baselineStore(const QString& quorvel, const QString& store, const QString& copyPath)
{
    // The copy is taken as whole only once its catch-up has ended.
    const QString done = copyPath + QStringLiteral(".caught-up");
    if (QFileInfo::exists(done) && QFileInfo::exists(copyPath))
        return copyPath;
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(copyPath + QLatin1String(suffix));
    if (!QFile::copy(store, copyPath)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(store));
        return std::nullopt;
    }
    QTemporaryDir scratch;
    const QString empty = scratch.filePath(QStringLiteral("release"));
    QDir().mkpath(empty);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_LIBDB"), copyPath);
    env.insert(QStringLiteral("QUORVEL_USERDB"), scratch.filePath(QStringLiteral("user.db")));
    env.insert(QStringLiteral("HOME"), scratch.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), scratch.filePath(QStringLiteral("data")));
    QProcess install;
    install.setProcessEnvironment(env);
    install.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    install.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    install.start(quorvel, {QStringLiteral("--dist-install"), empty});
    // It ends with a failure: the folder holds no release.
    if (!install.waitForFinished(catchUpTimeoutMs) || install.exitStatus() != QProcess::NormalExit) {
        std::fprintf(stderr, "%s did not catch its copy of the store up\n", qPrintable(quorvel));
        return std::nullopt;
    }
    QFile mark(done);
    if (!mark.open(QIODevice::WriteOnly))
        return std::nullopt;
    std::fprintf(stderr, "store of %s caught up in %.1f s\n", qPrintable(quorvel), double(timer.elapsed()) / 1000);
    return copyPath;
}

} // namespace quorvel::bench
