#pragma once

// The notes and bookmarks merged from an exchange file the user picks. The
// file is read, parsed and merged into the user's data on a worker thread,
// and only when it is a regular file of at most maxBytes: a pipe or a device
// could block the read or feed it for ever, and a huge file is no exchange
// file. The merge reports its progress and stops when asked; every outcome is
// said in an alert: what was added, or why nothing was.

#include "core/Library.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace quorvel {

namespace NotesImport {

// Above anything the export writes: the export holds the whole document as
// a tree of about ten times its text while it writes it, and the import
// holds about three times the file.
inline constexpr qint64 maxBytes = qint64(4) << 30;

// What reading a chosen file gave: its bytes, or the alert that refuses it.
struct Read {
    std::optional<QByteArray> bytes;
    QString title;
    QString text;
};

// Reads `path` as an exchange file; any thread. Opens it once without
// waiting for a writer and reads nothing that is not a regular file.
Read read(const QString& path);

// Reads `path` and merges it into `lib`: the alert that says how it went
// (no bytes in the result). Any thread.
Read run(Library& lib, const QString& path, const Library::ImportControl& control);

// Entries handled and entries in all, on the GUI thread; (0, 0) once the
// import is over, however it ended.
using Progress = std::function<void(qint64 done, qint64 total)>;

// Asks for the file, reads and merges it off the GUI thread, reporting to
// `progress`, and says how it went, over `window`, once no dialog of the
// application is open (a note editor keeps the message waiting until it is
// closed, so the message never covers it). Asked again while an
// import runs, offers to stop it instead, and that question goes when the
// import ends; the window's end stops it too.
// GUI thread only.
// True when an import was started, false when none was (a file not chosen,
// or one running already).
bool start(std::shared_ptr<Library> lib, QWidget* window, const Progress& progress = {});
// Stops the import that runs, between two entries; nothing without one.
// GUI thread only.
void stop();

} // namespace NotesImport

} // namespace quorvel
