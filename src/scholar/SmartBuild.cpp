#include "scholar/SmartBuild.h"

#include "core/Arabic.h"
#include "core/AtomicFile.h"
#include "core/DistFetch.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Paths.h"
#include "core/SQLiteDB.h"
#include "search/NpyArray.h"
#include "search/SemanticIndex.h"
#include "scholar/WordCoverage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <optional>

namespace quorvel::SmartBuild {

namespace {

// Every shape the builder writes fits a version-1.0 header of this size
// (H = 118), so the body can be streamed before the shape is known and the
// header patched in place at the end.
constexpr qsizetype kStreamedHeaderBytes = 128;
// The page cache of the build's own connection, in KiB.
constexpr int kBuildCacheKiB = 2048;
// Bytes gathered before one write to a streamed file.
constexpr size_t kWriteChunk = size_t(1) << 20;

const QString msgWriteFailed = QStringLiteral("تعذّرت كتابة ");

[[noreturn]] void failWrite(const QString& path, int errorNumber)
{
    throw Dist::PlatformError(msgWriteFailed + QFileInfo(path).fileName() + QStringLiteral(": ")
                              + Dist::fileErrorReason(errorNumber));
}

// One .npy file written as a stream beside its final place: a blank header,
// the body in chunks, then the real header over the blank one. The file
// takes the final name only through place(); until then, and on any
// failure, the final name keeps whatever it held.
class StreamedNpy {
public:
    StreamedNpy(QString target, QString descr) : target_(std::move(target)), descr_(std::move(descr))
    {
        temp_ = QFile::encodeName(target_) + ".part-XXXXXX";
        fd_ = ::mkstemp(temp_.data());
        if (fd_ < 0)
            failWrite(target_, errno);
        ::fchmod(fd_, 0644);
        buffer_.reserve(kWriteChunk);
        buffer_.append(size_t(kStreamedHeaderBytes), ' ');
    }
    ~StreamedNpy()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!placed_ && !temp_.isEmpty())
            ::unlink(temp_.constData());
    }
    StreamedNpy(const StreamedNpy&) = delete;
    StreamedNpy& operator=(const StreamedNpy&) = delete;

    void append(const void* data, size_t bytes)
    {
        buffer_.append(static_cast<const char*>(data), bytes);
        if (buffer_.size() >= kWriteChunk)
            flush();
    }

    // Writes the rest and the header for `shape`, and makes the file durable.
    void finish(const QList<std::int64_t>& shape)
    {
        flush();
        const QByteArray head = NpyArray::header(descr_, shape);
        assert(head.size() == kStreamedHeaderBytes);
        if (head.size() != kStreamedHeaderBytes)
            failWrite(target_, EOVERFLOW);
        if (::pwrite(fd_, head.constData(), size_t(head.size()), 0) != head.size() || ::fsync(fd_) != 0)
            failWrite(target_, errno);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            failWrite(target_, errno);
    }

    // Moves the finished file over the target; false (errno set) on failure.
    bool place()
    {
        if (::rename(temp_.constData(), QFile::encodeName(target_).constData()) != 0)
            return false;
        placed_ = true;
        return true;
    }

    const QString& target() const { return target_; }

private:
    void flush()
    {
        size_t at = 0;
        while (at < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + at, buffer_.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                failWrite(target_, n < 0 ? errno : EIO);
            at += size_t(n);
        }
        buffer_.clear();
    }

    QString target_;
    QString descr_;
    QByteArray temp_;
    int fd_ = -1;
    std::string buffer_;
    bool placed_ = false;
};

// A file written piece by piece at its final name; throws PlatformError
// naming it when a piece or its closing fails.
class StreamedFile {
public:
    explicit StreamedFile(QString path) : path_(std::move(path))
    {
        fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0)
            failWrite(path_, errno);
    }
    ~StreamedFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    StreamedFile(const StreamedFile&) = delete;
    StreamedFile& operator=(const StreamedFile&) = delete;

    void write(QByteArrayView bytes)
    {
        qsizetype at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + at, size_t(bytes.size() - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                failWrite(path_, n < 0 ? errno : EIO);
            at += n;
        }
    }

    void close()
    {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            failWrite(path_, errno);
    }

