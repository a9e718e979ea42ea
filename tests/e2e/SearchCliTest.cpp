// The built executable in "--search-cli" mode.

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "support/FixtureLibrary.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

using quorvel::Json::Value;

namespace {

constexpr int kTimeoutMs = 120000;
const char* const kPrayer = R"({"andPhrases":["الصلاة"]})";

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QString err;
    std::vector<Value> lines;
    bool allJson = true;
};

CliRun searchCli(const QStringList& arguments, const QByteArray& input = {}, rlim_t fileSizeLimit = 0)
{
    QProcess process;
    if (fileSizeLimit > 0)
        process.setChildProcessModifier([fileSizeLimit] {
            std::signal(SIGXFSZ, SIG_DFL);
            const rlimit fileSize{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        });
    process.start(QStringLiteral(QUORVEL_BINARY), QStringList{QStringLiteral("--search-cli")} + arguments);
    EXPECT_TRUE(process.waitForStarted());
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(kTimeoutMs));
    CliRun run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = QString::fromUtf8(process.readAllStandardError());
    for (const QByteArray& line : run.out.split('\n')) {
        if (line.isEmpty())
            continue;
        auto value = quorvel::Json::parse(line);
        if (!value) {
            run.allJson = false;
            continue;
        }
        run.lines.push_back(*value);
    }
    EXPECT_TRUE(run.out.isEmpty() || run.out.endsWith('\n'));
    return run;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    return path;
}

class SearchCliProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = std::make_unique<QTemporaryDir>();
        corpus = quorvel::test::FixtureLibrary::build(dir->filePath("corpus"));
    }
    static void TearDownTestSuite() { dir.reset(); }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString corpus;
};

} // namespace

TEST_F(SearchCliProcess, requestLineGivesOneSortedBenchmarkLine)
{
    const CliRun run = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"), QString::fromUtf8(kPrayer)});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_TRUE(run.out.startsWith("{\"batches\":"));
    const Value& line = run.lines[0];
    std::vector<std::string> keys;
    for (auto it = line.begin(); it != line.end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"batches", "books", "count", "first_ms", "hits", "i", "ms",
                                              "notes", "pages", "titles"}));
    EXPECT_EQ(line.at("i"), 0);
    EXPECT_GT(line.at("count").get<int>(), 10);
    EXPECT_EQ(line.at("count"), line.at("pages").get<int>() + line.at("titles").get<int>() + line.at("notes").get<int>());
    EXPECT_EQ(line.at("hits").size(), 10u);
    EXPECT_EQ(line.at("books").size(), 10u);
    EXPECT_GE(line.at("batches").get<int>(), 1);
    EXPECT_EQ(line.at("ms").size(), 1u);
    for (const Value& hit : line.at("hits")) {
        ASSERT_EQ(hit.size(), 4u);
        EXPECT_EQ(hit[3], "p");
        EXPECT_GE(hit[1].get<int>(), 1);
        EXPECT_LE(hit[1].get<int>(), 3);
    }
    EXPECT_TRUE(line.at("books")[0] == "موطأ الإمام مالك" || line.at("books")[0] == "سنن ابن ماجه");
}

TEST_F(SearchCliProcess, requestFileRepeatsEveryRequest)
{
    QTemporaryDir scratch;
    const QString file = writeFile(scratch, "requests.jsonl",
                                   QByteArray(R"({"andPhrases":["الزكاة"]})") + "\n\n   \t\n"
                                       + R"({"andPhrases":["مالك"],"orPhrases":[]})" + "\r\n"
                                       + R"({"andPhrases":["صلاة"],"affix":true})" + "\n");
    const CliRun run = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"), QString::fromUtf8(kPrayer),
                               QStringLiteral("--qfile"), file, QStringLiteral("--repeat"), QStringLiteral("3")});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 4u); // blank lines take no index
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(run.lines[i].at("i"), i);
        EXPECT_EQ(run.lines[i].at("ms").size(), 3u);
    }
    EXPECT_GT(run.lines[1].at("count").get<int>(), 0);
    // The affix request for صلاة finds more pages than الصلاة (request 0) alone.
    EXPECT_GT(run.lines[3].at("count").get<int>(), run.lines[0].at("count").get<int>());

    const CliRun once = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"), QString::fromUtf8(kPrayer),
                                QStringLiteral("--repeat"), QStringLiteral("-3")});
    EXPECT_EQ(once.lines.at(0).at("ms").size(), 1u);
    EXPECT_EQ(once.lines.at(0).at("count"), run.lines[0].at("count"));
}

