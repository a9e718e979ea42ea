#pragma once

#include <QProxyStyle>

namespace quorvel {

// The application's style: the platform-neutral style it wraps, except that a
// menu item's key ("Ctrl++") reads left to right in a right-to-left menu.
// Drawn as part of a right-to-left line, the trailing "+" or "-" would move
// to the key's left («++Ctrl»). GUI thread only, like every style.
class MenuStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Takes ownership of `base`.
    explicit MenuStyle(QStyle* base);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

} // namespace quorvel
