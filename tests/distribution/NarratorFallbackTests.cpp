// The store's merge of kin-word fallbacks into the man the library names.

#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

QStringList storedEdges(SQLiteDB& db)
{
    QStringList out;
    for (const auto& row : db.rows(QStringLiteral(
             "SELECT s.name, t.name FROM isnad_edges e JOIN narrators s ON s.id=e.student_id "
             "JOIN narrators t ON t.id=e.teacher_id ORDER BY e.rowid")))
        out.append(row.str(0).value_or(QString()) + QStringLiteral(" > ") + row.str(1).value_or(QString()));
    return out;
}

} // namespace

// «سهيل عن أبيه» on one page and «سهيل بن أبي صالح» on another: one father,
// أبو صالح, and no «والد سهيل» beside him. «سالم» has two fathers in the
// library, so his stays unnamed.
TEST(NarratorFallback, aFallbackTheLibraryNamesIsFiledUnderTheManNamed)
{
    QTemporaryDir dir;
    auto store = LocalStore::open(dir.filePath(QStringLiteral("library.db")));
    ASSERT_TRUE(store);
    SQLiteDB& db = store->db();
    ASSERT_TRUE(db.exec(QStringLiteral(
        "INSERT INTO narrators(id, name) VALUES(1,'علي'),(2,'سهيل'),(3,'والد سهيل'),(4,'أبو هريرة'),"
        "(5,'سهيل بن أبي صالح'),(6,'أبو صالح'),(7,'سالم'),(8,'والد سالم'),(9,'سالم بن عبد الله'),"
        "(10,'سالم بن أبي الجعد'),(11,'عبد الله');"
        "INSERT INTO isnad_edges VALUES(1,2,1,1),(2,3,1,1),(3,4,1,1),(5,6,1,2),(6,4,1,2),(7,8,1,3);")));
    ASSERT_TRUE(store->dedupNarrators());
    EXPECT_FALSE(db.scalarInt(QStringLiteral("SELECT 1 FROM narrators WHERE name='والد سهيل'")).has_value());
    EXPECT_EQ(storedEdges(db), (QStringList{QStringLiteral("علي > سهيل"), QStringLiteral("سهيل > أبو صالح"),
                                            QStringLiteral("أبو صالح > أبو هريرة"),
                                            QStringLiteral("سهيل بن أبي صالح > أبو صالح"),
                                            QStringLiteral("أبو صالح > أبو هريرة"),
                                            QStringLiteral("سالم > والد سالم")}));
}
