#pragma once

// Reading a file whole, or streaming it, the one safe way: opened once,
// without waiting for a writer, and the opened file itself examined (a
// regular file, within a size bound). A name checked and then opened by name
// may meanwhile have become a pipe or a device, whose open or read would
// hold the reader for ever.
//
// Fails quietly: a Read or Opened says what went wrong, with errno's value
// where the system gave one. Any thread.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace quorvel::WholeFile {

enum class Problem { none, cannotOpen, notRegular, tooLarge, unreadable };

// A file opened read-only and examined; closes its descriptor when it goes.
class Opened {
public:
    explicit Opened(const QString& path);
    ~Opened();
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    // The descriptor of a regular file, or -1 with `problem` and `error` set.
    int fd() const { return fd_; }
    Problem problem() const { return problem_; }
    int error() const { return error_; }
    // The file's size when it was opened.
    std::int64_t size() const { return size_; }

    // Hands the file's bytes from the current offset to `take`, a chunk at a
    // time, until `want` bytes or the end; how many it read, or nothing with
    // `error` set when a read failed.
    std::optional<std::int64_t> stream(std::int64_t want, const std::function<void(QByteArrayView)>& take);

private:
    int fd_ = -1;
    Problem problem_ = Problem::none;
    int error_ = 0;
    std::int64_t size_ = 0;
};

struct Read {
    std::optional<QByteArray> bytes; // the whole file when it could be read
    Problem problem = Problem::none;
    int error = 0; // errno's value for cannotOpen and unreadable
};

// The whole file at `path`, refused (tooLarge) past `maxBytes`, also when it
// grew past the bound after it was measured.
Read read(const QString& path, qint64 maxBytes);

} // namespace quorvel::WholeFile
