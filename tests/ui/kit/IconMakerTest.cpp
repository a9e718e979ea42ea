#include "ui/WindowTestSupport.h"

#include "ui/kit/IconMaker.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace quorvel;

TEST(IconMakerTest, writesTheTenImagesWithTransparentCornersAndAnOpaqueCentre)
{
    test::prepareWindows();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("set/inner"));
    for (int run = 0; run < 2; ++run) { // a second run overwrites
        IconMaker::write(folder);
        const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(files.size(), 10);
        for (const IconMaker::IconSize& entry : IconMaker::sizes) {
            const QString name = IconMaker::fileName(entry);
            ASSERT_TRUE(files.contains(name)) << name.toStdString();
            const QImage image(QDir(folder).filePath(name));
            const int side = entry.size * entry.scale;
            ASSERT_EQ(image.size(), QSize(side, side)) << name.toStdString();
            ASSERT_TRUE(image.hasAlphaChannel());
            for (const QPoint corner : {QPoint(0, 0), QPoint(side - 1, 0), QPoint(0, side - 1), QPoint(side - 1, side - 1)})
                EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << name.toStdString();
            EXPECT_EQ(qAlpha(image.pixel(side / 2, side / 2)), 255) << name.toStdString();
        }
    }
    EXPECT_EQ(IconMaker::fileName({16, 2}), QStringLiteral("icon_16x16@2x.png"));
    EXPECT_EQ(IconMaker::fileName({512, 1}), QStringLiteral("icon_512x512.png"));
}

TEST(IconMakerTest, drawsTheTileInsideItsMarginWithTheStarAtTheCentre)
{
    test::prepareWindows();
    const QImage image = IconMaker::image(1024);
    // Outside the tile and its shadow: nothing; inside the ring: the tile.
    EXPECT_EQ(qAlpha(image.pixel(40, 512)), 0);
    EXPECT_EQ(qAlpha(image.pixel(120, 512)), 255);
    // Between the ring and the star the tile's gradient is dark green.
    const QColor tile(image.pixel(512, 180));
    EXPECT_GT(tile.green(), tile.red());
    EXPECT_LT(tile.lightness(), 120);
}

TEST(IconMakerTest, starIsFilledWholeAndItsPointsTouchTheCircle)
{
    const QPainterPath star = IconMaker::star(QPointF(50, 50), 10);
    EXPECT_TRUE(star.contains(QPointF(50, 50)));  // the overlap of both squares
    EXPECT_TRUE(star.contains(QPointF(59, 50)));  // near the 0° point of the second square
    EXPECT_TRUE(star.contains(QPointF(56.5, 56.5))); // near the 45° point of the first
    EXPECT_FALSE(star.contains(QPointF(59, 55)));  // between two points
    EXPECT_NEAR(star.boundingRect().width(), 20, 1e-6);
}
