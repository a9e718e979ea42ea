#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMetaObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace quorvel::test {

namespace {

// A request head larger than this is not a test's request.
constexpr qsizetype maxHeadBytes = 64 * 1024;

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// Keeps writing the piece until the client goes (the socket and its timer
// are deleted then) or, with `endAfterMs`, until that time has passed;
// without an interval only while the client keeps up.
void sendForever(QTcpSocket* socket, const QByteArray& piece, int everyMs, int endAfterMs)
{
    if (endAfterMs > 0)
        QTimer::singleShot(endAfterMs, socket, [socket] { socket->abort(); });
    if (everyMs > 0) {
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, piece] { socket->write(piece); });
        timer->start(everyMs);
        return;
    }
    const QByteArray block = piece.repeated(std::max<qsizetype>(1, 64 * 1024 / piece.size()));
    auto refill = [socket, block] {
        while (socket->bytesToWrite() < 4 * block.size())
            socket->write(block);
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, refill);
    refill();
}

// Writes the pieces `everyMs` apart, then closes.
void sendPaced(QTcpSocket* socket, QList<QByteArray> pieces, int everyMs)
{
    socket->write(pieces.takeFirst());
    if (pieces.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    QTimer::singleShot(everyMs, socket, [socket, pieces, everyMs] { sendPaced(socket, pieces, everyMs); });
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(const QString& rootDir) : root_(QDir(rootDir).absolutePath())
{
    thread_.setObjectName(QStringLiteral("loopback-http"));
    thread_.start();
    QSemaphore ready;
    auto* context = new QObject;
    context_ = context;
    context->moveToThread(&thread_);
    QMetaObject::invokeMethod(context, [this, context, &ready] {
        server_ = new QTcpServer(context);
        if (server_->listen(QHostAddress::LocalHost, 0))
            port_ = server_->serverPort();
        QObject::connect(server_, &QTcpServer::newConnection, context, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0 && buffer->size() < maxHeadBytes)
                        return;
                    const QList<QByteArray> line = buffer->left(buffer->indexOf("\r\n")).split(' ');
                    const QByteArray method = line.value(0);
                    const QString path = QUrl::fromPercentEncoding(line.value(1).split('?').value(0));
                    const Reply reply = answer(method, path);
                    buffer->clear();
                    if (reply.stalled)
                        return;
                    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status)
                        + "\r\nContent-Type: application/octet-stream\r\n";
                    if (reply.withLength)
                        head += "Content-Length: "
                            + QByteArray::number(reply.announced >= 0 ? reply.announced : reply.body.size()) + "\r\n";
                    head += "Connection: close\r\n\r\n";
                    if (!reply.paced.isEmpty()) {
                        socket->write(head);
                        sendPaced(socket, reply.paced, reply.everyMs);
                        return;
                    }
                    if (!reply.piece.isEmpty()) {
                        socket->write(head);
                        sendForever(socket, reply.piece, reply.everyMs, reply.endAfterMs);
                        return;
                    }
                    socket->write(head + reply.body);
                    socket->disconnectFromHost();
                });
            }
        });
        ready.release();
    });
    ready.acquire();
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // The sockets and the server belong to the worker thread: end them there.
    QMetaObject::invokeMethod(context_, [this] { delete context_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

QUrl LoopbackHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port_) + path);
}

void LoopbackHttpServer::cutShort(const QString& path)
{
    std::lock_guard lock(mutex_);
    cutShort_.insert(path);
}

void LoopbackHttpServer::omitLength(const QString& path)
{
    QMutexLocker lock(&mutex_);
    lengthless_.insert(path);
}

void LoopbackHttpServer::stream(const QString& path, const QByteArray& piece, int everyMs, int endAfterMs)
{
    std::lock_guard lock(mutex_);
    streamed_.insert(path, {piece, everyMs, endAfterMs});
}

void LoopbackHttpServer::pace(const QString& path, const QList<QByteArray>& pieces, int everyMs)
{
    std::lock_guard lock(mutex_);
    paced_.insert(path, {pieces, everyMs});
}

void LoopbackHttpServer::stall(const QString& path)
{
    std::lock_guard lock(mutex_);
    stalled_.insert(path);
}

void LoopbackHttpServer::forceStatus(const QString& path, int status, int times)
{
    std::lock_guard lock(mutex_);
    forced_.insert(path, status);
    if (times > 0)
        forcedTimes_.insert(path, times);
    else
        forcedTimes_.remove(path);
}

LoopbackHttpServer::Reply LoopbackHttpServer::answer(const QByteArray& method, const QString& path)
{
    {
        std::lock_guard lock(mutex_);
        ++requests_[path];
        if (forced_.contains(path)) {
            const int status = forced_.value(path);
            if (forcedTimes_.contains(path) && --forcedTimes_[path] == 0) {
                forced_.remove(path);
                forcedTimes_.remove(path);
            }
            return {status, {}};
        }
        if (stalled_.contains(path))
            return {.stalled = true};
        if (const auto it = streamed_.constFind(path); it != streamed_.constEnd())
            return {.withLength = false, .piece = it->piece, .everyMs = it->everyMs, .endAfterMs = it->endAfterMs};
        if (const auto it = paced_.constFind(path); it != paced_.constEnd()) {
            qsizetype total = 0;
            for (const QByteArray& piece : it->first)
                total += piece.size();
            return {.announced = total, .everyMs = it->second, .paced = it->first};
        }
    }
    if (method != "GET")
        return {405, {}};
    const QString local = QDir::cleanPath(root_ + u'/' + path);
    if (!local.startsWith(root_ + u'/'))
        return {404, {}};
    QFile file(local);
    if (!QFileInfo(local).isFile() || !file.open(QIODevice::ReadOnly))
        return {404, {}};
    const QByteArray body = file.readAll();
    std::lock_guard lock(mutex_);
    if (cutShort_.contains(path))
        return {200, body.left(body.size() / 2), body.size()};
    return {200, body, -1, !lengthless_.contains(path)};
}

int LoopbackHttpServer::requests(const QString& path) const
{
    std::lock_guard lock(mutex_);
    return requests_.value(path);
}

} // namespace quorvel::test
