#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"
#include "distribution/Dist.h"
#include "distribution/LocalStore.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QHash>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ostream>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvel;

#ifdef QUORVEL_SAMPLE_RELEASE
namespace {

struct BookRows {
    std::int64_t pages = 0, fts = 0, toc = 0, edges = 0, shingles = 0, byHash = 0;
    bool operator==(const BookRows&) const = default;
    friend void PrintTo(const BookRows& r, std::ostream* os)
    {
        *os << "pages " << r.pages << ", fts " << r.fts << ", toc " << r.toc << ", edges " << r.edges
            << ", shingles " << r.shingles << ", by hash " << r.byHash;
    }
};

// The shingles by hash come from the runs, whatever merge is under way.
BookRows rowsOf(SQLiteDB& db, std::int64_t bookId)
{
    auto n = [&](const QString& sql) { return db.scalarInt(sql, {bookId}).value_or(-1); };
    return {n(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=?")),
            n(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE book_id=?")),
            n(QStringLiteral("SELECT COUNT(*) FROM toc WHERE book_id=?")),
            n(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE book_id=?")),
            n(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE book_id=?")),
            n(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE book_id=?").arg(ShingleRuns::lookup(db)))};
}

bool mergeUnderWay(SQLiteDB& db)
{
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM shingle_building")).value_or(0) > 0;
}

void installAll(const QString& storePath, const QUrl& base, const QList<Dist::CatBook>& books)
{
    auto store = LocalStore::open(storePath);
    ASSERT_TRUE(store);
    const auto [index, catalog] = Dist::loadCatalog(base, 0);
    for (const auto& book : books)
        store->install(book, catalog, index.release, base);
}

} // namespace

// A process killed at any moment of an install leaves every book either whole
// (with its installed record) or absent, and a later run completes the store;
// so too the shingles by hash while a merge of their runs is part written.
TEST(DistCrashSafety, killedInstallsLeaveWholeBooksOnly)
{
    // Every book a run of its own, so that merges begin within the sample.
    struct WithReuse {
        WithReuse()
        {
            LocalStore::setWithReuse(true);
            ShingleRuns::setRunRows(1);
        }
        ~WithReuse()
        {
            LocalStore::setWithReuse(false);
            ShingleRuns::setRunRows(std::int64_t(1) << 21);
        }
    } withReuse;
    Dist::overridePublicKey({});
    QTemporaryDir dir;
    const QUrl base = QUrl::fromLocalFile(QStringLiteral(QUORVEL_SAMPLE_RELEASE));
    const auto [index, catalog] = Dist::loadCatalog(base, 0);
    // The smaller books, as many as a merge needs (eight runs): shingles make
    // the larger ones slow to install again and again.
    QList<Dist::CatBook> books = catalog.books;
    std::sort(books.begin(), books.end(), [](const auto& a, const auto& b) { return a.usize < b.usize; });
    books.resize(8);

    // The reference takes the books in one run; the store is a copy of it
    // made as soon as a merge is under way, less the last two books, which
    // the killed installs and the later run then install while the merge is
    // carried on.
    const QString referencePath = dir.filePath(QStringLiteral("reference.db"));
    const QString storePath = dir.filePath(QStringLiteral("library.db"));
    qsizetype installed = 0;
    {
        auto reference = LocalStore::open(referencePath);
        ASSERT_TRUE(reference);
        while (installed < books.size() && !mergeUnderWay(reference->db()))
            reference->install(books[installed++], catalog, index.release, base);
        ASSERT_TRUE(mergeUnderWay(reference->db()));
    }
    ASSERT_TRUE(test::SampleStore::copyFile(referencePath, storePath));
    {
        auto store = LocalStore::open(storePath);
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->remove(books.at(books.size() - 1).id));
        ASSERT_TRUE(store->remove(books.at(books.size() - 2).id));
        ASSERT_TRUE(mergeUnderWay(store->db()));
    }
    installAll(referencePath, base, books.mid(installed));
    QHash<std::int64_t, BookRows> whole;
    {
        auto reference = SQLiteDB::open(referencePath, true);
        ASSERT_TRUE(reference);
        for (const auto& book : books)
            whole.insert(book.id, rowsOf(*reference, book.id));
    }

    // Killed children leave their unpacked package behind: keep those here.
    const QByteArray savedTmp = qgetenv("TMPDIR");
    QDir(dir.path()).mkpath(QStringLiteral("tmp"));
    qputenv("TMPDIR", dir.filePath(QStringLiteral("tmp")).toUtf8());
    int interrupted = 0;
    for (int delayMs : {30, 120, 350, 700, 1200}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The child installs until it is killed; it never returns into the test.
            try {
                auto store = LocalStore::open(storePath);
                for (const auto& book : books)
                    store->install(book, catalog, index.release, base);
            } catch (...) {
            }
            _exit(0);
        }
        QThread::msleep(delayMs);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        interrupted += WIFSIGNALED(status) ? 1 : 0;

        // Reopening as the application does: a child killed before its first
        // statement leaves no schema yet.
        auto reopened = LocalStore::open(storePath);
        ASSERT_TRUE(reopened);
        SQLiteDB* store = &reopened->db();
        EXPECT_EQ(store->rows(QStringLiteral("PRAGMA integrity_check")).first().str(0), QStringLiteral("ok"));
        EXPECT_EQ(store->scalarInt(QStringLiteral("SELECT COUNT(*) FROM %1").arg(ShingleRuns::lookup(*store))),
                  store->scalarInt(QStringLiteral("SELECT COUNT(*) FROM shingles")))
            << "after " << delayMs << " ms";
        for (const auto& book : books) {
            const bool recorded =
                store->scalarInt(QStringLiteral("SELECT COUNT(*) FROM installed WHERE book_id=?"), {book.id}) == 1;
            const BookRows rows = rowsOf(*store, book.id);
            if (recorded)
                EXPECT_EQ(rows, whole.value(book.id)) << "book " << book.id << " after " << delayMs << " ms";
            else
                EXPECT_EQ(rows, BookRows{}) << "book " << book.id << " after " << delayMs << " ms";
            EXPECT_EQ(store->scalarInt(QStringLiteral("SELECT COUNT(*) FROM books WHERE id=?"), {book.id}),
                      recorded ? 1 : 0);
        }
    }
    EXPECT_GT(interrupted, 0);
    if (savedTmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", savedTmp);

    // A later run installs what the store lacks, as the start script does.
    QList<Dist::CatBook> missing;
    {
        auto store = SQLiteDB::open(storePath, true);
        ASSERT_TRUE(store);
        for (const auto& book : books)
            if (store->scalarInt(QStringLiteral("SELECT COUNT(*) FROM installed WHERE book_id=?"), {book.id}) != 1)
                missing.append(book);
    }
    installAll(storePath, base, missing);
    auto store = SQLiteDB::open(storePath, true);
    for (const auto& book : books)
        EXPECT_EQ(rowsOf(*store, book.id), whole.value(book.id)) << "book " << book.id;
}
#endif
