#include "core/CRC32.h"
#include "core/Py.h"
#include "core/PyRegex.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

const QString emoji = QString::fromUcs4(U"\U0001F600", 1);

} // namespace

TEST(Py, splitAndStripUsePythonWhiteSpace)
{
    // No-break space, ideographic space, information separator and next line
    // all separate; zero-width and Mongolian vowel separators do not.
    EXPECT_EQ(Py::split(u(u"قال\u00A0محمد")), QStringList({u(u"قال"), u(u"محمد")}));
    EXPECT_EQ(Py::split(u(u" a\u3000b\u001Cc\u0085d  ")), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(Py::split(u(u"a\u200Bb\u180Ec")), QStringList({u(u"a\u200Bb\u180Ec")}));
    EXPECT_TRUE(Py::split(u(u" \u2028\u3000 ")).isEmpty());
    EXPECT_EQ(Py::split(emoji + " " + emoji), QStringList({emoji, emoji}));
    EXPECT_EQ(Py::strip(u(u"\u00A0 a b\u2029")), "a b");
    EXPECT_EQ(Py::strip(u(u"\u200Ba\u200B")), u(u"\u200Ba\u200B"));
}

TEST(Py, lengthsAndPrefixesWorkOnCodePoints)
{
    EXPECT_EQ(Py::len(u(u"e\u0301")), 2);
    EXPECT_EQ(Py::len(emoji), 1);
    EXPECT_EQ(Py::string(Py::scalars("a" + emoji)), "a" + emoji);
    EXPECT_TRUE(Py::hasPrefix(Py::scalars(u(u"وقال")), Py::scalars(u(u"و"))));
    EXPECT_TRUE(Py::hasSuffix(Py::scalars(u(u"وقال")), Py::scalars(u(u"قال"))));
    EXPECT_TRUE(Py::hasPrefix(Py::scalars("a"), {}));
    EXPECT_FALSE(Py::hasPrefix(Py::scalars("ab"), Py::scalars("abc")));
    // No canonical equivalence: a precomposed é is not e + combining acute.
    EXPECT_FALSE(Py::hasPrefix(Py::scalars(u(u"\u00E9t")), Py::scalars(u(u"e\u0301"))));
}

TEST(Py, roundTiesToEven)
{
    EXPECT_EQ(Py::round(0.5), 0);
    EXPECT_EQ(Py::round(1.5), 2);
    EXPECT_EQ(Py::round(2.5), 2);
    EXPECT_EQ(Py::round(3.5), 4);
    EXPECT_EQ(Py::round(-0.5), 0);
    EXPECT_EQ(Py::round(-2.5), -2);
    EXPECT_EQ(Py::round(2.4999), 2);
    // (109 / 200) * 100 is 54.50000000000001, just above the tie.
    EXPECT_EQ(Py::round((109.0 / 200.0) * 100.0), 55);
}

TEST(Py, sortKeysAndStableSort)
{
    // U+FFFD sorts after a character above U+FFFF in UTF-16 order.
    EXPECT_LT(Py::key(emoji), Py::key(u(u"\uFFFD")));
    EXPECT_LT(Py::key("ab"), Py::key("abc"));

    const QList<QString> words{"ccc", "a", "bb", "b", "aaa", "c"};
    const auto longestFirst = [](const QString& x, const QString& y) { return x.size() > y.size(); };
    EXPECT_EQ(Py::stableSorted(words, longestFirst), QList<QString>({"ccc", "aaa", "bb", "a", "b", "c"}));
}

TEST(PyRegex, wordBoundaryAndWhiteSpaceFollowPython)
{
    const auto re = PyRegex::compile(u(u"\\bقال\\s"));
    EXPECT_EQ(PyRegex::firstMatch(re, u(u"قال\u00A0محمد")), (PyRegex::Range{0, 4}));
    EXPECT_EQ(PyRegex::firstMatch(re, u(u"ثم قال\u00A0محمد")), (PyRegex::Range{3, 4}));
    EXPECT_FALSE(PyRegex::firstMatch(re, u(u"وقال\u00A0محمد")).has_value());
    // Digits and the underscore are word characters too.
    EXPECT_FALSE(PyRegex::firstMatch(re, u(u"1قال ")).has_value());
    EXPECT_FALSE(PyRegex::firstMatch(re, u(u"_قال ")).has_value());
    // A zero-width space is not white space.
    EXPECT_FALSE(PyRegex::firstMatch(re, u(u"قال\u200B")).has_value());
}

TEST(PyRegex, splitKeepsEmptyEdgePiecesAndRangesAreUtf16)
{
    const auto re = PyRegex::compile("\\s+");
    EXPECT_EQ(PyRegex::split(re, " a  b "), QStringList({"", "a", "b", ""}));
    EXPECT_EQ(PyRegex::split(re, "ab"), QStringList({"ab"}));
    EXPECT_EQ(PyRegex::split(PyRegex::compile(","), ",,x"), QStringList({"", "", "x"}));
    EXPECT_EQ(PyRegex::firstMatch(PyRegex::compile("b+"), emoji + "abbc"), (PyRegex::Range{3, 2}));
}

TEST(PyRegex, groupsAreUtf16RangesAndAGroupThatTookNoPartIsNothing)
{
    const auto matches = PyRegex::allMatchesWithGroups(PyRegex::compile("\\[(\\d+)\\](x)?"), emoji + "[12]x [٣]");
    ASSERT_EQ(matches.size(), 2);
    EXPECT_EQ(matches[0].whole, (PyRegex::Range{2, 5}));
    ASSERT_EQ(matches[0].groups.size(), 2);
    EXPECT_EQ(matches[0].groups[0], (PyRegex::Range{3, 2}));
    EXPECT_EQ(matches[0].groups[1], (PyRegex::Range{6, 1}));
    // \d is any decimal digit.
    EXPECT_EQ(matches[1].groups[0], (PyRegex::Range{9, 1}));
    EXPECT_FALSE(matches[1].groups[1]);
    EXPECT_TRUE(PyRegex::allMatchesWithGroups(PyRegex::compile("(a)"), "bcd").isEmpty());
}

TEST(PyRegex, subReplacesEveryMatchLiterally)
{
    const auto re = PyRegex::compile("(o)");
    EXPECT_EQ(PyRegex::sub(re, "$1\\", "foo bar"), "f$1\\$1\\ bar");
    EXPECT_EQ(PyRegex::sub(re, "", "xyz"), "xyz");
    EXPECT_EQ(PyRegex::sub(PyRegex::compile("\\s+"), " ", u(u"a\u00A0\u3000b\tc")), "a b c");
}

TEST(PyRegex, lineAnchorsMatchAtEveryLineStartOnlyWhenAsked)
{
    // A verse number in Latin or Arabic-Indic digits at the start of a line.
    const QString pattern = u(u"^[0-9\u0660-\u0669]+ ");
    const QString text = u(u"12 بيت\nليس 3 هنا\n٤٥ بيت\n7");
    EXPECT_EQ(PyRegex::allMatches(PyRegex::compile(pattern), text), QList<PyRegex::Range>({{0, 3}}));
    EXPECT_EQ(PyRegex::allMatches(PyRegex::compile(pattern, PyRegex::Anchors::lines), text),
              QList<PyRegex::Range>({{0, 3}, {17, 3}}));
    EXPECT_TRUE(PyRegex::allMatches(PyRegex::compile("x"), "abc").isEmpty());
}

TEST(CRC32, matchesTheIeeeChecksumOfUtf8)
{
    EXPECT_EQ(CRC32::of("abc"), 891568578);
    EXPECT_EQ(CRC32::of(""), 0);
    // Above 2^31: the value stays unsigned.
    EXPECT_EQ(CRC32::of("123456789"), 3421780262);
    EXPECT_EQ(CRC32::of(u(u"قال")), 3392007242);
    EXPECT_EQ(CRC32::of(u(u"حدثنا محمد بن بشار")), 1358948037);
}
