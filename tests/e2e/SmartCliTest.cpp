// The scholarly-tools command line through the built executable, over the
// sample release installed with text-reuse data and page vectors.

#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "scholar/Isnad.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <string>

#ifdef QUORVEL_SAMPLE_RELEASE
namespace {

using namespace quorvel;

constexpr int kTimeoutMs = 300000;

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QString err;
    std::optional<Json::Value> json;
};

class SmartCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        const auto store =
            test::SampleStore::shared(QStringLiteral(QUORVEL_SAMPLE_RELEASE), test::SampleStore::withReuse());
        installed = test::SampleStore::copy(store, libdb(), smartDir());
    }
    static void TearDownTestSuite() { delete dir; }
    static QString libdb() { return dir->filePath(QStringLiteral("library.db")); }
    static QString smartDir() { return dir->filePath(QStringLiteral("smart")); }

    // "--smart" and `args` with the given database and vector folder (an
    // empty text leaves the variable unset).
    static CliRun smart(const QStringList& args, const QString& db, const QString& data = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QUORVEL_DB"));
        env.remove(QStringLiteral("QUORVEL_DATA"));
        if (!db.isEmpty())
            env.insert(QStringLiteral("QUORVEL_DB"), db);
        if (!data.isEmpty())
            env.insert(QStringLiteral("QUORVEL_DATA"), data);
        // No library of the user's is ever found or made.
        env.insert(QStringLiteral("QUORVEL_LIBDB"), dir->filePath(QStringLiteral("absent/library.db")));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QUORVEL_BINARY), QStringList{QStringLiteral("--smart")} + args);
        process.waitForFinished(kTimeoutMs);
        CliRun run;
        run.exitCode = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = QString::fromUtf8(process.readAllStandardError());
        run.json = Json::parse(run.out);
        return run;
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline bool installed = false;
};

std::set<std::string> keys(const Json::Value& object)
{
    std::set<std::string> out;
    for (const auto& [key, value] : object.items())
        out.insert(key);
    return out;
}

// Compact, keys sorted at every level, "/" as is: the text is its own reprint.
void expectCanonical(const CliRun& run)
{
    ASSERT_TRUE(run.json) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.out, QByteArray::fromStdString(Json::dump(*run.json)) + '\n');
}

} // namespace

