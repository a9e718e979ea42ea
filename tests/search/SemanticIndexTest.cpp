#include "search/SemanticIndex.h"

#include "SearchFixture.h"

#include "core/Json.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "search/NpyArray.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <random>

using namespace quorvel;

namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

QByteArray bytesOf(const void* p, size_t n) { return QByteArray(static_cast<const char*>(p), qsizetype(n)); }

// A small word model and page matrix, written into a directory as the four
// files of the smart data directory.
struct Model
{
    int dim = 8;
    QStringList words;
    Json::Value freq = Json::Value::array();
    std::vector<float> wordVecs; // words × dim
    std::vector<float> pages;    // ids × dim
    std::vector<std::int64_t> ids;
    bool stamped = true; // the builder's stamp written beside the files

    // `n` three-letter words that normalisation leaves as they are and that
    // are no stop words, random vectors and frequencies from a fixed seed.
    static Model generated(int n = 50, int pageCount = 0)
    {
        Model m;
        const QString letters = u(u"بتثجحخدرزسشصضطظعغفقكلمن");
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> value(-1, 1);
        for (int i = 0; m.words.size() < n; ++i) {
            QString w = QString(letters[i % letters.size()]) + letters[(i / 3 + 5) % letters.size()]
                        + letters[(i * 7 + 2) % letters.size()];
            if (m.words.contains(w) || SemanticIndex::stop().contains(Py::key(w)))
                continue;
            m.words.append(w);
            m.freq.push_back(1 + (i * 37) % 101);
        }
        m.wordVecs.resize(size_t(n * m.dim));
        for (float& x : m.wordVecs)
            x = value(rng);
        for (int p = 0; p < pageCount; ++p) {
            m.ids.push_back(100 + 3 * p);
            for (int j = 0; j < m.dim; ++j)
                m.pages.push_back(value(rng));
        }
        return m;
    }

    const float* row(int i) const { return wordVecs.data() + i * dim; }

    void write(const QString& dir, const QString& vecsDescr = NpyArray::floatDescr) const
    {
        Json::Value vocab = Json::Value::object();
        vocab["words"] = Json::toJson(words);
        vocab["freq"] = freq;
        vocab["dim"] = dim;
        QFile f(dir + QStringLiteral("/vocab.json"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Json::dumpBytes(vocab));
        f.close();
        ASSERT_TRUE(NpyArray::write(dir + QStringLiteral("/wordvec.npy"), NpyArray::floatDescr,
                                    {words.size(), dim}, bytesOf(wordVecs.data(), wordVecs.size() * 4)));
        ASSERT_TRUE(NpyArray::write(dir + QStringLiteral("/vecs.npy"), vecsDescr,
                                    {std::int64_t(ids.size()), dim}, bytesOf(pages.data(), pages.size() * 4)));
        ASSERT_TRUE(NpyArray::write(dir + QStringLiteral("/vec_ids.npy"), NpyArray::intDescr,
                                    {std::int64_t(ids.size())}, bytesOf(ids.data(), ids.size() * 8)));
        QFile::remove(dir + QStringLiteral("/") + SemanticIndex::modelStampFile);
        if (stamped) {
            ASSERT_TRUE(test::stampModel(dir));
        }
    }
};

class SemanticIndexTest : public ::testing::Test
{
protected:
    std::shared_ptr<const SemanticIndex> load(const Model& m)
    {
        m.write(dir.path());
        return SemanticIndex::load(dir.path());
    }

    QTemporaryDir dir;
};

// SIF weight and unit length, in double, as a reference for embed.
std::vector<double> referenceEmbedding(const Model& m, const QList<int>& rows)
{
    double total = 0;
    for (const auto& f : m.freq)
        total += f.get<double>();
    std::vector<double> v(size_t(m.dim), 0.0);
    double weights = 0;
    for (int r : rows) {
        const double w = SemanticIndex::sifA / (m.freq[size_t(r)].get<double>() / total + SemanticIndex::sifA);
        for (int j = 0; j < m.dim; ++j)
            v[size_t(j)] += w * m.row(r)[j];
        weights += w;
    }
    double norm = 0;
    for (double& x : v) {
        x /= weights;
        norm += x * x;
    }
    for (double& x : v)
        x /= std::sqrt(norm);
    return v;
}

TEST_F(SemanticIndexTest, embedsOneWordAsItsUnitVectorWhateverTheRepetition)
{
    const Model m = Model::generated();
    const auto index = load(m);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->dim(), 8);
    EXPECT_EQ(index->words(), m.words);

