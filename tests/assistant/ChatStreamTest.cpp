#include "FakeServerFixture.h"

#include "core/DistFetch.h"
#include "core/Json.h"

#include <QNetworkProxyFactory>

#include <atomic>
#include <optional>
#include <thread>

using namespace quorvel;
using quorvel::test::FakeServerTest;
using quorvel::test::ScopedEnv;

namespace {

class ChatStream : public FakeServerTest {
protected:
    // Runs one chat against a script; the pieces handed out are kept.
    QString ask(const QString& scriptText, const QString& system = {}, std::optional<int> maxTokens = {})
    {
        script = useScript("model.gguf", scriptText);
        auto record = [this](const QString& piece) { pieces << piece; };
        return maxTokens ? LocalLLM::chat(system, QStringLiteral("سؤال"), *maxTokens, record)
                         : LocalLLM::chat(system, QStringLiteral("سؤال"), 1500, record);
    }
    Json::Value lastRequest() const
    {
        const QStringList bodies = logLines(script, ".requests");
        return Json::parse(bodies.value(bodies.size() - 1).toUtf8()).value_or(Json::Value());
    }

    QString script;
    QStringList pieces;
};

} // namespace

TEST_F(ChatStream, requestCarriesFiveMembersAndTheSystemMessageOnlyWhenGiven)
{
    ask("delta \"x\"\ndone\n");
    Json::Value body = lastRequest();
    ASSERT_TRUE(body.is_object());
    EXPECT_EQ(body.size(), 5u);
    EXPECT_EQ(body["messages"], Json::parse(R"([{"role":"user","content":"سؤال"}])").value());
    EXPECT_EQ(body["stream"], true);
    EXPECT_EQ(body["temperature"], 0.1);
    EXPECT_EQ(body["repeat_penalty"], 1.1);
    EXPECT_EQ(body["max_tokens"], 1500);
    EXPECT_TRUE(body["max_tokens"].is_number_integer());

    ask("delta \"x\"\ndone\n", QStringLiteral("أنت مساعد"), 500);
    body = lastRequest();
    EXPECT_EQ(body["messages"],
              Json::parse(R"([{"role":"system","content":"أنت مساعد"},{"role":"user","content":"سؤال"}])").value());
    EXPECT_EQ(body["max_tokens"], 500);
}

TEST_F(ChatStream, piecesArriveInOrderAndMakeTheWholeReply)
{
    EXPECT_EQ(ask("delta \"الصب\"\ndelta \"ر\"\ndone\ndelta \"بعد النهاية\"\n"), QStringLiteral("الصبر"));
    EXPECT_EQ(pieces, QStringList({QStringLiteral("الصب"), QStringLiteral("ر")}));
}

TEST_F(ChatStream, onlyWellFormedDataLinesCount)
{
    const QString reply = ask(
        "line : a comment\n"
        "line \n"
        "line event: message\n"
        "line data:[DONE]\n"
        "line data: not json\n"
        "line data: [1,2]\n"
        "line data: {\"choices\":[]}\n"
        "line data: {\"choices\":[7]}\n"
        "line data: {\"choices\":[{\"delta\":\"x\"}]}\n"
        "line data: {\"choices\":[{\"delta\":{}}]}\n"
        "delta null\n"
        "delta \"\"\n"
        "delta 5\n"
        "line data: {\"choices\":[{\"delta\":{\"content\":\"أ\"}}]}\r\n"
        "delta \"ب\"\n");
    // "data:[DONE]" lacks its space, so reading went on to the end of the stream.
    EXPECT_EQ(pieces, QStringList({QStringLiteral("أ"), QStringLiteral("ب")}));
    EXPECT_EQ(reply, QStringLiteral("أب"));
}

TEST_F(ChatStream, reasoningUpToTheFirstThinkEndIsDropped)
{
    EXPECT_EQ(ask("delta \"<think>أفكر\"\ndelta \"</think>\\n\\nالجواب هنا \"\ndone\n"), QStringLiteral("الجواب هنا"));
    EXPECT_EQ(pieces.first(), QStringLiteral("<think>أفكر"));

    pieces.clear();
    EXPECT_EQ(ask("delta \"أ</think>ب</think>ج\"\n"), QStringLiteral("ب</think>ج"));
    pieces.clear();
    EXPECT_EQ(ask("delta \" \\n\\t \"\ndone\n"), QString());
    EXPECT_EQ(pieces.size(), 1);
}

TEST_F(ChatStream, errorStatusBecomesAServerErrorWithTheBodyCut)
{
    // 250 diacritised letters: 500 UTF-16 units, cut at 200 characters.
    QString letters;
    for (int i = 0; i < 250; ++i)
        letters += QStringLiteral("بِ");
    try {
        ask(QStringLiteral("status 503\nbody %1\nbody tail\n").arg(letters));
        FAIL() << "no error";
    } catch (const LocalLLM::LLMError& error) {
        EXPECT_EQ(error.kind(), LocalLLM::LLMError::Kind::server);
        EXPECT_EQ(error.description(), QStringLiteral("503 ") + letters.left(400));
    }
    try {
        ask("status 503\nbody loading\nbody model\n");
        FAIL() << "no error";
    } catch (const LocalLLM::LLMError& error) {
        // The body's lines are joined with nothing between them.
        EXPECT_EQ(error.description(), QStringLiteral("503 loadingmodel"));
    }
    EXPECT_TRUE(pieces.isEmpty());
}

