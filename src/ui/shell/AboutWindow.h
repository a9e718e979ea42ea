#pragma once

// The About window: the application's name and version, what it is, the size
// of the open library and the credits of its texts and fonts, in one message.

#include <QString>

namespace quorvel {

class Library;

namespace AboutWindow {

// The version shown when the build gives none.
inline constexpr const char* fallbackVersion = "1.0";

// The message under the name: version, description, the library's books,
// authors, categories and approximate pages, then the credits. Numbers follow
// the digits preference.
QString text(const Library& lib, const QString& version);

// Shows the message for the shared library and returns when it is closed;
// nothing without a library.
void show();

} // namespace AboutWindow

} // namespace quorvel