    const auto once = index->embed(m.words[4]);
    ASSERT_TRUE(once);
    const auto expected = referenceEmbedding(m, {4});
    for (int j = 0; j < m.dim; ++j)
        EXPECT_NEAR((*once)[size_t(j)], expected[size_t(j)], 1e-6);
    const auto thrice = index->embed(m.words[4] + u(u" \u0640") + m.words[4] + u(u"  ") + m.words[4]);
    ASSERT_TRUE(thrice);
    for (int j = 0; j < m.dim; ++j)
        EXPECT_NEAR((*thrice)[size_t(j)], (*once)[size_t(j)], 1e-6);

    const auto mixed = index->embed(m.words[1] + u(u" غريبة ") + m.words[30]);
    ASSERT_TRUE(mixed);
    const auto mixedExpected = referenceEmbedding(m, {1, 30});
    for (int j = 0; j < m.dim; ++j)
        EXPECT_NEAR((*mixed)[size_t(j)], mixedExpected[size_t(j)], 1e-5);

    EXPECT_FALSE(index->embed(QString()));
    EXPECT_FALSE(index->embed(u(u"كلمات غريبة تماما")));
    EXPECT_TRUE(index->search(u(u"كلمات غريبة")).empty());
}

TEST_F(SemanticIndexTest, loadRefusesInconsistentDirectories)
{
    Model m = Model::generated(50, 5);
    ASSERT_TRUE(load(m));

    auto withVocab = [&](const std::function<void(Json::Value&)>& change) {
        m.write(dir.path());
        Json::Value vocab = *Json::parseFile(dir.filePath(QStringLiteral("vocab.json")));
        change(vocab);
        QFile f(dir.filePath(QStringLiteral("vocab.json")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Json::dumpBytes(vocab));
        f.close();
        EXPECT_TRUE(test::stampModel(dir.path())); // the vocabulary is changed, not the model it names
        return SemanticIndex::load(dir.path());
    };
    EXPECT_FALSE(withVocab([](Json::Value& v) { v["dim"] = 8.0; }));
    EXPECT_FALSE(withVocab([](Json::Value& v) { v.erase("freq"); }));
    EXPECT_FALSE(withVocab([](Json::Value& v) { v["words"][3] = 3; }));
    EXPECT_FALSE(withVocab([](Json::Value& v) { v["dim"] = 9; }));
    EXPECT_FALSE(withVocab([](Json::Value& v) { v["words"].push_back("extra"); }));
    // A non-numeric frequency counts as 0.
    EXPECT_TRUE(withVocab([](Json::Value& v) { v["freq"][0] = "many"; }));

    m.write(dir.path());
    ASSERT_TRUE(NpyArray::write(dir.filePath(QStringLiteral("vec_ids.npy")), NpyArray::intDescr, {4},
                                bytesOf(m.ids.data(), 32)));
    EXPECT_FALSE(SemanticIndex::load(dir.path()));
    m.write(dir.path());
    QFile::remove(dir.filePath(QStringLiteral("wordvec.npy")));
    EXPECT_FALSE(SemanticIndex::load(dir.path()));

}

TEST_F(SemanticIndexTest, emptyNonFiniteAndShortFilesAreRefusedWithTheirReason)
{
    const struct {
        const char* name;
        std::function<void(Model&)> damage;
        QString reason;
    } cases[] = {
        {"NaN word vector", [](Model& m) { m.wordVecs[7] = std::nanf(""); }, SemanticIndex::msgNonFinite},
        {"infinite page vector", [](Model& m) { m.pages[3] = -INFINITY; }, SemanticIndex::msgNonFinite},
        {"NaN page vector", [](Model& m) { m.pages.back() = std::nanf(""); }, SemanticIndex::msgNonFinite},
        {"zero frequencies", [](Model& m) { for (auto& f : m.freq) f = 0; }, SemanticIndex::msgEmptyModel},
        {"negative frequency", [](Model& m) { m.freq[4] = -2; }, SemanticIndex::msgNonFinite},
        {"no words", [](Model& m) { m.words.clear(); m.wordVecs.clear(); }, SemanticIndex::msgEmptyModel},
        {"zero width", [](Model& m) { m.dim = 0; m.wordVecs.clear(); m.pages.clear(); }, SemanticIndex::msgEmptyModel},
        {"short page file", [](Model& m) { m.pages.resize(m.pages.size() - 2); }, SemanticIndex::msgFilesUnreadable},
        {"no model stamp", [](Model& m) { m.stamped = false; }, SemanticIndex::msgNoModelStamp},
        {"zero page vectors", [](Model& m) { std::fill(m.pages.begin(), m.pages.end(), 0.0f); },
         SemanticIndex::msgZeroVectors},
        {"zero word vectors", [](Model& m) { std::fill(m.wordVecs.begin(), m.wordVecs.end(), 0.0f); },
         SemanticIndex::msgZeroVectors},
        {"a page twice", [](Model& m) { m.ids[4] = m.ids[1]; }, SemanticIndex::msgRepeatedPages},
    };
    for (const auto& c : cases) {
        Model m = Model::generated(50, 5);
        c.damage(m);
        QString why;
        m.write(dir.path());
        EXPECT_FALSE(SemanticIndex::load(dir.path(), &why)) << c.name;
        EXPECT_EQ(why, c.reason) << c.name;
    }
    // Pages of another type are refused too: they would all score nothing.
    Model m = Model::generated(50, 5);
    m.write(dir.path(), QStringLiteral("<f8"));
    EXPECT_FALSE(SemanticIndex::load(dir.path()));
}

TEST_F(SemanticIndexTest, pipesDevicesAndOversizedVocabulariesAreRefusedUnread)
{
    const Model m = Model::generated(50, 5);
    const QString vocab = dir.filePath(QStringLiteral("vocab.json"));
    const std::function<void(const QString&)> damages[] = {
        [](const QString& path) { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); },
        [](const QString& path) { ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path)); },
    };
    for (const char* name : {"vocab.json", "wordvec.npy", "vecs.npy", "vec_ids.npy"}) {
        for (const auto& damage : damages) {
            m.write(dir.path());
            const QString path = dir.filePath(QString::fromUtf8(name));
            QFile::remove(path);
            damage(path);
            EXPECT_FALSE(SemanticIndex::load(dir.path())) << name;
            QFile::remove(path);
        }
    }
    // A pipe where the model's stamp belongs is unreadable, not another model.
    m.write(dir.path());
    const QString stamp = dir.filePath(SemanticIndex::modelStampFile);
    QFile::remove(stamp);
    ASSERT_EQ(::mkfifo(QFile::encodeName(stamp).constData(), 0600), 0);
    QString why;
    EXPECT_FALSE(SemanticIndex::load(dir.path(), &why));
    EXPECT_EQ(why, SemanticIndex::msgFilesUnreadable);
    QFile::remove(stamp);

    // Valid JSON, but far more than 50 words can take.
    m.write(dir.path());
    QFile f(vocab);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray padded = f.readAll() + QByteArray(200 * 1024, ' ');
    f.close();
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(padded);
    f.close();
    EXPECT_FALSE(SemanticIndex::load(dir.path()));
}

