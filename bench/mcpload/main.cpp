// Tool-server answers while the library changes: several clients, each over
// its own "quorvel --mcp" pipe on the bundled sample release, send tool calls
// without pause while this process installs and removes books with the
// product's installer (book 1 alternately in its released form and in a
// revised one five pages shorter whose opening chapters no longer say
// "الصلاة"; book 8 removed and installed again). After every change, once
// the library is still, the answers to every request are computed in this
// process on that state. An answer that matches none of the still states'
// answers to its request is a mixed answer: it read two versions of the
// library. The table gives the calls, the changes, the mixed answers (which
// must be 0) and the calls per second beside the same clients on the still
// library before the changes.
//
//   bench_mcpload [--clients N] [--cycles N] [--still-seconds N] [--quorvel path]
//
// A cycle is four changes; the default run (240 changes) takes about two
// minutes. Mixed answers are rare when they occur at all (about one in ten
// thousand calls made during changes): scale up with --cycles and --clients.

#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
#include "core/Json.h"
#include "core/Library.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "distribution/ReleaseWriter.h"
#include "mcp/MCPServer.h"
#include "search/PageIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace quorvel;
using Json::Value;

namespace {

constexpr int kDefaultClients = 4;
constexpr int kDefaultCycles = 60;
constexpr int kDefaultStillSeconds = 10;
constexpr std::int64_t kRevisedBook = 1;   // replaced by its revised form and back
constexpr std::int64_t kRemovedBook = 8;   // removed and installed again
constexpr int kDroppedPages = 5;           // the revised book's pages fewer than the released one's
constexpr std::int64_t kRewrittenUpTo = 60; // the revised book's pages whose wording changes
constexpr std::size_t kKeptSamples = 200;  // answers kept whole for the report

struct Request {
    const char* tool;
    Value arguments;
};

// Calls that read what the changes touch: hits, totals and limit notes, the
// pages around the revised book's end, its card and contents, citations,
// the catalogue and the counts over the whole library.
std::vector<Request> requests()
{
    return {
        {"search_library", {{"query", "الصلاة"}, {"limit", 100}}},
        {"search_library", {{"query", "الصلاة"}, {"book_ids", {1, 8}}, {"limit", 100}}},
        {"search_library", {{"query", "مالك عن نافع"}, {"limit", 100}}},
        {"search_library", {{"query", "وقت الصلاة"}}},
        {"search_library", {{"query", "الوضوء"}, {"category_id", 5}}},
        {"search_library", {{"query", "الدعاء"}, {"limit", 5}}},
        {"search_library", {{"query", "صل*"}, {"limit", 30}}},
        {"read_page", {{"book_id", 1}, {"seq", 981}}},
        {"read_page", {{"book_id", 1}, {"seq", 982}}},
        {"read_page", {{"book_id", 1}, {"seq", 987}}},
        {"read_page", {{"book_id", 1}, {"seq", 2}}},
        {"read_page", {{"book_id", 8}, {"seq", 10}}},
        {"get_book", {{"book_id", 1}}},
        {"get_book", {{"book_id", 8}}},
        {"cite", {{"book_id", 1}, {"seq", 3}, {"around", "الصلاة"}}},
        {"list_books", Value::object()},
        {"list_categories", Value::object()},
        {"find_author", {{"name", "مالك"}}},
        {"library_data", {{"question", "إحصاءات المكتبة"}}},
    };
}

Value toolCall(int id, const Request& request)
{
    return Value{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"},
                 {"params", {{"name", request.tool}, {"arguments", request.arguments}}}};
}

// What of a reply is compared: whether the tool failed and its text.
std::string answerOf(const Value& reply)
{
    const auto result = reply.find("result");
    if (result == reply.end())
        return "rpc " + Json::dump(reply.value("error", Value()));
    return (result->value("isError", false) ? "error " : "ok ")
           + result->at("content").at(0).at("text").get<std::string>();
}

// The answers of the still states, request by request, and the answers met
// that were not (yet) among them, kept whole for the report.
class Answers {
public:
    explicit Answers(std::size_t requests) : expected_(requests) {}

