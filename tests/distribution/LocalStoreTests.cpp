// Installing a book: the store itself, the installs and their refusals, and
// the rows they write.

#include "LocalStoreFixture.h"
#include "ReleaseFixture.h"

#include "core/Arabic.h"
#include "distribution/RawDeflate.h"
#include "scholar/Isnad.h"
#include "support/TestEnvironment.h"

#include <sqlite3.h>

#include <limits>

using namespace quorvel;
using quorvel::test::LocalStoreTest;

TEST_F(LocalStoreTest, opensOnlyWhereTheFileCanBeCreatedAndSchemaIsIdempotent)
{
    EXPECT_FALSE(LocalStore::open(dir_.filePath(QStringLiteral("missing/library.db"))));
    install(pagesPackage(3, {QStringLiteral("نص")}));
    auto again = LocalStore::open(dir_.filePath(QStringLiteral("library.db")));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bookCount(), 1);
    EXPECT_EQ(again->db().rows(QStringLiteral("PRAGMA journal_mode")).first().str(0), QStringLiteral("wal"));
}

TEST_F(LocalStoreTest, releaseNumberAndInstalledRoots)
{
    EXPECT_EQ(store_->lastRelease(), 0);
    store_->setRelease(7);
    EXPECT_EQ(store_->lastRelease(), 7);
    for (const char* bad : {"7a", " 7", "", "99999999999999999999"}) {
        store_->db().run(QStringLiteral("UPDATE meta SET value=? WHERE key='release'"), {QString::fromLatin1(bad)});
        EXPECT_EQ(store_->lastRelease(), 0) << bad;
    }
    store_->db().run(QStringLiteral("UPDATE meta SET value='-3' WHERE key='release'"));
    EXPECT_EQ(store_->lastRelease(), -3);
    store_->db().run(QStringLiteral("UPDATE meta SET value=NULL WHERE key='release'"));
    EXPECT_EQ(store_->lastRelease(), 0);

    store_->db().exec(QStringLiteral("INSERT INTO installed VALUES(5, NULL, 1, 0);"
                                     "INSERT INTO installed VALUES(6, 'abc', 1, 0);"));
    const auto roots = store_->installed();
    EXPECT_EQ(roots.size(), 2);
    EXPECT_EQ(roots.value(5, QStringLiteral("absent")), QString());
    EXPECT_EQ(roots.value(6), QStringLiteral("abc"));
    EXPECT_EQ(store_->bookCount(), 2);
}

