#pragma once

// Raw DEFLATE streams (no zlib header, no checksum), the compression of book
// packages.

#include <QByteArray>
#include <QString>

#include <optional>

namespace quorvel::RawDeflate {

// The compressed form of the bytes at the highest compression level.
QByteArray compress(const QByteArray& bytes);

// The inflated bytes; nothing when the stream is damaged or cut short, with
// zlib's description in *error.
std::optional<QByteArray> inflate(const QByteArray& stream, QString* error = nullptr);

} // namespace quorvel::RawDeflate
