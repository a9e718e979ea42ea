#include "ui/kit/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <optional>

namespace quorvel {

namespace {

constexpr char kKeeperName[] = "quorvel.frameKeeper";

bool frameless(const QWidget* window)
{
    return window->windowFlags().testFlag(Qt::FramelessWindowHint) || window->windowType() == Qt::Popup;
}

// The frame the platform reports around the window's client area; zero
// margins while it knows none.
QMargins reportedFrame(QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                     frame.bottom() - inner.bottom());
    if (margins.isNull())
        if (const QWindow* handle = window->windowHandle())
            margins = handle->frameMargins();
    return margins;
}

// The frame the window will have: the one reported, else that of a framed
// window of the application (the window manager frames them alike), else a
// title bar's height above the client area.
QMargins expectedFrame(QWidget* window)
{
    if (frameless(window))
        return {};
    if (QMargins known = reportedFrame(window); !known.isNull())
        return known;
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other == window || !other->isVisible() || frameless(other))
            continue;
        if (const QMargins known = reportedFrame(other); !known.isNull())
            return known;
    }
    return {0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window), 0, 0};
}

// Shrinks the window (and its minimum) so that a frame of `margins` around
// it fits `room`.
void fitInside(QWidget* window, const QRect& room, const QMargins& margins)
{
    const QSize decorations(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QSize inner = (room.size() - decorations).expandedTo(QSize(1, 1));
    if (QLayout* layout = window->layout())
        layout->activate();
    const QSize minimum = window->minimumSize();
    if (minimum.width() > inner.width() || minimum.height() > inner.height())
        window->setMinimumSize(minimum.boundedTo(inner));
    if (window->width() > inner.width() || window->height() > inner.height())
        window->resize(window->size().boundedTo(inner));
}

// Puts the frame's top left at `corner`. A window whose frame is not known
// yet asks the platform to place it by its frame, so that the window manager
// adds the title bar below that point rather than above it.
void moveFrame(QWidget* window, const QPoint& corner, bool frameKnown)
{
    window->move(corner);
    if (!frameKnown)
        if (QWindow* handle = window->windowHandle())
            handle->setFramePosition(corner);
}

const QRect roomOf(const QWidget* window, const QScreen* screen = nullptr)
{
    if (!screen)
        screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// Fits a shown window whose frame lies outside the free area; false while
// its frame is not reported yet.
bool refit(QWidget* window)
{
    const QMargins margins = reportedFrame(window);
    if (margins.isNull() && !frameless(window))
        return false;
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return true;
    const QRect room = roomOf(window);
    if (room.isEmpty() || room.contains(window->frameGeometry()))
        return true;
    fitInside(window, room, margins);
    QRect frame = window->geometry().marginsAdded(margins);
    frame.moveLeft(std::clamp(frame.left(), room.left(), room.right() + 1 - frame.width()));
    frame.moveTop(std::clamp(frame.top(), room.top(), room.bottom() + 1 - frame.height()));
    moveFrame(window, frame.topLeft(), true);
    return true;
}

// Fits its window once after each show, as soon as the frame is known,
// unless the window was placed knowing that very frame.
class FrameKeeper : public QObject {
public:
    explicit FrameKeeper(QWidget* window) : QObject(window), window_(window)
    {
        setObjectName(QString::fromLatin1(kKeeperName));
        window->installEventFilter(this);
        armed_ = window->isVisible();
        if (armed_)
            schedule();
    }

    static FrameKeeper* of(QWidget* window)
    {
        // Found by name: the keeper has no meta-object of its own to cast by.
        QObject* keeper = window->findChild<QObject*>(QString::fromLatin1(kKeeperName), Qt::FindDirectChildrenOnly);
        return keeper ? static_cast<FrameKeeper*>(keeper) : new FrameKeeper(window);
    }

    // The frame the window was last placed with.
    void assume(const QMargins& frame) { assumed_ = frame; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            armed_ = true;
            schedule();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            if (armed_)
                schedule();
            break;
        default:
            break;
        }
        return false;
    }

private:
    // Checked after the event that asked, when the window's geometry and
    // frame agree again.
    void schedule()
    {
        if (scheduled_)
            return;
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            scheduled_ = false;
            if (!armed_ || !window_->isVisible())
                return;
            const QMargins frame = reportedFrame(window_);
            if (assumed_ && !frame.isNull() && frame == *assumed_)
                armed_ = false;
            else if (refit(window_))
                armed_ = false;
        });
    }

    QWidget* window_;
    std::optional<QMargins> assumed_;
    bool armed_ = false;
    bool scheduled_ = false;
};

// Closes its window on a cancel key that no control of the window took.
class EscapeCloser : public QObject {
public:
    explicit EscapeCloser(QWidget* window) : QObject(window), window_(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A key a control left unhandled reaches the window's filter on its way up.
        if (watched != window_ || event->type() != QEvent::KeyPress
            || !static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel))
            return false;
        window_->close();
        return true;
    }

private:
    QWidget* window_;
};

} // namespace

void centreOnScreen(QWidget* window, const QScreen* screen)
{
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    // A window not framed yet learns what it can of its frame from its
    // platform window: some platforms know it from the start.
    if (window->isWindow() && !frameless(window))
        (void)window->winId();
    const bool known = !reportedFrame(window).isNull();
    const QMargins margins = expectedFrame(window);
    fitInside(window, room, margins);
    QRect frame = window->geometry().marginsAdded(margins);
    frame.moveCenter(room.center());
    // An odd pixel of centring may not push the frame past the free area's top left.
    moveFrame(window, QPoint(std::max(frame.left(), room.left()), std::max(frame.top(), room.top())), known);
    FrameKeeper::of(window)->assume(margins);
}

void keepOnScreen(QWidget* window)
{
    if (window)
        FrameKeeper::of(window);
}

void closeOnEscape(QWidget* window)
{
    new EscapeCloser(window);
}

} // namespace quorvel
