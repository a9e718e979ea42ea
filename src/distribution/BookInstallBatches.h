#pragma once

// The installer's worker batches: pages read, worked on a few threads and
// written a batch at a time, in order. Internal to the installer's files.

#include "distribution/Dist.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel::BookInstall {

// Pages read and written a batch at a time. Each page's own work (its
// normal form, chains, shingles, index rows: most of an install's time
// beyond its rows) needs nothing but the page, so it runs on a few threads
// while this thread reads the next batch and writes the one before, in
// order: the rows and the ids they get are those of a page-by-page install.
inline constexpr std::size_t kBatchPages = 256;
inline constexpr unsigned kMostWorkers = 4;
// A batch closes once it holds this many letters of page text: with two
// batches in hand, pages at the length bound are worked one at a time and
// the install holds about what a page-by-page install would.
inline constexpr qsizetype kBatchLetters = Dist::maxPageLength / 2;

// Runs `work(i)` for every i below `n` on up to kMostWorkers threads. The
// first exception any of them threw is rethrown here once all are done; the
// others then take no further item. Threads that cannot be started leave
// their share to those that were.
template <typename Work>
void eachOnWorkers(std::size_t n, const Work& work)
{
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMostWorkers);
    std::atomic<std::size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto drain = [&]() noexcept {
        try {
            for (std::size_t i; (i = next++) < n;)
                work(i);
        } catch (...) {
            const std::lock_guard guard(failureLock);
            if (!failure)
                failure = std::current_exception();
            next = n;
        }
    };
    std::vector<std::thread> pool;
    try {
        pool.reserve(threads);
        for (std::size_t t = 1; t < std::min(threads, n); ++t)
            pool.emplace_back(drain);
    } catch (const std::exception&) {
    }
    drain();
    for (std::thread& t : pool)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

// `read` fills a batch (leaving it empty at the end), `work` does one item's
// own work off this thread, `write` takes a worked batch in order and lets
// each item's data go. Whatever throws, on any thread, the workers are done
// before the batches go and the first failure is rethrown here.
template <typename Item, typename Read, typename Work, typename Write>
void pipelined(const Read& read, const Work& work, const Write& write)
{
    std::vector<Item> batches[2];
    std::thread worker;
    std::exception_ptr workFailure;
    struct Join {
        std::thread& t;
        ~Join()
        {
            if (t.joinable())
                t.join();
        }
    } join{worker};
    const auto workOn = [&work, &workFailure](std::vector<Item>& batch) noexcept {
        try {
            eachOnWorkers(batch.size(), [&](std::size_t i) { work(batch[i]); });
        } catch (...) {
            workFailure = std::current_exception();
        }
    };
    const auto start = [&](std::vector<Item>& batch) {
        try {
            worker = std::thread(workOn, std::ref(batch));
        } catch (const std::exception&) {
            workOn(batch); // no thread to spare: worked here, before the next read
        }
    };
    const auto finish = [&] {
        if (worker.joinable())
            worker.join();
        if (workFailure)
            std::rethrow_exception(std::exchange(workFailure, nullptr));
    };
    int k = 0;
    read(batches[k]);
    if (batches[k].empty())
        return;
    start(batches[k]);
    for (;;) {
        std::vector<Item>& following = batches[1 - k];
        following.clear();
        read(following);
        finish();
        if (!following.empty())
            start(following);
        write(batches[k]);
        batches[k].clear();
        if (following.empty()) {
            finish();
            return;
        }
        k = 1 - k;
    }
}

// Whether a batch holding `letters` letters of text and `pages` pages is full.
inline bool batchFull(std::size_t pages, qsizetype letters)
{
    return pages >= kBatchPages || letters >= kBatchLetters;
}

} // namespace quorvel::BookInstall
