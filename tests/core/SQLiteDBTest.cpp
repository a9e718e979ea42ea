#include "core/SQLiteDB.h"

#include <QDate>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace quorvel;

namespace {

struct SQLiteDBTest : ::testing::Test {
    QTemporaryDir dir;
    std::shared_ptr<SQLiteDB> db;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        db = SQLiteDB::open(dir.filePath("t.db"), false);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->exec("CREATE TABLE t(a, b)"));
    }

    int countLines(const std::string& text, const std::string& prefix)
    {
        int n = 0;
        size_t pos = 0;
        while ((pos = text.find(prefix, pos)) != std::string::npos) {
            ++n;
            pos += prefix.size();
        }
        return n;
    }
};

} // namespace

TEST_F(SQLiteDBTest, readOnlyOpenOfMissingFileFailsWithoutCreatingIt)
{
    const QString missing = dir.filePath("missing.db");
    EXPECT_FALSE(SQLiteDB::open(missing, true));
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(SQLiteDB::open("file:" + missing + "?mode=ro", true));
    EXPECT_TRUE(SQLiteDB::open(missing, false));
    EXPECT_TRUE(QFileInfo::exists(missing));
}

TEST_F(SQLiteDBTest, readOnlyConnectionRefusesWrites)
{
    auto ro = SQLiteDB::open(dir.filePath("t.db"), true);
    ASSERT_TRUE(ro);
    EXPECT_FALSE(ro->run("INSERT INTO t VALUES(1, 2)"));
    EXPECT_EQ(ro->scalarInt("PRAGMA query_only"), 1);
    EXPECT_EQ(ro->scalarInt("PRAGMA cache_size"), -65536);
}

TEST_F(SQLiteDBTest, everyFailedPrepareLogsOneLineAndYieldsEmptyResults)
{
    testing::internal::CaptureStderr();
    EXPECT_TRUE(db->rows("SELEC nonsense").isEmpty());
    EXPECT_FALSE(db->scalarInt("SELEC nonsense"));
    EXPECT_FALSE(db->run("SELEC nonsense"));
    EXPECT_FALSE(db->prepare("   "));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countLines(log, "SQL error: "), 4);
    EXPECT_NE(log.find(":: SELEC nonsense"), std::string::npos);
}

TEST_F(SQLiteDBTest, resultsOfEmptyNullAndRowReturningStatements)
{
    EXPECT_TRUE(db->rows("SELECT a FROM t").isEmpty());
    EXPECT_EQ(db->scalarInt("SELECT COUNT(*) FROM t"), 0);
    EXPECT_FALSE(db->scalarInt("SELECT NULL"));
    // run() is true only when the statement completed on its first step.
    EXPECT_FALSE(db->run("SELECT 1"));
    EXPECT_TRUE(db->run("INSERT INTO t VALUES(?, ?)", {1, 2}));
    EXPECT_EQ(db->lastInsertId(), 1);
}

TEST_F(SQLiteDBTest, bindsEachKindOfValue)
{
    const std::optional<std::int64_t> absent;
    const std::optional<std::int64_t> present = 7;
    ASSERT_TRUE(db->run("INSERT INTO t VALUES(?, ?)", {true, false}));
    ASSERT_TRUE(db->run("INSERT INTO t VALUES(?, ?)", {absent, present}));
    ASSERT_TRUE(db->run("INSERT INTO t VALUES(?, ?)", {QVariant(QDate(2024, 1, 2)), 2.5}));
    ASSERT_TRUE(db->run("INSERT INTO t VALUES(?, ?)", {QString::fromUtf8("نص"), "x"}));
    const auto rows = db->rows("SELECT a, b, typeof(a), typeof(b) FROM t ORDER BY rowid");
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].integer(0), 1);
    EXPECT_EQ(rows[0].integer(1), 0);
    EXPECT_EQ(rows[1].str(2), "null");
    EXPECT_EQ(rows[1].integer(1), 7);
    EXPECT_EQ(rows[2].str(0), QDate(2024, 1, 2).toString(Qt::ISODate));
    EXPECT_EQ(rows[2].dbl(1), 2.5);
    EXPECT_EQ(rows[3].str(0), QString::fromUtf8("نص"));
    EXPECT_EQ(rows[3].str(1), "x");

    // A text is bound up to its first zero character and nothing after it.
    ASSERT_TRUE(db->run("INSERT INTO t VALUES(?, 9)", {QString("ab") + QChar(0) + "c"}));
    EXPECT_EQ(db->scalarInt("SELECT length(CAST(a AS BLOB)) FROM t WHERE b=9"), 2);
}

TEST_F(SQLiteDBTest, rowReadersDoNotConvertAcrossKinds)
{
    const auto rows = db->rows("SELECT 1.5, 3, 'text', x'41420043', NULL");
    ASSERT_EQ(rows.size(), 1);
    const auto& r = rows.first();
    EXPECT_FALSE(r.integer(0));
    EXPECT_EQ(r.dbl(0), 1.5);
    EXPECT_EQ(r.dbl(1), 3.0);
    EXPECT_FALSE(r.str(1));
    EXPECT_FALSE(r.integer(2));
    EXPECT_EQ(r.str(3), "AB"); // a BLOB is read as text up to its first zero byte
    EXPECT_FALSE(r.integer(4));
    EXPECT_FALSE(r.str(4));
    EXPECT_FALSE(r.dbl(4));
}

TEST_F(SQLiteDBTest, statementStepsAndReadsWithSQLiteConversions)
{
    auto st = db->prepare("SELECT '12', NULL, 2.75");
    ASSERT_TRUE(st);
    ASSERT_TRUE(st->step());
    EXPECT_EQ(st->integer(0), 12);
    EXPECT_FALSE(st->integer(1));
    EXPECT_FALSE(st->text(1));
    EXPECT_EQ(st->real(2), 2.75);
    EXPECT_FALSE(st->step());
    // Binding again resets the statement, so it can run a second time.
    st->bind({});
    EXPECT_TRUE(st->step());
}

TEST_F(SQLiteDBTest, surplusBindingsAreIgnored)
{
    EXPECT_TRUE(db->run("INSERT INTO t VALUES(?, ?)", {1, 2, 3, 4}));
    EXPECT_EQ(db->scalarInt("SELECT b FROM t"), 2);
}

TEST_F(SQLiteDBTest, interruptFromAnotherThreadEndsALongQuery)
{
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        // An interrupt only reaches a statement that is running, so keep
        // sending it until the query has ended.
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            db->interrupt();
        }
    });
    const auto count = db->scalarInt(
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 100000000000) "
        "SELECT COUNT(*) FROM c");
    done = true;
    stopper.join();
    EXPECT_FALSE(count);
    // The connection stays usable afterwards.
    EXPECT_EQ(db->scalarInt("SELECT 41 + 1"), 42);
}
