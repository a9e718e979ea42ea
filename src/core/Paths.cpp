#include "core/Paths.h"

#include <QDir>
#include <QStandardPaths>

namespace quorvel::Paths {

namespace {
constexpr const char* kSupportFolderName = "QuorvelLibrary";
constexpr const char* kSmartFolderName = "smart";
constexpr const char* kDeveloperDatabase = "/projects/quorvel/data/quorvel.db";
} // namespace

QString supportDir()
{
    static const QString dir = [] {
        // A sandbox home (set by the search tool) stands in for the real one.
        const QString sandboxHome = qEnvironmentVariable("CFFIXED_USER_HOME");
        const QString base = sandboxHome.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            : sandboxHome + "/.local/share";
        const QString path = QDir::cleanPath(base + "/" + kSupportFolderName) + "/";
        QDir().mkpath(path);
        return path;
    }();
    return dir;
}

QString localStorePath()
{
    // Read at every call, like localStorePathProblem(): a path kept from the
    // first call would send a later install in the same process to the store
    // of whoever asked first.
    if (qEnvironmentVariableIsSet("QUORVEL_LIBDB"))
        return qEnvironmentVariable("QUORVEL_LIBDB");
    return supportDir() + localStoreFileName;
}

QString smartDir()
{
    // Read at every call, as the store's path is: a folder kept from the
    // first call would let one user of the process build into another's.
    const QString path = qEnvironmentVariableIsSet("QUORVEL_SMARTDIR") ? qEnvironmentVariable("QUORVEL_SMARTDIR")
                                                                       : supportDir() + kSmartFolderName;
    QDir().mkpath(path);
    return path;
}

QString developerDatabasePath(const QString& home)
{
    return home + QLatin1String(kDeveloperDatabase);
}

QString localStorePathProblem()
{
    if (!qEnvironmentVariableIsSet("QUORVEL_LIBDB"))
        return {};
    const QByteArray raw = qgetenv("QUORVEL_LIBDB");
    if (raw.isEmpty())
        return QStringLiteral("متغيّر البيئة QUORVEL_LIBDB فارغ: عيّنه مسار ملف المكتبة المحلية أو احذفه.");
    if (QString::fromUtf8(raw).toUtf8() != raw)
        return QStringLiteral("متغيّر البيئة QUORVEL_LIBDB ليس نصاً صالحاً بترميز UTF-8.");
    return {};
}

} // namespace quorvel::Paths
