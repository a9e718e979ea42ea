#pragma once

// The notes and bookmarks merged from an exchange file the user picks. The
// file is read on a worker thread, and only when it is a regular file of at
// most maxBytes: a pipe or a device could block the read or feed it for
// ever, and a huge file is no exchange file. The bytes are then merged into
// the user's data on the GUI thread, and every outcome is said in an alert:
// what was added, or why nothing was.

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace quorvel {

class Library;

namespace NotesImport {

// Far above any user's notes, far below what would strain the memory.
inline constexpr qint64 maxBytes = 32 * 1024 * 1024;

// What reading a chosen file gave: its bytes, or the alert that refuses it.
struct Read {
    std::optional<QByteArray> bytes;
    QString title;
    QString text;
};

// Reads `path` as an exchange file; any thread. Never opens what is not a
// regular file.
Read read(const QString& path);

// Asks for the file, reads it off the GUI thread, merges it into `lib` and
// says how it went, over `window`. GUI thread only.
void start(std::shared_ptr<Library> lib, QWidget* window);

} // namespace NotesImport

} // namespace quorvel
