#include "assistant/LocalLLM.h"

#include "core/Paths.h"
#include "core/Preferences.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <memory>

#ifndef QUORVEL_MODEL_URL
#define QUORVEL_MODEL_URL ""
#endif

namespace quorvel::LocalLLM {

namespace {

constexpr qint64 kHashBlockBytes = 8 * 1024 * 1024;

const QString modelPathKey = QStringLiteral("localModelPath");

// A path the server can load: a regular file (or a link to one) we may read.
// A folder or a broken link would only start a server that fails.
bool isModelFile(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

} // namespace

const QString msgNoDownloadSource = QStringLiteral(
    "لم يُضبط في هذه النسخة مصدر لتنزيل النموذج. اختر ملف نموذج GGUF من جهازك، ويلزم لتشغيله برنامج llama-server.");

const std::vector<ModelInfo>& catalog()
{
    static const std::vector<ModelInfo> models{{
        QStringLiteral("SILMA-Kashif-2B-Instruct-v1.0.Q4_K_M.gguf"),
        QStringLiteral(QUORVEL_MODEL_URL),
        QStringLiteral("سِلما كاشف 2B · مخصّص للإجابة العربية من المصادر"),
        1'708'583'136,
        QStringLiteral("d09171ba64ae008778bcd0c0a9d05d3905b0fa6e39008592c6325c0100e306ad"),
    }};
    return models;
}

bool downloadConfigured()
{
    return !catalog().front().url.isEmpty();
}

QString modelsDir()
{
    static const QString dir = [] {
        const QString path = Paths::supportDir() + QStringLiteral("models");
        QDir().mkpath(path);
        return path;
    }();
    return dir;
}

std::optional<QString> modelPath()
{
    if (qEnvironmentVariableIsSet("QUORVEL_NO_MODEL"))
        return std::nullopt;
    if (const auto chosen = Preferences::standard().string(modelPathKey); chosen && isModelFile(*chosen))
        return *chosen;
    const QString downloaded = modelsDir() + u'/' + catalog().front().file;
    if (isModelFile(downloaded))
        return downloaded;
    return std::nullopt;
}

bool hasModel()
{
    return modelPath().has_value();
}

std::optional<QString> sha256(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const auto buffer = std::make_unique<char[]>(kHashBlockBytes);
    for (;;) {
        const qint64 got = file.read(buffer.get(), kHashBlockBytes);
        if (got <= 0)
            break;
        hash.addData(QByteArrayView(buffer.get(), got));
    }
    return QString::fromLatin1(hash.result().toHex());
}

std::int64_t freeDiskBytes()
{
    const QStorageInfo volume(QDir::homePath());
    if (!volume.isValid())
        return 0;
    return std::max<std::int64_t>(0, volume.bytesAvailable());
}

} // namespace quorvel::LocalLLM
