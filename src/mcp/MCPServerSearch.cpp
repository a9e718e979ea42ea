// The search tool: tool arguments become one search request, run on the
// server's thread under a time limit that the run itself watches.

#include "mcp/MCPServer.h"

#include "core/CountedNoun.h"
#include "core/Library.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

#include <QSet>

#include <algorithm>

namespace quorvel {

namespace {

constexpr std::int64_t kDefaultLimit = 20;

const char* const kLimitNote =
    "بلغت النتائج الحد limit وقد توجد غيرها؛ ضيق بـ book_ids أو category_id أو all_of، أو زد limit.";

// Wildcard words that reach too many index terms match nothing: the client is
// told so, or it would read "no results" as the books lacking the word.
QString tooBroadNote(const QStringList& patterns)
{
    return QStringLiteral("النمط «") + patterns.join(QStringLiteral("»، «"))
           + QStringLiteral("» واسع جدا فلم يُبحث به: أضف إليه حروفا.");
}

// The phrases of a list that hold at least one searchable word.
QStringList searchable(const QStringList& phrases)
{
    QStringList kept;
    for (const QString& phrase : phrases) {
        if (!Arabic::tokens(phrase).isEmpty())
            kept << phrase;
    }
    return kept;
}

// The request the tool's arguments make, its scope aside.
SearchQuery searchQuery(const MCPServer::Args& args)
{
    const QString text = args.str("query").value_or(QString());
    if (Arabic::tokens(text).isEmpty())
        MCPServer::fail(QStringLiteral("الاستعلام «") + text + QStringLiteral("» لا يحوي كلمات قابلة للبحث."));

    SearchQuery query;
    query.andPhrases = QStringList{text} + searchable(args.strs("all_of"));
    query.orPhrases = searchable(args.strs("any_of"));
    query.notPhrases = searchable(args.strs("none_of"));
    query.inMatn = true;
    query.inHawashi = args.boolean("in_footnotes").value_or(true);
    query.inNotes = false;
    query.inTitles = false;
    query.morph = args.boolean("morph").value_or(false);
    query.affix = args.boolean("affix").value_or(false);
    return query;
}

// The books searched: the known ones of "book_ids" (the unknown ones go to
// the result), within the category of "category_id"; nothing for every book.
std::optional<QSet<std::int64_t>> searchScope(const MCPServer::Args& args, const Catalog& catalog,
                                              MCPServer::Value& result)
{
    std::optional<QSet<std::int64_t>> scope;
    const QList<std::int64_t> ids = args.ints("book_ids");
    if (!ids.isEmpty()) {
        QSet<std::int64_t> known;
        MCPServer::Value unknown = MCPServer::Value::array();
        for (const std::int64_t id : ids) {
            if (catalog.bookById.contains(id))
                known.insert(id);
            else
                unknown.push_back(id);
        }
        if (known.isEmpty())
            MCPServer::fail(QStringLiteral("لا يوجد أي كتاب بالمعرفات المعطاة. استعمل list_books أو find_author."));
        if (!unknown.empty())
            result["unknown_book_ids"] = std::move(unknown);
        scope = known;
    }

    if (const auto categoryId = args.integer("category_id")) {
        const auto it = catalog.categoryById.constFind(*categoryId);
        if (it == catalog.categoryById.constEnd())
            MCPServer::fail(QStringLiteral("لا يوجد قسم بالمعرف ") + QString::number(*categoryId)
                            + QStringLiteral(". استعمل list_categories."));
        const QSet<std::int64_t> members(it->bookIds.begin(), it->bookIds.end());
        scope = scope ? scope->intersect(members) : members;
    }
    return scope;
}

// What the search found, and how it ended.
struct Found {
    QList<SearchHit> hits;
    bool timedOut = false;
    QStringList tooBroad;
};

// Runs the search under the time limit; an empty scope searches nothing.
// The total goes to the result whenever one can be given.
Found runSearch(const SearchQuery& query, std::int64_t limit, bool scoped, Library& lib, MCPServer::Value& result)
{
    Found found;
    if (query.scope && query.scope->isEmpty())
        return found;
    SearchEngine engine(lib);
    engine.run(query, static_cast<int>(limit),
               [&](const QList<SearchHit>& batch, bool) { found.hits += batch; },
               Deadline::in(MCPServer::searchTimeout()));
    found.timedOut = engine.timedOut();
    found.tooBroad = engine.tooBroad();
    // The run counted the rows of the expression it searched, which is the
    // total whenever one can be given: no second plan, no second pass.
    if (!scoped && !found.timedOut)
        if (const auto total = engine.matchTotal())
            result["total_matches"] = *total;
    return found;
}

// The first `limit` hits as page references with their snippets; a hit
// whose page or book is gone is left out.
MCPServer::Value searchResults(const SearchQuery& query, const QList<SearchHit>& hits, std::int64_t limit,
                               const Catalog& catalog, Library& lib)
{
    const QList<MCPServer::Term> terms = query.highlightTerms();
    // Mark only the hamza forms the search counted, not every spelling of the word.
    std::optional<SearchEngine::Plan> asked;
    if (query.hamza)
        asked = SearchEngine::plan(query);
    MCPServer::Value results = MCPServer::Value::array();
    const qsizetype take = std::min<qsizetype>(hits.size(), limit);
    QList<std::int64_t> pageIds;
    pageIds.reserve(take);
    for (qsizetype i = 0; i < take; ++i)
        pageIds << hits.at(i).pageId;
    const QHash<std::int64_t, Page> pages = lib.pages(pageIds);
    for (qsizetype i = 0; i < take; ++i) {
        const SearchHit& hit = hits.at(i);
        const auto page = pages.constFind(hit.pageId);
        const auto book = catalog.bookById.constFind(hit.bookId);
        if (page == pages.constEnd() || book == catalog.bookById.constEnd())
            continue;
        MCPServer::Value ref = MCPServer::pageRef(*page, *book, lib);
        ref["snippet"] = Json::utf8(MCPServer::marked(page->content, terms, asked ? &*asked : nullptr));
        results.push_back(std::move(ref));
    }
    return results;
}

// The advice for the client: a time-out, patterns too broad, no results,
// or results that reached the limit; nothing otherwise.
std::optional<QString> searchNote(const SearchQuery& query, const Found& found, std::int64_t count,
                                  std::int64_t limit)
{
    if (found.timedOut) {
        // "بعد ٠ ثانية", "بعد ٠٫٥ ثانية", "بعد ٥ ثوان": the count after بعد.
        static const CountedNoun seconds(QStringLiteral("ثانية"), QStringLiteral("ثانيتان"), QStringLiteral("ثوان"),
                                         QStringLiteral("ثانية"));
        const double timeout = MCPServer::searchTimeout();
        return QStringLiteral("توقف البحث بعد ")
               + seconds.measure(timeout, CountedNoun::Case::genitive, QString::asprintf("%g", timeout))
               + QStringLiteral("؛ النتائج جزئية. ضيق البحث بـ book_ids أو category_id.");
    }
    if (!found.tooBroad.isEmpty()) {
        QString note = tooBroadNote(found.tooBroad);
        if (count >= limit)
            note += u' ' + QString::fromUtf8(kLimitNote);
        return note;
    }
    if (count == 0)
        return query.morph || query.affix
                   ? QStringLiteral("لا نتائج. جرب صيغة أخرى للكلمة أو أزل all_of وnone_of.")
                   : QStringLiteral("لا نتائج. جرب affix=true (الكلمة بلواصقها) أو morph=true (بحث صرفي).");
    if (count >= limit)
        return QString::fromUtf8(kLimitNote);
    return std::nullopt;
}

} // namespace

MCPServer::Value MCPServer::searchLibrary(const Args& args, Library& lib)
{
    SearchQuery query = searchQuery(args);
    Value result = Value::object();
    const auto catalog = lib.catalog();
    const std::optional<QSet<std::int64_t>> scope = searchScope(args, *catalog, result);
    if (scope) {
        QList<std::int64_t> list(scope->begin(), scope->end());
        std::sort(list.begin(), list.end());
        query.scope = list;
    }
    if (const auto refused = SearchEngine::refusal(query))
        fail(*refused);
    const std::int64_t limit = args.integer("limit").value_or(kDefaultLimit);
    result["query"] = Json::utf8(query.title());

    const Found found = runSearch(query, limit, scope.has_value(), lib, result);
    Value results = searchResults(query, found.hits, limit, *catalog, lib);
    const auto count = static_cast<std::int64_t>(results.size());
    // A hit left out makes the index's count one of pages the results cannot show.
    if (count < std::min<qsizetype>(found.hits.size(), limit))
        result.erase("total_matches");
    result["count"] = count;
    result["results"] = std::move(results);
    if (found.timedOut)
        result["timed_out"] = true;
    if (const std::optional<QString> note = searchNote(query, found, count, limit))
        result["note"] = Json::utf8(*note);
    return result;
}

} // namespace quorvel
