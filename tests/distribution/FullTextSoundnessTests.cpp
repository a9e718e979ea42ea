// After each way the store's books change (a removal as the Downloads window
// makes it, a reinstall, a replacement, an upgrade of a store an older build
// wrote), every full-text table passes FTS5's own integrity check and the
// page index stays whole: found so by its check, every page in its forms.
#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quorvel;

#ifdef QUORVEL_SAMPLE_RELEASE
namespace {

// Every full-text table of the store passes its own check.
void expectSound(SQLiteDB& db, const char* after)
{
    SCOPED_TRACE(after);
    const auto tables = db.rows(QStringLiteral(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND sql LIKE 'CREATE VIRTUAL TABLE%fts5%' ORDER BY name"));
    ASSERT_GE(tables.size(), 2);
    for (const auto& row : tables) {
        const QString table = row.str(0).value_or(QString());
        EXPECT_TRUE(db.run(QStringLiteral("INSERT INTO %1(%1) VALUES('integrity-check')").arg(table)))
            << table.toStdString() << ": " << db.lastFailure().value_or(SQLFailure{}).message.toStdString();
    }
    // The index is complete, and its check (which the next search makes)
    // finds it whole, its forms holding a row for every page, and marks it so.
    EXPECT_TRUE(PageIndex::ready(db));
    bool marked = false;
    EXPECT_TRUE(PageIndex::sampleAgrees(db, 8, &marked));
    EXPECT_TRUE(marked);
    EXPECT_TRUE(PageIndex::state(db).whole);
}

// The store as the previous build left it: its own triggers in place of this
// build's, an index of that build's version and pages in the older normal form.
void makeOlder(SQLiteDB& db)
{
    QString drops;
    for (const auto& row : db.rows(
             QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'trigger' AND name NOT LIKE 'shingles%'")))
        drops += QStringLiteral("DROP TRIGGER %1;").arg(row.str(0).value_or(QString()));
    const QString unlessWriting = QStringLiteral("WHEN NOT EXISTS (SELECT 1 FROM meta WHERE key='page_index_writing') ");
    const QString unmark = QStringLiteral("BEGIN DELETE FROM meta WHERE key='page_index_checked'; END;");
    const QString count = QStringLiteral("BEGIN UPDATE meta SET value = value + 1 WHERE key='library_changes'; END;");
    const QString older = QStringLiteral("CREATE TRIGGER page_terms_touched AFTER DELETE ON page_terms ") + unlessWriting
        + unmark + QStringLiteral("CREATE TRIGGER page_terms_changed AFTER UPDATE ON page_terms ") + unlessWriting
        + unmark + QStringLiteral("CREATE TRIGGER page_marks_touched AFTER DELETE ON page_marks ") + unlessWriting
        + unmark + QStringLiteral("CREATE TRIGGER page_marks_changed AFTER UPDATE ON page_marks ") + unlessWriting
        + unmark + QStringLiteral("CREATE TRIGGER page_forms_written AFTER INSERT ON page_forms_data ") + unmark
        + QStringLiteral("CREATE TRIGGER page_index_added AFTER INSERT ON pages ") + unlessWriting
        + QStringLiteral("BEGIN DELETE FROM meta WHERE key IN ('page_index','page_index_cursor',"
                         "'page_index_cursor_version'); END;"
                         "CREATE TRIGGER page_index_changed AFTER UPDATE OF id, content ON pages "
                         "BEGIN DELETE FROM meta WHERE key IN ('page_index','page_index_cursor',"
                         "'page_index_cursor_version'); END;"
                         "CREATE TRIGGER library_changes_added AFTER INSERT ON pages ")
        + unlessWriting + count
        + QStringLiteral("CREATE TRIGGER library_changes_removed AFTER DELETE ON pages ") + count
        + QStringLiteral("CREATE TRIGGER library_changes_changed AFTER UPDATE OF id, book_id, seq, content ON pages ")
        + count + QStringLiteral("CREATE TRIGGER heading_changes_added AFTER INSERT ON toc ") + count
        + QStringLiteral("CREATE TRIGGER heading_changes_removed AFTER DELETE ON toc ") + count
        + QStringLiteral("CREATE TRIGGER heading_changes_changed AFTER UPDATE ON toc ") + count;
    ASSERT_TRUE(db.exec(QStringLiteral("BEGIN;") + drops + older
                        + QStringLiteral("UPDATE meta SET value = '2' WHERE key = 'page_index';"
                                         "UPDATE meta SET value = '1' WHERE key = 'norm_version';"
                                         "DELETE FROM meta WHERE key IN ('page_index_checked', 'page_index_changes');"
                                         "COMMIT;")));
}

} // namespace

TEST(FullTextSoundness, everyFullTextTableIsSoundAfterRemovalReinstallReplacementAndUpgrade)
{
    Dist::overridePublicKey({});
    QTemporaryDir dir;
    const QByteArray savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir.path().toUtf8());
    const QUrl base = QUrl::fromLocalFile(QStringLiteral(QUORVEL_SAMPLE_RELEASE));
    const auto [index, catalog] = Dist::loadCatalog(base, 0);
    // The smaller books of the sample, the last of them of some hundreds of
    // pages: enough for the full-text tables to hold segments of several
    // books, and a removal to reach across them.
    QList<Dist::CatBook> books = catalog.books;
    std::sort(books.begin(), books.end(), [](const auto& a, const auto& b) { return a.usize < b.usize; });
    books.resize(6);
    const QString path = QDir(dir.path()).filePath(QStringLiteral("library.db"));
    {
        auto store = LocalStore::open(path);
        ASSERT_TRUE(store);
        for (const auto& book : books)
            store->install(book, catalog, index.release, base);
        expectSound(store->db(), "the installs");

        // As the Downloads window removes a book.
        ASSERT_TRUE(store->remove(books.last().id));
        expectSound(store->db(), "a removal");
        store->install(books.last(), catalog, index.release, base);
        expectSound(store->db(), "a reinstall");
        store->install(books[0], catalog, index.release, base);
        expectSound(store->db(), "a replacement");
        makeOlder(store->db());
    }
    // Opened by this build, brought up to date as the command line does
    // before its installs, then given a book again.
    auto store = LocalStore::open(path);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->buildPageIndex(), PageIndex::Build::complete);
    EXPECT_NE(store->refreshNormalForm(), LocalStore::FormRefresh::failed);
    expectSound(store->db(), "the upgrade");
    ASSERT_TRUE(store->remove(books[1].id));
    store->install(books[1], catalog, index.release, base);
    expectSound(store->db(), "a reinstall after the upgrade");
    if (savedTmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", savedTmp);
}
#endif
