#include "distribution/LocalStore.h"
#include "distribution/NarratorWriter.h"

#include "core/Arabic.h"
#include "core/LibrarySchema.h"
#include "core/Numbers.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "core/SQLiteDB.h"
#include "distribution/BookInstall.h"
#include "scholar/Isnad.h"
#include "search/PageIndex.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quorvel {

namespace {

const QString reusePreference = QStringLiteral("localReuse");

const QString msgInstallFailed = QStringLiteral("تعذّر التثبيت");
const QString msgStoreDamaged = QStringLiteral("ملف المكتبة المحلية تالف");
const QString msgStoreReadOnly = QStringLiteral("ملف المكتبة المحلية للقراءة فقط");
const QString msgStoreBusy = QStringLiteral("برنامج آخر يكتب في المكتبة المحلية الآن");

} // namespace

LocalStore::LocalStore(std::shared_ptr<SQLiteDB> db) : db_(std::move(db)) {}

LocalStore::~LocalStore() = default;

QString LocalStore::path()
{
    return Paths::localStorePath();
}

std::unique_ptr<LocalStore> LocalStore::open()
{
    if (!Paths::localStorePathProblem().isEmpty())
        return nullptr;
    return open(path());
}

int LocalStore::removeLeftoverPackages()
{
    return BookInstall::removeLeftoverPackages();
}

std::unique_ptr<LocalStore> LocalStore::open(const QString& filePath)
{
    auto db = SQLiteDB::open(filePath, false);
    if (!db)
        return nullptr;
    // Books are written in large transactions: the readers' page cache, and
    // the log moved into the file at the end of a batch (checkpoint()) or
    // past a quarter of a gigabyte, rather than after nearly every book.
    db->exec(QStringLiteral("PRAGMA cache_size=-65536; PRAGMA wal_autocheckpoint=65536"));
    // A failing statement shows later, statement by statement, unless the
    // caller asks first (schemaFailure()).
    const bool schemaMade = LibrarySchema::create(*db) && PageIndex::createSchema(*db);
    // Read at once: the failing call's error is the connection's latest.
    const std::optional<SQLFailure> why = schemaMade ? std::nullopt : db->lastFailure();
    // A store without narrators holds none read under older chain rules.
    if (schemaMade && !db->isReadOnly() && !db->scalarInt(QStringLiteral("SELECT 1 FROM narrators LIMIT 1")))
        db->run(QStringLiteral("INSERT OR IGNORE INTO meta(key, value) VALUES(?, ?)"),
                {kIsnadRulesKey, QString::number(Isnad::rulesVersion)});
    // Nor does a store without pages hold forms made under older rules.
    if (schemaMade && !db->isReadOnly() && !db->scalarInt(QStringLiteral("SELECT 1 FROM pages LIMIT 1")))
        db->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"),
                {kNormVersionKey, QString::number(Arabic::normVersion)});
    std::unique_ptr<LocalStore> store(new LocalStore(db));
    if (!schemaMade)
        store->schemaFailure_ = why.value_or(SQLFailure{});
    return store;
}

const QString LocalStore::msgUnavailable = QStringLiteral("تعذّر فتح المكتبة المحلية");

namespace {

const QString msgStoreFolderMissing = QStringLiteral("مجلدها غير موجود");
const QString msgStoreNotRegular = QStringLiteral("مكانها ليس ملفاً عادياً");

} // namespace

