#include "core/DistFetch.h"

#include "core/WholeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QTimer>

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>

namespace quorvel::Dist {

namespace {

std::mutex limitsMutex;
FetchLimits currentLimits;

const QString msgFetchFailed = QStringLiteral("تعذّر جلب ");
// A name that would leave its release base is hostile or broken.
const QString msgBadFileName = QStringLiteral("اسم ملف غير مقبول في الإصدار: ");
const QString msgNotRegularFile = QStringLiteral(": ليس ملفاً عادياً.");
const QString msgTooSlow = QStringLiteral("يصل الملف أبطأ من أن يكتمل جلبه");
// The most of a transfer read into memory at once, and the most the network
// side holds unread.
constexpr std::int64_t kReadPiece = std::int64_t(1) << 20;
constexpr std::int64_t kReadBuffer = std::int64_t(8) << 20;

} // namespace

QString fileErrorReason(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("الملف غير موجود");
    case EACCES:
    case EPERM:
        return QStringLiteral("لا إذن بقراءة الملف");
    case EISDIR:
        return QStringLiteral("مجلد وليس ملفاً");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("لا مساحة كافية على القرص");
    case EROFS:
        return QStringLiteral("القرص للقراءة فقط");
    case EFBIG:
        return QStringLiteral("الملف أكبر مما يسمح به النظام");
    case ELOOP:
        return QStringLiteral("روابط رمزية متداخلة");
    case ENAMETOOLONG:
        return QStringLiteral("المسار أطول من المقبول");
    case ENOMEM:
        return QStringLiteral("لا تتسع الذاكرة المتاحة");
    default:
        return QStringLiteral("خطأ في نظام الملفات (") + QString::number(errorNumber) + u')';
    }
}

QString networkReason(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("رفض الخادم الاتصال");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("أغلق الخادم الاتصال");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("لم يُعثر على الخادم");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("انتهت مهلة الاتصال");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("تعذّر الاتصال الآمن بالخادم");
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("تحويلات غير مقبولة");
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return QStringLiteral("عنوان المصدر غير صالح");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("تعذّر الاتصال عبر الوسيط");
    default:
        return QStringLiteral("خطأ في الشبكة");
    }
}

namespace {

// A pipe is opened without waiting for a writer, so it is refused rather
// than waited on.
std::int64_t readRegularFileInto(const QString& path, const QString& name, std::int64_t want,
                                 const std::function<void(QByteArrayView)>& take)
{
    WholeFile::Opened file(path);
    if (file.problem() == WholeFile::Problem::notRegular)
        throw DistError(msgFetchFailed + name + msgNotRegularFile);
    if (file.fd() < 0)
        throw PlatformError(msgFetchFailed + name + QStringLiteral(": ") + fileErrorReason(file.error()));
    const std::optional<std::int64_t> read = file.stream(want, take);
    if (!read)
        throw PlatformError(msgFetchFailed + name + QStringLiteral(": ") + fileErrorReason(file.error()));
    return *read;
}

} // namespace

QByteArray readRegularFile(const QString& path, const QString& name, std::int64_t want)
{
    QByteArray bytes;
    readRegularFileInto(path, name, want, [&bytes](QByteArrayView chunk) { bytes.append(chunk); });
    return bytes;
}

QString describe(const std::exception& error)
{
    if (auto* d = dynamic_cast<const UserError*>(&error))
        return d->message();
    if (auto* p = dynamic_cast<const PlatformError*>(&error))
        return p->description();
    return QString::fromUtf8(error.what());
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QString sha256(const QByteArray& bytes)
{
    // Each installed page is hashed: libsodium's SHA-256 takes half the time of Qt's.
    [[maybe_unused]] static const int ready = sodium_init();
    QByteArray digest(crypto_hash_sha256_BYTES, Qt::Uninitialized);
    crypto_hash_sha256(reinterpret_cast<unsigned char*>(digest.data()),
                       reinterpret_cast<const unsigned char*>(bytes.constData()), quint64(bytes.size()));
    return hex(digest);
}

QString fileSha256(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hex(hash.result());
}

QUrl fileURL(const QUrl& base, const QString& name)
{
    if (base.isLocalFile())
        return QUrl::fromLocalFile(QDir(base.toLocalFile()).filePath(name));
    QUrl url = base;
    QString path = base.path(QUrl::FullyEncoded);
    if (!path.endsWith(u'/'))
        path += u'/';
    // The name is one literal segment: a "%", "?" or "#" in it is part of the
    // file's name, not URL syntax. The base keeps its own escapes as given.
    url.setPath(path + QString::fromLatin1(QUrl::toPercentEncoding(name)), QUrl::TolerantMode);
    return url;
}

std::optional<QUrl> baseFromText(const QString& text)
{
    if (text.startsWith(QStringLiteral("http"))) {
        QUrl url(text, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
            return std::nullopt;
        return url;
    }
    return QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath());
}

bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\')
        && !name.contains(QChar(0));
}

