// The word-model download and the page-vector build over small hand-made
// models and libraries.

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/Paths.h"
#include "scholar/SmartBuild.h"
#include "scholar/WordCoverage.h"
#include "search/NpyArray.h"
#include "search/SemanticIndex.h"
#include "support/FixtureLibrary.h"
#include "support/CorpusText.h"
#include "support/LoopbackHttpServer.h"

#include <QDir>
#include <QHash>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <limits>
#include <sys/resource.h>

using namespace quorvel;

namespace {

QByteArray floatBytes(const std::vector<float>& values)
{
    return QByteArray(reinterpret_cast<const char*>(values.data()), qsizetype(values.size() * sizeof(float)));
}

// A model of `words` in `dim` dimensions: each word along an axis.
void writeWords(const QString& dir, const QStringList& words, std::int64_t dim, bool withDim = true)
{
    std::vector<float> rows(size_t(words.size() * dim), 0.0f);
    for (qsizetype i = 0; i < words.size(); ++i)
        rows[size_t(i * dim + i % dim)] = 1.0f;
    ASSERT_TRUE(NpyArray::write(QDir(dir).filePath(SmartBuild::wordvecFile), NpyArray::floatDescr,
                                {words.size(), dim}, floatBytes(rows)));
    Json::Value vocab = Json::Value::object();
    vocab["words"] = Json::Value::array();
    for (const QString& w : words)
        vocab["words"].push_back(Json::utf8(w));
    vocab["freq"] = Json::Value::array();
    for (qsizetype i = 0; i < words.size(); ++i)
        vocab["freq"].push_back(10 - 10 * i / words.size());
    if (withDim)
        vocab["dim"] = dim;
    ASSERT_TRUE(test::FixtureLibrary::writeJson(QDir(dir).filePath(SmartBuild::vocabFile), vocab));
}

// A model of three words in `dim` dimensions: each word along its own axis.
void writeModel(const QString& dir, std::int64_t dim, bool withDim = true)
{
    writeWords(dir, {QStringLiteral("صلاه"), QStringLiteral("الفجر"), QStringLiteral("الزكاه")}, dim, withDim);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SmartBuildTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The directory is fixed for the process: every test starts it empty.
        QDir(SmartBuild::dir()).removeRecursively();
        QDir().mkpath(SmartBuild::dir());
        ASSERT_TRUE(libDir.isValid());
    }
    QString file(const QString& name) const { return QDir(SmartBuild::dir()).filePath(name); }
    QStringList leftovers() const
    {
        return QDir(SmartBuild::dir()).entryList({QStringLiteral("*.part-*"), QStringLiteral("*.previous")},
                                                 QDir::Files);
    }
    // A library of the given pages (id, content or NULL), all in book 1.
    QString library(const QString& name, const QStringList& rows)
    {
        QStringList statements;
        for (const QString& row : rows)
            statements << QStringLiteral("INSERT INTO pages(id, book_id, seq, content) VALUES(%1)").arg(row);
        return test::FixtureLibrary::custom(libDir.path(), name, statements);
    }

    QTemporaryDir libDir;
};

TEST_F(SmartBuildTest, theDirectoryIsTheEnvironmentsSmartFolder)
{
    EXPECT_EQ(SmartBuild::dir(), qEnvironmentVariable("QUORVEL_SMARTDIR"));
    EXPECT_FALSE(SmartBuild::hasModel());
    writeModel(SmartBuild::dir(), 4);
    EXPECT_TRUE(SmartBuild::hasModel());
    EXPECT_FALSE(SmartBuild::hasVectors());
}

