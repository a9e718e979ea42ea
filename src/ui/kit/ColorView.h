#pragma once

#include <QColor>
#include <QWidget>

namespace quorvel {

// A plain colour fill.
class ColorView : public QWidget {
    Q_OBJECT
public:
    explicit ColorView(const QColor& color, QWidget* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& color); // repaints

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

} // namespace quorvel
