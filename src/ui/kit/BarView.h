#pragma once

#include "core/Theme.h"

#include <QWidget>

namespace quorvel {

// A bar with a vertical two-colour gradient (top colour along the top edge)
// and a one-pixel line along its bottom edge. The base of the tab strip and of
// the bars of other windows; subclasses may override the three accessors.
class BarView : public QWidget {
    Q_OBJECT
public:
    explicit BarView(QWidget* parent = nullptr);

    virtual ThemeColor top() const { return top_; }
    virtual ThemeColor bottom() const { return bottom_; }
    virtual bool line() const { return line_; }
    // Setters only store; the owner asks for a repaint when it needs one.
    void setTop(const ThemeColor& color) { top_ = color; }
    void setBottom(const ThemeColor& color) { bottom_ = color; }
    void setLine(bool on) { line_ = on; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ThemeColor top_;
    ThemeColor bottom_;
    bool line_ = true;
};

} // namespace quorvel
