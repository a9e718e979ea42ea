// The built executable in "--ai" mode, on the bundled sample library.

#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "ui/reader/ReaderTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using quorvel::Json::Value;

namespace {

constexpr int kTimeoutMs = 120000;
const QString kQuestion = QStringLiteral("ما حكم صلاة الجماعة");

struct AiRun {
    int exitCode = -1;
    QByteArray out;
};

QProcessEnvironment baseEnvironment(const QString& db)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_NO_SMART"), QStringLiteral("1"));
    env.insert(QStringLiteral("QUORVEL_USERDB"), QStringLiteral(":memory:"));
    env.remove(QStringLiteral("QUORVEL_NO_MODEL"));
    if (db.isEmpty())
        env.remove(QStringLiteral("QUORVEL_DB"));
    else
        env.insert(QStringLiteral("QUORVEL_DB"), db);
    return env;
}

AiRun ai(const QString& binary, const QStringList& arguments, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(binary, arguments);
    EXPECT_TRUE(process.waitForStarted());
    EXPECT_TRUE(process.waitForFinished(kTimeoutMs));
    return {process.exitCode(), process.readAllStandardOutput()};
}

// Exited: no process entry, or only a zombie waiting for whoever adopted it.
bool processGone(long long pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

QString field(const Value& v) { return quorvel::Json::qstr(v.get<std::string>()); }

class AiMode : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sample = std::make_unique<quorvel::test::SampleLib>(); }
    static void TearDownTestSuite() { sample.reset(); }

    // The page a passage entry [n, book, seq] names, as stored.
    static QString pageText(const Value& entry)
    {
        const auto page = sample->lib->page(entry.at(1).get<std::int64_t>(), entry.at(2).get<std::int64_t>());
        return page ? page->content : QString();
    }

    static inline std::unique_ptr<quorvel::test::SampleLib> sample;
};

} // namespace

