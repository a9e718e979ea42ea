#include "core/Numbers.h"

#include <gtest/gtest.h>

#include <limits>

using namespace quorvel;

TEST(Numbers, parseIntegerTakesSignedAsciiDecimalsWithin64Bits)
{
    EXPECT_EQ(Numbers::parseInteger(QStringLiteral("0")), 0);
    EXPECT_EQ(Numbers::parseInteger(QStringLiteral("+42")), 42);
    EXPECT_EQ(Numbers::parseInteger(QStringLiteral("-007")), -7);
    EXPECT_EQ(Numbers::parseInteger(QStringLiteral("9223372036854775807")), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Numbers::parseInteger(QStringLiteral("-9223372036854775808")), std::numeric_limits<std::int64_t>::min());
    for (const char16_t* bad : {u"", u"+", u"-", u" 1", u"1 ", u"1.0", u"1e3", u"0x10", u"7a", u"--1",
                                u"\u0661\u0662", u"9223372036854775808"})
        EXPECT_FALSE(Numbers::parseInteger(QString::fromUtf16(bad))) << QString::fromUtf16(bad).toStdString();
}
