#include "assistant/Reports.h"

#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(ReportsCount, nounAgreementFollowsTheLastTwoDigits)
{
    Settings::setIndicDigits(true);
    const auto& k = Reports::kutub();
    EXPECT_EQ(Reports::count(1, k), QStringLiteral("كتاب واحد"));
    EXPECT_EQ(Reports::count(2, k), QStringLiteral("كتابين"));
    EXPECT_EQ(Reports::count(3, k), QStringLiteral("٣ كتب"));
    EXPECT_EQ(Reports::count(10, k), QStringLiteral("١٠ كتب"));
    EXPECT_EQ(Reports::count(103, k), QStringLiteral("١٠٣ كتب"));
    EXPECT_EQ(Reports::count(110, k), QStringLiteral("١١٠ كتب"));
    EXPECT_EQ(Reports::count(0, k), QStringLiteral("٠ كتابا"));
    EXPECT_EQ(Reports::count(11, k), QStringLiteral("١١ كتابا"));
    EXPECT_EQ(Reports::count(100, k), QStringLiteral("١٠٠ كتابا"));
    EXPECT_EQ(Reports::count(111, k), QStringLiteral("١١١ كتابا"));
    EXPECT_EQ(Reports::count(-5, k), QStringLiteral("-٥ كتابا"));
    EXPECT_EQ(Reports::count(2, Reports::safahat()), QStringLiteral("صفحتين"));
    EXPECT_EQ(Reports::count(1, Reports::mawadi()), QStringLiteral("موضع واحد"));
    Settings::setIndicDigits(false);
    EXPECT_EQ(Reports::count(7, Reports::safahat()), QStringLiteral("7 صفحات"));
}

TEST(ReportsCount, centuryNamesRunFromTheFirstToTheFifteenth)
{
    const auto& names = Reports::centuryNames();
    EXPECT_TRUE(names[0].isEmpty());
    EXPECT_EQ(names[1], QStringLiteral("الأول"));
    EXPECT_EQ(names[11], QStringLiteral("الحادي عشر"));
    EXPECT_EQ(names[15], QStringLiteral("الخامس عشر"));
}
