#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <array>

namespace quorvel::IconMaker {

// One image of the application's icon set: a size in points and a scale.
struct IconSize {
    int size;
    int scale;
};

// The ten images of the set, in writing order.
inline constexpr std::array<IconSize, 10> sizes{{
    {16, 1}, {16, 2}, {32, 1}, {32, 2}, {128, 1}, {128, 2}, {256, 1}, {256, 2}, {512, 1}, {512, 2},
}};

// "icon_<size>x<size>.png", with "@2x" before ".png" at scale 2.
QString fileName(IconSize entry);

// The icon drawn on a transparent square of that many pixels each way.
QImage image(double pixels);

// Two squares in the circle of radius r, together the eight-pointed star of
// the icon; the welcome view draws its lattice and ornament with it too.
QPainterPath star(const QPointF& center, double r);

// Creates the folder and writes the ten images into it. A file that cannot be
// written keeps its earlier contents and the remaining files are still
// attempted; the result holds one "<path>: <Arabic reason>" per file not
// written, empty when all were.
QStringList write(const QString& dir);

} // namespace quorvel::IconMaker
