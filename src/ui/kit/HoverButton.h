#pragma once

#include <QAbstractButton>
#include <QColor>

class QPainter;

namespace quorvel {

// The ring a focused custom control draws inside its edge, in the accent
// colour of the appearance in force, so that the keyboard's place shows by
// day and by night.
void paintFocusRing(QPainter& painter, const QWidget& widget, double radius);

// A borderless icon button that lights up under the pointer: a rounded tint
// of the accent colour while hovered, nothing otherwise; a ring while it has
// the keyboard focus.
class HoverButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit HoverButton(QWidget* parent = nullptr);

    static constexpr int cornerRadius = 6;

    // The background drawn behind the symbol now: the tint while hovered,
    // an invalid colour otherwise.
    QColor hoverTint() const;
    int hoverCornerRadius() const { return cornerRadius; }

    QSize sizeHint() const override;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool hovered_ = false;
};

} // namespace quorvel
