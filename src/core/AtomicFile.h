#pragma once

// Whole-file writes that either land complete or leave the old file as it
// was. A QSaveFile keeps a small write in its buffer and reports success; on a
// full disk the flush inside commit() fails, yet commit() still puts the cut
// or empty file in place of the old one and returns true. These helpers flush
// and count every byte before committing, cancel otherwise, and give the
// reason in Arabic («لا مساحة كافية على القرص» for a full disk).
//
// Blocking; any thread may call them.

#include <QByteArray>
#include <QByteArrayView>
#include <QFileDevice>
#include <QList>
#include <QString>

#include <optional>

namespace quorvel::AtomicFile {

// Writes `parts` in order to `file`, already open for writing, and flushes
// it. Nothing when every byte reached the file; otherwise the Arabic reason.
std::optional<QString> put(QFileDevice& file, const QList<QByteArrayView>& parts);

// Replaces the file at `path` with `parts` joined, through a temporary file
// renamed in place only once every byte is written. Nothing on success;
// otherwise the Arabic reason, and the file at `path` is as it was. A folder,
// device or pipe at `path` is refused, never replaced.
std::optional<QString> replace(const QString& path, const QList<QByteArrayView>& parts);
inline std::optional<QString> replace(const QString& path, const QByteArray& bytes)
{
    return replace(path, QList<QByteArrayView>{bytes});
}

} // namespace quorvel::AtomicFile
