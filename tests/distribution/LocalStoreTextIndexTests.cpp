// What an install draws from a book's text beside its pages (the narrators
// and their chains, the shared-passage shingles), a book's removal from all
// of it, and the merging of a narrator's spellings.

#include "LocalStoreFixture.h"

#include "core/Arabic.h"
#include "core/ShingleRuns.h"
#include "scholar/Isnad.h"
#include "support/CorpusText.h"

#include <sqlite3.h>

using namespace quorvel;
using quorvel::test::LocalStoreTest;

TEST_F(LocalStoreTest, narratorChainsGiveNeighbourEdges)
{
    const QString text = QStringLiteral("حدثنا يحيى بن يحيى عن مالك عن نافع عن عبد الله بن عمر أن رسول الله قال");
    const QStringList chain = Isnad::chain(text);
    ASSERT_GE(chain.size(), 3);
    install(pagesPackage(9, {text, QStringLiteral("باب بلا إسناد"), text}));

    const auto edges = store_->db().rows(QStringLiteral(
        "SELECT s.name, t.name FROM isnad_edges e JOIN narrators s ON s.id=e.student_id "
        "JOIN narrators t ON t.id=e.teacher_id WHERE e.page_id=9001 ORDER BY e.rowid"));
    ASSERT_EQ(edges.size(), chain.size() - 1);
    for (qsizetype i = 0; i + 1 < chain.size(); ++i) {
        EXPECT_EQ(edges[i].str(0), chain[i]);
        EXPECT_EQ(edges[i].str(1), chain[i + 1]);
    }
    // The same names on a later page reuse their narrators.
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM narrators")), QSet<QString>(chain.begin(), chain.end()).size());
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE page_id=9003")), chain.size() - 1);
}

TEST_F(LocalStoreTest, narratorsStoredUnderOlderChainRulesAreReadAgainOnce)
{
    // A page of the sample's سنن أبي داود whose «نا» an earlier reading took
    // for part of a name.
    const QStringList book = test::bookPages(QStringLiteral("../../samples/books/004.json"));
    ASSERT_GE(book.size(), 100);
    const QString text = book[99];
    install(pagesPackage(9, {text, QStringLiteral("باب بلا إسناد")}));
    EXPECT_FALSE(store_->narratorsOutdated());
    EXPECT_EQ(store_->refreshNarrators().outcome, LocalStore::NarratorRefresh::Outcome::upToDate);

    // What an earlier version stored, without the rules' stamp or under older rules.
    for (const QString& stamp : {QString(), QString::number(Isnad::rulesVersion - 1)}) {
        SCOPED_TRACE(stamp.toStdString());
        ASSERT_TRUE(store_->db().exec(QStringLiteral(
            "DELETE FROM isnad_edges; DELETE FROM narrators; DELETE FROM meta WHERE key='isnad_rules';"
            "INSERT INTO narrators(id, name) VALUES(1, 'قتيبة بن سعيد نا بن لهيعة'), (2, 'يزيد بن أبي حبيب');"
            "INSERT INTO isnad_edges VALUES(1, 2, 9, 9001);")));
        if (!stamp.isEmpty()) {
            ASSERT_TRUE(store_->db().run(QStringLiteral("INSERT INTO meta(key, value) VALUES('isnad_rules', ?)"), {stamp}));
        }
        // Opening the store keeps them until it is brought up to date.
        store_ = LocalStore::open(dir_.filePath(QStringLiteral("library.db")));
        ASSERT_TRUE(store_);
        ASSERT_TRUE(store_->narratorsOutdated());

        const LocalStore::NarratorRefresh refreshed = store_->refreshNarrators();
        ASSERT_EQ(refreshed.outcome, LocalStore::NarratorRefresh::Outcome::done);
        EXPECT_EQ(refreshed.pages, 1); // the one page with a chain
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM narrators WHERE name LIKE '% نا %'")), 0);
        QList<std::pair<QString, QString>> stored;
        for (const auto& row : store_->db().rows(QStringLiteral(
                 "SELECT s.name, t.name FROM isnad_edges e JOIN narrators s ON s.id=e.student_id "
                 "JOIN narrators t ON t.id=e.teacher_id ORDER BY e.rowid")))
            stored.append({row.str(0).value_or(QString()), row.str(1).value_or(QString())});
        EXPECT_EQ(stored, Isnad::edges(text));
        EXPECT_TRUE(stored.contains(std::pair(QStringLiteral("قتيبة بن سعيد"), QStringLiteral("بن لهيعة"))));
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=9")), 2); // no book was reinstalled

        // Once: up to date now, also for the next opening.
        EXPECT_EQ(store_->refreshNarrators().outcome, LocalStore::NarratorRefresh::Outcome::upToDate);
        store_ = LocalStore::open(dir_.filePath(QStringLiteral("library.db")));
        ASSERT_TRUE(store_);
        EXPECT_FALSE(store_->narratorsOutdated());
    }
}