TEST_F(SemanticIndexTest, similaritiesMatchAPlainLoop)
{
    Model m = Model::generated(50, 300);
    const auto index = load(m);
    ASSERT_TRUE(index);
    const auto q = index->embed(m.words[2] + u' ' + m.words[9]);
    ASSERT_TRUE(q);
    const auto scores = index->similarities(*q);
    ASSERT_EQ(scores.size(), 300u);
    for (int r = 0; r < 300; ++r) {
        double s = 0;
        for (int j = 0; j < m.dim; ++j) {
            const float x = m.pages[size_t(r * m.dim + j)];
            if (std::isfinite(x))
                s += double(x) * (*q)[size_t(j)];
        }
        EXPECT_NEAR(scores[size_t(r)], s, 1e-5) << r;
    }
    EXPECT_EQ(index->similarities({1, 2}), std::vector<float>(300, 0.0f));
}

TEST(SemanticTopK, keepsTheBestWithTiesByAscendingRow)
{
    const std::vector<float> s{0.5f, 0.9f, 0.5f, 0.1f, 0.9f, 0.5f};
    using R = SemanticIndex::RowScore;
    EXPECT_EQ(SemanticIndex::topK(s, 4), (std::vector<R>{{1, 0.9f}, {4, 0.9f}, {0, 0.5f}, {2, 0.5f}}));
    EXPECT_EQ(SemanticIndex::topK(s, 100).size(), 6u);
    EXPECT_TRUE(SemanticIndex::topK(s, 0).empty());
    EXPECT_TRUE(SemanticIndex::topK(s, -5).empty());

    EXPECT_EQ(SemanticIndex::topK(s, 2, [](qsizetype r) { return r % 2 == 1; }),
              (std::vector<R>{{1, 0.9f}, {5, 0.5f}}));

    QList<qsizetype> asked;
    const auto best = SemanticIndex::topK(s, 2, [&](qsizetype r) {
        asked.append(r);
        return true;
    });
    EXPECT_EQ(best, (std::vector<R>{{1, 0.9f}, {4, 0.9f}}));
    // Once the list is full, a row that cannot enter is not asked about.
    EXPECT_EQ(asked, (QList<qsizetype>{0, 1, 4}));
}

