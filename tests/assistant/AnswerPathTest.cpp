#include "FakeServerFixture.h"

#include "assistant/AIAssistant.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"

#include <QElapsedTimer>

#include <memory>

using namespace quorvel;
using quorvel::test::FakeServerTest;
using quorvel::test::ScopedEnv;

namespace {

const QString question = QStringLiteral("ما حكم صلاة الجماعة");

// The answer path over the corpus library, each model reply scripted for the
// fake server.
class AnswerPath : public FakeServerTest {
protected:
    static void SetUpTestSuite()
    {
        dir = std::make_unique<QTemporaryDir>();
        ScopedEnv userDb("QUORVEL_USERDB", QStringLiteral(":memory:"));
        lib = Library::open(test::FixtureLibrary::build(dir->path()));
    }
    static void TearDownTestSuite()
    {
        lib.reset();
        dir.reset();
    }
    void SetUp() override
    {
        FakeServerTest::SetUp();
        ASSERT_TRUE(lib);
        Settings::setIndicDigits(true);
        passages = AIAssistant::retrieve(*lib, question, 5);
        ASSERT_GE(passages.size(), 2);
    }

    // Makes the model reply `reply` in two streamed pieces, and asks.
    AIAnswer ask(const QString& reply, AIMode mode = AIMode::answer)
    {
        const qsizetype half = reply.size() / 2;
        script = useScript(QStringLiteral("model.gguf"),
                           QStringLiteral("delta %1\ndelta %2\ndone\n")
                               .arg(QString::fromStdString(Json::dump(Json::toJson(reply.left(half)))),
                                    QString::fromStdString(Json::dump(Json::toJson(reply.mid(half))))));
        return AIAssistant::run(*lib, question, mode, std::nullopt, [this](const QString& piece) { streamed += piece; });
    }
    QStringList requests() const { return logLines(script, ".requests"); }

    // A verbatim stretch of passage i, as a model would quote it.
    QString quoteOf(int i) const
    {
        const QStringList words = passages[i].text.split(u' ', Qt::SkipEmptyParts);
        return words.mid(words.size() / 2, 6).join(u' ');
    }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline std::shared_ptr<Library> lib;
    QList<Passage> passages;
    QString script;
    QString streamed;
    ScopedEnv noSmart_{"QUORVEL_NO_SMART", QStringLiteral("1")};
};

} // namespace

TEST_F(AnswerPath, rowA_nothingFoundNeverAsksTheModel)
{
    script = useScript(QStringLiteral("model.gguf"), QStringLiteral("delta \"x\"\ndone\n"));
    const AIAnswer a = AIAssistant::run(*lib, QStringLiteral("هل هذا ما كان"), AIMode::answer);
    EXPECT_EQ(a.text, QStringLiteral("لم أجد في المصادر المتاحة ما يجيب عن هذا السؤال. جرّب صياغة أخرى أو كلمات أوضح."));
    EXPECT_TRUE(a.verifiedAll);
    EXPECT_EQ(a.tier, 0);
    EXPECT_FALSE(a.note);
    EXPECT_TRUE(a.passages.isEmpty());
    EXPECT_TRUE(a.extractive.isEmpty());
    EXPECT_TRUE(launches(script).isEmpty());
    EXPECT_TRUE(requests().isEmpty());
}

TEST_F(AnswerPath, rowB_withoutAModelTheSentencesAndSourcesAreTheAnswer)
{
    ScopedEnv noModel("QUORVEL_NO_MODEL", QStringLiteral("1"));
    const AIAnswer a = AIAssistant::run(*lib, question, AIMode::automatic);
    EXPECT_EQ(a.mode, AIMode::automatic);
    EXPECT_EQ(a.passages.size(), passages.size());
    EXPECT_TRUE(a.text.isEmpty());
    EXPECT_TRUE(a.rawText.isEmpty());
    EXPECT_FALSE(a.verifiedAll);
    EXPECT_EQ(a.tier, 0);
    EXPECT_FALSE(a.note);
    EXPECT_TRUE(a.isRuling);
    EXPECT_FALSE(a.extractive.isEmpty());
    EXPECT_LE(a.extractive.size(), 4);
    // The sentences cite their passages numbered by first appearance, from 1
    // and without gaps, and the passages carry those numbers in that order.
    int highest = 0;
    for (const ExtractedSentence& s : a.extractive) {
        ASSERT_GE(s.n, 1);
        ASSERT_LE(s.n, a.passages.size());
        EXPECT_LE(s.n, highest + 1);
        highest = std::max(highest, s.n);
        EXPECT_EQ(a.passages[s.n - 1].n, s.n);
        EXPECT_TRUE(a.passages[s.n - 1].text.contains(s.text));
    }
    for (qsizetype i = 0; i < a.passages.size(); ++i)
        EXPECT_EQ(a.passages[i].n, i + 1);
    // The same sentences, from the same pages, as the passages found.
    QStringList found;
    for (const Passage& p : passages)
        found.append(QString::number(p.pageId));
    QStringList answered;
    for (const Passage& p : a.passages)
        answered.append(QString::number(p.pageId));
    std::sort(found.begin(), found.end());
    std::sort(answered.begin(), answered.end());
    EXPECT_EQ(answered, found);
}