TEST_F(LocalStoreTest, readingNarratorsAgainStopsBetweenBooksGoesOnAfterAndSaysAFailure)
{
    using Outcome = LocalStore::NarratorRefresh::Outcome;
    const QList<std::pair<std::int64_t, QString>> books{
        {21, QStringLiteral("حدثنا قتيبة بن سعيد حدثنا الليث عن نافع عن ابن عمر قال: كذا")},
        {22, QStringLiteral("حدثنا مسدد حدثنا يحيى عن سفيان عن أبي إسحاق قال: كذا")},
        {23, QStringLiteral("حدثنا سليمان بن حرب حدثنا شعبة عن قتادة عن أنس قال: كذا")}};
    for (const auto& [id, text] : books)
        install(pagesPackage(id, {text}));
    const auto storedEdges = [&](std::int64_t bookId) {
        QList<std::pair<QString, QString>> stored;
        for (const auto& row : store_->db().rows(QStringLiteral(
                 "SELECT s.name, t.name FROM isnad_edges e JOIN narrators s ON s.id=e.student_id "
                 "JOIN narrators t ON t.id=e.teacher_id WHERE e.book_id=? ORDER BY e.rowid"), {bookId}))
            stored.append({row.str(0).value_or(QString()), row.str(1).value_or(QString())});
        return stored;
    };
    // Every book's narrators as older rules read them.
    const auto outdate = [&] {
        ASSERT_TRUE(store_->db().exec(QStringLiteral(
            "DELETE FROM isnad_edges; DELETE FROM narrators; DELETE FROM meta WHERE key IN ('isnad_rules', 'isnad_reread');"
            "INSERT INTO narrators(id, name) VALUES(1, 'قديم أول'), (2, 'قديم ثان');"
            "INSERT INTO isnad_edges VALUES(1, 2, 21, 2101), (1, 2, 22, 2201), (1, 2, 23, 2301);"
            "INSERT INTO meta(key, value) VALUES('isnad_rules', '1');")));
    };
    outdate();

    // Asked to stop after the first book: that book is read again, the others wait.
    int asked = 0;
    LocalStore::NarratorRefresh refresh = store_->refreshNarrators([&] { return asked++ < 1; });
    EXPECT_EQ(refresh.outcome, Outcome::stopped);
    EXPECT_TRUE(LocalStore::narratorsRefreshNotice(refresh).isEmpty());
    EXPECT_EQ(storedEdges(21), Isnad::edges(books[0].second));
    EXPECT_EQ(storedEdges(22).size(), 1); // still the old row
    EXPECT_TRUE(store_->narratorsOutdated());

    // The next call, on a new connection, goes on from the second book.
    store_ = LocalStore::open(dir_.filePath(QStringLiteral("library.db")));
    ASSERT_TRUE(store_);
    asked = 0;
    refresh = store_->refreshNarrators([&] { return ++asked > 0; });
    EXPECT_EQ(refresh.outcome, Outcome::done);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(refresh.pages, 2);
    for (const auto& [id, text] : books)
        EXPECT_EQ(storedEdges(id), Isnad::edges(text)) << id;
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM narrators WHERE name LIKE 'قديم%'")), 0);
    EXPECT_FALSE(store_->narratorsOutdated());

    // A statement that fails is said, and the book in hand keeps its rows.
    outdate();
    ASSERT_TRUE(store_->db().exec(QStringLiteral(
        "CREATE TRIGGER refuse BEFORE INSERT ON isnad_edges WHEN NEW.book_id=22 "
        "BEGIN SELECT abs(-9223372036854775807 - 1); END"))); // an error, not a constraint
    refresh = store_->refreshNarrators();
    EXPECT_EQ(refresh.outcome, Outcome::failed);
    EXPECT_FALSE(LocalStore::narratorsRefreshNotice(refresh).isEmpty());
    EXPECT_NE(LocalStore::narratorsRefreshNotice(refresh), LocalStore::narratorsRefreshedNotice(0));
    EXPECT_EQ(storedEdges(22).size(), 1);
    EXPECT_TRUE(store_->narratorsOutdated());
    ASSERT_TRUE(store_->db().exec(QStringLiteral("DROP TRIGGER refuse")));
    EXPECT_EQ(store_->refreshNarrators().outcome, Outcome::done);
    EXPECT_EQ(storedEdges(22), Isnad::edges(books[1].second));
}

