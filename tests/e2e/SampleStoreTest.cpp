// The shared installed stores of the sample release, made before every test
// that reads them: CTest runs this first, as the fixture those tests require.

#include "core/SQLiteDB.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef QUORVEL_SAMPLE_RELEASE
using namespace quorvel;

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
