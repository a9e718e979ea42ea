#include "distribution/LocalStore.h"
#include "distribution/NarratorWriter.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
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
const QString msgStoreFolderMissing = QStringLiteral("مجلدها غير موجود");
const QString msgStoreNotRegular = QStringLiteral("مكانها ليس ملفاً عادياً");
const QString msgIndexIncomplete =
    QStringLiteral("فهرس صفحات البحث غير مكتمل، فالبحث في المتن أو الحواشي أو بالهمزات أبطأ حتى يكتمل");

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
    std::unique_ptr<LocalStore> store(new LocalStore(db));
    if (!schemaMade)
        store->schemaFailure_ = why.value_or(SQLFailure{});
    return store;
}

const QString LocalStore::msgUnavailable = QStringLiteral("تعذّر فتح المكتبة المحلية");

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

bool LocalStore::narratorsOutdated() const
{
    return narratorsOutdated(*db_);
}

bool LocalStore::narratorsOutdated(SQLiteDB& db)
{
    const auto rows = db.rows(QStringLiteral("SELECT value FROM meta WHERE key=?"), {kIsnadRulesKey});
    if (!rows.isEmpty() && rows.first().str(0) == QString::number(Isnad::rulesVersion))
        return false;
    // Without stored narrators nothing was read under older rules.
    return db.scalarInt(QStringLiteral("SELECT 1 FROM narrators LIMIT 1")).has_value();
}

std::optional<std::int64_t> LocalStore::refreshNarrators()
{
    if (db_->isReadOnly() || !narratorsOutdated())
        return std::nullopt;
    std::int64_t chained = 0;
    {
        Transaction transaction(*db_);
        if (!transaction.begun()
            || !db_->exec(QStringLiteral(
                "DELETE FROM isnad_edges; DELETE FROM narrators; DELETE FROM meta WHERE key='narrators_merged';")))
            return std::nullopt;
        NarratorWriter narrators(*db_);
        auto pages = db_->prepare(QStringLiteral("SELECT id, book_id, content FROM pages ORDER BY id"));
        if (!narrators.ready() || !pages)
            return std::nullopt;
        Statement::Step step;
        while ((step = pages->next()) == Statement::Step::Row) {
            const QString content = pages->text(2).value_or(QString());
            if (!Isnad::hasIsnad(content))
                continue;
            ++chained;
            if (!narrators.addPage(content, pages->integer(1).value_or(0), pages->integer(0).value_or(0)))
                return std::nullopt;
        }
        pages.reset();
        if (step != Statement::Step::Done
            || !db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"),
                         {kIsnadRulesKey, QString::number(Isnad::rulesVersion)})
            || !transaction.commit())
            return std::nullopt;
    }
    // Every name is new to the merge now: it looks at them all.
    dedupNarrators();
    return chained;
}

QString LocalStore::narratorsRefreshedNotice(std::int64_t pages)
{
    return QStringLiteral(u"حُدّث جدول الرواة وشبكة الأسانيد بقواعد الاستخراج الحالية: قُرئت أسانيد ")
        + CountedNoun::pages().count(pages, CountedNoun::Case::genitive)
        + QStringLiteral(u" من جديد دون إعادة تثبيت الكتب.");
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

bool LocalStore::dedupNarrators()
{
    // Names up to the recorded id were merged by an earlier batch, so only a
    // group holding a later name can change. A batch that stopped before its
    // merge leaves its names above the mark for the next one.
    const auto mark = db_->rows(QStringLiteral("SELECT value FROM meta WHERE key='narrators_merged'"));
    const std::optional<std::int64_t> merged =
        mark.isEmpty() || !mark.first().str(0) ? std::nullopt : Numbers::parseInteger(*mark.first().str(0));
    // Without a mark every name counts as new: the store's first merge looks at all.
    const std::int64_t mergedUpTo = merged.value_or(-1);
    const std::int64_t newest = db_->scalarInt(QStringLiteral("SELECT MAX(id) FROM narrators")).value_or(0);
    if (newest <= mergedUpTo)
        return true;

    struct Entry {
        std::int64_t id;
        QString name;
    };
    struct Group {
        QList<Entry> members;
        bool changed = false;
    };
    // Groups in first-seen order; members keep their reading order.
    QHash<QString, qsizetype> groupOf;
    QList<Group> groups;
    for (const auto& row : db_->rows(QStringLiteral("SELECT id, name FROM narrators"))) {
        const auto id = row.integer(0);
        const auto name = row.str(1);
        if (!id || !name)
            continue;
        const QString key = Arabic::normalize(*name, true);
        auto it = groupOf.find(key);
        if (it == groupOf.end()) {
            it = groupOf.insert(key, groups.size());
            groups.append(Group());
        }
        groups[*it].members.append({*id, *name});
        groups[*it].changed = groups[*it].changed || *id > mergedUpTo;
    }

    Transaction transaction(*db_);
    if (!transaction.begun())
        return false;
    for (const auto& [group, changed] : std::as_const(groups)) {
        if (group.size() < 2 || !changed)
            continue;
        qsizetype keeper = 0;
        qsizetype longest = Characters::count(group[0].name);
        for (qsizetype i = 1; i < group.size(); ++i) {
            const qsizetype length = Characters::count(group[i].name);
            if (length > longest) {
                longest = length;
                keeper = i;
            }
        }
        const std::int64_t keep = group[keeper].id;
        QList<std::int64_t> ids;
        for (const Entry& member : group)
            ids.append(member.id);
        const SQLArgs members = argsOf(ids);
        const QString inGroup = QStringLiteral(" IN (") + SQLiteDB::marks(members.size()) + u')';
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (i == keeper)
                continue;
            const std::int64_t gone = group[i].id;
            // Edges within the group would become the keeper's loops. They
            // are found from the name that goes, whose edges are mostly this
            // batch's, not from the keeper, whose edges grow with the library
            // (the unary plus keeps SQLite off the keeper's side).
            // A half-made merge would leave edges pointing at a deleted narrator.
            if (!db_->run(QStringLiteral("DELETE FROM isnad_edges WHERE student_id=? AND +teacher_id") + inGroup,
                          SQLArgs{gone} + members)
                || !db_->run(QStringLiteral("DELETE FROM isnad_edges WHERE teacher_id=? AND +student_id") + inGroup,
                             SQLArgs{gone} + members)
                || !db_->run(QStringLiteral("UPDATE isnad_edges SET student_id=? WHERE student_id=?"), {keep, gone})
                || !db_->run(QStringLiteral("UPDATE isnad_edges SET teacher_id=? WHERE teacher_id=?"), {keep, gone})
                || !db_->run(QStringLiteral("DELETE FROM narrators WHERE id=?"), {gone}))
                return false;
        }
    }
    // A store merged before the mark existed may still hold loops from its installs.
    if (!merged && !db_->run(QStringLiteral("DELETE FROM isnad_edges WHERE student_id=teacher_id")))
        return false;
    return db_->run(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) "
                                   "SELECT 'narrators_merged', IFNULL(MAX(id), 0) FROM narrators"))
        && transaction.commit();
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
