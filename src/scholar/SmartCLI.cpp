#include "scholar/SmartCLI.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Numbers.h"
#include "core/SQLiteDB.h"
#include "scholar/Collate.h"
#include "scholar/Concordance.h"
#include "scholar/Genealogy.h"
#include "scholar/Isnad.h"
#include "scholar/TextReuse.h"
#include "search/HybridSearch.h"
#include "search/Lexical.h"
#include "search/SearchEngine.h"
#include "search/SemanticIndex.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <QSet>

#include <algorithm>
#include <chrono>
#include <limits>
#include <cstdio>
#include <memory>
#include <optional>

namespace quorvel::SmartCLI {

const QString usage = QStringLiteral(
    "الاستعمال: --smart <tool> <args>\n"
    "  semantic \"<q>\" [k] [books]  أقرب الصفحات بالمعنى (vector_topk)، books = 12,400\n"
    "  hybrid \"<q>\" [k]        البحث الهجين BM25 + المتّجهات (RRF)\n"
    "  lexical \"<q>\" [k]       البحث الكلمي BM25\n"
    "  related <word> [k]      كلمات ذات صلة\n"
    "  reuse <pageId>          مصادر النقل للصفحة\n"
    "  editions <bookId>       الطبعات الأخرى للكتاب\n"
    "  isnad <pageId>          سلسلة الإسناد + رواة الصفحة من الرسم\n"
    "  chain \"<text>\"          استخراج السلسلة من نصّ\n"
    "  narrator <id>           شيوخ الراوي وتلاميذه\n"
    "  morph <word>            التحليل الصرفي\n"
    "  genealogy \"<q>\"         شجرة المسألة عبر القرون\n"
    "  collate <pageId> <bookId>  مقابلة صفحة بطبعة أخرى\n"
    "  conc <word>             الكشّاف: صفحات وكتب اللفظ\n"
    "البيئة: QUORVEL_DB (مسار القاعدة)، QUORVEL_DATA (مجلّد المتّجهات)");

namespace {

const QString msgNoDatabase = QStringLiteral("تعذّر فتح القاعدة");
const QString msgNoVectors = QStringLiteral("المتّجهات غير متاحة في ");
const QString msgVectorsOfAnotherLibrary =
    QStringLiteral("متّجهات البحث بالمعنى لا تسمّي صفحة من صفحات هذه المكتبة (أعد بناءها بـ --build-vectors): ");
const QString msgLexicalOnly = QStringLiteral("البحث الهجين بالبحث النصي وحده: ");
const QString msgNoReuseData = QStringLiteral(
    "لا بيانات لمصادر النص في هذه المكتبة: ثبّت الكتب مع خيار «مصادر النص» في نافذة التنزيلات");

// The status of a library that cannot answer, told apart from a bad request.
constexpr int kLibraryFault = 1;

constexpr int kDefaultSemanticK = SemanticIndex::defaultK;
constexpr int kDefaultListK = 20;
constexpr int kDefaultRelatedK = SemanticIndex::defaultRelated;
constexpr int kReuseLimit = 10;
constexpr int kEditionsLimit = 5;
constexpr double kEditionsMinFrac = 0.4;
constexpr int kConcordanceTop = 10;

double elapsedMs(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

Json::Value optionalText(const std::optional<QString>& text)
{
    return text ? Json::Value(Json::utf8(*text)) : Json::Value(nullptr);
}

Json::Value optionalInt(const std::optional<std::int64_t>& value)
{
    return value ? Json::Value(*value) : Json::Value(nullptr);
}

// A tool's list argument below 0 asks for nothing rather than for everything.
int count(std::optional<std::int64_t> k, int fallback)
{
    if (!k)
        return fallback;
    return int(std::clamp<std::int64_t>(*k, 0, std::numeric_limits<int>::max()));
}

// What is wrong with the library, in Arabic, SQLite's own words in brackets.
const QString msgNotALibrary = QStringLiteral("القاعدة ليست مكتبة كتب: ينقصها جدول أو عمود تحتاجه الأداة (");
const QString msgDamaged = QStringLiteral("ملف القاعدة تالف (");
const QString msgUnreadable = QStringLiteral("تعذّرت القراءة من القاعدة (");

QString faultText(const SQLFailure& failure)
{
    const QString& lead = failure.kind == SQLFailure::Kind::schema    ? msgNotALibrary
                          : failure.kind == SQLFailure::Kind::damaged ? msgDamaged
                                                                      : msgUnreadable;
    return lead + failure.message + u')';
}

bool hasTable(SQLiteDB& db, const QString& name)
{
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type IN ('table','view') AND name=?"),
                        {name})
               .value_or(0)
        > 0;
}

// Whether the page vectors can answer for this library: some vector names
// one of its pages, or it has no page at all. Vectors built for another
// library would otherwise answer every question with nothing.
bool vectorsFitLibrary(const SemanticIndex& index, SQLiteDB& db)
{
    auto page = db.prepare(QStringLiteral("SELECT 1 FROM pages WHERE id=?"));
    if (!page)
        return true; // the caller's check of the library reports it
    for (const std::int64_t id : index.ids()) {
        page->bind({id});
        if (page->step())
            return true;
    }
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM pages LIMIT 1)")).value_or(0) == 0;
}

// The words the search planner takes, so that no tool works through a
// request the planner would refuse.
std::optional<QString> refusal(const QString& query)
{
    SearchQuery request;
    request.andPhrases = {query};
    return SearchEngine::refusal(request);
}

} // namespace

