#pragma once

// Handing files and addresses to the desktop: a page scan opened in the
// system's viewer, a written file shown in the file manager. Everything goes
// through one hook, so that tests record what would have been opened; on the
// offscreen platform, which has no desktop, nothing is opened at all.

#include <QString>
#include <QUrl>

#include <functional>

namespace quorvel::Desktop {

// Opens a file or address with the system's default handler; false when
// nothing took it.
bool open(const QUrl& url);

// Shows a written file to the user: the folder that holds it, in the file
// manager (no file manager selects a file the same way).
bool reveal(const QString& path);

// Replaces what open() does (an empty hook restores the system's handler);
// returns the previous hook.
std::function<bool(const QUrl&)> setHook(std::function<bool(const QUrl&)> hook);

} // namespace quorvel::Desktop