TEST_F(AiMode, withoutAModelTheLineHoldsVerbatimSentencesAndTheirSources)
{
    REQUIRE_SAMPLE(*sample);
    QProcessEnvironment env = baseEnvironment(quorvel::test::sampleLibraryPath());
    env.insert(QStringLiteral("QUORVEL_NO_MODEL"), QStringLiteral("1"));
    const AiRun run = ai(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--ai"), QStringLiteral("answer"), kQuestion}, env);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_TRUE(run.out.endsWith('\n'));
    ASSERT_EQ(run.out.count('\n'), 1);
    ASSERT_TRUE(run.out.startsWith(R"({"extractive":[)")) << run.out.constData();
    const auto line = quorvel::Json::parse(run.out.trimmed());
    ASSERT_TRUE(line && line->is_object());
    EXPECT_EQ(line->size(), 4u);
    EXPECT_EQ(field(line->at("text")), QString());
    EXPECT_EQ(line->at("tier"), 0);

    const Value& passages = line->at("passages");
    ASSERT_FALSE(passages.empty());
    int n = 0;
    for (const Value& p : passages) {
        ASSERT_EQ(p.size(), 3u);
        EXPECT_EQ(p.at(0), ++n);
        EXPECT_FALSE(pageText(p).isEmpty());
    }
    const Value& extractive = line->at("extractive");
    ASSERT_FALSE(extractive.empty());
    EXPECT_LE(extractive.size(), 4u);
    for (const Value& s : extractive) {
        const int number = s.at(1).get<int>();
        ASSERT_GE(number, 1);
        ASSERT_LE(number, int(passages.size()));
        const QString page = pageText(passages.at(number - 1)).replace(QStringLiteral("__________"),
                                                                        QStringLiteral("\n[الحاشية]\n"));
        EXPECT_TRUE(page.contains(field(s.at(0)))) << field(s.at(0)).toStdString();
    }
    // Every "/" of the line is written "\/".
    EXPECT_EQ(run.out.count('/'), run.out.count("\\/"));
}

TEST_F(AiMode, aQuestionOfStopWordsPrintsTheNotFoundTextAndEmptyLists)
{
    REQUIRE_SAMPLE(*sample);
    QProcessEnvironment env = baseEnvironment(quorvel::test::sampleLibraryPath());
    env.insert(QStringLiteral("QUORVEL_NO_MODEL"), QStringLiteral("1"));
    // A question of stop words only: the not-found text, and empty lists.
    const AiRun run = ai(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--ai"), QStringLiteral("auto"), QStringLiteral("هل هذا ما")}, env);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith(R"({"extractive":[],"passages":[],"text":")")) << run.out.constData();
    EXPECT_TRUE(run.out.endsWith(",\"tier\":0}\n"));
}

TEST_F(AiMode, aScriptedModelGivesTierOneWithVerbatimQuotationsAndLeavesNoServer)
{
    REQUIRE_SAMPLE(*sample);
    // A prefix shaped like an installation: the executable in bin/, the fake
    // as the bundled server under share/quorvel.
    QTemporaryDir prefix;
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("share/quorvel/llama")));
    const QString binary = prefix.filePath(QStringLiteral("bin/quorvel"));
    const QString server = prefix.filePath(QStringLiteral("share/quorvel/llama/llama-server"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEL_BINARY), binary));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER), server));
    QFile::setPermissions(server, QFile::permissions(server) | QFileDevice::ExeOwner);
    QFile::setPermissions(binary, QFile::permissions(binary) | QFileDevice::ExeOwner);

    // The model quotes the first passage that a run without a model finds.
    QProcessEnvironment env = baseEnvironment(quorvel::test::sampleLibraryPath());
    QProcessEnvironment noModel = env;
    noModel.insert(QStringLiteral("QUORVEL_NO_MODEL"), QStringLiteral("1"));
    const auto first = quorvel::Json::parse(
        ai(binary, {QStringLiteral("--ai"), QStringLiteral("answer"), kQuestion}, noModel).out.trimmed());
    ASSERT_TRUE(first && !first->at("extractive").empty());
    const QString sentence = field(first->at("extractive").at(0).at(0));
    const QStringList words = sentence.split(u' ', Qt::SkipEmptyParts);
    const QString quotation = words.mid(0, std::min<qsizetype>(words.size(), 8)).join(u' ');
    ASSERT_GE(quotation.size(), 10);

    const QString script = prefix.filePath(QStringLiteral("model.gguf"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString reply = sentence + QStringLiteral(" و/أو «") + quotation + QStringLiteral("»");
    file.write("delta " + QByteArray::fromStdString(quorvel::Json::dump(quorvel::Json::toJson(reply))) + "\ndone\n");
    file.close();

    const AiRun run = ai(binary, {QStringLiteral("-localModelPath"), script, QStringLiteral("--ai"), QStringLiteral("answer"), kQuestion}, env);
    EXPECT_EQ(run.exitCode, 0);
    const auto line = quorvel::Json::parse(run.out.trimmed());
    ASSERT_TRUE(line) << run.out.constData();
    EXPECT_EQ(line->at("tier"), 1);
    const QString text = field(line->at("text"));
    EXPECT_TRUE(text.contains(QStringLiteral("«") + quotation + QStringLiteral("» ["))) << text.toStdString();
    // The prose's "/" is written "\/" on the line.
    EXPECT_TRUE(text.contains(QStringLiteral("و/أو")));
    EXPECT_TRUE(run.out.contains("\\/"));
    EXPECT_EQ(run.out.count('/'), run.out.count("\\/"));

    // The server the answer started is gone once the process has exited.
    QFile pids(script + QStringLiteral(".pids"));
    ASSERT_TRUE(pids.open(QIODevice::ReadOnly));
    const QList<QByteArray> started = pids.readAll().trimmed().split('\n');
    ASSERT_EQ(started.size(), 1);
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = processGone(started[0].toLongLong());
        if (!gone)
            QThread::msleep(10);
    }
    EXPECT_TRUE(gone) << "the inference server outlived the answer";
}

TEST_F(AiMode, anUnknownModeOrNoLibraryIsBadArguments)
{
    REQUIRE_SAMPLE(*sample);
    const QStringList unknown{QStringLiteral("--ai"), QStringLiteral("Auto"), kQuestion};
    const AiRun wrongMode = ai(QStringLiteral(QUORVEL_BINARY), unknown, baseEnvironment(quorvel::test::sampleLibraryPath()));
    EXPECT_EQ(wrongMode.exitCode, 2);
    EXPECT_EQ(wrongMode.out, "bad arguments\n");

    QTemporaryDir empty;
    QProcessEnvironment env = baseEnvironment(QString());
    env.insert(QStringLiteral("HOME"), empty.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), empty.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), empty.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("QUORVEL_LIBDB"), empty.filePath(QStringLiteral("none/library.db")));
    const AiRun noLibrary = ai(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--ai"), QStringLiteral("answer"), kQuestion}, env);
    EXPECT_EQ(noLibrary.exitCode, 2);
    EXPECT_EQ(noLibrary.out, "bad arguments\n");
}

