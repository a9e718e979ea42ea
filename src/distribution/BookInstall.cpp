#include "distribution/BookInstall.h"

#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/SQLiteTriggers.h"
#include "core/ShingleRuns.h"
#include "distribution/LocalStore.h"
#include "distribution/NarratorWriter.h"
#include "distribution/RawDeflate.h"
#include "scholar/Isnad.h"
#include "scholar/TextReuse.h"
#include "search/PageIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel::BookInstall {

namespace {

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
// Page ids among another book's: each book keeps a stretch of ids of its own,
// which the search walks book by book.
constexpr TitledMessage kMsgIdInAnotherRange{u"معرّفات صفحات «", u"» تقع بين معرّفات صفحات كتاب آخر."};
constexpr TitledMessage kMsgPageTooLarge{u"في «", u"» صفحة أكبر من الحد المقبول لصفحة واحدة."};
constexpr TitledMessage kMsgHeadingTooLong{u"في «", u"» عنوان فصل أطول من المقبول."};
constexpr TitledMessage kMsgLabelTooLong{u"في «", u"» اسم جزء أطول من المقبول."};
// A value past Dist::maxPackageValueBytes, refused unread.
constexpr TitledMessage kMsgValueTooLarge{u"في «", u"» نصّ أكبر من الحد المقبول لنصّ واحد."};
// A book without pages would install as an empty entry of the library.
constexpr TitledMessage kMsgNoPages{u"حزمة «", u"» بلا صفحات."};

// More than the memory the process may take: a page too long for it, or
// too many books' worth of other work running beside the install.
constexpr TitledMessage kMsgOutOfMemory{u"لا تتسع الذاكرة المتاحة لتثبيت «", u"»."};
// The store's counting of changes could not be switched back on after the
// book's rows were written; nothing of the book is kept.
const QString kMsgTriggersOff = QStringLiteral("تعذّر التثبيت: تعذّرت إعادة تشغيل متابعة التغييرات في المكتبة المحلية");

const QString packagePattern = QStringLiteral("qbook-*.sqlite");
const QString msgTempWrite = QStringLiteral("تعذّرت كتابة الملف المؤقت ");

// The shingles a book sorts in memory at once (24 bytes each).
constexpr std::size_t kShingleBlock = std::size_t(1) << 19;

// Thrown inside the transaction; the install rolls back and rethrows it.
struct Abort {
    QString message;
};

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

// Creates the package file at `path` and has `fill` write it, with its lock
// taken before the name appears, so that no other install's clean-up can
// ever see it unlocked. Returns the open, locked descriptor. Whatever `fill`
// throws leaves no file behind.
int createLockedFile(const QString& path, const std::function<void(int fd)>& fill)
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
        const QByteArray* named;
        ~Guard()
        {
            if (fd < 0)
                return;
            if (named)
                ::unlink(named->constData());
            ::close(fd);
        }
    } guard{fd, unnamed ? nullptr : &name};
    if (::flock(fd, LOCK_EX) != 0)
        tempWriteFailed(path, errno);
    fill(fd);
    if (unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) != 0)
            tempWriteFailed(path, errno);
    }
    guard.fd = -1;
    return fd;
}

// The package's bytes as the signed catalogue names them: fetched to disk as
// they arrive (a mirror sending more than the declared size fills neither
// memory nor the disk past it), their size and digest checked.
QByteArray fetchPackage(const Dist::CatBook& book, const QUrl& base)
{
    // However large a size the signed catalogue declares, a package is not
    // fetched, held or inflated past what any package can be.
    if (book.size > Dist::declaredFileLimit || book.usize > Dist::declaredFileLimit)
        throw Dist::DistError(kMsgPackageBeyondLimit(book.title));
    struct Scratch {
        int fd = openScratchFile();
        ~Scratch() { ::close(fd); }
    } scratch;
    const std::int64_t fetched = Dist::fetchInto(
        base, book.file, book.size, [&](QByteArrayView chunk) { writeAll(scratch.fd, QDir::tempPath(), chunk); });
    // Size first: a wrong length is refused without reading, hashing or inflating.
    if (fetched != book.size)
        throw Dist::DistError(kMsgPackageDigest(book.title));
    QByteArray packed = readBack(scratch.fd, fetched);
    if (Dist::sha256(packed) != book.sha256)
        throw Dist::DistError(kMsgPackageDigest(book.title));
    return packed;
}

