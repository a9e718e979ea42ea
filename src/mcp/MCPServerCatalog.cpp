// The tools that find their way through the catalogue: books by filters, the
// categories, authors by name, and computed data tables.

#include "mcp/MCPServer.h"

#include "assistant/DataQA.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Numbers.h"

#include <QSet>

#include <algorithm>

namespace quorvel {

namespace {

constexpr std::int64_t kDefaultBookLimit = 50;
constexpr std::int64_t kDefaultAuthorLimit = 20;
constexpr qsizetype kBooksPerAuthor = 50;

// The author's name and full name in the form names are matched in.
QString authorKey(const Author& author, Library& lib)
{
    const auto& names = MCPServer::fullNames(lib);
    const auto full = names.find(author.id);
    return MCPServer::norm(author.name + QLatin1Char(' ')
                           + (full != names.end() ? full->second : QString()));
}

} // namespace

MCPServer::Value MCPServer::bookRow(const Book& book, Library& lib)
{
    Value row{{"book_id", book.id}, {"title", Json::utf8(book.title)}};
    if (const auto author = authorName(book, lib))
        row["author"] = Json::utf8(*author);
    const std::optional<Author> record = lib.author(book);
    if (const auto year = death(record ? &*record : nullptr))
        row["death_ah"] = *year;
    if (const auto category = MCPServer::category(book, lib))
        row["category"] = Json::utf8(category->name);
    return row;
}

MCPServer::Value MCPServer::listBooks(const Args& args, Library& lib)
{
    const auto catalog = lib.catalog();
    QList<Book> books = catalog->books;

    std::optional<QString> category = args.text("category");
    if (!category) {
        // A blank text names no category; it must not read as "no filter".
        const auto member = args.d.find("category");
        if (member != args.d.end() && member->is_string())
            category = Json::qstr(member->get<std::string>());
    }
    if (category) {
        QSet<std::int64_t> allowed;
        if (const auto id = Numbers::parseInteger(Arabic::latinDigits(*category))) {
            const auto it = catalog->categoryById.constFind(*id);
            if (it == catalog->categoryById.constEnd())
                fail(QStringLiteral("لا يوجد قسم بالمعرف ") + QString::number(*id)
                     + QStringLiteral(". استعمل list_categories."));
            allowed = QSet<std::int64_t>(it->bookIds.begin(), it->bookIds.end());
        } else {
            bool any = false;
            for (const Category& c : catalog->categories) {
                if (matchesAll(norm(c.name), *category)) {
                    any = true;
                    for (const std::int64_t id : c.bookIds)
                        allowed.insert(id);
                }
            }
            if (!any)
                fail(QStringLiteral("لا يوجد قسم يطابق «") + *category
                     + QStringLiteral("». استعمل list_categories."));
        }
        books.removeIf([&](const Book& b) { return !allowed.contains(b.id); });
    }

    if (const auto author = args.str("author")) {
        books.removeIf([&](const Book& b) {
            if (!b.authorId)
                return true;
            const auto it = catalog->authors.constFind(*b.authorId);
            return it == catalog->authors.constEnd() || !matchesAll(authorKey(*it, lib), *author);
        });
    }

    if (const auto title = args.str("title_contains")) {
        books.removeIf([&](const Book& b) { return !matchesAll(norm(b.title), *title); });
    }

    const auto before = args.integer("death_before");
    const auto after = args.integer("death_after");
    if (before || after) {
        books.removeIf([&](const Book& b) {
            const std::optional<Author> author = lib.author(b);
            std::optional<std::int64_t> year = death(author ? &*author : nullptr);
            if (!year)
                year = b.bookDate;
            if (!year)
                return true;
            return (before && *year > *before) || (after && *year < *after);
        });
    }

    const auto total = static_cast<std::int64_t>(books.size());
    const std::int64_t offset = std::max<std::int64_t>(0, args.integer("offset").value_or(0));
    const std::int64_t limit = std::max<std::int64_t>(0, args.integer("limit").value_or(kDefaultBookLimit));
    const std::int64_t start = std::min(offset, total);
    const std::int64_t stop = std::min(total, start + limit);
    Value rows = Value::array();
    for (std::int64_t i = start; i < stop; ++i)
        rows.push_back(bookRow(books.at(i), lib));
    const std::int64_t count = stop - start;

    Value result{{"total", total}, {"offset", offset}, {"count", count}, {"books", std::move(rows)}};
    if (offset + count < total)
        result["next_offset"] = offset + count;
    return result;
}

MCPServer::Value MCPServer::listCategories(const Args&, Library& lib)
{
    const auto catalog = lib.catalog();
    Value categories = Value::array();
    for (const Category& c : catalog->categories) {
        categories.push_back(Value{{"id", c.id},
                                   {"name", Json::utf8(c.name)},
                                   {"book_count", c.bookIds.size()}});
    }
    return Value{{"count", catalog->categories.size()},
                 {"total_books", catalog->books.size()},
                 {"categories", std::move(categories)}};
}

MCPServer::Value MCPServer::findAuthor(const Args& args, Library& lib)
{
    const QString name = args.str("name").value_or(QString());
    if (Arabic::tokens(name).isEmpty())
        fail(QStringLiteral("الاسم «") + name + QStringLiteral("» لا يحوي حروفا قابلة للبحث."));
    const std::int64_t limit = std::max<std::int64_t>(0, args.integer("limit").value_or(kDefaultAuthorLimit));

    const auto catalog = lib.catalog();
    QHash<std::int64_t, QList<const Book*>> booksByAuthor;
    for (const Book& b : catalog->books) {
        if (b.authorId)
            booksByAuthor[*b.authorId].append(&b);
    }

    struct Match {
        const Author* author;
        std::int64_t year;
    };
    std::vector<Match> matches;
    for (const Author& author : catalog->authors) {
        if (matchesAll(authorKey(author, lib), name))
            matches.push_back({&author, death(&author).value_or(Library::undatedYear)});
    }
    // The author map has no order of its own; the id settles full ties so
    // that the same library always answers alike.
    std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        if (a.year != b.year)
            return a.year < b.year;
        if (a.author->name != b.author->name)
            return a.author->name < b.author->name;
        return a.author->id < b.author->id;
    });

    Value authors = Value::array();
    for (const Match& match : matches) {
        if (static_cast<std::int64_t>(authors.size()) >= limit)
            break;
        Value info = authorInfo(match.author->id, lib).value_or(Value::object());
        const QList<const Book*> own = booksByAuthor.value(match.author->id);
        Value list = Value::array();
        for (qsizetype i = 0; i < own.size() && i < kBooksPerAuthor; ++i)
            list.push_back(Value{{"book_id", own[i]->id}, {"title", Json::utf8(own[i]->title)}});
        info["book_count"] = own.size();
        info["books"] = std::move(list);
        authors.push_back(std::move(info));
    }
    return Value{{"total", matches.size()}, {"count", authors.size()}, {"authors", std::move(authors)}};
}