TEST_F(LocalStoreTest, installsARealBookThroughASignedRelease)
{
    class Release : public test::ReleaseFixture {
    public:
        void TestBody() override {}
        using ReleaseFixture::SetUp;
        using ReleaseFixture::TearDown;
        using ReleaseFixture::base;
        using ReleaseFixture::writeRelease;
    } release;
    release.SetUp();
    QFile source(test::dataPath(QStringLiteral("books/001.json")));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    auto book = ReleaseWriter::fromCorpus(*Json::parse(source.readAll()),
                                          {{"id", 1}, {"title", "موطأ الإمام مالك"}, {"author_id", 1},
                                           {"category_id", 1}, {"edition", "رواية يحيى"}});
    ASSERT_TRUE(book);
    release.writeRelease({*book}, 4);
    auto [index, catalog] = Dist::loadCatalog(release.base(), 0);
    LocalStore::setWithReuse(true);
    store_->install(catalog.books.first(), catalog, index.release, release.base());
    release.TearDown();

    const qsizetype pageCount = book->pages.size();
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=1")), pageCount);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE book_id=1")), pageCount);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM toc WHERE book_id=1")), book->toc.size());
    EXPECT_EQ(store_->installed().value(1), catalog.books.first().root);
    EXPECT_EQ(count(QStringLiteral("SELECT release FROM installed WHERE book_id=1")), 4);
    EXPECT_EQ(store_->db().rows(QStringLiteral("SELECT edition FROM books WHERE id=1")).first().str(0),
              QStringLiteral("رواية يحيى"));
    EXPECT_EQ(count(QStringLiteral("SELECT death_year FROM authors WHERE id=1")), 179);

    // Stored matching form, full-text rows and narrator edges follow the page text.
    std::int64_t expectedEdges = 0;
    for (const auto& row : store_->db().rows(QStringLiteral("SELECT content, content_norm FROM pages"))) {
        const QString content = *row.str(0);
        ASSERT_EQ(row.str(1), Arabic::normalize(content, true));
        if (Isnad::hasIsnad(content))
            expectedEdges += Isnad::edges(content).size();
    }
    EXPECT_GT(expectedEdges, 100);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE book_id=1")), expectedEdges);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE student_id=teacher_id")), 0);
    EXPECT_GT(count(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?"),
                    {Arabic::normalize(QStringLiteral("الصلاة"), true)}),
              10);
    EXPECT_GT(count(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE book_id=1")), 1000);
    EXPECT_EQ(leftoverTempFiles(1), QStringList());
}

TEST_F(LocalStoreTest, reinstallReplacesTheBookWhole)
{
    LocalStore::setWithReuse(true);
    const auto first = pagesPackage(2, {QStringLiteral("حدثنا مالك عن نافع عن ابن عمر أنه قال"),
                                        QStringLiteral("باب ما جاء في الصلاة")},
                                    QStringLiteral("INSERT INTO toc VALUES(2001, 'باب', 2, NULL, 1);"));
    install(first, 1);
    const auto before = count(QStringLiteral("SELECT COUNT(*) FROM shingles"));
    const auto edges = count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges"));
    const auto termCounts = [this] {
        QStringList out;
        for (const auto& row : store_->db().rows(QStringLiteral(
                 "SELECT term || ' ' || form || ' ' || pages FROM page_terms ORDER BY term, form")))
            out << row.str(0).value_or(QString());
        return out;
    };
    const QStringList terms = termCounts();
    ASSERT_FALSE(terms.isEmpty());
    install(first, 3);
    // The search index holds the book once, with the counts of one install.
    EXPECT_EQ(termCounts(), terms);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM page_forms WHERE page_forms MATCH 'مالك'")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH 'مالك'")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages")), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages_fts")), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM toc")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingles")), before);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges")), edges);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM installed")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT release FROM installed")), 3);
}

