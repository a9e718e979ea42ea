#pragma once

// The IEEE CRC-32, as Python's zlib.crc32 gives it: the key of a shared
// passage's shingles, and the checksum of each part of a written document.

#include <QString>

#include <cstdint>

namespace quorvel {

namespace CRC32 {

// The IEEE CRC-32 (reflected 0xEDB88320, initial and final inversion) of the
// UTF-8 bytes of `s`, as an unsigned value 0..4294967295. "" gives 0.
std::int64_t of(const QString& s);

// The same checksum over bytes that are already UTF-8.
std::int64_t ofUtf8(const char* data, qsizetype size);

} // namespace CRC32

} // namespace quorvel