TEST_F(LocalStoreTest, ofTwoStoresReadingNarratorsAgainTheOneThatWaitedSaysNoFailure)
{
    using Outcome = LocalStore::NarratorRefresh::Outcome;
    const QString text = QStringLiteral("حدثنا قتيبة بن سعيد حدثنا الليث عن نافع عن ابن عمر قال: كذا");
    install(pagesPackage(21, {text}));
    install(pagesPackage(22, {text}));
    ASSERT_TRUE(store_->db().exec(QStringLiteral(
        "DELETE FROM isnad_edges; DELETE FROM narrators; DELETE FROM meta WHERE key IN ('isnad_rules', 'isnad_reread');"
        "INSERT INTO narrators(id, name) VALUES(1, 'قديم أول'), (2, 'قديم ثان');"
        "INSERT INTO isnad_edges VALUES(1, 2, 21, 2101), (1, 2, 22, 2201);")));
    const QString path = dir_.filePath(QStringLiteral("library.db"));
    auto other = LocalStore::open(path);
    ASSERT_TRUE(other);
    // Both find the old rules; the other process does the whole work, then
    // holds the store (an install of its own) while this one waits to write.
    std::shared_ptr<SQLiteDB> holder;
    std::optional<Transaction> held;
    ASSERT_TRUE(store_->db().exec(QStringLiteral("PRAGMA busy_timeout=50")));
    const LocalStore::NarratorRefresh waited = store_->refreshNarrators([&] {
        if (!holder) {
            EXPECT_EQ(other->refreshNarrators().outcome, Outcome::done);
            holder = SQLiteDB::open(path, false);
            held.emplace(*holder);
            EXPECT_TRUE(held->begun());
        }
        return true;
    });
    EXPECT_NE(waited.outcome, Outcome::failed);
    EXPECT_TRUE(LocalStore::narratorsRefreshNotice(waited).isEmpty());
    held.reset();
    // Nor when it gets the store after the other is done.
    holder.reset();
    ASSERT_TRUE(store_->db().exec(QStringLiteral(
        "DELETE FROM meta WHERE key = 'isnad_rules'; INSERT INTO isnad_edges VALUES(1, 2, 21, 2101);")));
    bool once = false;
    const LocalStore::NarratorRefresh after = store_->refreshNarrators([&] {
        if (!std::exchange(once, true)) {
            EXPECT_EQ(other->refreshNarrators().outcome, Outcome::done);
        }
        return true;
    });
    EXPECT_EQ(after.outcome, Outcome::upToDate);
    EXPECT_FALSE(store_->narratorsOutdated());
}

TEST_F(LocalStoreTest, shinglesOnlyOnRequestAndOncePerPage)
{
    const QStringList pages = {QStringLiteral("قال مالك بن أنس في الموطأ"), QStringLiteral("كلمة ثانية ثالثة"),
                               QStringLiteral("سبحان الله سبحان الله سبحان الله سبحان الله")};
    install(pagesPackage(10, pages));
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingles")), 0);

    LocalStore::setWithReuse(true);
    install(pagesPackage(10, pages));
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE page_id=10001")), 3);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE page_id=10002")), 0);
    // Windows alternate between two texts: two rows, not five.
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE page_id=10003")), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT MIN(hash) >= 0 AND MAX(hash) <= 4294967295 FROM shingles")), 1);
}

TEST_F(LocalStoreTest, aStoreWithShinglesKeepsThemCompleteWhateverThePreference)
{
    const QStringList pages = {QStringLiteral("قال مالك بن أنس في الموطأ"),
                               QStringLiteral("سبحان الله سبحان الله سبحان الله سبحان الله")};
    LocalStore::setWithReuse(true);
    install(pagesPackage(10, pages));
    const auto shingles = count(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE book_id=10"));
    ASSERT_EQ(shingles, 5);

    LocalStore::setWithReuse(false);
    install(pagesPackage(10, pages));
    install(pagesPackage(11, pages));
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE book_id=10")), shingles);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingles WHERE book_id=11")), shingles);
}