void requirePlainFileName(const QString& name)
{
    if (!isPlainFileName(name))
        throw DistError(msgBadFileName + name);
}

void setFetchLimits(const FetchLimits& limits)
{
    std::lock_guard lock(limitsMutex);
    currentLimits = limits;
}

FetchLimits fetchLimits()
{
    std::lock_guard lock(limitsMutex);
    return currentLimits;
}

std::int64_t fetchDeadlineMs(std::int64_t declaredBytes, const FetchLimits& limits)
{
    const std::int64_t rate = std::max<std::int64_t>(limits.slowestBytesPerSecond, 1);
    const std::int64_t bytes = std::max<std::int64_t>(declaredBytes, 0);
    // A timer counts in int milliseconds: a huge declared size waits that long at most.
    const std::int64_t cap = std::numeric_limits<int>::max() - std::int64_t(limits.inactivityMs);
    const std::int64_t wholeSeconds = bytes / rate;
    if (wholeSeconds >= cap / 1000)
        return std::int64_t(limits.inactivityMs) + cap;
    const std::int64_t transferMs = wholeSeconds * 1000 + ((bytes % rate) * 1000 + rate - 1) / rate;
    return std::int64_t(limits.inactivityMs) + std::min(transferMs, cap);
}

namespace {

// Ends a transfer that outlasts its deadline, or a stretch that brings
// fewer bytes than the slowest rate would at a pace that could not finish
// the file by its deadline. The bytes counted are those taken from the
// reply: the network's progress signal is sent at most every so often, so
// the end of a burst followed by silence would go uncounted.
class TransferWatch {
public:
    TransferWatch(QNetworkReply& reply, QEventLoop& loop, const FetchLimits& limits, std::int64_t deadlineMs,
                  const std::int64_t& taken, std::int64_t declared)
        : taken_(taken)
    {
        deadline_.setSingleShot(true);
        QObject::connect(&deadline_, &QTimer::timeout, &loop, [this, &reply] {
            timedOut = true;
            reply.abort();
        });
        const std::int64_t stretchMs = std::max(limits.slowStretchMs, 1);
        const std::int64_t least = std::max<std::int64_t>(limits.slowestBytesPerSecond, 1) * stretchMs / 1000;
        QObject::connect(&stretch_, &QTimer::timeout, &loop, [this, &reply, least, stretchMs, deadlineMs, declared] {
            const std::int64_t brought = taken_ - stretchStart_;
            const std::int64_t left = std::max<std::int64_t>(declared - taken_, 0);
            // At this stretch's pace, the rest takes this long.
            const double restMs = brought > 0 ? double(left) * double(stretchMs) / double(brought)
                                               : (left > 0 ? std::numeric_limits<double>::infinity() : 0.0);
            if (brought < least && double(clock_.elapsed()) + restMs > double(deadlineMs)) {
                tooSlow = true;
                reply.abort();
            }
            stretchStart_ = taken_;
        });
        clock_.start();
        deadline_.start(std::chrono::milliseconds(deadlineMs));
        stretch_.start(int(stretchMs));
    }
    void stop()
    {
        deadline_.stop();
        stretch_.stop();
    }