// Inflates the package under its declared size into the file open on `fd`,
// a chunk at a time: the inflated bytes are never held whole.
void inflateInto(int fd, const QString& path, const Dist::CatBook& book, const QByteArray& packed)
{
    QString inflateError;
    bool tooLarge = false;
    // A negative declared size must not lift the cap.
    const bool inflated =
        RawDeflate::inflateInto(packed, [&](QByteArrayView chunk) { writeAll(fd, path, chunk); }, &inflateError,
                                std::max<std::int64_t>(book.usize, 0), &tooLarge);
    if (tooLarge)
        throw Dist::DistError(kMsgPackageTooLarge(book.title));
    if (!inflated)
        throw Dist::PlatformError(inflateError);
}

// The package inflated into its locked temporary file (`temp`) and opened
// read-only; refused when it is no package of this library.
std::shared_ptr<SQLiteDB> openPackage(const Dist::CatBook& book, const QByteArray& packed, TemporaryFile& temp)
{
    removeLeftoverPackages();
    const QString tempPath = QDir(QDir::tempPath())
                                 .filePath(QStringLiteral("qbook-%1-%2.sqlite")
                                               .arg(book.id)
                                               .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
    temp.fd = createLockedFile(tempPath, [&](int fd) { inflateInto(fd, tempPath, book, packed); });
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
    return package;
}

// Pages read and written a batch at a time. Each page's own work (its
// normal form, chains, shingles, index rows: most of an install's time
// beyond its rows) needs nothing but the page, so it runs on a few threads
// while this thread reads the next batch and writes the one before, in
// order: the rows and the ids they get are those of a page-by-page install.
constexpr std::size_t kBatchPages = 256;
constexpr unsigned kMostWorkers = 4;
// A batch closes once it holds this many letters of page text: with two
// batches in hand, pages at the length bound are worked one at a time and
// the install holds about what a page-by-page install would.
constexpr qsizetype kBatchLetters = Dist::maxPageLength / 2;

// Runs `work(i)` for every i below `n` on up to kMostWorkers threads. The
// first exception any of them threw is rethrown here once all are done; the
// others then take no further item. Threads that cannot be started leave
// their share to those that were.
template <typename Work>
void eachOnWorkers(std::size_t n, const Work& work)
{
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMostWorkers);
    std::atomic<std::size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto drain = [&]() noexcept {
        try {
            for (std::size_t i; (i = next++) < n;)
                work(i);
        } catch (...) {
            const std::lock_guard guard(failureLock);
            if (!failure)
                failure = std::current_exception();
            next = n;
        }
    };
    std::vector<std::thread> pool;
    try {
        pool.reserve(threads);
        for (std::size_t t = 1; t < std::min(threads, n); ++t)
            pool.emplace_back(drain);
    } catch (const std::exception&) {
    }
    drain();
    for (std::thread& t : pool)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

// `read` fills a batch (leaving it empty at the end), `work` does one item's
// own work off this thread, `write` takes a worked batch in order and lets
// each item's data go. Whatever throws, on any thread, the workers are done
// before the batches go and the first failure is rethrown here.
template <typename Item, typename Read, typename Work, typename Write>
void pipelined(const Read& read, const Work& work, const Write& write)
{
    std::vector<Item> batches[2];
    std::thread worker;
    std::exception_ptr workFailure;
    struct Join {
        std::thread& t;
        ~Join()
        {
            if (t.joinable())
                t.join();
        }
    } join{worker};
    const auto workOn = [&work, &workFailure](std::vector<Item>& batch) noexcept {
        try {
            eachOnWorkers(batch.size(), [&](std::size_t i) { work(batch[i]); });
        } catch (...) {
            workFailure = std::current_exception();
        }
    };
    const auto start = [&](std::vector<Item>& batch) {
        try {
            worker = std::thread(workOn, std::ref(batch));
        } catch (const std::exception&) {
            workOn(batch); // no thread to spare: worked here, before the next read
        }
    };
    const auto finish = [&] {
        if (worker.joinable())
            worker.join();
        if (workFailure)
            std::rethrow_exception(std::exchange(workFailure, nullptr));
    };
    int k = 0;
    read(batches[k]);
    if (batches[k].empty())
        return;
    start(batches[k]);
    for (;;) {
        std::vector<Item>& following = batches[1 - k];
        following.clear();
        read(following);
        finish();
        if (!following.empty())
            start(following);
        write(batches[k]);
        batches[k].clear();
        if (following.empty()) {
            finish();
            return;
        }
        k = 1 - k;
    }
}

// Whether a batch holding `letters` letters of text and `pages` pages is full.
bool batchFull(std::size_t pages, qsizetype letters)
{
    return pages >= kBatchPages || letters >= kBatchLetters;
}

// A statement that must not fail throws when it did.
void must(SQLiteDB& db, bool ok)
{
    if (!ok)
        throw Abort{LocalStore::installFailure(db.lastFailure())};
}

// One write that may be refused by a constraint but must not fail otherwise.
// A row that a constraint refuses is only skipped; any other failure (disk
// full, I/O error) means the transaction cannot be trusted.
Statement::Step write(SQLiteDB& db, Statement& st, const SQLArgs& args)
{
    st.bind(args);
    const Statement::Step step = st.next();
    if (step == Statement::Step::Error)
        throw Abort{LocalStore::installFailure(db.lastFailure())};
    return step;
}

// The book's text-reuse shingles. Each goes into the table as its page is
// read, under the rowid SQLite would give it, so that the table and its
// indexes by page and by book grow at their ends; its lookup copy goes into
// the newest run (ShingleRuns.h) a block at a time in hash order. In page
// order every copy lands on another leaf of that run; in hash order the
// block passes over it once.
class ShingleWriter {
public:
    ShingleWriter(SQLiteDB& db, std::int64_t bookId)
        : db_(db), bookId_(bookId),
          insert_(db.prepare(QStringLiteral("INSERT INTO shingles(rowid, hash, page_id, book_id) VALUES(?,?,?,?)")))
    {
    }
    bool ready() const { return insert_.has_value(); }

    void add(std::int64_t hash, std::int64_t pageId)
    {
        ++added_;
        if (!lastRowid_)
            openRun();
        // Past the largest rowid SQLite picks free ones at random: no order to keep.
        if (*lastRowid_ == std::numeric_limits<std::int64_t>::max()) {
            auto bare = db_.prepare(QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,?)"));
            must(db_, bare.has_value());
            if (write(db_, *bare, {hash, pageId, bookId_}) == Statement::Step::Done)
                copyToRun({hash, db_.lastInsertId(), pageId});
            return;
        }
        const std::int64_t rowid = ++*lastRowid_;
        if (write(db_, *insert_, {rowid, hash, pageId, bookId_}) != Statement::Step::Done)
            return;
        pending_.push_back({hash, rowid, pageId});
        if (pending_.size() >= kShingleBlock)
            flush();
    }

    // Copies the block still held into the run, in hash order.
    void flush()
    {
        std::sort(pending_.begin(), pending_.end(), [](const Shingle& a, const Shingle& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.rowid < b.rowid;
        });
        for (const Shingle& s : pending_)
            copyToRun(s);
        pending_.clear();
    }

    // Lets the runs merge as the shingles added call for (ShingleRuns::settle).
    void settle() { must(db_, ShingleRuns::settle(db_, added_)); }

private:
    struct Shingle {
        std::int64_t hash, rowid, pageId;
    };

    void openRun()
    {
        // SQLite gives a row without a rowid the largest one plus one;
        // the rows of a replaced version are gone by now.
        lastRowid_ = db_.scalarInt(QStringLiteral("SELECT IFNULL(MAX(rowid), 0) FROM shingles"));
        run_ = ShingleRuns::openRun(db_);
        const auto table = ShingleRuns::openTable(db_);
        must(db_, lastRowid_ && run_ && table);
        insertRun_ = db_.prepare(
            QStringLiteral("INSERT INTO %1(run, hash, sid, page_id, book_id) VALUES(?,?,?,?,?)").arg(*table));
        must(db_, insertRun_.has_value());
    }
    void copyToRun(const Shingle& s) { write(db_, *insertRun_, {*run_, s.hash, s.rowid, s.pageId, bookId_}); }

    SQLiteDB& db_;
    const std::int64_t bookId_;
    std::optional<Statement> insert_;
    std::optional<Statement> insertRun_; // into the open run's table, once it is known
    std::vector<Shingle> pending_;
    std::int64_t added_ = 0;
    std::optional<std::int64_t> lastRowid_; // the largest rowid in the table
    std::optional<std::int64_t> run_;       // the run taking the book's lookup copies
};

// The store's triggers off while the page index's writer is at work, back on
// however the install ends. Each trigger of the tables written meanwhile
// exempts that writer, and so does nothing (the writer's own start has
// already counted the change and dropped the index's "found whole" mark).
// A trigger fired per row opens a statement savepoint, and each savepoint
// makes the full-text tables flush their pending terms: page by page, that
// was most of an install's time beyond its rows.
// A failure to switch them back on fails the install (run() tries again
// after a refusal), so that no later write goes uncounted unsaid.
class TriggersOff {
public:
    explicit TriggersOff(SQLiteDB& db) : db_(db) { must(db_, setTriggersEnabled(db_, false)); }
    ~TriggersOff()
    {
        if (!restored_)
            setTriggersEnabled(db_, true);
    }
    TriggersOff(const TriggersOff&) = delete;
    TriggersOff& operator=(const TriggersOff&) = delete;

    void restore()
    {
        restored_ = true;
        if (!setTriggersEnabled(db_, true))
            throw Abort{kMsgTriggersOff};
    }

private:
    SQLiteDB& db_;
    bool restored_ = false;
};

// Replaces every row of one book inside the store's open transaction; each
// stage throws Abort when the book cannot be stored whole.
class BookWriter {
public:
    BookWriter(SQLiteDB& db, SQLiteDB& package, const Dist::CatBook& book)
        : db_(db), package_(package), book_(book)
    {
    }

    void replaceRows(const Dist::Catalog& catalog, std::int64_t release)
    {
        removeReplacedVersion();
        writeCatalogueRows(catalog);
        writePages();
        readHeadings();
        writePageIndex();
        writeHeadings();
        single(QStringLiteral("INSERT OR REPLACE INTO installed(book_id, root, release, ts) VALUES(?,?,?,?)"),
               {book_.id, book_.root, release, Library::now()});
    }

private:
    struct StoredPage {
        std::int64_t id;
        QString content;
    };
    struct Heading {
        std::optional<std::int64_t> id, pageSeq, parentId, level;
        std::optional<QString> title;
    };
    // A page as the package gives it, and what the workers make of it.
    struct PackagePage {
        std::int64_t id = 0, seq = 0;
        std::optional<std::int64_t> pageNum;
        std::optional<QString> vol;
        QString content;
        QString norm;
        QList<std::pair<QString, QString>> edges;
        QList<std::int64_t> shingles;
    };
    // A page as stored, with its index rows once the workers made them.
    struct StoredRows {
        std::int64_t id = 0;
        QString content, norm;
        bool indexed = false; // whether the index takes the page now
        PageIndex::PageRow row;
    };

    void must(bool ok) const { BookInstall::must(db_, ok); }
    Statement::Step write(Statement& st, const SQLArgs& args) const { return BookInstall::write(db_, st, args); }
    Statement::Step single(const QString& sql, const SQLArgs& args) const
    {
        auto st = db_.prepare(sql);
        must(st.has_value());
        return write(*st, args);
    }

    // A package that cannot be stored whole is refused for its content first,
    // as a check before any write would have refused it.
    [[noreturn]] void refuse(const QString& message) const
    {
        const QString root = Dist::root(package_, book_.id, book_.title);
        // A package read cut short by memory proves nothing of its content.
        failIfOutOfMemory(package_);
        if (root != book_.root)
            throw Abort{kMsgContentRoot(book_.title)};
        throw Abort{message};
    }
    // A read of the package or the store refused for memory is said so.
    void failIfOutOfMemory(SQLiteDB& db) const
    {
        const auto failure = db.lastFailure();
        if (failure && failure->systemError == ENOMEM)
            throw Abort{kMsgOutOfMemory(book_.title)};
    }
    // A text column that gave no text was refused the memory to convert
    // it: the page must not be taken as empty.
    void textRead(const Statement& row, int column, const std::optional<QString>& text) const
    {
        if (!text && row.holdsText(column))
            throw Abort{kMsgOutOfMemory(book_.title)};
    }
    // A read of the package that stopped before its end, said as its reason.
    [[noreturn]] void readCutShort() const
    {
        if (readStoppedByLimit())
            throw Abort{kMsgValueTooLarge(book_.title)};
        failIfOutOfMemory(package_);
        refuse(LocalStore::installFailure(db_.lastFailure()));
    }

    // A value past the package connection's limit stops the read before it
    // is loaded; it is refused whatever its content root.
    bool readStoppedByLimit() const
    {
        const auto failure = package_.lastFailure();
        return failure && failure->kind == SQLFailure::Kind::tooLarge;
    }

    void removeReplacedVersion();
    void writeCatalogueRows(const Dist::Catalog& catalog);
    void checkPageBounds(const std::optional<QString>& text, const std::optional<QString>& vol);
    void writePages();
    void checkIdRange(std::int64_t first, std::int64_t last);
    void readHeadings();
    void writePageIndex();
    void writeHeadings();

    SQLiteDB& db_;
    SQLiteDB& package_;
    const Dist::CatBook& book_;
    bool reuse_ = false;
    // The pages of the version being replaced: their plain rows go at once,
    // their full-text and index rows just before the new ones are written.
    QList<StoredPage> replaced_;
    Dist::RootBuilder root_;
    std::optional<PageIndex::Writer> pageIndex_;
    std::optional<TriggersOff> triggersOff_; // while pageIndex_ writes
    QList<Heading> headings_;
};

void BookWriter::removeReplacedVersion()
{
    // A book the store has never held leaves nothing to remove; skipping the
    // pass keeps a first install from scanning tables that grow with the store.
    // Shared passages are found only between books that all carry shingles:
    // once the store holds any, every book it installs gets them, whatever
    // the preference says, or an update would leave holes in that data.
    reuse_ = LocalStore::withReuse()
        || db_.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM shingles)")).value_or(0) != 0;
    const bool held = db_.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM books WHERE id=?) "
                                                   "OR EXISTS(SELECT 1 FROM installed WHERE book_id=?)"),
                                    {book_.id, book_.id})
                          .value_or(1) != 0;
    if (!held)
        return;
    auto old = db_.prepare(QStringLiteral("SELECT id, content FROM pages WHERE book_id=?"));
    must(old.has_value());
    old->bind({book_.id});
    Statement::Step step;
    while ((step = old->next()) == Statement::Step::Row)
        replaced_.append({old->integer(0).value_or(0), old->text(1).value_or(QString())});
    must(step == Statement::Step::Done);
    for (const char* sql : plainDeletes)
        must(db_.run(QString::fromLatin1(sql), {book_.id}));
}