// Lookups by hash read the runs, which only installs and merges write: they
// must hold the table's rows exactly, through merges, updates, removals and a
// store written before the runs existed.
TEST_F(LocalStoreTest, shinglesByHashAreTheTableWhateverRunTheyLieIn)
{
    struct RunRows {
        RunRows() { ShingleRuns::setRunRows(4); }
        ~RunRows() { ShingleRuns::setRunRows(std::int64_t(1) << 21); }
    } small;
    const auto byHash = [](SQLiteDB& db, const QString& from) {
        QStringList out;
        for (const auto& row : db.rows(QStringLiteral("SELECT hash || ' ' || page_id || ' ' || book_id FROM %1 "
                                                      "ORDER BY hash, page_id, book_id")
                                           .arg(from)))
            out << row.str(0).value_or(QString());
        return out;
    };
    LocalStore::setWithReuse(true);
    const auto installBook = [&](std::int64_t id) {
        install(pagesPackage(id, {QStringLiteral("قال مالك بن أنس في الموطأ رواية %1").arg(id),
                                  QStringLiteral("باب ما جاء في الصلاة والزكاة")}));
    };
    for (std::int64_t id = 20; id < 31; ++id)
        installBook(id);
    // Made as a store written before the first level's runs had a table of
    // their own: its view and triggers read only the other table.
    ASSERT_TRUE(store_->db().exec(QStringLiteral(
        "INSERT INTO shingle_runs SELECT * FROM shingle_fresh; DELETE FROM shingle_fresh;"
        "DROP VIEW shingle_hashes; DROP TRIGGER shingles_moved_in_run; DROP TRIGGER shingles_out_of_run;"
        "CREATE VIEW shingle_hashes AS SELECT hash, page_id, book_id FROM shingle_runs "
        "WHERE run IN (SELECT run FROM shingle_levels);"
        "CREATE TRIGGER shingles_moved_in_run AFTER UPDATE ON shingles BEGIN UPDATE shingle_runs "
        "SET hash=new.hash, sid=new.rowid, page_id=new.page_id, book_id=new.book_id "
        "WHERE run IN (SELECT run FROM shingle_levels) AND hash=old.hash AND sid=old.rowid; END;"
        "CREATE TRIGGER shingles_out_of_run AFTER DELETE ON shingles BEGIN DELETE FROM shingle_runs "
        "WHERE run IN (SELECT run FROM shingle_levels) AND hash=old.hash AND sid=old.rowid; END;")));
    store_ = LocalStore::open(dir_.filePath(QStringLiteral("library.db")));
    ASSERT_TRUE(store_);
    for (std::int64_t id = 31; id < 86; ++id)
        installBook(id);
    install(pagesPackage(21, {QStringLiteral("باب الزكاة في الذهب والفضة")}), 2);
    EXPECT_TRUE(store_->remove(33));
    SQLiteDB& db = store_->db();
    ASSERT_EQ(ShingleRuns::lookup(db), QStringLiteral("shingle_hashes"));
    EXPECT_EQ(byHash(db, QStringLiteral("shingle_hashes")), byHash(db, QStringLiteral("shingles")));
    EXPECT_GT(byHash(db, QStringLiteral("shingles")).size(), 100);
    // Each book filled a run: they were merged eight by eight, the last
    // merges perhaps still being written.
    EXPECT_GE(count(QStringLiteral("SELECT MAX(level) FROM shingle_levels")), 1);
    EXPECT_LE(count(QStringLiteral("SELECT COUNT(*) FROM shingle_levels")), 3 * 2 * 8);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingle_runs WHERE run NOT IN (SELECT run FROM shingle_levels "
                                   "UNION ALL SELECT run FROM shingle_building UNION ALL SELECT run FROM shingle_dead)")),
              0);
    EXPECT_GT(count(QStringLiteral("SELECT (SELECT COUNT(*) FROM shingle_fresh) + (SELECT COUNT(*) FROM shingle_fresh2)")), 0);

    // A store of the earlier layout: the shingles' own index by hash, no runs.
    const QString oldPath = dir_.filePath(QStringLiteral("old.db"));
    {
        auto old = SQLiteDB::open(oldPath, false);
        ASSERT_TRUE(old && old->exec(QStringLiteral(
            "CREATE TABLE shingles(hash INTEGER NOT NULL, page_id INTEGER NOT NULL, book_id INTEGER NOT NULL);"
            "CREATE INDEX idx_shingles_hash ON shingles(hash);"
            "INSERT INTO shingles VALUES(7, 1, 1), (3, 1, 1), (7, 2, 1), (5, 9, 2);")));
    }
    auto adopted = LocalStore::open(oldPath);
    ASSERT_TRUE(adopted);
    EXPECT_EQ(byHash(adopted->db(), QStringLiteral("shingle_hashes")),
              QStringList({QStringLiteral("3 1 1"), QStringLiteral("5 9 2"), QStringLiteral("7 1 1"),
                           QStringLiteral("7 2 1")}));
    EXPECT_EQ(adopted->db().scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name='idx_shingles_hash'")),
              0);
    // Rows written there other than by the installer, then made into runs anew.
    ASSERT_TRUE(adopted->db().run(QStringLiteral("INSERT INTO shingles VALUES(4, 3, 3)")));
    ASSERT_TRUE(ShingleRuns::rebuild(adopted->db()));
    EXPECT_EQ(byHash(adopted->db(), QStringLiteral("shingle_hashes")).size(), 5);
}

