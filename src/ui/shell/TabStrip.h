#pragma once

#include "ui/kit/BarView.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

class QMenu;
class QScrollArea;
class QToolButton;

namespace quorvel {

class StackView;
class TabButton;

// The strip of tab buttons above the main window's content, with a button
// that lists every tab in a menu. Passive: the window pushes the whole list of
// (title, symbol) pairs and the active index after every change. Short of
// room, the tabs narrow to their titles' floor and then scroll, keeping the
// active tab in view.
class TabStrip : public BarView {
    Q_OBJECT
public:
    explicit TabStrip(QWidget* parent = nullptr);

    static constexpr int stripHeight = 34;

    std::function<void(int)> onSelect;
    std::function<void(int)> onClose;

    // Stores the list and the active index (−1 for none) and rebuilds the buttons.
    void set(const QList<QPair<QString, QString>>& tabs, int active);

    const QList<QPair<QString, QString>>& tabs() const { return tabs_; }
    int active() const { return active_; }
    StackView* stack() const { return stack_; }
    QToolButton* menuButton() const { return menuBtn_; }

    // The all-tabs menu as it would pop up; the caller owns it.
    QMenu* buildMenu();
    // Pops the all-tabs menu up under the menu button.
    void showMenu();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyMargins();
    void tintMenuButton();
    // Puts the new buttons (each with its close button) in the Tab order
    // where the strip reads them: after what precedes the strip, right to
    // left, then the menu button.
    void orderForTab(const QList<TabButton*>& buttons);
    // Scrolls the tabs so that the active one is wholly in view, once they
    // are laid out.
    void revealActiveLater();
    void revealActive();
    // Scrolls the tabs so that `button`, one of them, is wholly in view.
    void reveal(QWidget* button);

    StackView* stack_ = nullptr;
    QScrollArea* scroller_ = nullptr;
    QToolButton* menuBtn_ = nullptr;
    QList<QPair<QString, QString>> tabs_;
    int active_ = -1;
};

} // namespace quorvel
