// The shared installed stores of the sample release, made before every test
// that reads them: CTest runs this first, as the fixture those tests require.

#include "core/SQLiteDB.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;

// The check each suite makes after its last test sees a store written
// through a link to it, as a test that linked the shared store in place of
// copying it would write it, and sees no change when only a copy is written.
TEST(SampleStoreGuard, aWriteThroughALinkToTheStoreIsSeen)
{
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("store"));
    ASSERT_TRUE(QDir().mkpath(store));
    {
        const auto db = SQLiteDB::open(store + QStringLiteral("/library.db"), false);
        ASSERT_TRUE(db && db->exec(QStringLiteral("CREATE TABLE books(id INTEGER)")));
    }
    const QString before = test::SampleStore::fingerprint(store);
    ASSERT_FALSE(before.isEmpty());
    const QString copy = dir.filePath(QStringLiteral("copy.db"));
    ASSERT_TRUE(test::SampleStore::copyFile(store + QStringLiteral("/library.db"), copy));
    {
        const auto db = SQLiteDB::open(copy, false);
        ASSERT_TRUE(db && db->exec(QStringLiteral("PRAGMA journal_mode=WAL; INSERT INTO books VALUES(1)")));
    }
    EXPECT_EQ(test::SampleStore::fingerprint(store), before);
    const QString link = dir.filePath(QStringLiteral("link.db"));
    ASSERT_TRUE(QFile::link(store + QStringLiteral("/library.db"), link));
    const auto db = SQLiteDB::open(link, false);
    ASSERT_TRUE(db && db->exec(QStringLiteral("PRAGMA journal_mode=WAL; INSERT INTO books VALUES(1)")));
    EXPECT_NE(test::SampleStore::fingerprint(store), before);
}

#ifdef QUORVEL_SAMPLE_RELEASE

namespace {

// Makes the shared store of `kind` and reads it through a copy, as the tests
// read it: the shared one is never opened.
void expectInstalled(const test::SampleStore::Kind& kind)
{
    const auto store = test::SampleStore::shared(QStringLiteral(QUORVEL_SAMPLE_RELEASE), kind);
    ASSERT_FALSE(store.folder.isEmpty()) << store.out.join(u'\n').toStdString() << store.err.toStdString();
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("library.db"));
    ASSERT_TRUE(test::SampleStore::copy(store, copy, dir.filePath(QStringLiteral("smart"))));
    const auto db = SQLiteDB::open(copy, true);
    ASSERT_TRUE(db) << copy.toStdString();
    EXPECT_GT(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM books")).value_or(0), 0);
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("smart"))).exists(QStringLiteral("vecs.npy")));
}

} // namespace

// Each kind is a test of its own, so that CTest makes them side by side.
TEST(SampleStores, theWholeReleaseIsInstalledOnce)
{
    expectInstalled(test::SampleStore::whole());
}

TEST(SampleStores, theBooksWithReuseDataAreInstalledOnce)
{
    expectInstalled(test::SampleStore::withReuse());
}
#endif
