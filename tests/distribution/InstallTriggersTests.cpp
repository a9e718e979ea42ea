// The installer turns the store's triggers off while the page index's writer
// stores a book's pages; they must fire again once it is done, whether the
// book was stored or refused, or changes made afterwards would go uncounted.
#include "ReleaseFixture.h"
#include "core/SQLiteDB.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "search/PageIndex.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class InstallTriggers : public test::ReleaseFixture {
protected:
    std::int64_t libraryChanges(LocalStore& store)
    {
        return store.db().scalarInt(QStringLiteral("SELECT value FROM meta WHERE key='library_changes'")).value_or(-1);
    }
};

TEST_F(InstallTriggers, fireAgainAfterABookIsStoredAndAfterOneIsRefused)
{
    const QStringList texts{QStringLiteral("حَدَّثَنَا مالك عن نافع عن ابن عمر"), QStringLiteral("باب الصلاة في السفر"),
                            QStringLiteral("قال الشافعي رحمه الله")};
    // The second book's first page takes the first book's first page id:
    // it is refused while its pages are being written.
    ReleaseWriter::Book clash = book(2, QStringLiteral("كتاب ثان"), texts);
    clash.pages[0].pid = 1001;
    writeRelease({book(1, QStringLiteral("كتاب أول"), texts), clash});
    const auto [index, catalog] = Dist::loadCatalog(base(), 0);
    auto store = LocalStore::open(QDir(path()).filePath(QStringLiteral("library.db")));
    ASSERT_TRUE(store);

    store->install(catalog.books[0], catalog, index.release, base());
    ASSERT_TRUE(PageIndex::ready(store->db()));
    // A heading written by hand counts as a change of the library.
    const std::int64_t before = libraryChanges(*store);
    ASSERT_TRUE(store->db().run(QStringLiteral("INSERT INTO toc(id, book_id, title, page_seq, level) "
                                               "VALUES(900, 1, 'عنوان', 1, 1)")));
    EXPECT_EQ(libraryChanges(*store), before + 1);

    EXPECT_THROW(store->install(catalog.books[1], catalog, index.release, base()), Dist::DistError);
    EXPECT_EQ(store->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=2")), 0);
    // A page written by hand leaves the page index behind: it is no longer
    // taken as complete.
    ASSERT_TRUE(PageIndex::ready(store->db()));
    ASSERT_TRUE(store->db().run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content) VALUES(9001, 9, 1, 'نص')")));
    EXPECT_FALSE(PageIndex::ready(store->db()));
    EXPECT_EQ(libraryChanges(*store), before + 2);
}

} // namespace
