// Damage to the page index on pages no sample re-reads: rows lost anywhere
// leave the index short of the totals its writers kept, so the first search
// takes the page check and the index is cleared to be built again, also
// after an earlier check found the tables whole.

#include "search/PageIndex.h"
#include "search/SearchFixture.h"

#include "core/SQLiteDB.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr int kPages = 400;

// Four hundred pages: one of every hundred holds a rare word of its own, and
// fifty hold a word with marks.
const QStringList rare = {QStringLiteral("قرطاس"), QStringLiteral("سمسم"), QStringLiteral("زعفران"),
                          QStringLiteral("كمثرى")};

QStringList pages()
{
    QStringList out;
    for (int i = 1; i <= kPages; ++i) {
        QString text = QStringLiteral("حدثنا مالك عن نافع عن ابن عمر قال رسول الله");
        if (i % 100 == 37)
            text += QStringLiteral(" وأخبرني ") + rare[i / 100];
        if (i % 8 == 3)
            text += QStringLiteral(" صَلَّى اللهُ عَلَيْهِ وَسَلَّمَ");
        out << text;
    }
    return out;
}

} // namespace

TEST(PageIndexDamage, rowsLostOnPagesNoSampleReadsGiveNoShortResult)
{
    const struct {
        const char* name;
        const char* damage;
        QString word;
        bool hamza, tashkeel;
    } cases[] = {
        // The evenly spread sample reads pages 1, 58, 115, … 400: neither
        // page 237 nor any marked page but 115.
        {"a rare term row", "DELETE FROM page_terms WHERE form = 'زعفران'", QStringLiteral("زعفران"), true, false},
        {"marks of unsampled pages",
         "DELETE FROM page_marks WHERE term = 'صلي' AND page_id NOT IN (SELECT id FROM pages WHERE seq = 115)",
         QStringLiteral("صَلَّى"), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SearchLibrary lib = customLibrary({FixtureBook{9, {}, pages(), {}}});
        ASSERT_TRUE(lib.lib);
        SearchQuery q = phrases({c.word});
        q.hamza = c.hamza;
        q.tashkeel = c.tashkeel;
        SearchEngine checked(*lib.lib);
        checked.setPageCheckedPath(true);
        const QList<SearchHit> expected = runQuery(checked, q).pages;
        ASSERT_FALSE(expected.isEmpty());
        {
            // Found whole once, the tables are not read whole again until
            // something changes their rows.
            auto db = SQLiteDB::open(lib.path, false);
            ASSERT_TRUE(db && PageIndex::sampleAgrees(*db));
            ASSERT_EQ(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM meta WHERE key = 'page_index_checked'")), 1);
            ASSERT_TRUE(db->run(QString::fromUtf8(c.damage)));
            ASSERT_GT(db->scalarInt(QStringLiteral("SELECT changes()")).value_or(0), 0);
        }
        testing::internal::CaptureStderr();
        SearchEngine engine(*lib.lib);
        EXPECT_EQ(runQuery(engine, q).pages, expected);
        const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_EQ(said.count(QStringLiteral("فهرس الصفحات تالف")), 1) << said.toStdString();
        EXPECT_FALSE(PageIndex::ready(lib.lib->main()));
        // Built again, the index is whole and trusted.
        auto db = SQLiteDB::open(lib.path, false);
        ASSERT_TRUE(db);
        EXPECT_EQ(PageIndex::build(*db), PageIndex::Build::complete);
        testing::internal::CaptureStderr();
        SearchEngine rebuilt(*lib.lib);
        EXPECT_EQ(runQuery(rebuilt, q).pages, expected);
        EXPECT_EQ(QString::fromStdString(testing::internal::GetCapturedStderr()).count(QStringLiteral("تالف")), 0);
    }
}

namespace {

// Pages whose words are written with and without hamza on the alef: «احد»
// never carries one, «أحمد» always does, so «أح*» with hamza respected finds
// only the pages of the second.
QStringList hamzaPages()
{
    QStringList out;
    for (int i = 1; i <= kPages; ++i)
        out << (i % 3 == 0 ? QStringLiteral("قال احد اهل العلم حدثنا مالك")
                           : QStringLiteral("حدثنا أحمد بن حنبل عن ابن عمر قال رسول الله"));
    return out;
}

// Runs `damage` on a library whose index the first check found whole and
// marked, and expects every search of `queries` to answer as the page check
// does; then, when given, `later` after those searches, and again.
void expectNoWrongAnswerAfter(const QString& damage, const QList<SearchQuery>& queries, const QString& later = {})
{
    const SearchLibrary lib = customLibrary({FixtureBook{9, {}, hamzaPages(), {}}});
    ASSERT_TRUE(lib.lib);
    SearchEngine checked(*lib.lib);
    checked.setPageCheckedPath(true);
    QList<QList<SearchHit>> expected;
    for (const SearchQuery& q : queries)
        expected << runQuery(checked, q).pages;
    {
        auto db = SQLiteDB::open(lib.path, false);
        bool marked = false;
        ASSERT_TRUE(db && PageIndex::sampleAgrees(*db, 8, &marked));
        ASSERT_TRUE(marked);
        ASSERT_TRUE(PageIndex::state(*db).whole);
        ASSERT_TRUE(db->exec(damage));
    }
    testing::internal::CaptureStderr();
    SearchEngine engine(*lib.lib);
    for (qsizetype i = 0; i < queries.size(); ++i)
        EXPECT_EQ(runQuery(engine, queries[i]).pages, expected[i]) << "query " << i;
    if (!later.isEmpty()) {
        {
            auto db = SQLiteDB::open(lib.path, false);
            ASSERT_TRUE(db && db->exec(later));
        }
        SearchEngine after(*lib.lib);
        for (qsizetype i = 0; i < queries.size(); ++i)
            EXPECT_EQ(runQuery(after, queries[i]).pages, expected[i]) << "query " << i << " after the later change";
    }
    testing::internal::GetCapturedStderr();
}

} // namespace

TEST(PageIndexDamage, aChangeOfAnyKindAfterTheIndexWasFoundWholeGivesNoWrongResult)
{
    SearchQuery prefix = phrases({QStringLiteral("أح*")});
    prefix.hamza = true;
    SearchQuery plain = phrases({QStringLiteral("احد")});
    SearchQuery matn = phrases({QStringLiteral("حنبل")});
    matn.inHawashi = false;
    const QList<SearchQuery> queries{prefix, plain, matn};
    const struct {
        const char* name;
        const char* damage;
        const char* later = nullptr;
    } cases[] = {
        // «احد» said to be written «أحد» on pages of its own.
        {"an inserted term row", "INSERT INTO page_terms(term, form, rterm, pages) VALUES('احد', 'أحد', 'دحا', 133)"},
        // The forms of pages 2, 22, … 382, none of them sampled, taken out.
        {"deleted full-text rows", nullptr},
        {"a term row added after its trigger was dropped",
         "DROP TRIGGER IF EXISTS page_terms_counted_insert; "
         "INSERT INTO page_terms(term, form, rterm, pages) VALUES('احد', 'أحد', 'دحا', 133)"},
        // Searches between the two: the index is not found whole without its
        // trigger, so the change that keeps every total goes unseen by none.
        {"a trigger dropped, then a term row changed unseen", "DROP TRIGGER IF EXISTS page_terms_counted_update",
         "UPDATE page_terms SET form = 'أحد' WHERE term = 'احد' AND form = 'احد'"},
        {"a trigger replaced by one that counts nothing", "DROP TRIGGER IF EXISTS page_terms_counted_update; "
         "CREATE TRIGGER page_terms_counted_update AFTER UPDATE ON page_terms BEGIN SELECT 1; END",
         "UPDATE page_terms SET form = 'أحد' WHERE term = 'احد' AND form = 'احد'"},
        {"a writer's row left behind",
         "INSERT INTO meta(key, value) VALUES('page_index_writing', '1'); "
         "INSERT INTO page_terms(term, form, rterm, pages) VALUES('احد', 'أحد', 'دحا', 133)"},
        {"a writer's row set and cleared around a change",
         "INSERT INTO meta(key, value) VALUES('page_index_writing', '1'); "
         "INSERT INTO page_terms(term, form, rterm, pages) VALUES('احد', 'أحد', 'دحا', 133); "
         "DELETE FROM meta WHERE key = 'page_index_writing'"},
    };
    QString formsDeleted;
    for (int seq = 2; seq <= kPages; seq += 20) {
        const PageIndex::Columns row = PageIndex::columnsOf(hamzaPages()[seq - 1]);
        formsDeleted += QStringLiteral("INSERT INTO page_forms(page_forms, rowid, matn, hawashi, seam) "
                                       "VALUES('delete', (SELECT id FROM pages WHERE seq = %1), '%2', '%3', '%4');")
                            .arg(seq)
                            .arg(row.matn, row.hawashi, row.seam);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectNoWrongAnswerAfter(c.damage ? QString::fromUtf8(c.damage) : formsDeleted, queries,
                                 QString::fromUtf8(c.later));
    }
}

TEST(PageIndexDamage, segmentsNoSampleReadsAreCheckedBeforeTheMarkIsSet)
{
    const SearchLibrary lib = customLibrary({FixtureBook{9, {}, pages(), {}}});
    ASSERT_TRUE(lib.lib);
    auto db = SQLiteDB::open(lib.path, false);
    ASSERT_TRUE(db);
    // One leaf of the forms' segments lost; the sampled pages' rare words
    // lie on other leaves.
    ASSERT_TRUE(db->run(QStringLiteral("DELETE FROM page_forms_data WHERE id = (SELECT MAX(id) FROM page_forms_data)")));
    ASSERT_TRUE(db->run(QStringLiteral("DELETE FROM meta WHERE key = 'page_index_checked'")));
    EXPECT_FALSE(PageIndex::sampleAgrees(*db));
    EXPECT_FALSE(PageIndex::state(*db).whole);
}

TEST(PageIndexDamage, anIndexMadeBeforeItsTotalsWereKeptIsCalledOlderNotDamaged)
{
    const SearchLibrary lib = customLibrary({FixtureBook{9, {}, pages(), {}}});
    ASSERT_TRUE(lib.lib);
    SearchEngine checked(*lib.lib);
    checked.setPageCheckedPath(true);
    const SearchQuery q = phrases({QStringLiteral("زعفران")});
    const QList<SearchHit> expected = runQuery(checked, q).pages;
    {
        auto db = SQLiteDB::open(lib.path, false);
        ASSERT_TRUE(db && db->run(QStringLiteral(
                              "DELETE FROM meta WHERE key IN ('page_index_term_pages', 'page_index_mark_rows', "
                              "'page_index_checked')")));
    }
    testing::internal::CaptureStderr();
    SearchEngine engine(*lib.lib);
    EXPECT_EQ(runQuery(engine, q).pages, expected);
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_FALSE(said.contains(QStringLiteral("تالف"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("أقدم"))) << said.toStdString();
    // Built again at the next build, as a damaged one would be.
    EXPECT_FALSE(PageIndex::ready(lib.lib->main()));
}
