#pragma once

#include <QAbstractButton>
#include <QColor>

namespace quorvel {

// A borderless icon button that lights up under the pointer: a rounded tint
// of the accent colour while hovered, nothing otherwise.
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
