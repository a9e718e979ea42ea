#include "core/AtomicFile.h"

#include "core/DistFetch.h"

#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

#include <cerrno>

namespace quorvel::AtomicFile {

namespace {

// The reasons worded for a write; the others are those of any file access.
constexpr char kNoFolder[] = "المجلد غير موجود";
// A file stands in the path where a folder should be.
constexpr char kFileInPath[] = "في المسار ملف في موضع مجلد";
constexpr char kNoWritePermission[] = "لا إذن بالكتابة في هذا المجلد";
// A device or pipe would be replaced by a regular file, not written to.
constexpr char kNotRegular[] = "ليس ملفاً عادياً";

// The reason for the failure the last file call reported: the system's error
// number when it left one, the device's own description otherwise.
QString reason(const QFileDevice& file, int errorNumber)
{
    if (errorNumber == ENOENT)
        return QString::fromUtf8(kNoFolder);
    if (errorNumber == ENOTDIR)
        return QString::fromUtf8(kFileInPath);
    if (errorNumber == EACCES || errorNumber == EPERM)
        return QString::fromUtf8(kNoWritePermission);
    if (errorNumber != 0)
        return Dist::fileErrorReason(errorNumber);
    const QString description = file.errorString();
    return description.isEmpty() ? Dist::fileErrorReason(EIO) : description;
}

} // namespace

std::optional<QString> put(QFileDevice& file, const QList<QByteArrayView>& parts)
{
    qint64 total = 0;
    for (const QByteArrayView part : parts) {
        errno = 0;
        if (file.write(part.data(), part.size()) != part.size())
            return reason(file, errno);
        total += part.size();
    }
    // The buffered bytes meet the disk here, not at write().
    errno = 0;
    if (!file.flush() || file.error() != QFileDevice::NoError)
        return reason(file, errno);
    if (!file.isSequential() && file.size() != total)
        return reason(file, EIO);
    return std::nullopt;
}

std::optional<QString> replace(const QString& path, const QList<QByteArrayView>& parts)
{
    // What the name already holds must be a file to replace (through a link too).
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return Dist::fileErrorReason(EISDIR);
        if (!S_ISREG(info.st_mode))
            return QString::fromUtf8(kNotRegular);
    }
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return reason(file, errno);
    if (std::optional<QString> failed = put(file, parts)) {
        file.cancelWriting();
        return failed;
    }
    errno = 0;
    if (!file.commit())
        return reason(file, errno);
    return std::nullopt;
}

} // namespace quorvel::AtomicFile
