#pragma once

// The developer harness behind "--snapshot <dir>": it drives the real main
// window, its tabs and the services behind them for one job chosen by the
// SNAP_ variables of the environment, photographs views into <dir> and prints
// one-line results on standard output, so that the interface can be checked
// without a person at the keyboard.

#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace quorvel {

class MainWindowController;

namespace Snapshot {

// Runs the job before the application's event loop starts and returns the
// process's exit status: 0 when the job is done, 2 when a job that would write
// into the user's own data is refused or its value cannot be used (the reason
// goes to standard error). Standard output is flushed; the caller
// ends the process with the status.
[[nodiscard]] int run(MainWindowController& controller, const QString& dir);

// The status of a run refused before it touched anything.
inline constexpr int refusedStatus = 2;

// Why the job the environment asks for must not run: it writes into the user
// database (notes, bookmarks, ignored books, named sessions) and
// QUORVEL_USERDB does not name a database of its own, so it would change the
// user's real data. Nothing when the job may run. Asked before the library is
// opened, since opening it creates the default user database.
std::optional<QString> refusal(const QProcessEnvironment& environment);

// Lets the GUI thread go on (layout, drawing, timers, queued work) for the
// given number of seconds.
void wait(double seconds);

// Writes the view's picture to `path` as PNG and prints "snapshot: <path>";
// a view that gives no picture writes and prints nothing. A failed write
// still prints the line.
void save(QWidget* view, const QString& path);

// Called at the end of the default run when SNAP_EXTRA is present: a hook for
// a developer's own pictures, given the controller and the output folder.
inline std::function<void(MainWindowController&, const QString&)> extra;

} // namespace Snapshot

} // namespace quorvel
