#include "search/SearchCLI.h"

#include "core/Arabic.h"
#include "core/AtomicFile.h"
#include "core/Characters.h"
#include "core/DistFetch.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Numbers.h"
#include "core/Paths.h"
#include "core/SQLiteDB.h"
#include "search/SearchEngine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <unordered_set>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace quorvel::SearchCLI {

namespace {

using Json::Value;

constexpr std::int64_t kDefaultHits = 10;
constexpr std::uint64_t kDefaultSeed = 7;
constexpr int kMaxExamples = 12;
constexpr qsizetype kExampleWindow = 30; // scalars each side of the first difference
const char* const kSandboxUserDb = "quorvel-search-cli/user.db";
const char* const kReaderFootnoteRule = "\n────\n";

// One diagnostic line; standard output carries JSON only.
void diagnose(const QString& text)
{
    std::fprintf(stderr, "search-cli: %s\n", text.toUtf8().constData());
}

// Says why the library at `path` cannot be read: the system's reason when it
// gave one (a file-size limit that leaves no room for the reading index
// beside the file, say), else the store's.
void sayWhyUnopened(const QString& path)
{
    const QString msgUnopened = QStringLiteral("تعذّر فتح قاعدة المكتبة ");
    const QString msgNotADatabase = QStringLiteral("ليست قاعدة بيانات سليمة");
    std::optional<SQLFailure> failure;
    if (auto db = SQLiteDB::open(path, true); db && !db->exec(QStringLiteral("SELECT 1 FROM sqlite_master LIMIT 1")))
        failure = db->lastFailure();
    QString reason;
    if (failure && failure->systemError != 0)
        reason = Dist::fileErrorReason(failure->systemError);
    else if (failure && failure->kind == SQLFailure::Kind::damaged)
        reason = msgNotADatabase;
    else if (!QFileInfo::exists(path))
        reason = Dist::fileErrorReason(ENOENT);
    else if (failure)
        reason = failure->message;
    diagnose(msgUnopened + path + (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
}

void writeLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// One JSON line with sorted keys and "/" unescaped, flushed at once. (Named
// apart from Qt's "emit" keyword.)
void emitLine(const Value& object)
{
    writeLine(Json::dump(object));
}

// The home directory from the user records, not from $HOME.
QString realHome()
{
    const passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir ? QString::fromLocal8Bit(user->pw_dir) : QString();
}

struct Options {
    const QStringList& args;

    bool flag(const char* name) const { return args.contains(QLatin1String(name)); }

    // The argument after the first occurrence; nothing (with a diagnostic)
    // when the option is the last argument.
    std::optional<QString> value(const char* name) const
    {
        const qsizetype i = args.indexOf(QLatin1String(name));
        if (i < 0)
            return std::nullopt;
        if (i + 1 >= args.size()) {
            diagnose(QStringLiteral("%1 has no value; ignored").arg(QLatin1String(name)));
            return std::nullopt;
        }
        return args.at(i + 1);
    }

    std::optional<std::int64_t> number(const char* name) const
    {
        const auto text = value(name);
        if (!text)
            return std::nullopt;
        const auto n = wholeNumber(*text);
        if (!n)
            diagnose(QStringLiteral("%1 %2 is not a whole number; ignored").arg(QLatin1String(name), *text));
        return n;
    }
};

// Spaces of any width and tabs, but no line breaks.
bool blankLine(const QString& line)
{
    return std::all_of(line.begin(), line.end(), Characters::isSpaceOrTab);
}

const char* modeName(Arabic::Match mode)
{
    switch (mode) {
    case Arabic::Match::word: return "word";
    case Arabic::Match::affix: return "affix";
    case Arabic::Match::stem: return "stem";
    case Arabic::Match::prefix: return "prefix";
    case Arabic::Match::anywhere: return "anywhere";
    }
    return "word";
}

const char* kindLetter(SearchHit::Kind kind)
{
    switch (kind) {
    case SearchHit::Kind::page: return "p";
    case SearchHit::Kind::title: return "t";
    case SearchHit::Kind::note: return "n";
    }
    return "p";
}

double milliseconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Every hit of one run of a fresh engine with the default limit.
QList<SearchHit> runOnce(Library& lib, const SearchQuery& query)
{
    SearchEngine engine(lib);
    QList<SearchHit> hits;
    engine.run(query, SearchEngine::defaultLimit,
               [&](const QList<SearchHit>& batch, bool) { hits += batch; });
    return hits;
}

Value benchmark(Library& lib, const SearchQuery& query, int index, std::int64_t repeat,
                std::int64_t n, bool ids)
{
    Value runTimes = Value::array();
    double firstMs = 0;
    QList<SearchHit> hits;
    int batches = 0;
    for (std::int64_t r = 0; r < repeat; ++r) {
        SearchEngine engine(lib);
        QList<SearchHit> runHits;
        int runBatches = 0;
        bool first = true;
        const auto t0 = std::chrono::steady_clock::now();
        engine.run(query, SearchEngine::defaultLimit, [&](const QList<SearchHit>& batch, bool) {
            if (batch.isEmpty())
                return;
            if (first) {
                firstMs = milliseconds(std::chrono::steady_clock::now() - t0);
                first = false;
            }
            runHits += batch;
            ++runBatches;
        });
        runTimes.push_back(Json::oneDecimal(milliseconds(std::chrono::steady_clock::now() - t0)));
        hits = std::move(runHits);
        batches = runBatches;
    }

    int pages = 0, titles = 0, notes = 0;
    for (const SearchHit& hit : hits) {
        pages += hit.kind == SearchHit::Kind::page;
        titles += hit.kind == SearchHit::Kind::title;
        notes += hit.kind == SearchHit::Kind::note;
    }
    const qsizetype listed = ids ? hits.size() : std::min<qsizetype>(hits.size(), n);
    const auto catalog = lib.catalog();
    Value hitList = Value::array();
    Value books = Value::array();
    for (qsizetype i = 0; i < listed; ++i) {
        const SearchHit& hit = hits.at(i);
        hitList.push_back(Value::array({hit.pageId, hit.bookId, hit.seq, kindLetter(hit.kind)}));
        if (!ids) {
            const auto book = catalog->bookById.constFind(hit.bookId);
            books.push_back(book != catalog->bookById.constEnd() ? Json::utf8(book->title) : "?");
        }
    }
    Value line{{"i", index},
               {"count", hits.size()},
               {"pages", pages},
               {"titles", titles},
               {"notes", notes},
               {"ms", std::move(runTimes)},
               {"first_ms", Json::oneDecimal(firstMs)},
               {"batches", batches},
               {"hits", std::move(hitList)}};
    if (!ids)
        line["books"] = std::move(books);
    return line;
}

Value highlightAudit(Library& lib, const SearchQuery& query, std::int64_t n, int index)
{
    const QList<SearchHit> hits = runOnce(lib, query);
    const QList<SearchQuery::Term> terms = query.highlightTerms();

    Value pages = Value::array();
    std::int64_t taken = 0;
    for (const SearchHit& hit : hits) {
        if (hit.kind != SearchHit::Kind::page)
            continue;
        if (taken++ >= n)
            break;
        const std::optional<Page> page = lib.page(hit.pageId);
        if (!page)
            continue;
        const SearchEngine::Snippet snippet = SearchEngine::snippet(page->content, terms);
        const auto [matn, footnote] = Library::splitFootnotes(page->content);
        QString reader = matn;
        if (footnote)
            reader += QString::fromUtf8(kReaderFootnoteRule) + *footnote;
        const Arabic::Index index = Arabic::index(reader);

        Value snip = Value::array();
        qsizetype first = -1;
        for (const Arabic::Range& r : snippet.ranges) {
            snip.push_back(Json::utf8(Arabic::normalize(snippet.text.mid(r.location, r.length), true)));
            if (first < 0 || r.location < first)
                first = r.location;
        }
        Value readerTexts = Value::array();
        for (const SearchQuery::Term& term : terms) {
            for (const Arabic::Range& r : Arabic::ranges(term.first, index, term.second))
                readerTexts.push_back(Json::utf8(Arabic::normalize(reader.mid(r.location, r.length), true)));
        }
        pages.push_back(Value{{"page", page->id},
                              {"snip", std::move(snip)},
                              {"snip_first", first},
                              {"snip_len", snippet.text.size()},
                              {"reader", std::move(readerTexts)}});
    }
    Value termList = Value::array();
    for (const SearchQuery::Term& term : terms)
        termList.push_back(Value::array({Json::utf8(term.first), modeName(term.second)}));
    return Value{{"i", index}, {"total", hits.size()}, {"terms", std::move(termList)}, {"pages", std::move(pages)}};
}

// The example entries of one text around the first difference.
void describeAround(Value& example, const QList<uint>& scalars, qsizetype at, const char* text,
                    const char* codes, const char* length)
{
    const qsizetype size = scalars.size();
    const qsizetype from = std::max<qsizetype>(at - kExampleWindow, 0);
    const qsizetype to = std::min<qsizetype>(at + kExampleWindow, size);
    QString window;
    for (qsizetype i = from; i < to; ++i)
        window += QString::fromUcs4(reinterpret_cast<const char32_t*>(&scalars[i]), 1);
    QStringList hex;
    for (qsizetype i = std::max<qsizetype>(at - 2, 0); i < std::min<qsizetype>(at + 3, size); ++i)
        hex << QString::asprintf("%04X", scalars[i]);
    example[text] = Json::utf8(window);
    example[codes] = Json::utf8(hex.join(QLatin1Char(' ')));
    example[length] = size;
}

int normParity(Library& lib, std::int64_t n, std::uint64_t seed, const std::optional<QString>& dump)
{
    const std::shared_ptr<SQLiteDB> db = lib.newSearchConnection();
    if (!db) {
        sayWhyUnopened(lib.dbPath());
        return 1;
    }
    const std::int64_t lo = db->scalarInt(QStringLiteral("SELECT MIN(id) FROM pages")).value_or(0);
    const std::int64_t hi = db->scalarInt(QStringLiteral("SELECT MAX(id) FROM pages")).value_or(0);
    const QList<std::int64_t> sample = paritySample(lo, hi, n, seed);

    std::optional<Statement> st =
        db->prepare(QStringLiteral("SELECT content, content_norm FROM pages WHERE id=?"));
    if (!st) {
        diagnose(QStringLiteral("the pages cannot be read with their stored normal form"));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    std::int64_t checked = 0, same = 0, emptyNorm = 0;
    Value examples = Value::array();
    QStringList dumpLines;
    for (const std::int64_t id : sample) {
        st->bind({id});
        if (!st->step())
            continue;
        const QString content = st->text(0).value_or(QString());
        const QString stored = st->text(1).value_or(QString());
        const QString mine = Arabic::normalize(Library::searchedContent(content), true);
        ++checked;
        if (stored.isEmpty())
            ++emptyNorm;
        // Equal as text: canonically equivalent sequences count as the same.
        const bool equal = mine.normalized(QString::NormalizationForm_C)
                           == stored.normalized(QString::NormalizationForm_C);
        if (equal) {
            ++same;
        } else if (examples.size() < kMaxExamples) {
            const QList<uint> a = stored.toUcs4();
            const QList<uint> b = mine.toUcs4();
            qsizetype at = 0;
            while (at < a.size() && at < b.size() && a[at] == b[at])
                ++at;
            Value example{{"id", id}, {"at", at}};
            describeAround(example, a, at, "stored", "stored_cp", "len_stored");
            describeAround(example, b, at, "mine", "mine_cp", "len_mine");
            examples.push_back(std::move(example));
        }
        if (dump)
            dumpLines << QString::number(id) + QLatin1Char('\t') + (equal ? QLatin1Char('1') : QLatin1Char('0'))
                             + QLatin1Char('\t') + fnv(mine);
    }
    // The report is printed either way; a dump that was asked for and not
    // written fails the run.
    bool dumped = true;
    if (dump) {
        if (const std::optional<QString> failed =
                AtomicFile::replace(*dump, (dumpLines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8())) {
            std::fprintf(stderr, "%s: %s\n", qUtf8Printable(*dump), qUtf8Printable(*failed));
            dumped = false;
        }
    }
    emitLine(Value{{"checked", checked},
               {"same", same},
               {"mismatch", checked - same},
               {"empty_norm", emptyNorm},
               {"secs", Json::oneDecimal(clock.nsecsElapsed() / 1e9)},
               {"examples", std::move(examples)}});
    return dumped ? 0 : 1;
}

int normLines()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::optional<Value> value = Json::parse(line);
        if (value && value->is_string())
            writeLine(Json::dump(Value(Json::utf8(Arabic::normalize(Json::qstr(value->get<std::string>()), true)))));
        else
            writeLine("null");
    }
    return 0;
}

// The request lines: the "--q" line, then the lines of the "--qfile" file.
QStringList requestLines(const Options& options)
{
    QStringList lines;
    if (const auto q = options.value("--q"))
        lines << *q;
    if (const auto path = options.value("--qfile")) {
        QFile file(*path);
        if (!file.open(QIODevice::ReadOnly)) {
            diagnose(QStringLiteral("cannot read %1").arg(*path));
        } else {
            qsizetype kept = 0;
            for (QString piece : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
                // A line may also end in CR LF.
                if (piece.endsWith(QLatin1Char('\r')))
                    piece.chop(1);
                if (blankLine(piece))
                    continue;
                lines << piece;
                ++kept;
            }
            if (kept == 0)
                diagnose(QStringLiteral("no request lines in %1").arg(*path));
        }
    }
    return lines;
}

} // namespace

std::uint64_t SplitMix::next()
{
    s += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = s;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

QString fnv(const QString& text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char byte : text.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 0x100000001b3ULL;
    }
    return QString::number(hash, 16);
}

QList<std::int64_t> paritySample(std::int64_t lo, std::int64_t hi, std::int64_t n, std::uint64_t seed)
{
    // The span may exceed 64 bits when the ids reach both ends of the range.
    const __int128 span = static_cast<__int128>(hi) - static_cast<__int128>(lo) + 1;
    if (n <= 0 || span <= 0)
        return {};
    const __int128 wanted = std::min<__int128>(std::min<__int128>(n, span), maxParitySample);
    SplitMix generator{seed};
    std::unordered_set<std::int64_t> chosen;
    const auto modulus = static_cast<unsigned __int128>(span);
    while (static_cast<__int128>(chosen.size()) < wanted) {
        const unsigned __int128 offset = static_cast<unsigned __int128>(generator.next()) % modulus;
        chosen.insert(static_cast<std::int64_t>(static_cast<__int128>(lo) + static_cast<__int128>(offset)));
    }
    QList<std::int64_t> ids(chosen.begin(), chosen.end());
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::optional<std::int64_t> wholeNumber(const QString& text)
{
    return Numbers::parseInteger(text);
}

std::optional<std::uint64_t> unsignedWholeNumber(const QString& text)
{
    std::string s = text.toStdString();
    std::string_view v(s);
    bool negative = false;
    if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    if (v.empty() || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (ec != std::errc() || end != v.data() + v.size() || (negative && value != 0))
        return std::nullopt;
    return value;
}

std::optional<SearchQuery> parseQuery(const QString& line, QStringList* unknown)
{
    const std::optional<Value> given = Json::parse(line.toUtf8());
    if (!given || !given->is_object())
        return std::nullopt;
    Value merged = *Json::parse(SearchQuery().json().toUtf8());
    for (auto it = given->begin(); it != given->end(); ++it) {
        if (!merged.contains(it.key()) && it.key() != "scope") {
            if (unknown)
                *unknown << Json::qstr(it.key());
            continue;
        }
        merged[it.key()] = it.value();
    }
    return SearchQuery::from(QString::fromStdString(Json::dump(merged)));
}

bool refuses(const QString& supportDir, const QString& realHome)
{
    return !realHome.isEmpty() && supportDir.startsWith(realHome + QLatin1Char('/'));
}

int run(const QStringList& arguments)
{
    const Options options{arguments};
    const QString databaseFromEnvironment = qEnvironmentVariable("QUORVEL_DB");

    // The sandbox, before anything reads the support folder or the user database.
    const QString userDb = qEnvironmentVariableIsSet("QUORVEL_USERDB")
                               ? qEnvironmentVariable("QUORVEL_USERDB")
                               : QDir::tempPath() + QLatin1Char('/') + QString::fromLatin1(kSandboxUserDb);
    const QString sandboxHome = QFileInfo(userDb).absolutePath() + QStringLiteral("/home");
    QDir().mkpath(sandboxHome);
    ::setenv("CFFIXED_USER_HOME", sandboxHome.toLocal8Bit().constData(), 1);
    ::setenv("QUORVEL_USERDB", userDb.toLocal8Bit().constData(), 1);

    const QString home = realHome();
    if (refuses(Library::supportDir(), home)) {
        std::fputs("refusing: support dir is the real one\n", stderr);
        return 2;
    }

    if (options.flag("--norm-lines"))
        return normLines();

    QString dbPath = options.value("--db").value_or(databaseFromEnvironment);
    if (dbPath.isEmpty())
        dbPath = Paths::developerDatabasePath(home);
    std::shared_ptr<Library> lib = Library::open(dbPath);
    if (!lib) {
        std::fprintf(stderr, "cannot open %s\n", dbPath.toUtf8().constData());
        sayWhyUnopened(dbPath);
        return 1;
    }
    Library::setShared(lib);

    if (const auto n = options.number("--norm-parity")) {
        std::uint64_t seed = kDefaultSeed;
        if (const auto text = options.value("--seed")) {
            if (const auto parsed = unsignedWholeNumber(*text))
                seed = *parsed;
            else
                diagnose(QStringLiteral("--seed %1 is not a whole number; 7 is used").arg(*text));
        }
        if (*n > maxParitySample)
            diagnose(QStringLiteral("--norm-parity samples at most %1 pages").arg(maxParitySample));
        return normParity(*lib, *n, seed, options.value("--dump"));
    }

    const std::int64_t n = std::max<std::int64_t>(0, options.number("--n").value_or(kDefaultHits));
    const std::int64_t repeat = std::max<std::int64_t>(1, options.number("--repeat").value_or(1));
    const bool ids = options.flag("--ids");
    const bool audit = options.flag("--hl");

    const QStringList lines = requestLines(options);
    for (int i = 0; i < lines.size(); ++i) {
        QStringList unknown;
        const std::optional<SearchQuery> query = parseQuery(lines.at(i), &unknown);
        if (!query) {
            diagnose(QStringLiteral("request %1 is not a request object").arg(i));
            emitLine(Value{{"error", "bad json"}, {"i", i}});
            continue;
        }
        if (!unknown.isEmpty())
            diagnose(QStringLiteral("request %1: unknown keys ignored: %2").arg(i).arg(unknown.join(QStringLiteral(", "))));
        if (const auto refused = SearchEngine::refusal(*query)) {
            diagnose(QStringLiteral("request %1: ").arg(i) + *refused);
            emitLine(Value{{"error", "query too large"}, {"i", i}});
            continue;
        }
        emitLine(audit ? highlightAudit(*lib, *query, n, i) : benchmark(*lib, *query, i, repeat, n, ids));
    }
    return 0;
}

} // namespace quorvel::SearchCLI
