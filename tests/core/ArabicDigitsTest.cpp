#include "core/Arabic.h"
#include "core/Settings.h"

#include "ArabicTestUtil.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// Turns the display preference on or off for one test and back on after it.
class ArabicDisplayDigits : public ::testing::Test {
protected:
    void TearDown() override { Settings::setIndicDigits(true); }
};

} // namespace

TEST(ArabicDigits, recognisesAllThreeFamilies)
{
    EXPECT_EQ(Arabic::digitValue(U'7'), 7);
    EXPECT_EQ(Arabic::digitValue(U'\u0667'), 7);
    EXPECT_EQ(Arabic::digitValue(U'\u06F7'), 7);
    EXPECT_EQ(Arabic::digitValue(U'\u0966'), std::nullopt); // Devanagari zero is not a family
    EXPECT_EQ(Arabic::digitValue(U'a'), std::nullopt);

    EXPECT_FALSE(Arabic::isDigits(QString()));
    EXPECT_TRUE(Arabic::isDigits(u"١2۳"_qs));
    EXPECT_FALSE(Arabic::isDigits(u"12a"_qs));
    EXPECT_TRUE(Arabic::hasDigit(u"باب ٣"_qs));
    EXPECT_FALSE(Arabic::hasDigit(u"باب"_qs));
}

TEST(ArabicDigits, formsWriteTheValuesInEachFamily)
{
    const auto forms = Arabic::digitForms(u"ص١٢"_qs);
    EXPECT_EQ(forms[0], u"12"_qs);
    EXPECT_EQ(forms[1], u"١٢"_qs);
    EXPECT_EQ(forms[2], u"۱۲"_qs);
    const auto mixed = Arabic::digitForms(u"1٢۳"_qs);
    EXPECT_EQ(mixed[0], u"123"_qs);
    EXPECT_EQ(mixed[1], u"١٢٣"_qs);
    EXPECT_EQ(mixed[2], u"۱۲۳"_qs);
    for (const QString& f : Arabic::digitForms(u"كتاب"_qs))
        EXPECT_TRUE(f.isEmpty());
    EXPECT_EQ(Arabic::foldDigits(u"س ١٤٢٠ هـ"_qs), u"1420"_qs);
}

TEST(ArabicDigits, stripTrailingDigitsOnlyFromAWord)
{
    EXPECT_EQ(Arabic::stripTrailingDigits(u"الكتاب12"_qs), u"الكتاب"_qs);
    EXPECT_EQ(Arabic::stripTrailingDigits(u"العلم٣"_qs), u"العلم"_qs);
    EXPECT_EQ(Arabic::stripTrailingDigits(u"12"_qs), std::nullopt);
    EXPECT_EQ(Arabic::stripTrailingDigits(u"12ب"_qs), std::nullopt);
    EXPECT_EQ(Arabic::stripTrailingDigits(QString()), std::nullopt);
}

TEST_F(ArabicDisplayDigits, displayFollowsThePreference)
{
    Settings::setIndicDigits(true);
    EXPECT_EQ(Arabic::num(2024), u"٢٠٢٤"_qs);
    EXPECT_EQ(Arabic::num(-5), u"-٥"_qs);
    EXPECT_EQ(Arabic::digits(u"ص 12 من ۱۲"_qs), u"ص ١٢ من ۱۲"_qs);
    // A digit carrying a combining mark is one character with it: unchanged.
    EXPECT_EQ(Arabic::digits(u"1"_qs + QChar(0x0651) + u"2"_qs), u"1"_qs + QChar(0x0651) + u"٢"_qs);
    // So is a digit after the Arabic number sign, which joins what follows.
    EXPECT_EQ(Arabic::digits(QString(QChar(0x0600)) + u"5"_qs), QString(QChar(0x0600)) + u"5"_qs);
    // Among Arabic-Indic digits a point reads as a zero: sizes and versions
    // take the Arabic decimal separator.
    EXPECT_EQ(Arabic::decimal(5.46, 1), u"٥٫٥"_qs);
    EXPECT_EQ(Arabic::decimal(1.0, 1), u"١٫٠"_qs);
    EXPECT_EQ(Arabic::version(u"0.1.0"_qs), u"٠٫١٫٠"_qs);

    Settings::setIndicDigits(false);
    EXPECT_EQ(Arabic::num(2024), u"2024"_qs);
    EXPECT_EQ(Arabic::num(-5), u"-5"_qs);
    EXPECT_EQ(Arabic::digits(u"ص 12"_qs), u"ص 12"_qs);
    EXPECT_EQ(Arabic::decimal(5.46, 1), u"5.5"_qs);
    EXPECT_EQ(Arabic::version(u"0.1.0"_qs), u"0.1.0"_qs);
}

TEST(ArabicDigits, latinDigitsConvertsAnyScriptsWholeNumbers)
{
    EXPECT_EQ(Arabic::latinDigits(u"١٢"_qs), u"12"_qs);
    EXPECT_EQ(Arabic::latinDigits(u"۱۲"_qs), u"12"_qs);
    EXPECT_EQ(Arabic::latinDigits(u"١٢ و 12 باب"_qs), u"12 و 12 باب"_qs);
    EXPECT_EQ(Arabic::latinDigits(u"\u0967\u0968"_qs), u"12"_qs); // Devanagari
    // A numeral worth twelve becomes the single character U+0030 + 12.
    EXPECT_EQ(Arabic::latinDigits(u"\u216B"_qs), u"<"_qs);
    // A fraction has no whole value; a digit with a mark is left as written.
    EXPECT_EQ(Arabic::latinDigits(u"\u00BD"_qs), u"\u00BD"_qs);
    const QString marked = QString(QChar(0x0661)) + QChar(0x0651);
    EXPECT_EQ(Arabic::latinDigits(marked), marked);
    // A value beyond the last code point stays.
    EXPECT_EQ(Arabic::latinDigits(u"\u5104"_qs), u"\u5104"_qs);
}
