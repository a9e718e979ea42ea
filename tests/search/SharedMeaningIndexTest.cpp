// The shared semantic index and the meaning-based search run over the
// tests/data library, with page vectors laid out by hand so that every
// expected order is known.

#include "SearchFixture.h"

#include "core/Json.h"
#include "core/SQLiteDB.h"
#include "search/NpyArray.h"
#include "search/SharedMeaningIndex.h"
#include "support/FixtureLibrary.h"
#include "support/ScopedEnv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// A page the index holds but the library does not.
constexpr std::int64_t missingPage = 999999;

QByteArray bytesOf(const void* data, size_t size)
{
    return QByteArray(static_cast<const char*>(data), qsizetype(size));
}

// A two-word model in two dimensions (صلاة along x, زكاة along y) and one
// page vector per id, page i at the angle i / 100 from x, so that the lower
// the id the nearer to صلاة. The missing page sits exactly on x.
void writeVectors(const QString& dir, const std::vector<std::int64_t>& pageIds)
{
    const std::vector<float> words = {1, 0, 0, 1};
    ASSERT_TRUE(NpyArray::write(QDir(dir).filePath("wordvec.npy"), NpyArray::floatDescr, {2, 2},
                                bytesOf(words.data(), words.size() * sizeof(float))));
    Json::Value vocab = Json::Value::object();
    vocab["words"] = {"الصلاه", "الزكاه"};
    vocab["freq"] = {3, 2};
    vocab["dim"] = 2;
    ASSERT_TRUE(FixtureLibrary::writeJson(QDir(dir).filePath("vocab.json"), vocab));
    std::vector<std::int64_t> ids = pageIds;
    ids.push_back(missingPage);
    std::vector<float> vecs;
    for (std::int64_t id : ids) {
        const double angle = id == missingPage ? 0.0 : double(id) / 100.0;
        vecs.push_back(float(std::cos(angle)));
        vecs.push_back(float(std::sin(angle)));
    }
    ASSERT_TRUE(NpyArray::write(QDir(dir).filePath("vecs.npy"), NpyArray::floatDescr,
                                {std::int64_t(ids.size()), 2}, bytesOf(vecs.data(), vecs.size() * sizeof(float))));
    ASSERT_TRUE(NpyArray::write(QDir(dir).filePath("vec_ids.npy"), NpyArray::intDescr, {std::int64_t(ids.size())},
                                bytesOf(ids.data(), ids.size() * sizeof(std::int64_t))));
    ASSERT_TRUE(test::stampModel(dir));
}

std::vector<std::int64_t> pageIds(Library& lib)
{
    std::vector<std::int64_t> ids;
    for (const auto& row : lib.main().rows(QStringLiteral("SELECT id FROM pages ORDER BY id")))
        ids.push_back(*row.integer(0));
    return ids;
}

// Each test starts with no shared library and a forgotten index, and leaves so.
class SharedMeaningIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Library::setShared(nullptr);
        SharedMeaningIndex::reset();
    }
    void TearDown() override
    {
        Library::setShared(nullptr);
        SharedMeaningIndex::reset();
    }
};

TEST_F(SharedMeaningIndexTest, noIndexWithoutALibraryOrWhenSwitchedOff)
{
    SearchLibrary corpus = corpusLibrary();
    writeVectors(corpus.dir->path(), pageIds(*corpus.lib));

    EXPECT_FALSE(SharedMeaningIndex::dataDir());
    EXPECT_FALSE(SharedMeaningIndex::index());
    // Not tried without a library: once one is open the index loads.
    Library::setShared(corpus.lib);
    EXPECT_EQ(SharedMeaningIndex::dataDir(), QFileInfo(corpus.path).path());
    {
        ScopedEnv off("QUORVEL_NO_SMART", QString());
        EXPECT_FALSE(SharedMeaningIndex::index());
    }
    const auto index = SharedMeaningIndex::index();
    ASSERT_TRUE(index);
    EXPECT_EQ(index->rows(), qsizetype(pageIds(*corpus.lib).size() + 1));
    EXPECT_EQ(SharedMeaningIndex::index(), index); // loaded once, then shared
}

TEST_F(SharedMeaningIndexTest, aFailedLoadWaitsForResetAndResetLoadsTheNewFiles)
{
    SearchLibrary corpus = corpusLibrary();
    Library::setShared(corpus.lib);
    EXPECT_FALSE(SharedMeaningIndex::index());
    writeVectors(corpus.dir->path(), pageIds(*corpus.lib));
    EXPECT_FALSE(SharedMeaningIndex::index()); // the failed load is remembered
    SharedMeaningIndex::reset();
    const auto first = SharedMeaningIndex::index();
    ASSERT_TRUE(first);

    writeVectors(corpus.dir->path(), {1, 2});
    EXPECT_EQ(SharedMeaningIndex::index(), first);
    SharedMeaningIndex::reset();
    const auto second = SharedMeaningIndex::index();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->ids(), (std::vector<std::int64_t>{1, 2, missingPage}));
    EXPECT_EQ(first->rows(), qsizetype(pageIds(*corpus.lib).size() + 1)); // readers keep theirs
}

