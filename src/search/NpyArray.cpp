#include "search/NpyArray.h"

#include "core/AtomicFile.h"
#include "core/Characters.h"
#include "core/Numbers.h"
#include "core/WholeFile.h"

#include <QFile>
#include <QRegularExpression>

#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr qsizetype kMagicSize = 6;
// The smallest file that can hold the magic, the version and a header length.
constexpr qint64 kMinFileSize = 11;
// The widest element the reader knows; the byte size of every array must fit
// in 64 bits for it, whatever the type code, so later checks cannot overflow.
constexpr std::int64_t kWidestElement = 8;

std::optional<std::int64_t> checkedMul(std::int64_t a, std::int64_t b)
{
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

std::optional<std::int64_t> checkedAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

// The group of `pattern`'s first match in `text`, or nothing.
std::optional<QString> firstGroup(const QRegularExpression& pattern, const QString& text)
{
    const auto m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1);
}

} // namespace

struct NpyArray::Mapping
{
    const char* bytes = nullptr;
    std::int64_t size = 0;

    Mapping(const char* b, std::int64_t s) : bytes(b), size(s) {}
    ~Mapping() { ::munmap(const_cast<char*>(bytes), static_cast<size_t>(size)); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
};

std::optional<NpyArray> NpyArray::open(const QString& path)
{
    std::int64_t fileSize = 0;
    void* at = MAP_FAILED;
    {
        const WholeFile::Opened file(path);
        if (file.fd() < 0 || file.size() < kMinFileSize)
            return std::nullopt;
        fileSize = file.size();
        at = ::mmap(nullptr, static_cast<size_t>(fileSize), PROT_READ, MAP_SHARED, file.fd(), 0);
    }
    if (at == MAP_FAILED)
        return std::nullopt;

    NpyArray a;
    a.m_map = std::make_shared<const Mapping>(static_cast<const char*>(at), fileSize);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(a.m_map->bytes);
    const std::int64_t size = a.m_map->size;

    if (std::memcmp(b, kMagic, kMagicSize) != 0)
        return std::nullopt;
    std::int64_t headerLength = 0;
    std::int64_t headerStart = 0;
    if (b[6] == 1) {
        headerLength = b[8] | (b[9] << 8);
        headerStart = 10;
    } else {
        if (size < 12)
            return std::nullopt;
        headerLength = std::int64_t(b[8]) | (std::int64_t(b[9]) << 8) | (std::int64_t(b[10]) << 16)
                       | (std::int64_t(b[11]) << 24);
        headerStart = 12;
    }
    if (size < headerStart + headerLength)
        return std::nullopt;

    const char* h = a.m_map->bytes + headerStart;
    for (std::int64_t i = 0; i < headerLength; ++i) {
        if (static_cast<unsigned char>(h[i]) >= 0x80)
            return std::nullopt;
    }
    const QString header = QString::fromLatin1(h, static_cast<qsizetype>(headerLength));

    static const QRegularExpression descrPattern(QStringLiteral("'descr':\\s*'([^']+)'"));
    static const QRegularExpression fortranPattern(QStringLiteral("'fortran_order':\\s*(\\w+)"));
    static const QRegularExpression shapePattern(QStringLiteral("'shape':\\s*\\(([^)]*)\\)"));

    const auto descr = firstGroup(descrPattern, header);
    if (!descr)
        return std::nullopt;
    const auto fortran = firstGroup(fortranPattern, header);
    if (!fortran || *fortran != QLatin1String("False"))
        return std::nullopt;
    const auto shapeInner = firstGroup(shapePattern, header);
    if (!shapeInner)
        return std::nullopt;
    for (const QString& piece : shapeInner->split(u',')) {
        const auto dim = Numbers::parseInteger(Characters::trimSpacesAndTabs(piece).toString());
        if (!dim)
            continue;
        if (*dim < 0)
            return std::nullopt;
        a.m_shape.append(*dim);
    }

    std::int64_t count = 1;
    for (std::int64_t dim : a.m_shape) {
        const auto product = checkedMul(count, dim);
        if (!product)
            return std::nullopt;
        count = *product;
    }
    const auto bytes = checkedMul(count, kWidestElement);
    if (!bytes || !checkedAdd(headerStart + headerLength, *bytes))
        return std::nullopt;

    a.m_descr = *descr;
    a.m_offset = headerStart + headerLength;
    a.m_count = count;
    return a;
}

QByteArrayView NpyArray::data() const
{
    if (!m_map)
        return {};
    return QByteArrayView(m_map->bytes, static_cast<qsizetype>(m_map->size));
}

const char* NpyArray::elementData(const QString& descr, std::int64_t size) const
{
    // open() made sure that offset + 8 × count fits in 64 bits.
    if (!m_map || m_descr != descr || m_map->size <= 0)
        return nullptr;
    if (m_map->size < m_offset + size * m_count)
        return nullptr;
    return m_map->bytes + m_offset;
}

const char* NpyArray::floatData() const
{
    return elementData(floatDescr, sizeof(float));
}

std::optional<std::vector<float>> NpyArray::floats() const
{
    const char* at = floatData();
    if (!at)
        return std::nullopt;
    std::vector<float> out(static_cast<size_t>(m_count));
    if (m_count > 0)
        std::memcpy(out.data(), at, out.size() * sizeof(float));
    return out;
}

std::optional<std::vector<std::int64_t>> NpyArray::ints() const
{
    const char* at = elementData(intDescr, sizeof(std::int64_t));
    if (!at)
        return std::nullopt;
    std::vector<std::int64_t> out(static_cast<size_t>(m_count));
    if (m_count > 0)
        std::memcpy(out.data(), at, out.size() * sizeof(std::int64_t));
    return out;
}

QString NpyArray::shapeText(const QList<std::int64_t>& shape)
{
    if (shape.isEmpty())
        return QStringLiteral("()");
    if (shape.size() == 1)
        return QStringLiteral("(%1,)").arg(shape.front());
    QStringList dims;
    for (std::int64_t d : shape)
        dims.append(QString::number(d));
    return QLatin1Char('(') + dims.join(QLatin1String(", ")) + QLatin1Char(')');
}

QByteArray NpyArray::header(const QString& descr, const QList<std::int64_t>& shape)
{
    // The element data of a written file starts at a multiple of this.
    constexpr qsizetype kDataAlignment = 64;
    QByteArray text = (QStringLiteral("{'descr': '") + descr
                       + QStringLiteral("', 'fortran_order': False, 'shape': ") + shapeText(shape)
                       + QStringLiteral(", }"))
                          .toUtf8();
    // Spaces, then one newline, so that 10 + H is a multiple of 64.
    const qsizetype spaces = ((-(text.size() + 11)) % kDataAlignment + kDataAlignment) % kDataAlignment;
    text.append(QByteArray(spaces, ' '));
    text.append('\n');
    if (text.size() > 0xFFFF)
        return {};
    QByteArray out(kMagic, kMagicSize);
    out.append(char(1));
    out.append(char(0));
    out.append(char(text.size() & 0xFF));
    out.append(char((text.size() >> 8) & 0xFF));
    out.append(text);
    Q_ASSERT(out.size() % kDataAlignment == 0);
    return out;
}

bool NpyArray::write(const QString& path, const QString& descr, const QList<std::int64_t>& shape,
                     const QByteArray& body, QString* error)
{
    const QByteArray head = header(descr, shape);
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (head.isEmpty())
        return fail(QStringLiteral("header too long for %1").arg(path));
    if (const std::optional<QString> failed = AtomicFile::replace(path, {head, body}))
        return fail(*failed);
    return true;
}

} // namespace quorvel