TEST_F(SmartBuildTest, fetchModelDownloadsOnlyWhatDoesNotMatchAndRefusesAWrongFile)
{
    QTemporaryDir release;
    writeModel(release.path(), 4);
    QFile::rename(QDir(release.path()).filePath(SmartBuild::wordvecFile), QDir(release.path()).filePath("wv-7.npy"));
    QFile::rename(QDir(release.path()).filePath(SmartBuild::vocabFile), QDir(release.path()).filePath("vocab-7.json"));
    const QByteArray wordvec = readAll(QDir(release.path()).filePath("wv-7.npy"));
    const QByteArray vocab = readAll(QDir(release.path()).filePath("vocab-7.json"));
    const SmartBuild::Pack pack{{"wv-7.npy", Dist::sha256(wordvec), wordvec.size()},
                                {"vocab-7.json", Dist::sha256(vocab), vocab.size()}};
    test::LoopbackHttpServer server(release.path());
    ASSERT_TRUE(server.isListening());

    // A fetched pack takes the model's place with the vectors made from it.
    const QString lib = library(QStringLiteral("lib.db"), {QStringLiteral("1, 1, 1, 'صلاة'")});
    SmartBuild::fetchModel(pack, server.url());
    EXPECT_EQ(SmartBuild::buildVectors(lib), 1);
    EXPECT_EQ(readAll(file(SmartBuild::wordvecFile)), wordvec); // stored under the local names
    EXPECT_EQ(readAll(file(SmartBuild::vocabFile)), vocab);
    EXPECT_EQ(server.requests("/wv-7.npy"), 1);
    EXPECT_EQ(server.requests("/vocab-7.json"), 1);

    // Both in place: nothing is fetched again. A changed file is.
    SmartBuild::fetchModel(pack, server.url());
    EXPECT_EQ(server.requests("/wv-7.npy"), 1);
    EXPECT_EQ(server.requests("/vocab-7.json"), 1);
    {
        QFile changed(file(SmartBuild::vocabFile));
        ASSERT_TRUE(changed.open(QIODevice::WriteOnly));
        changed.write("{}");
    }
    SmartBuild::fetchModel(pack, server.url());
    EXPECT_EQ(SmartBuild::buildVectors(lib), 1);
    EXPECT_EQ(server.requests("/wv-7.npy"), 1);
    EXPECT_EQ(server.requests("/vocab-7.json"), 2);
    EXPECT_EQ(readAll(file(SmartBuild::vocabFile)), vocab);

    // A wrong size, then a wrong digest, of the first file, then a size no
    // model file has: refused with the model message, nothing written, the
    // second file not even asked for.
    const struct {
        SmartBuild::FileRef wrong;
        QString message;
    } wrongs[] = {
        {{"wv-7.npy", pack.wordvec.sha256, wordvec.size() - 1}, SmartBuild::msgModelDigest},
        {{"wv-7.npy", Dist::sha256(vocab), wordvec.size()}, SmartBuild::msgModelDigest},
        {{"wv-7.npy", pack.wordvec.sha256, std::numeric_limits<std::int64_t>::max()}, SmartBuild::msgModelTooLarge},
    };
    for (const auto& [wrong, message] : wrongs) {
        QFile::remove(file(SmartBuild::wordvecFile));
        QFile::remove(file(SmartBuild::vocabFile));
        const int vocabRequests = server.requests("/vocab-7.json");
        try {
            SmartBuild::fetchModel({wrong, pack.vocab}, server.url());
            ADD_FAILURE() << "a wrong model file was accepted";
        } catch (const Dist::DistError& e) {
            EXPECT_EQ(e.message(), message);
        }
        EXPECT_FALSE(QFile::exists(file(SmartBuild::wordvecFile)));
        EXPECT_FALSE(QFile::exists(file(SmartBuild::vocabFile)));
        EXPECT_EQ(server.requests("/vocab-7.json"), vocabRequests);
    }
}

TEST_F(SmartBuildTest, buildVectorsRefusesWithoutAModelOrALibrary)
{
    const QString lib = library(QStringLiteral("lib.db"), {QStringLiteral("1, 1, 1, 'صلاه'")});
    try {
        SmartBuild::buildVectors(lib);
        ADD_FAILURE() << "built without a model";
    } catch (const Dist::DistError& e) {
        EXPECT_EQ(e.message(), SmartBuild::msgNoModel);
    }
    writeModel(SmartBuild::dir(), 4);
    const QString notADatabase = libDir.filePath(QStringLiteral("text.db"));
    QFile file(notADatabase);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
    file.close();
    for (const QString& path : {libDir.filePath(QStringLiteral("missing.db")), notADatabase}) {
        try {
            SmartBuild::buildVectors(path);
            ADD_FAILURE() << "built over " << path.toStdString();
        } catch (const Dist::DistError& e) {
            EXPECT_EQ(e.message(), SmartBuild::msgLibraryUnreadable) << path.toStdString();
        }
    }
    EXPECT_FALSE(SmartBuild::hasVectors());
}

