#include "ui/shell/PageIndexBuild.h"

#include "distribution/LocalStore.h"
#include "search/PageIndex.h"
#include "ui/kit/GuiJob.h"

#include <QPointer>

#include <utility>

namespace quorvel {

struct PageIndexBuild::Outcome {
    PageIndex::Build build = PageIndex::Build::failed;
    std::optional<SQLFailure> why;
    LocalStore::NarratorRefresh narrators; // the narrators read again under the current rules
};

PageIndexBuild& PageIndexBuild::shared()
{
    // Never destroyed: a worker may still post to it while the program ends.
    static PageIndexBuild* const one = new PageIndexBuild;
    return *one;
}

PageIndexBuild::PageIndexBuild()
    : openStore([](const QString& path) { return LocalStore::open(path); })
{
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] {
        ++retries_;
        start(path_);
    });
}

void PageIndexBuild::start(const QString& path)
{
    if (running_ && stop_->load()) {
        // Asked again while a stopped build ends its batch: it goes on after.
        again_ = path;
        return;
    }
    if (running())
        return;
    running_ = true;
    path_ = path;
    auto stop = stop_ = std::make_shared<std::atomic<bool>>(false);
    QPointer<PageIndexBuild> self(this);
    GuiJob::run(
        this,
        [self, stop, path, open = openStore]() {
            Outcome outcome;
            std::unique_ptr<LocalStore> store = open(path);
            if (!store)
                return outcome;
            // Pages stored in an older normal form are written in the
            // current one first (few pages hold text the rules changed).
            if (store->refreshNormalForm([&] { return !stop->load(); }) == LocalStore::FormRefresh::stopped) {
                outcome.build = PageIndex::Build::stopped;
                return outcome;
            }
            // Narrators stored under older chain rules are read again first,
            // a book at a time, so that a stop need not wait for them all.
            outcome.narrators = store->refreshNarrators([&] { return !stop->load(); });
            if (outcome.narrators.outcome == LocalStore::NarratorRefresh::Outcome::stopped) {
                outcome.build = PageIndex::Build::stopped;
                return outcome;
            }
            outcome.build = store->buildPageIndex(
                [&](std::int64_t done, std::int64_t total) {
                    GuiJob::post(self, [=](PageIndexBuild& b) { emit b.progress(done, total); });
                    return !stop->load();
                },
                &outcome.why);
            return outcome;
        },
        [](PageIndexBuild& b, const Outcome& outcome) { b.ended(outcome); });
}

void PageIndexBuild::stop()
{
    stop_->store(true);
    retry_.stop();
    again_.reset();
}

void PageIndexBuild::ended(const Outcome& outcome)
{
    running_ = false;
    // A failed re-reading is said as a failure; the store keeps the rows it had.
    const QString notice = LocalStore::narratorsRefreshNotice(outcome.narrators);
    if (outcome.narrators.outcome == LocalStore::NarratorRefresh::Outcome::failed)
        emit failed(notice);
    else if (!notice.isEmpty())
        emit narratorsRefreshed(notice);
    if (stop_->load()) {
        emit finished(false);
        if (const std::optional<QString> again = std::exchange(again_, std::nullopt))
            start(*again);
        return;
    }
    switch (outcome.build) {
    case PageIndex::Build::complete:
        emit finished(true);
        return;
    case PageIndex::Build::stopped:
        emit finished(false);
        return;
    case PageIndex::Build::failed:
        break;
    }
    if (outcome.why && outcome.why->kind == SQLFailure::Kind::busy) {
        retry_.start(retryDelay);
        return;
    }
    emit failed(LocalStore::pageIndexProblem(outcome.why));
}

} // namespace quorvel
