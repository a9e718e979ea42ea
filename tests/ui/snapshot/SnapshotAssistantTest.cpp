// The harness's analysis-panel, assistant, routing and report jobs, each run
// through the built application on the sample library, offscreen and without
// a local model, so that every answer comes from the model-free path.

#include "ui/snapshot/SnapshotTestSupport.h"

#include "assistant/AIMode.h"
#include "assistant/Intent.h"
#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "ui/assistant/AIChatView.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quorvel::test {
namespace {

class SnapshotAssistantTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (sampleLibraryPath().isEmpty())
            GTEST_SKIP() << "the sample release is not built";
    }

    SnapshotRun run(const std::map<QString, QString>& variables)
    {
        std::map<QString, QString> all = variables;
        // Never a model, whatever the developer's machine holds.
        all.emplace(QStringLiteral("QUORVEL_NO_MODEL"), QStringLiteral("1"));
        SnapshotRun result = process.run(all);
        EXPECT_TRUE(result.finished) << result.errors.toStdString();
        EXPECT_EQ(result.status, 0) << result.errors.toStdString();
        return result;
    }

    static QStringList snapshotNames(const SnapshotRun& result)
    {
        QStringList names;
        for (const QString& line : result.linesStartingWith(QStringLiteral("snapshot: ")))
            names.append(QFileInfo(line.mid(10)).fileName());
        return names;
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    SnapshotProcess process;
};

// A sample page that names its narrators, so that the chain panel has
// something to show.
std::optional<std::int64_t> pageWithChain()
{
    const std::shared_ptr<SQLiteDB> db = SQLiteDB::open(sampleLibraryPath(), true);
    if (!db)
        return std::nullopt;
    const auto rows = db->rows(QStringLiteral("SELECT id FROM pages WHERE content LIKE ? ORDER BY id LIMIT 1"),
                               {QStringLiteral("%حدثنا%")});
    return rows.isEmpty() ? std::nullopt : rows.first().integer(0);
}

bool sampleHasBook(std::int64_t id)
{
    const std::shared_ptr<SQLiteDB> db = SQLiteDB::open(sampleLibraryPath(), true);
    return db && !db->rows(QStringLiteral("SELECT 1 FROM books WHERE id=?"), {id}).isEmpty();
}

TEST_F(SnapshotAssistantTest, smartPanelsOfARealPageAreRenderedNarrowAndNeverTooHigh)
{
    const std::optional<std::int64_t> page = pageWithChain();
    ASSERT_TRUE(page);
    const SnapshotRun result = run({{QStringLiteral("SNAP_SMART"), QString()},
                                    {QStringLiteral("SNAP_PAGE"), QString::number(*page)}});

    // The editions panel needs a book the sample does not hold; every other
    // panel is drawn, in order, the chain one because the page exists.
    QStringList expected{"s1-word.png", "s2-reuse.png", "s3-isnad.png", "s5-genealogy.png", "s6-collate.png"};
    ASSERT_FALSE(sampleHasBook(568));
    EXPECT_EQ(snapshotNames(result), expected);
    EXPECT_FALSE(QFileInfo::exists(result.file(QStringLiteral("s4-editions.png"))));
    for (const QString& name : expected) {
        const QImage image(result.file(name));
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        EXPECT_EQ(image.width(), 560) << name.toStdString();
        EXPECT_LE(image.height(), 900) << name.toStdString();
        EXPECT_TRUE(isPicture(result.file(name))) << name.toStdString();
    }
    // A whole page of narrators and a word found all over the library make
    // longer panels than a missing collation.
    EXPECT_GT(QImage(result.file(QStringLiteral("s1-word.png"))).height(),
              QImage(result.file(QStringLiteral("s6-collate.png"))).height());
}