TEST_F(SmartBuildTest, emptyAndUnknownPagesKeepTheirRowsAsZeros)
{
    writeModel(SmartBuild::dir(), 4);
    EXPECT_EQ(SmartBuild::buildVectors(library(QStringLiteral("empty.db"), {})), 0);
    auto vecs = NpyArray::open(file(SmartBuild::vecsFile));
    auto ids = NpyArray::open(file(SmartBuild::vecIdsFile));
    ASSERT_TRUE(vecs && ids);
    EXPECT_EQ(vecs->shape(), (QList<std::int64_t>{0, 4}));
    EXPECT_EQ(ids->shape(), QList<std::int64_t>{0});
    EXPECT_EQ(vecs->offset(), 128);

    // Ids out of insertion order come back sorted; a NULL page and a page of
    // unknown words get zero rows.
    const QString lib = library(QStringLiteral("lib.db"),
                                {QStringLiteral("9, 1, 3, 'الزكاة'"), QStringLiteral("2, 1, 1, NULL"),
                                 QStringLiteral("5, 1, 2, 'كلام لا يعرفه النموذج'"),
                                 QStringLiteral("7, 1, 4, 'صلاة الفجر'")});
    EXPECT_EQ(SmartBuild::buildVectors(lib), 4);
    vecs = NpyArray::open(file(SmartBuild::vecsFile));
    ids = NpyArray::open(file(SmartBuild::vecIdsFile));
    ASSERT_TRUE(vecs && ids);
    EXPECT_EQ(*ids->ints(), (std::vector<std::int64_t>{2, 5, 7, 9}));
    const std::vector<float> v = *vecs->floats();
    ASSERT_EQ(v.size(), 16u);
    for (size_t j = 0; j < 8; ++j)
        EXPECT_EQ(v[j], 0.0f) << j;
    // Page 7 mixes its two words by their weights; page 9 is the third axis.
    EXPECT_GT(v[8], 0.0f);
    EXPECT_GT(v[9], 0.0f);
    EXPECT_EQ(v[10], 0.0f);
    EXPECT_NEAR(v[8] * v[8] + v[9] * v[9], 1.0f, 1e-5);
    EXPECT_EQ(v[14], 1.0f);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ').toStdString();

    // The pair loads, and the index finds the prayer page first.
    const auto index = SemanticIndex::load(SmartBuild::dir());
    ASSERT_TRUE(index);
    const auto hits = index->search(QStringLiteral("الفجر"), 2);
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits.front().pageId, 7);
}

TEST_F(SmartBuildTest, progressComesEveryTwoThousandPagesAsAFraction)
{
    writeModel(SmartBuild::dir(), 4);
    const QString lib = test::FixtureLibrary::custom(
        libDir.path(), QStringLiteral("big.db"),
        {QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4500) "
                        "INSERT INTO pages(id, book_id, seq, content) SELECT i, 1, i, 'صلاة' FROM n")});
    std::vector<double> calls;
    EXPECT_EQ(SmartBuild::buildVectors(lib, [&](double f) { calls.push_back(f); }), 4500);
    EXPECT_EQ(calls, (std::vector<double>{2000.0 / 4500.0, 4000.0 / 4500.0}));

    calls.clear();
    const QString small = test::FixtureLibrary::custom(
        libDir.path(), QStringLiteral("small.db"),
        {QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1999) "
                        "INSERT INTO pages(id, book_id, seq, content) SELECT i, 1, i, NULL FROM n")});
    EXPECT_EQ(SmartBuild::buildVectors(small, [&](double f) { calls.push_back(f); }), 1999);
    EXPECT_TRUE(calls.empty());
}

