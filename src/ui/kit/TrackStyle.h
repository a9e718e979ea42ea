#pragma once

// The style of a slider that sits on a bar. By night the base style draws the
// groove near black on the near-black bar, where it vanishes; this style
// draws it as a line in Theme::track() instead and leaves the handle to the
// base style. By day the base style draws the whole slider. GUI thread only.

#include <QProxyStyle>

namespace quorvel {

class TrackStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Proxies the application's style; `parent` owns it.
    explicit TrackStyle(QObject* parent);

    // Thickness of the night track, in logical pixels.
    static constexpr int thickness = 4;

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};

} // namespace quorvel
