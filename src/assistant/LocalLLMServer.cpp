#include "assistant/LocalLLM.h"
#include "assistant/LocalLLMLoopback.h"

#include "core/CountedNoun.h"
#include "core/Notifier.h"
#include "core/Theme.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace quorvel::LocalLLM {

namespace {

constexpr int kFirstPort = 18431;
constexpr int kLastPort = 18499;
constexpr int kHealthTimeoutMs = 2000;
constexpr std::chrono::milliseconds kAttemptPause{500};
// A child that ignores SIGTERM this long is killed, so that no server outlives
// its use holding gigabytes of memory.
constexpr int kKillGraceMs = 10'000;
// At exit the application waits this long for a terminated child.
constexpr int kExitGraceMs = 3000;

const QString contextSize = QStringLiteral("8192");
const QString gpuLayers = QStringLiteral("99");

// One launched server. `running` is cleared by the owner thread when the
// child has exited (and Qt has reaped it).
struct Child {
    std::atomic<bool> running{true};
    QProcess* process = nullptr; // touched on the owner thread only
};

// The thread that owns every QProcess of the server: a QProcess must be used
// on one thread, and that thread's event loop is what notices the child's exit
// and reaps it, even after stop() has forgotten it.
class ProcessOwner {
public:
    static ProcessOwner& instance()
    {
        static ProcessOwner* owner = [] {
            auto* created = new ProcessOwner;
            qAddPostRoutine(&ProcessOwner::shutdown);
            return created;
        }();
        return *owner;
    }

    // Runs `work` on the owner thread and returns when it is done.
    template <typename F>
    void run(F&& work)
    {
        if (QThread::currentThread() == &thread_)
            work();
        else
            QMetaObject::invokeMethod(context_, std::forward<F>(work), Qt::BlockingQueuedConnection);
    }

    QObject* context() const { return context_; }

    // Waits up to `pause` or until the child has exited, whichever is first.
    void waitWhileRunning(const Child& child, std::chrono::milliseconds pause)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        exited_.wait_for(lock, pause, [&] { return !child.running.load(); });
    }

    void markExited(Child& child)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            child.running = false;
        }
        exited_.notify_all();
    }

private:
    ProcessOwner()
    {
        thread_.setObjectName(QStringLiteral("llama-server owner"));
        context_ = new QObject;
        context_->moveToThread(&thread_);
        thread_.start();
    }

    // At application exit: end every child still alive, then the thread.
    static void shutdown()
    {
        stop();
        ProcessOwner& owner = instance();
        owner.run([&owner] {
            for (QProcess* process : owner.context_->findChildren<QProcess*>()) {
                process->disconnect();
                if (process->state() != QProcess::NotRunning) {
                    process->terminate();
                    if (!process->waitForFinished(kExitGraceMs)) {
                        process->kill();
                        process->waitForFinished(kExitGraceMs);
                    }
                }
                delete process;
            }
        });
        owner.thread_.quit();
        owner.thread_.wait();
    }

    QThread thread_;
    QObject* context_ = nullptr;
    std::mutex mutex_;
    std::condition_variable exited_;
};

// The one server of the process. Callers ask one question at a time; the
// atomics only keep stop() from another thread well defined.
std::atomic<int> currentPort{0};
std::atomic<std::shared_ptr<Child>> currentChild;
std::optional<QString> loadedModel;

std::optional<QString> testBinary;
std::function<std::optional<QString>()> testSearch;
std::atomic<int> startupLimit{startupLimitMs};

// Why the last start failed; read by the windows while a start runs elsewhere.
enum class StartFailure { none, noPort, noLaunch, exited, silent };
std::atomic<StartFailure> lastFailure{StartFailure::none};
std::atomic<int> lastLimitMs{startupLimitMs}; // the wait a silent server was given

// A start under way: the status line says so instead of an older failure.
std::atomic<bool> startingNow{false};

// Records how the last start ended and tells the windows when that changed.
void settle(StartFailure why)
{
    if (lastFailure.exchange(why) != why)
        Notifier::postLocalEngineChanged();
}

bool failed(StartFailure why)
{
    settle(why);
    return false;
}

// Marks a start under way for its whole length; every start ends with a notice.
class Starting {
public:
    Starting()
    {
        startingNow = true;
        Notifier::postLocalEngineChanged();
    }
    ~Starting()
    {
        startingNow = false;
        Notifier::postLocalEngineChanged();
    }
};

bool bindable(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // As the server itself binds: a port whose last connections of a stopped
    // server wait out their close is free to listen on, one bound or
    // listened on by another program is not.
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// The first port of the range that a plain bind accepts. None when all are
// taken: whatever answers there is not our server, and asking it would pass
// a stranger's replies off as the model's.
std::optional<int> choosePort()
{
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        if (bindable(port))
            return port;
    }
    return std::nullopt;
}

std::shared_ptr<Child> launch(const QString& binary, const QStringList& arguments)
{
    auto child = std::make_shared<Child>();
    ProcessOwner& owner = ProcessOwner::instance();
    owner.run([&] {
        auto* process = new QProcess(owner.context());
        process->setProgram(binary);
        process->setArguments(arguments);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(process, &QProcess::finished, process, [child, process, &owner] {
            owner.markExited(*child);
            process->deleteLater();
        });
        process->start();
        if (!process->waitForStarted(-1)) {
            delete process;
            child.reset();
            return;
        }
        child->process = process;
    });
    return child;
}

} // namespace

