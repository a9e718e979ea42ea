#pragma once

// Long lists in a menu kept to the screen's height: as many entries as fit
// on the menu, the rest one click away under a last item that opens them,
// page after page. GUI thread only.

#include <QList>
#include <QString>

class QAction;
class QMenu;

namespace quorvel::MenuPages {

inline constexpr const char* moreTitle = "المزيد…";

// How many rows of items the menu can show on its screen.
int rows(QMenu* menu);

// Adds `entries` to `menu`: all of them when they take at most `room` rows,
// else the first that fit with a last item holding the rest, whose own menu
// holds as many as fit on the screen, and so on.
void add(QMenu* menu, const QList<QAction*>& entries, int room);

} // namespace quorvel::MenuPages