// A merge of full runs is written a part at each later install: throughout,
// whatever is installed, replaced, removed or changed meanwhile, a lookup by
// hash finds exactly the table's rows, each once; the levels stay few; the
// merged rows are deleted; an install that fails in the middle of its part
// leaves every run as it was, and the installs after it finish the merge.
TEST_F(LocalStoreTest, aMergeWrittenAPartAtATimeLosesNoShingle)
{
    struct RunRows {
        RunRows() { ShingleRuns::setRunRows(4); }
        ~RunRows() { ShingleRuns::setRunRows(std::int64_t(1) << 21); }
    } small;
    const auto byHash = [this](const QString& from) {
        QStringList out;
        for (const auto& row : store_->db().rows(QStringLiteral("SELECT hash || ' ' || page_id || ' ' || book_id "
                                                                "FROM %1 ORDER BY hash, page_id, book_id")
                                                     .arg(from)))
            out << row.str(0).value_or(QString());
        return out;
    };
    const auto bookOf = [](std::int64_t id, int version) {
        return QStringList{QStringLiteral("قال مالك بن أنس في الموطأ رواية %1 طبعة %2").arg(id).arg(version),
                           QStringLiteral("باب ما جاء في الصلاة والزكاة والصيام %1").arg(id % 3)};
    };
    const auto building = [this] { return count(QStringLiteral("SELECT COUNT(*) FROM shingle_building")); };
    const auto partWritten = [this] {
        return count(QStringLiteral("SELECT COUNT(*) FROM shingle_building WHERE rows > 0 AND hash IS NOT NULL"));
    };
    LocalStore::setWithReuse(true);
    bool sawPart = false, sawSecondLevel = false, sawDead = false, removedInPart = false, replacedInPart = false;
    for (int op = 0; op < 150; ++op) {
        const std::int64_t id = 100 + op;
        const bool inPart = partWritten() > 0;
        if (op % 7 == 3) {
            EXPECT_TRUE(store_->remove(id - 5));
            removedInPart = removedInPart || inPart;
        } else if (op % 5 == 4) {
            install(pagesPackage(id - 3, bookOf(id - 3, 2)), 2);
            replacedInPart = replacedInPart || inPart;
        } else {
            install(pagesPackage(id, bookOf(id, 1)));
        }
        sawPart = sawPart || partWritten() > 0;
        sawSecondLevel = sawSecondLevel || count(QStringLiteral("SELECT COUNT(*) FROM shingle_building WHERE level=2")) > 0;
        sawDead = sawDead || count(QStringLiteral("SELECT COUNT(*) FROM shingle_dead")) > 0;
        ASSERT_EQ(byHash(QStringLiteral("shingle_hashes")), byHash(QStringLiteral("shingles"))) << "after " << op;
        // Runs being merged stay live until their output is whole: at most
        // twice the merged number per level.
        ASSERT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM (SELECT level FROM shingle_levels GROUP BY level "
                                       "HAVING COUNT(*) > 16)")),
                  0)
            << "after " << op;
        ASSERT_LE(building(), 2) << "after " << op;
        // Rows lie only in live runs, in runs being written, in merged ones
        // waiting to be deleted, or in a first-level table that still holds
        // live runs.
        ASSERT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingle_runs WHERE run NOT IN (SELECT run FROM "
                                       "shingle_levels UNION ALL SELECT run FROM shingle_building UNION ALL "
                                       "SELECT run FROM shingle_dead)")),
                  0)
            << "after " << op;
        for (const char* fresh : {"shingle_fresh", "shingle_fresh2"})
            ASSERT_EQ(count(QStringLiteral("SELECT EXISTS(SELECT 1 FROM %1) AND NOT EXISTS(SELECT 1 FROM %1 "
                                           "WHERE run IN (SELECT run FROM shingle_levels))")
                                .arg(QString::fromLatin1(fresh))),
                      0)
                << fresh << " after " << op;
    }
    EXPECT_TRUE(sawPart);
    EXPECT_TRUE(sawSecondLevel);
    EXPECT_TRUE(sawDead);
    EXPECT_TRUE(removedInPart);
    EXPECT_TRUE(replacedInPart);
    // The merged rows are deleted by the installs that follow.
    for (std::int64_t more = 500; more < 600 && count(QStringLiteral("SELECT COUNT(*) FROM shingle_dead")) > 0; ++more)
        install(pagesPackage(more, bookOf(more, 1)));
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingle_dead")), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingle_runs WHERE run NOT IN (SELECT run FROM "
                                   "shingle_levels UNION ALL SELECT run FROM shingle_building)")),
              0);

    // A merge part written: a row not yet copied moved before the point
    // reached, one copied moved past it, and another removed; then the
    // merge is finished by later installs.
    std::int64_t id = 300;
    const auto nextBook = [&] {
        ++id;
        return pagesPackage(id, bookOf(id, 1));
    };
    while (partWritten() == 0)
        install(nextBook());
    const auto moved = [&](const char* side) {
        return store_->db().scalarInt(
            QStringLiteral("SELECT s.sid FROM shingle_building b JOIN shingle_sources o ON o.output = b.run "
                           "JOIN (SELECT run, hash, sid FROM shingle_runs UNION ALL SELECT run, hash, sid FROM "
                           "shingle_fresh UNION ALL SELECT run, hash, sid FROM shingle_fresh2) s ON s.run = o.run "
                           "WHERE (s.hash, s.sid) %1 (b.hash, b.sid) ORDER BY s.hash, s.sid LIMIT 1")
                .arg(QString::fromLatin1(side)));
    };
    const auto ahead = moved(">");
    const auto copied = store_->db().scalarInt(QStringLiteral(
        "SELECT r.sid FROM shingle_building b JOIN shingle_runs r ON r.run = b.run ORDER BY r.hash, r.sid LIMIT 1"));
    ASSERT_TRUE(ahead && copied);
    ASSERT_TRUE(store_->db().run(QStringLiteral("UPDATE shingles SET hash = -1 WHERE rowid=?"), {*ahead}));
    ASSERT_TRUE(store_->db().run(QStringLiteral("UPDATE shingles SET hash = 9999999999 WHERE rowid=?"), {*copied}));
    ASSERT_TRUE(store_->db().run(QStringLiteral("DELETE FROM shingles WHERE rowid=(SELECT MAX(rowid) FROM shingles "
                                                "WHERE rowid NOT IN (?, ?))"),
                                 {*ahead, *copied}));
    EXPECT_EQ(byHash(QStringLiteral("shingle_hashes")), byHash(QStringLiteral("shingles")));

    // An install that fails in the middle of its part.
    const auto everyRun = [this] {
        QStringList out;
        for (const auto& row : store_->db().rows(QStringLiteral(
                 "SELECT 'l', run, level, rows, NULL, NULL FROM shingle_levels UNION ALL "
                 "SELECT 'b', run, level, rows, hash, sid FROM shingle_building UNION ALL "
                 "SELECT 's', run, output, NULL, NULL, NULL FROM shingle_sources UNION ALL "
                 "SELECT 'd', run, NULL, NULL, NULL, NULL FROM shingle_dead UNION ALL "
                 "SELECT 'r', run, hash, sid, page_id, book_id FROM shingle_runs UNION ALL "
                 "SELECT 'f', run, hash, sid, page_id, book_id FROM shingle_fresh UNION ALL "
                 "SELECT 'g', run, hash, sid, page_id, book_id FROM shingle_fresh2 ORDER BY 1, 2, 3, 4")))
            out << QStringLiteral("%1 %2 %3 %4 %5 %6")
                       .arg(row.str(0).value_or(QString()))
                       .arg(row.integer(1).value_or(-1))
                       .arg(row.integer(2).value_or(-1))
                       .arg(row.integer(3).value_or(-1))
                       .arg(row.integer(4).value_or(-1))
                       .arg(row.integer(5).value_or(-1));
        return out;
    };
    const QStringList before = everyRun();
    ASSERT_TRUE(store_->db().exec(QStringLiteral(
        "CREATE TEMP TABLE copies(n INTEGER); INSERT INTO copies VALUES(0);"
        "CREATE TEMP TRIGGER cut_short BEFORE INSERT ON main.shingle_runs BEGIN "
        "UPDATE copies SET n = n + 1; SELECT RAISE(ABORT, 'cut short') WHERE (SELECT n FROM copies) > 3; END;")));
    EXPECT_FALSE(refusal(nextBook()).isEmpty());
    EXPECT_EQ(count(QStringLiteral("SELECT n FROM temp.copies")), 0); // rolled back with the install
    EXPECT_EQ(everyRun(), before);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=?"), {id}), 0);
    ASSERT_TRUE(store_->db().exec(QStringLiteral("DROP TRIGGER temp.cut_short")));

    // The next installs take the merge up where it stood and finish it.
    const auto output = count(QStringLiteral("SELECT MIN(run) FROM shingle_building"));
    for (int more = 0; more < 40 && count(QStringLiteral("SELECT COUNT(*) FROM shingle_building WHERE run=?"), {output});
         ++more) {
        install(nextBook());
        ASSERT_EQ(byHash(QStringLiteral("shingle_hashes")), byHash(QStringLiteral("shingles"))) << "install " << id;
    }
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingle_levels WHERE run=?"), {output}), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM shingle_hashes WHERE hash IN (-1, 9999999999)")), 2);
}

