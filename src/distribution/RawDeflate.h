#pragma once

// Raw DEFLATE streams (no zlib header, no checksum), the compression of book
// packages.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace quorvel::RawDeflate {

// The compressed form of the bytes at the highest compression level.
QByteArray compress(const QByteArray& bytes);

// The inflated bytes; nothing when the stream is damaged or cut short, with
// the reason, in Arabic, in *error. With a limit of zero or more, output beyond
// that many bytes stops the inflation at once and sets *tooLarge.
std::optional<QByteArray> inflate(const QByteArray& stream, QString* error = nullptr, qint64 limit = -1,
                                  bool* tooLarge = nullptr);
// The same, handing the inflated bytes to `sink` a chunk at a time instead of
// holding them; false where inflate() gives nothing. `sink` may throw.
bool inflateInto(const QByteArray& stream, const std::function<void(QByteArrayView)>& sink, QString* error = nullptr,
                 qint64 limit = -1, bool* tooLarge = nullptr);

} // namespace quorvel::RawDeflate