TEST_F(SmartBuildTest, aNewModelOfAnotherWidthRebuildsTheVectors)
{
    const QString lib = library(QStringLiteral("lib.db"), {QStringLiteral("1, 1, 1, 'صلاة'")});
    writeModel(SmartBuild::dir(), 4);
    EXPECT_EQ(SmartBuild::buildVectors(lib), 1);
    ASSERT_TRUE(SemanticIndex::load(SmartBuild::dir()));

    // A crash between the moves of a new pack of the same width: its word
    // vectors in place beside the old vocabulary and page vectors. The widths
    // agree, so only the stamp of the build tells them apart.
    ASSERT_TRUE(NpyArray::write(file(SmartBuild::wordvecFile), NpyArray::floatDescr, {3, 4},
                                floatBytes(std::vector<float>(12, 0.5f))));
    QString why;
    EXPECT_FALSE(SemanticIndex::load(SmartBuild::dir(), &why));
    EXPECT_EQ(why, SemanticIndex::msgOtherModel);
    EXPECT_EQ(SmartBuild::buildVectors(lib), 1);
    EXPECT_TRUE(SemanticIndex::load(SmartBuild::dir()));

    writeModel(SmartBuild::dir(), 3);
    // The old pair is 4 wide and no longer loads with the new model.
    EXPECT_FALSE(SemanticIndex::load(SmartBuild::dir()));
    EXPECT_EQ(SmartBuild::buildVectors(lib), 1);
    const auto index = SemanticIndex::load(SmartBuild::dir());
    ASSERT_TRUE(index);
    EXPECT_EQ(index->dim(), 3);
    EXPECT_EQ(index->rows(), 1);
}

