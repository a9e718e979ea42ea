#pragma once

#include <gtest/gtest.h>

#include <functional>

namespace quorvel::test {

// Processes the GUI thread's events (and deferred deletions) until
// `condition` holds or `timeoutMs` milliseconds have passed; true when it
// held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

} // namespace quorvel::test

// Waits for a condition the event loop brings about and reports a GoogleTest
// failure naming the condition when it does not hold in time. ASSERT_ ends the
// test (or the helper it sits in); EXPECT_ goes on. Further text may be
// streamed after either, as after any GoogleTest assertion.
#define QUORVEL_WAIT_(condition, timeoutMs, fail)                                                \
    switch (0)                                                                                  \
    case 0:                                                                                     \
    default:                                                                                    \
        if (::quorvel::test::waitUntil([&]() -> bool { return static_cast<bool>(condition); },  \
                                       (timeoutMs)))                                            \
            ;                                                                                   \
        else                                                                                    \
            fail() << "still false after " << (timeoutMs) << " ms: " #condition "\n"

#define ASSERT_EVENTUALLY(condition, timeoutMs) QUORVEL_WAIT_(condition, timeoutMs, FAIL)
#define EXPECT_EVENTUALLY(condition, timeoutMs) QUORVEL_WAIT_(condition, timeoutMs, ADD_FAILURE)
