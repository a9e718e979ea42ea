#include "core/WholeFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quorvel::WholeFile {

Opened::Opened(const QString& path)
{
    // Non-blocking: a pipe opens at once, without a writer, and is refused.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem_ = Problem::cannotOpen;
        error_ = errno;
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        problem_ = Problem::cannotOpen;
        error_ = errno;
        ::close(fd);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        problem_ = Problem::notRegular;
        ::close(fd);
        return;
    }
    fd_ = fd;
    size_ = std::int64_t(info.st_size);
}

Opened::~Opened()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::int64_t> Opened::stream(std::int64_t want, const std::function<void(QByteArrayView)>& take)
{
    std::int64_t read = 0;
    char buffer[1 << 16];
    while (read < want) {
        const auto chunk = static_cast<size_t>(std::min<std::int64_t>(sizeof buffer, want - read));
        const ssize_t n = ::read(fd_, buffer, chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return std::nullopt;
        }
        if (n == 0)
            break;
        take(QByteArrayView(buffer, n));
        read += n;
    }
    return read;
}

Read read(const QString& path, qint64 maxBytes)
{
    Opened file(path);
    if (file.fd() < 0)
        return {std::nullopt, file.problem(), file.error()};
    if (file.size() > maxBytes)
        return {std::nullopt, Problem::tooLarge, 0};
    QByteArray bytes;
    bytes.reserve(qsizetype(file.size()));
    // One byte past the bound tells a file that grew since it was measured.
    if (!file.stream(maxBytes + 1, [&bytes](QByteArrayView chunk) { bytes.append(chunk); }))
        return {std::nullopt, Problem::unreadable, file.error()};
    if (bytes.size() > maxBytes)
        return {std::nullopt, Problem::tooLarge, 0};
    return {std::move(bytes), Problem::none, 0};
}

} // namespace quorvel::WholeFile