TEST_F(SmartCli, everyToolPrintsExactlyItsKeys)
{
    ASSERT_TRUE(installed);
    auto db = SQLiteDB::open(libdb(), true);
    ASSERT_TRUE(db);
    const QString page = QString::number(*db->scalarInt(
        "SELECT e.page_id FROM isnad_edges e JOIN pages p ON p.id=e.page_id WHERE p.book_id=1 LIMIT 1"));
    const QString narrator = QString::number(*db->scalarInt("SELECT MIN(id) FROM narrators"));
    const QString data = smartDir();
    using Keys = std::set<std::string>;
    struct Case {
        QStringList args;
        Keys top;
        QString list; // the member holding rows, when there is one
        Keys row;
    };
    const QList<Case> cases = {
        {{"semantic", "الصيام", "5"}, {"load_ms", "ms", "results"}, "results", {"page_id", "score"}},
        {{"hybrid", "الصيام", "5"},
         {"load_ms", "ms", "results"},
         "results",
         {"book_id", "book_title", "page_id", "score", "seq", "src"}},
        {{"lexical", "الصيام", "5"}, {"ms", "results"}, "results", {"book_id", "page_id", "rank", "seq", "snip"}},
        {{"related", "صلاة"}, {"load_ms", "ms", "related"}, "related", {"s", "t"}},
        {{"reuse", "200010"},
         {"ms", "results"},
         "results",
         {"author", "book_id", "book_title", "page_id", "page_num", "phrase", "seq", "shared", "vol"}},
        {{"editions", "2"}, {"ms", "results"}, "results", {"author", "book_id", "pct", "title"}},
        {{"isnad", page}, {"chain", "has_isnad", "links", "ms", "narrators"}, "narrators", {"id", "name"}},
        {{"chain", "حدثنا يحيى عن مالك عن نافع عن ابن عمر"}, {"chain", "has_isnad", "ms"}, {}, {}},
        {{"narrator", narrator}, {"ms", "name", "students", "teachers"}, {}, {}},
        {{"morph", "كتبت"}, {"ms", "norm", "pos", "prefix", "root", "stem", "suffix", "word"}, {}, {}},
        {{"genealogy", "الولد للفراش"}, {"edges", "ms", "nodes", "q"}, "nodes",
         {"book_id", "death_year", "page_id", "seq", "snip", "title"}},
        {{"collate", "200010", "3"}, {"ms", "ops", "other", "ratio"}, "ops", {"a", "b", "tag"}},
        {{"conc", "الصلاة"}, {"books", "ms", "norm", "pages", "top"}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const CliRun run = smart(c.args, libdb(), data);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        expectCanonical(run);
        if (!run.json)
            continue;
        EXPECT_EQ(keys(*run.json), c.top);
        EXPECT_TRUE(run.json->at("ms").is_number());
        if (!c.list.isEmpty()) {
            const auto& rows = run.json->at(c.list.toStdString());
            ASSERT_TRUE(rows.is_array());
            EXPECT_FALSE(rows.empty());
            for (const auto& row : rows)
                EXPECT_EQ(keys(row), c.row);
        }
    }
}

// What the command line shows of a page's chains is what the library stores
// for it, on every page of the sample's hadith books: «أبيه» is the father
// filed, and narrators who heard together are each a student of the next.
TEST_F(SmartCli, theLinksItPrintsAreTheLinksTheLibraryStores)
{
    ASSERT_TRUE(installed);
    auto db = SQLiteDB::open(libdb(), true);
    ASSERT_TRUE(db);
    const Isnad::Filing filing(*db);
    using Pairs = std::set<std::pair<std::int64_t, std::int64_t>>;
    int pages = 0;
    QStringList differ;
    for (const auto& row : db->rows(QStringLiteral("SELECT id, content FROM pages WHERE book_id BETWEEN 1 AND 4"))) {
        const std::int64_t id = row.integer(0).value_or(0);
        Pairs stored;
        for (const auto& edge : db->rows(QStringLiteral("SELECT student_id, teacher_id FROM isnad_edges WHERE page_id=?"), {id}))
            stored.insert({edge.integer(0).value_or(0), edge.integer(1).value_or(0)});
        Pairs read;
        const QString content = row.str(1).value_or(QString());
        if (Isnad::hasIsnad(content))
            for (const auto& [student, teacher] : filing.links(content))
                read.insert({student.id, teacher.id});
        pages += !stored.empty();
        if (read != stored)
            differ.append(QString::number(id));
    }
    EXPECT_GT(pages, 3000);
    EXPECT_TRUE(differ.isEmpty()) << differ.size() << ": " << differ.mid(0, 20).join(u' ').toStdString();

    // The command line prints them so: «معاوية بن قرة عن أبيه» links him to قرة.
    const CliRun run = smart({QStringLiteral("isnad"), QStringLiteral("200003")}, libdb());
    ASSERT_TRUE(run.json) << run.err.toStdString();
    Pairs printed;
    bool father = false;
    for (const auto& link : run.json->at("links")) {
        printed.insert({link.at("student_id").get<std::int64_t>(), link.at("teacher_id").get<std::int64_t>()});
        father = father
            || (link.at("student").get<std::string>() == "معاوية بن قرة" && link.at("teacher").get<std::string>() == "قرة");
    }
    Pairs stored;
    for (const auto& edge : db->rows(QStringLiteral("SELECT student_id, teacher_id FROM isnad_edges WHERE page_id=200003")))
        stored.insert({edge.integer(0).value_or(0), edge.integer(1).value_or(0)});
    EXPECT_EQ(printed, stored);
    EXPECT_TRUE(father);

    // Over the hadith books: every page whose text has a verb of telling but
    // no stored chain (a takhrij line's «حدثنا») prints none, and a page in
    // every twenty-five prints exactly what is stored.
    int asked = 0;
    int bare = 0;
    QStringList printedOtherwise;
    for (const auto& row : db->rows(QStringLiteral("SELECT id, content FROM pages WHERE book_id BETWEEN 1 AND 4 ORDER BY id"))) {
        const std::int64_t id = row.integer(0).value_or(0);
        Pairs storedHere;
        for (const auto& edge : db->rows(QStringLiteral("SELECT student_id, teacher_id FROM isnad_edges WHERE page_id=?"), {id}))
            storedHere.insert({edge.integer(0).value_or(0), edge.integer(1).value_or(0)});
        const bool noChain = storedHere.empty() && Isnad::hasIsnad(row.str(1).value_or(QString()));
        if (!noChain && id % 25 != 0)
            continue;
        ++asked;
        bare += noChain;
        const CliRun page = smart({QStringLiteral("isnad"), QString::number(id)}, libdb());
        ASSERT_TRUE(page.json) << id << page.err.toStdString();
        Pairs printedHere;
        for (const auto& link : page.json->at("links"))
            printedHere.insert({link.at("student_id").get<std::int64_t>(), link.at("teacher_id").get<std::int64_t>()});
        const bool has = page.json->at("has_isnad").get<bool>();
        if (printedHere != storedHere || has == storedHere.empty()
            || (storedHere.empty() && !(page.json->at("narrators").empty() && page.json->at("chain").empty())))
            printedOtherwise.append(QString::number(id));
    }
    EXPECT_GT(asked, 150);
    EXPECT_GT(bare, 0);
    EXPECT_TRUE(printedOtherwise.isEmpty()) << printedOtherwise.join(u' ').toStdString();
}

TEST_F(SmartCli, collationAndGenealogyOnTheSample)
{
    ASSERT_TRUE(installed);
    // A hadith page of the first transcription against the second.
    const CliRun twin = smart({"collate", "200051", "3"}, libdb());
    ASSERT_TRUE(twin.json) << twin.err.toStdString();
    ASSERT_TRUE(twin.json->contains("other"));
    EXPECT_EQ(twin.json->at("other").at("book_id"), 3);
    EXPECT_LE(std::abs(twin.json->at("other").at("seq").get<int>() - 51), 3);
    EXPECT_GE(twin.json->at("ratio").get<int>(), 40);
    EXPECT_EQ(keys(twin.json->at("other")), (std::set<std::string>{"book_id", "page_id", "page_num", "seq", "title"}));
    // Against a grammar poem: nothing alike.
    const CliRun poem = smart({"collate", "200051", "11"}, libdb());
    ASSERT_TRUE(poem.json);
    if (poem.json->contains("ratio")) {
        EXPECT_LT(poem.json->at("ratio").get<int>(), 20);
    } else {
        EXPECT_TRUE(poem.json->at("result").is_null());
    }

    const CliRun tree = smart({"genealogy", "الولد للفراش"}, libdb());
    ASSERT_TRUE(tree.json) << tree.err.toStdString();
    std::vector<int> order;
    for (const auto& node : tree.json->at("nodes"))
        order.push_back(node.at("book_id").get<int>());
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), 1);
    auto position = [&](int book) { return std::find(order.begin(), order.end(), book) - order.begin(); };
    for (int later : {2, 3, 4})
        if (position(later) < std::ptrdiff_t(order.size())) {
            EXPECT_LT(position(1), position(later)) << later;
        }
    bool twinsLinked = false;
    for (const auto& edge : tree.json->at("edges")) {
        const int from = edge.at("from"), to = edge.at("to");
        twinsLinked |= (from == 2 && to == 3) || (from == 3 && to == 2);
    }
    // Books 2 and 3 are two editions of one work: neither quotes the other.
    EXPECT_FALSE(twinsLinked);

    const CliRun none = smart({"genealogy", "كلمةلاتوجد"}, libdb());
    EXPECT_EQ(none.exitCode, 0);
    ASSERT_TRUE(none.json);
    EXPECT_EQ(keys(*none.json), (std::set<std::string>{"ms", "result"}));
}