QString LocalStore::targetProblem(const QString& filePath)
{
    const QByteArray name = QFile::encodeName(filePath);
    const QFileInfo file(filePath);
    struct stat info {};
    if (::stat(name.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return LocalStore::msgUnavailable + QStringLiteral(": ") + Dist::fileErrorReason(EISDIR);
        // SQLite would read and write a device or pipe as if it were the file.
        if (!S_ISREG(info.st_mode))
            return LocalStore::msgUnavailable + QStringLiteral(": ") + msgStoreNotRegular;
        if (::access(name.constData(), W_OK) != 0)
            return installFailure(SQLFailure{SQLFailure::Kind::readOnly, {}});
    } else if (!QFileInfo(file.absolutePath()).isDir()) {
        return LocalStore::msgUnavailable + QStringLiteral(": ") + msgStoreFolderMissing;
    }
    // The write-ahead log and its index are made beside the file, unless an
    // earlier writer left both.
    const bool logsKept = ::access(QFile::encodeName(filePath + QStringLiteral("-wal")).constData(), W_OK) == 0
        && ::access(QFile::encodeName(filePath + QStringLiteral("-shm")).constData(), W_OK) == 0;
    if (!logsKept && ::access(QFile::encodeName(file.absolutePath()).constData(), W_OK) != 0)
        return installFailure(SQLFailure{SQLFailure::Kind::readOnly, {}});
    return {};
}

QString LocalStore::installFailure(const std::optional<SQLFailure>& failure)
{
    if (!failure)
        return msgInstallFailed;
    switch (failure->kind) {
    case SQLFailure::Kind::full:
        return msgInstallFailed + QStringLiteral(": ") + Dist::fileErrorReason(ENOSPC);
    case SQLFailure::Kind::readOnly:
        return msgInstallFailed + QStringLiteral(": ") + msgStoreReadOnly;
    case SQLFailure::Kind::damaged:
        return msgInstallFailed + QStringLiteral(": ") + msgStoreDamaged;
    case SQLFailure::Kind::busy:
        return msgInstallFailed + QStringLiteral(": ") + msgStoreBusy;
    default:
        // A write the system refused (a file-size limit, say) names its reason.
        if (failure->systemError != 0)
            return msgInstallFailed + QStringLiteral(": ") + Dist::fileErrorReason(failure->systemError);
        return msgInstallFailed;
    }
}

PageIndex::Build LocalStore::buildPageIndex(const PageIndex::Progress& progress, std::optional<SQLFailure>* why)
{
    return PageIndex::build(*db_, progress, 2000, why);
}

QString LocalStore::pageIndexProblem(const std::optional<SQLFailure>& why)
{
    static const QString msgIndexIncomplete =
        QStringLiteral("فهرس صفحات البحث غير مكتمل، فالبحث في المتن أو الحواشي أو بالهمزات أبطأ حتى يكتمل");
    QString reason;
    if (why) {
        switch (why->kind) {
        case SQLFailure::Kind::readOnly:
            reason = msgStoreReadOnly;
            break;
        case SQLFailure::Kind::busy:
            reason = msgStoreBusy;
            break;
        case SQLFailure::Kind::full:
            reason = Dist::fileErrorReason(ENOSPC);
            break;
        case SQLFailure::Kind::damaged:
            reason = msgStoreDamaged;
            break;
        default:
            break;
        }
    }
    if (reason.isEmpty())
        return msgIndexIncomplete + u'.';
    return msgIndexIncomplete + QStringLiteral(": ") + reason + u'.';
}

std::int64_t LocalStore::lastRelease() const
{
    const auto rows = db_->rows(QStringLiteral("SELECT value FROM meta WHERE key='release'"));
    if (rows.isEmpty())
        return 0;
    const auto text = rows.first().str(0);
    return text ? Numbers::parseInteger(*text).value_or(0) : 0;
}

bool LocalStore::setRelease(std::int64_t release)
{
    return db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES('release', ?)"),
                    {QString::number(release)});
}

QHash<std::int64_t, QString> LocalStore::installed() const
{
    QHash<std::int64_t, QString> result;
    for (const auto& row : db_->rows(QStringLiteral("SELECT book_id, root FROM installed"))) {
        const auto id = row.integer(0);
        if (!id)
            continue;
        result.insert(*id, row.str(1).value_or(QString()));
    }
    return result;
}

std::int64_t LocalStore::bookCount() const
{
    return db_->scalarInt(QStringLiteral("SELECT COUNT(*) FROM installed")).value_or(0);
}

bool LocalStore::withReuse()
{
    return Preferences::standard().boolValue(reusePreference);
}

void LocalStore::setWithReuse(bool on)
{
    Preferences::standard().set(reusePreference, on);
}

bool LocalStore::remove(std::int64_t bookId, bool inTransaction)
{
    // On its own, a removal is one transaction: the book goes whole or stays.
    std::optional<Transaction> own;
    if (!inTransaction) {
        own.emplace(*db_);
        if (!own->begun())
            return false;
    }
    // Full-text rows first, while the pages that name them still exist.
    bool ok = PageIndex::removeBook(*db_, bookId);
    ok = db_->run(QStringLiteral("DELETE FROM pages_fts WHERE rowid IN (SELECT id FROM pages WHERE book_id=?)"),
                  {bookId})
        && ok;
    for (const char* sql : BookInstall::plainDeletes)
        ok = db_->run(QString::fromLatin1(sql), {bookId}) && ok;
    if (own && ok)
        ok = own->commit();
    return ok;
}

void LocalStore::checkpoint()
{
    db_->exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
}

void LocalStore::install(const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
                         const QUrl& base)
{
    BookInstall::run(*db_, book, catalog, release, base);
}

} // namespace quorvel
