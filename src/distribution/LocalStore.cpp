#include "distribution/LocalStore.h"
#include "distribution/NarratorWriter.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/LibrarySchema.h"
#include "core/Numbers.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"
#include "distribution/RawDeflate.h"
#include "scholar/Isnad.h"
#include "scholar/TextReuse.h"
#include "search/PageIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

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

QString installFailed(const std::optional<SQLFailure>& failure)
{
    return LocalStore::installFailure(failure);
}

// A refusal naming the book: the text before the title, the title, the text after.
struct TitledMessage {
    const char16_t* before;
    const char16_t* after;
    QString operator()(const QString& title) const
    {
        return QString::fromUtf16(before) + title + QString::fromUtf16(after);
    }
};

constexpr TitledMessage kMsgPackageDigest{u"بصمة حزمة «", u"» لا تطابق الفهرس."};
// The package inflates past the size the signed catalogue gives it.
constexpr TitledMessage kMsgPackageTooLarge{u"حزمة «", u"» أكبر من حجمها المعلن."};
// A declared size past Dist::declaredFileLimit: no book package is that large.
constexpr TitledMessage kMsgPackageBeyondLimit{u"حجم حزمة «", u"» المعلن أكبر من أي حزمة مقبولة."};
constexpr TitledMessage kMsgPackageDamaged{u"حزمة «", u"» تالفة."};
constexpr TitledMessage kMsgNotAPackage{u"«", u"» ليست حزمة مكتبة قورفل."};
constexpr TitledMessage kMsgContentRoot{u"محتوى «", u"» لا يطابق بصمته."};
// A page or heading id that another installed book already holds: storing the
// book would silently drop or take over the other book's rows.
constexpr TitledMessage kMsgIdConflict{u"معرّفات صفحات «", u"» أو عناوينها مستعملة في كتاب آخر."};
constexpr TitledMessage kMsgPageTooLarge{u"في «", u"» صفحة أكبر من الحد المقبول لصفحة واحدة."};
constexpr TitledMessage kMsgHeadingTooLong{u"في «", u"» عنوان فصل أطول من المقبول."};
constexpr TitledMessage kMsgLabelTooLong{u"في «", u"» اسم جزء أطول من المقبول."};
// A value past Dist::maxPackageValueBytes, refused unread.
constexpr TitledMessage kMsgValueTooLarge{u"في «", u"» نصّ أكبر من الحد المقبول لنصّ واحد."};
// A book without pages would install as an empty entry of the library.
constexpr TitledMessage kMsgNoPages{u"حزمة «", u"» بلا صفحات."};

const QString packagePattern = QStringLiteral("qbook-*.sqlite");
const QString msgTempWrite = QStringLiteral("تعذّرت كتابة الملف المؤقت ");

// The package's temporary file, removed however the install ends. Its
// descriptor holds an exclusive lock for the whole install, which tells a
// live install's file from one a killed install left behind.
struct TemporaryFile {
    QString path;
    int fd = -1;
    ~TemporaryFile()
    {
        if (!path.isEmpty())
            QFile::remove(path);
        if (fd >= 0)
            ::close(fd);
    }
};

[[noreturn]] void tempWriteFailed(const QString& path, int errorNumber)
{
    throw Dist::PlatformError(msgTempWrite + path + QStringLiteral(": ") + Dist::fileErrorReason(errorNumber));
}

void writeAll(int fd, const QString& path, QByteArrayView bytes)
{
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            tempWriteFailed(path, errno);
        }
        at += n;
        left -= n;
    }
}

// An unnamed file in the temporary folder, open for reading and writing and
// gone once closed, so that no run leaves it behind. File systems without
// unnamed files get a named one whose name is removed at once.
int openScratchFile()
{
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
    int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    QByteArray name = folder + "/qbook-fetch-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        tempWriteFailed(QFile::decodeName(name), errno);
    ::unlink(name.constData());
    return fd;
}

// Reads `size` bytes from the start of the file.
QByteArray readBack(int fd, std::int64_t size)
{
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + at, static_cast<size_t>(bytes.size() - at), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            tempWriteFailed(QDir::tempPath(), n < 0 ? errno : EIO);
        at += n;
    }
    return bytes;
}

