#pragma once

// The builders every window is made of. Windows are built in code from these
// few functions; fonts, colours and symbols come from Theme, never from here.
// Sizes are logical pixels. All of it runs on the GUI thread.

#include "ui/kit/HoverButton.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QList>
#include <QMargins>
#include <QPushButton>
#include <QWidget>

#include <functional>

class QAbstractSlider;
class QBoxLayout;
class QComboBox;
class QFontMetrics;
class QLineEdit;
class QScrollArea;

namespace quorvel {

// Runs a closure when its control fires. One target per control: attaching a
// second closure deletes the first target, which also cuts its connection.
class ClosureTarget : public QObject {
    Q_OBJECT
public:
    using Fn = std::function<void(QObject* sender)>;
    ClosureTarget(QObject* owner, Fn fn);

    // Calls the closure with the sender (nullptr when there is none).
    void fire(QObject* sender);

    // The target currently attached to a control, or nullptr.
    static ClosureTarget* of(QObject* control);

private:
    Fn fn_;
};

// Attach a closure as the control's action, replacing any earlier one. The
// closure receives the control. Buttons fire on click, actions on trigger,
// line edits on Return, combo boxes on activation, sliders on value change.
void onAction(QAbstractButton* control, std::function<void(QObject*)> fn);
void onAction(QAction* control, std::function<void(QObject*)> fn);
void onAction(QLineEdit* control, std::function<void(QObject*)> fn);
void onAction(QComboBox* control, std::function<void(QObject*)> fn);
void onAction(QAbstractSlider* control, std::function<void(QObject*)> fn);
// Runs `fn` when `view` (a label, say, that names a button beside it) is
// clicked with the primary button; the pointer shows it can be.
void onClick(QWidget* view, std::function<void()> fn);

// A menu item running a closure. A non-empty key becomes Ctrl+key (an upper
// case letter adds Shift); an empty key gives no shortcut.
QAction* menuItem(const QString& title, const QString& key, std::function<void()> fn,
                  QObject* parent = nullptr);

// `text` cut to `width` pixels: whole when it fits, else its `lead` (the
// start of `text`, a shared book title say) shortened before the rest is, and
// that rest, when it alone is too wide, cut in its middle so that both its ends
// stay. Without a lead it is shortened at the end.
QString fitText(const QString& text, const QString& lead, const QFontMetrics& metrics, int width);

// A label that shortens its text with an ellipsis instead of growing, at the
// end (tail) or in the middle; the full text stays in text().
class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(const QString& text, QWidget* parent = nullptr);
    void setElideMode(Qt::TextElideMode mode);
    Qt::TextElideMode elideMode() const { return elide_; }
    // A start of the text that is shortened first, keeping what follows it
    // (what tells two editions of one title apart) readable.
    void setLead(const QString& lead);
    // The text as drawn at the current width.
    QString shownText() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode elide_ = Qt::ElideRight;
    QString lead_;
};

// A row or column of views; the arranged views are those added through it.
class StackView : public QWidget {
    Q_OBJECT
public:
    enum class Align { Leading, Center, Trailing, Fill };
    StackView(Qt::Orientation orientation, int spacing, Align align, QWidget* parent = nullptr);

    void addArrangedSubview(QWidget* view);
    // Removes every arranged view from the stack and deletes it.
    void removeArrangedSubviews();
    QList<QWidget*> arrangedSubviews() const;
    Qt::Orientation orientation() const { return orientation_; }
    int spacing() const;

private:
    Qt::Orientation orientation_;
    Align align_;
    QBoxLayout* box_;
};

// Insets of pin(): top, left (leading), bottom, right (trailing).
struct Insets {
    int top = 0;
    int leading = 0;
    int bottom = 0;
    int trailing = 0;
};

// Adds `child` to `parent` and keeps it covering the parent's rectangle less
// the insets. Leading and trailing follow the parent's layout direction, so in
// a right-to-left window the leading inset is on the right. Several children
// may be pinned into one parent; they overlap.
void pin(QWidget* parent, QWidget* child, Insets insets = {});
// The children pinned into a parent, in order.
QList<QWidget*> pinnedSubviews(QWidget* parent);
// Takes every pinned child out of `parent`, giving it to `keeper` (hidden).
void unpinAll(QWidget* parent, QWidget* keeper);

// Runs `apply` now and again whenever the palette of `widget` changes, as
// when night reading switches the application's: for colours given once and
// drawn as they were given (a label's symbol, a status line's tone). The
// watch ends with the widget.
void followPalette(QWidget* widget, std::function<void()> apply);

// A frameless area scrolling `content` up and down, never across, the content
// as wide as the area and what lies behind showing through: for rows that a
// small screen (large text) cannot hold whole.
QScrollArea* rowScroller(QWidget* content);

// Builders. An icon button's colours may carry a night value: the symbol
// follows the appearance.
HoverButton* iconButton(const QString& symbol, const QString& tip, double size,
                        const QList<ThemeColor>& colors, QFont::Weight weight,
                        std::function<void()> action);
HoverButton* iconButton(const QString& symbol, const QString& tip, double size,
                        std::function<void()> action);
QPushButton* textButton(const QString& title, const QString& symbol, std::function<void()> action);
Label* label(const QString& text, double size = 13, QFont::Weight weight = QFont::Normal,
             const QColor& color = QColor());
QCheckBox* checkbox(const QString& title, bool on);
StackView* hstack(const QList<QWidget*>& views, int spacing = 8);
StackView* vstack(const QList<QWidget*>& views, int spacing,
                  StackView::Align align = StackView::Align::Leading);
QWidget* spacer();
QFrame* separator();

} // namespace quorvel