TEST_F(SemanticIndexTest, pagesComeBestFirstAndEqualPagesByPageId)
{
    Model m = Model::generated(50, 6);
    // Word 0 embeds to (0.5, 0.5, 0.5, 0.5, 0, …); pages 1, 3 and 5 hold that
    // vector, so their scores are exactly 1 in any order of summation. The
    // other pages are short, page 0 is zero.
    for (float& x : m.pages)
        x *= 0.1f;
    std::fill(m.wordVecs.begin(), m.wordVecs.begin() + m.dim, 0.0f);
    std::fill(m.wordVecs.begin(), m.wordVecs.begin() + 4, 3.0f);
    for (int p : {1, 3, 5}) {
        std::fill(m.pages.begin() + p * m.dim, m.pages.begin() + (p + 1) * m.dim, 0.0f);
        std::fill(m.pages.begin() + p * m.dim, m.pages.begin() + p * m.dim + 4, 0.5f);
    }
    std::fill(m.pages.begin(), m.pages.begin() + m.dim, 0.0f);
    const auto index = load(m);
    ASSERT_TRUE(index);
    const auto all = index->search(m.words[0], 100);
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[0].pageId, m.ids[1]);
    EXPECT_EQ(all[1].pageId, m.ids[3]);
    EXPECT_EQ(all[2].pageId, m.ids[5]);
    EXPECT_EQ(all[0].score, 1.0f);
    EXPECT_EQ(all[2].score, 1.0f);
    const auto zero = std::find_if(all.begin(), all.end(), [&](const auto& p) { return p.pageId == m.ids[0]; });
    ASSERT_NE(zero, all.end());
    EXPECT_EQ(zero->score, 0.0f);
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_GE(all[i - 1].score, all[i].score);
    EXPECT_EQ(index->search(m.words[0], 2).size(), 2u);
    EXPECT_TRUE(index->search(m.words[0], 0).empty());
}

TEST_F(SemanticIndexTest, emptyPageMatrixLoadsAndFindsNothing)
{
    const auto index = load(Model::generated(50, 0));
    ASSERT_TRUE(index);
    EXPECT_EQ(index->rows(), 0);
    EXPECT_TRUE(index->search(index->words()[0]).empty());
    EXPECT_TRUE(index->similarities(*index->embed(index->words()[0])).empty());
}