private:
    QString path_;
    int fd_ = -1;
};

// Puts a finished pair in place, ids first: a reader that meets the new ids
// beside the old vectors refuses the pair for its row count. When the second
// move fails the previous ids come back, so the old pair stays whole.
void placePair(StreamedNpy& ids, StreamedNpy& vecs)
{
    const QByteArray idsPath = QFile::encodeName(ids.target());
    const QByteArray backup = idsPath + ".previous";
    ::unlink(backup.constData());
    const bool hadIds = ::link(idsPath.constData(), backup.constData()) == 0;
    if (!ids.place()) {
        const int error = errno;
        if (hadIds)
            ::unlink(backup.constData());
        failWrite(ids.target(), error);
    }
    if (!vecs.place()) {
        const int error = errno;
        if (hadIds)
            ::rename(backup.constData(), idsPath.constData());
        else
            ::unlink(idsPath.constData());
        failWrite(vecs.target(), error);
    }
    if (hadIds)
        ::unlink(backup.constData());
}

// The vector width "vocab.json" declares, defaultDim when it declares none.
std::int64_t modelDim(const QString& vocabPath)
{
    const auto vocab = Json::parseFile(vocabPath);
    if (!vocab || !vocab->is_object())
        return defaultDim;
    const auto dim = vocab->find("dim");
    if (dim == vocab->end() || !dim->is_number_integer())
        return defaultDim;
    return dim->get<std::int64_t>();
}

// Where a fetched pack waits, checked, until vectors made with it are
// complete: only then does it replace the model in use.
QString incomingDir()
{
    return QDir(dir()).filePath(QStringLiteral(".incoming"));
}

bool hasModelIn(const QString& folder)
{
    const QDir d(folder);
    return QFileInfo::exists(d.filePath(wordvecFile)) && QFileInfo::exists(d.filePath(vocabFile));
}

// The model of `modelDir` loaded over empty page vectors in a scratch folder
// beside it, so that no vector file in use is touched. Throws
// DistError(msgModelUnloadable and the reason) when it does not load.
std::shared_ptr<const SemanticIndex> loadModel(const QString& modelDir, const QString& scratchIn = dir())
{
    QTemporaryDir scratch(QDir(scratchIn).filePath(QStringLiteral(".model-XXXXXX")));
    if (!scratch.isValid())
        failWrite(QDir(scratchIn).filePath(vecsFile), errno);
    const QDir from(modelDir);
    const QDir to(scratch.path());
    for (const QString& name : {wordvecFile, vocabFile}) {
        const QByteArray source = QFile::encodeName(from.filePath(name));
        if (::link(source.constData(), QFile::encodeName(to.filePath(name)).constData()) != 0
            && !QFile::copy(from.filePath(name), to.filePath(name)))
            failWrite(to.filePath(name), errno);
    }
    const std::int64_t dim = modelDim(from.filePath(vocabFile));
    writeNpy(to.filePath(vecsFile), NpyArray::floatDescr, {0, dim}, {});
    writeNpy(to.filePath(vecIdsFile), NpyArray::intDescr, {0}, {});
    QString why;
    auto index = SemanticIndex::load(to.path(), &why);
    if (!index)
        throw Dist::DistError(msgModelUnloadable + QStringLiteral(": ") + why);
    // Pages are looked up word by word in their normal form: a word the form
    // never yields (one with a tatweel or a mark, say) meets no page. A few
    // are harmless; a pack mostly of them would answer every search with nothing.
    const QStringList& words = index->words();
    const auto unmatchable = std::count_if(words.cbegin(), words.cend(), [](const QString& word) {
        return word.isEmpty() || word.contains(u' ') || Arabic::normalize(word, true) != word;
    });
    if (unmatchable * 2 > words.size())
        throw Dist::DistError(msgModelUnloadable + QStringLiteral(": ") + msgWordsNotNormal);
    return index;
}

// Replaces a small file whole, or throws with the reason and leaves it as it was.
void writeWhole(const QString& target, const QByteArray& bytes)
{
    if (const std::optional<QString> failed = AtomicFile::replace(target, bytes))
        throw Dist::PlatformError(msgWriteFailed + QFileInfo(target).fileName() + QStringLiteral(": ") + *failed);
}