TEST_F(SmartCli, failuresGoToStderrWithStatusTwo)
{
    ASSERT_TRUE(installed);
    auto expectFailure = [](const CliRun& run, const QString& start) {
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith(start)) << run.err.toStdString();
        EXPECT_TRUE(run.err.endsWith(u'\n'));
    };
    const QString usage = QStringLiteral("الاستعمال: --smart <tool> <args>\n");
    expectFailure(smart({}, libdb()), usage);
    EXPECT_EQ(smart({}, libdb()).err.count(u'\n'), 15);
    expectFailure(smart({"nosuchtool"}, libdb()), usage);
    expectFailure(smart({"reuse", "abc"}, libdb()), usage);
    expectFailure(smart({"lexical"}, libdb()), usage);
    expectFailure(smart({"lexical", "الصلاة"}, dir->filePath("missing.db")), QStringLiteral("تعذّر فتح القاعدة\n"));
    // Beside the store there are no vectors: they live in its smart folder.
    expectFailure(smart({"semantic", "الصيام"}, libdb()),
                  QStringLiteral("المتّجهات غير متاحة في ") + dir->path() + u'\n');
    const CliRun hybrid = smart({"hybrid", "الصيام"}, libdb());
    EXPECT_EQ(hybrid.exitCode, 0);
    ASSERT_TRUE(hybrid.json);
    EXPECT_TRUE(hybrid.json->contains("load_ms"));
    // Lexical results alone are said to be so.
    EXPECT_TRUE(hybrid.err.startsWith(QStringLiteral("البحث الهجين بالبحث النصي وحده: المتّجهات غير متاحة في ")))
        << hybrid.err.toStdString();

    // Vectors whose ids name no page of the library: every page id moved.
    const QString moved = dir->filePath(QStringLiteral("moved.db"));
    QFile::remove(moved);
    ASSERT_TRUE(test::SampleStore::copyFile(libdb(), moved));
    QFile::setPermissions(moved, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(SQLiteDB::open(moved, false)->exec(QStringLiteral("UPDATE pages SET id = id + 900000000")));
    expectFailure(smart({"semantic", "الصيام"}, moved, smartDir()),
                  QStringLiteral("متّجهات البحث بالمعنى لا تسمّي صفحة من صفحات هذه المكتبة"));
    const CliRun movedHybrid = smart({"hybrid", "الصيام"}, moved, smartDir());
    EXPECT_EQ(movedHybrid.exitCode, 0) << movedHybrid.err.toStdString();
    EXPECT_TRUE(movedHybrid.err.startsWith(QStringLiteral("البحث الهجين بالبحث النصي وحده: متّجهات البحث بالمعنى لا تسمّي")))
        << movedHybrid.err.toStdString();
    // The library the vectors were built for answers as before, in silence.
    const CliRun own = smart({"semantic", "الصيام"}, libdb(), smartDir());
    EXPECT_EQ(own.exitCode, 0) << own.err.toStdString();
    EXPECT_TRUE(own.err.isEmpty()) << own.err.toStdString();

    // Past the planner's bounds no tool starts on the words.
    const QString longQuery = QStringLiteral("الصلاة ").repeated(129);
    for (const char* tool : {"lexical", "hybrid", "genealogy", "conc"})
        expectFailure(smart({tool, longQuery}, libdb()), QStringLiteral("طلب البحث أطول من المقبول"));

    // The morphology needs no library, and none is made for it.
    const CliRun morph = smart({"morph", "كتبت"}, {});
    EXPECT_EQ(morph.exitCode, 0) << morph.err.toStdString();
    ASSERT_TRUE(morph.json);
    EXPECT_EQ(morph.json->at("norm"), "كتبت");
    EXPECT_FALSE(QFile::exists(dir->filePath("absent/library.db")));
}

