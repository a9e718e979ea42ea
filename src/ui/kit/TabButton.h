#pragma once

#include <QWidget>

#include <functional>

namespace quorvel {

class HoverButton;
class Label;

// One tab of the strip: symbol, title and a close button, on a shape with two
// rounded top corners. The title takes at most 230 pixels; where the strip is
// short of room it gives way down to its first dozen characters, shortened at
// its end, never further. A press anywhere but on the close button selects
// the tab. Throw-away: the strip makes new buttons on every change, so
// `active` never changes.
class TabButton : public QWidget {
    Q_OBJECT
public:
    TabButton(const QString& title, const QString& icon, bool active, std::function<void()> select,
              std::function<void()> close, QWidget* parent = nullptr);

    static constexpr int maxTitleWidth = 230;
    // However short of room the strip is, a title keeps this many characters.
    static constexpr int keptTitleCharacters = 12;

    bool isActive() const { return active_; }
    Label* titleLabel() const { return title_; }
    HoverButton* closeButton() const { return close_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const bool active_;
    const std::function<void()> select_;
    Label* title_ = nullptr;
    HoverButton* close_ = nullptr;
};

} // namespace quorvel
