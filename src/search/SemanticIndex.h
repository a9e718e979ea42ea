#pragma once

// Meaning-based search over the whole library. Every page has a vector (a
// unit vector, or zeros for a page without a known word) in the memory-mapped
// page matrix of the smart data directory; a query is embedded as the
// smooth-inverse-frequency weighted mean of its words' vectors, and pages
// rank by the dot product with it, all pages at once in one matrix-vector
// product. The same object finds the vocabulary words nearest to a word.
//
// An index is made only by load() and shared as a
// std::shared_ptr<const SemanticIndex>; every operation may run on any
// thread at once. The one mutable part is the page-to-book table, built on
// the first search restricted to books, under `lock`.

#include "search/NpyArray.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace quorvel {

class SQLiteDB;

class SemanticIndex
{
public:
    struct PageScore
    {
        std::int64_t pageId = 0;
        float score = 0;
        bool operator==(const PageScore&) const = default;
    };
    struct WordScore
    {
        QString word;
        float score = 0;
        bool operator==(const WordScore&) const = default;
    };
    struct RowScore
    {
        qsizetype row = 0;
        float score = 0;
        bool operator==(const RowScore&) const = default;
    };

    // The smoothing constant of the word weights a / (share + a).
    static constexpr double sifA = 0.001;
    static constexpr int defaultK = 60;
    static constexpr int defaultRelated = 8;

    // Why load() refused the files, as the user reads it.
    static inline const QString msgFilesUnreadable =
        QStringLiteral("ملفات البحث بالمعنى ناقصة أو غير مقروءة أو لا يتّفق بعضها مع بعض");
    static inline const QString msgEmptyModel =
        QStringLiteral("نموذج الكلمات فارغ: لا كلمات فيه أو لا أبعاد لمتّجهاته أو لا تكرارات لكلماته");
    static inline const QString msgNonFinite =
        QStringLiteral("في متّجهات البحث بالمعنى أو تكرارات كلماته قيم غير صالحة (ليست أعداداً منتهية)");
    static inline const QString msgRepeatedWords =
        QStringLiteral("نموذج الكلمات معيب: أكثر كلماته مكرّرة فلا يُبلغ أكثر متّجهاته");
    static inline const QString msgOtherModel =
        QStringLiteral("متّجهات الصفحات بُنيت بنموذج كلمات غير النموذج الحالي: أعد بناءها");
    static inline const QString msgNoModelStamp =
        QStringLiteral("لا يُعرف نموذج الكلمات الذي بُنيت به متّجهات الصفحات: أعد بناءها");
    static inline const QString msgZeroVectors =
        QStringLiteral("متّجهات البحث بالمعنى كلّها أصفار فلا يُجاب بها بحث: أعد بناءها");
    static inline const QString msgRepeatedPages =
        QStringLiteral("في متّجهات الصفحات صفحات مكرّرة: أعد بناءها");

    // The file beside the page vectors naming the model they were made with:
    // modelStamp() of that model's files, written by the vector builder last.
    static inline const QString modelStampFile = QStringLiteral("vec_model.txt");
    // The SHA-256 of "wordvec.npy" and of "vocab.json" in `dataDir`, one line
    // each; empty when either cannot be read.
    static QByteArray modelStamp(const QString& dataDir);

    // The index over the directory's four files, or nothing when one is
    // missing, unreadable, short of its declared elements or inconsistent
    // with the others, when the model has no word, no width or no positive
    // frequency, when most of its words repeat an earlier one, when a vector
    // or frequency is not a finite number, when every word vector or every
    // page vector is zero, when a page has two rows, when a matrix is too
    // large for the matrix library's 32-bit sizes, or when the model stamp
    // beside the page vectors names another model or, with pages, is
    // missing. `why`, when given, receives the reason of a refusal.
    static std::shared_ptr<const SemanticIndex> load(const QString& dataDir, QString* why = nullptr);

    // The words `related` never returns, in the vocabulary's normal form.
    static const std::unordered_set<std::u16string>& stop();

    int dim() const { return m_dim; }
    const QStringList& words() const { return m_words; }
    const std::vector<std::int64_t>& ids() const { return m_ids; }
    qsizetype rows() const { return qsizetype(m_ids.size()); }
    // The page matrix as mapped, rows × dim.
    const NpyArray& vecs() const { return m_vecs; }

    // The unit query vector of `text` (dim floats), or nothing when no word
    // of it is in the vocabulary with a weight.
    std::optional<std::vector<float>> embed(const QString& text) const;

    // One score per page row: the row's dot product with `query`. All zeros
    // when the page file holds no readable floats or `query` is not dim long.
    std::vector<float> similarities(const std::vector<float>& query) const;

    // The best `k` rows, best first (equal scores by ascending row), leaving
    // out rows `allow` rejects; `allow` is asked only about rows that would
    // enter the list. Empty for k below 1.
    static std::vector<RowScore> topK(const std::vector<float>& scores, qsizetype k,
                                      const std::function<bool(qsizetype)>& allow = {});

    // The best `k` pages for `query`, restricted to the books of `scope` when
    // given; a scope needs `db`, the library database, and is empty without.
    // With `db`, rows of pages the library does not hold are left out.
    std::vector<PageScore> vectorTopK(const std::vector<float>& query, qsizetype k = defaultK,
                                      const std::optional<QSet<std::int64_t>>& scope = std::nullopt,
                                      SQLiteDB* db = nullptr) const;

    // vectorTopK of embed(text); empty when the text has no known word.
    std::vector<PageScore> search(const QString& text, qsizetype k = defaultK,
                                  const std::optional<QSet<std::int64_t>>& scope = std::nullopt,
                                  SQLiteDB* db = nullptr) const;

    // The vocabulary words nearest to `word`, at most `k`, nearest first;
    // never the best-scoring row itself, words under three letters or stop
    // words. Empty for an unknown word and for k below 1.
    std::vector<WordScore> related(const QString& word, qsizetype k = defaultRelated) const;

    SemanticIndex(const SemanticIndex&) = delete;
    SemanticIndex& operator=(const SemanticIndex&) = delete;

private:
    explicit SemanticIndex(NpyArray vecs) : m_vecs(std::move(vecs)) {}

    // The book of each page row; built once, then only read.
    std::vector<std::int32_t> rowBookTable(SQLiteDB& db) const;

    int m_dim = 0;
    QStringList m_words;
    QHash<QString, qsizetype> m_wordIndex;
    std::vector<float> m_weights;  // one per "freq" entry, which may be fewer than words
    std::vector<float> m_wordVecs; // V × dim
    NpyArray m_vecs;               // N × dim, memory-mapped
    std::vector<std::int64_t> m_ids;

    mutable std::mutex m_lock; // guards m_rowBook
    mutable std::optional<std::vector<std::int32_t>> m_rowBook;
};

} // namespace quorvel
