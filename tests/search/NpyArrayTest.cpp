#include "search/NpyArray.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace quorvel;

namespace {

// A file written from hand-made bytes, with no help from the writer.
class NpyFiles : public ::testing::Test
{
protected:
    QString put(const QByteArray& bytes)
    {
        const QString path = dir.filePath(QStringLiteral("a%1.npy").arg(n++));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    // Magic, version `major`, the header length (16 bits for version 1, 32
    // otherwise), the header text, then `data`.
    static QByteArray file(const QByteArray& header, const QByteArray& data = {}, int major = 1)
    {
        QByteArray b("\x93NUMPY", 6);
        b.append(char(major));
        b.append(char(0));
        const auto h = static_cast<quint32>(header.size());
        b.append(char(h & 0xFF));
        b.append(char((h >> 8) & 0xFF));
        if (major != 1) {
            b.append(char((h >> 16) & 0xFF));
            b.append(char((h >> 24) & 0xFF));
        }
        return b + header + data;
    }

    static QByteArray dict(const char* descr, const char* shape, const char* fortran = "False")
    {
        return QByteArray("{'descr': '") + descr + "', 'fortran_order': " + fortran + ", 'shape': ("
               + shape + "), }\n";
    }

    static QByteArray floatBytes(const std::vector<float>& v)
    {
        return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size() * sizeof(float)));
    }

    QTemporaryDir dir;
    int n = 0;
};

TEST_F(NpyFiles, rejectsShortFilesBadMagicAndBrokenHeaders)
{
    EXPECT_FALSE(NpyArray::open(put(QByteArray("\x93NUMPY\x01\x00\x00\x00", 10))));
    // 11 bytes, H = 0: the empty header has no "descr".
    EXPECT_FALSE(NpyArray::open(put(file({}) + "x")));
    EXPECT_FALSE(NpyArray::open(dir.filePath(QStringLiteral("missing.npy"))));

    QByteArray wrongMagic = file(dict("<f4", "1,"), floatBytes({1}));
    wrongMagic[1] = 'm';
    EXPECT_FALSE(NpyArray::open(put(wrongMagic)));

    EXPECT_FALSE(NpyArray::open(put(file(dict("<f4", "1,", "True"), floatBytes({1})))));
    // A header longer than the file.
    EXPECT_FALSE(NpyArray::open(put(file(dict("<f4", "1,")).left(30))));
    // A byte above 127 in the header.
    QByteArray accented = dict("<f4", "1,");
    accented.insert(accented.size() - 1, "\xC3\xA9");
    EXPECT_FALSE(NpyArray::open(put(file(accented, floatBytes({1})))));
    EXPECT_TRUE(NpyArray::open(put(file(dict("<f4", "1,"), floatBytes({1})))));
    EXPECT_FALSE(NpyArray::open(put(file("{'descr': '<f4', 'shape': (1,), }\n", floatBytes({1})))));
    EXPECT_FALSE(NpyArray::open(put(file("{'descr': '<f4', 'fortran_order': False}\n", floatBytes({1})))));
}

TEST_F(NpyFiles, readsTheShapeTexts)
{
    struct Case { const char* text; QList<std::int64_t> shape; std::int64_t count; };
    const Case cases[] = {
        {"3,", {3}, 3}, {"", {}, 1}, {"2, 3", {2, 3}, 6}, {"2,3", {2, 3}, 6},
        {" 4 ,\t5 , ", {4, 5}, 20}, {"+2, x, 3", {2, 3}, 6},
    };
    for (const Case& c : cases) {
        const auto a = NpyArray::open(put(file(dict("<f4", c.text))));
        ASSERT_TRUE(a) << c.text;
        EXPECT_EQ(a->shape(), c.shape) << c.text;
        EXPECT_EQ(a->count(), c.count) << c.text;
        EXPECT_EQ(a->descr(), QStringLiteral("<f4"));
        EXPECT_EQ(a->offset(), 10 + dict("<f4", c.text).size());
    }
}

