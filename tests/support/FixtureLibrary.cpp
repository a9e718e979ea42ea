#include "support/FixtureLibrary.h"

#include "core/Json.h"
#include "core/LibrarySchema.h"
#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "distribution/ReleaseWriter.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

namespace quorvel::test::FixtureLibrary {

namespace {

// A member as a bindable value: a JSON null or a missing key binds NULL.
SQLArg arg(const Json::Value& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return {};
    if (it->is_number_integer())
        return it->get<std::int64_t>();
    if (it->is_number())
        return it->get<double>();
    if (it->is_string())
        return Json::qstr(it->get<std::string>());
    return {};
}

bool fail(const QString& why)
{
    std::fprintf(stderr, "fixture library: %s\n", qPrintable(why));
    return false;
}

// The book as a package in the release format, with page and heading ids
// taken from the running counters so that they stay unique across the library.
bool packageBook(const Json::Value& book, const QString& baseDir, const QString& releaseDir,
                 std::int64_t& nextPageId, std::int64_t& nextTocId, Json::Value& entries)
{
    const std::int64_t bookId = book.at("id").get<std::int64_t>();
    if (const auto first = Json::strictInt(book, "first_page_id"))
        nextPageId = *first;
    ReleaseWriter::Book package;
    for (const char* key : {"id", "title", "author_id", "category_id", "book_date", "edition", "publisher",
                            "license"})
        if (book.contains(key) && !book.at(key).is_null())
            package.meta[key] = book.at(key);
    if (book.contains("source_uri") && book.at("source_uri").is_string())
        package.meta["source"] = book.at("source_uri");

    auto located = [&](const QString& file) { return QDir::isAbsolutePath(file) ? file : baseDir + "/" + file; };
    const auto file = Json::strictString(book, "file");
    if (file && file->endsWith(QStringLiteral(".txt"))) {
        // The Quran as the release builder makes it, with this library's ids.
        const auto pages = Json::strictString(book, "mushaf_pages");
        const auto quran = ReleaseWriter::fromQuranText(located(*file), package.meta,
                                                         pages ? located(*pages) : QString());
        if (!quran)
            return fail("cannot read the Quran text " + *file);
        for (ReleaseWriter::Page page : quran->pages) {
            page.pid = nextPageId++;
            package.pages.append(page);
        }
        for (ReleaseWriter::Heading heading : quran->toc) {
            heading.id = nextTocId++;
            package.toc.append(heading);
        }
    } else if (file) {
        const auto content = Json::parseFile(located(*file));
        if (!content || !content->is_object())
            return fail("cannot read " + *file);
        for (const auto& page : content->value("pages", Json::Value::array()))
            package.pages.append({nextPageId++, Json::strictInt(page, "seq"), Json::strictString(page, "vol"),
                                  Json::strictInt(page, "page_num"), Json::strictString(page, "content")});
        // "parent" is an index into the book's own toc list.
        std::vector<std::int64_t> tocIds;
        for (const auto& entry : content->value("toc", Json::Value::array())) {
            const std::int64_t id = nextTocId++;
            std::optional<std::int64_t> parentId;
            if (const auto parent = Json::strictInt(entry, "parent");
                parent && *parent >= 0 && size_t(*parent) < tocIds.size())
                parentId = tocIds[size_t(*parent)];
            tocIds.push_back(id);
            package.toc.append({id, Json::strictString(entry, "title"), Json::strictInt(entry, "page_seq"), parentId,
                                Json::strictInt(entry, "level")});
        }
    }
    const auto entry = ReleaseWriter::addBook(releaseDir, package, QStringLiteral("b%1.qbk").arg(bookId));
    if (!entry)
        return fail("cannot package book " + QString::number(bookId));
    entries.push_back(*entry);
    return true;
}

// Books go in as packages through the product's installer, so normal forms,
// full-text rows and narrators are exactly what an install makes.
bool installAll(LocalStore& store, const QString& source, const Json::Value& catalog, std::int64_t release,
                std::int64_t nextTocId)
{
    QTemporaryDir releaseDir;
    const QString baseDir = QFileInfo(source).absolutePath();
    std::int64_t nextPageId = 1;
    Json::Value entries = Json::Value::array();
    for (const auto& b : catalog.value("books", Json::Value::array()))
        if (!packageBook(b, baseDir, releaseDir.path(), nextPageId, nextTocId, entries))
            return false;
    const Json::Value categories = catalog.value("categories", Json::Value::array());
    const Json::Value authors = catalog.value("authors", Json::Value::array());
    const Json::Value catalogJson = {{"format", 1}, {"release", release}, {"norm_ver", 1},
                                     {"books", entries}, {"categories", categories}, {"authors", authors}};
    try {
        const Dist::Catalog decoded = Dist::decodeCatalog(Json::dumpBytes(catalogJson));
        for (const auto& book : decoded.books)
            store.install(book, decoded, release, QUrl::fromLocalFile(releaseDir.path()));
    } catch (const std::exception& e) {
        return fail(Dist::describe(e));
    }
    return true;
}

} // namespace

QString build(const QString& dir, const QString& catalogPath, const QString& fileName)
{
    const QString source = catalogPath.isEmpty() ? dataPath("catalog.json") : catalogPath;
    const auto catalog = Json::parseFile(source);
    if (!catalog || !catalog->is_object()) {
        fail("cannot read " + source);
        return {};
    }
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(fileName);
    QFile::remove(path);

    auto store = LocalStore::open(path);
    if (!store) {
        fail("cannot create " + path);
        return {};
    }
    if (!installAll(*store, source, *catalog, 1, 1))
        return {};
    const Json::Value categories = catalog->value("categories", Json::Value::array());
    const Json::Value authors = catalog->value("authors", Json::Value::array());

    // Every catalogue row, with the fields the installer never writes, for the
    // corners tests reach (full names, authors and categories without books).
    SQLiteDB& db = store->db();
    Transaction transaction(db, Transaction::Mode::Deferred);
    for (const auto& c : categories)
        db.run(QStringLiteral("INSERT OR REPLACE INTO categories(id, name, parent_id, sort) VALUES(?,?,?,?)"),
               {arg(c, "id"), arg(c, "name"), arg(c, "parent_id"), arg(c, "sort")});
    for (const auto& a : authors)
        db.run(QStringLiteral("INSERT OR REPLACE INTO authors(id, name, full_name, death_year, death_text, "
                              "bio) VALUES(?,?,?,?,?,?)"),
               {arg(a, "id"), arg(a, "name"), arg(a, "full_name"), arg(a, "death_year"),
                arg(a, "death_text"), arg(a, "bio")});
    if (!transaction.commit()) {
        fail("commit failed: " + db.lastError());
        return {};
    }
    return path;
}

bool add(const QString& dbPath, const QString& catalogPath, std::int64_t release)
{
    const auto catalog = Json::parseFile(catalogPath);
    if (!catalog || !catalog->is_object())
        return fail("cannot read " + catalogPath);
    auto store = LocalStore::open(dbPath);
    if (!store)
        return fail("cannot open " + dbPath);
    const std::int64_t nextTocId =
        store->db().scalarInt(QStringLiteral("SELECT IFNULL(MAX(id), 0) + 1 FROM toc")).value_or(1);
    return installAll(*store, catalogPath, *catalog, release, nextTocId);
}

QString custom(const QString& dir, const QString& fileName, const QStringList& statements)
{
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(fileName);
    QFile::remove(path);
    auto db = SQLiteDB::open(path, false);
    if (!db || !LibrarySchema::create(*db)) {
        fail("cannot create " + path);
        return {};
    }
    for (const QString& sql : statements) {
        if (!db->exec(sql)) {
            fail(db->lastError() + " :: " + sql);
            return {};
        }
    }
    return path;
}

bool writeJson(const QString& path, const Json::Value& value)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(Json::dumpBytes(value)) >= 0;
}

} // namespace quorvel::test::FixtureLibrary
