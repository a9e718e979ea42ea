#include "core/Characters.h"

#include <QList>
#include <QString>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {
// بِسْمِ: three letters, each carrying a mark; then a family emoji joined by
// zero-width joiners (one character of eight units) and a Latin e with an
// acute accent written as two code points.
const QString vocalised = QStringLiteral(u"بِسْمِ");
const QString family = QStringLiteral(u"\U0001F468\u200D\U0001F469\u200D\U0001F467");
const QString accented = QStringLiteral(u"e\u0301");
} // namespace

TEST(Characters, clustersCountAsOneCharacterEach)
{
    EXPECT_EQ(Characters::count(vocalised), 3);
    EXPECT_EQ(Characters::count(family), 1);
    EXPECT_EQ(Characters::count(accented + family + vocalised), 5);
    EXPECT_EQ(Characters::count(QString()), 0);
    // A lone surrogate is a character of its own, not a crash.
    EXPECT_EQ(Characters::count(QString(QChar(0xD800)) + QStringLiteral("a")), 2);
}

TEST(Characters, countingStopsPastTheCap)
{
    const QString text = QString(1000, QChar(u'ا'));
    EXPECT_EQ(Characters::count(text, 10), 11);
    EXPECT_EQ(Characters::count(text, 1000), 1000);
    EXPECT_EQ(Characters::count(text, 0), 1);
}

TEST(Characters, forEachVisitsEveryClusterInOrderAndStopsOnRequest)
{
    const QString text = accented + family + vocalised;
    QList<std::pair<qsizetype, qsizetype>> seen;
    Characters::forEach(text, [&](qsizetype start, qsizetype end) {
        seen.append({start, end});
        return true;
    });
    ASSERT_EQ(seen.size(), 5);
    EXPECT_EQ(seen[0], std::make_pair(qsizetype(0), qsizetype(2)));
    EXPECT_EQ(seen[1], std::make_pair(qsizetype(2), qsizetype(2 + family.size())));
    EXPECT_EQ(seen.back().second, text.size());

    int visits = 0;
    Characters::forEach(text, [&](qsizetype, qsizetype) { return ++visits < 2; });
    EXPECT_EQ(visits, 2);
}

TEST(Characters, endsAndBoundariesFallBetweenClusters)
{
    EXPECT_EQ(Characters::endOfFirst(vocalised, 1), 2);
    EXPECT_EQ(Characters::endOfFirst(vocalised, 2), 4);
    EXPECT_EQ(Characters::endOfFirst(vocalised, 99), vocalised.size());
    EXPECT_EQ(Characters::endOfFirst(vocalised, 0), 0);

    EXPECT_TRUE(Characters::isBoundary(vocalised, 0));
    EXPECT_FALSE(Characters::isBoundary(vocalised, 1)); // between ب and its kasra
    EXPECT_TRUE(Characters::isBoundary(vocalised, 2));
    EXPECT_TRUE(Characters::isBoundary(vocalised, vocalised.size()));
    EXPECT_FALSE(Characters::isBoundary(family, 1)); // inside a surrogate pair
    EXPECT_FALSE(Characters::isBoundary(family, 2)); // before a joiner
}

TEST(Characters, trimTakesSpacesOfEveryWidthAndTabsButKeepsLineBreaks)
{
    // A no-break space, a thin space and an ideographic space are spaces too.
    const QString padded = QStringLiteral(u"\t\u00A0 الجزء\u2009الأول\u3000 \t");
    EXPECT_EQ(Characters::trimSpacesAndTabs(padded), QStringLiteral(u"الجزء\u2009الأول"));
    EXPECT_EQ(Characters::trimSpacesAndTabs(QStringLiteral(u"\nسطر\n ")), QStringLiteral(u"\nسطر\n"));
    EXPECT_TRUE(Characters::trimSpacesAndTabs(QStringLiteral(u" \t\u00A0")).isEmpty());
    EXPECT_FALSE(Characters::isSpaceOrTab(QChar(u'\u200F'))); // a direction mark is no space
}
