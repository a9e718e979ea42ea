#include "core/Arabic.h"

#include "ArabicTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

using namespace quorvel;

TEST(ArabicStem, removesOnePrefixAndOneSuffixKeepingThreeLetters)
{
    EXPECT_EQ(Arabic::stem(u"والمسلمون"_qs), u"مسلم"_qs);
    EXPECT_EQ(Arabic::stem(u"بيت"_qs), u"بيت"_qs);
    EXPECT_EQ(Arabic::stem(u"سيقول"_qs), u"يقول"_qs);
    EXPECT_EQ(Arabic::stem(u"كتابهما"_qs), u"تاب"_qs); // no check that the stem is real
    EXPECT_EQ(Arabic::stem(u"من"_qs), u"من"_qs);
    EXPECT_EQ(Arabic::stem(QString()), QString());
    // A prefix that would leave two letters is passed over for a shorter one.
    EXPECT_EQ(Arabic::stem(u"والدم"_qs), u"الدم"_qs);
    // Lengths count characters, not units: Thai sara am joins the letter
    // before it, so after و only two characters would remain.
    EXPECT_EQ(Arabic::stem(u"و\u0E01\u0E33\u0E01"_qs), u"و\u0E01\u0E33\u0E01"_qs);
    EXPECT_EQ(Arabic::stem(u"و\u0E01\u0E33\u0E01\u0E01"_qs), u"\u0E01\u0E33\u0E01\u0E01"_qs);
    // Nor is و a prefix when a spacing vowel joins it into one character.
    EXPECT_EQ(Arabic::stem(u"و\u0E33كتب"_qs), u"و\u0E33كتب"_qs);
}

TEST(ArabicHeads, articleWordsTakeArticleFormsOthersAllPrefixes)
{
    EXPECT_EQ(Arabic::heads(u"الكتاب"_qs),
              (QStringList{u"الكتاب"_qs, u"والكتاب"_qs, u"فالكتاب"_qs, u"بالكتاب"_qs, u"كالكتاب"_qs,
                           u"وبالكتاب"_qs, u"فبالكتاب"_qs, u"وكالكتاب"_qs, u"فكالكتاب"_qs,
                           u"للكتاب"_qs, u"وللكتاب"_qs, u"فللكتاب"_qs}));
    EXPECT_FALSE(Arabic::heads(u"الكتاب"_qs).contains(u"كتاب"_qs));
    const QStringList plain = Arabic::heads(u"صلاه"_qs);
    ASSERT_EQ(plain.size(), 27);
    EXPECT_EQ(plain.front(), u"صلاه"_qs);
}

TEST(ArabicAffixForms, acceptsThePrefixedAndSuffixedWordsOfTheCorpus)
{
    // Forms of صلاة as they occur in the test books, and one word that only
    // looks alike.
    const auto forms = Arabic::affixForms(u"صلاه"_qs);
    for (const QString& w : {u"صلاه"_qs, u"الصلاه"_qs, u"للصلاه"_qs, u"بالصلاه"_qs, u"صلاته"_qs,
                             u"بصلاه"_qs, u"وصلاته"_qs, u"لصلاه"_qs, u"صلاتي"_qs})
        EXPECT_TRUE(forms->contains(w)) << w.toStdString();
    EXPECT_FALSE(forms->contains(u"اصلاب"_qs));
    EXPECT_FALSE(forms->contains(u"صلات"_qs)); // the ت form only with a suffix

    const auto school = Arabic::affixForms(u"مدرسه"_qs);
    EXPECT_TRUE(school->contains(u"مدرستها"_qs));
    EXPECT_TRUE(school->contains(u"بمدرستها"_qs));
    EXPECT_TRUE(school->contains(u"المدرسه"_qs));
    EXPECT_FALSE(school->contains(u"مدرست"_qs));

    const auto guidance = Arabic::affixForms(u"هدي"_qs);
    EXPECT_TRUE(guidance->contains(u"هداه"_qs));
    EXPECT_TRUE(guidance->contains(u"هداها"_qs));
    EXPECT_TRUE(guidance->contains(u"هديه"_qs));
    EXPECT_FALSE(guidance->contains(u"هدا"_qs));

    // A final ه joined to the sign before it is no ه ending.
    EXPECT_FALSE(Arabic::affixForms(u"مدرس\u0D4Eه"_qs)->contains(u"مدرس\u0D4Eتها"_qs));
    EXPECT_TRUE(Arabic::affixForms(u"مدرس\u0D4Eه"_qs)->contains(u"مدرس\u0D4Eهها"_qs));

    // One letter is too short for the ت variant.
    EXPECT_FALSE(Arabic::affixForms(u"ه"_qs)->contains(u"تها"_qs));
}