void BookWriter::writeCatalogueRows(const Dist::Catalog& catalog)
{
    if (book_.authorId) {
        for (const auto& a : catalog.authors) {
            if (a.id != *book_.authorId)
                continue;
            single(QStringLiteral("INSERT OR REPLACE INTO authors(id, name, death_year, death_text, full_name, bio) "
                                  "VALUES(?,?,?,?,?,?)"),
                   {a.id, a.name, a.deathYear, a.deathText, a.fullName, a.bio});
            break;
        }
    }
    if (book_.categoryId) {
        for (const auto& c : catalog.categories) {
            if (c.id != *book_.categoryId)
                continue;
            single(QStringLiteral("INSERT OR REPLACE INTO categories(id, name, parent_id, sort) VALUES(?,?,?,?)"),
                   {c.id, c.name, c.parentId, c.sort});
            break;
        }
    }
    single(QStringLiteral("INSERT OR REPLACE INTO books(id, title, author_id, category_id, book_date, edition, "
                          "publisher, source_uri, license) VALUES(?,?,?,?,?,?,?,?,?)"),
           {book_.id, book_.title, book_.authorId, book_.categoryId, book_.bookDate, book_.edition, book_.publisher,
            book_.source, book_.license});
}

// The page's text and volume label within their bounds.
void BookWriter::checkPageBounds(const std::optional<QString>& text, const std::optional<QString>& vol)
{
    if (text && text->size() > Dist::maxPageLength)
        refuse(kMsgPageTooLarge(book_.title));
    if (vol && vol->size() > Dist::maxVolumeLabelLength)
        refuse(kMsgLabelTooLong(book_.title));
}

