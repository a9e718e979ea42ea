#include "search/SharedMeaningIndex.h"

#include "core/Library.h"
#include "core/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

#include <mutex>

namespace quorvel::SharedMeaningIndex {

namespace {

std::mutex lock; // guards cached and tried
std::shared_ptr<const SemanticIndex> cached;
bool tried = false;

} // namespace

std::optional<QString> dataDir()
{
    const std::shared_ptr<Library> library = Library::shared();
    if (!library)
        return std::nullopt;
    if (library->isLocal())
        return Paths::smartDir();
    // The path as opened, not the connection's URI, so no escape is undone.
    const QString path = library->dbPath();
    const QFileInfo info(path);
    // symLinkTarget() resolves a relative destination against the link's folder.
    const QString file = info.isSymLink() ? info.symLinkTarget() : path;
    return QFileInfo(file).path();
}

std::shared_ptr<const SemanticIndex> index()
{
    if (qEnvironmentVariableIsSet("QUORVEL_NO_SMART"))
        return nullptr;
    const std::lock_guard guard(lock);
    if (!tried) {
        if (const auto dir = dataDir()) {
            tried = true;
            cached = SemanticIndex::load(*dir);
        }
    }
    return cached;
}

void preload()
{
    QThreadPool::globalInstance()->start([] { index(); }, -1);
}

void reset()
{
    const std::lock_guard guard(lock);
    cached.reset();
    tried = false;
}

} // namespace quorvel::SharedMeaningIndex
