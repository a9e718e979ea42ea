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
const QString msgNotALibrary = QStringLiteral("القاعدة ليست مكتبة كتب: ينقصها جدول أو عمود تحتاجه الأداة (");
const QString msgDamaged = QStringLiteral("ملف القاعدة تالف (");
const QString msgUnreadable = QStringLiteral("تعذّرت القراءة من القاعدة (");
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

int run(const QStringList& args)
{
    const qsizetype at = args.indexOf(QStringLiteral("--smart"));
    if (at < 0 || at + 1 >= args.size())
        return fail(usage);
    const QString tool = args[at + 1];
    const QStringList rest = args.mid(at + 2);
    auto text = [&](qsizetype i) { return i < rest.size() ? std::optional<QString>(rest[i]) : std::nullopt; };
    auto integer = [&](qsizetype i) {
        return i < rest.size() ? Numbers::parseInteger(rest[i]) : std::optional<std::int64_t>();
    };

    if (tool == QLatin1String("morph") && text(0))
        return emitJSON(timed([&] { return morphJSON(Morph::analyze(*text(0))); }));
    if (tool == QLatin1String("chain") && text(0)) {
        return emitJSON(timed([&] {
            return Json::Value{{"chain", Json::toJson(Isnad::chain(*text(0)))},
                               {"has_isnad", Isnad::hasIsnad(*text(0))}};
        }));
    }

    std::optional<QString> path;
    if (qEnvironmentVariableIsSet("QUORVEL_DB"))
        path = qEnvironmentVariable("QUORVEL_DB");
    else
        path = Library::locateDatabase();
    if (!path)
        return fail(msgNoDatabase);
    // The path goes into the URI escaped, so any file name opens that file.
    const auto db = SQLiteDB::open(Library::readOnlyUri(*path), true);
    if (!db || !db->exec(QStringLiteral("SELECT 1 FROM sqlite_master LIMIT 1")))
        return fail(msgNoDatabase);
    // A statement error never passes for the end of the rows: a result read
    // from a broken library is not printed.
    auto finish = [&](const Json::Value& object) {
        if (const auto failure = db->failure()) {
            fail(faultText(*failure));
            return kLibraryFault;
        }
        return emitJSON(object);
    };
    // Another program's database, or an empty one, is named as such before
    // any tool's statements fail on it one by one.
    auto notALibrary = [&]() -> std::optional<int> {
        static const QStringList needed{QStringLiteral("books"), QStringLiteral("pages"), QStringLiteral("pages_fts")};
        for (const QString& table : needed) {
            if (!hasTable(*db, table)) {
                const auto failure = db->failure();
                fail(failure ? faultText(*failure)
                             : faultText({SQLFailure::Kind::schema, QStringLiteral("no such table: ") + table}));
                return kLibraryFault;
            }
        }
        return std::nullopt;
    };
    // The tools over shared passages read the shingles installs store only
    // when asked to; without them every answer would be empty.
    auto withoutReuseData = [&]() -> std::optional<int> {
        if (const auto fault = notALibrary())
            return fault;
        if (hasTable(*db, QStringLiteral("shingles"))
            && !db->rows(QStringLiteral("SELECT 1 FROM shingles LIMIT 1")).isEmpty())
            return std::nullopt;
        const auto failure = db->failure();
        fail(failure && failure->kind == SQLFailure::Kind::damaged ? faultText(*failure) : msgNoReuseData);
        return kLibraryFault;
    };
    static const QStringList queryTools{QStringLiteral("semantic"), QStringLiteral("hybrid"),
                                        QStringLiteral("lexical"),  QStringLiteral("related"),
                                        QStringLiteral("genealogy"), QStringLiteral("conc")};
    if (queryTools.contains(tool) && text(0)) {
        if (const auto refused = refusal(*text(0)))
            return fail(*refused);
    }
    const QString dataDir = qEnvironmentVariableIsSet("QUORVEL_DATA")
        ? qEnvironmentVariable("QUORVEL_DATA")
        : QFileInfo(QFileInfo(*path).canonicalFilePath()).path();

    double loadMs = 0;
    QString whyNoIndex;
    auto loadIndex = [&] {
        QElapsedTimer timer;
        timer.start();
        auto index = SemanticIndex::load(dataDir, &whyNoIndex);
        loadMs = ms(elapsedMs(timer));
        return index;
    };

    if (tool == QLatin1String("semantic") && text(0)) {
        if (const auto fault = notALibrary())
            return *fault;
        std::optional<QSet<std::int64_t>> scope;
        if (const auto books = text(2)) {
            scope.emplace();
            for (const QString& piece : books->split(u',', Qt::SkipEmptyParts))
                if (const auto id = Numbers::parseInteger(piece))
                    scope->insert(*id);
        }
        const auto index = loadIndex();
        if (!index)
            return fail(msgNoVectors + dataDir);
        Json::Value out = timed([&] {
            Json::Value results = Json::Value::array();
            for (const auto& hit : index->search(*text(0), count(integer(1), kDefaultSemanticK), scope, db.get()))
                results.push_back({{"page_id", hit.pageId}, {"score", double(hit.score)}});
            return Json::Value{{"results", results}};
        });
        // Nothing found is an answer only from vectors of this library.
        if (out.at("results").empty() && !vectorsFitLibrary(*index, *db))
            return fail(msgVectorsOfAnotherLibrary + dataDir);
        out["load_ms"] = loadMs;
        return finish(out);
    }
    if (tool == QLatin1String("hybrid") && text(0)) {
        if (const auto fault = notALibrary())
            return *fault;
        auto index = loadIndex();
        // The lexical half still answers, and the reader is told it alone did.
        if (!index)
            warn(msgLexicalOnly + msgNoVectors + dataDir + QStringLiteral(" (") + whyNoIndex + u')');
        else if (!vectorsFitLibrary(*index, *db))
            warn(msgLexicalOnly + msgVectorsOfAnotherLibrary + dataDir);
        Json::Value out = timed([&] {
            Json::Value results = Json::Value::array();
            for (const auto& hit : hybridSearch(*db, index.get(), *text(0), count(integer(1), kDefaultListK),
                                                Hybrid::defaultRRF, Hybrid::defaultPool))
                results.push_back({{"page_id", hit.pageId}, {"book_id", hit.bookId}, {"seq", hit.seq},
                                   {"src", Json::utf8(hit.src)}, {"score", hit.score},
                                   {"book_title", Json::utf8(hit.bookTitle)}});
            return Json::Value{{"results", results}};
        });
        out["load_ms"] = loadMs;
        return finish(out);
    }
    if (tool == QLatin1String("lexical") && text(0)) {
        if (const auto fault = notALibrary())
            return *fault;
        return finish(timed([&] {
            Json::Value results = Json::Value::array();
            for (const auto& hit :
                 Lexical::search(*db, *text(0), count(integer(1), kDefaultListK), 0, QStringLiteral("AND")))
                results.push_back({{"page_id", hit.pageId}, {"book_id", hit.bookId}, {"seq", hit.seq},
                                   {"rank", hit.rank}, {"snip", Json::utf8(hit.snippet)}});
            return Json::Value{{"results", results}};
        }));
    }
    if (tool == QLatin1String("related") && text(0)) {
        const auto index = loadIndex();
        if (!index)
            return fail(msgNoVectors + dataDir);
        Json::Value out = timed([&] {
            Json::Value related = Json::Value::array();
            for (const auto& r : index->related(*text(0), count(integer(1), kDefaultRelatedK)))
                related.push_back({{"t", Json::utf8(r.word)}, {"s", double(r.score)}});
            return Json::Value{{"related", related}};
        });
        out["load_ms"] = loadMs;
        return finish(out);
    }
    if (tool == QLatin1String("reuse") && integer(0)) {
        if (const auto fault = withoutReuseData())
            return *fault;
        return finish(timed([&] {
            Json::Value results = Json::Value::array();
            for (const auto& hit : TextReuse::sources(*db, *integer(0), TextReuse::minShared, kReuseLimit))
                results.push_back({{"page_id", hit.pageId}, {"book_id", hit.bookId}, {"seq", hit.seq},
                                   {"book_title", Json::utf8(hit.bookTitle)}, {"author", optionalText(hit.author)},
                                   {"vol", optionalText(hit.vol)}, {"page_num", optionalInt(hit.pageNum)},
                                   {"shared", hit.shared}, {"phrase", Json::utf8(hit.phrase)}});
            return Json::Value{{"results", results}};
        }));
    }
    if (tool == QLatin1String("editions") && integer(0)) {
        if (const auto fault = withoutReuseData())
            return *fault;
        return finish(timed([&] {
            Json::Value results = Json::Value::array();
            for (const auto& hit : TextReuse::editions(*db, *integer(0), kEditionsMinFrac, kEditionsLimit))
                results.push_back({{"book_id", hit.bookId}, {"title", Json::utf8(hit.title)},
                                   {"author", optionalText(hit.author)}, {"pct", hit.pct}});
            return Json::Value{{"results", results}};
        }));
    }
    if (tool == QLatin1String("isnad") && integer(0)) {
        if (const auto fault = notALibrary())
            return *fault;
        return finish(timed([&] {
            const auto rows = db->rows(QStringLiteral("SELECT content FROM pages WHERE id=?"), {*integer(0)});
            const QString content = rows.isEmpty() ? QString() : rows.first().str(0).value_or(QString());
            const bool has = Isnad::hasIsnad(content);
            Json::Value narrators = Json::Value::array();
            for (const auto& n : Isnad::narrators(*db, *integer(0)))
                narrators.push_back({{"id", n.id}, {"name", Json::utf8(n.name)}});
            return Json::Value{{"has_isnad", has},
                               {"chain", Json::toJson(has ? Isnad::chain(content) : QStringList())},
                               {"narrators", narrators}};
        }));
    }
    if (tool == QLatin1String("narrator") && integer(0)) {
        if (const auto fault = notALibrary())
            return *fault;
        return finish(timed([&] {
            auto list = [](const QList<Isnad::LinkedNarrator>& linked) {
                Json::Value out = Json::Value::array();
                for (const auto& n : linked)
                    out.push_back({{"id", n.id}, {"name", Json::utf8(n.name)}, {"count", n.count}});
                return out;
            };
            const Isnad::Links links = Isnad::links(*db, *integer(0));
            return Json::Value{{"name", optionalText(Isnad::name(*db, *integer(0)))},
                               {"teachers", list(links.teachers)},
                               {"students", list(links.students)}};
        }));
    }
    if (tool == QLatin1String("genealogy") && text(0)) {
        if (const auto fault = withoutReuseData())
            return *fault;
        return finish(timed([&] {
            const auto result =
                Genealogy::run(*db, *text(0), Genealogy::defaultPool, Genealogy::minShared, Genealogy::maxBooks);
            if (!result)
                return Json::Value{{"result", nullptr}};
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
    if (tool == QLatin1String("collate") && integer(0) && integer(1)) {
        if (const auto fault = withoutReuseData())
            return *fault;
        return finish(timed([&] {
            const auto result = Collate::run(*db, *integer(0), *integer(1));
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
    if (tool == QLatin1String("conc") && text(0)) {
        if (const auto fault = notALibrary())
            return *fault;
        return finish(timed([&] {
            const Concordance::Result r = Concordance::lookup(*db, *text(0), kConcordanceTop);
            Json::Value top = Json::Value::array();
            for (const auto& b : r.top)
                top.push_back(Json::Value::array({b.bookId, b.count}));
            return Json::Value{{"norm", Json::utf8(Arabic::normalize(*text(0), true))},
                               {"pages", r.pages},
                               {"books", r.books},
                               {"top", top}};
        }));
    }
    return fail(usage);
}

} // namespace quorvel::SmartCLI