TEST_F(SemanticIndexTest, aRepeatedWordUsesItsLaterRow)
{
    Model m = Model::generated();
    m.words[20] = m.words[3];
    const auto index = load(m);
    ASSERT_TRUE(index);
    const auto v = index->embed(m.words[3]);
    ASSERT_TRUE(v);
    const auto expected = referenceEmbedding(m, {20});
    for (int j = 0; j < m.dim; ++j)
        EXPECT_NEAR((*v)[size_t(j)], expected[size_t(j)], 1e-6);
}

TEST_F(SemanticIndexTest, frequenciesThatRunShortStayHarmless)
{
    // Ten weights for fifty words: the rest count as outside the vocabulary.
    Model shortFreq = Model::generated(50, 3);
    shortFreq.freq.erase(shortFreq.freq.begin() + 10, shortFreq.freq.end());
    const auto index = load(shortFreq);
    ASSERT_TRUE(index);
    EXPECT_FALSE(index->embed(shortFreq.words[40]));
    EXPECT_TRUE(index->search(shortFreq.words[49]).empty());
    const auto partly = index->embed(shortFreq.words[2] + u' ' + shortFreq.words[45]);
    ASSERT_TRUE(partly);
    double norm = 0;
    for (float x : *partly)
        norm += double(x) * x;
    EXPECT_NEAR(norm, 1.0, 1e-5);
}

TEST_F(SemanticIndexTest, relatedSkipsTheTopRowShortWordsAndStopWords)
{
    Model m = Model::generated(50, 0);
    // Words 1-4 lie along word 0, the others are short vectors; among the
    // four, a stop word and a two-letter word.
    m.words[1] = u(u"حدثنا");
    m.words[2] = u(u"بر");
    for (size_t x = size_t(5 * m.dim); x < m.wordVecs.size(); ++x)
        m.wordVecs[x] *= 0.05f;
    for (int i = 1; i <= 4; ++i) {
        for (int j = 0; j < m.dim; ++j)
            m.wordVecs[size_t(i * m.dim + j)] = m.row(0)[j] * (1.0f - 0.05f * i);
    }
    const auto index = load(m);
    ASSERT_TRUE(index);
    EXPECT_EQ(SemanticIndex::stop().size(), 85u);
    EXPECT_TRUE(SemanticIndex::stop().contains(Py::key(u(u"حدثنا"))));

    const auto near = index->related(u(u"  ") + m.words[0] + u(u"\u064E "), 8);
    ASSERT_FALSE(near.empty());
    EXPECT_LE(near.size(), 8u);
    EXPECT_EQ(near[0].word, m.words[3]);
    EXPECT_EQ(near[1].word, m.words[4]);
    for (const auto& w : near) {
        EXPECT_NE(w.word, m.words[0]);
        EXPECT_NE(w.word, m.words[1]);
        EXPECT_NE(w.word, m.words[2]);
    }
    for (size_t i = 1; i < near.size(); ++i)
        EXPECT_GE(near[i - 1].score, near[i].score);
    double dot = 0;
    for (int j = 0; j < m.dim; ++j)
        dot += double(m.row(0)[j]) * m.row(3)[j];
    EXPECT_NEAR(near[0].score, dot, 1e-5);

    // k = 1 looks at the second to fourth rows only: the stop word and the
    // short word use two of them.
    const auto one = index->related(m.words[0], 1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].word, m.words[3]);
    EXPECT_TRUE(index->related(m.words[0], 0).empty());
    EXPECT_TRUE(index->related(u(u"غريبة")).empty());
}

// A library database of pages and their books, with or without the index the
// page-to-book statement names.
std::shared_ptr<SQLiteDB> pagesDatabase(const QString& path, const QList<QPair<std::int64_t, std::int64_t>>& pages,
                                        bool withIndex = true)
{
    auto db = SQLiteDB::open(path, false);
    if (!db)
        return nullptr;
    db->exec(QStringLiteral("CREATE TABLE pages(id INTEGER PRIMARY KEY, book_id INTEGER)"));
    if (withIndex)
        db->exec(QStringLiteral("CREATE INDEX idx_pages_book ON pages(book_id)"));
    for (const auto& [page, book] : pages)
        db->run(QStringLiteral("INSERT INTO pages VALUES (?, ?)"), {page, book});
    return db;
}