TEST_F(NpyFiles, typedAccessNeedsTheTypeCodeAndEveryElement)
{
    const std::vector<float> v{1.5f, -2.0f, 3.25f, 0.0f};
    const auto f4 = NpyArray::open(put(file(dict("<f4", "2, 2"), floatBytes(v) + "trailing")));
    ASSERT_TRUE(f4);
    EXPECT_EQ(f4->floats(), v);
    EXPECT_FALSE(f4->ints());
    EXPECT_EQ(f4->withFloats([](const float* p) { return p[2]; }), 3.25f);

    for (const char* code : {"<f8", ">f4"}) {
        const auto other = NpyArray::open(put(file(dict(code, "2,"), floatBytes(v))));
        ASSERT_TRUE(other) << code;
        EXPECT_FALSE(other->floats()) << code;
        bool called = false;
        EXPECT_FALSE(other->withFloats([&](const float*) { called = true; return 0; })) << code;
        EXPECT_FALSE(called);
    }

    const auto shortData = NpyArray::open(put(file(dict("<f4", "5,"), floatBytes(v))));
    ASSERT_TRUE(shortData);
    EXPECT_FALSE(shortData->floats());
    EXPECT_FALSE(shortData->withFloats([](const float* p) { return p[0]; }));

    const std::int64_t ids[] = {7, -1, 1LL << 40};
    const auto i8 = NpyArray::open(put(file(dict("<i8", "3,"), QByteArray(reinterpret_cast<const char*>(ids), sizeof ids))));
    ASSERT_TRUE(i8);
    EXPECT_EQ(i8->ints(), (std::vector<std::int64_t>{7, -1, 1LL << 40}));
    EXPECT_FALSE(i8->floats());
}

TEST_F(NpyFiles, versionTwoHasAThirtyTwoBitHeaderLength)
{
    const auto a = NpyArray::open(put(file(dict("<f4", "2,"), floatBytes({4, 5}), 2)));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->offset(), 12 + dict("<f4", "2,").size());
    EXPECT_EQ(a->floats(), (std::vector<float>{4, 5}));
}

TEST_F(NpyFiles, unalignedDataIsCopiedWithEqualValues)
{
    const std::vector<float> v{0.5f, 1.0f, -7.0f};
    // A header of odd length puts the first element at an odd offset.
    QByteArray header = dict("<f4", "3,");
    header.insert(header.size() - 1, ' ');
    if ((10 + header.size()) % 4 == 0)
        header.insert(header.size() - 1, ' ');
    const auto a = NpyArray::open(put(file(header, floatBytes(v))));
    ASSERT_TRUE(a);
    ASSERT_NE(a->offset() % 4, 0);
    const char* mapped = a->data().data() + a->offset();
    const auto seen = a->withFloats([&](const float* p) {
        EXPECT_NE(reinterpret_cast<const char*>(p), mapped);
        return std::vector<float>(p, p + 3);
    });
    EXPECT_EQ(seen, v);

    // Aligned data is read in place.
    const auto aligned = NpyArray::open(put(NpyArray::header(NpyArray::floatDescr, {3}) + floatBytes(v)));
    ASSERT_TRUE(aligned);
    const char* inPlace = aligned->data().data() + aligned->offset();
    EXPECT_EQ(aligned->withFloats([](const float* p) { return reinterpret_cast<const char*>(p); }), inPlace);
}

TEST_F(NpyFiles, copiesShareTheMapping)
{
    std::optional<NpyArray> copy;
    {
        const auto a = NpyArray::open(put(file(dict("<f4", "1,"), floatBytes({9}))));
        ASSERT_TRUE(a);
        copy = *a;
        EXPECT_EQ(copy->data().data(), a->data().data());
    }
    EXPECT_EQ(copy->floats(), (std::vector<float>{9}));
}

