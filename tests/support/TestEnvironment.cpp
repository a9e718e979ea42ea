#include "support/TestEnvironment.h"

#include "support/SampleStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace quorvel::test {

namespace {
QTemporaryDir& root()
{
    static QTemporaryDir dir(QDir::tempPath() + "/quorvel-test-XXXXXX");
    return dir;
}
} // namespace

void isolateUserFiles()
{
    const QString base = root().path();
    for (const char* sub : {"home", "config", "data", "cache", "runtime"})
        QDir().mkpath(base + "/" + sub);
    // Qt refuses a runtime folder that others may read.
    QFile::setPermissions(base + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", (base + "/home").toUtf8());
    qputenv("XDG_CONFIG_HOME", (base + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (base + "/data").toUtf8());
    qputenv("XDG_CACHE_HOME", (base + "/cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (base + "/runtime").toUtf8());
    qputenv("QUORVEL_USERDB", (base + "/user.db").toUtf8());
    qputenv("QUORVEL_LIBDB", (base + "/library.db").toUtf8());
    qputenv("QUORVEL_SMARTDIR", (base + "/smart").toUtf8());
    qunsetenv("QUORVEL_DB");
    qunsetenv("QUORVEL_NO_SMART");
    QStandardPaths::setTestModeEnabled(false);
}

::testing::Environment* sharedStoresUntouched()
{
    struct Check : ::testing::Environment {
        void TearDown() override
        {
            for (const QString& store : SampleStore::changedStores())
                ADD_FAILURE() << "a test wrote into the shared sample store " << store.toStdString()
                              << ", which every test copies: write into a copy";
        }
    };
    return new Check;
}

QString dataPath(const QString& relative)
{
    const QString base = QStringLiteral(QUORVEL_TEST_DATA);
    return relative.isEmpty() ? base : base + "/" + relative;
}

} // namespace quorvel::test