TEST_F(LocalStoreTest, refusalsLeaveTheInstalledVersionAndNoTemporaryFile)
{
    const auto good = pagesPackage(4, {QStringLiteral("النص الأول")});
    install(good);

    auto wrongSize = good;
    wrongSize.size += 1; // digest still right
    EXPECT_EQ(refusal(wrongSize), QStringLiteral("بصمة حزمة «كتاب 4» لا تطابق الفهرس."));
    auto wrongDigest = good;
    wrongDigest.sha256 = wrongDigest.sha256.toUpper();
    EXPECT_EQ(refusal(wrongDigest), QStringLiteral("بصمة حزمة «كتاب 4» لا تطابق الفهرس."));

    // Edited content, recompressed with a true size and digest but the old root.
    auto edited = pagesPackage(4, {QStringLiteral("النص المعدل")});
    edited.root = good.root;
    EXPECT_EQ(refusal(edited), QStringLiteral("محتوى «كتاب 4» لا يطابق بصمته."));

    const QString pageSql = QStringLiteral("CREATE TABLE page(pid, seq, vol, page_num, content);"
                                           "INSERT INTO page VALUES(4001, 1, '1', 1, 'x')");
    EXPECT_EQ(refusal(package(4, pageSql, 0)), QStringLiteral("«كتاب 4» ليست حزمة مكتبة قورفل."));
    EXPECT_EQ(refusal(package(4, pageSql, 0x5152564D)), QStringLiteral("«كتاب 4» ليست حزمة مكتبة قورفل."));

    auto garbage = good;
    const QByteArray notDb = RawDeflate::compress(QByteArray(4096, 'x'));
    writePackageFile(garbage.file, notDb);
    garbage.size = notDb.size();
    garbage.sha256 = Dist::sha256(notDb);
    // Bytes that are no database have no application id either.
    EXPECT_EQ(refusal(garbage), QStringLiteral("«كتاب 4» ليست حزمة مكتبة قورفل."));

    // Inflating past the declared size stops at once.
    auto tooLarge = pagesPackage(4, {QStringLiteral("النص الأول")});
    ASSERT_GT(tooLarge.usize, 4096);
    tooLarge.usize = 4096;
    EXPECT_EQ(refusal(tooLarge), QStringLiteral("حزمة «كتاب 4» أكبر من حجمها المعلن."));
    tooLarge.usize = -1; // not a way around the cap
    EXPECT_EQ(refusal(tooLarge), QStringLiteral("حزمة «كتاب 4» أكبر من حجمها المعلن."));
    // A declared size past what any package can be is refused unfetched,
    // however large (the largest integer included).
    for (const std::int64_t declared : {Dist::declaredFileLimit + 1, std::numeric_limits<std::int64_t>::max()}) {
        auto huge = good;
        huge.size = declared;
        EXPECT_EQ(refusal(huge), QStringLiteral("حجم حزمة «كتاب 4» المعلن أكبر من أي حزمة مقبولة.")) << declared;
        huge = good;
        huge.usize = declared;
        EXPECT_EQ(refusal(huge), QStringLiteral("حجم حزمة «كتاب 4» المعلن أكبر من أي حزمة مقبولة.")) << declared;
    }

    // A page far longer than any book's is refused before it is indexed.
    const auto hugePage = pagesPackage(4, {QStringLiteral("النص الأول"), QString(Dist::maxPageLength + 1, u'ب')});
    EXPECT_EQ(refusal(hugePage), QStringLiteral("في «كتاب 4» صفحة أكبر من الحد المقبول لصفحة واحدة."));

    // So are a heading title and a volume label past their bounds, and any
    // value past what the longest page may take, which is refused unread
    // whichever field holds it; a package without pages is no book.
    const QString schema = QStringLiteral(
        "CREATE TABLE page(pid INTEGER PRIMARY KEY, seq INTEGER, vol TEXT, page_num INTEGER, content TEXT);"
        "CREATE TABLE toc(id INTEGER PRIMARY KEY, title TEXT, page_seq INTEGER, parent_id INTEGER, level INTEGER);");
    const QString onePage = QStringLiteral("INSERT INTO page VALUES(4001, 1, %1, 1, 'النص');");
    const QString oneHeading = QStringLiteral("INSERT INTO toc VALUES(4001, %1, 1, NULL, 1);");
    const auto repeated = [](qsizetype n) { return QStringLiteral("printf('%.*c', %1, 'x')").arg(n); };
    const struct {
        const char* name;
        QString sql;
        QString refusal;
    } fields[] = {
        {"heading", onePage.arg(u"'1'") + oneHeading.arg(repeated(Dist::maxHeadingLength + 1)),
         QStringLiteral("في «كتاب 4» عنوان فصل أطول من المقبول.")},
        {"label", onePage.arg(repeated(Dist::maxVolumeLabelLength + 1)),
         QStringLiteral("في «كتاب 4» اسم جزء أطول من المقبول.")},
        {"huge label", onePage.arg(repeated(Dist::maxPackageValueBytes + 1)),
         QStringLiteral("في «كتاب 4» نصّ أكبر من الحد المقبول لنصّ واحد.")},
        {"huge heading", onePage.arg(u"'1'") + oneHeading.arg(repeated(Dist::maxPackageValueBytes + 1)),
         QStringLiteral("في «كتاب 4» نصّ أكبر من الحد المقبول لنصّ واحد.")},
        {"huge page",
         QStringLiteral("INSERT INTO page VALUES(4001, 1, '1', 1, %1);").arg(repeated(Dist::maxPackageValueBytes + 1)),
         QStringLiteral("في «كتاب 4» نصّ أكبر من الحد المقبول لنصّ واحد.")},
        {"no pages", oneHeading.arg(u"'باب'"), QStringLiteral("حزمة «كتاب 4» بلا صفحات.")},
    };
    for (const auto& field : fields)
        EXPECT_EQ(refusal(package(4, schema + field.sql)), field.refusal) << field.name;

    auto notDeflate = good;
    const QByteArray raw("\xff\xff\xff\xff not a stream");
    writePackageFile(notDeflate.file, raw);
    notDeflate.size = raw.size();
    notDeflate.sha256 = Dist::sha256(raw);
    EXPECT_TRUE(refusal(notDeflate).startsWith(QStringLiteral("platform: ")));

    auto missing = good;
    missing.file = QStringLiteral("absent.qbk");
    EXPECT_TRUE(refusal(missing).startsWith(QStringLiteral("platform: ")));

    EXPECT_EQ(store_->installed().value(4), good.root);
    EXPECT_EQ(store_->db().rows(QStringLiteral("SELECT content FROM pages WHERE book_id=4")).first().str(0),
              QStringLiteral("النص الأول"));
    EXPECT_EQ(leftoverTempFiles(4), QStringList());
}