TEST_F(SharedMeaningIndexTest, aLinkedDatabaseFindsTheVectorsBesideItsRealFile)
{
    SearchLibrary corpus = corpusLibrary();
    writeVectors(corpus.dir->path(), pageIds(*corpus.lib));
    QTemporaryDir elsewhere;
    QDir(elsewhere.path()).mkpath("links");
    // A relative destination is taken from the link's own folder.
    const QString link = elsewhere.filePath("links/library-link.db");
    ASSERT_TRUE(QFile::link(QDir(elsewhere.filePath("links")).relativeFilePath(corpus.path), link));
    auto linked = Library::open(link);
    ASSERT_TRUE(linked);
    Library::setShared(linked);
    EXPECT_EQ(QFileInfo(*SharedMeaningIndex::dataDir()).canonicalFilePath(), QFileInfo(corpus.dir->path()).canonicalFilePath());
    EXPECT_TRUE(SharedMeaningIndex::index());
}

TEST_F(SharedMeaningIndexTest, aMeaningRunGivesOneScoredBatchThenTheFinalCall)
{
    SearchLibrary corpus = corpusLibrary();
    const std::vector<std::int64_t> ids = pageIds(*corpus.lib);
    writeVectors(corpus.dir->path(), ids);
    Library::setShared(corpus.lib);
    SearchEngine engine(*corpus.lib);

    SearchQuery q;
    q.andPhrases = {QStringLiteral("الصلاة")};
    q.notPhrases = {QStringLiteral("الزكاة")}; // ignored on this path, as titles and notes are
    q.inTitles = true;
    q.inNotes = true;
    q.semantic = true;
    const RunResult r = runQuery(engine, q, 5);
    EXPECT_EQ(r.batchSizes, QList<int>{int(ids.size())}); // no limit; the missing page skipped
    EXPECT_TRUE(r.titles.isEmpty());
    EXPECT_TRUE(r.notes.isEmpty());
    EXPECT_EQ(r.calls, 2);
    EXPECT_TRUE(r.doneLast);
    ASSERT_FALSE(r.pages.isEmpty());
    // Lowest ids first (nearest to صلاة), with their books, sequences and scores.
    EXPECT_EQ(r.pages.first().pageId, ids.front());
    EXPECT_EQ(r.pages.first().bookId, 1);
    EXPECT_EQ(r.pages.first().seq, 1);
    EXPECT_NEAR(r.pages.first().score, std::cos(double(ids.front()) / 100.0), 1e-6);
    for (qsizetype i = 1; i < r.pages.size(); ++i)
        EXPECT_GT(r.pages[i - 1].score, r.pages[i].score);
    EXPECT_FALSE(r.pages.first().snippet);

    // The or-phrases join the text: زكاة pulls the far end of the arc up.
    q.orPhrases = {QStringLiteral("الزكاة")};
    const RunResult both = runQuery(engine, q);
    ASSERT_FALSE(both.pages.isEmpty());
    EXPECT_NE(both.pages.first().pageId, ids.front());

    // A scope of one book keeps its pages only; an empty scope gives one empty list.
    q.orPhrases.clear();
    q.scope = QList<std::int64_t>{2};
    const RunResult book2 = runQuery(engine, q);
    ASSERT_EQ(book2.batchSizes.size(), 1);
    for (const SearchHit& h : book2.pages)
        EXPECT_EQ(h.bookId, 2);
    q.scope = QList<std::int64_t>{};
    QList<QPair<qsizetype, bool>> calls;
    engine.run(q, 20, [&](const QList<SearchHit>& hits, bool done) { calls.append({hits.size(), done}); });
    EXPECT_EQ(calls, (QList<QPair<qsizetype, bool>>{{0, false}, {0, true}}));
}

TEST_F(SharedMeaningIndexTest, aCancelledLookupKeepsTheHitsMadeSoFar)
{
    SearchLibrary corpus = corpusLibrary();
    const std::vector<SemanticIndex::PageScore> pairs = {
        {5, 0.9f}, {missingPage, 0.8f}, {41, 0.7f}, {82, 0.6f}, {3, 0.5f}};
    int asked = 0;
    const QList<SearchHit> hits = SearchEngine::semanticHits(pairs, corpus.lib->main(), [&] { return ++asked > 4; });
    ASSERT_EQ(hits.size(), 3);
    EXPECT_EQ(hits[0], SearchHit(SearchHit::Kind::page, 5, 1, 5, std::nullopt, std::nullopt, std::nullopt, 0.9f));
    EXPECT_EQ(hits[1].pageId, 41);
    EXPECT_EQ(hits[1].bookId, 2);
    EXPECT_EQ(hits[2].pageId, 82);
    EXPECT_EQ(hits[2].bookId, 3);
    EXPECT_EQ(SearchEngine::semanticHits(pairs, corpus.lib->main(), [] { return true; }).size(), 0);
}

TEST_F(SharedMeaningIndexTest, withoutTheIndexAMeaningQueryIsSearchedAsFullText)
{
    SearchLibrary corpus = corpusLibrary();
    writeVectors(corpus.dir->path(), pageIds(*corpus.lib));
    Library::setShared(corpus.lib);
    SearchEngine engine(*corpus.lib);
    SearchQuery q = phrases({QStringLiteral("الصلاة")});
    q.inTitles = true;
    const RunResult words = runQuery(engine, q);
    ASSERT_FALSE(words.pages.isEmpty());

    ScopedEnv off("QUORVEL_NO_SMART", QStringLiteral("1"));
    q.semantic = true;
    const RunResult r = runQuery(engine, q);
    EXPECT_EQ(r.pages, words.pages);
    EXPECT_EQ(r.titles, words.titles);
    for (const SearchHit& h : r.pages)
        EXPECT_EQ(h.score, 0);
}

} // namespace