TEST_F(AnswerPath, rowC_aFailedChatKeepsThePassagesAndSaysWhy)
{
    script = useScript(QStringLiteral("model.gguf"), QStringLiteral("status 503\nbody Service Unavailable\n"));
    const AIAnswer a = AIAssistant::run(*lib, question, AIMode::answer);
    ASSERT_TRUE(a.note);
    EXPECT_TRUE(a.note->startsWith(QStringLiteral("تعذّر الاتصال بالنموذج: 503 "))) << a.note->toStdString();
    // The server itself started: nothing for the status line to explain.
    EXPECT_EQ(LocalLLM::lastStartFailure(), QString());
    EXPECT_EQ(a.passages.size(), passages.size());
    EXPECT_FALSE(a.extractive.isEmpty());
    EXPECT_TRUE(a.text.isEmpty());
    EXPECT_EQ(a.tier, 0);

    // A server that takes its health probes and never answers them is given
    // up at the start-up limit (shortened here), well before five times it,
    // and stopped; the answer says so.
    script = useScript(QStringLiteral("silent.gguf"), QStringLiteral("silent\n"));
    const int limitMs = 1500;
    LocalLLM::Testing::setStartupLimit(limitMs);
    QElapsedTimer took;
    took.start();
    const AIAnswer silent = AIAssistant::run(*lib, question, AIMode::answer);
    const qint64 elapsedMs = took.elapsed();
    LocalLLM::Testing::setStartupLimit(LocalLLM::startupLimitMs);
    EXPECT_GE(elapsedMs, limitMs);
    EXPECT_LT(elapsedMs, 5 * limitMs);
    EXPECT_EQ(silent.note, QStringLiteral("تعذّر الاتصال بالنموذج: تعذّر تشغيل المحرّك المحلي"));
    // Why, for the status line, with the limit the start had.
    EXPECT_EQ(LocalLLM::lastStartFailure(), QStringLiteral("لم يُجب خلال ثانيتين"));
    EXPECT_EQ(launches(script).size(), 1);
    EXPECT_FALSE(silent.extractive.isEmpty());
    const QStringList pids = logLines(script, ".pids");
    ASSERT_EQ(pids.size(), 1);
    EXPECT_TRUE(waitGone(pids.first().toLongLong())) << "the silent server was left running";
}

TEST_F(AnswerPath, rowD_theModelSayingTheSourcesDoNotAnswerKeepsOnlyTheRawReply)
{
    const QString reply = QStringLiteral("الجواب غير موجود في السياق.");
    const AIAnswer a = ask(reply);
    EXPECT_TRUE(a.text.isEmpty());
    EXPECT_EQ(a.rawText, reply);
    EXPECT_EQ(streamed, reply);
    EXPECT_EQ(a.note, QStringLiteral("لم يجد النموذج جوابا صريحا في المصادر التي راجعها؛ هذه أقرب النصوص إلى سؤالك."));
    EXPECT_EQ(a.tier, 0);
}

TEST_F(AnswerPath, rowE_groundedTextWithAFailedQuotationCountedInTheUsersDigits)
{
    const QString reply = quoteOf(0) + QStringLiteral(" «") + quoteOf(0) + QStringLiteral("» و«") + quoteOf(1)
        + QStringLiteral("» و«هذه جملة مختلقة ليست في أي كتاب»");
    const AIAnswer a = ask(reply, AIMode::report);
    EXPECT_EQ(a.tier, 1);
    EXPECT_EQ(a.quoteCount, 2);
    EXPECT_EQ(a.failedQuotes, 1);
    EXPECT_FALSE(a.verifiedAll);
    EXPECT_EQ(a.note, QStringLiteral("حُذف اقتباس واحد لم يطابق مصدره."));
    EXPECT_TRUE(a.text.contains(QStringLiteral("«") + quoteOf(0) + QStringLiteral("» [1]")));
    EXPECT_FALSE(a.text.contains(QStringLiteral("مختلقة")));
    EXPECT_EQ(a.rawText, reply);

    // The one request: the whole instruction in the user message, 500 tokens.
    const QStringList bodies = requests();
    ASSERT_EQ(bodies.size(), 1);
    const Json::Value body = Json::parse(bodies[0].toUtf8()).value_or(Json::Value());
    ASSERT_TRUE(body.is_object());
    EXPECT_EQ(body["max_tokens"], 500);
    ASSERT_EQ(body["messages"].size(), 1u);
    EXPECT_EQ(body["messages"][0]["role"], "user");
    EXPECT_EQ(Json::qstr(body["messages"][0]["content"].get<std::string>()),
              AIAssistant::kashifPrompt(question, a.passages));
}