TEST_F(SearchCliProcess, idsListEveryHitAndNLimitsTheList)
{
    const CliRun ids = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"), QString::fromUtf8(kPrayer),
                               QStringLiteral("--ids"), QStringLiteral("--n"), QStringLiteral("2")});
    ASSERT_EQ(ids.lines.size(), 1u);
    EXPECT_FALSE(ids.lines[0].contains("books"));
    EXPECT_EQ(ids.lines[0].at("hits").size(), ids.lines[0].at("count").get<std::size_t>());

    const CliRun none = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"), QString::fromUtf8(kPrayer),
                                QStringLiteral("--n"), QStringLiteral("0")});
    EXPECT_TRUE(none.lines.at(0).at("hits").empty());
    EXPECT_TRUE(none.lines.at(0).at("books").empty());
}

TEST_F(SearchCliProcess, highlightAuditShowsWhatSnippetAndReaderMark)
{
    const CliRun run = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"), QString::fromUtf8(kPrayer),
                               QStringLiteral("--hl"), QStringLiteral("--n"), QStringLiteral("3")});
    ASSERT_EQ(run.lines.size(), 1u);
    const Value& audit = run.lines[0];
    EXPECT_EQ(audit.at("i"), 0);
    EXPECT_GT(audit.at("total").get<int>(), 3);
    ASSERT_FALSE(audit.at("terms").empty());
    EXPECT_EQ(audit.at("terms")[0][1], "word");
    ASSERT_EQ(audit.at("pages").size(), 3u);
    const std::string term = quorvel::Arabic::normalize(QStringLiteral("الصلاة"), true).toStdString();
    for (const Value& page : audit.at("pages")) {
        ASSERT_FALSE(page.at("snip").empty());
        ASSERT_FALSE(page.at("reader").empty());
        for (const Value& marked : page.at("snip"))
            EXPECT_EQ(marked, term);
        for (const Value& marked : page.at("reader"))
            EXPECT_EQ(marked, term);
        EXPECT_GE(page.at("snip_first").get<int>(), 0);
        EXPECT_LT(page.at("snip_first").get<int>(), page.at("snip_len").get<int>());
    }
}

