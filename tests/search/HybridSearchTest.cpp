#include "search/HybridSearch.h"

#include "SearchFixture.h"

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "search/Lexical.h"
#include "search/NpyArray.h"
#include "search/SemanticIndex.h"
#include "support/FixtureLibrary.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include "support/CorpusSuite.h"

#include <gtest/gtest.h>

#include <map>

using namespace quorvel;

namespace {

QString u(const char16_t* s) { return QString::fromUtf16(s); }

constexpr int dim = 4;

// The tests/data library, built once for the suite.
class HybridCorpus : public test::CorpusSuite
{
protected:

    // An index whose vocabulary is the query word alone (vector e1), and
    // whose pages are exactly `pages`, each scoring its given value.
    std::shared_ptr<const SemanticIndex> indexScoring(const QString& word, const std::map<std::int64_t, float>& pages)
    {
        Json::Value vocab = Json::Value::object();
        vocab["words"] = Json::toJson(QStringList{Arabic::normalize(word, true)});
        vocab["freq"] = Json::Value::array({5});
        vocab["dim"] = dim;
        QFile f(smart.filePath(QStringLiteral("vocab.json")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Json::dumpBytes(vocab));
        f.close();
        const float e1[dim] = {1, 0, 0, 0};
        std::vector<float> rows;
        std::vector<std::int64_t> ids;
        for (const auto& [id, s] : pages) {
            ids.push_back(id);
            rows.insert(rows.end(), {s, 0.25f, -0.5f, 0.0f});
        }
        auto bytes = [](const void* p, size_t n) { return QByteArray(static_cast<const char*>(p), qsizetype(n)); };
        EXPECT_TRUE(NpyArray::write(smart.filePath(QStringLiteral("wordvec.npy")), NpyArray::floatDescr, {1, dim},
                                    bytes(e1, sizeof e1)));
        EXPECT_TRUE(NpyArray::write(smart.filePath(QStringLiteral("vecs.npy")), NpyArray::floatDescr,
                                    {std::int64_t(ids.size()), dim}, bytes(rows.data(), rows.size() * 4)));
        EXPECT_TRUE(NpyArray::write(smart.filePath(QStringLiteral("vec_ids.npy")), NpyArray::intDescr,
                                    {std::int64_t(ids.size())}, bytes(ids.data(), ids.size() * 8)));
        EXPECT_TRUE(test::stampModel(smart.path()));
        return SemanticIndex::load(smart.path());
    }

    static QList<std::int64_t> pageIds(const QList<HybridHit>& hits)
    {
        QList<std::int64_t> ids;
        for (const auto& h : hits)
            ids.append(h.pageId);
        return ids;
    }

    QTemporaryDir smart;
};

const QString word = QStringLiteral("الله");

TEST_F(HybridCorpus, withoutAnIndexTheLexicalRankingComesBackFused)
{
    const auto lexical = Lexical::search(*db, word, 60);
    ASSERT_GE(lexical.size(), 10);
    const auto hits = hybridSearch(*db, nullptr, word, 200);
    ASSERT_EQ(hits.size(), lexical.size());
    for (qsizetype r = 0; r < hits.size(); ++r) {
        EXPECT_EQ(hits[r].pageId, lexical[r].pageId);
        EXPECT_EQ(hits[r].src, QStringLiteral("kw"));
        EXPECT_DOUBLE_EQ(hits[r].score, 1.0 / (61 + r));
        EXPECT_EQ(hits[r].bookId, lexical[r].bookId);
        EXPECT_EQ(hits[r].seq, lexical[r].seq);
        EXPECT_EQ(hits[r].bookTitle, lexical[r].bookTitle);
        EXPECT_EQ(hits[r].author, lexical[r].author);
        EXPECT_EQ(hits[r].pageNum, lexical[r].pageNum);
    }
    EXPECT_EQ(hybridSearch(*db, nullptr, word, 5, 10, 3).size(), 3);
    EXPECT_DOUBLE_EQ(hybridSearch(*db, nullptr, word, 5, 10, 3)[2].score, 1.0 / 13);
}

TEST_F(HybridCorpus, bothListsAddUpAndEqualScoresKeepLexicalOrderFirst)
{
    const auto lexical = Lexical::search(*db, word, 60);
    ASSERT_GE(lexical.size(), 4);
    QSet<std::int64_t> found;
    for (const auto& h : lexical)
        found.insert(h.pageId);
    std::int64_t other = 1;
    while (found.contains(other))
        ++other;
    const std::int64_t l0 = lexical[0].pageId, l1 = lexical[1].pageId, l2 = lexical[2].pageId, l3 = lexical[3].pageId;

    // Meaning ranks l2, then `other`, then l0.
    const auto index = indexScoring(word, {{l2, 0.9f}, {other, 0.8f}, {l0, 0.7f}});
    ASSERT_TRUE(index);
    const auto hits = hybridSearch(*db, index.get(), word, 5);
    ASSERT_EQ(hits.size(), 5);
    // l0 and l2 tie at 1/61 + 1/63, l1 and `other` at 1/62: lexical order first.
    EXPECT_EQ(pageIds(hits), (QList<std::int64_t>{l0, l2, l1, other, l3}));
    EXPECT_EQ(hits[0].src, QStringLiteral("kw+vec"));
    EXPECT_DOUBLE_EQ(hits[0].score, 1.0 / 61 + 1.0 / 63);
    EXPECT_EQ(hits[1].src, QStringLiteral("kw+vec"));
    EXPECT_EQ(hits[0].score, hits[1].score);
    EXPECT_EQ(hits[2].src, QStringLiteral("kw"));
    EXPECT_EQ(hits[3].src, QStringLiteral("vec"));
    EXPECT_DOUBLE_EQ(hits[3].score, 1.0 / 62);
    EXPECT_DOUBLE_EQ(hits[4].score, 1.0 / 64);

    // A pool of one: only each list's best, l0 (lexical) and l2 (meaning).
    const auto one = hybridSearch(*db, index.get(), word, 10, 60, 1);
    EXPECT_EQ(pageIds(one), (QList<std::int64_t>{l0, l2}));
    EXPECT_EQ(one[1].src, QStringLiteral("vec"));

    // Words outside the vocabulary add no meaning-based candidates.
    const auto unknown = hybridSearch(*db, index.get(), u(u"النبي"), 10);
    for (const auto& h : unknown)
        EXPECT_EQ(h.src, QStringLiteral("kw"));
}

TEST_F(HybridCorpus, noHitsForZeroOrNegativeCounts)
{
    const auto index = indexScoring(word, {{1, 0.5f}, {2, 0.4f}});
    ASSERT_TRUE(index);
    EXPECT_TRUE(hybridSearch(*db, index.get(), word, 0).isEmpty());
    EXPECT_TRUE(hybridSearch(*db, index.get(), word, -3).isEmpty());
    EXPECT_TRUE(hybridSearch(*db, index.get(), word, 20, 60, 0).isEmpty());
    EXPECT_TRUE(hybridSearch(*db, index.get(), word, 20, 60, -1).isEmpty());
    EXPECT_TRUE(hybridSearch(*db, nullptr, u(u"كلمةلاتوجد"), 20).isEmpty());
    // Meaning alone still finds pages when the words match nothing in the text.
    EXPECT_EQ(pageIds(hybridSearch(*db, index.get(), word + u(u" كلمةلاتوجد"), 20)), (QList<std::int64_t>{1, 2}));
}

TEST_F(HybridCorpus, previewIsTheFirstCharactersAsTheDatabaseCountsThem)
{
    const auto hits = hybridSearch(*db, nullptr, word, 60);
    ASSERT_FALSE(hits.isEmpty());
    bool sawLong = false;
    for (const auto& h : hits) {
        const auto content = db->rows(QStringLiteral("SELECT content FROM pages WHERE id = ?"), {h.pageId});
        ASSERT_EQ(content.size(), 1);
        const QString full = content[0].str(0).value_or(QString());
        EXPECT_LE(Py::len(h.preview), Hybrid::previewLength);
        EXPECT_TRUE(full.startsWith(h.preview));
        if (Py::len(full) > Hybrid::previewLength) {
            sawLong = true;
            EXPECT_EQ(Py::len(h.preview), Hybrid::previewLength);
        } else {
            EXPECT_EQ(h.preview, full);
        }
    }
    EXPECT_TRUE(sawLong);
}

TEST_F(HybridCorpus, aMissingBookDropsItsPagesAndAMissingAuthorKeepsThem)
{
    const auto before = hybridSearch(*db, nullptr, word, 60);
    QList<std::int64_t> books;
    for (const auto& h : before) {
        if (!books.contains(h.bookId))
            books.append(h.bookId);
    }
    ASSERT_GE(books.size(), 2);

    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("lib.db"));
    ASSERT_TRUE(QFile::copy(path, copy));
    auto rw = SQLiteDB::open(copy, false);
    ASSERT_TRUE(rw);
    ASSERT_TRUE(rw->run(QStringLiteral("DELETE FROM books WHERE id = ?"), {books[0]}));
    ASSERT_TRUE(rw->run(QStringLiteral("UPDATE books SET author_id = 987654 WHERE id = ?"), {books[1]}));

