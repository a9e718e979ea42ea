#include "assistant/Passage.h"

#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

Passage page(std::optional<QString> vol, std::optional<long long> pageNum)
{
    Passage p;
    p.seq = 12;
    p.bookTitle = QStringLiteral("صحيح 1 البخاري");
    p.vol = std::move(vol);
    p.pageNum = pageNum;
    return p;
}

} // namespace

TEST(PassageCitation, partsAppearOnlyWhenKnownAndDigitsFollowThePreference)
{
    Settings::setIndicDigits(false);
    EXPECT_EQ(page(std::nullopt, 45).citation(), QStringLiteral("صحيح 1 البخاري · ص45"));
    EXPECT_EQ(page(std::nullopt, std::nullopt).citation(), QStringLiteral("صحيح 1 البخاري · ص12"));
    EXPECT_EQ(page(QString(), 45).citation(), QStringLiteral("صحيح 1 البخاري · ج · ص45"));

    Passage full = page(QStringLiteral("2"), 45);
    full.author = QStringLiteral("البخاري (ت 256)");
    EXPECT_EQ(full.citation(), QStringLiteral("صحيح 1 البخاري · البخاري (ت 256) · ج2 – ص45"));
    Settings::setIndicDigits(true);
    // Title and author keep their own digits.
    EXPECT_EQ(full.citation(), QStringLiteral("صحيح 1 البخاري · البخاري (ت 256) · ج٢ – ص٤٥"));
}
