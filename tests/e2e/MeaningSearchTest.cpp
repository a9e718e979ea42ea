// The meaning-based search end to end: the sample release installed by the
// built executable with its word model, the vectors rebuilt, searched through
// the search tool, and the quality of the sample model on real questions.

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Paths.h"
#include "core/SQLiteDB.h"
#include "search/SearchEngine.h"
#include "search/SharedMeaningIndex.h"
#include "support/SampleStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef QUORVEL_SAMPLE_RELEASE
namespace {

using namespace quorvel;

constexpr int kTimeoutMs = 300000;

struct ToolRun {
    int exitCode = -1;
    QStringList out;
    QString err;
};

// The built executable with the library and the smart folder given; the
// smart folder is this process's own, so the index loaded here is the one the
// tool built.
ToolRun runTool(const QStringList& arguments, const QString& libdb)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_LIBDB"), libdb);
    env.insert(QStringLiteral("QUORVEL_SMARTDIR"), Paths::smartDir());
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

// One installed sample for the whole suite, with its word model: a copy of
// the store the built executable installed for all the tests, with what the
// install printed.
class MeaningSearch : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        libdb = dir->filePath(QStringLiteral("library.db"));
        const auto store = test::SampleStore::shared(sample, test::SampleStore::whole());
        install = new ToolRun;
        install->exitCode = test::SampleStore::copy(store, libdb, Paths::smartDir()) ? 0 : 1;
        install->out = store.out;
        install->err = store.err;
    }
    static void TearDownTestSuite()
    {
        Library::setShared(nullptr);
        SharedMeaningIndex::reset();
        delete install;
        delete dir;
    }
    // The installed library as the shared one, and the meaning index over it.
    static std::shared_ptr<const SemanticIndex> openIndex()
    {
        if (!Library::shared())
            Library::setShared(Library::open(libdb));
        return SharedMeaningIndex::index();
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline QString libdb;
    static inline ToolRun* install = nullptr;
};

// How many of the words nearest to `word` lie in `expected`.
int relatedIn(const SemanticIndex& index, const QString& word, const QStringList& expected)
{
    QSet<QString> wanted;
    for (const QString& w : expected)
        wanted.insert(Arabic::normalize(w, true));
    int found = 0;
    QStringList got;
    for (const auto& r : index.related(word, 10)) {
        got << r.word;
        found += wanted.contains(r.word) ? 1 : 0;
    }
    std::printf("related %s: %s\n", word.toUtf8().constData(), got.join(u' ').toUtf8().constData());
    return found;
}

TEST_F(MeaningSearch, installFetchesTheModelAndBuildsTheVectors)
{
    ASSERT_EQ(install->exitCode, 0) << install->err.toStdString();
    ASSERT_EQ(install->out.size(), 2) << install->out.join(u'\n').toStdString();
    const auto line = QRegularExpression(QStringLiteral("^متّجهات البحث بالمعنى: (\\d+) (\\S+) في \\d+\\.\\ds$"))
                          .match(install->out[1]);
    ASSERT_TRUE(line.hasMatch()) << install->out[1].toStdString();
    auto db = SQLiteDB::open(libdb, true);
    ASSERT_TRUE(db);
    const std::int64_t pages = *db->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages"));
    EXPECT_EQ(line.captured(1).toLongLong(), pages);
    EXPECT_EQ(line.captured(2), CountedNoun::pages().form(pages)); // "صفحات" for most counts
    for (const char* name : {"wordvec.npy", "vocab.json", "vecs.npy", "vec_ids.npy"})
        EXPECT_TRUE(QFile::exists(QDir(Paths::smartDir()).filePath(QLatin1String(name)))) << name;

    // A rebuild on its own gives the same count.
    const ToolRun rebuilt = runTool({QStringLiteral("--build-vectors")}, libdb);
    EXPECT_EQ(rebuilt.exitCode, 0) << rebuilt.err.toStdString();
    ASSERT_EQ(rebuilt.out.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^متّجهات: %1 %2 في \\d+\\.\\ds$").arg(pages).arg(CountedNoun::pages().form(pages)))
                    .match(rebuilt.out.first())
                    .hasMatch())
        << rebuilt.out.first().toStdString();

    // An empty database is refused in words alone, with no statement's raw
    // error before them.
    const QString empty = dir->filePath(QStringLiteral("empty.db"));
    ASSERT_TRUE(QFile(empty).open(QIODevice::WriteOnly));
    const ToolRun onEmpty = runTool({QStringLiteral("--build-vectors")}, empty);
    EXPECT_EQ(onEmpty.exitCode, 1);
    EXPECT_TRUE(onEmpty.out.isEmpty());
    EXPECT_EQ(onEmpty.err, QStringLiteral("تعذّرت قراءة صفحات المكتبة لبناء المتّجهات\n"));
}

