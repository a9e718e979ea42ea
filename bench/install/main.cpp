// Installing the bundled sample release into an empty local store, beside
// the same rows (already in their matching form) inserted into the same tables
// without normalisation, narrator chains or shingles, in the same run.
//
//   bench_install [--reuse]
//
// The release is built here from samples/ with a key made for the run.
#include "../common/CorpusLibrary.h"
#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "dist/Dist.h"
#include "dist/LocalStore.h"
#include "dist/ReleaseWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace quorvel;

namespace {

// Builds the sample release into dir; false on failure.
bool buildRelease(const QString& samples, const QString& dir, const ReleaseWriter::KeyPair& keys)
{
    const auto catalog = Json::parseFile(QDir(samples).filePath(QStringLiteral("catalog.json")));
    if (!catalog)
        return false;
    Json::Value books = Json::Value::array();
    for (const auto& meta : catalog->at("books")) {
        const auto file = Json::strictString(meta, "file");
        std::optional<ReleaseWriter::Book> book;
        if (file && file->endsWith(QStringLiteral(".txt"))) {
            book = ReleaseWriter::fromQuranText(QDir(samples).filePath(*file), meta);
        } else if (const auto json = file ? Json::parseFile(QDir(samples).filePath(*file)) : std::nullopt) {
            book = ReleaseWriter::fromCorpus(*json, meta);
        }
        if (!book)
            return false;
        const auto entry = ReleaseWriter::addBook(dir, *book, QStringLiteral("b%1.qbk").arg(meta.at("id").get<int>()));
        if (!entry)
            return false;
        books.push_back(*entry);
    }
    Json::Value authors = Json::Value::array();
    for (const auto& a : catalog->at("authors"))
        authors.push_back({{"id", a.at("id")}, {"name", a.at("name")}});
    ReleaseWriter::ReleaseInfo info;
    info.generated = info.expires = QStringLiteral("-");
    return ReleaseWriter::writeRelease(dir, info, catalog->at("categories"), authors, books, keys.secretKey);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool reuse = app.arguments().contains(QStringLiteral("--reuse"));
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());
    LocalStore::setWithReuse(reuse);

    const auto keys = ReleaseWriter::generateKeyPair();
    const QString releaseDir = scratch.filePath(QStringLiteral("release"));
    if (!keys || !buildRelease(QStringLiteral(QUORVEL_SOURCE_DIR "/samples"), releaseDir, *keys)) {
        std::fprintf(stderr, "bench_install: cannot build the sample release\n");
        return 1;
    }
    Dist::overridePublicKey(ReleaseWriter::base64(keys->publicKey));
    const QUrl base = QUrl::fromLocalFile(releaseDir);
    const auto [index, catalog] = Dist::loadCatalog(base, 0);

    // The installer.
    auto store = LocalStore::open(scratch.filePath(QStringLiteral("library.db")));
    QElapsedTimer timer;
    timer.start();
    for (const auto& book : catalog.books)
        store->install(book, catalog, index.release, base);
    store->dedupNarrators();
    const double installSeconds = timer.elapsed() / 1000.0;
    const auto pages = store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages")).value_or(0);

    // The baseline: the installed rows copied into the same tables of a fresh
    // store, one transaction per book, nothing derived.
    auto plain = LocalStore::open(scratch.filePath(QStringLiteral("plain.db")));
    QList<QList<Statement::Row>> rowsByBook;
    for (const auto& book : catalog.books)
        rowsByBook.append(store->db().rows(
            QStringLiteral("SELECT id, book_id, vol, page_num, seq, content, content_norm FROM pages WHERE book_id=? ORDER BY seq"),
            {book.id}));
    auto value = [](const Statement::Value& v) -> SQLArg {
        if (auto i = std::get_if<std::int64_t>(&v))
            return *i;
        if (auto s = std::get_if<QString>(&v))
            return *s;
        return {};
    };
    timer.restart();
    for (const auto& rows : rowsByBook) {
        plain->db().exec(QStringLiteral("BEGIN IMMEDIATE"));
        auto insertPage = plain->db().prepare(QStringLiteral(
            "INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) VALUES(?,?,?,?,?,?,?)"));
        auto insertFts = plain->db().prepare(
            QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"));
        for (const auto& r : rows) {
            SQLArgs args;
            for (const auto& v : r.vals)
                args.append(value(v));
            insertPage->bind(args);
            insertPage->step();
            insertFts->bind({args[0], args[6], args[0], args[1]});
            insertFts->step();
        }
        plain->db().exec(QStringLiteral("COMMIT"));
    }
    const double plainSeconds = timer.elapsed() / 1000.0;

    std::printf("%-44s %10s %12s\n", "operation", "seconds", "pages/s");
    std::printf("%-44s %10.2f %12.0f\n", reuse ? "install sample release (with shingles)" : "install sample release",
                installSeconds, pages / installSeconds);
    std::printf("%-44s %10.2f %12.0f\n", "baseline: insert normalised rows + FTS", plainSeconds, pages / plainSeconds);
    std::printf("%-44s %10.1f\n", "ratio install / baseline", installSeconds / plainSeconds);
    std::printf("(%lld pages, %lld books)\n", static_cast<long long>(pages), static_cast<long long>(catalog.books.size()));
    return 0;
}
