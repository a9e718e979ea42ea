#include "core/Library.h"
#include "core/LibrarySchema.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace quorvel;
using quorvel::test::ScopedEnv;
using quorvel::test::FixtureLibrary::build;

namespace {

QString makeLibrary(const QTemporaryDir& dir, const QString& name, const QStringList& statements)
{
    return quorvel::test::FixtureLibrary::custom(dir.path(), name, statements);
}

QList<std::int64_t> ids(const QList<Book>& books)
{
    QList<std::int64_t> out;
    for (const Book& b : books)
        out.append(b.id);
    return out;
}

} // namespace

TEST(LibraryLocate, followsEnvironmentPreferenceAndLocalMode)
{
    QTemporaryDir dir;
    const QString fixture = build(dir.path());
    ASSERT_FALSE(fixture.isEmpty());
    const QString chosen = dir.filePath("chosen.db");
    QFile::copy(fixture, chosen);
    Preferences& prefs = Preferences::standard();

    {
        ScopedEnv env("QUORVEL_DB", fixture);
        EXPECT_EQ(Library::locateDatabase(), fixture);
        // In local mode the environment is not even looked at.
        Library::setLibraryMode("local");
        EXPECT_EQ(Library::libraryMode(), "local");
        EXPECT_EQ(Library::locateDatabase(), Paths::localStorePath());
        prefs.remove("libraryMode");
        EXPECT_EQ(Library::libraryMode(), "auto");
    }
    {
        // A missing file is skipped in favour of the next candidate.
        ScopedEnv env("QUORVEL_DB", dir.filePath("missing.db"));
        prefs.set("dbPath", chosen);
        EXPECT_EQ(Library::locateDatabase(), chosen);
        prefs.remove("dbPath");
        // Nothing found: the local store, whose file and tables now exist.
        EXPECT_EQ(Library::locateDatabase(), Paths::localStorePath());
        auto local = Library::open(Paths::localStorePath());
        ASSERT_TRUE(local);
        EXPECT_TRUE(local->isLocal());
        EXPECT_TRUE(local->books().isEmpty());
        EXPECT_EQ(local->main().scalarInt("SELECT COUNT(*) FROM pages_fts"), 0);
    }
    {
        // The store is where the environment points when asked, not where it
        // pointed at the first question of the process.
        const QString before = Paths::localStorePath();
        ScopedEnv libdb("QUORVEL_LIBDB", dir.filePath("other.db"));
        EXPECT_NE(before, dir.filePath("other.db"));
        EXPECT_EQ(Paths::localStorePath(), dir.filePath("other.db"));
        // So is the folder of the word model and page vectors, made when asked.
        const QString smart = Paths::smartDir();
        ScopedEnv smartdir("QUORVEL_SMARTDIR", dir.filePath("smart"));
        EXPECT_NE(smart, dir.filePath("smart"));
        EXPECT_EQ(Paths::smartDir(), dir.filePath("smart"));
        EXPECT_TRUE(QFileInfo(dir.filePath("smart")).isDir());
    }
}