// A book's shingles reach the table in page order, so that it and its
// indexes by page and by book grow at their ends; in hash order each row
// lands somewhere in the book's part of all three.
TEST_F(LocalStoreTest, aBooksShinglesAreWrittenInPageOrder)
{
    const QString letters = QStringLiteral("ابتثجحخدذرزسشصضطظعغفقكلمنهوي");
    QStringList pages;
    for (int page = 0, word = 0; page < 3; ++page) {
        QStringList words;
        for (int w = 0; w < 100; ++w, ++word)
            words << QString(letters[word / 28 % 28]) + letters[word % 28] + u'م';
        pages << words.join(u' ');
    }
    ASSERT_TRUE(store_->db().exec(QStringLiteral(
        "CREATE TEMP TABLE written(sid INTEGER);"
        "CREATE TEMP TRIGGER shingle_written AFTER INSERT ON main.shingles BEGIN "
        "INSERT INTO written VALUES(new.rowid); END;")));
    LocalStore::setWithReuse(true);
    install(pagesPackage(40, pages));
    EXPECT_GT(count(QStringLiteral("SELECT COUNT(*) FROM written")), 250);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM written a JOIN written b ON b.rowid = a.rowid + 1 "
                                   "WHERE b.sid < a.sid")),
              0);
}