    bool timedOut = false;
    bool tooSlow = false;

private:
    QTimer deadline_;
    QTimer stretch_;
    QElapsedTimer clock_;
    const std::int64_t& taken_;     // bytes taken from the reply so far
    std::int64_t stretchStart_ = 0; // of them, at the start of this stretch
};


// The network fetches under way, each on its own thread's loop, so that a
// quitting application can end them from its own.
class Transfers {
public:
    static Transfers& all()
    {
        static Transfers transfers;
        return transfers;
    }
    // Aborted at once, on its own thread, when fetches are refused.
    void enter(QNetworkReply* reply)
    {
        std::lock_guard lock(mutex_);
        if (refused_)
            reply->abort();
        else
            replies_.insert(reply);
    }
    void leave(QNetworkReply* reply)
    {
        std::lock_guard lock(mutex_);
        replies_.remove(reply);
    }
    void refuse(bool refused)
    {
        std::lock_guard lock(mutex_);
        refused_ = refused;
        if (refused)
            for (QNetworkReply* reply : std::as_const(replies_))
                QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }

private:
    std::mutex mutex_;
    QSet<QNetworkReply*> replies_;
    bool refused_ = false;
};

} // namespace

void abortTransfers(bool abort)
{
    Transfers::all().refuse(abort);
}

std::int64_t fetchInto(const QUrl& base, const QString& name, std::int64_t maxBytes,
                       const std::function<void(QByteArrayView)>& take)
{
    requirePlainFileName(name);
    // One byte past the limit is enough to tell a larger file apart; no
    // declared size, however large, lifts the limit past the largest file.
    const std::int64_t limit = std::clamp<std::int64_t>(maxBytes, 0, declaredFileLimit);
    const std::int64_t want = limit + 1;
    const QUrl url = fileURL(base, name);
    if (url.isLocalFile())
        return readRegularFileInto(url.toLocalFile(), name, want, take);

    // A manager and loop of our own, so this works on any thread with no
    // running event loop of its own.
    const FetchLimits limits = fetchLimits();
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(limits.inactivityMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QEventLoop loop;
    QNetworkReply* reply = manager.get(request);
    Transfers::all().enter(reply);
    // The network thread stops taking bytes while this many wait unread, so
    // a sender faster than the disk does not fill memory either.
    reply->setReadBufferSize(kReadBuffer);
    std::int64_t taken = 0;
    bool overLimit = false;
    // What `take` threw, passed on once the transfer has stopped.
    std::exception_ptr takeFailed;
    // The body is handed on as it arrives, no more than `want` bytes of it,
    // so a server that sends more than the limit is cut off instead of
    // filling memory or disk. Only an answer of status 200 is the file.
    const auto drain = [&] {
        if (overLimit || takeFailed || !reply->isOpen())
            return;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && status.toInt() != 200)
            return;
        // A read allocates all it may return: what has arrived, a piece at a time.
        while (reply->bytesAvailable() > 0) {
            const QByteArray chunk =
                reply->read(std::min<std::int64_t>({want - taken, reply->bytesAvailable(), kReadPiece}));
            try {
                take(chunk);
            } catch (...) {
                takeFailed = std::current_exception();
                reply->abort();
                return;
            }
            taken += chunk.size();
            if (taken >= want) {
                overLimit = true;
                reply->abort();
                return;
            }
        }
    };
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QIODevice::readyRead, &loop, drain);
    TransferWatch watch(*reply, loop, limits, fetchDeadlineMs(limit, limits), taken, limit);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    watch.stop();
    Transfers::all().leave(reply);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    // An aborted reply is closed: reading it again only draws a warning.
    drain();
    reply->deleteLater();

    if (takeFailed)
        std::rethrow_exception(takeFailed);
    if (watch.tooSlow && !overLimit)
        throw PlatformError(msgFetchFailed + name + QStringLiteral(": ") + msgTooSlow);
    if (watch.timedOut && !overLimit)
        throw PlatformError(msgFetchFailed + name + QStringLiteral(": ") + networkReason(QNetworkReply::TimeoutError));
    if (status.isValid() && status.toInt() != 200)
        throw DistError(msgFetchFailed + name);
    if (overLimit)
        return taken;
    if (error != QNetworkReply::NoError)
        throw PlatformError(msgFetchFailed + name + QStringLiteral(": ") + networkReason(error));
    if (!status.isValid())
        throw DistError(msgFetchFailed + name); // not an HTTP response
    return taken;
}

QByteArray fetch(const QUrl& base, const QString& name, std::int64_t maxBytes)
{
    QByteArray bytes;
    fetchInto(base, name, maxBytes, [&bytes](QByteArrayView chunk) { bytes.append(chunk); });
    return bytes;
}

} // namespace quorvel::Dist