TEST_F(SnapshotAssistantTest, assistantTabAnswersEveryQuestionWithoutAModel)
{
    const SnapshotRun result = run({{QStringLiteral("SNAP_AI"),
                                     QStringLiteral(u"ما حكم الصلاة||من هو مالك بن أنس")}});

    const QStringList timing = result.linesStartingWith(QStringLiteral("ai answered in "));
    ASSERT_EQ(timing.size(), 1) << result.lines.join(QLatin1Char('\n')).toStdString();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral(R"(^ai answered in (\d+\.\d)s$)")).match(timing.first());
    ASSERT_TRUE(match.hasMatch()) << timing.first().toStdString();
    // Both questions done long before the budget ran out: the panel fell idle.
    EXPECT_LT(match.captured(1).toDouble(), 240.0);

    EXPECT_EQ(snapshotNames(result), (QStringList{"06-ai.png", "06-ai-full.png"}));
    EXPECT_TRUE(isPicture(result.file(QStringLiteral("06-ai.png")), QSize(1400, 860)));
    const QImage full(result.file(QStringLiteral("06-ai-full.png")));
    EXPECT_TRUE(isPicture(result.file(QStringLiteral("06-ai-full.png"))));
    // The whole transcript of two answered questions, not only the part that
    // fits in the window.
    EXPECT_GT(full.height(), 860);
}

TEST_F(SnapshotAssistantTest, reportsSkipBadItemsPrintAnswersAndExportFilesThatOpen)
{
    const QString biography = QStringLiteral(u"مالك بن أنس");
    const QString ruling = QStringLiteral(u"ما حكم الصلاة");
    const QString data = QStringLiteral(u"عدد الكتب حسب القرن");
    const SnapshotRun result =
        run({{QStringLiteral("SNAP_REPORT"), QStringLiteral("biography|") + biography +
                                                 QStringLiteral(";bogus|x;noseparator;;auto|") + ruling +
                                                 QStringLiteral(";data|") + data}});
    const QString all = result.lines.join(QLatin1Char('\n'));

    const QRegularExpression summary(QStringLiteral(R"(^== (\S+) «(.*)» \d+\.\ds passages:(\d+) tier:(\d+)$)"));
    QStringList modes, questions;
    int routedAt = -1, autoAt = -1;
    for (int i = 0; i < result.lines.size(); ++i) {
        if (result.lines[i].startsWith(QStringLiteral("-> routed: ")))
            routedAt = routedAt < 0 ? i : -2;
        const QRegularExpressionMatch match = summary.match(result.lines[i]);
        if (!match.hasMatch())
            continue;
        modes.append(match.captured(1));
        questions.append(match.captured(2));
        if (match.captured(1) == QStringLiteral("auto"))
            autoAt = i;
        // Without a model no answer holds model text.
        EXPECT_EQ(match.captured(4), QStringLiteral("0"));
    }
    EXPECT_EQ(modes, (QStringList{"biography", "auto", "data"})) << all.toStdString();
    EXPECT_EQ(questions, (QStringList{biography, ruling, data}));
    EXPECT_FALSE(all.contains(QStringLiteral("timeout")));
    EXPECT_FALSE(all.contains(QStringLiteral("export ")));

    // One routing line, naming the plan's mode and topic, just before its answer.
    ASSERT_GE(routedAt, 0) << all.toStdString();
    EXPECT_LT(routedAt, autoAt);
    const AIChatView::Plan plan = AIChatView::plan(ruling, AIMode::automatic, std::nullopt, std::nullopt);
    EXPECT_EQ(plan.mode, AIMode::answer);
    EXPECT_EQ(result.lines[routedAt].toStdString(),
              (QStringLiteral("-> routed: answer topic «") + plan.topic + QStringLiteral("» question «") +
               plan.question + QStringLiteral("»"))
                  .toStdString());

    // The data answer's table: a head line and at most six rows under it.
    const qsizetype tableAt = result.lines.indexOf(QRegularExpression(QStringLiteral(R"(^  \[.+\] cols: .+ · rows: \d+ · chart: \d+)")));
    ASSERT_GE(tableAt, 0) << all.toStdString();
    int rows = 0;
    for (qsizetype i = tableAt + 1; i < result.lines.size() && result.lines[i].startsWith(QStringLiteral("    ")); ++i)
        ++rows;
    EXPECT_GE(rows, 1);
    EXPECT_LE(rows, 6);

    for (const QString& mode : QStringList{"biography", "auto", "data"}) {
        const QString docx = result.file(mode + QStringLiteral(".docx"));
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), docx});
        ASSERT_TRUE(unzip.waitForFinished(60000));
        EXPECT_EQ(unzip.exitCode(), 0) << mode.toStdString() << unzip.readAllStandardOutput().toStdString();

        const QString html = QString::fromUtf8(read(result.file(mode + QStringLiteral(".html"))));
        EXPECT_TRUE(html.contains(QStringLiteral("<html"))) << mode.toStdString();

        const QString pdf = result.file(mode + QStringLiteral(".pdf"));
        EXPECT_TRUE(read(pdf).startsWith("%PDF")) << mode.toStdString();
        EXPECT_GT(QFileInfo(pdf).size(), 1000);
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (!pdftotext.isEmpty()) {
            QProcess text;
            text.start(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
            ASSERT_TRUE(text.waitForFinished(60000));
            EXPECT_EQ(text.exitCode(), 0) << mode.toStdString();
            // Shaped letters may come out as presentation forms.
            const QString words = QString::fromUtf8(text.readAllStandardOutput())
                                      .normalized(QString::NormalizationForm_KC);
            EXPECT_TRUE(words.contains(QStringLiteral(u"الصلاة")) || words.contains(QStringLiteral(u"مالك")) ||
                        words.contains(QStringLiteral(u"القرن")))
                << mode.toStdString();
        }
    }
    // A table only in the data answer, so only it has a CSV.
    EXPECT_TRUE(read(result.file(QStringLiteral("data.csv"))).startsWith("\xEF\xBB\xBF"));
    EXPECT_FALSE(QFileInfo::exists(result.file(QStringLiteral("bogus.docx"))));

    // The last answered item asked again in the window.
    EXPECT_EQ(snapshotNames(result), QStringList{"r-data.png"});
    EXPECT_TRUE(isPicture(result.file(QStringLiteral("r-data.png")), QSize(1400, 860)));
}