    void expect(std::size_t request, const std::string& answer)
    {
        std::lock_guard guard(lock_);
        expected_[request].insert(std::hash<std::string>{}(answer));
    }
    void met(std::size_t request, const std::string& answer, bool changing)
    {
        const std::size_t hash = std::hash<std::string>{}(answer);
        std::lock_guard guard(lock_);
        met_.push_back({request, hash, changing});
        if (!expected_[request].contains(hash) && samples_.size() < kKeptSamples)
            samples_.emplace(std::make_pair(request, hash), answer);
    }

    struct Count {
        std::size_t calls = 0, mixed = 0;
    };
    // Calls and mixed answers by request, over the whole run.
    std::vector<Count> tally() const
    {
        std::vector<Count> out(expected_.size());
        for (const Met& m : met_) {
            ++out[m.request].calls;
            if (!expected_[m.request].contains(m.hash))
                ++out[m.request].mixed;
        }
        return out;
    }
    std::size_t calls(bool changing) const
    {
        std::size_t n = 0;
        for (const Met& m : met_)
            n += m.changing == changing ? 1 : 0;
        return n;
    }
    std::size_t states(std::size_t request) const { return expected_[request].size(); }
    // Whole texts of mixed answers, at most `n`.
    std::vector<std::pair<std::size_t, std::string>> mixedSamples(std::size_t n) const
    {
        std::vector<std::pair<std::size_t, std::string>> out;
        for (const auto& [key, text] : samples_) {
            if (out.size() < n && !expected_[key.first].contains(key.second))
                out.push_back({key.first, text});
        }
        return out;
    }

private:
    struct Met {
        std::size_t request;
        std::size_t hash;
        bool changing;
    };
    mutable std::mutex lock_;
    std::vector<std::set<std::size_t>> expected_;
    std::vector<Met> met_;
    std::map<std::pair<std::size_t, std::size_t>, std::string> samples_;
};

// One "quorvel --mcp" process and its pipes.
class Client {
public:
    bool start(const QString& quorvel)
    {
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        // The timing lines would fill a pipe nobody reads.
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const QByteArray path = quorvel.toLocal8Bit();
        char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>("--mcp"), nullptr};
        const int rc = posix_spawn(&pid_, path.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = ::fdopen(fromChild[0], "r");
        return rc == 0 && out_ != nullptr;
    }

    std::optional<Value> call(const Value& message)
    {
        std::string line = Json::dump(message) + '\n';
        for (std::size_t done = 0; done < line.size();) {
            const ssize_t n = ::write(in_, line.data() + done, line.size() - done);
            if (n <= 0)
                return std::nullopt;
            done += std::size_t(n);
        }
        std::string reply;
        for (int c; (c = std::fgetc(out_)) != EOF && c != '\n';)
            reply.push_back(char(c));
        return Json::parse(reply);
    }

