#pragma once

// What a reader would find cut or covered in a shown window: a view given
// less than its minimum, a view reaching past what holds it, two views of one
// layout lying over one another, a button or label too narrow for its text, a
// scrolled column wider than the area that can show it, a list's row whose
// text is shortened to a few letters. Large text (a scale
// factor on a small screen) is where these appear.

#include <QStringList>

class QWidget;

namespace quorvel {

// One line per fault: its kind, the view (class, name, text) and its
// rectangle in the window. Empty when nothing is cut or covered.
QStringList layoutFaults(QWidget* window);
// One line per area of the window that scrolls its content, as a last resort
// on a screen too small for it: the area and its content's size.
QStringList scrolledViews(QWidget* window);

} // namespace quorvel