// The plain tables first, the full-text tables after (writePageIndex): a
// full-text table already written in the transaction flushes its pending
// terms at every statement savepoint, and a statement that fires a trigger
// opens one (see TriggersOff).
void BookWriter::writePages()
{
    auto insertPage = db_.prepare(QStringLiteral(
        "INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) VALUES(?,?,?,?,?,?,?)"));
    ShingleWriter shingles(db_, book_.id);
    auto pages = package_.prepare(QString::fromLatin1(Dist::RootBuilder::pagesQuery));
    must(insertPage && shingles.ready() && pages);
    NarratorWriter narrators(db_);
    must(narrators.ready());
    // Made before the first page, so that the pages' own triggers know the
    // index is being kept; the triggers are then off until it is done.
    pageIndex_.emplace(db_);
    triggersOff_.emplace(db_);

    Statement::Step pageStep = Statement::Step::Row;
    std::int64_t pageCount = 0;
    std::int64_t firstId = std::numeric_limits<std::int64_t>::max();
    std::int64_t lastId = std::numeric_limits<std::int64_t>::min();
    // Each page's length is checked as it is read, before any work on it.
    const auto read = [&](std::vector<PackagePage>& batch) {
        qsizetype letters = 0;
        while (!batchFull(batch.size(), letters) && pageStep == Statement::Step::Row
               && (pageStep = pages->next()) == Statement::Step::Row) {
            const std::optional<QString> text = pages->text(4);
            const std::optional<QString> vol = pages->text(2);
            textRead(*pages, 4, text);
            textRead(*pages, 2, vol);
            checkPageBounds(text, vol);
            root_.addPage(*pages, text);
            letters += text ? text->size() : 0;
            batch.push_back({pages->integer(0).value_or(0), pages->integer(1).value_or(0), pages->integer(3), vol,
                             text.value_or(QString()), {}, {}, {}});
        }
    };
    const auto work = [this](PackagePage& page) {
        page.norm = Arabic::normalize(Library::searchedContent(page.content), true);
        page.edges = Isnad::edges(page.content);
        // Shared passages are the words as written, once.
        if (reuse_)
            page.shingles = TextReuse::shingleHashesOfNormalized(
                Arabic::mushafSpelling(page.content) ? Arabic::normalize(page.content, true) : page.norm);
    };
    const auto write = [&](std::vector<PackagePage>& batch) {
        for (PackagePage& page : batch) {
            ++pageCount;
            if (this->write(*insertPage, {page.id, book_.id, page.vol, page.pageNum, page.seq, page.content, page.norm})
                == Statement::Step::Constraint)
                refuse(kMsgIdConflict(book_.title));
            firstId = std::min(firstId, page.id);
            lastId = std::max(lastId, page.id);
            must(narrators.addEdges(page.edges, book_.id, page.id));
            for (const std::int64_t hash : page.shingles)
                shingles.add(hash, page.id);
            page = {}; // written: its text and work go now, not with the batch
        }
    };
    pipelined<PackagePage>(read, work, write);
    shingles.flush();
    // A failure while reading the package is not the end of its pages.
    if (pageStep != Statement::Step::Done)
        readCutShort();
    if (pageCount == 0)
        refuse(kMsgNoPages(book_.title));
    checkIdRange(firstId, lastId);
    shingles.settle();
}

