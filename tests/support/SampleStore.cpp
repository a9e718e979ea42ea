#include "support/SampleStore.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quorvel::test::SampleStore {

namespace {

// An install beside a full suite on a slow machine stays far inside this.
constexpr int kInstallMs = 20 * 60 * 1000;
// Written last into a store, naming how it was made: a store without it, or
// made another way, is not whole.
constexpr char kStamp[] = "installed";
constexpr char kOut[] = "install.out";
constexpr char kErr[] = "install.err";

QString root()
{
    return QStringLiteral(QUORVEL_TEST_STORES);
}

QStringList arguments(const QString& release, const Kind& kind)
{
    QStringList args = kind.before;
    args << QStringLiteral("--dist-install") << release;
    if (!kind.books.isEmpty())
        args << kind.books;
    return args;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& data)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

Store describe(const QString& folder)
{
    Store store;
    store.database = folder + QStringLiteral("/library.db");
    store.smart = folder + QStringLiteral("/smart");
    store.out = QString::fromUtf8(readAll(folder + u'/' + QLatin1String(kOut))).split(u'\n', Qt::SkipEmptyParts);
    store.err = QString::fromUtf8(readAll(folder + u'/' + QLatin1String(kErr)));
    return store;
}

// True when the store at `folder` was made by `stamp` after the executable
// and the release were last built.
bool fresh(const QString& folder, const QString& release, const QByteArray& stamp)
{
    const QFileInfo made(folder + u'/' + QLatin1String(kStamp));
    const QDateTime built = std::max(QFileInfo(QStringLiteral(QUORVEL_BINARY)).lastModified(),
                                     QFileInfo(release + QStringLiteral("/index.json")).lastModified());
    return made.exists() && made.lastModified() >= built && readAll(made.filePath()) == stamp;
}

// Installs into a folder beside `folder` and puts it in its place once whole;
// the installer's output is kept in either case.
Store install(const QString& folder, const QStringList& args, const QByteArray& stamp)
{
    const QString work = folder + QStringLiteral(".part");
    QDir(work).removeRecursively();
    const QString home = work + QStringLiteral("/home");
    QDir().mkpath(home);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QUORVEL_DB"));
    env.insert(QStringLiteral("QUORVEL_LIBDB"), work + QStringLiteral("/library.db"));
    env.insert(QStringLiteral("QUORVEL_SMARTDIR"), work + QStringLiteral("/smart"));
    env.insert(QStringLiteral("QUORVEL_USERDB"), home + QStringLiteral("/user.db"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVEL_BINARY), args);
    const bool finished = process.waitForFinished(kInstallMs);
    writeAll(work + u'/' + QLatin1String(kOut), process.readAllStandardOutput());
    writeAll(work + u'/' + QLatin1String(kErr), process.readAllStandardError());
    Store failed = describe(work);
    failed.database.clear();
    failed.smart.clear();
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return failed;
    QDir(home).removeRecursively();
    QDir(folder).removeRecursively();
    if (!QDir().rename(work, folder) || !writeAll(folder + u'/' + QLatin1String(kStamp), stamp))
        return failed;
    Store store = describe(folder);
    store.folder = folder;
    return store;
}

} // namespace

Kind whole()
{
    return {QStringLiteral("sample"), {}, {}};
}

Kind withReuse()
{
    return {QStringLiteral("sample-reuse"), {QStringLiteral("-localReuse"), QStringLiteral("YES")},
            QStringLiteral("1,2,3,4,5,6,11")};
}

namespace {

// The fingerprint of each store handed out, as it was then.
QHash<QString, QString>& handedOut()
{
    static QHash<QString, QString> stores;
    return stores;
}

Store handOut(Store store)
{
    if (!store.folder.isEmpty() && !handedOut().contains(store.folder))
        handedOut().insert(store.folder, fingerprint(store.folder));
    return store;
}

} // namespace

QString fingerprint(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file = it.nextFileInfo();
        files << file.filePath() + u' ' + QString::number(file.size()) + u' '
                     + QString::number(file.lastModified().toMSecsSinceEpoch());
    }
    files.sort();
    return files.join(u'\n');
}

QStringList changedStores()
{
    QStringList changed;
    for (auto it = handedOut().cbegin(); it != handedOut().cend(); ++it)
        if (fingerprint(it.key()) != it.value())
            changed << it.key();
    return changed;
}

namespace {

Store lockedShared(const QString& release, const Kind& kind)
{
    if (!QFileInfo::exists(release + QStringLiteral("/index.json")))
        return {};
    QDir().mkpath(root());
    const QString folder = root() + u'/' + kind.name;
    const QStringList args = arguments(release, kind);
    const QByteArray stamp = args.join(u'\n').toUtf8();
    QLockFile lock(folder + QStringLiteral(".lock"));
    // Only a lock whose process has gone is stale: an install beside a busy
    // suite may take minutes.
    lock.setStaleLockTime(0);
    if (!lock.lock())
        return {};
    if (fresh(folder, release, stamp)) {
        Store store = describe(folder);
        store.folder = folder;
        return store;
    }
    return install(folder, args, stamp);
}

} // namespace

Store shared(const QString& release, const Kind& kind)
{
    return handOut(lockedShared(release, kind));
}

bool copyFile(const QString& from, const QString& to)
{
    std::error_code error;
    return std::filesystem::copy_file(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString(),
                                      std::filesystem::copy_options::overwrite_existing, error);
}

bool copyFiles(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    const QDir source(from);
    for (const QString& name : source.entryList(QDir::Files))
        if (!copyFile(source.filePath(name), QDir(to).filePath(name)))
            return false;
    return true;
}

bool copy(const Store& store, const QString& database, const QString& smartDir)
{
    return !store.folder.isEmpty() && copyFile(store.database, database) && copyFiles(store.smart, smartDir);
}

} // namespace quorvel::test::SampleStore
