#pragma once

#include "core/Theme.h"

#include <QColor>
#include <QWidget>

#include <optional>

namespace quorvel {

// A plain colour fill, with an optional rounded border; colours with a night
// value follow the appearance of the palette in force when it is painted.
class ColorView : public QWidget {
    Q_OBJECT
public:
    explicit ColorView(const ThemeColor& color, QWidget* parent = nullptr);
    explicit ColorView(const QColor& color, QWidget* parent = nullptr) : ColorView(ThemeColor(color), parent) {}

    // The colour as painted now.
    QColor color() const { return color_.resolve(palette()); }
    void setColor(const ThemeColor& color); // repaints
    void setColor(const QColor& color) { setColor(ThemeColor(color)); }
    // A one-pixel border in `color` with corners of `radius`; repaints.
    void setBorder(const ThemeColor& color, double radius);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ThemeColor color_;
    std::optional<ThemeColor> border_;
    double radius_ = 0;
};

} // namespace quorvel
