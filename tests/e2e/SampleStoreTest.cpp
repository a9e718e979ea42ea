// The shared installed stores of the sample release, made before every test
// that reads them: CTest runs this first, as the fixture those tests require.

#include "core/SQLiteDB.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef QUORVEL_SAMPLE_RELEASE
using namespace quorvel;

TEST(SampleStores, areInstalledOnceForTheTestsThatReadThem)
{
    for (const test::SampleStore::Kind& kind : {test::SampleStore::whole(), test::SampleStore::withReuse()}) {
        const auto store = test::SampleStore::shared(QStringLiteral(QUORVEL_SAMPLE_RELEASE), kind);
        ASSERT_FALSE(store.folder.isEmpty())
            << kind.name.toStdString() << ": " << store.out.join(u'\n').toStdString() << store.err.toStdString();
        // Read through a copy, as the tests read it: the shared one is never opened.
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("library.db"));
        ASSERT_TRUE(test::SampleStore::copy(store, copy, dir.filePath(QStringLiteral("smart"))));
        const auto db = SQLiteDB::open(copy, true);
        ASSERT_TRUE(db) << copy.toStdString();
        EXPECT_GT(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM books")).value_or(0), 0) << kind.name.toStdString();
        EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("smart"))).exists(QStringLiteral("vecs.npy")));
    }
}
#endif