// Refuses the page ids `first`..`last` when another book's pages lie among
// them or they among another book's. In a store whose books each keep their
// own stretch, a stretch holding no other book's page lies inside another
// book's only when its neighbours on both sides are that book's.
void BookWriter::checkIdRange(std::int64_t first, std::int64_t last)
{
    const auto among = db_.scalarInt(
        QStringLiteral("SELECT EXISTS(SELECT 1 FROM pages WHERE id BETWEEN ?1 AND ?2 AND book_id<>?3) "
                       "OR IFNULL((SELECT book_id FROM pages WHERE id<?1 ORDER BY id DESC LIMIT 1) "
                       "= (SELECT book_id FROM pages WHERE id>?2 ORDER BY id LIMIT 1), 0)"),
        {first, last, book_.id});
    must(among.has_value());
    if (*among != 0)
        refuse(kMsgIdInAnotherRange(book_.title));
}

// The headings, held for writeHeadings, with their titles within bounds;
// then the package's content root, proved over pages and headings.
void BookWriter::readHeadings()
{
    if (auto st = package_.prepare(QString::fromLatin1(Dist::RootBuilder::headingsQuery))) {
        Statement::Step headingStep;
        while ((headingStep = st->next()) == Statement::Step::Row) {
            std::optional<QString> title = st->typedText(4);
            if (title && title->size() > Dist::maxHeadingLength)
                refuse(kMsgHeadingTooLong(book_.title));
            root_.addHeading(*st);
            headings_.append({st->typedInteger(0), st->typedInteger(1), st->typedInteger(2), st->typedInteger(3),
                              std::move(title)});
        }
        // As with the pages: a read cut short is no end of the headings.
        if (headingStep != Statement::Step::Done)
            readCutShort();
    }
    if (root_.finish(book_.id, book_.title) != book_.root)
        throw Abort{kMsgContentRoot(book_.title)};
}