// The forms in which a page holds a word a reader asks about: one ending of
// the light-stem table besides the pronouns, never another word that begins
// with its letters.
TEST(ArabicWordForms, oneEndingOrPronounBehindTheCliticsAndNoLongerWord)
{
    const struct {
        const char16_t* word;
        const char16_t* pageWord;
        bool holds;
    } rows[] = {
        {u"صبر", u"صبرت", true},       {u"صبر", u"فصبروا", true},     {u"صبر", u"والصبر", true},
        {u"صبر", u"صبرا", true},       {u"صبر", u"يصبر", false},      {u"ظلم", u"ظلمتم", true},
        {u"طلاق", u"طلاقا", true},     {u"نكاح", u"بنكاحها", true},   {u"وضوء", u"وضوءين", true},
        {u"وضوء", u"وضوئه", true},     {u"وضوء", u"بوضوئه", true},    {u"وضوء", u"وضوئ", false},
        {u"مسلم", u"المسلمون", true},  {u"مسلم", u"للمسلمين", true},  {u"جار", u"جاري", true},
        // The article takes no pronoun: these are other words.
        {u"جار", u"الجاريه", false},   {u"جار", u"بالجاريه", false},  {u"خمر", u"الخمره", false},
        {u"جار", u"جاريه", false},     {u"ربا", u"رباح", false},      {u"ربا", u"الرباني", false},
        // A final ه takes its endings as ت, and alone only the pronouns.
        {u"غيبه", u"غيبته", true},     {u"غيبه", u"الغيبه", true},    {u"غيبه", u"فغيبها", false},
        {u"غيبه", u"غيبت", false},     {u"سنه", u"سنتين", true},
        // Under three letters a stem takes no ending of the table.
        {u"دم", u"دمه", true},         {u"دم", u"دما", false},        {u"الحج", u"بالحج", true},
        {u"الحج", u"حجه", false},      {u"الحج", u"الحجين", false},
    };
    for (const auto& row : rows) {
        const QString word = QString::fromUtf16(row.word);
        const QString pageWord = QString::fromUtf16(row.pageWord);
        EXPECT_EQ(Arabic::wordForms(word)->contains(pageWord), row.holds)
            << word.toStdString() << " in " << pageWord.toStdString();
    }
}

TEST(ArabicAffixForms, cacheServesRepeatsAndStaysBounded)
{
    const auto first = Arabic::affixForms(u"حديث"_qs);
    EXPECT_EQ(Arabic::affixForms(u"حديث"_qs).get(), first.get());

    // A long run of distinct words: the cache never holds more than its
    // capacity, and a set handed out earlier stays whole after eviction.
    const Arabic::FormSet snapshot(*first);
    for (qsizetype i = 0; i < Arabic::affixCacheCapacity + 200; ++i) {
        const QString word = u"كتب"_qs + QString::number(i);
        Arabic::affixForms(word);
        ASSERT_LE(Arabic::affixCacheSize(), Arabic::affixCacheCapacity);
    }
    EXPECT_EQ(Arabic::affixCacheSize(), Arabic::affixCacheCapacity);
    EXPECT_EQ(*first, snapshot);
    const auto again = Arabic::affixForms(u"حديث"_qs);
    EXPECT_NE(again.get(), first.get()); // evicted and computed anew
    EXPECT_EQ(*again, *first);           // to the same set
}

TEST(ArabicAffixForms, recentlyUsedWordsSurviveEviction)
{
    const auto kept = Arabic::affixForms(u"رسول"_qs);
    for (qsizetype i = 0; i < Arabic::affixCacheCapacity * 2; ++i) {
        Arabic::affixForms(u"قول"_qs + QString::number(i));
        if (i % 100 == 0)
            Arabic::affixForms(u"رسول"_qs); // keeps it among the recent words
    }
    EXPECT_EQ(Arabic::affixForms(u"رسول"_qs).get(), kept.get());
}

TEST(ArabicAffixForms, concurrentCallersShareOneComputation)
{
    const QString word = u"مسجد"_qs;
    std::vector<std::shared_ptr<const Arabic::FormSet>> results(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = Arabic::affixForms(word); });
    for (auto& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(r.get(), results.front().get());
    EXPECT_TRUE(results.front()->contains(u"المسجد"_qs));
}

TEST(ArabicAffixHeads, headsOfAllBasesInCodePointOrder)
{
    const QStringList heads = Arabic::affixHeads(u"الصلاه"_qs);
    // The word and its ت form, each with the 12 article heads.
    EXPECT_EQ(heads.size(), 24);
    EXPECT_TRUE(heads.contains(u"بالصلاه"_qs));
    EXPECT_TRUE(heads.contains(u"للصلات"_qs));
    EXPECT_TRUE(std::is_sorted(heads.begin(), heads.end(), [](const QString& a, const QString& b) {
        return a.toUcs4() < b.toUcs4();
    }));
    EXPECT_EQ(QSet<QString>(heads.begin(), heads.end()).size(), heads.size());

    const QStringList guidance = Arabic::affixHeads(u"هدي"_qs);
    EXPECT_EQ(guidance.size(), 54);
    EXPECT_TRUE(guidance.contains(u"وسهدا"_qs));
}

TEST(ArabicAffixHeads, codePointOrderDiffersFromUnitOrderAboveTheBasicPlane)
{
    const QString fullwidthA = QString(QChar(0xFF21));
    const QString mathA = QString::fromUcs4(U"\U0001D400");
    EXPECT_TRUE(Arabic::codePointLess(fullwidthA, mathA));
    EXPECT_FALSE(Arabic::codePointLess(mathA, fullwidthA));
    EXPECT_TRUE(mathA < fullwidthA); // what plain UTF-16 comparison would say
    EXPECT_FALSE(Arabic::codePointLess(u"ابت"_qs, u"ابت"_qs));
}

TEST(ArabicSpellings, wordFirstThenVariantsAcrossPairs)
{
    EXPECT_EQ(Arabic::spellings(u"اسحاق"_qs), (QStringList{u"اسحاق"_qs, u"اسحق"_qs}));
    EXPECT_EQ(Arabic::spellings(u"ابراهيم"_qs), (QStringList{u"ابراهيم"_qs, u"ابراهام"_qs}));
    EXPECT_EQ(Arabic::spellings(u"داوود"_qs), (QStringList{u"داوود"_qs, u"داود"_qs}));
    EXPECT_EQ(Arabic::spellings(u"حدثنا"_qs), QStringList{u"حدثنا"_qs});
    // Two listed spellings in one text give all four combinations.
    EXPECT_EQ(Arabic::spellings(u"هذاالسموات"_qs),
              (QStringList{u"هذاالسموات"_qs, u"هذاالسماوات"_qs, u"هاذاالسموات"_qs,
                           u"هاذاالسماوات"_qs}));
}