TEST(LibraryOpen, fixtureCatalogueAndConnections)
{
    QTemporaryDir dir;
    auto lib = Library::open(build(dir.path()));
    ASSERT_TRUE(lib);
    EXPECT_FALSE(lib->isLocal());
    // Same author death (273) for books 2 and 3: equal titles keep database order.
    EXPECT_EQ(ids(lib->books()), (QList<std::int64_t>{1, 2, 3}));
    for (const Book& b : lib->books())
        EXPECT_EQ(b.order, lib->bookById().value(b.id).order);
    ASSERT_EQ(lib->categories().size(), 1);
    EXPECT_EQ(lib->categories().first().bookIds, (QList<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(lib->main().scalarInt("SELECT COUNT(*) FROM pages"),
              lib->main().scalarInt("SELECT COUNT(*) FROM pages_fts"));
    EXPECT_EQ(lib->main().scalarInt(
                  "SELECT COUNT(*) FROM pages p JOIN pages_fts f ON f.rowid = p.id "
                  "WHERE f.page_id = p.id AND f.book_id = p.book_id "
                  "AND f.content_norm = p.content_norm"),
              121);

    auto search = lib->newSearchConnection();
    ASSERT_TRUE(search);
    EXPECT_NE(search.get(), &lib->main());
    EXPECT_EQ(search->path(), lib->main().path());
    EXPECT_FALSE(search->run("DELETE FROM pages"));
    EXPECT_EQ(search->scalarInt("SELECT COUNT(*) FROM books"), 3);

    // Pooled search connections: a returned one serves the next run, one
    // still held elsewhere is not kept, and no more than the pool's size wait.
    auto pooled = lib->takeSearchConnection();
    ASSERT_TRUE(pooled);
    EXPECT_FALSE(pooled->run("DELETE FROM pages"));
    SQLiteDB* const first = pooled.get();
    lib->returnSearchConnection(std::move(pooled));
    auto again = lib->takeSearchConnection();
    EXPECT_EQ(again.get(), first);
    auto holder = again;
    lib->returnSearchConnection(std::move(again));
    EXPECT_NE(lib->takeSearchConnection().get(), first);
    std::vector<std::shared_ptr<SQLiteDB>> many;
    for (std::size_t i = 0; i < Library::searchPoolSize + 2; ++i)
        many.push_back(lib->takeSearchConnection());
    QSet<SQLiteDB*> distinct;
    // Watched, not held: a connection the pool lets go is freed, and a later
    // one may take its address, so identity is told by the watch alone.
    std::vector<std::weak_ptr<SQLiteDB>> returned;
    for (auto& db : many) {
        distinct.insert(db.get());
        returned.push_back(db);
        lib->returnSearchConnection(std::move(db));
    }
    EXPECT_EQ(distinct.size(), qsizetype(Library::searchPoolSize + 2));
    const auto alive = std::count_if(returned.begin(), returned.end(), [](const auto& w) { return !w.expired(); });
    EXPECT_EQ(alive, std::ptrdiff_t(Library::searchPoolSize));
    std::size_t kept = 0;
    std::vector<std::shared_ptr<SQLiteDB>> taken;
    for (std::size_t i = 0; i < Library::searchPoolSize + 2; ++i) {
        taken.push_back(lib->takeSearchConnection());
        kept += std::size_t(std::count_if(returned.begin(), returned.end(),
                                          [&](const auto& w) { return w.lock() == taken.back(); }));
    }
    EXPECT_EQ(kept, Library::searchPoolSize);
}

TEST(LibraryOpen, pathWithUriCharactersOpensThatVeryFile)
{
    QTemporaryDir dir;
    // Without encoding, "odd?x" would open the file "odd" with a query string.
    const QString path = build(dir.path(), {}, "odd?x#y%41.db");
    ASSERT_FALSE(path.isEmpty());
    makeLibrary(dir, "odd", {}); // the file a raw URI would name: a library without books
    auto lib = Library::open(path);
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->books().size(), 3);
    EXPECT_EQ(lib->dbPath(), path);
    EXPECT_EQ(Library::readOnlyUri("/a?b#c%d"), "file:/a%3fb%23c%25d?mode=ro");
}

TEST(LibraryOpen, unusableDatabasesYieldNothingAndCreateNoFile)
{
    QTemporaryDir dir;
    const QString fixture = build(dir.path());

    const QString missing = dir.filePath("missing.db");
    EXPECT_FALSE(Library::open(missing));
    EXPECT_FALSE(QFileInfo::exists(missing));

    const QString garbage = dir.filePath("garbage.db");
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    EXPECT_FALSE(Library::open(garbage));

    {
        const QString userPath = dir.filePath("no-such-folder/user.db");
        ScopedEnv env("QUORVEL_USERDB", userPath);
        EXPECT_FALSE(Library::open(fixture));
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("no-such-folder")));
    }
    {
        // A regular file where the folder should be: no folder can be made,
        // even by a privileged user.
        ScopedEnv env("QUORVEL_USERDB", garbage + "/user.db");
        EXPECT_FALSE(Library::open(fixture));
    }
}

