// How every tool names books, authors, volumes, pages and chapters, and how
// it matches names and titles.

#include "mcp/MCPServer.h"

#include "core/Characters.h"
#include "core/Library.h"
#include "search/SearchEngine.h"

#include <QHash>

#include <algorithm>
#include <limits>

namespace quorvel {

namespace {

constexpr qsizetype kMaxVolumeLabel = 13; // characters; longer labels are not volume numbers
constexpr int kMaxChapterPath = 12;
constexpr int kMarkRadius = 11;
const QString kParatext = QStringLiteral("PARATEXT");
const QString kDot = QStringLiteral(" · ");

// The two catalogue caches describe one loaded catalogue: the server opens
// its library once, but tests open several in one process, and a new library
// may well be allocated where an old one was. So the cache remembers the
// catalogue snapshot itself (weakly) rather than the library's address.
struct CatalogueCaches {
    std::weak_ptr<const Catalog> catalog;
    std::optional<std::map<std::int64_t, QString>> fullNames;
    std::optional<QHash<std::int64_t, Category>> bookCategory;
};

CatalogueCaches& caches(const Library& lib)
{
    static CatalogueCaches cache;
    const std::shared_ptr<const Catalog> current = lib.catalog();
    if (cache.catalog.lock() != current) {
        cache = CatalogueCaches();
        cache.catalog = current;
    }
    return cache;
}

} // namespace

std::optional<QString> MCPServer::authorName(const Book& book, Library& lib)
{
    const std::optional<Author> author = lib.author(book);
    if (!author || author->death == 1)
        return std::nullopt;
    const QString name = Characters::trimSpacesAndTabs(author->name).toString();
    if (name.isEmpty() || name == QStringLiteral("—") || name == QStringLiteral("-"))
        return std::nullopt;
    return name;
}

std::optional<QString> MCPServer::volumeLabel(const std::optional<QString>& label,
                                              std::int64_t bookId, Library& lib)
{
    if (!label)
        return std::nullopt;
    const QString trimmed = Characters::trimSpacesAndTabs(*label).toString();
    if (trimmed.isEmpty() || Characters::count(trimmed, kMaxVolumeLabel) >= kMaxVolumeLabel)
        return std::nullopt;
    // A book with a single label has no volumes worth naming.
    if (lib.volumes(bookId).size() < 2)
        return std::nullopt;
    return Arabic::latinDigits(trimmed);
}

std::optional<QString> MCPServer::rawVolume(const QString& sent, std::int64_t bookId, Library& lib)
{
    const QString key = Arabic::latinDigits(sent).trimmed();
    for (const QString& stored : lib.volumes(bookId)) {
        if (Arabic::latinDigits(stored).trimmed() == key)
            return stored;
    }
    return std::nullopt;
}

QString MCPServer::citation(const Book& book, Library& lib, const std::optional<QString>& vol,
                            std::optional<std::int64_t> page, std::int64_t seq)
{
    QStringList parts{book.title};
    if (const auto author = authorName(book, lib))
        parts << *author;
    QString locator = vol ? QStringLiteral("ج") + *vol + QStringLiteral(" ") : QString();
    locator += page ? QStringLiteral("ص") + QString::number(*page)
                    : QStringLiteral("تسلسل ") + QString::number(seq);
    parts << locator;
    return parts.join(kDot);
}

QStringList MCPServer::chapterPath(std::int64_t bookId, std::int64_t seq, Library& lib)
{
    QStringList path;
    TocNodePtr node = lib.chapter(bookId, seq);
    while (node && path.size() < kMaxChapterPath) {
        if (const auto title = cleanTitle(node->title))
            path.prepend(*title);
        node = node->parent.lock();
    }
    return path;
}

std::optional<QString> MCPServer::cleanTitle(const std::optional<QString>& title)
{
    if (!title)
        return std::nullopt;
    const QString trimmed = Characters::trimSpacesAndTabs(*title).toString();
    if (trimmed.isEmpty() || trimmed.startsWith(kParatext))
        return std::nullopt;
    return trimmed;
}

MCPServer::Value MCPServer::pageRef(const Page& page, const Book& book, Library& lib)
{
    const std::optional<QString> volume = volumeLabel(page.vol, book.id, lib);
    Value ref{
        {"book_id", book.id},
        {"book", Json::utf8(book.title)},
        {"seq", page.seq},
        {"citation", Json::utf8(citation(book, lib, volume, page.num, page.seq))},
    };
    if (const auto author = authorName(book, lib))
        ref["author"] = Json::utf8(*author);
    if (volume)
        ref["volume"] = Json::utf8(*volume);
    if (page.num)
        ref["page"] = *page.num;
    if (const TocNodePtr node = lib.chapter(book.id, page.seq)) {
        if (const auto chapter = cleanTitle(node->title))
            ref["chapter"] = Json::utf8(*chapter);
    }
    return ref;
}

QString MCPServer::marked(const QString& text, const QList<Term>& terms, const SearchEngine::Plan* asked)
{
    const SearchEngine::Snippet snippet = SearchEngine::snippet(text, terms, kMarkRadius, asked);
    QList<Arabic::Range> ranges = snippet.ranges;
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const Arabic::Range& a, const Arabic::Range& b) {
                         return a.location > b.location;
                     });
    QString out = snippet.text;
    qsizetype limit = std::numeric_limits<qsizetype>::max();
    for (const Arabic::Range& r : ranges) {
        // Marks go in from the end backwards, so earlier offsets stay valid; a
        // range reaching into the one marked before it is left unmarked.
        if (r.length < 1 || r.location + r.length > limit || r.location < 0
            || r.location + r.length > out.size())
            continue;
        out.insert(r.location + r.length, QStringLiteral("»"));
        out.insert(r.location, QStringLiteral("«"));
        limit = r.location;
    }
    return out;
}

