#include "distribution/DownloadRun.h"

#include <chrono>
#include <exception>
#include <thread>

namespace quorvel {

DownloadRun::Report DownloadRun::run(const QList<Dist::CatBook>& books, const Installer& install,
                                     const std::atomic<bool>& cancel, const Pause& pause, const OnBook& onBook,
                                     const OnDone& onDone)
{
    Report report;
    const int n = int(books.size());
    for (int i = 0; i < n; ++i) {
        if (cancel.load())
            break;
        const Dist::CatBook& book = books[i];
        if (onBook)
            onBook(i, n, book.title);
        QString reason;
        bool installed = false;
        for (int attempt = 1; attempt <= attempts && !installed; ++attempt) {
            if (attempt > 1 && pause)
                pause(pauseMs);
            try {
                install(book);
                installed = true;
            } catch (const std::exception& error) {
                reason = Dist::describe(error);
            }
        }
        if (!installed)
            report.failures.append(book.title + QStringLiteral(": ") + reason);
        report.attempted = i + 1;
        if (onDone)
            onDone(i, n);
    }
    return report;
}

void DownloadRun::sleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace quorvel