// Creates the package file at `path` holding `bytes`, with its lock taken
// before the name appears, so that no other install's clean-up can ever see
// it unlocked. Returns the open, locked descriptor.
int createLockedFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray name = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const bool unnamed = fd >= 0;
    // File systems without unnamed files get the name at once.
    if (!unnamed)
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        tempWriteFailed(path, errno);
    struct Guard {
        int fd;
        ~Guard()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } guard{fd};
    if (::flock(fd, LOCK_EX) != 0)
        tempWriteFailed(path, errno);
    writeAll(fd, path, bytes);
    if (unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) != 0)
            tempWriteFailed(path, errno);
    }
    guard.fd = -1;
    return fd;
}

// One book's rows in the tables that are not full-text.
constexpr const char* kPlainDeletes[] = {
    "DELETE FROM pages WHERE book_id=?",     "DELETE FROM toc WHERE book_id=?",
    "DELETE FROM isnad_edges WHERE book_id=?", "DELETE FROM shingles WHERE book_id=?",
    "DELETE FROM books WHERE id=?",          "DELETE FROM installed WHERE book_id=?",
};

// The shingles a book sorts in memory at once (24 bytes each).
constexpr std::size_t kShingleBlock = std::size_t(1) << 19;

// Thrown inside the transaction; the install rolls back and rethrows it.
struct Abort {
    QString message;
};

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
    int removed = 0;
    const QDir temp(QDir::tempPath());
    for (const QString& name : temp.entryList({packagePattern}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QString file = temp.filePath(name);
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A running install keeps its package locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && QFile::remove(file))
            ++removed;
        ::close(fd);
    }
    return removed;
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
    for (const char* sql : kPlainDeletes)
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
    // However large a size the signed catalogue declares, a package is not
    // fetched, held or inflated past what any package can be.
    if (book.size > Dist::declaredFileLimit || book.usize > Dist::declaredFileLimit)
        throw Dist::DistError(kMsgPackageBeyondLimit(book.title));
    // The fetch goes to disk as it arrives: a mirror that sends more than the
    // declared size fills neither memory nor the disk past it.
    struct Scratch {
        int fd = openScratchFile();
        ~Scratch() { ::close(fd); }
    } scratch;
    const std::int64_t fetched = Dist::fetchInto(
        base, book.file, book.size, [&](QByteArrayView chunk) { writeAll(scratch.fd, QDir::tempPath(), chunk); });
    // Size first: a wrong length is refused without reading, hashing or inflating.
    if (fetched != book.size)
        throw Dist::DistError(kMsgPackageDigest(book.title));
    const QByteArray packed = readBack(scratch.fd, fetched);
    if (Dist::sha256(packed) != book.sha256)
        throw Dist::DistError(kMsgPackageDigest(book.title));

    QString inflateError;
    bool tooLarge = false;
    // A negative declared size must not lift the cap.
    const auto plain = RawDeflate::inflate(packed, &inflateError, std::max<std::int64_t>(book.usize, 0), &tooLarge);
    if (tooLarge)
        throw Dist::DistError(kMsgPackageTooLarge(book.title));
    if (!plain)
        throw Dist::PlatformError(inflateError);

    removeLeftoverPackages();
    const QString tempPath = QDir(QDir::tempPath())
                                 .filePath(QStringLiteral("qbook-%1-%2.sqlite")
                                               .arg(book.id)
                                               .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
    TemporaryFile temp;
    temp.fd = createLockedFile(tempPath, *plain);
    temp.path = tempPath;

    auto package = SQLiteDB::open(Library::readOnlyUri(tempPath), true);
    if (!package)
        throw Dist::DistError(kMsgPackageDamaged(book.title));
    package->limitValueBytes(Dist::maxPackageValueBytes);
    // SQLite opens lazily: bytes that are no database at all yield no
    // application id here and are refused as not being a package.
    if (package->scalarInt(QStringLiteral("PRAGMA application_id")).value_or(0) != Dist::appID)
        throw Dist::DistError(kMsgNotAPackage(book.title));
    // The content root is checked in the pass that stores the pages.

    // Anything thrown below leaves through the transaction, which rolls back.
    Transaction transaction(*db_);
    if (!transaction.begun())
        throw Dist::DistError(installFailed(db_->lastFailure()));
    try {
        writeBook(*package, book, catalog, release);
    } catch (const Abort& abort) {
        throw Dist::DistError(abort.message);
    }
    if (!transaction.commit())
        throw Dist::DistError(installFailed(transaction.failure()));
}

