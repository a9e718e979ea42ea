#pragma once

#include <QProxyStyle>

namespace quorvel {

// The application's style: the platform-neutral style it wraps, except that
// - a menu item's key ("Ctrl++") reads left to right in a right-to-left menu.
//   Drawn as part of a right-to-left line, the trailing "+" or "-" would move
//   to the key's left («++Ctrl»);
// - an Arabic menu title draws no mnemonic underline, which would cut the
//   word's joining («ان̲سخ»); the key itself still works;
// - check boxes and radio buttons take a border that stands out from the
//   ground by day and by night, where the wrapped style draws it near black
//   on near black;
// - a text field's border is drawn in the same colour, which the wrapped
//   style draws barely darker than the window by day and lost by night;
// - the selected segment of a segmented control (a checked tool button of
//   an exclusive group) is filled with the accent, where the wrapped style
//   only shades it a little, and by night not visibly at all;
// - a text field's focus ring by night is drawn in the night accent, where
//   the wrapped style's dark emerald is lost;
// - a right-to-left text field aligned to its leading edge keeps to the
//   right also while empty, where the caret would otherwise wait at the left;
// - the row of a list or outline that has the keyboard is framed in the
//   accent, where the wrapped style's frame is barely seen, and not by night;
// - an Arabic button title draws no mnemonic underline either (Qt's own
//   catalogue gives the standard buttons one: «&نعم»), and a dialog's
//   buttons keep room on both sides of their title.
// GUI thread only, like every style.
class MenuStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Takes ownership of `base`.
    explicit MenuStyle(QStyle* base);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void polish(QWidget* widget) override;
    using QProxyStyle::polish;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

} // namespace quorvel
