#include "distribution/RawDeflate.h"

#include <zlib.h>

namespace quorvel::RawDeflate {

namespace {

// Negative window bits select a raw stream; 15 is the largest window.
constexpr int kRawWindowBits = -15;
constexpr int kMemoryLevel = 8;
constexpr qsizetype kChunkBytes = 256 * 1024;

// The user reads these inside Arabic lines; zlib's own English adds nothing
// they could act on.
const QString msgDamaged = QStringLiteral("تعذّر فكّ ضغط الحزمة: بياناتها تالفة.");
const QString msgCutShort = QStringLiteral("تعذّر فكّ ضغط الحزمة: بياناتها ناقصة.");
const QString msgTooLarge = QStringLiteral("توقّف فكّ ضغط الحزمة: بياناتها أكبر من حجمها المعلن.");

} // namespace

QByteArray compress(const QByteArray& bytes)
{
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, kRawWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    zs.avail_in = static_cast<uInt>(bytes.size());
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const qsizetype used = out.size();
        out.resize(used + kChunkBytes);
        zs.next_out = reinterpret_cast<Bytef*>(out.data() + used);
        zs.avail_out = static_cast<uInt>(kChunkBytes);
        rc = deflate(&zs, Z_FINISH);
        out.resize(used + kChunkBytes - zs.avail_out);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            deflateEnd(&zs);
            return {};
        }
    }
    deflateEnd(&zs);
    return out;
}

std::optional<QByteArray> inflate(const QByteArray& stream, QString* error, qint64 limit, bool* tooLarge)
{
    if (tooLarge)
        *tooLarge = false;
    z_stream zs{};
    int rc = inflateInit2(&zs, kRawWindowBits);
    if (rc != Z_OK) {
        if (error)
            *error = msgDamaged;
        return std::nullopt;
    }
    QByteArray out;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    zs.avail_in = static_cast<uInt>(stream.size());
    while (true) {
        const qsizetype used = out.size();
        out.resize(used + kChunkBytes);
        zs.next_out = reinterpret_cast<Bytef*>(out.data() + used);
        zs.avail_out = static_cast<uInt>(kChunkBytes);
        rc = ::inflate(&zs, Z_NO_FLUSH);
        out.resize(used + kChunkBytes - zs.avail_out);
        if (limit >= 0 && out.size() > limit) {
            if (tooLarge)
                *tooLarge = true;
            if (error)
                *error = msgTooLarge;
            inflateEnd(&zs);
            return std::nullopt;
        }
        if (rc == Z_STREAM_END)
            break;
        // Z_BUF_ERROR with input left means a full output buffer: go on.
        const bool progress = rc == Z_OK || (rc == Z_BUF_ERROR && zs.avail_out == 0);
        if (!progress || (zs.avail_in == 0 && zs.avail_out != 0)) {
            if (error)
                *error = rc == Z_OK || rc == Z_BUF_ERROR ? msgCutShort : msgDamaged;
            inflateEnd(&zs);
            return std::nullopt;
        }
    }
    inflateEnd(&zs);
    return out;
}

} // namespace quorvel::RawDeflate