TEST_F(SmartBuildTest, aDamagedPackLeavesTheModelAndVectorsInUse)
{
    const QString lib = library(QStringLiteral("lib.db"), {QStringLiteral("1, 1, 1, 'صلاة الفجر'")});
    writeModel(SmartBuild::dir(), 4);
    ASSERT_EQ(SmartBuild::buildVectors(lib), 1);
    QMap<QString, QByteArray> before;
    for (const QString& name : {SmartBuild::wordvecFile, SmartBuild::vocabFile, SmartBuild::vecsFile, SmartBuild::vecIdsFile})
        before[name] = readAll(file(name));

    const struct {
        const char* name;
        std::function<void(const QString&)> damage;
        QString reason;
    } cases[] = {
        {"truncated", [](const QString& d) {
             QFile f(QDir(d).filePath(SmartBuild::wordvecFile));
             ASSERT_TRUE(f.resize(f.size() - 8));
         }, SemanticIndex::msgFilesUnreadable},
        {"NaN", [](const QString& d) {
             std::vector<float> rows(12, 0.5f);
             rows[5] = std::nanf("");
             ASSERT_TRUE(NpyArray::write(QDir(d).filePath(SmartBuild::wordvecFile), NpyArray::floatDescr, {3, 4},
                                         floatBytes(rows)));
         }, SemanticIndex::msgNonFinite},
        {"wrong shape", [](const QString& d) {
             ASSERT_TRUE(NpyArray::write(QDir(d).filePath(SmartBuild::wordvecFile), NpyArray::floatDescr, {2, 4},
                                         floatBytes(std::vector<float>(8, 0.5f))));
         }, SemanticIndex::msgFilesUnreadable},
        {"zero frequencies", [](const QString& d) {
             Json::Value vocab = *Json::parseFile(QDir(d).filePath(SmartBuild::vocabFile));
             vocab["freq"] = {0, 0, 0};
             ASSERT_TRUE(test::FixtureLibrary::writeJson(QDir(d).filePath(SmartBuild::vocabFile), vocab));
         }, SemanticIndex::msgEmptyModel},
        // Words no page's normal form yields: every meaning search would be empty.
        {"tatweel", [](const QString& d) {
             Json::Value vocab = *Json::parseFile(QDir(d).filePath(SmartBuild::vocabFile));
             vocab["words"] = {"صـلاه", "الفـجر", "الزكـاه"};
             ASSERT_TRUE(test::FixtureLibrary::writeJson(QDir(d).filePath(SmartBuild::vocabFile), vocab));
         }, SmartBuild::msgWordsNotNormal},
    };
    for (const auto& c : cases) {
        QTemporaryDir release;
        writeModel(release.path(), 4);
        c.damage(release.path());
        const QByteArray wordvec = readAll(QDir(release.path()).filePath(SmartBuild::wordvecFile));
        const QByteArray vocab = readAll(QDir(release.path()).filePath(SmartBuild::vocabFile));
        const SmartBuild::Pack pack{{SmartBuild::wordvecFile, Dist::sha256(wordvec), wordvec.size()},
                                    {SmartBuild::vocabFile, Dist::sha256(vocab), vocab.size()}};
        test::LoopbackHttpServer server(release.path());
        ASSERT_TRUE(server.isListening());
        try {
            SmartBuild::fetchModel(pack, server.url());
            SmartBuild::buildVectors(lib);
            ADD_FAILURE() << c.name << ": the pack was taken";
        } catch (const Dist::DistError& e) {
            EXPECT_EQ(e.message(), SmartBuild::msgModelUnloadable + QStringLiteral(": ") + c.reason) << c.name;
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            EXPECT_EQ(readAll(file(it.key())), it.value()) << c.name << ' ' << it.key().toStdString();
        EXPECT_TRUE(SemanticIndex::load(SmartBuild::dir())) << c.name;
        // The model in use still builds.
        EXPECT_EQ(SmartBuild::buildVectors(lib), 1) << c.name;
    }
    // The four files and the stamp of the model the vectors were made with.
    EXPECT_TRUE(QDir(SmartBuild::dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size() == 5)
        << QDir(SmartBuild::dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(u' ').toStdString();
}

TEST_F(SmartBuildTest, aFailedWriteLeavesThePreviousPairLoadable)
{
    writeModel(SmartBuild::dir(), 4);
    EXPECT_EQ(SmartBuild::buildVectors(library(QStringLiteral("one.db"), {QStringLiteral("1, 1, 1, 'صلاة'")})), 1);
    const QByteArray vecsBefore = readAll(file(SmartBuild::vecsFile));
    const QByteArray idsBefore = readAll(file(SmartBuild::vecIdsFile));

    // A file-size limit makes the larger vector stream fail part-way, as a
    // full disk would.
    const QString big = test::FixtureLibrary::custom(
        libDir.path(), QStringLiteral("big.db"),
        {QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                        "INSERT INTO pages(id, book_id, seq, content) SELECT i, 1, i, 'صلاة الفجر' FROM n")});
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 32 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool threw = false;
    try {
        SmartBuild::buildVectors(big);
    } catch (const Dist::PlatformError& e) {
        threw = true;
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("تعذّرت كتابة vecs.npy"))) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);

    EXPECT_EQ(readAll(file(SmartBuild::vecsFile)), vecsBefore);
    EXPECT_EQ(readAll(file(SmartBuild::vecIdsFile)), idsBefore);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ').toStdString();
    const auto index = SemanticIndex::load(SmartBuild::dir());
    ASSERT_TRUE(index);
    EXPECT_EQ(index->ids(), std::vector<std::int64_t>{1});

    // Without the limit the same build goes through.
    EXPECT_EQ(SmartBuild::buildVectors(big), 3000);
}

} // namespace