    void stop()
    {
        ::close(in_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        std::fclose(out_);
    }

private:
    pid_t pid_ = -1;
    int in_ = -1;
    FILE* out_ = nullptr;
};

// The sample release's book 1 five pages shorter, its opening pages saying
// "الدعاء" where they said "الصلاة", as a later release of its own; nothing
// on failure. `publicKey` receives the key that verifies it.
std::optional<QString> writeRevisedRelease(const QString& dir, QString& publicKey)
{
    const QString samples = QStringLiteral(QUORVEL_SOURCE_DIR "/samples");
    const auto catalog = Json::parseFile(QDir(samples).filePath(QStringLiteral("catalog.json")));
    const auto keys = ReleaseWriter::generateKeyPair();
    if (!catalog || !keys || !QDir().mkpath(dir))
        return std::nullopt;
    Value meta;
    for (const Value& b : catalog->at("books"))
        if (b.at("id") == kRevisedBook)
            meta = b;
    auto json = Json::parseFile(QDir(samples).filePath(Json::qstr(meta.at("file"))));
    if (!json)
        return std::nullopt;
    Value& pages = json->at("pages");
    pages.erase(pages.end() - kDroppedPages, pages.end());
    const std::int64_t lastSeq = pages.back().at("seq");
    for (Value& page : pages)
        if (page.at("seq").get<std::int64_t>() <= kRewrittenUpTo)
            page["content"] = Json::utf8(Json::qstr(page.at("content")).replace(QStringLiteral("الصلاة"), QStringLiteral("الدعاء")));
    Value toc = Value::array();
    for (const Value& t : json->at("toc"))
        if (t.value("page_seq", std::int64_t(0)) <= lastSeq)
            toc.push_back(t);
    (*json)["toc"] = toc;
    const auto book = ReleaseWriter::fromCorpus(*json, meta);
    const auto entry = book ? ReleaseWriter::addBook(dir, *book, QStringLiteral("revised.qbk")) : std::nullopt;
    if (!entry)
        return std::nullopt;
    Value authors = Value::array();
    for (const auto& a : catalog->at("authors"))
        authors.push_back({{"id", a.at("id")}, {"name", a.at("name")}});
    ReleaseWriter::ReleaseInfo info;
    info.release = 2;
    info.generated = info.expires = QStringLiteral("-");
    if (!ReleaseWriter::writeRelease(dir, info, catalog->at("categories"), authors, Value::array({*entry}),
                                     keys->secretKey))
        return std::nullopt;
    publicKey = ReleaseWriter::base64(keys->publicKey);
    return dir;
}

std::optional<std::pair<Dist::Index, Dist::Catalog>> load(const QString& dir, const QString& key)
{
    Dist::overridePublicKey(key);
    try {
        return Dist::loadCatalog(QUrl::fromLocalFile(dir), 0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot load the release in %s: %s\n", qPrintable(dir), e.what());
        return std::nullopt;
    }
}

const Dist::CatBook* bookOf(const Dist::Catalog& catalog, std::int64_t id)
{
    for (const Dist::CatBook& b : catalog.books)
        if (b.id == id)
            return &b;
    return nullptr;
}

// Runs `work` with this process's standard error sent nowhere: the server
// writes a timing line for every call.
void quietly(const std::function<void()>& work)
{
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    ::close(null);
    work();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int clients = args.number(QStringLiteral("--clients"), kDefaultClients, 1);
    const int cycles = args.number(QStringLiteral("--cycles"), kDefaultCycles, 0);
    const int stillSeconds = args.number(QStringLiteral("--still-seconds"), kDefaultStillSeconds, 1);
    const QString quorvel = args.text(QStringLiteral("--quorvel"), bench::defaultQuorvelPath());

    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("library.db"));
    // The clients inherit all of it: the same settings, no user data, and a
    // time limit no search here reaches, so that no answer is partial.
    qputenv("HOME", dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    qputenv("QUORVEL_USERDB", ":memory:");
    qputenv("QUORVEL_LIBDB", dbPath.toUtf8());
    qputenv("QUORVEL_DB", dbPath.toUtf8());
    qputenv("QUORVEL_MCP_TIMEOUT", "600");
    qputenv("QUORVEL_NO_SMART", "1");

    const QString releaseDir = dir.filePath(QStringLiteral("release"));
    const auto releaseKey = bench::writeSampleRelease(releaseDir, 1);
    QString revisedKey;
    const auto revisedDir = writeRevisedRelease(dir.filePath(QStringLiteral("revised")), revisedKey);
    if (!releaseKey || !revisedDir) {
        std::fprintf(stderr, "cannot write the releases\n");
        return 1;
    }
    const auto released = load(releaseDir, *releaseKey);
    const auto revised = load(*revisedDir, revisedKey);
    if (!released || !revised)
        return 1;
    const QUrl releasedBase = QUrl::fromLocalFile(releaseDir);
    const QUrl revisedBase = QUrl::fromLocalFile(*revisedDir);
    const Dist::CatBook* original = bookOf(released->second, kRevisedBook);
    const Dist::CatBook* shorter = bookOf(revised->second, kRevisedBook);
    const Dist::CatBook* removable = bookOf(released->second, kRemovedBook);
    auto store = LocalStore::open(dbPath);
    if (!original || !shorter || !removable || !store)
        return 1;

    QElapsedTimer timer;
    timer.start();
    try {
        for (const auto& book : released->second.books)
            store->install(book, released->second, released->first.release, releasedBase);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot install the sample release: %s\n", e.what());
        return 1;
    }
    std::printf("sample release installed in %.1f s\n", double(timer.elapsed()) / 1000);

    const std::vector<Request> calls = requests();
    Answers answers(calls.size());
    MCPServer::setLibrary(Library::open(dbPath));
    if (!MCPServer::lib()) {
        std::fprintf(stderr, "cannot open the library\n");
        return 1;
    }
    // The answers of the state the library now stands still in.
    auto expectState = [&] {
        quietly([&] {
            for (std::size_t i = 0; i < calls.size(); ++i)
                answers.expect(i, answerOf(*MCPServer::handle(toolCall(1, calls[i]))));
        });
    };
    expectState();

    std::atomic<bool> changing{false};
    std::atomic<bool> stop{false};
    std::vector<Client> pipes(static_cast<std::size_t>(clients));
    for (Client& pipe : pipes)
        if (!pipe.start(quorvel)) {
            std::fprintf(stderr, "cannot start %s --mcp\n", qPrintable(quorvel));
            return 1;
        }
    std::atomic<int> broken{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            Client& pipe = pipes[std::size_t(c)];
            // Each client walks the requests from its own place in the list.
            for (std::size_t n = std::size_t(c) * 5; !stop.load(); ++n) {
                const std::size_t i = n % calls.size();
                const bool during = changing.load();
                const auto reply = pipe.call(toolCall(int(n), calls[i]));
                if (!reply) {
                    ++broken;
                    return;
                }
                answers.met(i, answerOf(*reply), during && changing.load());
            }
        });
    }

