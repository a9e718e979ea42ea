#include "FakeServerFixture.h"

#include "core/Theme.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

using namespace quorvel;
using quorvel::test::FakeServerTest;
using quorvel::test::ScopedEnv;

namespace {

constexpr int firstPort = 18431;
constexpr int lastPort = 18499;

// Holds a loopback port for as long as it lives, the way another program
// would: a socket bound to it.
class HeldPort {
public:
    explicit HeldPort(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        held_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~HeldPort() { ::close(fd_); }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

} // namespace

TEST_F(FakeServerTest, noModelVariableStartsNothingEvenWhenEmpty)
{
    const QString script = useScript("model.gguf", "");
    ScopedEnv set("QUORVEL_NO_MODEL", QString());
    EXPECT_FALSE(LocalLLM::ready());
    EXPECT_FALSE(LocalLLM::ensureServer());
    EXPECT_TRUE(launches(script).isEmpty());
}

TEST_F(FakeServerTest, folderAtTheChosenPathFallsBackToTheCatalogueFile)
{
    QDir(dir_.path()).mkdir("folder.gguf");
    Preferences::standard().set(QStringLiteral("localModelPath"), dir_.filePath("folder.gguf"));
    const QString catalogue = LocalLLM::modelsDir() + u'/' + LocalLLM::catalog().front().file;
    QFile::remove(catalogue);
    EXPECT_FALSE(LocalLLM::ready());

    QFile::copy(writeScript("catalogue-script", ""), catalogue);
    scripts_ << catalogue;
    EXPECT_TRUE(LocalLLM::ready());
    ASSERT_EQ(launches(catalogue).size(), 1);
    EXPECT_EQ(launches(catalogue)[0], expectedArguments(catalogue, LocalLLM::port()));
    LocalLLM::stop();
    EXPECT_TRUE(waitGone(logLines(catalogue, ".pids").value(0).toLongLong()));
    scripts_.removeAll(catalogue);
    for (const char* suffix : {"", ".args", ".pids", ".probes"})
        QFile::remove(catalogue + QLatin1String(suffix));
}

TEST_F(FakeServerTest, noExecutableGivesFalse)
{
    const QString script = useScript("model.gguf", "");
    LocalLLM::Testing::setServerBinary(QString());
    EXPECT_EQ(LocalLLM::serverBinary(), std::nullopt);
    EXPECT_FALSE(LocalLLM::ready());
    EXPECT_TRUE(launches(script).isEmpty());
}

TEST_F(FakeServerTest, serverInstalledOnThePathIsFound)
{
    if (!Theme::resourcesDir().isEmpty())
        GTEST_SKIP() << "a resources folder beside the tests would be found first";
    const QString script = useScript("model.gguf", "");
    QDir(dir_.path()).mkdir("bin");
    ASSERT_TRUE(QFile::link(QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER), dir_.filePath("bin/llama-server")));
    ScopedEnv path("PATH", dir_.filePath("bin"));
    LocalLLM::Testing::setServerBinary(std::nullopt);
    EXPECT_EQ(LocalLLM::serverBinary(), dir_.filePath("bin/llama-server"));
    EXPECT_TRUE(LocalLLM::ready());
    EXPECT_EQ(launches(script).size(), 1);
}

TEST_F(FakeServerTest, busyFirstPortMovesToTheNext)
{
    HeldPort first(firstPort);
    if (!first.held())
        GTEST_SKIP() << "port " << firstPort << " is taken by another program";
    const QString script = useScript("model.gguf", "");
    ASSERT_TRUE(LocalLLM::ready());
    ASSERT_EQ(launches(script).size(), 1);
    EXPECT_EQ(launches(script)[0], expectedArguments(script, firstPort + 1));
    EXPECT_EQ(LocalLLM::port(), firstPort + 1);
}

// A server stopped while a client was connected leaves its port waiting out
// the close; its next start still listens there, and so does ours.
TEST_F(FakeServerTest, aPortWaitingOutAClosedConnectionIsStillTheFirst)
{
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int reuse = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(firstPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(listener);
            GTEST_SKIP() << "port " << firstPort << " is taken by another program";
        }
        ASSERT_EQ(::listen(listener, 1), 0);
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const int accepted = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(accepted, 0);
        // The server's side closes first, so the wait is on its port.
        ::close(accepted);
        QTest::qWait(50);
        ::close(client);
        ::close(listener);
    }
    const QString script = useScript("model.gguf", "");
    ASSERT_TRUE(LocalLLM::ready());
    ASSERT_EQ(launches(script).size(), 1);
    EXPECT_EQ(LocalLLM::port(), firstPort);
}