std::optional<QString> serverBinary()
{
    if (testBinary)
        return testBinary->isEmpty() ? std::nullopt : testBinary;
    if (testSearch)
        return testSearch();
    const QString resources = Theme::resourcesDir();
    if (!resources.isEmpty()) {
        const QString bundled = resources + QStringLiteral("/llama/llama-server");
        const QFileInfo info(bundled);
        if (info.isFile() && info.isExecutable())
            return bundled;
    }
    // Where a Linux user installs the server themselves.
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("llama-server"));
    if (!onPath.isEmpty())
        return onPath;
    return std::nullopt;
}

int port()
{
    return currentPort.load();
}

std::unique_ptr<QNetworkAccessManager> loopbackManager()
{
    auto manager = std::make_unique<QNetworkAccessManager>();
    manager->setProxy(QNetworkProxy::NoProxy);
    return manager;
}

namespace {

bool healthy(QNetworkAccessManager& manager, int timeoutMs = kHealthTimeoutMs)
{
    const int serverPort = currentPort.load();
    if (serverPort < 1)
        return false;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/health").arg(serverPort));
    if (!url.isValid())
        return false;
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, reply, &QNetworkReply::abort);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool answered = reply->error() == QNetworkReply::NoError && status.isValid() && status.toInt() == 200;
    delete reply;
    return answered;
}

} // namespace

bool healthy()
{
    return healthy(*loopbackManager());
}

bool ensureServer()
{
    return ensureServer(*loopbackManager());
}

bool ensureServer(QNetworkAccessManager& manager)
{
    const std::optional<QString> model = modelPath();
    if (!model)
        return false;
    const std::optional<QString> binary = serverBinary();
    if (!binary)
        return false;

    const std::shared_ptr<Child> running = currentChild.load();
    if (running && running->running && loadedModel == *model && healthy(manager)) {
        settle(StartFailure::none);
        return true;
    }
    stop();
    const Starting starting;

    const std::optional<int> chosen = choosePort();
    if (!chosen)
        return failed(StartFailure::noPort);
    currentPort = *chosen;

    const QStringList arguments{QStringLiteral("-m"), *model,
                                QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                                QStringLiteral("--port"), QString::number(*chosen),
                                QStringLiteral("-c"), contextSize,
                                QStringLiteral("-ngl"), gpuLayers,
                                QStringLiteral("--no-webui")};
    const std::shared_ptr<Child> child = launch(*binary, arguments);
    if (!child)
        return failed(StartFailure::noLaunch);
    currentChild = child;
    loadedModel = *model;

    // One deadline for the whole start-up: a server that takes connections
    // but never answers would otherwise cost each probe its full time-out.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(startupLimit.load());
    ProcessOwner& owner = ProcessOwner::instance();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        owner.waitWhileRunning(*child, std::min(kAttemptPause, left));
        if (!child->running)
            return failed(StartFailure::exited);
        const auto probeTime = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (healthy(manager, int(std::clamp<long long>(probeTime.count(), 1, kHealthTimeoutMs)))) {
            settle(StartFailure::none);
            return true;
        }
    }
    // A server silent for the whole limit is not left holding the model's
    // memory until the next question.
    stop();
    lastLimitMs = startupLimit.load();
    return failed(StartFailure::silent);
}

QString lastStartFailure()
{
    static const CountedNoun seconds(QStringLiteral("ثانية"), QStringLiteral("ثانيتان"), QStringLiteral("ثوانٍ"),
                                     QStringLiteral("ثانية"));
    switch (lastFailure.load()) {
    case StartFailure::none:
        return {};
    case StartFailure::noPort:
        return QStringLiteral("لا منفذ محلي متاح له");
    case StartFailure::noLaunch:
        return QStringLiteral("تعذّر تشغيل برنامج llama-server");
    case StartFailure::exited:
        return QStringLiteral("توقف برنامج llama-server قبل أن يحمّل النموذج");
    case StartFailure::silent:
        return QStringLiteral("لم يُجب خلال ")
               + seconds.count((lastLimitMs.load() + 500) / 1000, CountedNoun::Case::genitive);
    }
    return {};
}

bool isStarting()
{
    return startingNow.load();
}

bool ready()
{
    if (!modelPath())
        return false;
    return ensureServer();
}

const QString msgNoServer = QStringLiteral(
    "لا يعمل النموذج المحلي: لم يُعثر على برنامج llama-server. ثبّته (من حزمة llama.cpp) في مسار التشغيل، "
    "وإلى ذلك الحين تأتي الإجابات مقتطفات من الكتب.");

namespace {
std::atomic<std::uint64_t> stops{0};
} // namespace

void countStop()
{
    ++stops;
}

std::uint64_t stopCount()
{
    return stops.load();
}

void stop()
{
    const std::shared_ptr<Child> child = currentChild.exchange(nullptr);
    if (!child || !child->running)
        return;
    ++stops;
    Notifier::postLocalEngineChanged();
    ProcessOwner::instance().run([child] {
        QProcess* process = child->process;
        if (!process || process->state() == QProcess::NotRunning)
            return;
        process->terminate();
        QTimer::singleShot(kKillGraceMs, process, &QProcess::kill);
    });
}

namespace Testing {
void setServerBinary(const std::optional<QString>& path)
{
    testBinary = path;
}
void setServerSearch(std::function<std::optional<QString>()> search)
{
    testSearch = std::move(search);
}
void setStartupLimit(int ms)
{
    startupLimit = ms;
}
} // namespace Testing

} // namespace quorvel::LocalLLM
