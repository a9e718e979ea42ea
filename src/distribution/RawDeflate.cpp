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
    QByteArray out;
    if (!inflateInto(stream, [&out](QByteArrayView chunk) { out.append(chunk); }, error, limit, tooLarge))
        return std::nullopt;
    return out;
}

bool inflateInto(const QByteArray& stream, const std::function<void(QByteArrayView)>& sink, QString* error,
                 qint64 limit, bool* tooLarge)
{
    if (tooLarge)
        *tooLarge = false;
    z_stream zs{};
    int rc = inflateInit2(&zs, kRawWindowBits);
    if (rc != Z_OK) {
        if (error)
            *error = msgDamaged;
        return false;
    }
    // The stream's state is released however the sink leaves.
    struct End {
        z_stream& zs;
        ~End() { inflateEnd(&zs); }
    } end{zs};
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    qint64 total = 0;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    zs.avail_in = static_cast<uInt>(stream.size());
    while (true) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
        zs.avail_out = static_cast<uInt>(kChunkBytes);
        rc = ::inflate(&zs, Z_NO_FLUSH);
        const qsizetype made = kChunkBytes - zs.avail_out;
        total += made;
        if (limit >= 0 && total > limit) {
            if (tooLarge)
                *tooLarge = true;
            if (error)
                *error = msgTooLarge;
            return false;
        }
        if (made > 0)
            sink(QByteArrayView(chunk.constData(), made));
        if (rc == Z_STREAM_END)
            return true;
        // Z_BUF_ERROR with input left means a full output buffer: go on.
        const bool progress = rc == Z_OK || (rc == Z_BUF_ERROR && zs.avail_out == 0);
        if (!progress || (zs.avail_in == 0 && zs.avail_out != 0)) {
            if (error)
                *error = rc == Z_OK || rc == Z_BUF_ERROR ? msgCutShort : msgDamaged;
            return false;
        }
    }
}

} // namespace quorvel::RawDeflate