    QElapsedTimer still;
    still.start();
    std::this_thread::sleep_for(std::chrono::seconds(stillSeconds));
    const double stillTime = double(still.nsecsElapsed()) / 1e9;

    changing = true;
    QElapsedTimer moving;
    moving.start();
    int changes = 0;
    bool failed = false;
    const std::vector<std::function<void()>> steps = {
        [&] { store->install(*shorter, revised->second, revised->first.release, revisedBase); },
        [&] { failed = !store->remove(kRemovedBook) || failed; },
        [&] { store->install(*original, released->second, released->first.release, releasedBase); },
        [&] { store->install(*removable, released->second, released->first.release, releasedBase); },
    };
    try {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (const auto& step : steps) {
                step();
                ++changes;
                expectState();
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "a change failed: %s\n", e.what());
        failed = true;
    }
    const double movingTime = double(moving.nsecsElapsed()) / 1e9;
    changing = false;
    stop = true;
    for (std::thread& t : threads)
        t.join();
    for (Client& pipe : pipes)
        pipe.stop();

    const auto tally = answers.tally();
    std::size_t mixed = 0;
    // Padded by characters: the arguments are Arabic.
    auto column = [](const std::string& text, int width) {
        return QString::fromStdString(text).left(width).leftJustified(width).toStdString();
    };
    std::printf("\n%-16s %s %8s %7s %6s\n", "tool", column("arguments", 44).c_str(), "calls", "states", "mixed");
    for (std::size_t i = 0; i < calls.size(); ++i) {
        mixed += tally[i].mixed;
        std::printf("%-16s %s %8zu %7zu %6zu\n", calls[i].tool, column(Json::dump(calls[i].arguments), 44).c_str(),
                    tally[i].calls, answers.states(i), tally[i].mixed);
    }
    const std::size_t stillCalls = answers.calls(false);
    const std::size_t movingCalls = answers.calls(true);
    std::printf("\n%d clients, %d changes (installs and removals) in %.1f s; page index %s\n", clients, changes,
                movingTime, PageIndex::ready(MCPServer::lib()->main()) ? "complete" : "not complete");
    std::printf("%-40s %10s %10s\n", "", "calls", "calls/s");
    std::printf("%-40s %10zu %10.1f\n", "while the library changes", movingCalls,
                movingTime > 0 ? double(movingCalls) / movingTime : 0.0);
    std::printf("%-40s %10zu %10.1f\n", "baseline: on the still library", stillCalls, double(stillCalls) / stillTime);
    std::printf("\nmixed answers: %zu\n", mixed);
    for (const auto& [request, text] : answers.mixedSamples(3))
        std::printf("  %s %s → %s\n", calls[request].tool, Json::dump(calls[request].arguments).c_str(),
                    QString::fromStdString(text).left(300).toUtf8().constData());
    if (broken > 0)
        std::printf("%d clients lost their server\n", broken.load());
    return mixed == 0 && broken == 0 && !failed ? 0 : 1;
}