// Text after a zero character is covered by the content root and stored
// whole: a package cannot hide an edit behind a zero byte.
TEST_F(LocalStoreTest, textAfterAZeroIsCoveredByTheRootAndStoredWhole)
{
    const QString schema = QStringLiteral(
        "CREATE TABLE page(pid, seq, vol, page_num, content);"
        "CREATE TABLE toc(id, title, page_seq, parent_id, level);"
        "INSERT INTO toc VALUES(14001, CAST(X'D8A8D8A7D8A80041' AS TEXT), 1, NULL, 1);");
    const auto good = package(14, schema + QStringLiteral("INSERT INTO page VALUES(14001, 1, '1', 1, "
                                                          "CAST(X'D986D8B5004142' AS TEXT))"));
    install(good);
    const auto stored = store_->db().rows(QStringLiteral("SELECT content, content_norm FROM pages WHERE id=14001"));
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first().str(0), QStringLiteral(u"نص") + QChar(0) + QStringLiteral("AB"));
    EXPECT_EQ(store_->db().rows(QStringLiteral("SELECT title FROM toc WHERE id=14001")).first().str(0),
              QStringLiteral(u"باب") + QChar(0) + QStringLiteral("A"));

    auto edited = package(14, schema + QStringLiteral("INSERT INTO page VALUES(14001, 1, '1', 1, "
                                                      "CAST(X'D986D8B5004143' AS TEXT))"));
    EXPECT_NE(edited.root, good.root);
    edited.root = good.root;
    EXPECT_EQ(refusal(edited), QStringLiteral("محتوى «كتاب 14» لا يطابق بصمته."));
}

// A write that fails for a reason other than a refused row (another writer
// holding the store, a full disk) rolls the whole book back and is reported.
TEST_F(LocalStoreTest, busyOrFullStoreFailsTheInstallAndKeepsTheOldVersion)
{
    const auto good = pagesPackage(13, {QStringLiteral("النص الأول")});
    install(good);
    QStringList texts;
    for (int i = 0; i < 60; ++i)
        texts.append(QStringLiteral("باب ما جاء في الصلاة صفحة %1 ").arg(i).repeated(20));
    const auto bigger = pagesPackage(13, texts);
    const QString failed = QStringLiteral("تعذّر التثبيت");

    {
        auto other = SQLiteDB::open(dir_.filePath(QStringLiteral("library.db")), false);
        ASSERT_TRUE(other && other->exec(QStringLiteral("BEGIN IMMEDIATE")));
        sqlite3_busy_timeout(store_->db().handle(), 0); // refuse at once instead of waiting
        EXPECT_EQ(refusal(bigger), failed + QStringLiteral(": برنامج آخر يكتب في المكتبة المحلية الآن"));
        other->exec(QStringLiteral("ROLLBACK"));
    }

    // The store may grow by a few pages only: the new version's pages do not fit.
    const auto size = count(QStringLiteral("PRAGMA page_count"));
    ASSERT_TRUE(store_->db().exec(QStringLiteral("PRAGMA max_page_count=%1").arg(size + 8)));
    EXPECT_EQ(refusal(bigger), failed + QStringLiteral(": لا مساحة كافية على القرص"));
    EXPECT_NE(sqlite3_get_autocommit(store_->db().handle()), 0); // no transaction left open

    EXPECT_EQ(store_->installed().value(13), good.root);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=13")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?"), {Arabic::normalize(QStringLiteral("الأول"), true)}), 1);
    EXPECT_EQ(leftoverTempFiles(13), QStringList());

    ASSERT_TRUE(store_->db().exec(QStringLiteral("PRAGMA max_page_count=1073741823")));
    install(bigger);
    EXPECT_EQ(store_->installed().value(13), bigger.root);
}

