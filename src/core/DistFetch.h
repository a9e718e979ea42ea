#pragma once

// The transfer side of the release format: fetching a file named relative to
// a release base (a folder or an HTTP(S) URL), its SHA-256, and the errors
// every release operation throws. It sits in core, below the distribution
// subsystem, because the word-model download of the scholarly tools fetches
// and checks its files the same way.
//
// Fetching blocks its thread; run it off the GUI thread. Refusals throw
// DistError with the Arabic sentence shown to the user; network and file
// failures throw PlatformError with the platform's own description.

#include "core/UserError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

namespace quorvel::Dist {

// A refusal of this subsystem, carrying its Arabic message.
class DistError : public UserError {
public:
    using UserError::UserError;
};

// A failure of the network, the file system, decompression or JSON decoding,
// passed on with the platform's own description.
class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const QString& description)
        : std::runtime_error(description.toStdString()), description_(description) {}
    const QString& description() const { return description_; }

private:
    QString description_;
};

// The user-facing text of any failure thrown through this subsystem.
QString describe(const std::exception& error);

// Lowercase hexadecimal, two digits per byte.
QString hex(const QByteArray& bytes);
// SHA-256 of the bytes as 64 lowercase hexadecimal digits.
QString sha256(const QByteArray& bytes);
// The same of a file's bytes, read in pieces; empty when it cannot be read.
QString fileSha256(const QString& path);
// The URL of a file named relative to a release base: the name appended as
// one path component, whether or not the base ends with "/".
QUrl fileURL(const QUrl& base, const QString& name);
// A release base from a command-line or settings text: a text starting with
// "http" is a network URL, anything else a folder (relative to the current
// directory). Nothing when an "http" text is not a usable URL.
std::optional<QUrl> baseFromText(const QString& text);

// True for a name that stays inside its release base: not empty, no "/" or
// "\\", not "." or "..".
bool isPlainFileName(const QString& name);
// Throws DistError naming the file unless it is a plain file name.
void requirePlainFileName(const QString& name);

// The most a release file whose size nothing declares (the index and its
// signature) may hold.
constexpr std::int64_t undeclaredFileLimit = 1 << 20;
// The most any release file may hold whatever size a signed file declares
// for it: more than the largest book package or word-model file. A larger
// declared size is refused unfetched, and no fetch reads past it.
constexpr std::int64_t declaredFileLimit = std::int64_t(1) << 30;

// How long a release file may take over the network. Silence for
// inactivityMs ends a transfer; so does the whole transfer outlasting
// inactivityMs plus the time its declared size takes at slowestBytesPerSecond,
// since a server that drips a byte now and then is never silent; and so does
// any stretch of slowStretchMs that brings fewer bytes than that rate would,
// at a pace too slow to bring the rest of the declared size by then (a drip
// of a file declared at the largest size would otherwise run for a day and
// a half; a small file at a slow but sufficient pace still arrives).
struct FetchLimits {
    int inactivityMs = 120 * 1000;
    std::int64_t slowestBytesPerSecond = 8 * 1024;
    int slowStretchMs = 60 * 1000;
};
// The limits of fetches started from now on, for every thread; tests shorten
// them, and nothing restores the defaults but passing FetchLimits{}.
void setFetchLimits(const FetchLimits& limits);
FetchLimits fetchLimits();
// Milliseconds a fetch of a file of `declaredBytes` may take in all.
std::int64_t fetchDeadlineMs(std::int64_t declaredBytes, const FetchLimits& limits);

// The bytes of a release file: read from disk for a folder base, or fetched
// with an HTTP GET (status 200 required, within fetchLimits() for maxBytes;
// a time-out or a stretch too slow throws PlatformError naming the file). At most maxBytes + 1
// bytes are read (maxBytes taken between 0 and declaredFileLimit), so a
// caller that compares the length with a declared size sees a larger file as
// a mismatch without holding it whole. Under a folder base only a regular
// file is read (no device, pipe or folder, also through a symbolic link). A
// name that is not a plain file name is refused unfetched. Blocks.
QByteArray fetch(const QUrl& base, const QString& name, std::int64_t maxBytes = undeclaredFileLimit);
// The same file handed to `take` piece by piece as it arrives, so that a
// large one goes to disk rather than memory; returns how many bytes were
// handed on. An exception thrown by `take` stops the transfer and passes on.
std::int64_t fetchInto(const QUrl& base, const QString& name, std::int64_t maxBytes,
                       const std::function<void(QByteArrayView)>& take);

// Ends every network fetch under way on any thread, as a time-out ends it,
// and refuses those started later while `abort` holds: a quitting
// application waits for no server. Tests pass false to fetch again.
void abortTransfers(bool abort = true);

// Reads at most `want` bytes of a regular file (no device, pipe or folder,
// also through a symbolic link), without waiting on any. Throws DistError
// or PlatformError naming the file as `name`.
QByteArray readRegularFile(const QString& path, const QString& name, std::int64_t want);

// Why a transfer failed, in the user's language rather than the network
// stack's English; a cancelled transfer is a time-out.
QString networkReason(QNetworkReply::NetworkError error);

// The Arabic reason for a file-system error number, for messages that must
// not carry the system's English text.
QString fileErrorReason(int errorNumber);

} // namespace quorvel::Dist
