// The built executable as the distribution tool, on the bundled sample release.

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "scholar/Isnad.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef QUORVEL_SAMPLE_RELEASE
namespace {

constexpr int kTimeoutMs = 300000;

struct ToolRun {
    int exitCode = -1;
    QStringList out;
    QString err;
};

ToolRun runTool(const QStringList& arguments, const QString& libdb)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_LIBDB"), libdb);
    env.insert(QStringLiteral("QUORVEL_SMARTDIR"), QFileInfo(libdb).path() + QStringLiteral("/smart"));
    env.remove(QStringLiteral("QUORVEL_DB"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVEL_BINARY), arguments);
    EXPECT_TRUE(process.waitForStarted());
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(kTimeoutMs));
    ToolRun run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

const QString sample = QStringLiteral(QUORVEL_SAMPLE_RELEASE);

} // namespace

TEST(DistCliProcess, verifiesTheSampleAndRefusesATamperedCopy)
{
    QTemporaryDir dir;
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    const ToolRun ok = runTool({QStringLiteral("--verify-index"), sample}, libdb);
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_EQ(ok.out, QStringList{QStringLiteral("صحيح: الإصدار 1 · 19 كتابا · موقَّع ومطابق")});

    const QString copy = dir.filePath(QStringLiteral("copy"));
    ASSERT_TRUE(quorvel::test::SampleStore::copyFiles(sample, copy));
    QFile index(QDir(copy).filePath(QStringLiteral("index.json")));
    ASSERT_TRUE(index.open(QIODevice::ReadWrite));
    QByteArray bytes = index.readAll();
    bytes.replace("\"public\": true", "\"public\": false");
    index.seek(0);
    index.write(bytes);
    index.close();
    const ToolRun refused = runTool({QStringLiteral("--verify-index"), copy}, libdb);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, QStringList{QStringLiteral("مرفوض: توقيع فهرس الإصدار غير صحيح: رُفض المصدر.")});
    EXPECT_FALSE(QFile::exists(libdb)); // verification never touches the store
}

TEST(DistCliProcess, installsTheWholeSampleIntoTheLocalStore)
{
    // The install the tests share is this one ("--dist-install" of the
    // sample into a new store), made once by the same executable: its store
    // is copied here with what it printed.
    QTemporaryDir dir;
    const QString libdb = dir.filePath(QStringLiteral("library.db"));
    const auto store = quorvel::test::SampleStore::shared(sample, quorvel::test::SampleStore::whole());
    ToolRun run;
    run.exitCode = quorvel::test::SampleStore::copy(store, libdb, dir.filePath(QStringLiteral("smart"))) ? 0 : 1;
    run.out = store.out;
    run.err = store.err;
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    // The summary, then the line of the word model and vectors the sample carries.
    ASSERT_EQ(run.out.size(), 2) << run.out.join(u'\n').toStdString();
    const auto m = QRegularExpression(QStringLiteral("^ثُبّت 19 كتابا في \\d+\\.\\ds · رواة (\\d+) · حوافّ (\\d+) · بصمات 0$"))
                       .match(run.out.first());
    ASSERT_TRUE(m.hasMatch()) << run.out.first().toStdString();

    auto db = quorvel::SQLiteDB::open(libdb, true);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM installed")), 19);
    EXPECT_EQ(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM narrators")), m.captured(1).toLongLong());
    EXPECT_EQ(db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM isnad_edges")), m.captured(2).toLongLong());

    // Every narrator of a page's links is one its filed chains name, under the
    // spelling that merging duplicates kept or the man a fallback was merged into.
    const quorvel::Isnad::Filing filing(*db);
    const auto pages = db->rows(QStringLiteral(
        "SELECT p.content, group_concat(n.id, '|') FROM pages p JOIN isnad_edges e ON e.page_id=p.id "
        "JOIN narrators n ON n.id IN (e.student_id, e.teacher_id) WHERE p.book_id=1 GROUP BY p.id LIMIT 50"));
    ASSERT_FALSE(pages.isEmpty());
    for (const auto& page : pages) {
        QSet<std::int64_t> chain;
        for (const auto& route : quorvel::Isnad::filedChains(*page.str(0)))
            for (const QStringList& place : route)
                for (const QString& name : place)
                    if (const auto filed = filing.of(name))
                        chain.insert(filed->id);
        for (const QString& id : page.str(1)->split(u'|'))
            EXPECT_TRUE(chain.contains(id.toLongLong())) << id.toStdString();
    }

    // The search tool finds a real phrase of the sample in the installed store.
    QProcess search;
    search.start(QStringLiteral(QUORVEL_BINARY),
                 {QStringLiteral("--search-cli"), QStringLiteral("--db"), libdb, QStringLiteral("--q"),
                  QStringLiteral(R"({"andPhrases":["وقوت الصلاة"]})")});
    ASSERT_TRUE(search.waitForFinished(kTimeoutMs));
    const auto line = quorvel::Json::parse(search.readAllStandardOutput().split('\n').first());
    ASSERT_TRUE(line && line->contains("count")) << search.readAllStandardError().toStdString();
    EXPECT_GT(line->at("count").get<int>(), 0);

    // Each author keeps the full name the release's catalogue carries.
    const auto catalogue = quorvel::Json::parseFile(QDir(sample).filePath(QStringLiteral("catalog-1.json")));
    ASSERT_TRUE(catalogue);
    const auto fullNamesKept = [&] {
        int named = 0;
        for (const auto& author : catalogue->at("authors")) {
            const auto fullName = quorvel::Json::strictString(author, "full_name");
            if (!fullName)
                continue;
            ++named;
            const auto rows = db->rows(QStringLiteral("SELECT full_name FROM authors WHERE id=?"),
                                       {author.at("id").get<std::int64_t>()});
            EXPECT_EQ(rows.isEmpty() ? std::nullopt : rows.first().str(0), fullName);
        }
        EXPECT_GT(named, 0);
    };
    fullNamesKept();
    db.reset();
    // A few books, one of them rich in chains, stand for the whole release:
    // replacing all eighteen takes a minute beside other tests.
    const QString replaced = QStringLiteral("1,8,11");
    quorvel::SQLiteDB::open(libdb, false)->run(QStringLiteral(
        "UPDATE authors SET full_name=NULL WHERE id IN (SELECT author_id FROM books WHERE id IN (%1))").arg(replaced));

    // A second run with the same release replaces the books, fills the names in
    // again and ends with the same store.
    const ToolRun again = runTool({QStringLiteral("--dist-install"), sample, replaced}, libdb);
    EXPECT_EQ(again.exitCode, 0);
    ASSERT_EQ(again.out.size(), 2);
    EXPECT_TRUE(again.out.first().endsWith(run.out.first().mid(run.out.first().indexOf(QStringLiteral(" · رواة ")))));
    db = quorvel::SQLiteDB::open(libdb, true);
    ASSERT_TRUE(db);
    fullNamesKept();
}
#endif
