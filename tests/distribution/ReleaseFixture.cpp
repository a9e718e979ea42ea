#include "ReleaseFixture.h"

#include "distribution/Dist.h"

#include <QDir>
#include <QFile>

namespace quorvel::test {

void ReleaseFixture::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    auto keys = ReleaseWriter::generateKeyPair();
    ASSERT_TRUE(keys);
    keys_ = *keys;
    Dist::overridePublicKey(ReleaseWriter::base64(keys_.publicKey));
    categories_ = Json::Value::array({{{"id", 1}, {"name", "كتب الحديث"}}});
    authors_ = Json::Value::array({{{"id", 1}, {"name", "مالك بن أنس"}, {"death_year", 179}}});
}

void ReleaseFixture::TearDown()
{
    Dist::overridePublicKey({});
}

ReleaseWriter::Book ReleaseFixture::book(std::int64_t id, const QString& title, const QStringList& pages)
{
    ReleaseWriter::Book b;
    b.meta = {{"id", id}, {"title", Json::utf8(title)}, {"author_id", 1}, {"category_id", 1}};
    for (qsizetype i = 0; i < pages.size(); ++i) {
        ReleaseWriter::Page p;
        p.pid = id * 1000 + i + 1;
        p.seq = i + 1;
        p.vol = QStringLiteral("1");
        p.pageNum = i + 1;
        p.content = pages[i];
        b.pages.append(p);
    }
    return b;
}

Json::Value ReleaseFixture::writeRelease(const QList<ReleaseWriter::Book>& books, std::int64_t release)
{
    Json::Value entries = Json::Value::array();
    for (const auto& b : books) {
        const auto id = Json::strictInt(b.meta, "id").value_or(0);
        auto entry = ReleaseWriter::addBook(path(), b, QStringLiteral("b%1.qbk").arg(id));
        EXPECT_TRUE(entry);
        if (entry)
            entries.push_back(*entry);
    }
    ReleaseWriter::ReleaseInfo info;
    info.release = release;
    info.generated = QStringLiteral("2025-01-01T00:00:00Z");
    info.expires = QStringLiteral("2099-12-31T23:59:59Z");
    EXPECT_TRUE(ReleaseWriter::writeRelease(path(), info, categories_, authors_, entries, keys_.secretKey));
    return entries;
}

void ReleaseFixture::writeIndex(const Json::Value& index, bool sign)
{
    const QByteArray bytes = Json::dumpBytes(index);
    writeFile(QStringLiteral("index.json"), bytes);
    if (sign)
        writeFile(QStringLiteral("index.json.sig"), ReleaseWriter::sign(bytes, keys_.secretKey).toLatin1() + '\n');
}

Json::Value ReleaseFixture::readIndex() const
{
    return Json::parse(readFile(QStringLiteral("index.json"))).value_or(Json::Value());
}

QByteArray ReleaseFixture::readFile(const QString& name) const
{
    QFile f(QDir(path()).filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void ReleaseFixture::writeFile(const QString& name, const QByteArray& bytes) const
{
    QFile f(QDir(path()).filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace quorvel::test