// Replaces every row of the book inside the open transaction; throws Abort
// when the book cannot be stored whole.
void LocalStore::writeBook(SQLiteDB& package, const Dist::CatBook& book, const Dist::Catalog& catalog,
                           std::int64_t release)
{
    SQLiteDB& db = *db_;
    auto must = [&db](bool ok) {
        if (!ok)
            throw Abort{installFailed(db.lastFailure())};
    };
    // One write that may be refused by a constraint but must not fail otherwise.
    // A row that a constraint refuses is only skipped; any other failure
    // (disk full, I/O error) means the transaction cannot be trusted.
    auto write = [&db](Statement& st, const SQLArgs& args) {
        st.bind(args);
        const Statement::Step step = st.next();
        if (step == Statement::Step::Error)
            throw Abort{installFailed(db.lastFailure())};
        return step;
    };
    auto single = [&](const QString& sql, const SQLArgs& args) {
        auto st = db.prepare(sql);
        must(st.has_value());
        return write(*st, args);
    };

    // A book the store has never held leaves nothing to remove; skipping the
    // pass keeps a first install from scanning tables that grow with the store.
    // Shared passages are found only between books that all carry shingles:
    // once the store holds any, every book it installs gets them, whatever
    // the preference says, or an update would leave holes in that data.
    const bool reuse = withReuse()
        || db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM shingles)")).value_or(0) != 0;
    const bool held = db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM books WHERE id=?) "
                                                  "OR EXISTS(SELECT 1 FROM installed WHERE book_id=?)"),
                                   {book.id, book.id})
                          .value_or(1) != 0;
    // The pages of the version being replaced: their plain rows go now, their
    // full-text rows just before the new ones are written.
    struct StoredPage {
        std::int64_t id;
        QString content;
    };
    QList<StoredPage> replaced;
    if (held) {
        auto old = db.prepare(QStringLiteral("SELECT id, content FROM pages WHERE book_id=?"));
        must(old.has_value());
        old->bind({book.id});
        Statement::Step step;
        while ((step = old->next()) == Statement::Step::Row)
            replaced.append({old->integer(0).value_or(0), old->text(1).value_or(QString())});
        must(step == Statement::Step::Done);
        for (const char* sql : kPlainDeletes)
            must(db.run(QString::fromLatin1(sql), {book.id}));
    }

    if (book.authorId) {
        for (const auto& a : catalog.authors) {
            if (a.id != *book.authorId)
                continue;
            single(QStringLiteral("INSERT OR REPLACE INTO authors(id, name, death_year, death_text, full_name, bio) "
                                  "VALUES(?,?,?,?,?,?)"),
                   {a.id, a.name, a.deathYear, a.deathText, a.fullName, a.bio});
            break;
        }
    }
    if (book.categoryId) {
        for (const auto& c : catalog.categories) {
            if (c.id != *book.categoryId)
                continue;
            single(QStringLiteral("INSERT OR REPLACE INTO categories(id, name, parent_id, sort) VALUES(?,?,?,?)"),
                   {c.id, c.name, c.parentId, c.sort});
            break;
        }
    }
    single(QStringLiteral("INSERT OR REPLACE INTO books(id, title, author_id, category_id, book_date, edition, "
                          "publisher, source_uri, license) VALUES(?,?,?,?,?,?,?,?,?)"),
           {book.id, book.title, book.authorId, book.categoryId, book.bookDate, book.edition, book.publisher,
            book.source, book.license});

    // A package that cannot be stored whole is refused for its content first,
    // as a check before any write would have refused it.
    auto refuse = [&](const QString& message) {
        if (Dist::root(package, book.id, book.title) != book.root)
            throw Abort{kMsgContentRoot(book.title)};
        throw Abort{message};
    };

    auto insertPage = db.prepare(QStringLiteral(
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) VALUES(?,?,?,?,?,?,?)"));
    auto insertShingle =
        db.prepare(QStringLiteral("INSERT INTO shingles(rowid, hash, page_id, book_id) VALUES(?,?,?,?)"));
    std::optional<Statement> insertRunShingle; // into the open run's table, once it is known
    auto pages = package.prepare(QString::fromLatin1(Dist::RootBuilder::pagesQuery));
    must(insertPage && insertShingle && pages);
    // Each shingle goes into the table as its page is read, under the rowid
    // SQLite would give it, so that the table and its indexes by page and by
    // book grow at their ends; its lookup copy goes into the newest run
    // (ShingleRuns.h) a block at a time in hash order. In page order every
    // copy lands on another leaf of that run; in hash order the block passes
    // over it once.
    struct Shingle {
        std::int64_t hash, rowid, pageId;
    };
    std::vector<Shingle> shingles;
    std::int64_t shinglesAdded = 0;
    std::optional<std::int64_t> lastShingle; // the largest rowid in the table
    std::optional<std::int64_t> run;         // the run taking the book's lookup copies
    const auto copyToRun = [&](const Shingle& s) {
        write(*insertRunShingle, {*run, s.hash, s.rowid, s.pageId, book.id});
    };
    const auto flushShingles = [&] {
        std::sort(shingles.begin(), shingles.end(), [](const Shingle& a, const Shingle& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.rowid < b.rowid;
        });
        for (const Shingle& s : shingles)
            copyToRun(s);
        shingles.clear();
    };
    const auto addShingle = [&](std::int64_t hash, std::int64_t pageId) {
        ++shinglesAdded;
        if (!lastShingle) {
            // SQLite gives a row without a rowid the largest one plus one;
            // the rows of a replaced version are gone by now.
            lastShingle = db.scalarInt(QStringLiteral("SELECT IFNULL(MAX(rowid), 0) FROM shingles"));
            run = ShingleRuns::openRun(db);
            const auto table = ShingleRuns::openTable(db);
            must(lastShingle && run && table);
            insertRunShingle = db.prepare(
                QStringLiteral("INSERT INTO %1(run, hash, sid, page_id, book_id) VALUES(?,?,?,?,?)").arg(*table));
            must(insertRunShingle.has_value());
        }
        // Past the largest rowid SQLite picks free ones at random: no order to keep.
        if (*lastShingle == std::numeric_limits<std::int64_t>::max()) {
            auto bare = db.prepare(QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,?)"));
            must(bare.has_value());
            if (write(*bare, {hash, pageId, book.id}) == Statement::Step::Done)
                copyToRun({hash, db.lastInsertId(), pageId});
            return;
        }
        const std::int64_t rowid = ++*lastShingle;
        if (write(*insertShingle, {rowid, hash, pageId, book.id}) != Statement::Step::Done)
            return;
        shingles.push_back({hash, rowid, pageId});
        if (shingles.size() >= kShingleBlock)
            flushShingles();
    };
    NarratorWriter narrators(db);
    must(narrators.ready());
    Dist::RootBuilder root;
    // Made before the first page, so that the pages' own triggers know the
    // index is being kept.
    PageIndex::Writer pageIndex(db);

    // A value past the package connection's limit stops the read before it
    // is loaded; it is refused whatever its content root.
    const auto tooLarge = [&package] {
        const auto failure = package.lastFailure();
        return failure && failure->kind == SQLFailure::Kind::tooLarge;
    };

    // The plain tables first, the full-text tables after: every insert into
    // `pages` runs under a statement journal (its triggers), and a full-text
    // table already written in the transaction would flush its pending terms
    // at each of them. So does a replaced version's removal. The full-text
    // rows are then made from the pages as stored, read back one at a time,
    // so that a large book is never held in memory whole.
    Statement::Step pageStep;
    std::int64_t pageCount = 0;
    while ((pageStep = pages->next()) == Statement::Step::Row) {
        ++pageCount;
        const std::int64_t pid = pages->integer(0).value_or(0);
        const std::optional<QString> text = pages->text(4);
        if (text && text->size() > Dist::maxPageLength)
            refuse(kMsgPageTooLarge(book.title));
        const std::optional<QString> vol = pages->text(2);
        if (vol && vol->size() > Dist::maxVolumeLabelLength)
            refuse(kMsgLabelTooLong(book.title));
        root.addPage(*pages, text);
        const QString content = text.value_or(QString());
        const QString norm = Arabic::normalize(content, true);

        if (write(*insertPage, {pid, book.id, vol, pages->integer(3), pages->integer(1).value_or(0),
                                content, norm})
            == Statement::Step::Constraint)
            refuse(kMsgIdConflict(book.title));

        must(narrators.addPage(content, book.id, pid));

        if (reuse)
            for (const std::int64_t hash : TextReuse::shingleHashesOfNormalized(norm))
                addShingle(hash, pid);
    }
    flushShingles();
    // A failure while reading the package is not the end of its pages.
    if (pageStep != Statement::Step::Done && tooLarge())
        throw Abort{kMsgValueTooLarge(book.title)};
    if (pageStep != Statement::Step::Done)
        refuse(installFailed(db.lastFailure()));
    if (pageCount == 0)
        refuse(kMsgNoPages(book.title));
    must(ShingleRuns::settle(db, shinglesAdded));
    pages.reset();

    struct Heading {
        std::optional<std::int64_t> id, pageSeq, parentId, level;
        std::optional<QString> title;
    };
    QList<Heading> headings;
    if (auto st = package.prepare(QString::fromLatin1(Dist::RootBuilder::headingsQuery))) {
        Statement::Step headingStep;
        while ((headingStep = st->next()) == Statement::Step::Row) {
            std::optional<QString> title = st->typedText(4);
            if (title && title->size() > Dist::maxHeadingLength)
                refuse(kMsgHeadingTooLong(book.title));
            root.addHeading(*st);
            headings.append({st->typedInteger(0), st->typedInteger(1), st->typedInteger(2), st->typedInteger(3),
                             std::move(title)});
        }
        // As with the pages: a read cut short is no end of the headings.
        if (headingStep != Statement::Step::Done && tooLarge())
            throw Abort{kMsgValueTooLarge(book.title)};
        if (headingStep != Statement::Step::Done)
            refuse(installFailed(db.lastFailure()));
    }
    if (root.finish(book.id, book.title) != book.root)
        throw Abort{kMsgContentRoot(book.title)};

    auto insertFts = db.prepare(
        QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"));
    auto dropFts = db.prepare(QStringLiteral("DELETE FROM pages_fts WHERE rowid=?"));
    must(insertFts && dropFts);
    for (const StoredPage& page : std::as_const(replaced)) {
        write(*dropFts, {page.id});
        must(pageIndex.remove(page.id, page.content));
    }
    replaced.clear();
    auto written = db.prepare(QStringLiteral("SELECT id, content, content_norm FROM pages WHERE book_id=? ORDER BY id"));
    must(written.has_value());
    written->bind({book.id});
    Statement::Step writtenStep;
    while ((writtenStep = written->next()) == Statement::Step::Row) {
        const std::int64_t id = written->integer(0).value_or(0);
        const QString norm = written->text(2).value_or(QString());
        if (write(*insertFts, {id, norm, id, book.id}) == Statement::Step::Constraint)
            throw Abort{kMsgIdConflict(book.title)};
        must(pageIndex.add(id, written->text(1).value_or(QString()), norm));
    }
    must(writtenStep == Statement::Step::Done);
    written.reset();
    must(pageIndex.finish());

    auto owner = db.prepare(QStringLiteral("SELECT book_id FROM toc WHERE id=?"));
    auto insertHeading = db.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO toc(id, book_id, title, page_seq, parent_id, level) VALUES(?,?,?,?,?,?)"));
    must(owner && insertHeading);
    for (const Heading& heading : std::as_const(headings)) {
        if (heading.id) {
            owner->bind({*heading.id});
            const Statement::Step held = owner->next();
            if (held == Statement::Step::Error)
                throw Abort{installFailed(db.lastFailure())};
            if (held == Statement::Step::Row && owner->integer(0) != book.id)
                throw Abort{kMsgIdConflict(book.title)};
        }
        // A heading without a title is refused by the schema and simply missing.
        write(*insertHeading, {heading.id, book.id, heading.title, heading.pageSeq, heading.parentId, heading.level});
    }

    single(QStringLiteral("INSERT OR REPLACE INTO installed(book_id, root, release, ts) VALUES(?,?,?,?)"),
           {book.id, book.root, release, Library::now()});
}

} // namespace quorvel
