#include "core/SQLiteDB.h"

#include <QDate>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

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

    // A text is bound whole, a zero character included, and read back whole.
    const QString withZero = QString("ab") + QChar(0) + "c";
    ASSERT_TRUE(db->run("INSERT INTO t VALUES(?, 9)", {withZero}));
    EXPECT_EQ(db->scalarInt("SELECT length(CAST(a AS BLOB)) FROM t WHERE b=9"), 4);
    EXPECT_EQ(db->rows("SELECT a FROM t WHERE b=9").first().str(0), withZero);
    auto st = db->prepare("SELECT a, a FROM t WHERE b=9");
    ASSERT_TRUE(st && st->step());
    EXPECT_EQ(st->text(0), withZero);
    EXPECT_EQ(st->typedText(1), withZero);
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
    EXPECT_EQ(r.str(3), QString("AB") + QChar(0) + "C"); // a BLOB is read as text, whole
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

TEST_F(SQLiteDBTest, typedReadsTakeOnlyTheirOwnKind)
{
    auto st = db->prepare("SELECT 7, '7', 7.5, x'ff00', NULL, x''");
    ASSERT_TRUE(st && st->step());
    EXPECT_EQ(st->typedInteger(0), 7);
    EXPECT_FALSE(st->typedInteger(1));
    EXPECT_FALSE(st->typedInteger(2));
    EXPECT_FALSE(st->typedText(0));
    EXPECT_EQ(st->typedText(1), "7");
    EXPECT_FALSE(st->typedText(2));
    // Broken UTF-8 is replaced; the zero after it stays.
    EXPECT_EQ(st->typedText(3), QString(QChar(0xFFFD)) + QChar(0));
    EXPECT_FALSE(st->typedInteger(4));
    EXPECT_FALSE(st->typedText(4));
    EXPECT_EQ(st->typedText(5), QString());
    // The converting reads of the same row.
    EXPECT_EQ(st->integer(1), 7);
    EXPECT_EQ(st->text(0), "7");
}

TEST_F(SQLiteDBTest, stepTellsARowTheEndAConstraintAndAnyOtherFailure)
{
    ASSERT_TRUE(db->exec("CREATE TABLE u(k INTEGER PRIMARY KEY, v NOT NULL)"));
    auto insert = db->prepare("INSERT INTO u VALUES(?, ?)");
    ASSERT_TRUE(insert);
    insert->bind({1, "x"});
    EXPECT_EQ(insert->next(), Statement::Step::Done);
    insert->bind({1, "y"});
    EXPECT_EQ(insert->next(), Statement::Step::Constraint);
    insert->bind({2, nullptr});
    EXPECT_EQ(insert->next(), Statement::Step::Constraint);

    auto select = db->prepare("SELECT v FROM u");
    ASSERT_TRUE(select);
    EXPECT_EQ(select->next(), Statement::Step::Row);
    EXPECT_EQ(select->next(), Statement::Step::Done);

    // A write on a read-only connection fails, and not by a constraint.
    auto ro = SQLiteDB::open(dir.filePath("t.db"), true);
    ASSERT_TRUE(ro);
    auto refused = ro->prepare("INSERT INTO u VALUES(3, 'z')");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->next(), Statement::Step::Error);
}

TEST_F(SQLiteDBTest, rejectsMultipleStatements)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(db->prepare("INSERT INTO t VALUES(1, 1); INSERT INTO t VALUES(2, 2)"));
    EXPECT_FALSE(db->run("INSERT INTO t VALUES(1, 1); DROP TABLE t"));
    EXPECT_FALSE(db->prepare("SELECT 1; nonsense"));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countLines(log, "SQL error: more than one statement :: "), 3);
    EXPECT_EQ(db->scalarInt("SELECT COUNT(*) FROM t"), 0);
    // A closing semicolon, white space and comments are not a statement.
    EXPECT_TRUE(db->prepare("SELECT 1;"));
    EXPECT_TRUE(db->prepare("SELECT 1; \n -- done\n /* really */ "));
    EXPECT_TRUE(db->exec("INSERT INTO t VALUES(1, 1); INSERT INTO t VALUES(2, 2)"));
    EXPECT_EQ(db->scalarInt("SELECT COUNT(*) FROM t"), 2);
}

