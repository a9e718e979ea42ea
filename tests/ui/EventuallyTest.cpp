// The suites' wait helpers must fail when their condition never holds, or
// every test that waits with them passes whatever the product does.

#include "support/Wait.h"

#include <QTimer>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

constexpr int kShortMs = 30;
constexpr int kLongMs = 30000;

// Set after an ASSERT_EVENTUALLY that fails: it must never be reached.
bool reachedAfterAssert = false;

void assertNeverTrue()
{
    const bool never = false;
    ASSERT_EVENTUALLY(never, kShortMs) << "the assertion's own words";
    reachedAfterAssert = true;
}

} // namespace

TEST(Eventually, aConditionThatNeverHoldsFailsAndNamesItself)
{
    const bool never = false;
    EXPECT_NONFATAL_FAILURE(EXPECT_EVENTUALLY(never, kShortMs) << "the expectation's own words",
                            "still false after 30 ms: never\nthe expectation's own words");
    reachedAfterAssert = false;
    EXPECT_FATAL_FAILURE(assertNeverTrue(), "still false after 30 ms: never\nthe assertion's own words");
    EXPECT_FALSE(reachedAfterAssert) << "ASSERT_EVENTUALLY went on after failing";
}

TEST(Eventually, theEventLoopTurnsWhileWaitingAndATrueConditionPasses)
{
    // Only the event loop sets these; a wait that does not turn it times out.
    bool set = false;
    int checks = 0;
    QTimer::singleShot(10, [&] { set = true; });
    EXPECT_EVENTUALLY(++checks > 0 && set, kLongMs);
    EXPECT_GT(checks, 1) << "the condition was not asked again while waiting";
    QTimer::singleShot(10, [&] { set = false; });
    ASSERT_EVENTUALLY(!set, kLongMs);
}