// A new pack of one real word and 23,999 made-up words in the library's
// normal form loads, but no page reaches its vocabulary: it is refused and
// the model in use keeps serving.
TEST_F(SmartBuildTest, aPackWhoseWordsThePagesDoNotHoldIsRefused)
{
    const QString page = QStringLiteral("'حدثنا مالك عن نافع عن ابن عمر ان رسول الله قال صلاة الجماعة تفضل صلاة الفذ'");
    QStringList rows;
    for (int id = 1; id <= 20; ++id)
        rows << QStringLiteral("%1, 1, %1, ").arg(id) + page;
    const QString lib = library(QStringLiteral("lib.db"), rows);
    const QStringList real = Arabic::normalize(QString(page).remove(u'\''), true).split(u' ');
    writeWords(SmartBuild::dir(), real, 4);
    ASSERT_EQ(SmartBuild::buildVectors(lib), 20);
    QMap<QString, QByteArray> before;
    for (const QString& name : {SmartBuild::wordvecFile, SmartBuild::vocabFile, SmartBuild::vecsFile, SmartBuild::vecIdsFile})
        before[name] = readAll(file(name));

    QStringList madeUp{real.first()};
    const QString letters = QStringLiteral("بتثجحخدذرزسشصضطظعغفقكلمن");
    for (int n = 0; madeUp.size() < 24'000; ++n) {
        QString word = QStringLiteral("ظغ");
        for (int rest = n, digit = 0; digit < 4; ++digit, rest /= int(letters.size()))
            word += letters[rest % letters.size()];
        if (Arabic::normalize(word, true) == word && !real.contains(word))
            madeUp << word;
    }
    QTemporaryDir release;
    writeWords(release.path(), madeUp, 4);
    const QByteArray wordvec = readAll(QDir(release.path()).filePath(SmartBuild::wordvecFile));
    const QByteArray vocab = readAll(QDir(release.path()).filePath(SmartBuild::vocabFile));
    test::LoopbackHttpServer server(release.path());
    ASSERT_TRUE(server.isListening());
    try {
        SmartBuild::fetchModel({{SmartBuild::wordvecFile, Dist::sha256(wordvec), wordvec.size()},
                                {SmartBuild::vocabFile, Dist::sha256(vocab), vocab.size()}},
                               server.url());
        SmartBuild::buildVectors(lib);
        ADD_FAILURE() << "the pack was taken";
    } catch (const Dist::DistError& e) {
        EXPECT_EQ(e.message(), SmartBuild::msgModelUnloadable + QStringLiteral(": ") + SmartBuild::msgWordsMissLibrary);
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_TRUE(readAll(file(it.key())) == it.value()) << it.key().toStdString();
    EXPECT_EQ(SmartBuild::buildVectors(lib), 20);
    const auto index = SemanticIndex::load(SmartBuild::dir());
    ASSERT_TRUE(index);
    EXPECT_FALSE(index->search(QStringLiteral("صلاة الجماعة")).empty());
}

TEST_F(SmartBuildTest, aPackOfTheCommonestWordsIsRefused)
{
    // The pages of a real book, and the hundred words most often on them.
    const QStringList book = test::bookPages(QStringLiteral("../../samples/books/004.json"));
    ASSERT_GE(book.size(), 300);
    QStringList rows;
    QHash<QString, int> counts;
    for (qsizetype i = 0; i < book.size(); ++i) {
        QString quoted = book[i];
        rows << QStringLiteral("%1, 1, %1, '%2'").arg(i + 1).arg(quoted.replace(u'\'', QStringLiteral("''")));
        for (const QString& word : Arabic::normalize(SmartBuild::embeddedText(book[i]), true).split(u' ', Qt::SkipEmptyParts))
            ++counts[word];
    }
    QList<std::pair<int, QString>> ranked;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        ranked.append({-it.value(), it.key()});
    std::sort(ranked.begin(), ranked.end());
    QStringList commonest;
    for (qsizetype i = 0; i < 100; ++i)
        commonest << ranked[i].second;
    const QString lib = library(QStringLiteral("lib.db"), rows);
    writeModel(SmartBuild::dir(), 4);
    ASSERT_EQ(SmartBuild::buildVectors(lib), book.size());
    // Enough of every word read to pass a count of occurrences alone.
    WordCoverage coverage(commonest);
    for (const QString& page : book)
        coverage.see(SmartBuild::embeddedText(page));
    ASSERT_GE(coverage.occurrenceShare(), WordCoverage::leastOccurrences);

    QTemporaryDir release;
    writeWords(release.path(), commonest, 4);
    const QByteArray wordvec = readAll(QDir(release.path()).filePath(SmartBuild::wordvecFile));
    const QByteArray vocab = readAll(QDir(release.path()).filePath(SmartBuild::vocabFile));
    test::LoopbackHttpServer server(release.path());
    ASSERT_TRUE(server.isListening());
    try {
        SmartBuild::fetchModel({{SmartBuild::wordvecFile, Dist::sha256(wordvec), wordvec.size()},
                                {SmartBuild::vocabFile, Dist::sha256(vocab), vocab.size()}},
                               server.url());
        SmartBuild::buildVectors(lib);
        ADD_FAILURE() << "the pack was taken";
    } catch (const Dist::DistError& e) {
        EXPECT_EQ(e.message(), SmartBuild::msgModelUnloadable + QStringLiteral(": ") + SmartBuild::msgWordsMissLibrary);
    }
}
