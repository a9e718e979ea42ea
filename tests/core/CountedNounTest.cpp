#include "core/CountedNoun.h"

#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(CountedNoun, theNounAgreesWithTheNumberByItsLastTwoDigits)
{
    using Case = CountedNoun::Case;
    const CountedNoun century(QStringLiteral("قرن"), QStringLiteral("قرنان"), QStringLiteral("قرون"), QStringLiteral("قرنا"));
    const CountedNoun section(QStringLiteral("قسم"), QStringLiteral("قسمان"), QStringLiteral("أقسام"), QStringLiteral("قسما"));
    const CountedNoun tab(QStringLiteral("تبويب"), QStringLiteral("تبويبان"), QStringLiteral("تبويبات"), QStringLiteral("تبويباً"));
    const CountedNoun result(QStringLiteral("نتيجة"), QStringLiteral("نتيجتان"), QStringLiteral("نتائج"), QStringLiteral("نتيجة"));
    const struct {
        const CountedNoun& noun;
        long long n;
        Case grammaticalCase;
        const char16_t* expected;
    } rows[] = {
        {CountedNoun::books(), 0, Case::nominative, u"٠ كتاب"},
        {CountedNoun::books(), 1, Case::nominative, u"كتاب واحد"},
        {CountedNoun::books(), 1, Case::accusative, u"كتابا واحدا"},
        {CountedNoun::books(), 2, Case::nominative, u"كتابان"},
        {CountedNoun::books(), 2, Case::genitive, u"كتابين"},
        {CountedNoun::books(), 3, Case::nominative, u"٣ كتب"},
        {CountedNoun::books(), 11, Case::nominative, u"١١ كتابا"},
        {CountedNoun::books(), 100, Case::nominative, u"١٠٠ كتاب"},
        {CountedNoun::books(), 101, Case::nominative, u"١٠١ كتاب"},
        {CountedNoun::books(), 102, Case::genitive, u"١٠٢ كتاب"},
        {CountedNoun::books(), 103, Case::nominative, u"١٠٣ كتب"},
        {CountedNoun::books(), 111, Case::nominative, u"١١١ كتابا"},
        {CountedNoun::books(), 1000, Case::nominative, u"١٠٠٠ كتاب"},
        {CountedNoun::pages(), 1, Case::accusative, u"صفحة واحدة"},
        {CountedNoun::pages(), 2, Case::accusative, u"صفحتين"},
        {CountedNoun::pages(), 10, Case::nominative, u"١٠ صفحات"},
        {CountedNoun::pages(), 11607, Case::nominative, u"١١٦٠٧ صفحات"},
        {CountedNoun::pages(), 4587, Case::nominative, u"٤٥٨٧ صفحة"},
        {CountedNoun::items(), 1, Case::accusative, u"عنصرا واحدا"},
        {CountedNoun::items(), 2, Case::genitive, u"عنصرين"},
        {CountedNoun::items(), 10, Case::genitive, u"١٠ عناصر"},
        {CountedNoun::items(), 12, Case::nominative, u"١٢ عنصرا"},
        {century, 8, Case::nominative, u"٨ قرون"},
        {century, 15, Case::nominative, u"١٥ قرنا"},
        {section, 5, Case::nominative, u"٥ أقسام"},
        {section, 2, Case::nominative, u"قسمان"},
        {tab, 1, Case::accusative, u"تبويباً واحداً"},
        {tab, 12, Case::nominative, u"١٢ تبويباً"},
        {result, 1, Case::nominative, u"نتيجة واحدة"},
        {result, 250, Case::nominative, u"٢٥٠ نتيجة"},
        {result, 7, Case::nominative, u"٧ نتائج"},
        {result, -12, Case::nominative, u"-١٢ نتيجة"},
    };
    Settings::setIndicDigits(false);
    EXPECT_EQ(CountedNoun::books().count(7), QStringLiteral("7 كتب"));
    Settings::setIndicDigits(true);
    for (const auto& row : rows)
        EXPECT_EQ(row.noun.count(row.n, row.grammaticalCase), QString::fromUtf16(row.expected)) << row.n;
    EXPECT_EQ(section.form(2, Case::genitive), QStringLiteral("قسمين"));
    const CountedNoun ignored(QStringLiteral("كتاب متجاهل"), QStringLiteral("كتابان متجاهلان"), QStringLiteral("كتب متجاهلة"),
                              QStringLiteral("كتابا متجاهلا"));
    EXPECT_EQ(ignored.count(2, Case::genitive), QStringLiteral("كتابين متجاهلين"));
    EXPECT_EQ(ignored.count(12, Case::genitive, QStringLiteral("12")), QStringLiteral("12 كتابا متجاهلا"));
}

TEST(CountedNoun, aMeasuredAmountWithAFractionTakesTheSingular)
{
    using Case = CountedNoun::Case;
    const CountedNoun seconds(QStringLiteral("ثانية"), QStringLiteral("ثانيتان"), QStringLiteral("ثوان"),
                              QStringLiteral("ثانية"));
    const struct {
        double amount;
        const char* written;
        const char16_t* expected;
    } rows[] = {
        {0.5, "0.5", u"0.5 ثانية"}, {2.5, "2.5", u"2.5 ثانية"},  {0, "0", u"0 ثانية"},
        {1, "1", u"ثانية واحدة"},   {2, "2", u"ثانيتين"},       {5, "5", u"5 ثوان"},
        {30, "30", u"30 ثانية"},    {1e300, "1e+300", u"1e+300 ثانية"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(seconds.measure(row.amount, Case::genitive, QString::fromLatin1(row.written)),
                  QString::fromUtf16(row.expected))
            << row.written;
}