TEST_F(FakeServerTest, everyPortTakenLaunchesNothingEvenWhenAStrangerAnswers)
{
    // A foreign server on the first port answers its health probe.
    const QString strangerScript = writeScript("stranger.gguf", "");
    QProcess stranger;
    stranger.start(QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER),
                   {"-m", strangerScript, "--host", "127.0.0.1", "--port", QString::number(firstPort), "-c",
                    "8192", "-ngl", "99", "--no-webui"});
    ASSERT_TRUE(stranger.waitForStarted());
    bool listening = false;
    for (int i = 0; i < 200 && !listening; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), firstPort);
        listening = probe.waitForConnected(100);
        if (!listening)
            QTest::qWait(20);
    }
    std::vector<std::unique_ptr<HeldPort>> held;
    for (int port = firstPort + 1; port <= lastPort; ++port)
        held.push_back(std::make_unique<HeldPort>(port));
    for (const auto& port : held) {
        if (!port->held() || !listening) {
            stranger.kill();
            stranger.waitForFinished();
            GTEST_SKIP() << "the port range could not be filled";
        }
    }

    const QString script = useScript("model.gguf", "");
    EXPECT_FALSE(LocalLLM::ready());
    EXPECT_TRUE(launches(script).isEmpty());
    EXPECT_EQ(probes(strangerScript), 0);
    stranger.kill();
    stranger.waitForFinished();
}

TEST_F(FakeServerTest, secondReadyReusesTheServerWithOneProbe)
{
    const QString script = useScript("model.gguf", "");
    ASSERT_TRUE(LocalLLM::ready());
    const int probesAfterStart = probes(script);
    EXPECT_TRUE(LocalLLM::ready());
    EXPECT_EQ(launches(script).size(), 1);
    EXPECT_EQ(probes(script), probesAfterStart + 1);
}

TEST_F(FakeServerTest, anotherModelEndsTheOldChild)
{
    const QString first = useScript("first.gguf", "");
    ASSERT_TRUE(LocalLLM::ready());
    const QString second = useScript("second.gguf", "");
    ASSERT_TRUE(LocalLLM::ready());
    ASSERT_EQ(launches(second).size(), 1);
    EXPECT_EQ(launches(second)[0], expectedArguments(second, LocalLLM::port()));
    EXPECT_TRUE(waitGone(logLines(first, ".pids").value(0).toLongLong()));
    EXPECT_EQ(launches(first).size(), 1);
}

TEST_F(FakeServerTest, childThatExitsFailsWithoutWaitingOutTheAttempts)
{
    const QString script = useScript("model.gguf", "exit 1\n");
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(LocalLLM::ready());
    // 120 attempts would take a minute.
    EXPECT_LT(clock.elapsed(), 20'000);
    EXPECT_EQ(launches(script).size(), 1);

    // The next call launches anew.
    EXPECT_FALSE(LocalLLM::ready());
    EXPECT_EQ(launches(script).size(), 2);
}

TEST_F(FakeServerTest, loadingServerIsWaitedFor)
{
    const QString script = useScript("model.gguf", "loading 1500\n");
    ASSERT_TRUE(LocalLLM::ready());
    const QStringList seen = logLines(script, ".probes");
    ASSERT_GE(seen.size(), 2);
    EXPECT_EQ(seen.first(), "503");
    EXPECT_EQ(seen.last(), "200");
    EXPECT_EQ(seen.count("200"), 1);
}

TEST_F(FakeServerTest, stopTwiceIsHarmlessAndReapsTheChild)
{
    LocalLLM::stop();
    const QString script = useScript("model.gguf", "");
    ASSERT_TRUE(LocalLLM::ready());
    LocalLLM::stop();
    LocalLLM::stop();
    EXPECT_TRUE(waitGone(logLines(script, ".pids").value(0).toLongLong()));
    EXPECT_FALSE(LocalLLM::healthy());
    // After a stop the next question starts a new server.
    EXPECT_TRUE(LocalLLM::ready());
    EXPECT_EQ(launches(script).size(), 2);
}
