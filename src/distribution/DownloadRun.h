#pragma once

// The install loop of a download run: the books one after another, each
// given up to three attempts with a pause between them, the cancel flag
// looked at before every book (the book being installed always finishes).
// It blocks its thread; the Downloads window runs it on a worker and hears
// of each book through the callbacks, which are called on that thread.

#include "distribution/Dist.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace quorvel {

class DownloadRun {
public:
    static constexpr int attempts = 3;
    static constexpr int pauseMs = 800;

    // Installs one book; throws (Dist::DistError, Dist::PlatformError, …)
    // when it fails.
    using Installer = std::function<void(const Dist::CatBook&)>;
    // Waits between two attempts, in milliseconds.
    using Pause = std::function<void(int)>;
    // Book i of n is about to be installed (before its first attempt).
    using OnBook = std::function<void(int, int, const QString&)>;
    // Book i of n is done, installed or given up.
    using OnDone = std::function<void(int, int)>;

    struct Report {
        int attempted = 0;      // books installed or given up before the loop ended
        QStringList failures;   // "title: reason", in the order they happened
    };

    // Runs the loop over `books` in order.
    static Report run(const QList<Dist::CatBook>& books, const Installer& install, const std::atomic<bool>& cancel,
                      const Pause& pause, const OnBook& onBook = {}, const OnDone& onDone = {});

    // Sleeps the calling thread.
    static void sleep(int ms);
};

} // namespace quorvel
