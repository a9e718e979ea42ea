#include "assistant/LocalLLMDownloader.h"

#include "core/Settings.h"
#include "support/LoopbackHttpServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace quorvel;
using quorvel::LocalLLM::Downloader;
using quorvel::LocalLLM::DownloadResult;

namespace {

const QString modelName = QStringLiteral("test-model.gguf");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Files of the models folder other than the final file itself.
QStringList leftovers()
{
    QStringList names = QDir(LocalLLM::modelsDir()).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(modelName);
    return names;
}

// A model served from a loopback folder, with a model of the same name
// already installed, and a recorder of what the downloader reports.
class ModelDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isListening());
        payload.resize(3 * 1024 * 1024 + 77);
        QRandomGenerator generator(11);
        for (char& byte : payload)
            byte = char(generator.bounded(256));
        QFile file(root.filePath("model.bin"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(payload);
        file.close();
        info = {modelName, server.url("model.bin").toString(), QStringLiteral("نموذج"), payload.size(),
                QString::fromLatin1(QCryptographicHash::hash(payload, QCryptographicHash::Sha256).toHex())};
        finalPath = LocalLLM::modelsDir() + u'/' + modelName;
        QFile old(finalPath);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("old model");
    }
    void TearDown() override
    {
        QFile::remove(finalPath);
        for (const QString& name : leftovers())
            QFile::remove(LocalLLM::modelsDir() + u'/' + name);
    }

    // Starts `downloader` (plenty of space unless told) and waits for its end.
    DownloadResult run(Downloader& downloader)
    {
        record(downloader);
        downloader.start();
        return waitForDone();
    }
    void record(Downloader& downloader)
    {
        QObject::connect(&downloader, &Downloader::progress, [this](double f) { fractions.append(f); });
        QObject::connect(&downloader, &Downloader::done, [this](const DownloadResult& r) {
            results.append(r);
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
        });
    }
    DownloadResult waitForDone()
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !results.isEmpty(); }, 20000)) << "no report";
        // A second report would come soon after the first.
        QTest::qWait(50);
        EXPECT_EQ(results.size(), 1);
        EXPECT_TRUE(onMainThread);
        return results.value(0, DownloadResult{QString(), std::make_exception_ptr(std::runtime_error("none"))});
    }
    static std::int64_t plenty() { return std::int64_t(1) << 50; }

    QTemporaryDir root;
    test::LoopbackHttpServer server{root.path()};
    QByteArray payload;
    LocalLLM::ModelInfo info;
    QString finalPath;
    QList<double> fractions;
    QList<DownloadResult> results;
    bool onMainThread = true;
};