// The full-text and page index rows, made from the pages as stored and read
// back one at a time, so that a large book is never held in memory whole.
void BookWriter::writePageIndex()
{
    auto insertFts = db_.prepare(
        QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"));
    auto dropFts = db_.prepare(QStringLiteral("DELETE FROM pages_fts WHERE rowid=?"));
    must(insertFts && dropFts);
    for (const StoredPage& page : std::as_const(replaced_)) {
        write(*dropFts, {page.id});
        must(pageIndex_->remove(page.id, page.content));
    }
    replaced_.clear();
    auto written =
        db_.prepare(QStringLiteral("SELECT id, content, content_norm FROM pages WHERE book_id=? ORDER BY id"));
    must(written.has_value());
    written->bind({book_.id});
    Statement::Step writtenStep = Statement::Step::Row;
    const auto read = [&](std::vector<StoredRows>& batch) {
        qsizetype letters = 0;
        while (!batchFull(batch.size(), letters) && writtenStep == Statement::Step::Row
               && (writtenStep = written->next()) == Statement::Step::Row) {
            const std::int64_t id = written->integer(0).value_or(0);
            const std::optional<QString> content = written->text(1), norm = written->text(2);
            textRead(*written, 1, content);
            textRead(*written, 2, norm);
            batch.push_back({id, content.value_or(QString()), norm.value_or(QString()), pageIndex_->keeps(id), {}});
            letters += batch.back().content.size();
        }
    };
    const auto work = [](StoredRows& page) {
        if (page.indexed)
            page.row = PageIndex::pageRow(page.content);
    };
    const auto write = [&](std::vector<StoredRows>& batch) {
        for (StoredRows& page : batch) {
            if (this->write(*insertFts, {page.id, page.norm, page.id, book_.id}) == Statement::Step::Constraint)
                throw Abort{kMsgIdConflict(book_.title)};
            must(pageIndex_->add(page.id, page.row));
            page = {};
        }
    };
    pipelined<StoredRows>(read, work, write);
    must(writtenStep == Statement::Step::Done);
    written.reset();
    must(pageIndex_->finish());
    triggersOff_->restore();
    triggersOff_.reset();
}

void BookWriter::writeHeadings()
{
    auto owner = db_.prepare(QStringLiteral("SELECT book_id FROM toc WHERE id=?"));
    auto insertHeading = db_.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO toc(id, book_id, title, page_seq, parent_id, level) VALUES(?,?,?,?,?,?)"));
    must(owner && insertHeading);
    for (const Heading& heading : std::as_const(headings_)) {
        if (heading.id) {
            owner->bind({*heading.id});
            const Statement::Step held = owner->next();
            if (held == Statement::Step::Error)
                throw Abort{LocalStore::installFailure(db_.lastFailure())};
            if (held == Statement::Step::Row && owner->integer(0) != book_.id)
                throw Abort{kMsgIdConflict(book_.title)};
        }
        // A heading without a title is refused by the schema and simply missing.
        write(*insertHeading,
              {heading.id, book_.id, heading.title, heading.pageSeq, heading.parentId, heading.level});
    }
}

} // namespace

