#include "SearchFixture.h"

#include "core/Json.h"
#include "search/SemanticIndex.h"
#include "support/FixtureLibrary.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

namespace quorvel::test {

namespace {

SearchLibrary open(std::unique_ptr<QTemporaryDir> dir, const QString& catalog)
{
    SearchLibrary out;
    out.path = FixtureLibrary::build(dir->path(), catalog);
    if (!out.path.isEmpty())
        out.lib = Library::open(out.path);
    out.dir = std::move(dir);
    return out;
}

} // namespace

SearchLibrary corpusLibrary(const QString& catalogName)
{
    return open(std::make_unique<QTemporaryDir>(), dataPath(catalogName));
}

SearchLibrary corpusLibraryWithBookIds(const QHash<std::int64_t, std::int64_t>& newIds)
{
    auto dir = std::make_unique<QTemporaryDir>();
    auto catalog = Json::parseFile(dataPath("catalog.json"));
    if (!catalog)
        return {};
    for (auto& book : (*catalog)["books"]) {
        const std::int64_t id = newIds.value(book.at("id").get<std::int64_t>(), book.at("id").get<std::int64_t>());
        const QString file = Json::qstr(book.at("file").get<std::string>());
        const auto content = Json::parseFile(dataPath(file));
        const QString copy = QStringLiteral("book%1.json").arg(id);
        if (!content || !FixtureLibrary::writeJson(dir->filePath(copy), *content))
            return {};
        book["id"] = id;
        book["file"] = Json::utf8(copy);
        book["first_page_id"] = id * 100000 + 1;
    }
    const QString catalogPath = dir->filePath("catalog.json");
    FixtureLibrary::writeJson(catalogPath, *catalog);
    return open(std::move(dir), catalogPath);
}

namespace {

// Writes the books' files and their catalogue into `dir`; the catalogue's path.
QString writeCatalog(const QTemporaryDir& dir, const QList<FixtureBook>& books, const QString& name)
{
    Json::Value catalog = {{"categories", Json::Value::array({{{"id", 1}, {"name", "كتب"}}})},
                           {"authors", Json::Value::array()},
                           {"books", Json::Value::array()}};
    for (const FixtureBook& book : books) {
        Json::Value pages = Json::Value::array();
        for (qsizetype i = 0; i < book.pages.size(); ++i)
            pages.push_back({{"seq", i + 1}, {"page_num", i + 1}, {"vol", "1"},
                             {"content", Json::utf8(book.pages[i])}});
        Json::Value toc = Json::Value::array();
        for (const auto& [title, seq] : book.toc)
            toc.push_back({{"title", Json::utf8(title)}, {"page_seq", seq}, {"level", 1}});
        const QString file = QStringLiteral("book%1.json").arg(book.id);
        FixtureLibrary::writeJson(dir.filePath(file), Json::Value{{"pages", pages}, {"toc", toc}});
        Json::Value entry = {{"id", book.id},
                             {"title", Json::utf8(book.title.isEmpty() ? "كتاب" : book.title)},
                             {"category_id", 1},
                             {"file", Json::utf8(file)}};
        if (book.firstPageId > 0)
            entry["first_page_id"] = book.firstPageId;
        catalog["books"].push_back(entry);
    }
    const QString catalogPath = dir.filePath(name);
    FixtureLibrary::writeJson(catalogPath, catalog);
    return catalogPath;
}

} // namespace

SearchLibrary customLibrary(const QList<FixtureBook>& books)
{
    auto dir = std::make_unique<QTemporaryDir>();
    const QString catalogPath = writeCatalog(*dir, books, QStringLiteral("catalog.json"));
    return open(std::move(dir), catalogPath);
}

QStringList footnotedPages(int id)
{
    const auto json = Json::parseFile(dataPath(QStringLiteral("books/%1.json").arg(id, 3, 10, QChar('0'))));
    if (!json)
        return {};
    QStringList texts;
    for (const auto& page : json->at("pages"))
        texts << Json::qstr(page.at("content").get<std::string>());
    QStringList pages;
    for (qsizetype i = 0; i < texts.size(); ++i)
        pages << (i % 3 == 2 && i + 1 < texts.size()
                      ? texts[i] + "\n__________\n(1) " + texts[i + 1].split(u' ').mid(0, 40).join(u' ')
                      : texts[i]);
    return pages;
}

SearchLibrary footnotedLibrary()
{
    QList<FixtureBook> books;
    for (int id : {1, 2, 3}) {
        FixtureBook book{id, {}, footnotedPages(id), {{QStringLiteral("باب ما جاء"), 1}}};
        if (book.pages.isEmpty())
            return {};
        books << book;
    }
    books << FixtureBook{9, {}, {
        QStringLiteral("حدثنا مالك عن أبي\n__________\nهريرة قال رسول الله"),
        QStringLiteral("عن ابي هريرة قال حدثنا12 مالك عن عائشة"),
        QStringLiteral("قال إبي هريرة\n__________\n(1) حدثنا مالك عن أبي هريرة"),
        QStringLiteral("صَلَّى اللهُ عَلَيْهِ وَسَلَّمَ\n__________\nصلى الله عليه وسلم حدثنا"),
        QStringLiteral("الصلوة والزكوة ثنا أحمد\n__________\nآمن إيمان أمر"),
        QStringLiteral("قال ALLAH و Allah و allah في Quran و École ÉCOLE ecole و İstanbul و Привет привет"),
    }, {}};
    return customLibrary(books);
}

bool installBooks(const SearchLibrary& lib, const QList<FixtureBook>& books, std::int64_t release)
{
    if (!lib.dir)
        return false;
    const QString catalogPath = writeCatalog(*lib.dir, books, QStringLiteral("catalog-%1.json").arg(release));
    return FixtureLibrary::add(lib.path, catalogPath, release);
}

RunResult runQuery(SearchEngine& engine, const SearchQuery& q, int limit)
{
    RunResult r;
    engine.run(q, limit, [&](const QList<SearchHit>& hits, bool done) {
        ++r.calls;
        if (done) {
            ++r.doneCalls;
            r.doneLast = hits.isEmpty();
            return;
        }
        r.doneLast = false;
        if (!hits.isEmpty() && hits.first().kind == SearchHit::Kind::page) {
            r.pages << hits;
            r.batchSizes << int(hits.size());
        } else {
            for (const SearchHit& h : hits)
                (h.kind == SearchHit::Kind::title ? r.titles : r.notes) << h;
        }
    });
    return r;
}

bool stampModel(const QString& dir)
{
    const QByteArray stamp = SemanticIndex::modelStamp(dir);
    QFile file(QDir(dir).filePath(SemanticIndex::modelStampFile));
    return !stamp.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(stamp) == stamp.size();
}

SearchQuery phrases(const QStringList& ands)
{
    SearchQuery q;
    q.andPhrases = ands;
    q.inNotes = false;
    return q;
}

} // namespace quorvel::test

namespace quorvel {

void PrintTo(const SearchHit& hit, std::ostream* os)
{
    static const char* const kinds[] = {"page", "title", "note"};
    *os << "{" << kinds[int(hit.kind)] << " " << hit.pageId << ", book " << hit.bookId << ", seq " << hit.seq;
    for (const auto& [name, text] : {std::pair{"snippet", &hit.snippet}, std::pair{"chapter", &hit.chapter},
                                     std::pair{"page", &hit.pageLabel}})
        if (*text)
            *os << ", " << name << " \"" << (*text)->toStdString() << "\"";
    if (hit.score != 0)
        *os << ", score " << hit.score;
    *os << "}";
}

} // namespace quorvel