TEST_F(SmartCli, aLibraryThatCannotAnswerSaysWhatIsWrongWithStatusOne)
{
    ASSERT_TRUE(installed);
    auto copy = [&](const QString& name) {
        const QString path = dir->filePath(name);
        QFile::remove(path);
        EXPECT_TRUE(test::SampleStore::copyFile(libdb(), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    };
    const QString foreign = dir->filePath(QStringLiteral("foreign.db"));
    ASSERT_TRUE(SQLiteDB::open(foreign, false)->exec(QStringLiteral("CREATE TABLE IF NOT EXISTS notes(x)")));
    const QString empty = dir->filePath(QStringLiteral("empty.db"));
    QFile(empty).open(QIODevice::WriteOnly);
    // The sample installed without its text-reuse data.
    const QString withoutReuse = dir->filePath(QStringLiteral("no-reuse.db"));
    ASSERT_TRUE(test::SampleStore::copy(
        test::SampleStore::shared(QStringLiteral(QUORVEL_SAMPLE_RELEASE), test::SampleStore::whole()), withoutReuse,
        dir->filePath(QStringLiteral("no-reuse-smart"))));
    // The root of the pages table overwritten: the catalogue still reads.
    const QString damaged = copy(QStringLiteral("damaged.db"));
    {
        auto db = SQLiteDB::open(damaged, true);
        const auto root = db->scalarInt(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name='pages'"));
        const auto pageSize = db->scalarInt(QStringLiteral("PRAGMA page_size"));
        ASSERT_TRUE(root && pageSize);
        db.reset();
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek((*root - 1) * *pageSize));
        ASSERT_EQ(file.write(QByteArray(int(*pageSize), '\xa5')), *pageSize);
    }
    const struct {
        QString db;
        QStringList args;
        QString says;
    } cases[] = {
        {foreign, {"lexical", "الصلاة"}, "القاعدة ليست مكتبة كتب"},
        {foreign, {"isnad", "1"}, "القاعدة ليست مكتبة كتب"},
        {empty, {"conc", "الصلاة"}, "القاعدة ليست مكتبة كتب"},
        {empty, {"reuse", "1"}, "القاعدة ليست مكتبة كتب"},
        {withoutReuse, {"reuse", "100001"}, "لا بيانات لمصادر النص"},
        {withoutReuse, {"editions", "1"}, "لا بيانات لمصادر النص"},
        {withoutReuse, {"collate", "100001", "2"}, "لا بيانات لمصادر النص"},
        {withoutReuse, {"genealogy", "الصلاة"}, "لا بيانات لمصادر النص"},
        {damaged, {"isnad", "100001"}, "ملف القاعدة تالف"},
        {damaged, {"lexical", "الصلاة"}, "ملف القاعدة تالف"},
    };
    for (const auto& c : cases) {
        const CliRun run = smart(c.args, c.db);
        EXPECT_EQ(run.exitCode, 1) << c.args.join(u' ').toStdString() << " " << run.out.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith(c.says)) << run.err.toStdString();
    }
}

TEST_F(SmartCli, oddFolderNamesAndLinkedDatabases)
{
    ASSERT_TRUE(installed);
    // A folder whose name would end or escape an unencoded URI.
    const QString odd = dir->filePath(QStringLiteral("a?b#c%20d"));
    ASSERT_TRUE(QDir().mkpath(odd));
    ASSERT_TRUE(test::SampleStore::copyFile(libdb(), odd + "/library-copy.db"));
    ASSERT_TRUE(test::SampleStore::copyFiles(smartDir(), odd));
    const CliRun lexical = smart({"lexical", "الصلاة", "3"}, odd + "/library-copy.db");
    EXPECT_EQ(lexical.exitCode, 0) << lexical.err.toStdString();
    ASSERT_TRUE(lexical.json);
    EXPECT_EQ(lexical.json->at("results").size(), 3u);

    // Through a link elsewhere, the vectors are found beside the real file;
    // k below zero asks for nothing; books keep only the valid ids.
    const QString links = dir->filePath(QStringLiteral("links"));
    ASSERT_TRUE(QDir().mkpath(links));
    ASSERT_TRUE(QFile::link(odd + "/library-copy.db", links + "/linked.db"));
    const CliRun semantic = smart({"semantic", "الصيام", "10", "2,x,,3"}, links + "/linked.db");
    EXPECT_EQ(semantic.exitCode, 0) << semantic.err.toStdString();
    ASSERT_TRUE(semantic.json);
    ASSERT_EQ(semantic.json->at("results").size(), 10u);
    auto db = SQLiteDB::open(libdb(), true);
    for (const auto& row : semantic.json->at("results")) {
        const auto book = db->scalarInt("SELECT book_id FROM pages WHERE id=?", {row.at("page_id").get<std::int64_t>()});
        EXPECT_TRUE(book == 2 || book == 3);
    }
    const CliRun none = smart({"semantic", "الصيام", "-5"}, links + "/linked.db");
    ASSERT_TRUE(none.json);
    EXPECT_TRUE(none.json->at("results").empty());
    const CliRun defaultK = smart({"semantic", "الصيام", "abc"}, links + "/linked.db");
    ASSERT_TRUE(defaultK.json);
    EXPECT_EQ(defaultK.json->at("results").size(), 60u);
}
#endif
