#pragma once

// The one build of the search's page index in this process. The main window
// asks for it when it opens a local store made before the index (or whose
// narrators were stored under older chain rules, which the build reads again
// first), and every Downloads run asks again; a request while a build is under way joins it,
// so two builders never race over one store. The build runs on a worker,
// batch by batch, and installs go on beside it: the installer keeps the
// index of the pages below the build's cursor, the build those above it.
//
// A build that finds the store locked by another writer (a long install,
// another program) tries again a moment later; any other failure is told
// through failed() with the reader's sentence. Searches take the page check
// until the index is complete. GUI thread only.

#include "core/SQLiteDB.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quorvel {

class LocalStore;

class PageIndexBuild : public QObject {
    Q_OBJECT
public:
    // The process's builder, made at its first use and kept to the end.
    static PageIndexBuild& shared();

    // Starts building the index of the store at `path`, unless a build or a
    // retry is under way already.
    void start(const QString& path);
    // Stops a build after its current batch (what it did is kept) and drops
    // a retry that is due; the build is running() until that batch ends.
    void stop();
    // True from start() until the build has ended, a retry included.
    bool running() const { return running_ || retry_.isActive(); }
    // How many times a build found the store busy and was started again.
    int retries() const { return retries_; }

    // For tests: how the store is opened on the worker, and the wait before
    // a build that found the store busy starts again.
    std::function<std::unique_ptr<LocalStore>(const QString&)> openStore;
    std::chrono::milliseconds retryDelay{2000};

signals:
    void progress(qint64 done, qint64 total);
    // The index is complete, or the build was stopped (complete false).
    void finished(bool complete);
    // The build failed for another reason than a busy store: the sentence
    // for the reader.
    void failed(const QString& problem);
    // Before its index, the build read again the narrators the store kept
    // from older chain rules: the sentence for the reader, said once (a
    // failure to is said through failed()).
    void narratorsRefreshed(const QString& notice);

private:
    PageIndexBuild();
    struct Outcome;
    void ended(const Outcome& outcome);

    QString path_;
    std::optional<QString> again_; // asked for while a stopped build ended
    bool running_ = false;
    int retries_ = 0;
    QTimer retry_;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace quorvel
