// Data questions end to end on the bundled sample library: the tool
// "library_data" through "quorvel --mcp", checked against counts taken
// straight from the catalogue and the full-text index, and the data mode of
// "quorvel --ai".

#include "assistant/DataQA.h"
#include "core/Arabic.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Paths.h"
#include "support/SampleStore.h"

#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef QUORVEL_SAMPLE_RELEASE
namespace {

using quorvel::Json::Value;
constexpr int kTimeoutMs = 300000;

class DataQuestions : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = std::make_unique<QTemporaryDir>();
        store = dir->filePath(QStringLiteral("library.db"));
        const auto sample = quorvel::test::SampleStore::shared(QStringLiteral(QUORVEL_SAMPLE_RELEASE),
                                                               quorvel::test::SampleStore::whole());
        installed = quorvel::test::SampleStore::copy(sample, store, quorvel::Paths::smartDir());
    }
    static void TearDownTestSuite() { dir.reset(); }
    void SetUp() override { ASSERT_TRUE(installed); }

    // The results of "library_data" for each question, in order: the error
    // flag and the parsed result (or the error text).
    static std::vector<std::pair<bool, Value>> ask(const QStringList& questions)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUORVEL_DB"), store);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--mcp")});
        EXPECT_TRUE(process.waitForStarted());
        int id = 0;
        for (const QString& q : questions) {
            const Value call{{"jsonrpc", "2.0"},
                             {"id", ++id},
                             {"method", "tools/call"},
                             {"params", {{"name", "library_data"}, {"arguments", {{"question", q.toStdString()}}}}}};
            process.write(QByteArray::fromStdString(quorvel::Json::dump(call)) + '\n');
        }
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(kTimeoutMs));
        std::vector<std::pair<bool, Value>> out(size_t(questions.size()));
        for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
            const auto reply = quorvel::Json::parse(line);
            if (!reply || !reply->is_object() || !reply->contains("id"))
                continue;
            const size_t at = reply->at("id").get<size_t>() - 1;
            const Value& result = reply->at("result");
            const std::string text = result.at("content").at(0).at("text");
            const bool isError = result.at("isError").get<bool>();
            out.at(at) = {isError, isError ? Value(text) : *quorvel::Json::parse(text)};
        }
        return out;
    }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString store;
    static inline bool installed = false;
};

// A table's rows as label → the numbers after it, read as plain integers.
QMap<QString, QList<long long>> byLabel(const Value& table)
{
    QMap<QString, QList<long long>> out;
    for (const Value& row : table.at("rows")) {
        QList<long long> numbers;
        for (size_t i = 1; i < row.size(); ++i) {
            const std::string cell = row[i];
            bool ok = false;
            numbers.append(QString::fromStdString(cell).toLongLong(&ok));
            EXPECT_TRUE(ok) << cell;
        }
        out.insert(QString::fromStdString(row[0].get<std::string>()), numbers);
    }
    return out;
}

} // namespace

TEST_F(DataQuestions, libraryDataCountsEqualTheCatalogueAndTheIndex)
{
    const auto results = ask({QStringLiteral("عدد الكتب حسب القرن"), QStringLiteral("كم مرة وردت كلمة الزكاة حسب القسم"),
                              QStringLiteral("كتب القرن 19")});
    ASSERT_EQ(results.size(), 3u);

    const auto lib = quorvel::Library::open(store);
    ASSERT_TRUE(lib);
    QHash<std::int64_t, long long> pages;
    for (const auto& row : lib->main().rows(QStringLiteral("SELECT book_id, COUNT(*) FROM pages GROUP BY book_id")))
        pages.insert(row.integer(0).value_or(0), row.integer(1).value_or(0));

    // Books and pages by century of their author's death.
    {
        const auto& [isError, result] = results[0];
        ASSERT_FALSE(isError) << result;
        EXPECT_EQ(result.at("source"), "محسوب من فهرس مكتبة قورفل ونصوصها مباشرة");
        EXPECT_FALSE(result.at("summary").get<std::string>().empty());
        ASSERT_EQ(result.at("tables").size(), 1u);
        QMap<QString, QList<long long>> expected;
        for (const quorvel::Book& book : lib->books()) {
            const QString label = quorvel::Arabic::latinDigits(
                quorvel::DataQA::centuryLabel(quorvel::DataQA::century(lib->deathYear(book))));
            auto& tally = expected[label];
            if (tally.isEmpty())
                tally = {0, 0};
            tally[0] += 1;
            tally[1] += pages.value(book.id);
        }
        EXPECT_EQ(byLabel(result.at("tables")[0]), expected);
        EXPECT_GE(expected.size(), 2);
    }

    // Pages holding a form of الزكاة, by category, beside the bare grouped query.
    {
        const auto& [isError, result] = results[1];
        ASSERT_FALSE(isError) << result;
        const auto conn = lib->newSearchConnection();
        ASSERT_TRUE(conn);
        const QString forms = QStringLiteral("\"زكاه\" OR \"الزكاه\" OR \"وزكاه\" OR \"والزكاه\" OR \"بزكاه\" OR "
                                             "\"بالزكاه\" OR \"لزكاه\" OR \"للزكاه\" OR \"فزكاه\" OR \"فالزكاه\"");
        const auto catalog = lib->catalog();
        QMap<QString, QList<long long>> expected;
        for (const auto& row : conn->rows(QStringLiteral("SELECT book_id, COUNT(*) FROM pages_fts WHERE pages_fts "
                                                         "MATCH ? GROUP BY book_id"),
                                          {forms})) {
            const auto book = catalog->bookById.constFind(row.integer(0).value_or(0));
            ASSERT_NE(book, catalog->bookById.cend());
            const auto category = book->categoryId ? catalog->categoryById.constFind(*book->categoryId)
                                                   : catalog->categoryById.cend();
            const QString name = category != catalog->categoryById.cend() ? category->name
                                                                          : QStringLiteral("غير مصنف");
            auto& tally = expected[name];
            if (tally.isEmpty())
                tally = {0};
            tally[0] += row.integer(1).value_or(0);
        }
        ASSERT_FALSE(expected.isEmpty());
        ASSERT_EQ(result.at("tables").size(), 1u);
        EXPECT_EQ(byLabel(result.at("tables")[0]), expected);
        EXPECT_EQ(result.at("tables")[0].at("columns")[1], "صفحات «الزكاة»");
    }

    // No book of the nineteenth century.
    EXPECT_EQ(results[2], std::make_pair(true, Value("لا كتب تطابق هذا الطلب في المكتبة.")));

    // "--ai data" prints the same summary as its text.
    QProcess ai;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_DB"), store);
    env.insert(QStringLiteral("QUORVEL_USERDB"), QStringLiteral(":memory:"));
    ai.setProcessEnvironment(env);
    ai.start(QStringLiteral(QUORVEL_BINARY),
             {QStringLiteral("--ai"), QStringLiteral("data"), QStringLiteral("عدد الكتب حسب القرن")});
    ASSERT_TRUE(ai.waitForFinished(kTimeoutMs));
    EXPECT_EQ(ai.exitCode(), 0);
    const auto line = quorvel::Json::parse(ai.readAllStandardOutput().trimmed());
    ASSERT_TRUE(line && line->is_object());
    EXPECT_EQ(line->at("text"), results[0].second.at("summary"));
    EXPECT_TRUE(line->at("passages").empty());
}
#endif