// A book of many pages, read and worked on a batch at a time: each page
// keeps its own normal form, chains and index row, and the narrators are
// numbered in the order the pages name them, as page by page.
TEST_F(LocalStoreTest, aLongBooksPagesKeepTheirOwnRowsAndNameTheirNarratorsInPageOrder)
{
    const QStringList names = {QStringLiteral("محمد"), QStringLiteral("أحمد"),   QStringLiteral("علي"),
                               QStringLiteral("حسن"),  QStringLiteral("عمر"),    QStringLiteral("عثمان"),
                               QStringLiteral("يحيى"), QStringLiteral("سفيان"),  QStringLiteral("إبراهيم"),
                               QStringLiteral("موسى"), QStringLiteral("إسماعيل"), QStringLiteral("سليمان")};
    constexpr int pageCount = 700;
    QStringList pages;
    for (int page = 0; page < pageCount; ++page)
        pages << QStringLiteral("الباب %1 حدثنا %2 بن %3 عن مالك عن نافع عن ابن عمر قال")
                     .arg(page + 1)
                     .arg(names[page % names.size()], names[page / names.size() % names.size()]);
    install(pagesPackage(9, pages));

    QStringList firstNamed;
    QList<std::pair<QString, QString>> expected;
    for (int page = 0; page < pageCount; ++page) {
        const auto edges = Isnad::edges(pages[page]);
        ASSERT_FALSE(edges.isEmpty()) << page;
        for (const auto& [student, teacher] : edges) {
            expected.append({student, teacher});
            for (const QString& name : {student, teacher})
                if (!firstNamed.contains(name))
                    firstNamed << name;
        }
        const auto stored = store_->db().rows(
            QStringLiteral("SELECT content_norm, (SELECT group_concat(rowid) FROM page_forms WHERE page_forms MATCH ?) "
                           "FROM pages WHERE id=?"),
            {QStringLiteral("\"%1\"").arg(page + 1), 9001 + page});
        ASSERT_EQ(stored.size(), 1);
        EXPECT_EQ(stored.first().str(0), Arabic::normalize(pages[page], true)) << page;
        EXPECT_EQ(stored.first().str(1), QString::number(9001 + page)) << page;
    }
    QStringList numbered;
    for (const auto& row : store_->db().rows(QStringLiteral("SELECT name FROM narrators ORDER BY id")))
        numbered << row.str(0).value_or(QString());
    EXPECT_EQ(numbered, firstNamed);
    QList<std::pair<QString, QString>> edges;
    for (const auto& row : store_->db().rows(QStringLiteral(
             "SELECT s.name, t.name FROM isnad_edges e JOIN narrators s ON s.id=e.student_id "
             "JOIN narrators t ON t.id=e.teacher_id ORDER BY e.rowid")))
        edges.append({row.str(0).value_or(QString()), row.str(1).value_or(QString())});
    EXPECT_EQ(edges, expected);
}

TEST_F(LocalStoreTest, removeDeletesEveryRowOfTheBookAndNothingElse)
{
    LocalStore::setWithReuse(true);
    const QString chain = QStringLiteral("حدثنا يحيى عن مالك عن نافع عن ابن عمر قال");
    const QString heading = QStringLiteral("INSERT INTO toc VALUES(%1, 'باب', 1, NULL, 1);");
    install(pagesPackage(11, {chain, QStringLiteral("باب الصلاة في السفر والحضر")}, heading.arg(11001)));
    install(pagesPackage(12, {chain, QStringLiteral("باب الزكاة في الذهب والفضة")}, heading.arg(12001)));
    const auto narrators = count(QStringLiteral("SELECT COUNT(*) FROM narrators"));
    auto rowsOf = [&](std::int64_t id) {
        QList<std::int64_t> n;
        for (const char* sql : {"SELECT COUNT(*) FROM pages WHERE book_id=?", "SELECT COUNT(*) FROM pages_fts WHERE book_id=?",
                                "SELECT COUNT(*) FROM toc WHERE book_id=?", "SELECT COUNT(*) FROM isnad_edges WHERE book_id=?",
                                "SELECT COUNT(*) FROM shingles WHERE book_id=?", "SELECT COUNT(*) FROM books WHERE id=?",
                                "SELECT COUNT(*) FROM installed WHERE book_id=?"})
            n.append(count(QString::fromLatin1(sql), {id}));
        return n;
    };
    const auto kept = rowsOf(12);
    EXPECT_FALSE(kept.contains(0));

    EXPECT_TRUE(store_->remove(99)); // not installed: nothing changes
    EXPECT_EQ(rowsOf(11), kept);

    EXPECT_TRUE(store_->remove(11));
    EXPECT_EQ(rowsOf(11), QList<std::int64_t>(7, 0));
    EXPECT_EQ(rowsOf(12), kept);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?"), {QStringLiteral("السفر")}), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM pages_fts WHERE pages_fts MATCH ?"), {QStringLiteral("الذهب")}), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM narrators")), narrators);
    EXPECT_EQ(store_->installed().keys(), QList<std::int64_t>{12});
}

