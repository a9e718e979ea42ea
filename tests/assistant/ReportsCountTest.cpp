#include "assistant/Reports.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(ReportsCount, centuryNamesRunFromTheFirstToTheFifteenth)
{
    const auto& names = Reports::centuryNames();
    EXPECT_TRUE(names[0].isEmpty());
    EXPECT_EQ(names[1], QStringLiteral("الأول"));
    EXPECT_EQ(names[11], QStringLiteral("الحادي عشر"));
    EXPECT_EQ(names[15], QStringLiteral("الخامس عشر"));
}
