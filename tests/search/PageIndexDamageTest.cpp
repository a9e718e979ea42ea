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
