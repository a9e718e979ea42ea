#pragma once

#include "core/Theme.h"

#include <QAbstractButton>
#include <QColor>
#include <QList>

class QPainter;

namespace quorvel {

// The ring a focused custom control draws inside its edge, in the accent
// colour of the appearance in force, so that the keyboard's place shows by
// day and by night.
void paintFocusRing(QPainter& painter, const QWidget& widget, double radius);

// A borderless icon button that lights up under the pointer: a rounded tint
// of the accent colour while hovered, nothing otherwise; a ring while it has
// the keyboard focus. A symbol set through setSymbol() is tinted again
// whenever the palette changes, so its colours follow the appearance.
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

    // Shows a Theme symbol, its colours resolved by the button's palette now
    // and again at every change of the palette.
    void setSymbol(const QString& name, double size, const QList<ThemeColor>& colors,
                   QFont::Weight weight = QFont::Normal);
    // The symbol's name and colours as set; empty without a symbol.
    const QString& symbolName() const { return symbol_; }
    const QList<ThemeColor>& symbolColors() const { return symbolColors_; }

protected:
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void tintSymbol();

    bool hovered_ = false;
    QString symbol_;
    double symbolSize_ = 0;
    QList<ThemeColor> symbolColors_;
    QFont::Weight symbolWeight_ = QFont::Normal;
};

} // namespace quorvel
