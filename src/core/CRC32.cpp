#include "core/CRC32.h"

#include <zlib.h>

namespace quorvel {

namespace CRC32 {

std::int64_t ofUtf8(const char* data, qsizetype size)
{
    // zlib's crc32 is the same reflected 0xEDB88320 checksum with initial and
    // final inversion; it is fed in pieces because its length is 32-bit.
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* bytes = reinterpret_cast<const Bytef*>(data);
    while (size > 0) {
        const uInt chunk = uInt(std::min<qsizetype>(size, 1 << 30));
        crc = crc32(crc, bytes, chunk);
        bytes += chunk;
        size -= chunk;
    }
    return std::int64_t(crc & 0xFFFFFFFFu);
}

std::int64_t of(const QString& s)
{
    const QByteArray utf8 = s.toUtf8();
    return ofUtf8(utf8.constData(), utf8.size());
}

} // namespace CRC32

} // namespace quorvel
