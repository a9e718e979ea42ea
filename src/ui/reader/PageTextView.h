#pragma once

// The reader's page text: a read-only rich text view whose left and right
// arrow keys turn pages in the reading direction of Arabic, whose context
// menu passes through the reader's hook, and whose copy follows the two copy
// preferences. It keeps no page state; the reader owns the text.

#include <QTextBrowser>

#include <functional>

class QMenu;

namespace quorvel {

class PageTextView : public QTextBrowser {
    Q_OBJECT
public:
    explicit PageTextView(QWidget* parent = nullptr);

    // Turns the page by a step: +1 the next page, -1 the previous one.
    std::function<void(int)> onArrow;
    // Sees every context menu before it is shown, with the position (in
    // viewport coordinates) it was asked for at.
    std::function<void(QMenu*, const QPoint&)> extraMenu;

    // The context menu for a point of the viewport: the standard one passed
    // through extraMenu; never null. The caller owns it.
    QMenu* menuFor(const QPoint& viewportPos);

protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    // Whether a key event is a bare left or right arrow, the page-turning keys.
    static bool isPageKey(const QKeyEvent* event);

    bool tabbedIn_ = false; // the focus came with Tab, so the page shows it
};

} // namespace quorvel