TEST_F(SQLiteDBTest, transactionCommitsOnlyWhenAsked)
{
    {
        Transaction kept(*db);
        ASSERT_TRUE(kept.begun());
        EXPECT_TRUE(db->inTransaction());
        ASSERT_TRUE(db->run("INSERT INTO t VALUES(1, 1)"));
        EXPECT_TRUE(kept.commit());
        EXPECT_FALSE(db->inTransaction());
    }
    {
        Transaction dropped(*db, Transaction::Mode::Deferred);
        ASSERT_TRUE(dropped.begun());
        ASSERT_TRUE(db->run("INSERT INTO t VALUES(2, 2)"));
    }
    EXPECT_FALSE(db->inTransaction());
    auto unwound = [&] {
        Transaction transaction(*db);
        db->run("INSERT INTO t VALUES(3, 3)");
        throw std::runtime_error("stop");
    };
    EXPECT_THROW(unwound(), std::runtime_error);
    EXPECT_FALSE(db->inTransaction());
    EXPECT_EQ(db->scalarInt("SELECT group_concat(a) FROM t"), 1);
}

TEST_F(SQLiteDBTest, transactionReportsAFailedBeginAndCommit)
{
    auto other = SQLiteDB::open(dir.filePath("t.db"), false);
    ASSERT_TRUE(other);
    other->exec("PRAGMA busy_timeout=0");
    ASSERT_TRUE(db->exec("PRAGMA busy_timeout=0"));
    {
        Transaction writer(*db);
        ASSERT_TRUE(writer.begun());
        // A second writer cannot take the lock, so its BEGIN IMMEDIATE fails.
        Transaction blocked(*other);
        EXPECT_FALSE(blocked.begun());
        EXPECT_FALSE(blocked.commit());
        EXPECT_FALSE(other->inTransaction());
    }
    {
        // A reader in the middle of a statement keeps a rollback-journal
        // database locked, so COMMIT cannot finish: the guard rolls back.
        ASSERT_TRUE(db->run("INSERT INTO t VALUES(1, 1)"));
        auto reading = other->prepare("SELECT a FROM t");
        ASSERT_TRUE(reading && reading->step());
        Transaction writer(*db);
        ASSERT_TRUE(writer.begun());
        ASSERT_TRUE(db->run("INSERT INTO t VALUES(2, 2)"));
        EXPECT_FALSE(writer.commit());
        EXPECT_FALSE(db->inTransaction());
    }
    EXPECT_EQ(db->scalarInt("SELECT COUNT(*) FROM t"), 1);
}

TEST_F(SQLiteDBTest, idListsBindThroughPlaceholdersUpToTheCeiling)
{
    EXPECT_EQ(SQLiteDB::marks(0), "");
    EXPECT_EQ(SQLiteDB::marks(1), "?");
    EXPECT_EQ(SQLiteDB::marks(3), "?,?,?");
    const QList<std::int64_t> ids{5, -1, std::int64_t(1) << 40};
    const auto rows = db->rows("SELECT " + SQLiteDB::marks(ids.size()), argsOf(ids));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().integer(2), std::int64_t(1) << 40);
    EXPECT_EQ(rows.first().integer(1), -1);

    EXPECT_GE(db->maxParameters(), 999);
    sqlite3_limit(db->handle(), SQLITE_LIMIT_VARIABLE_NUMBER, 0);
    EXPECT_EQ(db->maxParameters(), 1);
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

TEST_F(SQLiteDBTest, progressCheckStopsAStatementFromInsideAndCanBeRemoved)
{
    const QString longQuery = QStringLiteral(
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 100000000000) "
        "SELECT COUNT(*) FROM c");
    int calls = 0;
    db->setProgressCheck(1000, [&] { return ++calls == 50; });
    EXPECT_FALSE(db->scalarInt(longQuery));
    EXPECT_EQ(calls, 50);

    // A check that answers false lets the statement finish.
    calls = 0;
    db->setProgressCheck(10, [&] { return ++calls < 0; });
    EXPECT_EQ(db->scalarInt("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 1000) "
                            "SELECT SUM(x) FROM c"),
              500500);
    EXPECT_GT(calls, 0);

    db->setProgressCheck(1, {});
    calls = 0;
    EXPECT_EQ(db->scalarInt("SELECT 41 + 1"), 42);
    EXPECT_EQ(calls, 0);
}
