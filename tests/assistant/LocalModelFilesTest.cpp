#include "assistant/LocalLLM.h"

#include "core/Preferences.h"
#include "support/ScopedEnv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;
using quorvel::test::ScopedEnv;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A catalogue model in the models folder and a clean "localModelPath", undone
// when the test ends.
class ModelFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        catalogFile = LocalLLM::modelsDir() + u'/' + LocalLLM::catalog().front().file;
        writeFile(catalogFile, "gguf");
        Preferences::standard().remove(QStringLiteral("localModelPath"));
    }
    void TearDown() override
    {
        QFile::remove(catalogFile);
        Preferences::standard().remove(QStringLiteral("localModelPath"));
    }
    static void choose(const QString& path) { Preferences::standard().set(QStringLiteral("localModelPath"), path); }

    ScopedEnv noModel{"QUORVEL_NO_MODEL", std::nullopt};
    QString catalogFile;
    QTemporaryDir scratch;
};

} // namespace

TEST_F(ModelFiles, catalogueFileIsTheModelWhenNothingIsChosen)
{
    EXPECT_EQ(LocalLLM::modelPath(), catalogFile);
    EXPECT_TRUE(LocalLLM::hasModel());
    QFile::remove(catalogFile);
    EXPECT_EQ(LocalLLM::modelPath(), std::nullopt);
    EXPECT_FALSE(LocalLLM::hasModel());
}

TEST_F(ModelFiles, noModelVariableWinsEvenWhenEmpty)
{
    ScopedEnv set("QUORVEL_NO_MODEL", QString());
    const QString own = scratch.filePath("own.gguf");
    writeFile(own, "gguf");
    choose(own);
    EXPECT_EQ(LocalLLM::modelPath(), std::nullopt);
    EXPECT_FALSE(LocalLLM::hasModel());
}

TEST_F(ModelFiles, chosenFileWinsOverTheCatalogueFile)
{
    const QString own = scratch.filePath("own.gguf");
    writeFile(own, "gguf");
    choose(own);
    EXPECT_EQ(LocalLLM::modelPath(), own);
}

TEST_F(ModelFiles, chosenPathThatIsNoUsableFileFallsBackToTheCatalogue)
{
    choose(scratch.filePath("missing.gguf"));
    EXPECT_EQ(LocalLLM::modelPath(), catalogFile);

    // A folder exists, but a server cannot load it.
    QDir(scratch.path()).mkdir("folder.gguf");
    choose(scratch.filePath("folder.gguf"));
    EXPECT_EQ(LocalLLM::modelPath(), catalogFile);

    const QString unreadable = scratch.filePath("locked.gguf");
    writeFile(unreadable, "gguf");
    QFile::setPermissions(unreadable, QFileDevice::WriteOwner);
    choose(unreadable);
    if (!QFile(unreadable).open(QIODevice::ReadOnly)) { // root reads anything
        EXPECT_EQ(LocalLLM::modelPath(), catalogFile);
    }

    choose(QString());
    EXPECT_EQ(LocalLLM::modelPath(), catalogFile);
}

TEST(ModelChecksum, hashesInBlocksLikeOneWholeHash)
{
    QTemporaryDir dir;
    EXPECT_EQ(LocalLLM::sha256(dir.filePath("absent")), std::nullopt);

    const QString small = dir.filePath("abc");
    writeFile(small, "abc");
    EXPECT_EQ(LocalLLM::sha256(small),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));

    // Just over two blocks, so the block seams are crossed.
    QByteArray bytes(2 * 8 * 1024 * 1024 + 12345, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    const QString large = dir.filePath("large");
    writeFile(large, bytes);
    EXPECT_EQ(LocalLLM::sha256(large),
              QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));

    const QString empty = dir.filePath("empty");
    writeFile(empty, {});
    EXPECT_EQ(LocalLLM::sha256(empty),
              QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
}