    const auto after = hybridSearch(*rw, nullptr, word, 60);
    QList<std::int64_t> expected;
    for (const auto& h : before) {
        if (h.bookId != books[0])
            expected.append(h.pageId);
    }
    // Pages past the old pool may move up into it; the survivors keep their order.
    ASSERT_GE(after.size(), expected.size());
    EXPECT_EQ(pageIds(after).mid(0, expected.size()), expected);
    bool sawAuthorless = false;
    for (const auto& h : after) {
        if (h.bookId == books[1]) {
            sawAuthorless = true;
            EXPECT_FALSE(h.author);
            EXPECT_FALSE(h.bookTitle.isEmpty());
        }
    }
    EXPECT_TRUE(sawAuthorless);
}

} // namespace

TEST_F(HybridCorpus, aVolumeStoredAsANumberComesWithEveryHit)
{
    // A library file made elsewhere whose volume column has no type.
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("lib.db"));
    ASSERT_TRUE(QFile::copy(path, copy));
    auto rw = SQLiteDB::open(copy, false);
    ASSERT_TRUE(rw);
    ASSERT_TRUE(rw->exec(QStringLiteral("ALTER TABLE pages RENAME COLUMN vol TO vol_text; "
                                        "ALTER TABLE pages ADD COLUMN vol; UPDATE pages SET vol = 2;")));
    QSet<std::int64_t> found;
    for (const auto& h : Lexical::search(*rw, word, 60))
        found.insert(h.pageId);
    std::int64_t other = 1;
    while (found.contains(other))
        ++other;
    const auto index = indexScoring(word, {{other, 0.9f}});
    ASSERT_TRUE(index);
    const auto hits = hybridSearch(*rw, index.get(), word, 10);
    ASSERT_FALSE(hits.isEmpty());
    bool sawMeaning = false;
    for (const auto& h : hits) {
        EXPECT_EQ(h.vol, QStringLiteral("2")) << h.pageId << " " << h.src.toStdString();
        sawMeaning = sawMeaning || h.src == QStringLiteral("vec");
    }
    EXPECT_TRUE(sawMeaning);
}
