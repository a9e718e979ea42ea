#pragma once

// Where top-level windows go on the screen, and how a reader closes them
// from the keyboard. Every window and dialog is placed by its frame (title
// bar and borders included), so that at any text scale the frame lies inside
// the screen's free area and the window can still be dragged and closed.
// The frame is often unknown until the window manager has framed the shown
// window: the placement then borrows another window's frame or reserves a
// title bar, and the window is fitted again once its frame is reported.
// GUI thread only.

class QScreen;
class QWidget;

namespace quorvel {

// Moves `window` to the middle of the screen's free area (the area less its
// panels), first shrinking the window and its minimum to that area, frame
// included, where they are larger; then keeps it there as keepOnScreen()
// says. Nothing without a screen.
void centreOnScreen(QWidget* window, const QScreen* screen);

// Each time `window` is shown, once its frame is reported (at once on most
// platforms, after the window manager has framed it on others), shrinks it
// and moves it the least distance that brings the frame inside its screen's
// free area, unless centreOnScreen() placed it knowing that very frame;
// later moves are the reader's own and are left alone, as are maximised,
// full-screen and minimised windows. Installing it twice does nothing more.
void keepOnScreen(QWidget* window);

// Escape (and the platform's other cancel keys) closes `window`, from any
// of its controls that does not take the key itself.
void closeOnEscape(QWidget* window);

} // namespace quorvel
