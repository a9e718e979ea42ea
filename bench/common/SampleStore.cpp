#include "SampleStore.h"

#include "core/Json.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "distribution/ReleaseWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <cstdio>

namespace quorvel::bench {

namespace {

constexpr std::int64_t firstSpreadId = 1000;

// The spread ids of every copy, drawn once: a fixed linear congruential
// sequence, so every run and every benchmark sees the same library.
std::int64_t drawnId(std::int64_t slot)
{
    static QList<std::int64_t> ids;
    static QSet<std::int64_t> taken;
    static std::uint64_t state = 0x2545F4914F6CDD1DULL;
    while (ids.size() <= slot) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const std::int64_t id = firstSpreadId + std::int64_t((state >> 33) % std::uint64_t(spreadIdLimit - firstSpreadId + 1));
        if (taken.contains(id))
            continue;
        taken.insert(id);
        ids << id;
    }
    return ids[slot];
}

} // namespace

std::int64_t spreadBookId(int copy, int index, std::int64_t original)
{
    if (copy == 0)
        return original;
    constexpr std::int64_t slotsPerCopy = 1000;
    return drawnId(std::int64_t(copy - 1) * slotsPerCopy + index);
}

std::optional<QString> writeSampleRelease(const QString& releaseDir, int copies)
{
    const QString samples = QStringLiteral(QUORVEL_SOURCE_DIR "/samples");
    const auto keys = ReleaseWriter::generateKeyPair();
    const auto catalog = Json::parseFile(QDir(samples).filePath(QStringLiteral("catalog.json")));
    if (!keys || !catalog || !QDir().mkpath(releaseDir))
        return std::nullopt;
    Json::Value books = Json::Value::array();
    int index = 0;
    for (const auto& meta : catalog->at("books")) {
        const auto file = Json::strictString(meta, "file");
        std::optional<Json::Value> json;
        if (file && !file->endsWith(QStringLiteral(".txt")))
            json = Json::parseFile(QDir(samples).filePath(*file));
        for (int copy = 0; copy < copies; ++copy) {
            Json::Value copyMeta = meta;
            const std::int64_t id = spreadBookId(copy, index, meta.at("id").get<std::int64_t>());
            copyMeta["id"] = id;
            std::optional<ReleaseWriter::Book> book;
            if (file && file->endsWith(QStringLiteral(".txt"))) {
                const auto pages = Json::strictString(meta, "mushaf_pages");
                book = ReleaseWriter::fromQuranText(QDir(samples).filePath(*file), copyMeta,
                                                    pages ? QDir(samples).filePath(*pages) : QString());
            }
            else if (json)
                book = ReleaseWriter::fromCorpus(*json, copyMeta);
            if (!book)
                return std::nullopt;
            const auto entry = ReleaseWriter::addBook(releaseDir, *book, QStringLiteral("b%1.qbk").arg(id));
            if (!entry)
                return std::nullopt;
            books.push_back(*entry);
        }
        ++index;
    }
    Json::Value authors = Json::Value::array();
    for (const auto& a : catalog->at("authors"))
        authors.push_back({{"id", a.at("id")}, {"name", a.at("name")}});
    ReleaseWriter::ReleaseInfo info;
    info.generated = info.expires = QStringLiteral("-");
    if (!ReleaseWriter::writeRelease(releaseDir, info, catalog->at("categories"), authors, books, keys->secretKey))
        return std::nullopt;
    return ReleaseWriter::base64(keys->publicKey);
}

std::optional<InstalledStore> sampleStore(const QString& dbPath, int copies)
{
    InstalledStore out;
    out.dbPath = dbPath;
    if (!QFileInfo::exists(dbPath)) {
        const QString releaseDir = dbPath + QStringLiteral(".release");
        const auto publicKey = writeSampleRelease(releaseDir, copies);
        if (!publicKey) {
            std::fprintf(stderr, "cannot write the sample release into %s\n", qPrintable(releaseDir));
            return std::nullopt;
        }
        Dist::overridePublicKey(*publicKey);
        const QUrl base = QUrl::fromLocalFile(releaseDir);
        try {
            const auto [index, catalog] = Dist::loadCatalog(base, 0);
            auto store = LocalStore::open(dbPath);
            if (!store)
                return std::nullopt;
            QElapsedTimer timer;
            timer.start();
            for (const auto& book : catalog.books)
                store->install(book, catalog, index.release, base);
            store->dedupNarrators();
            out.installSeconds = double(timer.nsecsElapsed()) / 1e9;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "cannot install the sample release: %s\n", e.what());
            return std::nullopt;
        }
        QDir(releaseDir).removeRecursively();
    }
    auto db = SQLiteDB::open(dbPath, true);
    if (!db)
        return std::nullopt;
    out.pages = db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0);
    out.books = db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM books")).value_or(0);
    return out;
}

} // namespace quorvel::bench

namespace quorvel::bench {

void keepInScratch(const QString& dir)
{
    qputenv("HOME", dir.toUtf8());
    qputenv("XDG_CONFIG_HOME", (dir + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (dir + QStringLiteral("/data")).toUtf8());
    qputenv("QUORVEL_USERDB", (dir + QStringLiteral("/user.db")).toUtf8());
}

std::optional<AssistantLibrary> assistantLibrary(const QString& dir, bool smart)
{
    qputenv("XDG_CONFIG_HOME", (dir + QStringLiteral("/config")).toUtf8());
    qputenv("QUORVEL_USERDB", ":memory:");
    if (!smart)
        qputenv("QUORVEL_NO_SMART", "1");
    const QString dbPath = dir + QStringLiteral("/library.db");
    auto store = sampleStore(dbPath, 1);
    if (!store)
        return std::nullopt;
    AssistantLibrary out{*store, Library::open(dbPath), nullptr};
    out.db = out.lib ? out.lib->newSearchConnection() : nullptr;
    if (!out.db) {
        std::fprintf(stderr, "cannot open the sample library\n");
        return std::nullopt;
    }
    Library::setShared(out.lib);
    return out;
}

} // namespace quorvel::bench
