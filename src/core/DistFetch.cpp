#include "core/DistFetch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace quorvel::Dist {

namespace {

// A release file that sends nothing for this long is given up.
constexpr int fetchTimeoutMs = 120 * 1000;

const QString msgFetchFailed = QStringLiteral("تعذّر جلب ");
// A name that would leave its release base is hostile or broken.
const QString msgBadFileName = QStringLiteral("اسم ملف غير مقبول في الإصدار: ");

} // namespace

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
    return hex(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
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

QByteArray fetch(const QUrl& base, const QString& name)
{
    requirePlainFileName(name);
    const QUrl url = fileURL(base, name);
    if (url.isLocalFile()) {
        QFile file(url.toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            throw PlatformError(file.fileName() + QStringLiteral(": ") + file.errorString());
        QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw PlatformError(file.fileName() + QStringLiteral(": ") + file.errorString());
        return bytes;
    }

    // A manager and loop of our own, so this works on any thread with no
    // running event loop of its own.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(fetchTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QEventLoop loop;
    QNetworkReply* reply = manager.get(request);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    QByteArray body = reply->readAll();
    reply->deleteLater();

    if (status.isValid()) {
        if (status.toInt() != 200)
            throw DistError(msgFetchFailed + name);
        if (error != QNetworkReply::NoError)
            throw PlatformError(errorText);
        return body;
    }
    if (error != QNetworkReply::NoError)
        throw PlatformError(errorText);
    throw DistError(msgFetchFailed + name); // not an HTTP response
}

} // namespace quorvel::Dist