TEST_F(SnapshotAssistantTest, aReportFromAModelPrintsItsRawReplyCutAndItsQuotationCounts)
{
    // The fake server as the only "llama-server" on the path, replaying a
    // reply with one quotation the books hold and one they do not.
    QTemporaryDir tools;
    const QString server = tools.filePath(QStringLiteral("llama-server"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER), server));
    QFile::setPermissions(server, QFile::permissions(server) | QFileDevice::ExeOwner);
    // The model quotes the start of the first sentence that the same
    // retrieval gives without a model (full-text only, so both agree).
    const QString question = QStringLiteral(u"ما حكم الصلاة");
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_DB"), sampleLibraryPath());
    env.insert(QStringLiteral("QUORVEL_USERDB"), QStringLiteral(":memory:"));
    env.insert(QStringLiteral("QUORVEL_NO_SMART"), QStringLiteral("1"));
    env.insert(QStringLiteral("QUORVEL_NO_MODEL"), QStringLiteral("1"));
    env.insert(QStringLiteral("HOME"), tools.path());
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--ai"), QStringLiteral("answer"), question});
    ASSERT_TRUE(probe.waitForFinished(120000));
    const std::optional<Json::Value> found = Json::parse(probe.readAllStandardOutput().trimmed());
    ASSERT_TRUE(found && found->contains("extractive") && !found->at("extractive").empty());
    const QString sentence = Json::qstr(found->at("extractive").at(0).at(0).get<std::string>());
    const QString quotation = sentence.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(0, 6).join(QLatin1Char(' '));
    ASSERT_GE(quotation.size(), 10);

    QString reply = QStringLiteral(u"قال: «") + quotation + QStringLiteral(u"» [1] وفيه «نص لا يوجد في الكتب أبدا» [2]");
    while (reply.size() <= 600)
        reply += QStringLiteral(u" ") + quotation;
    const QString script = tools.filePath(QStringLiteral("model.gguf"));
    QFile model(script);
    ASSERT_TRUE(model.open(QIODevice::WriteOnly));
    model.write("delta " + QByteArray::fromStdString(Json::dump(Json::toJson(reply))) + "\ndone\n");
    model.close();
    QDir().mkpath(process.work() + QStringLiteral("/config/quorvel"));
    QFile preferences(process.work() + QStringLiteral("/config/quorvel/preferences.json"));
    ASSERT_TRUE(preferences.open(QIODevice::WriteOnly));
    preferences.write(Json::dumpBytes(Json::Value::object({{"localModelPath", Json::toJson(script)}})));
    preferences.close();

    const SnapshotRun result =
        process.run({{QStringLiteral("SNAP_REPORT"), QStringLiteral("answer|") + question},
                     {QStringLiteral("QUORVEL_NO_SMART"), QStringLiteral("1")},
                     {QStringLiteral("PATH"), tools.path() + QLatin1Char(':') + qEnvironmentVariable("PATH")}});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.status, 0) << result.errors.toStdString();

    const std::string all = result.lines.join(QLatin1Char('\n')).toStdString();
    const qsizetype head = result.lines.indexOf(QStringLiteral("[raw model output]"));
    ASSERT_GE(head, 1) << all;
    EXPECT_TRUE(result.lines[head - 1].startsWith(QStringLiteral("== answer «") + question + QStringLiteral("» ")));
    EXPECT_TRUE(result.lines[head - 1].endsWith(QStringLiteral(" passages:5 tier:1"))) << result.lines[head - 1].toStdString();
    ASSERT_GT(result.lines.size(), head + 3);
    // The reply cut at 500 characters, then the check's counts and its note.
    EXPECT_EQ(result.lines[head + 1].toStdString(), reply.left(500).toStdString());
    EXPECT_TRUE(result.lines[head + 2].startsWith(QStringLiteral("[quotes ok 1, failed 1] note: "))) << all;
    EXPECT_FALSE(result.lines[head + 2].endsWith(QStringLiteral("note: -")));
    // The answer keeps only the quotation the books hold.
    const QString rest = result.lines.mid(head + 3).join(QLatin1Char('\n'));
    EXPECT_TRUE(rest.contains(QStringLiteral(u"«") + quotation + QStringLiteral(u"» ["))) << rest.toStdString();
    EXPECT_FALSE(rest.contains(QStringLiteral(u"لا يوجد في الكتب أبدا")));
    EXPECT_TRUE(isPicture(result.file(QStringLiteral("r-answer.png")), QSize(1400, 860)));
}

