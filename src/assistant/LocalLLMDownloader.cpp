#include "assistant/LocalLLMDownloader.h"

#include "core/Arabic.h"
#include "core/DistFetch.h"

#include <QFile>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

namespace quorvel::LocalLLM {

namespace {

constexpr double kBytesPerGB = 1e9;

// A transfer that ended before the announced length without the network
// layer calling it an error.
const QString msgCutShort = QStringLiteral("انقطع تنزيل النموذج قبل اكتماله. أعد المحاولة.");
const QString msgMismatch = QStringLiteral("ملف النموذج المنزل لا يطابق بصمته المنشورة فحذف. أعد المحاولة.");
const QString msgTooLarge = QStringLiteral("تجاوز ملف النموذج المنزل حجمه المنشور فأوقف تنزيله وحذف. أعد المحاولة.");

// An amount in gigabytes with one decimal, in the user's digits.
QString gigabytes(std::int64_t bytes)
{
    return Arabic::digits(QString::asprintf("%.1f", double(bytes) / kBytesPerGB)) + QStringLiteral("GB");
}

QString freeSpaceMessage(std::int64_t free, std::int64_t needed)
{
    return QStringLiteral("المساحة الحرّة ") + gigabytes(free) + QStringLiteral("، والمطلوب ") + gigabytes(needed)
        + QStringLiteral(" (النموذج + هامش أمان ") + Arabic::num(LocalLLM::safetyMargin / std::int64_t(kBytesPerGB))
        + QStringLiteral("GB). فرّغ مساحة ثم أعد المحاولة.");
}

DownloadResult failure(std::exception_ptr error, bool cancelled = false)
{
    return {QString(), std::move(error), cancelled};
}

// A server that answered with an error page still delivered a file: like any
// other wrong file it fails the checksum. Only a transfer that broke off is a
// network failure.
bool brokeOff(QNetworkReply::NetworkError error)
{
    const bool contentError = error >= QNetworkReply::ContentAccessDenied
        && error <= QNetworkReply::UnknownContentError;
    const bool serverError = error >= QNetworkReply::InternalServerError
        && error <= QNetworkReply::UnknownServerError;
    return error != QNetworkReply::NoError && !contentError && !serverError;
}

} // namespace

QString DownloadResult::description() const
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const LLMError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return Dist::describe(e);
    }
}

Downloader::Downloader(ModelInfo info, QObject* parent)
    : QObject(parent), info_(std::move(info)), freeSpace_(&freeDiskBytes)
{
    qRegisterMetaType<DownloadResult>();
}

Downloader::~Downloader()
{
    if (reply_)
        reply_->abort();
}

void Downloader::setFreeSpaceSource(std::function<std::int64_t()> source)
{
    freeSpace_ = std::move(source);
}

void Downloader::start()
{
    if (started_)
        return;
    started_ = true;

    const std::int64_t needed = info_.bytes + safetyMargin;
    const std::int64_t free = freeSpace_ ? freeSpace_() : 0;
    if (free < needed) {
        finish(failure(std::make_exception_ptr(LLMError::disk(freeSpaceMessage(free, needed)))));
        return;
    }
    const QUrl url(info_.url, QUrl::StrictMode);
    if (info_.url.isEmpty() || !url.isValid()) {
        finish(failure(std::make_exception_ptr(Dist::PlatformError(msgNoDownloadSource))));
        return;
    }

    // The bytes land in the models folder itself, so that the later renames
    // never copy 1.7 GB across volumes.
    temporary_ = std::make_unique<QTemporaryFile>(modelsDir() + QStringLiteral("/download-XXXXXX.tmp"));
    if (!temporary_->open()) {
        finish(failure(std::make_exception_ptr(Dist::PlatformError(temporary_->errorString()))));
        return;
    }

    manager_ = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    reply_ = manager_->get(request);
    connect(reply_, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &Downloader::onFinished);
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        // Without an announced length the network layer still reports a total
        // at the very end; the catalogue's size is the measure throughout.
        const qint64 announced = reply_ ? reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong() : 0;
        const double expected = announced >= 1 ? double(announced) : double(info_.bytes);
        if (expected > 0)
            emit progress(double(received) / expected);
    });
}

void Downloader::cancel()
{
    if (!reply_ || finished_ || reply_->isFinished())
        return;
    cancelled_ = true;
    reply_->abort();
}

// Whether `bytes` more would pass the catalogue's size: a bad mirror must not
// fill the disk before the digest is checked.
bool Downloader::passesSize(qint64 bytes)
{
    if (received_ + bytes <= info_.bytes)
        return false;
    tooLarge_ = true;
    return true;
}

void Downloader::onReadyRead()
{
    if (tooLarge_)
        return;
    const QByteArray bytes = reply_->readAll();
    if (passesSize(bytes.size())) {
        reply_->abort();
        return;
    }
    received_ += bytes.size();
    if (temporary_->write(bytes) != bytes.size())
        reply_->abort();
}

void Downloader::onFinished()
{
    QNetworkReply* reply = reply_;
    reply->deleteLater();
    reply_ = nullptr;
    if (reply->bytesAvailable() > 0 && !tooLarge_) {
        const QByteArray rest = reply->readAll();
        if (!passesSize(rest.size())) {
            received_ += rest.size();
            temporary_->write(rest);
        }
    }

    if (cancelled_) {
        finish(failure(std::make_exception_ptr(Dist::PlatformError(reply->errorString())), true));
        return;
    }
    if (tooLarge_) {
        finish(failure(std::make_exception_ptr(LLMError::disk(msgTooLarge))));
        return;
    }
    if (temporary_->error() != QFileDevice::NoError) {
        finish(failure(std::make_exception_ptr(Dist::PlatformError(temporary_->errorString()))));
        return;
    }
    if (brokeOff(reply->error())) {
        finish(failure(std::make_exception_ptr(Dist::PlatformError(reply->errorString()))));
        return;
    }
    // A connection closed early is not always reported as an error.
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > 0 && received_ < announced) {
        finish(failure(std::make_exception_ptr(Dist::PlatformError(msgCutShort))));
        return;
    }

    const QString part = modelsDir() + u'/' + info_.file + QStringLiteral(".part");
    QFile::remove(part);
    temporary_->close();
    if (!temporary_->rename(part)) {
        finish(failure(std::make_exception_ptr(Dist::PlatformError(temporary_->errorString()))));
        return;
    }
    temporary_->setAutoRemove(false);
    temporary_.reset();
    verify(part);
}

void Downloader::verify(const QString& part)
{
    auto* watcher = new QFutureWatcher<std::optional<QString>>(this);
    connect(watcher, &QFutureWatcher<std::optional<QString>>::finished, this, [this, watcher, part] {
        watcher->deleteLater();
        const std::optional<QString> digest = watcher->result();
        if (!digest || *digest != info_.sha256) {
            QFile::remove(part);
            finish(failure(std::make_exception_ptr(LLMError::disk(msgMismatch))));
            return;
        }
        const QString final = modelsDir() + u'/' + info_.file;
        QFile::remove(final);
        QFile file(part);
        if (!file.rename(final)) {
            finish(failure(std::make_exception_ptr(Dist::PlatformError(file.errorString()))));
            return;
        }
        finish({final, nullptr, false});
    });
    watcher->setFuture(QtConcurrent::run([part] { return LocalLLM::sha256(part); }));
}

void Downloader::finish(DownloadResult result)
{
    Q_ASSERT(!finished_);
    finished_ = true;
    temporary_.reset();
    emit done(result);
}

} // namespace quorvel::LocalLLM