TEST_F(SearchCliProcess, normalisationParityFindsACorruptedRow)
{
    QTemporaryDir scratch;
    const QString db = quorvel::test::FixtureLibrary::build(scratch.filePath("lib"));
    const CliRun clean = searchCli({QStringLiteral("--db"), db, QStringLiteral("--norm-parity"), QStringLiteral("1000")});
    EXPECT_EQ(clean.exitCode, 0);
    ASSERT_EQ(clean.lines.size(), 1u);
    EXPECT_EQ(clean.lines[0].at("checked"), 121);
    EXPECT_EQ(clean.lines[0].at("same"), 121);
    EXPECT_EQ(clean.lines[0].at("mismatch"), 0);
    EXPECT_TRUE(clean.lines[0].at("examples").empty());

    {
        auto writer = quorvel::SQLiteDB::open(db, false);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->run(QStringLiteral("UPDATE pages SET content_norm=substr(content_norm, 1, 20) || 'x' WHERE id=5")));
    }
    const QString dump = scratch.filePath("dump.tsv");
    const CliRun broken = searchCli({QStringLiteral("--db"), db, QStringLiteral("--norm-parity"), QStringLiteral("1000"),
                                  QStringLiteral("--dump"), dump});
    ASSERT_EQ(broken.lines.size(), 1u);
    const Value& report = broken.lines[0];
    EXPECT_EQ(report.at("mismatch"), 1);
    ASSERT_EQ(report.at("examples").size(), 1u);
    const Value& example = report.at("examples")[0];
    EXPECT_EQ(example.at("id"), 5);
    EXPECT_EQ(example.at("at"), 20);
    EXPECT_EQ(example.at("len_stored"), 21);
    EXPECT_EQ(example.at("stored_cp").get<std::string>().substr(example.at("stored_cp").get<std::string>().size() - 4), "0078");

    QFile file(dump);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    ASSERT_EQ(rows.size(), 122); // 121 lines and the final line feed
    EXPECT_TRUE(rows[4].startsWith("5\t0\t"));
    EXPECT_TRUE(rows[5].startsWith("6\t1\t"));
    EXPECT_EQ(broken.exitCode, 0);

    // A dump that cannot be written fails the run, the report still printed.
    const CliRun unwritten = searchCli({QStringLiteral("--db"), db, QStringLiteral("--norm-parity"), QStringLiteral("10"),
                                        QStringLiteral("--dump"), scratch.filePath("no such folder/dump.tsv")});
    EXPECT_NE(unwritten.exitCode, 0);
    EXPECT_EQ(unwritten.lines.size(), 1u);
    EXPECT_TRUE(unwritten.err.contains(QStringLiteral("dump.tsv"))) << unwritten.err.toStdString();

    // Under a file-size limit that leaves no room for the library's reading
    // index beside it, the run says why, in the application's language.
    const CliRun limited = searchCli({QStringLiteral("--db"), db, QStringLiteral("--norm-parity"), QStringLiteral("10"),
                                      QStringLiteral("--dump"), scratch.filePath("limited.tsv")},
                                     {}, 4096);
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_TRUE(limited.err.contains(QStringLiteral("الملف أكبر مما يسمح به النظام"))) << limited.err.toStdString();

    // A fixed seed draws the same sample every time.
    auto sampleDump = [&](const char* seed, const QString& path) {
        searchCli({QStringLiteral("--db"), db, QStringLiteral("--norm-parity"), QStringLiteral("10"),
                   QStringLiteral("--seed"), QString::fromLatin1(seed), QStringLiteral("--dump"), path});
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray first = sampleDump("42", scratch.filePath("a"));
    EXPECT_EQ(first.count('\n'), 10);
    EXPECT_EQ(sampleDump("42", scratch.filePath("b")), first);
    EXPECT_NE(sampleDump("43", scratch.filePath("c")), first);
    // A seed that does not parse means 7.
    EXPECT_EQ(sampleDump("seven", scratch.filePath("d")), sampleDump("7", scratch.filePath("e")));
}

TEST_F(SearchCliProcess, normLinesNormalisesRealText)
{
    QFile book(quorvel::test::dataPath(QStringLiteral("books/001.json")));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    const Value pages = quorvel::Json::parse(book.readAll())->at("pages");
    QByteArray input;
    std::vector<std::string> expected;
    for (int i = 1; i < 6; ++i) {
        const QString content = quorvel::Json::qstr(pages[i].at("content"));
        input += quorvel::Json::dumpBytes(Value(content.toStdString())) + "\n";
        expected.push_back(quorvel::Arabic::normalize(content, true).toStdString());
    }
    input += "42\nnot json\n\"a/b\"\n";
    const CliRun run = searchCli({QStringLiteral("--norm-lines")}, input);
    EXPECT_EQ(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), 9);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(*quorvel::Json::parse(lines[i]), Value(expected[i]));
    EXPECT_EQ(lines[5], "null");
    EXPECT_EQ(lines[6], "null");
    EXPECT_EQ(lines[7], "\"a b\"");
}