TEST_F(SnapshotAssistantTest, routingRunsAloneAndSkipsEmptyQuestions)
{
    const QString first = QStringLiteral(u"ما حكم الصلاة");
    const QString second = QStringLiteral(u"من هو مالك بن أنس؟");
    // The Quran job comes later in the order, so it does not run at all.
    const SnapshotRun result = run({{QStringLiteral("SNAP_ROUTE"), first + QStringLiteral(";;") + second},
                                    {QStringLiteral("SNAP_QURAN"), QStringLiteral("1:1")}});

    QStringList expected;
    for (const QString& question : {first, second}) {
        const auto [mode, topic] = Intent::route(question);
        QString line = question + QStringLiteral("   →   ") + mode.rawValue() + QStringLiteral("  « ") + topic +
                       QStringLiteral(" »");
        if (const std::optional<QString> continued = Intent::followUp(question))
            line += QStringLiteral("   [متابعة:  ") + *continued + QStringLiteral(" ]");
        expected.append(line);
    }
    EXPECT_EQ(result.lines.join(QLatin1Char('\n')).toStdString(), expected.join(QLatin1Char('\n')).toStdString());
    EXPECT_EQ(Intent::route(second).first, AIMode::biography);
    EXPECT_TRUE(QDir(result.dir).entryList(QDir::Files).isEmpty());
}

} // namespace
} // namespace quorvel::test