TEST_F(SemanticIndexTest, scopesAdmitOnlyTheirBooksPages)
{
    const Model m = Model::generated(50, 6); // pages 100, 103, …, 115
    const auto index = load(m);
    ASSERT_TRUE(index);
    QTemporaryDir dbDir;
    // Page 112 belongs to a book whose id does not fit in 32 bits but whose
    // low bits are those of book 1; page 115 is unknown to the library.
    const std::int64_t wide = (std::int64_t(1) << 32) + 1;
    auto db = pagesDatabase(dbDir.filePath(QStringLiteral("lib.db")),
                            {{100, 1}, {103, 2}, {106, 1}, {109, 3}, {112, wide}});
    ASSERT_TRUE(db);
    const auto q = *index->embed(m.words[5]);
    auto pagesOf = [&](const QSet<std::int64_t>& scope) {
        QList<std::int64_t> out;
        for (const auto& p : index->vectorTopK(q, 10, scope, db.get()))
            out.append(p.pageId);
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(pagesOf({1}), (QList<std::int64_t>{100, 106}));
    EXPECT_EQ(pagesOf({2, 3}), (QList<std::int64_t>{103, 109}));
    EXPECT_EQ(pagesOf({wide}), QList<std::int64_t>{});
    EXPECT_EQ(pagesOf({-1}), QList<std::int64_t>{});
    EXPECT_EQ(pagesOf({}), QList<std::int64_t>{});
    EXPECT_TRUE(index->vectorTopK(q, 10, QSet<std::int64_t>{1}, nullptr).empty());
    EXPECT_EQ(index->vectorTopK(q, 10).size(), 6u);
    // The scores of a scoped search are those of the whole search.
    const auto all = index->vectorTopK(q, 10);
    for (const auto& p : index->vectorTopK(q, 10, QSet<std::int64_t>{1, 2, 3}, db.get())) {
        const auto same = std::find_if(all.begin(), all.end(), [&](const auto& a) { return a.pageId == p.pageId; });
        ASSERT_NE(same, all.end());
        EXPECT_EQ(same->score, p.score);
    }
}

TEST_F(SemanticIndexTest, rowsOfPagesTheLibraryLacksAreLeftOut)
{
    const Model m = Model::generated(50, 6); // pages 100, 103, …, 115
    const auto index = load(m);
    ASSERT_TRUE(index);
    QTemporaryDir dbDir;
    // Without the page-to-book index, which an unscoped search does not need.
    auto db = pagesDatabase(dbDir.filePath(QStringLiteral("lib.db")), {{100, 1}, {106, 1}, {115, 2}}, false);
    ASSERT_TRUE(db);
    for (const QString& word : {m.words[0], m.words[7], m.words[31]}) {
        QList<std::int64_t> found;
        for (const auto& p : index->search(word, 6, std::nullopt, db.get()))
            found.append(p.pageId);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, (QList<std::int64_t>{100, 106, 115}));
        EXPECT_EQ(index->search(word, 6).size(), 6u);
    }
}

TEST_F(SemanticIndexTest, withoutThePageBookIndexEveryScopedSearchIsEmpty)
{
    const Model m = Model::generated(50, 3);
    const auto index = load(m);
    ASSERT_TRUE(index);
    QTemporaryDir dbDir;
    auto bare = pagesDatabase(dbDir.filePath(QStringLiteral("bare.db")), {{100, 1}, {103, 1}}, false);
    ASSERT_TRUE(bare);
    EXPECT_TRUE(index->search(m.words[0], 10, QSet<std::int64_t>{1}, bare.get()).empty());
    // The table is kept: a proper database later does not change it.
    auto good = pagesDatabase(dbDir.filePath(QStringLiteral("good.db")), {{100, 1}, {103, 1}});
    EXPECT_TRUE(index->search(m.words[0], 10, QSet<std::int64_t>{1}, good.get()).empty());
}

} // namespace
