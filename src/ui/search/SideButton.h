#pragma once

// One page button of the advanced search window's side bar: a symbol above a
// short title, on a tinted rounded background while its page is shown. It
// acts on the press itself, once, without waiting for the release.

#include <QWidget>

#include <functional>

class QLabel;

namespace quorvel {

class Label;

class SideButton : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedWidth = 84;
    static constexpr double symbolSize = 30;
    static constexpr double titleSize = 13;

    SideButton(const QString& title, const QString& symbol, std::function<void()> action, QWidget* parent = nullptr);

    bool selected() const { return selected_; }
    // Redraws and recolours the title, also when the value is unchanged.
    void setSelected(bool on);
    QString title() const;
    // Whether the symbol was found in the icon set.
    bool hasSymbol() const { return hasSymbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool selected_ = false;
    bool hasSymbol_ = false;
    std::function<void()> action_;
    Label* titleLabel_ = nullptr;
};

} // namespace quorvel
