#include "ui/WindowTestSupport.h"

#include "ui/kit/IconMaker.h"

#include <QDir>
#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

using namespace quorvel;

TEST(IconMakerTest, writesTheTenImagesWithTransparentCornersAndAnOpaqueCentre)
{
    test::prepareWindows();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("set/inner"));
    for (int run = 0; run < 2; ++run) { // a second run overwrites
        EXPECT_TRUE(IconMaker::write(folder).isEmpty());
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

    // A file-size limit fails the large images part-way, as a filling disk
    // does: each keeps its earlier contents and is named with the reason.
    QMap<QString, QByteArray> earlier;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        QFile f(QDir(folder).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        earlier.insert(name, f.readAll());
    }
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const QStringList failures = IconMaker::write(folder);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    const QString big = QDir(folder).filePath(IconMaker::fileName({512, 2}));
    EXPECT_TRUE(failures.contains(big + QStringLiteral(": الملف أكبر مما يسمح به النظام"))) << failures.join(u'|').toStdString();
    EXPECT_LT(failures.size(), 10);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 10);
    for (auto it = earlier.cbegin(); it != earlier.cend(); ++it) {
        QFile f(QDir(folder).filePath(it.key()));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), it.value()) << it.key().toStdString();
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