TEST_F(LocalStoreTest, dedupMergesSpellingsIntoTheMostUsedAndDropsLoops)
{
    SQLiteDB& db = store_->db();
    // Ids: 1 أحمد, 2 احمد (as often used, same length, read later), 3 محمد (used twice), 4 محمـد
    // (tatweel: longer, used once), 5 نافع.
    ASSERT_TRUE(db.exec(QStringLiteral(
        "INSERT INTO narrators(id, name) VALUES(1,'أحمد'),(2,'احمد'),(3,'محمد'),(4,'محمـد'),(5,'نافع');"
        "INSERT INTO isnad_edges VALUES(2,5,1,1),(5,3,1,1),(1,2,1,2),(3,4,1,3),(1,5,1,4);")));
    ASSERT_EQ(Arabic::normalize(QStringLiteral("محمـد"), true), Arabic::normalize(QStringLiteral("محمد"), true));

    // While another writer holds the store nothing is merged, and that is reported.
    {
        auto other = SQLiteDB::open(dir_.filePath(QStringLiteral("library.db")), false);
        ASSERT_TRUE(other && other->exec(QStringLiteral("BEGIN IMMEDIATE")));
        sqlite3_busy_timeout(db.handle(), 0);
        EXPECT_FALSE(store_->dedupNarrators());
        other->exec(QStringLiteral("ROLLBACK"));
        sqlite3_busy_timeout(db.handle(), 3000);
    }
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM narrators")), 5);
    EXPECT_FALSE(db.inTransaction());

    EXPECT_TRUE(store_->dedupNarrators());
    EXPECT_EQ(narratorIds(), (QList<std::int64_t>{1, 3, 5}));
    // The loops the merge made (1→1 from 1→2, 3→3 from 3→4) are gone.
    EXPECT_EQ(edgePairs(), (QList<std::pair<std::int64_t, std::int64_t>>{{1, 5}, {5, 3}, {1, 5}}));
}

TEST_F(LocalStoreTest, aMergeWorksThroughTheBatchsEdgesNotThroughAllOfTheKeepers)
{
    SQLiteDB& db = store_->db();
    // A batch brings a shorter spelling of a narrator whose edges fill the
    // library; the work of its merge, in SQLite's virtual machine steps.
    const auto stepsOfMerge = [&](int keeperEdges) {
        EXPECT_TRUE(db.exec(QStringLiteral("DELETE FROM narrators; DELETE FROM isnad_edges; DELETE FROM meta;"
                                           "INSERT INTO narrators(id, name) VALUES(1,'أحمد'),(2,'نافع');")));
        // His pupil's and his teacher: either index of a loop leads to them all.
        EXPECT_TRUE(db.run(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
                                          "INSERT INTO isnad_edges SELECT 1, 2, i, i FROM n "
                                          "UNION ALL SELECT 2, 1, i, i FROM n"),
                           {keeperEdges}));
        EXPECT_TRUE(store_->dedupNarrators());
        EXPECT_TRUE(db.exec(QStringLiteral("INSERT INTO narrators(id, name) VALUES(3,'احمد');"
                                           "INSERT INTO isnad_edges VALUES(3,2,0,0),(2,3,0,0),(3,1,0,0);")));
        std::int64_t steps = 0;
        sqlite3_progress_handler(
            db.handle(), 1, [](void* n) { return ++*static_cast<std::int64_t*>(n), 0; }, &steps);
        EXPECT_TRUE(store_->dedupNarrators());
        sqlite3_progress_handler(db.handle(), 0, nullptr, nullptr);
        // The loop the merge made (3→1) is gone; the batch's other edges are the keeper's.
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE student_id=teacher_id")), 0);
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE student_id=3 OR teacher_id=3")), 0);
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges WHERE student_id=2 AND teacher_id=1")),
                  keeperEdges + 1);
        EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM isnad_edges")), 2 * keeperEdges + 2);
        return steps;
    };
    const std::int64_t few = stepsOfMerge(10);
    EXPECT_LT(stepsOfMerge(5000), few * 2) << few;
}

TEST_F(LocalStoreTest, aLaterMergeJoinsNewNamesToOlderOnesAndToThoseOfABatchThatStoppedBeforeItsMerge)
{
    SQLiteDB& db = store_->db();
    ASSERT_TRUE(db.exec(QStringLiteral("INSERT INTO narrators(id, name) VALUES(1,'نافع'),(2,'مالك');"
                                       "INSERT INTO isnad_edges VALUES(2,1,1,1);")));
    ASSERT_TRUE(store_->dedupNarrators());

    // A batch that stopped before its merge, then one that finished.
    ASSERT_TRUE(db.exec(QStringLiteral("INSERT INTO narrators(id, name) VALUES(3,'مالـك');"
                                       "INSERT INTO isnad_edges VALUES(3,1,2,2),(2,3,2,3);")));
    ASSERT_TRUE(db.exec(QStringLiteral("INSERT INTO narrators(id, name) VALUES(4,'نافـع'),(5,'يحيى');"
                                       "INSERT INTO isnad_edges VALUES(5,4,3,4),(5,3,3,4);")));
    ASSERT_TRUE(store_->dedupNarrators());

    // مالـك (3) is used three times, مالك twice; نافع (1) twice, نافـع once.
    EXPECT_EQ(narratorIds(), (QList<std::int64_t>{1, 3, 5}));
    // Every edge now joins the spellings used most; the loop the merge made (2→3) is gone.
    EXPECT_EQ(edgePairs(), (QList<std::pair<std::int64_t, std::int64_t>>{{3, 1}, {3, 1}, {5, 1}, {5, 3}}));
    // Nothing new since: the next merge leaves everything as it is.
    ASSERT_TRUE(store_->dedupNarrators());
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM narrators")), 3);
}