namespace {

void install(SQLiteDB& store, const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
             const QUrl& base)
{
    TemporaryFile temp;
    // The compressed bytes go once inflated: the package is read from its file.
    const auto package = openPackage(book, fetchPackage(book, base), temp);

    // Anything thrown below leaves through the transaction, which rolls back.
    Transaction transaction(store);
    if (!transaction.begun())
        throw Dist::DistError(LocalStore::installFailure(store.lastFailure()));
    try {
        BookWriter(store, *package, book).replaceRows(catalog, release);
    } catch (const Abort& abort) {
        // A refusal's writer switched the triggers on as it went; if it
        // could not, that is what the reader must hear.
        if (!setTriggersEnabled(store, true))
            throw Dist::DistError(kMsgTriggersOff);
        throw Dist::DistError(abort.message);
    }
    if (!transaction.commit())
        throw Dist::DistError(LocalStore::installFailure(transaction.failure()));
}

} // namespace

void run(SQLiteDB& store, const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
         const QUrl& base)
{
    // Memory refused on any thread, by this program or by Qt, ends the
    // install as a refusal: the transaction has rolled back by now.
    try {
        install(store, book, catalog, release, base);
    } catch (const std::bad_alloc&) {
        setTriggersEnabled(store, true);
        throw Dist::DistError(kMsgOutOfMemory(book.title));
    }
}

int removeLeftoverPackages()
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

} // namespace quorvel::BookInstall