TEST_F(MeaningSearch, theSearchToolAnswersAMeaningQueryWithThreeHundredPages)
{
    ASSERT_EQ(install->exitCode, 0);
    QProcess search;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_SMARTDIR"), Paths::smartDir());
    search.setProcessEnvironment(env);
    auto count = [&](const QString& query) {
        search.start(QStringLiteral(QUORVEL_BINARY),
                     {QStringLiteral("--search-cli"), QStringLiteral("--db"), libdb, QStringLiteral("--q"), query});
        EXPECT_TRUE(search.waitForFinished(kTimeoutMs));
        const auto line = Json::parse(search.readAllStandardOutput().split('\n').first());
        EXPECT_TRUE(line && line->contains("count")) << search.readAllStandardError().toStdString();
        return line && line->contains("count") ? line->at("count").get<int>() : -1;
    };
    EXPECT_EQ(count(QStringLiteral(R"({"andPhrases":["الصيام"],"semantic":true})")), 300);
    // The same words by their letters find far fewer pages.
    const int words = count(QStringLiteral(R"({"andPhrases":["الصيام"]})"));
    EXPECT_GT(words, 0);
    EXPECT_LT(words, 300);
}

TEST_F(MeaningSearch, relatedWordsOfTheSampleModelStayOnTheirSubject)
{
    const auto index = openIndex();
    ASSERT_TRUE(index);
    EXPECT_GE(relatedIn(*index, QStringLiteral("صلاة"),
                        {"الصبح", "الفجر", "الظهر", "العصر", "المغرب", "العشاء", "ركعتين", "يصلي", "المكتوبه",
                         "الصلاه"}),
              3);
    EXPECT_GE(relatedIn(*index, QStringLiteral("زكاة"),
                        {"الزكاه", "زكاته", "صدقه", "الصدقه", "المال", "الفطر", "العشر", "اوسق", "الحبوب", "للتجاره",
                         "الابل", "الغنم", "الذهب", "نصاب", "الحول", "اموالهم"}),
              3);
    EXPECT_GE(relatedIn(*index, QStringLiteral("حديث"),
                        {"الحديث", "روي", "رواه", "اسناد", "اسناده", "حسن", "صحيح", "غريب", "ضعيف", "مرسل",
                         "حديثا", "الترمذي", "مسلم", "البخاري", "روايه"}),
              3);
}

TEST_F(MeaningSearch, meaningFindsFastingPagesTheWordsMiss)
{
    const auto index = openIndex();
    ASSERT_TRUE(index);
    auto lib = Library::shared();
    SearchEngine engine(*lib);
    SearchQuery q;
    q.andPhrases = {QStringLiteral("الصيام")};
    q.inNotes = false;
    QSet<std::int64_t> byWords;
    engine.run(q, 100000, [&](const QList<SearchHit>& hits, bool) {
        for (const SearchHit& h : hits)
            byWords.insert(h.pageId);
    });
    ASSERT_FALSE(byWords.isEmpty());

    const QSet<QString> fasting = {"صوم", "الصوم", "صام", "يصوم", "صيام", "صائم", "الصائم", "صائما", "رمضان",
                                   "افطر", "يفطر", "الفطر", "السحور", "تسحروا", "صاموا", "فليصم", "اعتكف"};
    int missedAndFasting = 0;
    for (const auto& hit : index->search(QStringLiteral("الصيام"), 20)) {
        if (byWords.contains(hit.pageId))
            continue;
        const auto text = lib->main().rows(QStringLiteral("SELECT content FROM pages WHERE id=?"), {hit.pageId});
        ASSERT_EQ(text.size(), 1);
        for (const QString& w : Arabic::normalize(*text.first().str(0), true).split(u' ', Qt::SkipEmptyParts)) {
            if (fasting.contains(w)) {
                ++missedAndFasting;
                break;
            }
        }
    }
    EXPECT_GE(missedAndFasting, 1);
}

TEST_F(MeaningSearch, aReleaseWithAChangedModelByteIsRefused)
{
    ASSERT_EQ(install->exitCode, 0);
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("release"));
    QDir().mkpath(copy);
    for (const QString& name : QDir(sample).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(QDir(sample).filePath(name), QDir(copy).filePath(name)));
    QFile model(QDir(copy).filePath(QStringLiteral("wordvec.npy")));
    ASSERT_TRUE(model.open(QIODevice::ReadWrite));
    model.seek(model.size() / 2);
    char byte = 0;
    model.getChar(&byte);
    model.seek(model.size() / 2);
    model.putChar(char(byte ^ 1));
    model.close();

    // Its own store and smart folder: the installed model must not match.
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_LIBDB"), copyDir.filePath(QStringLiteral("library.db")));
    env.insert(QStringLiteral("QUORVEL_SMARTDIR"), copyDir.filePath(QStringLiteral("smart")));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVEL_BINARY), {QStringLiteral("--dist-install"), copy, QStringLiteral("16")});
    ASSERT_TRUE(process.waitForFinished(kTimeoutMs));
    EXPECT_EQ(process.exitCode(), 1);
    const QStringList out = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(out.isEmpty());
    EXPECT_EQ(out.last(), QStringLiteral("فشل: بصمة نموذج الكلمات لا تطابق."));
    EXPECT_FALSE(QFile::exists(copyDir.filePath(QStringLiteral("smart/wordvec.npy"))));
}

} // namespace
#endif