TEST_F(LocalStoreTest, idsHeldByAnotherBookOrAmongItsIdsRefuseTheWholeBook)
{
    install(pagesPackage(5, {QStringLiteral("صفحة")}, QStringLiteral("INSERT INTO toc VALUES(77, 'باب', 1, NULL, 1);")));
    // Book 9 keeps the stretch 9001..9010, with ids free inside it.
    const QString pageTable = QStringLiteral("CREATE TABLE page(pid, seq, vol, page_num, content);");
    install(package(9, pageTable + QStringLiteral("INSERT INTO page VALUES(9001, 1, '1', 1, 'أول');"
                                                  "INSERT INTO page VALUES(9010, 2, '1', 2, 'آخر')")));
    // Free ids, but among book 9's (its pages on both sides), or round them.
    for (const QString& rows : {QStringLiteral("INSERT INTO page VALUES(9005, 1, '1', 1, 'بين')"),
                                QStringLiteral("INSERT INTO page VALUES(9000, 1, '1', 1, 'قبل');"
                                               "INSERT INTO page VALUES(9011, 2, '1', 2, 'بعد')")})
        EXPECT_EQ(refusal(package(6, pageTable + rows)),
                  QStringLiteral("معرّفات صفحات «كتاب 6» تقع بين معرّفات صفحات كتاب آخر."))
            << rows.toStdString();

    // Page id 5001 belongs to book 5.
    const auto pageClash = package(6, QStringLiteral(
        "CREATE TABLE page(pid, seq, vol, page_num, content);"
        "INSERT INTO page VALUES(6001, 1, '1', 1, 'حدثنا مالك عن نافع');"
        "INSERT INTO page VALUES(5001, 2, '1', 2, 'أخرى')"));
    EXPECT_EQ(refusal(pageClash), QStringLiteral("معرّفات صفحات «كتاب 6» أو عناوينها مستعملة في كتاب آخر."));
    // The root is checked as the pages are stored; a package that is not the
    // one the catalogue names is refused as such, whatever else is wrong with it.
    auto tampered = pageClash;
    tampered.root = QString(64, u'0');
    EXPECT_EQ(refusal(tampered), QStringLiteral("محتوى «كتاب 6» لا يطابق بصمته."));
    const auto tocClash = pagesPackage(6, {QStringLiteral("صفحة")}, QStringLiteral("INSERT INTO toc VALUES(77, 'فصل', 1, NULL, 1);"));
    EXPECT_EQ(refusal(tocClash), QStringLiteral("معرّفات صفحات «كتاب 6» أو عناوينها مستعملة في كتاب آخر."));

    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=6")), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE book_id=6")), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM books WHERE id=6")), 0);
    EXPECT_EQ(store_->db().rows(QStringLiteral("SELECT title FROM toc WHERE id=77")).first().str(0), QStringLiteral("باب"));
    EXPECT_EQ(store_->bookCount(), 2);
}

TEST_F(LocalStoreTest, rowConversionsHeadingsAndCatalogueLinks)
{
    catalog_.authors.clear();
    const auto book = package(8, QStringLiteral(
        "CREATE TABLE page(pid, seq, vol, page_num, content);"
        "INSERT INTO page VALUES(8001, NULL, 2, '12a', NULL);"
        "CREATE TABLE toc(id, title, page_seq, parent_id, level);"
        "INSERT INTO toc VALUES(8001, NULL, 1, NULL, 1);"
        "INSERT INTO toc VALUES(8002, 'باب', '1', 8001, 2)"));
    install(book);
    const auto page = store_->db().rows(QStringLiteral("SELECT seq, vol, page_num, content, content_norm FROM pages")).first();
    EXPECT_EQ(page.integer(0), 0);
    EXPECT_EQ(page.str(1), QStringLiteral("2"));
    EXPECT_EQ(page.integer(2), 12);
    EXPECT_EQ(page.str(3), QString());
    // The untitled heading is refused by the schema; the other keeps only typed values.
    const auto toc = store_->db().rows(QStringLiteral("SELECT id, page_seq, parent_id, level FROM toc"));
    ASSERT_EQ(toc.size(), 1);
    EXPECT_EQ(toc.first().integer(0), 8002);
    EXPECT_FALSE(toc.first().integer(1).has_value());
    EXPECT_EQ(toc.first().integer(2), 8001);
    // An author id the catalogue does not list stays on the book alone.
    EXPECT_EQ(count(QStringLiteral("SELECT author_id FROM books WHERE id=8")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM authors")), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT sort FROM categories WHERE id=1")), 2);
}
