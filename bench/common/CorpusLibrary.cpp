#include "CorpusLibrary.h"

#include "core/Arabic.h"
#include "core/LibrarySchema.h"
#include "core/SQLiteDB.h"

#include <QFile>
#include <QFileInfo>

namespace quorvel::bench {

std::optional<std::int64_t> buildCorpusLibrary(const QString& catalogPath, int copies,
                                               const QString& dbPath)
{
    const auto catalog = Json::parseFile(catalogPath);
    if (!catalog || !catalog->is_object())
        return std::nullopt;
    auto db = SQLiteDB::open(dbPath, false);
    if (!db || !LibrarySchema::create(*db))
        return std::nullopt;
    const QString base = QFileInfo(catalogPath).absolutePath();
    db->exec(QStringLiteral("BEGIN"));
    for (const auto& c : catalog->value("categories", Json::Value::array()))
        db->run(QStringLiteral("INSERT INTO categories(id, name) VALUES(?,?)"),
                {Json::strictInt(c, "id"), Json::strictString(c, "name")});
    for (const auto& a : catalog->value("authors", Json::Value::array()))
        db->run(QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES(?,?,?)"),
                {Json::strictInt(a, "id"), Json::strictString(a, "name"), Json::strictInt(a, "death_year")});
    std::int64_t pageId = 1;
    for (int copy = 0; copy < copies; ++copy) {
        for (const auto& b : catalog->value("books", Json::Value::array())) {
            const auto id = Json::strictInt(b, "id");
            const auto file = Json::strictString(b, "file");
            const auto content = file ? Json::parseFile(base + "/" + *file) : std::nullopt;
            // Books in another layout (the sample's Quran text file) are left out.
            if (!id || !content || !content->is_object())
                continue;
            const std::int64_t bookId = copy * bookIdStride + *id;
            db->run(QStringLiteral("INSERT INTO books(id, title, author_id, category_id) VALUES(?,?,?,?)"),
                    {bookId, Json::strictString(b, "title"), Json::strictInt(b, "author_id"),
                     Json::strictInt(b, "category_id")});
            for (const auto& page : content->value("pages", Json::Value::array())) {
                const QString body = Json::strictString(page, "content").value_or(QString());
                const QString norm = Arabic::normalize(body, true);
                db->run(QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content, content_norm) "
                                       "VALUES(?,?,?,?,?,?,?)"),
                        {pageId, bookId, Json::strictString(page, "vol"), Json::strictInt(page, "page_num"),
                         Json::strictInt(page, "seq"), body, norm});
                db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)"),
                        {pageId, norm, pageId, bookId});
                ++pageId;
            }
            for (const auto& entry : content->value("toc", Json::Value::array()))
                db->run(QStringLiteral("INSERT INTO toc(book_id, title, page_seq, level) VALUES(?,?,?,?)"),
                        {bookId, Json::strictString(entry, "title"), Json::strictInt(entry, "page_seq"),
                         Json::strictInt(entry, "level").value_or(1)});
        }
    }
    if (!db->exec(QStringLiteral("COMMIT")))
        return std::nullopt;
    return pageId - 1;
}

} // namespace quorvel::bench
