#pragma once

// Handing files and addresses to the desktop: a page scan opened in the
// system's viewer, a written file shown in the file manager. Everything goes
// through hooks, so that tests record what would have been opened or shown;
// on the offscreen platform, which has no desktop, nothing is opened at all.

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace quorvel::Desktop {

// Opens a file or address with the system's default handler; false when
// nothing took it.
bool open(const QUrl& url);

// Shows a written file to the user: selected in the desktop's file manager,
// else the folder that holds it opened; false when neither could be done.
bool reveal(const QString& path);

// What every export does once its file is written: reveal() it, and when
// that fails a short message names the file and offers to open its folder.
void showWritten(const QString& path, QWidget* window = nullptr);

// Replaces what open() does (an empty hook restores the system's handler);
// returns the previous hook.
std::function<bool(const QUrl&)> setHook(std::function<bool(const QUrl&)> hook);

// Replaces what reveal() does (an empty hook restores the desktop's);
// returns the previous hook.
std::function<bool(const QString&)> setRevealHook(std::function<bool(const QString&)> hook);

} // namespace quorvel::Desktop