TEST(LibraryOpen, databaseWithoutTablesHasAnEmptyCatalogue)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.db");
    {
        auto db = SQLiteDB::open(empty, false);
        ASSERT_TRUE(db && db->exec("CREATE TABLE unrelated(x)"));
    }
    testing::internal::CaptureStderr();
    auto lib = Library::open(empty);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(lib);
    EXPECT_TRUE(lib->books().isEmpty());
    EXPECT_TRUE(lib->categories().isEmpty());
    EXPECT_TRUE(lib->authors().isEmpty());
}

TEST(LibraryCatalog, displayOrderAndCategories)
{
    QTemporaryDir dir;
    const QString path = makeLibrary(dir, "order.db", {
        "INSERT INTO authors(id, name, death_year) VALUES(1, 'A', 300), (2, 'B', NULL), "
        "(-1, 'Nobody', 50)",
        "INSERT INTO categories(id, name, sort) VALUES(10, 'second', 2), (11, 'first', 1), "
        "(12, 'empty', 0)",
        // Undated books sort by title after every dated book; a date of 99999
        // sorts among them; the author's death places a book without a date;
        // a book's own date wins over its author's death.
        "INSERT INTO books(id, title, author_id, category_id, book_date) VALUES"
        "(1, 'zeta', 2, 10, NULL),"
        "(2, 'alpha', 2, 10, NULL),"
        "(3, 'mid', 2, 11, 99999),"
        "(4, 'by death', 1, 11, NULL),"
        "(5, 'own date', 1, 99, 100),"
        "(6, 'no author', NULL, NULL, NULL),"
        "(7, 'caf' || char(233), 2, 10, 500),"
        "(8, 'cafe' || char(769), 2, 10, 500),"
        "(9, 'cafd', 2, 10, 500)"});
    auto lib = Library::open(path);
    ASSERT_TRUE(lib);
    // 6 uses the author stored under -1 (death 50). 7 and 8 are canonically
    // equivalent titles, so they keep database order, after "cafd".
    EXPECT_EQ(ids(lib->books()), (QList<std::int64_t>{6, 5, 4, 9, 7, 8, 2, 3, 1}));
    for (qsizetype i = 0; i < lib->books().size(); ++i)
        EXPECT_EQ(lib->books().at(i).order, i);

    const auto cats = lib->categories();
    ASSERT_EQ(cats.size(), 3);
    EXPECT_EQ(cats[0].id, 11);
    EXPECT_EQ(cats[0].bookIds, (QList<std::int64_t>{4, 3}));
    EXPECT_EQ(cats[1].id, 10);
    EXPECT_EQ(cats[1].bookIds, (QList<std::int64_t>{9, 7, 8, 2, 1}));
    EXPECT_EQ(cats[2].id, -1);
    EXPECT_EQ(cats[2].name, QString::fromUtf8("غير مصنّف"));
    EXPECT_EQ(cats[2].bookIds, (QList<std::int64_t>{6, 5}));
    EXPECT_FALSE(lib->categoryById().contains(12));

    const Book noAuthor = *lib->book(6);
    EXPECT_EQ(lib->authorName(noAuthor), "");
    EXPECT_FALSE(lib->deathYear(noAuthor));
    EXPECT_EQ(lib->deathYear(*lib->book(4)), 300);
    EXPECT_EQ(lib->deathYear(*lib->book(1)), std::nullopt);
}