template <typename E>
bool holds(const DownloadResult& result)
{
    try {
        std::rethrow_exception(result.error);
    } catch (const E&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

TEST_F(ModelDownload, matchingFileReplacesTheOldOneOnlyAfterTheCheck)
{
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    // While bytes arrive the installed model is untouched.
    QStringList seenDuringTransfer;
    QObject::connect(&downloader, &Downloader::progress, [&] { seenDuringTransfer << readAll(finalPath); });
    const DownloadResult result = run(downloader);
    ASSERT_TRUE(result.succeeded()) << result.description().toStdString();
    EXPECT_EQ(result.file, finalPath);
    EXPECT_EQ(readAll(finalPath), payload);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
    ASSERT_FALSE(seenDuringTransfer.isEmpty());
    for (const QString& seen : seenDuringTransfer)
        EXPECT_EQ(seen, QStringLiteral("old model"));
    ASSERT_FALSE(fractions.isEmpty());
    EXPECT_DOUBLE_EQ(fractions.last(), 1.0);
}

TEST_F(ModelDownload, mismatchDeletesThePartAndKeepsTheOldModel)
{
    info.sha256 = QString(64, u'0');
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    const DownloadResult result = run(downloader);
    ASSERT_FALSE(result.succeeded());
    EXPECT_TRUE(holds<LocalLLM::LLMError>(result));
    EXPECT_EQ(result.description(), QStringLiteral("ملف النموذج المنزل لا يطابق بصمته المنشورة فحذف. أعد المحاولة."));
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(readAll(finalPath), "old model");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();

    // A mirror that never stops is cut off at the catalogue's size, before
    // it fills the disk.
    server.stream("/endless.bin", QByteArray(4096, 'x'));
    info.url = server.url("endless.bin").toString();
    results.clear();
    Downloader endless(info);
    endless.setFreeSpaceSource(&plenty);
    const DownloadResult cut = run(endless);
    ASSERT_FALSE(cut.succeeded());
    EXPECT_TRUE(holds<LocalLLM::LLMError>(cut));
    EXPECT_EQ(cut.description(), QStringLiteral("تجاوز ملف النموذج المنزل حجمه المنشور فأوقف تنزيله وحذف. أعد المحاولة."));
    EXPECT_EQ(readAll(finalPath), "old model");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
}

TEST_F(ModelDownload, errorPageFailsTheChecksum)
{
    server.forceStatus("/model.bin", 404);
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    const DownloadResult result = run(downloader);
    EXPECT_EQ(result.description(), QStringLiteral("ملف النموذج المنزل لا يطابق بصمته المنشورة فحذف. أعد المحاولة."));
    EXPECT_EQ(readAll(finalPath), "old model");
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(ModelDownload, fractionsFollowTheCatalogueSizeWithoutAContentLength)
{
    server.omitLength("/model.bin");
    info.bytes = 4 * payload.size();
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    const DownloadResult result = run(downloader);
    ASSERT_TRUE(result.succeeded()) << result.description().toStdString();
    ASSERT_FALSE(fractions.isEmpty());
    EXPECT_DOUBLE_EQ(fractions.last(), 0.25);
    for (int i = 1; i < fractions.size(); ++i)
        EXPECT_LE(fractions[i - 1], fractions[i]);
}

TEST_F(ModelDownload, cutShortReplyIsAFailureThatLeavesTheFolderAlone)
{
    server.cutShort("/model.bin");
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    const DownloadResult result = run(downloader);
    ASSERT_FALSE(result.succeeded());
    EXPECT_FALSE(holds<LocalLLM::LLMError>(result));
    EXPECT_FALSE(result.description().isEmpty());
    EXPECT_EQ(readAll(finalPath), "old model");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
}

TEST_F(ModelDownload, cancelBeforeStartDoesNothing)
{
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    record(downloader);
    downloader.cancel();
    QTest::qWait(50);
    EXPECT_TRUE(results.isEmpty());
    downloader.start();
    EXPECT_TRUE(waitForDone().succeeded());
}

TEST_F(ModelDownload, cancelDuringTheTransferIsReportedOnce)
{
    // A file that drips and never ends: the cancel always meets a transfer
    // under way, however fast the machine is.
    server.stream(QStringLiteral("/endless.bin"), QByteArray(64 * 1024, 'x'), 5);
    info.url = server.url("endless.bin").toString();
    info.bytes = 48 * 1024 * 1024;
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    QObject::connect(&downloader, &Downloader::progress, &downloader, &Downloader::cancel);
    const DownloadResult result = run(downloader);
    ASSERT_FALSE(result.succeeded());
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(readAll(finalPath), "old model");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(", ").toStdString();
}

TEST_F(ModelDownload, cancelAfterTheEndChangesNothing)
{
    Downloader downloader(info);
    downloader.setFreeSpaceSource(&plenty);
    ASSERT_TRUE(run(downloader).succeeded());
    downloader.cancel();
    downloader.start();
    QTest::qWait(100);
    EXPECT_EQ(results.size(), 1);
    EXPECT_EQ(readAll(finalPath), payload);
}

TEST_F(ModelDownload, freeSpaceEqualToTheNeedStarts)
{
    Downloader downloader(info);
    downloader.setFreeSpaceSource([this] { return info.bytes + LocalLLM::safetyMargin; });
    EXPECT_TRUE(run(downloader).succeeded());
}

TEST_F(ModelDownload, unknownFreeSpaceRefusesAtOnceWithTheAmounts)
{
    info.bytes = 1'708'583'136;
    Downloader downloader(info);
    downloader.setFreeSpaceSource([] { return std::int64_t(0); });
    record(downloader);
    downloader.start();
    // Refused before start() returns, without fetching a byte.
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(holds<LocalLLM::LLMError>(results[0]));
    // Every amount in the user's digits.
    EXPECT_EQ(results[0].description(),
              QStringLiteral("المساحة الحرّة ٠.٠GB، والمطلوب ٣.٧GB (النموذج + هامش أمان ٢GB). فرّغ مساحة ثم أعد المحاولة."));
    EXPECT_TRUE(fractions.isEmpty());
    QTest::qWait(50);
    EXPECT_EQ(results.size(), 1);
    EXPECT_EQ(readAll(finalPath), "old model");
    EXPECT_TRUE(leftovers().isEmpty());

    Settings::setIndicDigits(false);
    const auto restoreDigits = qScopeGuard([] { Settings::setIndicDigits(true); });
    Downloader oneByteShort(info);
    oneByteShort.setFreeSpaceSource([this] { return info.bytes + LocalLLM::safetyMargin - 1; });
    QList<DownloadResult> refused;
    QObject::connect(&oneByteShort, &Downloader::done, [&](const DownloadResult& r) { refused << r; });
    oneByteShort.start();
    ASSERT_EQ(refused.size(), 1);
    EXPECT_EQ(refused[0].description(),
              QStringLiteral("المساحة الحرّة 3.7GB، والمطلوب 3.7GB (النموذج + هامش أمان 2GB). فرّغ مساحة ثم أعد المحاولة."));
}