// Shapes that would make the size checks overflow, or describe data far
// beyond the file: the open fails or typed access refuses, and nothing reads
// outside the 200-byte file (the address sanitiser run checks that too).
TEST_F(NpyFiles, hostileShapesNeverReadOutsideTheFile)
{
    const QByteArray body(200 - 128, '\x01');
    auto fileOf = [&](const char* shape) {
        QByteArray h = dict("<f4", shape);
        h.insert(h.size() - 1, QByteArray(118 - h.size(), ' '));
        return put(file(h, body));
    };
    EXPECT_FALSE(NpyArray::open(fileOf("-1, 200")));
    EXPECT_FALSE(NpyArray::open(fileOf("200, -1")));
    // 2^62 × 8 elements: the count overflows.
    EXPECT_FALSE(NpyArray::open(fileOf("4611686018427387904, 8")));
    // 2^32 × 2^32 overflows; 2^31 × 2^31 = 2^62 elements overflow in bytes.
    EXPECT_FALSE(NpyArray::open(fileOf("4294967296, 4294967296")));
    EXPECT_FALSE(NpyArray::open(fileOf("2147483648, 2147483648")));
    // Out of the 64-bit range: the piece is dropped, as an unparsable one.
    const auto dropped = NpyArray::open(fileOf("99999999999999999999, 2"));
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->shape(), (QList<std::int64_t>{2}));

    // Large but representable: opens, yet no typed access.
    const auto large = NpyArray::open(fileOf("1000000000, 200"));
    ASSERT_TRUE(large);
    EXPECT_EQ(large->count(), 200000000000LL);
    EXPECT_FALSE(large->floats());
    EXPECT_FALSE(large->withFloats([](const float* p) { return p[0]; }));

    const auto fits = NpyArray::open(fileOf("18,"));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->floats()->size(), 18u);
    EXPECT_FALSE(NpyArray::open(fileOf("19,"))->floats());
}

TEST_F(NpyFiles, writerProducesTheExactHeader)
{
    const QByteArray h = NpyArray::header(NpyArray::floatDescr, {1200, 200});
    ASSERT_EQ(h.size(), 128);
    EXPECT_EQ(h.left(8), QByteArray("\x93NUMPY\x01\x00", 8));
    EXPECT_EQ(static_cast<unsigned char>(h[8]) | (static_cast<unsigned char>(h[9]) << 8), 118);
    EXPECT_EQ(h.mid(10, 64), QByteArray("{'descr': '<f4', 'fortran_order': False, 'shape': (1200, 200), }"));
    EXPECT_EQ(h.mid(74), QByteArray(53, ' ') + "\n");

    const QByteArray ids = NpyArray::header(NpyArray::intDescr, {1200});
    EXPECT_EQ(ids.mid(10, 60), QByteArray("{'descr': '<i8', 'fortran_order': False, 'shape': (1200,), }"));
    EXPECT_EQ(ids.size(), 128);

    EXPECT_EQ(NpyArray::shapeText({}), QStringLiteral("()"));
    EXPECT_EQ(NpyArray::shapeText({0}), QStringLiteral("(0,)"));
    EXPECT_EQ(NpyArray::shapeText({0, 200}), QStringLiteral("(0, 200)"));

    // Every length of header text pads to a multiple of 64 and ends in "\n".
    for (std::int64_t d = 1; d < 1'000'000'000'000'000LL; d *= 7) {
        for (const QList<std::int64_t>& shape : {QList<std::int64_t>{d}, QList<std::int64_t>{d, 3}, QList<std::int64_t>{}}) {
            const QByteArray x = NpyArray::header(NpyArray::intDescr, shape);
            EXPECT_EQ(x.size() % 64, 0);
            EXPECT_EQ(x.back(), '\n');
            EXPECT_EQ(10 + (static_cast<unsigned char>(x[8]) | (static_cast<unsigned char>(x[9]) << 8)), x.size());
        }
    }
}

TEST_F(NpyFiles, writtenFilesReadBack)
{
    const QString empty = dir.filePath(QStringLiteral("vecs.npy"));
    ASSERT_TRUE(NpyArray::write(empty, NpyArray::floatDescr, {0, 200}, {}));
    EXPECT_EQ(QFile(empty).size(), 128);
    const auto e = NpyArray::open(empty);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->shape(), (QList<std::int64_t>{0, 200}));
    EXPECT_EQ(e->count(), 0);
    EXPECT_EQ(e->floats(), std::vector<float>{});

    const std::vector<float> v{1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(NpyArray::write(empty, NpyArray::floatDescr, {2, 3}, floatBytes(v)));
    const auto a = NpyArray::open(empty);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->offset(), 128);
    EXPECT_EQ(a->floats(), v);

    QString error;
    EXPECT_FALSE(NpyArray::write(dir.filePath(QStringLiteral("no/such/dir/x.npy")), NpyArray::floatDescr, {1},
                                 floatBytes({1}), &error));
    EXPECT_FALSE(error.isEmpty());
    // The failed write left the old file alone.
    EXPECT_EQ(NpyArray::open(empty)->floats(), v);
}

} // namespace