void warn(const QString& message)
{
    const QByteArray bytes = message.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int fail(const QString& message)
{
    warn(message);
    return 2;
}

int emitJSON(const Json::Value& object)
{
    std::string text;
    try {
        text = Json::dump(object);
    } catch (const std::exception&) {
        return fail(QStringLiteral("JSON"));
    }
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return 0;
}

double ms(double milliseconds)
{
    return QString::asprintf("%.1f", milliseconds).toDouble();
}

Json::Value timed(const std::function<Json::Value()>& work)
{
    QElapsedTimer timer;
    timer.start();
    Json::Value object = work();
    object["ms"] = ms(elapsedMs(timer));
    return object;
}

Json::Value morphJSON(const MorphResult& result)
{
    auto parts = [](const QList<MorphResult::Part>& list) {
        Json::Value out = Json::Value::array();
        for (const auto& p : list)
            out.push_back({{"t", Json::utf8(p.t)}, {"g", Json::utf8(p.g)}});
        return out;
    };
    return {{"word", Json::utf8(result.word)}, {"norm", Json::utf8(result.norm)},
            {"stem", Json::utf8(result.stem)}, {"root", Json::utf8(result.root)},
            {"pos", Json::utf8(result.pos)},   {"prefix", parts(result.prefix)},
            {"suffix", parts(result.suffix)}};
}

namespace {

// One run of a tool over the library: its arguments, the open library, and
// the checks and loads its handlers share.
class Session {
public:
    Session(QStringList rest, QString path, std::shared_ptr<SQLiteDB> db)
        : rest_(std::move(rest)), path_(std::move(path)), db_(std::move(db))
    {
    }

    std::optional<QString> text(qsizetype i) const
    {
        return i < rest_.size() ? std::optional<QString>(rest_[i]) : std::nullopt;
    }
    std::optional<std::int64_t> integer(qsizetype i) const
    {
        return i < rest_.size() ? Numbers::parseInteger(rest_[i]) : std::optional<std::int64_t>();
    }
    SQLiteDB& db() const { return *db_; }

    QString dataDir() const
    {
        return qEnvironmentVariableIsSet("QUORVEL_DATA") ? qEnvironmentVariable("QUORVEL_DATA")
                                                         : QFileInfo(QFileInfo(path_).canonicalFilePath()).path();
    }

    // A statement error never passes for the end of the rows: a result read
    // from a broken library is not printed.
    int finish(const Json::Value& object) const
    {
        if (const auto failure = db_->failure()) {
            fail(faultText(*failure));
            return kLibraryFault;
        }
        return emitJSON(object);
    }

    // Another program's database, or an empty one, is named as such before
    // any tool's statements fail on it one by one.
    std::optional<int> notALibrary() const
    {
        static const QStringList needed{QStringLiteral("books"), QStringLiteral("pages"), QStringLiteral("pages_fts")};
        for (const QString& table : needed) {
            if (!hasTable(*db_, table)) {
                const auto failure = db_->failure();
                fail(failure ? faultText(*failure)
                             : faultText({SQLFailure::Kind::schema, QStringLiteral("no such table: ") + table}));
                return kLibraryFault;
            }
        }
        return std::nullopt;
    }

    // The tools over shared passages read the shingles installs store only
    // when asked to; without them every answer would be empty.
    std::optional<int> withoutReuseData() const
    {
        if (const auto fault = notALibrary())
            return fault;
        if (hasTable(*db_, QStringLiteral("shingles"))
            && !db_->rows(QStringLiteral("SELECT 1 FROM shingles LIMIT 1")).isEmpty())
            return std::nullopt;
        const auto failure = db_->failure();
        fail(failure && failure->kind == SQLFailure::Kind::damaged ? faultText(*failure) : msgNoReuseData);
        return kLibraryFault;
    }

    // The page vectors of the data folder, timed into loadMs; why they could
    // not be loaded goes to whyNoIndex.
    std::shared_ptr<const SemanticIndex> loadIndex()
    {
        QElapsedTimer timer;
        timer.start();
        auto index = SemanticIndex::load(dataDir(), &whyNoIndex);
        loadMs = ms(elapsedMs(timer));
        return index;
    }

    double loadMs = 0;
    QString whyNoIndex;

private:
    const QStringList rest_;
    const QString path_;
    const std::shared_ptr<SQLiteDB> db_;
};

int semantic(Session& s)
{
    std::optional<QSet<std::int64_t>> scope;
    if (const auto books = s.text(2)) {
        scope.emplace();
        for (const QString& piece : books->split(u',', Qt::SkipEmptyParts))
            if (const auto id = Numbers::parseInteger(piece))
                scope->insert(*id);
    }
    const auto index = s.loadIndex();
    if (!index)
        return fail(msgNoVectors + s.dataDir());
    Json::Value out = timed([&] {
        Json::Value results = Json::Value::array();
        for (const auto& hit : index->search(*s.text(0), count(s.integer(1), kDefaultSemanticK), scope, &s.db()))
            results.push_back({{"page_id", hit.pageId}, {"score", double(hit.score)}});
        return Json::Value{{"results", results}};
    });
    // Nothing found is an answer only from vectors of this library.
    if (out.at("results").empty() && !vectorsFitLibrary(*index, s.db()))
        return fail(msgVectorsOfAnotherLibrary + s.dataDir());
    out["load_ms"] = s.loadMs;
    return s.finish(out);
}

int hybrid(Session& s)
{
    auto index = s.loadIndex();
    // The lexical half still answers, and the reader is told it alone did.
    if (!index)
        warn(msgLexicalOnly + msgNoVectors + s.dataDir() + QStringLiteral(" (") + s.whyNoIndex + u')');
    else if (!vectorsFitLibrary(*index, s.db()))
        warn(msgLexicalOnly + msgVectorsOfAnotherLibrary + s.dataDir());
    Json::Value out = timed([&] {
        Json::Value results = Json::Value::array();
        for (const auto& hit : hybridSearch(s.db(), index.get(), *s.text(0), count(s.integer(1), kDefaultListK),
                                            Hybrid::defaultRRF, Hybrid::defaultPool))
            results.push_back({{"page_id", hit.pageId}, {"book_id", hit.bookId}, {"seq", hit.seq},
                               {"src", Json::utf8(hit.src)}, {"score", hit.score},
                               {"book_title", Json::utf8(hit.bookTitle)}});
        return Json::Value{{"results", results}};
    });
    out["load_ms"] = s.loadMs;
    return s.finish(out);
}

int lexical(Session& s)
{
    return s.finish(timed([&] {
        Json::Value results = Json::Value::array();
        for (const auto& hit :
             Lexical::search(s.db(), *s.text(0), count(s.integer(1), kDefaultListK), 0, QStringLiteral("AND")))
            results.push_back({{"page_id", hit.pageId}, {"book_id", hit.bookId}, {"seq", hit.seq},
                               {"rank", hit.rank}, {"snip", Json::utf8(hit.snippet)}});
        return Json::Value{{"results", results}};
    }));
}

int related(Session& s)
{
    const auto index = s.loadIndex();
    if (!index)
        return fail(msgNoVectors + s.dataDir());
    Json::Value out = timed([&] {
        Json::Value words = Json::Value::array();
        for (const auto& r : index->related(*s.text(0), count(s.integer(1), kDefaultRelatedK)))
            words.push_back({{"t", Json::utf8(r.word)}, {"s", double(r.score)}});
        return Json::Value{{"related", words}};
    });
    out["load_ms"] = s.loadMs;
    return s.finish(out);
}

int reuse(Session& s)
{
    return s.finish(timed([&] {
        Json::Value results = Json::Value::array();
        for (const auto& hit : TextReuse::sources(s.db(), *s.integer(0), TextReuse::minShared, kReuseLimit))
            results.push_back({{"page_id", hit.pageId}, {"book_id", hit.bookId}, {"seq", hit.seq},
                               {"book_title", Json::utf8(hit.bookTitle)}, {"author", optionalText(hit.author)},
                               {"vol", optionalText(hit.vol)}, {"page_num", optionalInt(hit.pageNum)},
                               {"shared", hit.shared}, {"phrase", Json::utf8(hit.phrase)}});
        return Json::Value{{"results", results}};
    }));
}

int editions(Session& s)
{
    return s.finish(timed([&] {
        Json::Value results = Json::Value::array();
        for (const auto& hit : TextReuse::editions(s.db(), *s.integer(0), kEditionsMinFrac, kEditionsLimit))
            results.push_back({{"book_id", hit.bookId}, {"title", Json::utf8(hit.title)},
                               {"author", optionalText(hit.author)}, {"pct", hit.pct}});
        return Json::Value{{"results", results}};
    }));
}

int isnad(Session& s)
{
    return s.finish(timed([&] {
        const std::int64_t pageId = *s.integer(0);
        // The page is read first, so that a library whose pages cannot be
        // read says so instead of printing an empty chain.
        const auto rows = s.db().rows(QStringLiteral("SELECT content FROM pages WHERE id=?"), {pageId});
        const QString content = rows.isEmpty() ? QString() : rows.first().str(0).value_or(QString());
        // What the library stores for the page, and nothing for a page it
        // read no chain on (a takhrij line's «حدثنا» opens none).
        const auto stored = Isnad::storedLinks(s.db(), pageId);
        const bool has = !stored.isEmpty();
        Json::Value links = Json::Value::array();
        for (const auto& [student, teacher] : stored)
            links.push_back({{"student", Json::utf8(student.name)}, {"student_id", student.id},
                             {"teacher", Json::utf8(teacher.name)}, {"teacher_id", teacher.id}});
        Json::Value narrators = Json::Value::array();
        if (has)
            for (const auto& n : Isnad::narrators(s.db(), pageId))
                narrators.push_back({{"id", n.id}, {"name", Json::utf8(n.name)}});
        return Json::Value{{"has_isnad", has},
                           {"chain", Json::toJson(has ? Isnad::chain(content) : QStringList())},
                           {"links", links},
                           {"narrators", narrators}};
    }));
}

int narrator(Session& s)
{
    return s.finish(timed([&] {
        auto list = [](const QList<Isnad::LinkedNarrator>& linked) {
            Json::Value out = Json::Value::array();
            for (const auto& n : linked)
                out.push_back({{"id", n.id}, {"name", Json::utf8(n.name)}, {"count", n.count}});
            return out;
        };
        const Isnad::Links links = Isnad::links(s.db(), *s.integer(0));
        return Json::Value{{"name", optionalText(Isnad::name(s.db(), *s.integer(0)))},
                           {"teachers", list(links.teachers)},
                           {"students", list(links.students)}};
    }));
}

int genealogy(Session& s)
{
    return s.finish(timed([&] {
        const auto result =
            Genealogy::run(s.db(), *s.text(0), Genealogy::defaultPool, Genealogy::minShared, Genealogy::maxBooks);
        if (!result)
            return Json::Value{{"result", nullptr}};
        if (result->particles)
            return Json::Value{{"q", Json::utf8(result->query)}, {"nodes", Json::Value::array()},
                               {"edges", Json::Value::array()}, {"note", Json::utf8(Genealogy::particlesNote(result->query))}};
        Json::Value nodes = Json::Value::array();
        for (const auto& n : result->nodes)
            nodes.push_back({{"book_id", n.bookId}, {"title", Json::utf8(n.title)},
                             {"death_year", optionalInt(n.deathYear)}, {"page_id", n.pageId},
                             {"seq", n.seq}, {"snip", Json::utf8(n.snippet)}});
        Json::Value edges = Json::Value::array();
        for (const auto& e : result->edges)
            edges.push_back({{"from", e.from}, {"to", e.to}, {"shared", e.shared}});
        return Json::Value{{"q", Json::utf8(result->query)}, {"nodes", nodes}, {"edges", edges}};
    }));
}

int collate(Session& s)
{
    return s.finish(timed([&] {
        const auto result = Collate::run(s.db(), *s.integer(0), *s.integer(1));
        if (!result)
            return Json::Value{{"result", nullptr}};
        Json::Value ops = Json::Value::array();
        for (const auto& op : result->ops)
            ops.push_back({{"tag", Json::utf8(op.tag)}, {"a", Json::utf8(op.a)}, {"b", Json::utf8(op.b)}});
        return Json::Value{{"ratio", result->ratio},
                           {"other",
                            {{"page_id", result->otherPageId},
                             {"book_id", result->otherBookId},
                             {"seq", result->otherSeq},
                             {"page_num", optionalInt(result->otherPageNum)},
                             {"title", Json::utf8(result->otherTitle)}}},
                           {"ops", ops}};
    }));
}

int concordance(Session& s)
{
    return s.finish(timed([&] {
        const Concordance::Result r = Concordance::lookup(s.db(), *s.text(0), kConcordanceTop);
        Json::Value top = Json::Value::array();
        for (const auto& b : r.top)
            top.push_back(Json::Value::array({b.bookId, b.count}));
        return Json::Value{{"norm", Json::utf8(Arabic::normalize(*s.text(0), true))},
                           {"pages", r.pages},
                           {"books", r.books},
                           {"top", top}};
    }));
}

int morph(const QString& word)
{
    return emitJSON(timed([&] { return morphJSON(Morph::analyze(word)); }));
}

int chain(const QString& text)
{
    return emitJSON(timed([&] {
        return Json::Value{{"chain", Json::toJson(Isnad::chain(text))}, {"has_isnad", Isnad::hasIsnad(text)}};
    }));
}

// What a tool takes: a text (a query or a word, checked as the search planner
// would), a page or book id, or two ids.
enum class Takes { text, id, twoIds };
// What the library must hold before the tool runs.
enum class Needs { nothing, library, reuseData };

struct LibraryTool {
    const char* name;
    Takes takes;
    Needs needs;
    int (*handler)(Session&);
};

constexpr LibraryTool kLibraryTools[] = {
    {"semantic", Takes::text, Needs::library, semantic},     {"hybrid", Takes::text, Needs::library, hybrid},
    {"lexical", Takes::text, Needs::library, lexical},       {"related", Takes::text, Needs::nothing, related},
    {"reuse", Takes::id, Needs::reuseData, reuse},           {"editions", Takes::id, Needs::reuseData, editions},
    {"isnad", Takes::id, Needs::library, isnad},             {"narrator", Takes::id, Needs::library, narrator},
    {"genealogy", Takes::text, Needs::reuseData, genealogy}, {"collate", Takes::twoIds, Needs::reuseData, collate},
    {"conc", Takes::text, Needs::library, concordance},
};

// The tools that read no library, run before one is looked for.
struct TextTool {
    const char* name;
    int (*handler)(const QString&);
};

constexpr TextTool kTextTools[] = {{"morph", morph}, {"chain", chain}};

bool hasArguments(const LibraryTool& tool, const Session& s)
{
    switch (tool.takes) {
    case Takes::text:
        return s.text(0).has_value();
    case Takes::id:
        return s.integer(0).has_value();
    case Takes::twoIds:
        return s.integer(0) && s.integer(1);
    }
    return false;
}

// Runs a library tool whose arguments are there: the planner's refusal of
// its text first, then what it needs of the library, then the tool.
int runLibraryTool(const LibraryTool& tool, Session& s)
{
    if (tool.takes == Takes::text)
        if (const auto refused = refusal(*s.text(0)))
            return fail(*refused);
    const std::optional<int> fault = tool.needs == Needs::library ? s.notALibrary()
        : tool.needs == Needs::reuseData                          ? s.withoutReuseData()
                                                                  : std::nullopt;
    return fault ? *fault : tool.handler(s);
}

} // namespace

int run(const QStringList& args)
{
    const qsizetype at = args.indexOf(QStringLiteral("--smart"));
    if (at < 0 || at + 1 >= args.size())
        return fail(usage);
    const QString tool = args[at + 1];
    const QStringList rest = args.mid(at + 2);

    if (!rest.isEmpty())
        for (const TextTool& t : kTextTools)
            if (tool == QLatin1String(t.name))
                return t.handler(rest.first());

    std::optional<QString> path;
    if (qEnvironmentVariableIsSet("QUORVEL_DB"))
        path = qEnvironmentVariable("QUORVEL_DB");
    else
        path = Library::locateDatabase();
    if (!path)
        return fail(msgNoDatabase);
    // The path goes into the URI escaped, so any file name opens that file.
    const std::shared_ptr<SQLiteDB> db = SQLiteDB::open(Library::readOnlyUri(*path), true);
    if (!db || !db->exec(QStringLiteral("SELECT 1 FROM sqlite_master LIMIT 1")))
        return fail(msgNoDatabase);

    Session session(rest, *path, db);
    for (const LibraryTool& t : kLibraryTools)
        if (tool == QLatin1String(t.name) && hasArguments(t, session))
            return runLibraryTool(t, session);
    return fail(usage);
}

} // namespace quorvel::SmartCLI