MCPServer::Value MCPServer::libraryData(const Args& args, Library& lib)
{
    const QString question = args.str("question").value_or(QString());
    const AIAnswer answer = DataQA::run(lib, question);
    if (answer.tables.isEmpty())
        fail(answer.text.isEmpty() ? QStringLiteral("لم أفهم المطلوب. جرب مثلا: عدد الكتب حسب القرن، أو: كم مرة وردت "
                                                    "كلمة الزكاة حسب القسم.")
                                   : answer.text);

    // Cells carry display digits grouped by "٬"; the client gets plain numbers.
    const auto cell = [](const QString& text) {
        QString latin = Arabic::latinDigits(text);
        latin.remove(QChar(0x066C));
        return Json::utf8(latin);
    };
    Value tables = Value::array();
    for (const DataTable& table : answer.tables) {
        Value columns = Value::array();
        for (const QString& c : table.columns)
            columns.push_back(cell(c));
        Value rows = Value::array();
        for (const QStringList& r : table.rows) {
            Value cells = Value::array();
            for (const QString& c : r)
                cells.push_back(cell(c));
            rows.push_back(std::move(cells));
        }
        Value t{{"title", Json::utf8(table.title)}, {"columns", std::move(columns)}, {"rows", std::move(rows)}};
        if (table.note)
            t["note"] = Json::utf8(*table.note);
        tables.push_back(std::move(t));
    }
    return Value{{"summary", Json::utf8(answer.text)},
                 {"source", Json::utf8(QStringLiteral("محسوب من فهرس مكتبة قورفل ونصوصها مباشرة"))},
                 {"tables", std::move(tables)}};
}

} // namespace quorvel
