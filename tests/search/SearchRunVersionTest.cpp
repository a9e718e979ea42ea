// A search run reads one version of the library while another connection
// commits changes between its statements, as an install does, and holds none
// once it has ended.

#include "SearchRunHelpers.h"

#include "core/Arabic.h"
#include "core/SQLiteDB.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

TEST(SearchRunVersion, aRunReadsOneVersionWhileChangesCommitBetweenItsStatements)
{
    const SearchLibrary fixture = corpusLibrary();
    ASSERT_TRUE(fixture.lib);
    auto writer = SQLiteDB::open(fixture.path, false);
    ASSERT_TRUE(writer);

    // A word no page holds moves between a page of book 1 and one of book 3:
    // every version of the library holds it on exactly one page.
    const QString word = QStringLiteral("القرطاسية");
    const std::int64_t pages[2] = {5, 100};
    QString texts[2];
    for (int i = 0; i < 2; ++i) {
        const auto rows = writer->rows(QStringLiteral("SELECT content FROM pages WHERE id=?"), {pages[i]});
        ASSERT_EQ(rows.size(), 1);
        texts[i] = rows[0].str(0).value_or(QString());
    }
    auto place = [&](int at) {
        Transaction change(*writer);
        for (int i = 0; i < 2; ++i) {
            const QString text = i == at ? texts[i] + u' ' + word : texts[i];
            const QString norm = Arabic::normalize(text, true);
            if (!writer->run(QStringLiteral("UPDATE pages SET content=?, content_norm=? WHERE id=?"),
                             {text, norm, pages[i]})
                || !writer->run(QStringLiteral("UPDATE pages_fts SET content_norm=? WHERE rowid=?"), {norm, pages[i]}))
                return false;
        }
        return change.commit();
    };
    ASSERT_TRUE(place(0));

    // The run's connection moves the word at every turn of its statements.
    int at = 0;
    int moves = 0;
    auto connection = fixture.lib->newSearchConnection();
    ASSERT_TRUE(connection);
    connection->setProgressCheck(3, [&] {
        if (place(1 - at)) {
            at = 1 - at;
            ++moves;
        }
        return false;
    });
    fixture.lib->returnSearchConnection(std::move(connection));

    SearchEngine engine(*fixture.lib);
    SearchQuery q = phrases({word});
    const RunResult found = runQuery(engine, q);
    EXPECT_GT(moves, 1) << "the library should have changed during the run";
    ASSERT_EQ(found.pages.size(), 1) << "a version holds the word once";
    EXPECT_TRUE(found.pages[0].pageId == pages[0] || found.pages[0].pageId == pages[1]);
    if (engine.matchTotal()) {
        EXPECT_EQ(*engine.matchTotal(), 1);
    }

    // The same over the page text alone, which the run checks page by page.
    q.inHawashi = false;
    const RunResult checked = runQuery(engine, q);
    ASSERT_EQ(checked.pages.size(), 1);
}

TEST(SearchRunVersion, theStatementsAnEngineKeepsHoldNoVersionBetweenRuns)
{
    const SearchLibrary fixture = corpusLibrary();
    ASSERT_TRUE(fixture.lib);
    SearchEngine engine(*fixture.lib);
    // Every page of a main-text search checked: the statement reading their
    // texts stops on the last one it read.
    engine.setPageCheckedPath(true);
    SearchQuery q = phrases({"رسول الله"});
    q.inHawashi = false;
    const RunResult before = runQuery(engine, q);
    ASSERT_GT(engine.pagesChecked(), 0);

    addPage(fixture.path, 903, 1, 9999, "قال رسول الله");
    auto writer = SQLiteDB::open(fixture.path, false);
    ASSERT_TRUE(writer);
    // The log is emptied only when no connection still reads an older version.
    const auto checkpoint = writer->rows(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    ASSERT_EQ(checkpoint.size(), 1);
    EXPECT_EQ(checkpoint[0].integer(0), 0) << "a connection between runs still reads an old version";

    const RunResult after = runQuery(engine, q);
    EXPECT_EQ(after.pages.size(), before.pages.size() + 1);
}