TEST_F(AiMode, reportModesPrintTheirReportWithQuotationsOfTheirPassages)
{
    REQUIRE_SAMPLE(*sample);
    QProcessEnvironment env = baseEnvironment(quorvel::test::sampleLibraryPath());
    env.insert(QStringLiteral("QUORVEL_NO_MODEL"), QStringLiteral("1"));
    const auto report = [&](const char* mode, const QString& q) {
        const AiRun run = ai(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--ai"), QString::fromLatin1(mode), q}, env);
        EXPECT_EQ(run.exitCode, 0);
        const auto line = quorvel::Json::parse(run.out.trimmed());
        EXPECT_TRUE(line && line->is_object()) << run.out.constData();
        return line.value_or(Value::object());
    };
    const QRegularExpression quotation(QStringLiteral("«[^»]+» \\[(\\d+)\\]"));
    for (const auto& [mode, q] : std::vector<std::pair<const char*, QString>>{
             {"views", QStringLiteral("صلاة الجماعة")},
             {"history", QStringLiteral("المسح على الخفين")},
             {"term", QStringLiteral("الغرر")},
             {"sources", QStringLiteral("الزكاة")}}) {
        SCOPED_TRACE(mode);
        const Value line = report(mode, q);
        ASSERT_TRUE(line.contains("text"));
        const QString text = field(line.at("text"));
        EXPECT_TRUE(text.startsWith(QStringLiteral("## "))) << text.toStdString();
        EXPECT_TRUE(line.at("extractive").empty());
        const std::size_t passages = line.at("passages").size();
        ASSERT_GT(passages, 0u);
        int quoted = 0;
        for (auto it = quotation.globalMatch(text); it.hasNext();) {
            const int n = it.next().captured(1).toInt();
            EXPECT_GE(n, 1);
            EXPECT_LE(n, int(passages));
            ++quoted;
        }
        EXPECT_GT(quoted, 0);
    }

    // Every book once, oldest first, with as many pages as the search finds.
    const QString hadith = QStringLiteral("إنما الأعمال بالنيات");
    const Value takhrij = report("takhrij", hadith);
    QProcess search;
    search.setProcessEnvironment(baseEnvironment(QString()));
    search.start(QStringLiteral(QUORVEL_BINARY),
                 {QStringLiteral("--search-cli"), QStringLiteral("--db"), quorvel::test::sampleLibraryPath(),
                  QStringLiteral("--q"), QStringLiteral(R"({"andPhrases":["%1"],"inNotes":false})").arg(hadith)});
    ASSERT_TRUE(search.waitForFinished(kTimeoutMs));
    const auto found = quorvel::Json::parse(search.readAllStandardOutput().trimmed());
    ASSERT_TRUE(found && found->contains("pages"));
    const int pages = found->at("pages").get<int>();
    ASSERT_GT(pages, 1);
    quorvel::Settings::setIndicDigits(true);
    EXPECT_TRUE(field(takhrij.at("text")).startsWith(QStringLiteral("## الخلاصة\nورد النص بلفظه في ")
                                                     + quorvel::CountedNoun::pages().count(pages, quorvel::CountedNoun::Case::genitive)))
        << field(takhrij.at("text")).toStdString();
    QList<std::int64_t> books;
    const auto order = sample->lib->books();
    qsizetype last = -1;
    for (const Value& p : takhrij.at("passages")) {
        const std::int64_t book = p.at(1).get<std::int64_t>();
        EXPECT_FALSE(books.contains(book));
        books << book;
        const auto at = std::find_if(order.begin(), order.end(), [&](const quorvel::Book& b) { return b.id == book; });
        ASSERT_NE(at, order.end());
        EXPECT_GT(at - order.begin(), last);
        last = at - order.begin();
    }
    EXPECT_GE(books.size(), 2);

    const Value biography = report("biography", QStringLiteral("ابن حجر العسقلاني"));
    const QString card = field(biography.at("text"));
    EXPECT_TRUE(card.startsWith(QStringLiteral("## بطاقة العلم في المكتبة\n"))) << card.toStdString();
    EXPECT_TRUE(card.contains(QStringLiteral("الوفاة: سنة ٨٥٢هـ (القرن التاسع الهجري)")));
    EXPECT_TRUE(card.contains(QStringLiteral("## مؤلفاته في المكتبة")));
    // Its two editions are one work.
    EXPECT_TRUE(card.contains(QStringLiteral("- تقريب التهذيب (في طبعتين)\n")));
    // The automatic mode routes the question as the panel does: the same report.
    EXPECT_EQ(report("auto", QStringLiteral("من هو ابن حجر العسقلاني؟")), biography);
}
