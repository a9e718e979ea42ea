// Reading a book's package: fetched to disk, its size and digest checked,
// inflated into a locked temporary file and opened read-only; and the
// clean-up of the files killed installs left behind.

#include "distribution/BookInstall.h"
#include "distribution/BookInstallSteps.h"

#include "core/Library.h"
#include "distribution/RawDeflate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>

namespace quorvel::BookInstall {

namespace {

constexpr TitledMessage kMsgPackageDigest{u"بصمة حزمة «", u"» لا تطابق الفهرس."};
// The package inflates past the size the signed catalogue gives it.
constexpr TitledMessage kMsgPackageTooLarge{u"حزمة «", u"» أكبر من حجمها المعلن."};
// A declared size past Dist::declaredFileLimit: no book package is that large.
constexpr TitledMessage kMsgPackageBeyondLimit{u"حجم حزمة «", u"» المعلن أكبر من أي حزمة مقبولة."};
constexpr TitledMessage kMsgPackageDamaged{u"حزمة «", u"» تالفة."};
constexpr TitledMessage kMsgNotAPackage{u"«", u"» ليست حزمة مكتبة قورفل."};

const QString packagePattern = QStringLiteral("qbook-*.sqlite");
const QString msgTempWrite = QStringLiteral("تعذّرت كتابة الملف المؤقت ");

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

} // namespace

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

namespace {

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

} // namespace

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