QString MCPServer::norm(const QString& text)
{
    return Arabic::normalize(text, true).toLower();
}

bool MCPServer::matchesAll(const QString& normalized, const QString& query)
{
    const QStringList words = norm(query).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    for (const QString& word : words) {
        if (!normalized.contains(word))
            return false;
    }
    return true;
}

std::optional<std::int64_t> MCPServer::death(const Author* author)
{
    // 0 and 1 stand for an unknown year in the catalogue.
    if (author == nullptr || !author->death || *author->death == 0 || *author->death == 1)
        return std::nullopt;
    return author->death;
}

QString MCPServer::deathLabel(std::int64_t year)
{
    if (year < 0)
        return QString::number(-year) + QStringLiteral(" ق.هـ");
    return QString::number(year) + QStringLiteral(" هـ");
}

std::optional<QString> MCPServer::nonEmpty(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    const QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

const std::map<std::int64_t, QString>& MCPServer::fullNames(Library& lib)
{
    CatalogueCaches& cache = caches(lib);
    if (!cache.fullNames) {
        std::map<std::int64_t, QString> names;
        const auto rows = lib.main().rows(QStringLiteral(
            "SELECT id, full_name FROM authors WHERE full_name IS NOT NULL AND full_name<>''"));
        for (const Statement::Row& row : rows) {
            const auto id = row.integer(0);
            const auto name = row.str(1);
            if (id && name)
                names[*id] = *name;
        }
        cache.fullNames = std::move(names);
    }
    return *cache.fullNames;
}

std::optional<Category> MCPServer::category(const Book& book, Library& lib)
{
    CatalogueCaches& cache = caches(lib);
    if (!cache.bookCategory) {
        QHash<std::int64_t, Category> byBook;
        for (const Category& category : lib.catalog()->categories) {
            for (const std::int64_t id : category.bookIds)
                byBook.insert(id, category); // a book in several categories keeps the last
        }
        cache.bookCategory = std::move(byBook);
    }
    const auto it = cache.bookCategory->constFind(book.id);
    if (it == cache.bookCategory->constEnd())
        return std::nullopt;
    return *it;
}

std::optional<MCPServer::Value> MCPServer::authorInfo(std::optional<std::int64_t> authorId,
                                                      Library& lib)
{
    if (!authorId)
        return std::nullopt;
    const auto catalog = lib.catalog();
    const auto it = catalog->authors.constFind(*authorId);
    if (it == catalog->authors.constEnd())
        return std::nullopt;
    const Author& author = *it;
    Value info{{"author_id", author.id}, {"name", Json::utf8(author.name)}};
    const auto& names = fullNames(lib);
    if (const auto full = names.find(author.id); full != names.end() && full->second != author.name)
        info["full_name"] = Json::utf8(full->second);
    if (const auto year = death(&author)) {
        info["death_ah"] = *year;
        if (author.deathText) {
            const QString text = Arabic::latinDigits(*author.deathText);
            if (!text.isEmpty() && text != QString::number(*year))
                info["death_text"] = Json::utf8(text);
        }
    }
    return info;
}

} // namespace quorvel
