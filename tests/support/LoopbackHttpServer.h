#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QThread>
#include <QUrl>

#include <memory>
#include <mutex>

class QObject;
class QTcpServer;

namespace quorvel::test {

// A small HTTP/1.1 file server on 127.0.0.1 for tests that fetch over the
// network. It serves the files of one folder (GET only, one request per
// connection) from a thread of its own, so the code under test may block any
// thread while it waits for an answer. Statuses can be forced per path.
class LoopbackHttpServer {
public:
    // Serves `rootDir`; listens at once on a free loopback port.
    explicit LoopbackHttpServer(const QString& rootDir);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    bool isListening() const { return port_ != 0; }
    // "http://127.0.0.1:<port>/" + path.
    QUrl url(const QString& path = {}) const;

    // Answers requests for `path` (for example "/rel/index.json") with this
    // status and an empty body instead of the file; with `times`, only that
    // many requests, the later ones getting the file again.
    void forceStatus(const QString& path, int status, int times = 0);
    // Answers requests for `path` with the file's full length announced but
    // only half of its bytes sent before the connection closes.
    void cutShort(const QString& path);
    // Answers requests for `path` without a Content-Length: the body ends
    // when the connection closes.
    void omitLength(const QString& path);

    // Answers requests for `path` with status 200, no length and a body
    // that never ends: `piece` again and again, every `everyMs` milliseconds
    // or, with 0, as fast as the client reads. With `endAfterMs`, the server
    // drops the connection after that long, so that a client whose own limit
    // failed to fire sees a short body instead of hanging its test.
    void stream(const QString& path, const QByteArray& piece, int everyMs = 0, int endAfterMs = 0);
    // Answers requests for `path` with status 200 and a body of `pieces`
    // (their total length announced), the first at once and each next one
    // `everyMs` milliseconds later, then closes.
    void pace(const QString& path, const QList<QByteArray>& pieces, int everyMs);
    // Takes requests for `path` and never answers them.
    void stall(const QString& path);

    // How many requests for `path` arrived so far.
    int requests(const QString& path) const;

    // Worker side; public for the thread's lambdas.
    struct Reply {
        int status = 200;
        QByteArray body{};
        qsizetype announced = -1; // Content-Length when it differs from the body
        bool withLength = true;   // false: no Content-Length at all
        bool stalled = false;     // nothing is ever sent
        QByteArray piece{};        // not empty: the endless body's repeated piece
        int everyMs = 0;
        int endAfterMs = 0;       // 0: the endless body really never ends
        QList<QByteArray> paced{}; // not empty: the body, a piece every everyMs
    };
    Reply answer(const QByteArray& method, const QString& path);

private:
    QString root_;
    quint16 port_ = 0;
    QThread thread_;
    QObject* context_ = nullptr;   // lives in thread_, owns the server
    QTcpServer* server_ = nullptr; // lives in thread_
    mutable std::mutex mutex_;
    QHash<QString, int> forced_;
    QHash<QString, int> forcedTimes_; // forced answers left, for counted ones
    QSet<QString> cutShort_;
    QSet<QString> lengthless_;
    QSet<QString> stalled_;
    struct Stream {
        QByteArray piece;
        int everyMs = 0;
        int endAfterMs = 0;
    };
    QHash<QString, Stream> streamed_;
    QHash<QString, std::pair<QList<QByteArray>, int>> paced_;
    QHash<QString, int> requests_;
};

} // namespace quorvel::test
