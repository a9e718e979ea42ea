#include "support/FixtureLibrary.h"

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/LibrarySchema.h"
#include "core/SQLiteDB.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace quorvel::test::FixtureLibrary {

namespace {

std::optional<Json::Value> readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return Json::parse(file.readAll());
}

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

bool insertBook(SQLiteDB& db, const Json::Value& book, const QString& baseDir,
                std::int64_t& nextPageId, std::int64_t& nextTocId)
{
    const std::int64_t bookId = book.at("id").get<std::int64_t>();
    if (!db.run(QStringLiteral("INSERT INTO books(id, title, author_id, category_id, book_date, "
                               "edition, publisher, source_uri, license) VALUES(?,?,?,?,?,?,?,?,?)"),
                {bookId, arg(book, "title"), arg(book, "author_id"), arg(book, "category_id"),
                 arg(book, "book_date"), arg(book, "edition"), arg(book, "publisher"),
                 arg(book, "source_uri"), arg(book, "license")}))
        return fail("book " + QString::number(bookId) + ": " + db.lastError());
    const auto file = Json::strictString(book, "file");
    if (!file)
        return true;
    const auto content = readJson(baseDir + "/" + *file);
    if (!content || !content->is_object())
        return fail("cannot read " + *file);

    for (const auto& page : content->value("pages", Json::Value::array())) {
        const std::int64_t pageId = nextPageId++;
        const QString text = Json::strictString(page, "content").value_or(QString());
        const QString norm = Arabic::normalize(text, true);
        if (!db.run(QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content, "
                                   "content_norm) VALUES(?,?,?,?,?,?,?)"),
                    {pageId, bookId, arg(page, "vol"), arg(page, "page_num"), arg(page, "seq"),
                     text, norm})
            || !db.run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, "
                                      "book_id) VALUES(?,?,?,?)"),
                       {pageId, norm, pageId, bookId}))
            return fail("page " + QString::number(pageId) + ": " + db.lastError());
    }

    // "parent" is an index into the book's own toc list.
    const Json::Value toc = content->value("toc", Json::Value::array());
    std::vector<std::int64_t> tocIds;
    for (const auto& entry : toc) {
        const std::int64_t id = nextTocId++;
        std::optional<std::int64_t> parentId;
        if (const auto parent = Json::strictInt(entry, "parent");
            parent && *parent >= 0 && size_t(*parent) < tocIds.size())
            parentId = tocIds[size_t(*parent)];
        tocIds.push_back(id);
        if (!db.run(QStringLiteral("INSERT INTO toc(id, book_id, title, page_seq, parent_id, level) "
                                   "VALUES(?,?,?,?,?,?)"),
                    {id, bookId, arg(entry, "title"), arg(entry, "page_seq"), parentId,
                     arg(entry, "level")}))
            return fail("toc: " + db.lastError());
    }
    return true;
}

} // namespace

QString build(const QString& dir, const QString& catalogPath, const QString& fileName)
{
    const QString source = catalogPath.isEmpty() ? dataPath("catalog.json") : catalogPath;
    const auto catalog = readJson(source);
    if (!catalog || !catalog->is_object()) {
        fail("cannot read " + source);
        return {};
    }
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(fileName);
    QFile::remove(path);
    auto db = SQLiteDB::open(path, false);
    if (!db || !LibrarySchema::create(*db)) {
        fail("cannot create " + path);
        return {};
    }
    db->exec(QStringLiteral("BEGIN"));
    for (const auto& c : catalog->value("categories", Json::Value::array()))
        db->run(QStringLiteral("INSERT INTO categories(id, name, parent_id, sort) VALUES(?,?,?,?)"),
                {arg(c, "id"), arg(c, "name"), arg(c, "parent_id"), arg(c, "sort")});
    for (const auto& a : catalog->value("authors", Json::Value::array()))
        db->run(QStringLiteral("INSERT INTO authors(id, name, full_name, death_year, death_text, "
                               "bio) VALUES(?,?,?,?,?,?)"),
                {arg(a, "id"), arg(a, "name"), arg(a, "full_name"), arg(a, "death_year"),
                 arg(a, "death_text"), arg(a, "bio")});
    const QString baseDir = QFileInfo(source).absolutePath();
    std::int64_t nextPageId = 1;
    std::int64_t nextTocId = 1;
    for (const auto& b : catalog->value("books", Json::Value::array())) {
        if (!insertBook(*db, b, baseDir, nextPageId, nextTocId)) {
            db->exec(QStringLiteral("ROLLBACK"));
            return {};
        }
    }
    if (!db->exec(QStringLiteral("COMMIT"))) {
        fail("commit failed: " + db->lastError());
        return {};
    }
    return path;
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

} // namespace quorvel::test::FixtureLibrary