TEST_F(ChatStream, resetMidStreamIsThrownAfterThePiecesSoFar)
{
    EXPECT_THROW(ask("delta \"أول\"\npause 100\nreset\n"), Dist::PlatformError);
    EXPECT_EQ(pieces, QStringList{QStringLiteral("أول")});
}

TEST_F(ChatStream, noServerIsTheServerError)
{
    LocalLLM::Testing::setServerBinary(QString());
    try {
        ask("delta \"x\"\n");
        FAIL() << "no error";
    } catch (const LocalLLM::LLMError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("تعذّر تشغيل المحرّك المحلي"));
        EXPECT_STREQ(error.what(), "تعذّر تشغيل المحرّك المحلي");
    }
}

TEST_F(ChatStream, deadProxyInTheEnvironmentChangesNothing)
{
    ScopedEnv lower("http_proxy", QStringLiteral("http://127.0.0.1:9"));
    ScopedEnv upper("HTTP_PROXY", QStringLiteral("http://127.0.0.1:9"));
    ScopedEnv none("no_proxy", std::nullopt);
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    const QString reply = ask("delta \"نعم\"\ndone\n");
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    EXPECT_EQ(reply, QStringLiteral("نعم"));
}

TEST_F(ChatStream, handlerErrorEndsTheRequest)
{
    script = useScript("model.gguf", "delta \"أ\"\ndelta \"ب\"\ndone\n");
    int calls = 0;
    EXPECT_THROW(LocalLLM::chat({}, QStringLiteral("س"), 1500,
                                [&](const QString&) {
                                    ++calls;
                                    throw std::runtime_error("panel gone");
                                }),
                 std::runtime_error);
    EXPECT_EQ(calls, 1);
}

TEST_F(ChatStream, floodsEndAtTheirBoundAsAFailedReply)
{
    LocalLLM::Testing::setStreamLimits({.lineBytes = 4096, .replyBytes = 64 * 1024, .errorBytes = 4096});
    const QString x200(200, u'x');
    const struct {
        const char* script;
        QString error;
    } cases[] = {
        {"repeat 200000 delta \"كلمة \"\n", QStringLiteral("تجاوز ردّ النموذج الحجم المقبول")},
        {"delta \"أ\"\nline data: {\"choices\":[{\"delta\":{\"content\":\"\nrepeat 200000 part xxxxxxxx\n",
         QStringLiteral("تجاوز ردّ النموذج الحجم المقبول")},
        {"status 500\nrepeat 200000 line xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", QStringLiteral("500 ") + x200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        try {
            ask(QString::fromUtf8(c.script));
            ADD_FAILURE() << "no error";
        } catch (const LocalLLM::LLMError& error) {
            EXPECT_EQ(error.description(), c.error);
        }
    }
    LocalLLM::Testing::setStreamLimits({});
}

TEST_F(ChatStream, aStalledOrDrippingServerIsGivenUpAtTheOverallLimit)
{
    LocalLLM::Testing::setStreamLimits({.overallMs = 600});
    QString drip;
    for (int i = 0; i < 20; ++i)
        drip += QStringLiteral("delta \"ب\"\npause 150\n");
    for (const QString& script : {QStringLiteral("pause 5000\ndone\n"), drip + QStringLiteral("done\n")}) {
        try {
            ask(script);
            ADD_FAILURE() << "no error for " << script.toStdString();
        } catch (const LocalLLM::LLMError& error) {
            EXPECT_EQ(error.description(), QStringLiteral("انتهت مهلة ردّ النموذج"));
        }
    }
    // What arrived before the limit stays with the caller.
    EXPECT_FALSE(pieces.isEmpty());
    LocalLLM::Testing::setStreamLimits({});
}

TEST_F(ChatStream, aStopReachesTheReplyStillReadWhenAnotherEnded)
{
    script = useScript("model.gguf", "delta \"أ\"\npause 5000\ndelta \"ب\"\ndone\n");
    // The first reply is read on a thread of its own and waits in the pause.
    std::atomic<bool> started{false};
    std::optional<QString> firstError;
    std::thread first([&] {
        try {
            LocalLLM::chat({}, QStringLiteral("س"), 1500, [&](const QString&) { started = true; });
        } catch (const LocalLLM::LLMError& error) {
            firstError = error.description();
        }
    });
    while (!started)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A second reply begun after it ends first.
    EXPECT_THROW(LocalLLM::chat({}, QStringLiteral("س"), 1500,
                                [](const QString&) { throw std::runtime_error("panel gone"); }),
                 std::runtime_error);
    LocalLLM::stopReply();
    first.join();
    EXPECT_EQ(firstError, LocalLLM::msgReplyStopped);
}
