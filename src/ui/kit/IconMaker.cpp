#include "ui/kit/IconMaker.h"

#include "core/AtomicFile.h"
#include "core/Theme.h"

#include <QBuffer>
#include <QDir>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace quorvel::IconMaker {

namespace {

// The drawing is laid out on a square of this many units.
constexpr double kCanvas = 1024;
constexpr double kTileOrigin = 100;
constexpr double kTileSide = 824;
constexpr double kTileRadius = 185;
constexpr double kShadowAlpha = 0.35;
constexpr double kShadowBlur = 18;
constexpr double kShadowDrop = 8;
constexpr double kRingInset = 34;
constexpr double kRingRadius = 155;
constexpr double kRingWidth = 6;
constexpr double kRingAlpha = 0.85;
constexpr double kStarRadius = 300;
constexpr double kStarLine = 10;
constexpr double kLetterSize = 430;
constexpr double kLetterRaise = 40;
constexpr char kLetter[] = "ق";

// A blur of roughly the given radius: shrinking and growing the image again
// with smooth filtering spreads each pixel over its neighbourhood.
QImage blurred(const QImage& source, double radius)
{
    if (radius < 1)
        return source;
    const double factor = std::max(1.0, radius / 2);
    const QSize small(std::max(1, int(source.width() / factor)), std::max(1, int(source.height() / factor)));
    QImage reduced = source.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    reduced = reduced.scaled(small * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return reduced.scaled(source.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

QString fileName(IconSize entry)
{
    const QString side = QString::number(entry.size);
    return QStringLiteral("icon_") + side + QLatin1Char('x') + side +
           (entry.scale == 2 ? QStringLiteral("@2x.png") : QStringLiteral(".png"));
}

QImage image(double pixels)
{
    const int side = std::max(1, int(std::lround(pixels)));
    const double s = side / kCanvas;
    QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);

    // Shapes are laid out with y growing upwards, as the design is given.
    const QTransform up(s, 0, 0, -s, 0, side);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(kTileOrigin, kTileOrigin, kTileSide, kTileSide), kTileRadius, kTileRadius);

    // Shadow: the tile's silhouette, blurred and dropped below it.
    {
        QImage shadow(side, side, QImage::Format_ARGB32_Premultiplied);
        shadow.fill(Qt::transparent);
        QPainter painter(&shadow);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(up);
        painter.fillPath(tile.translated(0, -kShadowDrop), Theme::rgb(0x000000, kShadowAlpha));
        painter.end();
        QPainter onto(&canvas);
        onto.drawImage(0, 0, blurred(shadow, kShadowBlur * s));
    }

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setTransform(up);
    painter.fillPath(tile, Theme::emeraldDeep());

    QLinearGradient gradient(QPointF(0, kTileOrigin + kTileSide), QPointF(0, kTileOrigin));
    gradient.setColorAt(0, Theme::rgb(0x137058));
    gradient.setColorAt(1, Theme::rgb(0x08352A));
    painter.fillPath(tile, gradient);

    QPainterPath ring;
    ring.addRoundedRect(QRectF(kTileOrigin + kRingInset, kTileOrigin + kRingInset, kTileSide - 2 * kRingInset,
                               kTileSide - 2 * kRingInset),
                        kRingRadius, kRingRadius);
    painter.setPen(QPen(Theme::rgb(0xB8913A, kRingAlpha), kRingWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(ring);

    const QPainterPath centre = star(QPointF(kCanvas / 2, kCanvas / 2), kStarRadius);
    painter.fillPath(centre, Theme::rgb(0x0C4A3B));
    painter.setPen(QPen(Theme::gold(), kStarLine));
    painter.drawPath(centre);

    // The letter is drawn upright: only its position follows the y-up layout.
    painter.resetTransform();
    const QFont font = Theme::logo(kLetterSize * s);
    const QString letter = QString::fromUtf8(kLetter);
    const QSizeF extent = QFontMetricsF(font).size(Qt::TextSingleLine, letter);
    const QPointF middle(side / 2.0, side / 2.0 - kLetterRaise * s);
    painter.setFont(font);
    painter.setPen(Theme::rgb(0xF3DFA2));
    painter.drawText(QRectF(middle.x() - extent.width() / 2, middle.y() - extent.height() / 2, extent.width(),
                            extent.height()),
                     Qt::AlignCenter | Qt::TextDontClip, letter);
    painter.end();
    return canvas;
}

QStringList write(const QString& dir)
{
    QDir().mkpath(dir);
    QStringList failures;
    for (const IconSize& entry : sizes) {
        const QImage icon = image(entry.size * entry.scale);
        if (icon.isNull())
            continue;
        const QString path = QDir(dir).filePath(fileName(entry));
        // Encoded whole first, so that a full disk leaves an earlier image of
        // the same name as it was.
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !icon.save(&buffer, "PNG"))
            continue;
        if (const std::optional<QString> failed = AtomicFile::replace(path, png))
            failures.append(path + QStringLiteral(": ") + *failed);
    }
    return failures;
}

QPainterPath star(const QPointF& center, double r)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    auto corner = [&](double degrees) {
        const double a = degrees * M_PI / 180;
        return QPointF(center.x() + r * std::cos(a), center.y() + r * std::sin(a));
    };
    for (double start : {45.0, 90.0}) {
        path.moveTo(corner(start));
        for (int k = 1; k < 4; ++k)
            path.lineTo(corner(start + 90 * k));
        path.closeSubpath();
    }
    return path;
}

} // namespace quorvel::IconMaker
