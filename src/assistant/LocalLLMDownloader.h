#pragma once

// The download of a catalogue model into the models folder. The file arrives
// in a temporary file there, is renamed to "<file>.part", hashed off the GUI
// thread, and receives its final name only when its SHA-256 matches; a
// mismatch deletes the ".part" file and leaves any earlier model in place.
// A transfer that passes the catalogue's size is stopped there and fails.

#include "assistant/LocalLLM.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

namespace quorvel::LocalLLM {

// How a download ended.
struct DownloadResult {
    QString file;              // the installed model on success
    std::exception_ptr error;  // the failure (LLMError or Dist::PlatformError); null on success
    bool cancelled = false;    // the failure is the user's own cancel()

    bool succeeded() const { return !error; }
    // The text to show for a failure: the Arabic message of an LLMError, the
    // platform's description otherwise; empty on success.
    QString description() const;
};

// Create it on the main thread: `progress` and `done` are emitted on the
// thread the downloader lives in. Calling order: connect, start(), optionally
// cancel(); `done` comes exactly once per start().
class Downloader : public QObject {
    Q_OBJECT
public:
    explicit Downloader(ModelInfo info, QObject* parent = nullptr);
    ~Downloader() override;

    const ModelInfo& info() const { return info_; }

    // Replaces where the free space is read from (freeDiskBytes() by default).
    void setFreeSpaceSource(std::function<std::int64_t()> source);

    // Checks the free space, then starts fetching. Without enough space (or
    // without an address) `done` reports the failure at once, before start()
    // returns, and nothing is fetched. A second start() does nothing.
    void start();

    // Cancels a running transfer, reported through `done` as a cancelled
    // failure. Before start(), after the transfer or after `done` it does
    // nothing; a file that is already being verified is still installed.
    void cancel();

signals:
    // The share received so far, against the announced length or, when the
    // server announces none, against info().bytes.
    void progress(double fraction);
    void done(const quorvel::LocalLLM::DownloadResult& result);

private:
    bool passesSize(qint64 bytes);
    void onReadyRead();
    void onFinished();
    void verify(const QString& part);
    void finish(DownloadResult result);

    ModelInfo info_;
    std::function<std::int64_t()> freeSpace_;
    QNetworkAccessManager* manager_ = nullptr;
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QTemporaryFile> temporary_;
    qint64 received_ = 0;
    bool started_ = false;
    bool cancelled_ = false;
    bool tooLarge_ = false; // more arrived than the catalogue's size: stopped
    bool finished_ = false;
};

} // namespace quorvel::LocalLLM

Q_DECLARE_METATYPE(quorvel::LocalLLM::DownloadResult)