TEST(LibraryCatalog, everyCategoryKnownMeansNoUncategorisedGroup)
{
    QTemporaryDir dir;
    auto lib = Library::open(build(dir.path()));
    ASSERT_TRUE(lib);
    EXPECT_FALSE(lib->categoryById().contains(-1));
}

TEST(LibraryCatalog, authorsAreCleanedAndDisplayed)
{
    QTemporaryDir dir;
    const QString path = makeLibrary(dir, "authors.db", {
        QString::fromUtf8("INSERT INTO authors(id, name, death_year) VALUES"
                          "(1, 'ابن كثير (المتوفى: 774هـ)', 774),"
                          "(2, 'IbnKathir', NULL),"
                          "(3, '—', 300),"
                          "(4, 'قس', -10)"),
        "INSERT INTO books(id, title, author_id) VALUES(1, 'a', 1), (2, 'b', 2), (3, 'c', 3), "
        "(4, 'd', 4)"});
    auto lib = Library::open(path);
    ASSERT_TRUE(lib);
    const bool indic = Settings::indicDigits();
    Settings::setIndicDigits(false);
    EXPECT_EQ(lib->authorName(*lib->book(1)), QString::fromUtf8("ابن كثير (ت 774)"));
    EXPECT_EQ(lib->authorName(*lib->book(2)), "Ibn Kathir");
    EXPECT_EQ(lib->authorName(*lib->book(3)), "");
    EXPECT_EQ(lib->authorName(*lib->book(4)), QString::fromUtf8("قس (ت 10 ق.هـ)"));
    Settings::setIndicDigits(true);
    EXPECT_EQ(lib->authorName(*lib->book(1)), QString::fromUtf8("ابن كثير (ت ٧٧٤)"));
    Settings::setIndicDigits(indic);
}

TEST(LibraryCatalog, authorDisplayRules)
{
    const bool indic = Settings::indicDigits();
    Settings::setIndicDigits(false);
    EXPECT_EQ((Author{1, "X", 1, {}}.display()), "X");
    EXPECT_EQ((Author{1, "X", 0, {}}.display()), "X");
    EXPECT_EQ((Author{1, "X", 2, {}}.display()), QString::fromUtf8("X (ت 2)"));
    EXPECT_EQ((Author{1, "-", 2, {}}.display()), "");
    EXPECT_EQ((Author{1, "", std::nullopt, {}}.display()), "");
    Settings::setIndicDigits(indic);
}

TEST(LibraryCatalog, cleanAuthorRules)
{
    EXPECT_EQ(Library::cleanAuthor("IbnKathir"), "Ibn Kathir");
    EXPECT_EQ(Library::cleanAuthor(" IbnKathir\t"), "IbnKathir");
    EXPECT_EQ(Library::cleanAuthor(QString::fromUtf8("الطبري (متوفى 310) بن (المتوفى 2)")),
              QString::fromUtf8("الطبري بن (المتوفى 2)"));
    EXPECT_EQ(Library::cleanAuthor(QString::fromUtf8("  مالك  (المتوفى: 179هـ)")),
              QString::fromUtf8("مالك"));
    // Only spaces and tabs are trimmed, not line breaks.
    EXPECT_EQ(Library::cleanAuthor("name\n"), "name\n");
}

TEST(LibraryCatalog, reloadNeverShowsReadersAHalfLoadedCatalogue)
{
    QTemporaryDir dir;
    auto lib = Library::open(build(dir.path()));
    ASSERT_TRUE(lib);
    lib->toc(1);
    std::atomic<bool> stop{false};
    std::atomic<int> emptySeen{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop) {
            const auto snapshot = lib->catalog();
            if (snapshot->books.size() != 3 || snapshot->bookById.size() != 3
                || snapshot->categories.size() != 1)
                ++emptySeen;
            ++reads;
        }
    });
    for (int i = 0; i < 200; ++i)
        lib->reloadCatalog();
    while (reads < 100)
        std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(emptySeen, 0);
    EXPECT_EQ(lib->books().size(), 3);
}