// Puts the checked pack of the incoming folder in place of the model in use.
void placeIncomingModel()
{
    const QDir from(incomingDir());
    const QDir to(dir());
    for (const QString& name : {wordvecFile, vocabFile}) {
        if (::rename(QFile::encodeName(from.filePath(name)).constData(),
                     QFile::encodeName(to.filePath(name)).constData()) != 0)
            failWrite(to.filePath(name), errno);
    }
    QDir(incomingDir()).removeRecursively();
}

// Embeds each page `pages` steps through into the pair (zeros for a page of
// no known word), counting its words into `coverage` when given; returns the
// pages written. Throws DistError(msgPagesUnreadable) when a read fails.
std::int64_t embedPages(Statement& pages, const SemanticIndex& index, StreamedNpy& ids, StreamedNpy& vecs,
                        std::int64_t total, const std::function<void(double)>& progress, WordCoverage* coverage)
{
    const std::vector<float> zeros(size_t(index.dim()), 0.0f);
    std::int64_t done = 0;
    for (;;) {
        const Statement::Step step = pages.next();
        if (step == Statement::Step::Done)
            return done;
        if (step != Statement::Step::Row)
            throw Dist::DistError(msgPagesUnreadable);
        const std::int64_t id = pages.integer(0).value_or(0);
        const QString text = embeddedText(pages.text(1).value_or(QString()));
        const auto v = index.embed(text);
        if (coverage)
            coverage->see(text);
        ids.append(&id, sizeof id);
        vecs.append((v ? *v : zeros).data(), size_t(index.dim()) * sizeof(float));
        ++done;
        if (progress && done % progressStep == 0)
            progress(double(done) / double(std::max<std::int64_t>(total, 1)));
    }
}

} // namespace

QString dir()
{
    return Paths::smartDir();
}

QString embeddedText(const QString& content)
{
    qsizetype units = 0;
    for (qsizetype scalars = 0; units < content.size() && scalars < pageScalars; ++scalars)
        units += content[units].isHighSurrogate() && units + 1 < content.size() && content[units + 1].isLowSurrogate()
            ? 2
            : 1;
    return units == content.size() ? content : content.left(units);
}

bool hasModel()
{
    const QDir d(dir());
    return QFileInfo::exists(d.filePath(wordvecFile)) && QFileInfo::exists(d.filePath(vocabFile));
}

bool hasVectors()
{
    return QFileInfo::exists(QDir(dir()).filePath(vecsFile));
}

void writeNpy(const QString& path, const QString& descr, const QList<std::int64_t>& shape, const QByteArray& body)
{
    QString error;
    if (!NpyArray::write(path, descr, shape, body, &error))
        throw Dist::PlatformError(msgWriteFailed + QFileInfo(path).fileName() + QStringLiteral(": ") + error);
}

QString modelProblem(const QString& modelDir)
{
    try {
        loadModel(modelDir, QDir::tempPath());
    } catch (const Dist::DistError& e) {
        return e.message();
    } catch (const Dist::PlatformError& e) {
        return e.description();
    }
    return {};
}

void fetchModel(const Pack& pack, const QUrl& base)
{
    const QDir d(dir());
    QDir(incomingDir()).removeRecursively();
    if (Dist::fileSha256(d.filePath(wordvecFile)) == pack.wordvec.sha256
        && Dist::fileSha256(d.filePath(vocabFile)) == pack.vocab.sha256)
        return;
    // The new pack is gathered and checked beside the model in use, which
    // keeps serving until vectors made with the new one are complete.
    QDir().mkpath(incomingDir());
    const QDir in(incomingDir());
    try {
        for (const auto& [ref, localName] : {std::pair{&pack.wordvec, wordvecFile}, std::pair{&pack.vocab, vocabFile}}) {
            const QString target = in.filePath(localName);
            if (Dist::fileSha256(d.filePath(localName)) == ref->sha256) {
                if (!QFile::copy(d.filePath(localName), target))
                    failWrite(target, errno);
                continue;
            }
            // No model file is that large, whatever size the catalogue declares.
            if (ref->size > Dist::declaredFileLimit)
                throw Dist::DistError(msgModelTooLarge);
            // Written to disk as it arrives: the incoming folder goes whole on failure.
            std::int64_t fetched = 0;
            {
                StreamedFile out(target);
                fetched = Dist::fetchInto(base, ref->file, ref->size,
                                          [&](QByteArrayView chunk) { out.write(chunk); });
                out.close();
            }
            if (fetched != ref->size || Dist::fileSha256(target) != ref->sha256)
                throw Dist::DistError(msgModelDigest);
        }
        loadModel(incomingDir());
    } catch (...) {
        QDir(incomingDir()).removeRecursively();
        throw;
    }
}

