#pragma once

// One NumPy ".npy" array file, memory-mapped read-only: the word vectors and
// the page vectors of the meaning-based search. The reader accepts header
// versions 1 (16-bit header length) and later (32-bit), a C-order array of
// any type code, and gives typed access to little-endian 32-bit floats
// ("<f4") and 64-bit integers ("<i8") only. The writer produces version-1.0
// files whose element data starts at a multiple of 64 bytes, so the page
// matrix is always read in place.
//
// The dimensions come from a file that may be damaged or hostile: a negative
// dimension, or a shape whose element count or byte size does not fit in 64
// bits, fails the open, so every size check after it is exact.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace quorvel {

static_assert(std::endian::native == std::endian::little,
              "the vector files are read in place as little-endian values");

class NpyArray
{
public:
    // The type codes the system reads and writes.
    static inline const QString floatDescr = QStringLiteral("<f4");
    static inline const QString intDescr = QStringLiteral("<i8");

    // The opened array, or nothing on any failure (missing or unreadable
    // file, short file, wrong magic, truncated or non-ASCII header, missing
    // key, Fortran order, a negative dimension, a size beyond 64 bits).
    static std::optional<NpyArray> open(const QString& path);

    // The file's bytes (the whole mapping).
    QByteArrayView data() const;
    // Byte position of the first element.
    std::int64_t offset() const { return m_offset; }
    const QList<std::int64_t>& shape() const { return m_shape; }
    // The type code exactly as the header gives it.
    const QString& descr() const { return m_descr; }
    // The product of the shape; 1 for no dimension.
    std::int64_t count() const { return m_count; }

    // A copy of all elements; nothing unless the type code matches and the
    // file holds every element.
    std::optional<std::vector<float>> floats() const;
    std::optional<std::vector<std::int64_t>> ints() const;

    // Calls `f` once with a pointer to the `count` floats and returns its
    // result; nothing (without calling `f`) unless the type code is "<f4",
    // the file holds every element and the mapping is not empty. The pointer
    // points into the mapping when the data is 4-byte aligned there, into a
    // private copy otherwise.
    template <typename F>
    auto withFloats(F&& f) const -> std::optional<std::invoke_result_t<F, const float*>>
    {
        const char* at = floatData();
        if (!at)
            return std::nullopt;
        if (reinterpret_cast<std::uintptr_t>(at) % alignof(float) == 0)
            return f(reinterpret_cast<const float*>(at));
        const auto copy = floats();
        return f(copy->data());
    }

    // The first bytes of a version-1.0 file holding `shape` elements of type
    // `descr`: magic, version, header length and the padded header text, so
    // that the element data that follows starts at a multiple of 64 bytes.
    // Empty when the header would not fit the 16-bit length.
    static QByteArray header(const QString& descr, const QList<std::int64_t>& shape);
    // The header's shape text: "()", "(n,)" or "(a, b, …)".
    static QString shapeText(const QList<std::int64_t>& shape);

    // Writes header(descr, shape) followed by `body` (already little-endian,
    // row-major) to `path`, replacing the old file only once the new one is
    // complete. On failure returns false, sets `error` when given, and leaves
    // the old file as it was.
    static bool write(const QString& path, const QString& descr, const QList<std::int64_t>& shape,
                      const QByteArray& body, QString* error = nullptr);

private:
    struct Mapping;

    // The first element when `descr` is "<f4" and the file holds them all.
    const char* floatData() const;
    // The first element when `descr` matches and the file holds every element
    // of `size` bytes.
    const char* elementData(const QString& descr, std::int64_t size) const;

    std::shared_ptr<const Mapping> m_map; // copies share the mapping
    std::int64_t m_offset = 0;
    QList<std::int64_t> m_shape;
    QString m_descr;
    std::int64_t m_count = 1;
};

} // namespace quorvel