TEST_F(AnswerPath, rowE_allQuotationsFoundIsVerifiedWithoutANote)
{
    const AIAnswer a = ask(quoteOf(1) + QStringLiteral(" «") + quoteOf(1) + QStringLiteral("»"));
    EXPECT_EQ(a.tier, 1);
    EXPECT_TRUE(a.verifiedAll);
    EXPECT_FALSE(a.note);
    // Only the second passage cited: it becomes [1], the first follows as [2].
    EXPECT_TRUE(a.text.contains(QStringLiteral("«") + quoteOf(1) + QStringLiteral("» [1]"))) << a.text.toStdString();
    ASSERT_EQ(a.passages.size(), passages.size());
    EXPECT_EQ(a.passages[0].pageId, passages[1].pageId);
    EXPECT_EQ(a.passages[0].n, 1);
    EXPECT_EQ(a.passages[1].pageId, passages[0].pageId);
    EXPECT_EQ(a.passages[1].n, 2);
}

TEST_F(AnswerPath, rowF_unsupportedProseLeavesTheHeaderAndQuotationLinesOnly)
{
    const AIAnswer a = ask(QStringLiteral("الفيزياء والكيمياء والرياضيات علوم حديثة. «") + quoteOf(0)
                           + QStringLiteral("» ثم «") + quoteOf(1) + QStringLiteral("» [9]"));
    EXPECT_EQ(a.text, QStringLiteral("أقرب ما في المصادر إلى سؤالك:\n«") + quoteOf(0) + QStringLiteral("» [1]\n«")
                          + quoteOf(1) + QStringLiteral("» [2]"));
    EXPECT_EQ(a.tier, 1);
    EXPECT_TRUE(a.verifiedAll);
    EXPECT_EQ(a.note, QStringLiteral("حُذف من كلام النموذج ما لا تسنده المصادر."));
}

TEST_F(AnswerPath, rowF_aMadeUpQuotationAmongUnsupportedProseIsSaidToBeRemoved)
{
    const AIAnswer a = ask(QStringLiteral("الفيزياء والكيمياء والرياضيات علوم حديثة. «هذه جملة مختلقة ليست في أي كتاب» ثم «")
                           + quoteOf(0) + QStringLiteral("» و«") + quoteOf(1) + QStringLiteral("»"));
    EXPECT_EQ(a.tier, 1);
    EXPECT_EQ(a.quoteCount, 2);
    EXPECT_FALSE(a.verifiedAll);
    EXPECT_EQ(a.note, QStringLiteral("حُذف اقتباس واحد لم يطابق مصدره. حُذف من كلام النموذج ما لا تسنده المصادر."));
    EXPECT_FALSE(a.text.contains(QStringLiteral("مختلقة")));
}

TEST_F(AnswerPath, rowG_noQuotationShowsTheSourcesThemselves)
{
    const AIAnswer a = ask(QStringLiteral("صلاة الجماعة سنة مؤكدة عند كثير من العلماء «جملة لا توجد في المصادر أبدا»"));
    EXPECT_TRUE(a.text.isEmpty());
    EXPECT_EQ(a.tier, 0);
    EXPECT_EQ(a.quoteCount, 0);
    EXPECT_EQ(a.failedQuotes, 1);
    EXPECT_FALSE(a.verifiedAll);
    EXPECT_EQ(a.note, QStringLiteral("لم يستشهد النموذج بنص يطابق مصادره، فعرضت النصوص نفسها."));
}

TEST_F(AnswerPath, aReportAsksForMorePassagesThanAnAnswer)
{
    ScopedEnv noModel("QUORVEL_NO_MODEL", QStringLiteral("1"));
    // Three books, at most two passages each: six is all a report can get.
    const QString broad = QStringLiteral("رسول الله صلى الله عليه وسلم");
    EXPECT_EQ(AIAssistant::run(*lib, broad, AIMode::report).passages.size(), 6);
    EXPECT_EQ(AIAssistant::run(*lib, broad, AIMode::answer).passages.size(), 5);
    EXPECT_EQ(AIAssistant::run(*lib, broad, AIMode::automatic).passages.size(), 5);
}
