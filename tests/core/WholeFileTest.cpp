#include "core/Json.h"
#include "core/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>

using namespace quorvel;

namespace {

QString written(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

} // namespace

// A pipe without a writer or a folder is refused at once, not waited on or
// read as empty; a file is read whole up to its bound and refused past it.
TEST(WholeFileTest, readsRegularFilesWithinTheirBoundAndRefusesEverythingElse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pipe = dir.filePath(QStringLiteral("pipe.json"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.json")));
    const QString file = written(dir, QStringLiteral("three.json"), QByteArray("[1]"));
    const QString empty = written(dir, QStringLiteral("empty.json"), QByteArray());

    const struct {
        QString path;
        qint64 bound;
        WholeFile::Problem problem;
        std::optional<QByteArray> bytes;
    } cases[] = {
        {file, 3, WholeFile::Problem::none, QByteArray("[1]")},
        {file, 2, WholeFile::Problem::tooLarge, std::nullopt},
        {empty, 0, WholeFile::Problem::none, QByteArray()},
        {pipe, 100, WholeFile::Problem::notRegular, std::nullopt},
        {dir.filePath(QStringLiteral("folder.json")), 100, WholeFile::Problem::notRegular, std::nullopt},
        {dir.filePath(QStringLiteral("missing.json")), 100, WholeFile::Problem::cannotOpen, std::nullopt},
    };
    for (const auto& c : cases) {
        const WholeFile::Read read = WholeFile::read(c.path, c.bound);
        EXPECT_EQ(read.problem, c.problem) << c.path.toStdString();
        EXPECT_EQ(read.bytes, c.bytes) << c.path.toStdString();
    }
    EXPECT_EQ(WholeFile::read(dir.filePath(QStringLiteral("missing.json")), 100).error, ENOENT);

    EXPECT_EQ(Json::parseFile(file, 3), Json::parse(QByteArray("[1]")));
    EXPECT_FALSE(Json::parseFile(pipe));
    EXPECT_FALSE(Json::parseFile(file, 2));
}