TEST_F(SearchCliProcess, badArgumentsGetTheirStatusAndADiagnostic)
{
    QTemporaryDir scratch;
    const QString missing = scratch.filePath("missing/none.db");
    const CliRun noDb = searchCli({QStringLiteral("--db"), missing, QStringLiteral("--q"), QString::fromUtf8(kPrayer)});
    EXPECT_EQ(noDb.exitCode, 1);
    EXPECT_TRUE(noDb.out.isEmpty());
    EXPECT_TRUE(noDb.err.startsWith(QStringLiteral("cannot open ") + missing + QStringLiteral("\n"))) << noDb.err.toStdString();
    EXPECT_TRUE(noDb.err.endsWith(QStringLiteral(": الملف غير موجود\n"))) << noDb.err.toStdString();

    const CliRun noValue = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q")});
    EXPECT_EQ(noValue.exitCode, 0);
    EXPECT_TRUE(noValue.out.isEmpty());
    EXPECT_TRUE(noValue.err.contains(QStringLiteral("--q has no value")));

    const CliRun notJson = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"), QStringLiteral("الصلاة")});
    EXPECT_EQ(notJson.exitCode, 0);
    ASSERT_EQ(notJson.lines.size(), 1u);
    EXPECT_EQ(notJson.out, QByteArray("{\"error\":\"bad json\",\"i\":0}\n"));
    EXPECT_FALSE(notJson.err.isEmpty());

    const CliRun wrongType = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"),
                                     QStringLiteral(R"({"andPhrases":["الصلاة"],"requireAll":"yes"})")});
    EXPECT_EQ(wrongType.lines.at(0), (Value{{"error", "bad json"}, {"i", 0}}));

    const CliRun unknownKey = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--q"),
                                      QStringLiteral(R"({"andPhrases":["الصلاة"],"colour":"red"})")});
    EXPECT_EQ(unknownKey.exitCode, 0);
    ASSERT_EQ(unknownKey.lines.size(), 1u);
    EXPECT_GT(unknownKey.lines[0].at("count").get<int>(), 0);
    EXPECT_TRUE(unknownKey.err.contains(QStringLiteral("colour")));

    const QString empty = writeFile(scratch, "empty.jsonl", "\n  \n");
    const CliRun emptyFile = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--qfile"), empty});
    EXPECT_EQ(emptyFile.exitCode, 0);
    EXPECT_TRUE(emptyFile.out.isEmpty());
    EXPECT_TRUE(emptyFile.err.contains(QStringLiteral("no request lines")));

    // No request at all: the library opens and nothing is printed.
    const CliRun nothing = searchCli({QStringLiteral("--db"), corpus});
    EXPECT_EQ(nothing.exitCode, 0);
    EXPECT_TRUE(nothing.out.isEmpty());

    // A parity count that is no number leaves the request mode running.
    const CliRun parity = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--norm-parity"), QStringLiteral("many"),
                                  QStringLiteral("--q"), QString::fromUtf8(kPrayer)});
    ASSERT_EQ(parity.lines.size(), 1u);
    EXPECT_TRUE(parity.lines[0].contains("batches"));
    EXPECT_TRUE(noDb.allJson && notJson.allJson && unknownKey.allJson && parity.allJson);
}

// A megabyte of query text is refused at once with its own error line instead
// of being expanded word by word; the requests around it still run.
TEST_F(SearchCliProcess, anOversizedRequestIsRefusedAndTheOthersRun)
{
    QTemporaryDir scratch;
    QByteArray words;
    while (words.size() < (1 << 20))
        words += "الصلاة والزكاة ";
    const QString file = writeFile(scratch, "requests.jsonl",
                                   QByteArray(R"({"andPhrases":[")") + words + R"("]})" + "\n"
                                       + R"({"orPhrases":["الزكاة"],"affix":true})" + "\n");
    const CliRun run = searchCli({QStringLiteral("--db"), corpus, QStringLiteral("--qfile"), file});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0], (Value{{"error", "query too large"}, {"i", 0}}));
    EXPECT_TRUE(run.err.contains(QStringLiteral("طلب البحث أطول من المقبول"))) << run.err.toStdString();
    EXPECT_GT(run.lines[1].at("count").get<int>(), 0);
}