std::int64_t buildVectors(const QString& libPath, const std::function<void(double)>& progress)
{
    const QDir d(dir());
    if (!hasModel() && !hasModelIn(incomingDir()))
        throw Dist::DistError(msgNoModel);
    const auto db = SQLiteDB::open(Library::readOnlyUri(libPath), true);
    if (!db || !db->exec(QStringLiteral("SELECT 1 FROM sqlite_master LIMIT 1")))
        throw Dist::DistError(msgLibraryUnreadable);
    // One pass in id order reads each page once: a small page cache keeps the
    // build's private memory flat, the mapped file serving the reads.
    db->exec(QStringLiteral("PRAGMA cache_size=-%1").arg(kBuildCacheKiB));

    // A fetched pack waiting in the incoming folder is used and put in place
    // with the vectors it made; a failure leaves the model and vectors in use.
    const bool incoming = hasModelIn(incomingDir());
    std::shared_ptr<const SemanticIndex> index;
    try {
        index = loadModel(incoming ? incomingDir() : d.path());
    } catch (...) {
        QDir(incomingDir()).removeRecursively();
        throw;
    }
    const int width = index->dim();

    // A database without pages (an empty file, say) is refused here in
    // words, before its statements fail one by one on the error stream.
    if (db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name='pages'"))
            .value_or(0)
        == 0)
        throw Dist::DistError(msgPagesUnreadable);
    const std::int64_t total = db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0);
    auto pages = db->prepare(QStringLiteral("SELECT id, content FROM pages ORDER BY id"));
    if (!pages)
        throw Dist::DistError(msgPagesUnreadable);

    StreamedNpy ids(d.filePath(vecIdsFile), NpyArray::intDescr);
    StreamedNpy vecs(d.filePath(vecsFile), NpyArray::floatDescr);
    // A new pack must know the words of the pages it replaces the model for:
    // one whose vocabulary no page reaches would answer every search with nothing.
    std::optional<WordCoverage> coverage;
    if (incoming)
        coverage.emplace(index->words());
    const std::int64_t done = embedPages(*pages, *index, ids, vecs, total, progress, coverage ? &*coverage : nullptr);
    if (coverage && !coverage->enough()) {
        QDir(incomingDir()).removeRecursively();
        throw Dist::DistError(msgModelUnloadable + QStringLiteral(": ") + msgWordsMissLibrary);
    }
    ids.finish({done});
    vecs.finish({done, width});
    const QByteArray stamp = SemanticIndex::modelStamp(incoming ? incomingDir() : d.path());
    if (stamp.isEmpty())
        failWrite(d.filePath(vocabFile), EIO);
    // The model and the pair move in several steps. Until the last, the stamp
    // names no model, so a crash between two moves leaves files no reader
    // takes together; the stamp of the model in place is written last.
    const QString stampPath = d.filePath(SemanticIndex::modelStampFile);
    QFile oldStampFile(stampPath);
    const std::optional<QByteArray> oldStamp =
        oldStampFile.open(QIODevice::ReadOnly) ? std::optional(oldStampFile.read(1024)) : std::nullopt;
    oldStampFile.close();
    writeWhole(stampPath, QByteArrayLiteral("-\n"));
    try {
        if (incoming)
            placeIncomingModel();
        placePair(ids, vecs);
    } catch (...) {
        // Without a new model the previous pair is whole again, and its stamp with it.
        if (!incoming) {
            try {
                if (oldStamp)
                    writeWhole(stampPath, *oldStamp);
                else
                    QFile::remove(stampPath);
            } catch (const std::exception&) {
                // The placement's own failure is the one to report.
            }
        }
        throw;
    }
    writeWhole(stampPath, stamp);
    return done;
}

} // namespace quorvel::SmartBuild
