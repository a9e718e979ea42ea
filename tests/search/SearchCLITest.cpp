#include "search/SearchCLI.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace SearchCLI = quorvel::SearchCLI;

TEST(SearchCLI, splitMixAndFnvFollowTheirPublishedDefinitions)
{
    SearchCLI::SplitMix generator{0};
    EXPECT_EQ(generator.next(), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(generator.next(), 0x6E789E6AA1B965F4ULL);
    EXPECT_EQ(generator.next(), 0x06C45D188009454FULL);

    EXPECT_EQ(SearchCLI::fnv(QString()), QStringLiteral("cbf29ce484222325"));
    EXPECT_EQ(SearchCLI::fnv(QStringLiteral("a")), QStringLiteral("af63dc4c8601ec8c"));
    // Over the UTF-8 bytes D8 A8, whose hash has a leading zero digit left unwritten.
    EXPECT_EQ(SearchCLI::fnv(QStringLiteral("ب")), QStringLiteral("b100007b75a183d"));
    EXPECT_EQ(SearchCLI::fnv(QStringLiteral("الصلاة")), QStringLiteral("1e2dfbc25b8030b5"));
}

TEST(SearchCLI, paritySampleIsBoundedAndNeverOverflows)
{
    EXPECT_EQ(SearchCLI::paritySample(1, 5, 100, 7), QList<std::int64_t>({1, 2, 3, 4, 5}));
    // An empty pages table reads as the range [0, 0].
    EXPECT_EQ(SearchCLI::paritySample(0, 0, 10, 7), QList<std::int64_t>({0}));
    EXPECT_TRUE(SearchCLI::paritySample(1, 5, 0, 7).isEmpty());
    EXPECT_TRUE(SearchCLI::paritySample(1, 5, -3, 7).isEmpty());
    EXPECT_TRUE(SearchCLI::paritySample(5, 1, 3, 7).isEmpty());

    const auto lo = std::numeric_limits<std::int64_t>::min();
    const auto hi = std::numeric_limits<std::int64_t>::max();
    const QList<std::int64_t> wide = SearchCLI::paritySample(lo, hi, 4, 99);
    ASSERT_EQ(wide.size(), 4);
    EXPECT_TRUE(std::is_sorted(wide.begin(), wide.end()));
    EXPECT_EQ(SearchCLI::paritySample(lo, hi, 4, 99), wide);
    EXPECT_NE(SearchCLI::paritySample(lo, hi, 4, 100), wide);

    // A request for more pages than the cap samples the cap.
    const QList<std::int64_t> capped =
        SearchCLI::paritySample(1, 4 * SearchCLI::maxParitySample, hi, 7);
    EXPECT_EQ(capped.size(), SearchCLI::maxParitySample);
}

TEST(SearchCLI, wholeNumbers)
{
    EXPECT_EQ(SearchCLI::wholeNumber(QStringLiteral("3")), 3);
    EXPECT_EQ(SearchCLI::wholeNumber(QStringLiteral("+3")), 3);
    EXPECT_EQ(SearchCLI::wholeNumber(QStringLiteral("-3")), -3);
    for (const char* bad : {"", " 3", "3 ", "3.0", "abc", "+-3", "--3", "+", "-", "99999999999999999999"})
        EXPECT_EQ(SearchCLI::wholeNumber(QString::fromLatin1(bad)), std::nullopt) << bad;
    EXPECT_EQ(SearchCLI::unsignedWholeNumber(QStringLiteral("18446744073709551615")),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(SearchCLI::unsignedWholeNumber(QStringLiteral("-1")), std::nullopt);
    EXPECT_EQ(SearchCLI::unsignedWholeNumber(QStringLiteral("x7")), std::nullopt);
}

TEST(SearchCLI, requestLinesMergeOverTheDefaultRequest)
{
    QStringList unknown;
    const auto q = SearchCLI::parseQuery(QStringLiteral(R"({"andPhrases":["الصلاة"],"foo":1})"), &unknown);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->andPhrases, QStringList{QStringLiteral("الصلاة")});
    EXPECT_TRUE(q->requireAll);
    EXPECT_TRUE(q->inNotes);
    EXPECT_FALSE(q->scope);
    EXPECT_EQ(unknown, QStringList{QStringLiteral("foo")});

    const auto scoped = SearchCLI::parseQuery(QStringLiteral(R"({"orPhrases":["a"],"scope":[2,3],"affix":true})"));
    ASSERT_TRUE(scoped);
    EXPECT_EQ(scoped->scope, QList<std::int64_t>({2, 3}));
    EXPECT_TRUE(scoped->affix);

    EXPECT_FALSE(SearchCLI::parseQuery(QStringLiteral(R"({"requireAll":"yes"})")));
    EXPECT_FALSE(SearchCLI::parseQuery(QStringLiteral(R"({"andPhrases":"الصلاة"})")));
    EXPECT_FALSE(SearchCLI::parseQuery(QStringLiteral("الصلاة والزكاة")));
    EXPECT_FALSE(SearchCLI::parseQuery(QStringLiteral("[1]")));
}

TEST(SearchCLI, guardRefusesOnlyInsideTheRealHome)
{
    EXPECT_TRUE(SearchCLI::refuses(QStringLiteral("/home/u/.local/share/QuorvelLibrary/"), QStringLiteral("/home/u")));
    EXPECT_FALSE(SearchCLI::refuses(QStringLiteral("/home/user2/x/"), QStringLiteral("/home/u")));
    EXPECT_FALSE(SearchCLI::refuses(QStringLiteral("/var/sandbox/home/.local/share/QuorvelLibrary/"),
                                    QStringLiteral("/home/u")));
    EXPECT_FALSE(SearchCLI::refuses(QStringLiteral("/anything/"), QString()));
}
