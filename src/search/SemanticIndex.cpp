#include "search/SemanticIndex.h"

#include "core/Arabic.h"
#include "core/DistFetch.h"
#include "core/Json.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace quorvel {

namespace {

// Stands for a page the library does not know, and for a book id that does
// not fit the table's 32 bits: no scope ever admits it.
constexpr std::int32_t kUnknownBook = -1;
// What "vocab.json" may take: its other members, then a word and its
// frequency per row of the word matrix, with room to spare.
constexpr std::int64_t kVocabBaseBytes = 64 * 1024;
constexpr std::int64_t kVocabBytesPerWord = 1024;
// More than a model stamp ever holds.
constexpr qint64 kStampBytes = 1024;

constexpr qsizetype kMinRelatedLetters = 3;
// `related` looks at this many candidates per word wanted.
constexpr qsizetype kRelatedCandidatesPerWord = 4;

const QString pageExistsSQL = QStringLiteral("SELECT 1 FROM pages WHERE id=?");
const QString pageBooksSQL = QStringLiteral("SELECT id, book_id FROM pages INDEXED BY idx_pages_book");

bool fitsBlasInt(std::int64_t n)
{
    return n >= 0 && n <= std::numeric_limits<int>::max();
}

// y = A q for the rows × dim matrix A, then every non-finite result redone
// with only the finite elements of its row.
void matVec(const float* a, qsizetype rows, int dim, const float* q, float* y)
{
    if (rows == 0 || dim == 0)
        return;
    cblas_sgemv(CblasRowMajor, CblasNoTrans, int(rows), dim, 1.0f, a, dim, q, 1, 0.0f, y, 1);
    for (qsizetype r = 0; r < rows; ++r) {
        if (std::isfinite(y[r]))
            continue;
        const float* row = a + r * dim;
        float sum = 0;
        for (int j = 0; j < dim; ++j) {
            if (std::isfinite(row[j]))
                sum += row[j] * q[j];
        }
        y[r] = sum;
    }
}

} // namespace

const std::unordered_set<std::u16string>& SemanticIndex::stop()
{
    static const std::unordered_set<std::u16string> words = [] {
        const QString text = QStringLiteral(
            "من في الي علي عن مع او ثم قد كل بعض غير حتي اذا اذ لما لم لن لا ما\n"
            "هو هي هم هن نحن انت انا ذلك ذل تلك هذا هذه هؤلاء الذي التي الذين وذلك وهو وهي\n"
            "ليس كان يكون قال قالت قلت وقال فقال حدثنا حدثني وحدثني اخبرنا سبحانه تعالي\n"
            "له لها لهم به بها فيه فيها منه منها منهم عليه عليها اليه كلها فلما وكذلك ايضا\n"
            "انه انها اني ارايت وذلك يجزيه اول وهذا وهذه بذلك كذلك بين نحوه وذكر شيء شئ");
        std::unordered_set<std::u16string> set;
        for (const QString& line : text.split(u'\n')) {
            for (const QString& w : line.split(u' ', Qt::SkipEmptyParts))
                set.insert(Py::key(w));
        }
        return set;
    }();
    return words;
}

QByteArray SemanticIndex::modelStamp(const QString& dataDir)
{
    const QDir dir(dataDir);
    const QByteArray wordvec = Dist::fileSha256(dir.filePath(QStringLiteral("wordvec.npy"))).toLatin1();
    const QByteArray vocab = Dist::fileSha256(dir.filePath(QStringLiteral("vocab.json"))).toLatin1();
    if (wordvec.isEmpty() || vocab.isEmpty())
        return {};
    return wordvec + '\n' + vocab + '\n';
}

namespace {

// A refusal of load(), or nothing when the step passed.
using Refusal = std::optional<QString>;

// The model's words, width and frequencies as "vocab.json" gives them.
struct ModelWords {
    QStringList words;
    std::int64_t width = 0;
    Json::Value freq;
};

// The word list is no larger than the word matrix's rows allow: a huge or
// endless file is refused unread.
Refusal readModelWords(const QDir& dir, std::int64_t wordRows, ModelWords& model)
{
    auto vocab = Json::parseFile(dir.filePath(QStringLiteral("vocab.json")),
                                       kVocabBaseBytes + wordRows * kVocabBytesPerWord);
    if (!vocab || !vocab->is_object())
        return SemanticIndex::msgFilesUnreadable;
    const auto words = vocab->find("words");
    const auto dim = vocab->find("dim");
    const auto freq = vocab->find("freq");
    if (words == vocab->end() || !words->is_array() || dim == vocab->end() || !dim->is_number_integer()
        || freq == vocab->end() || !freq->is_array())
        return SemanticIndex::msgFilesUnreadable;
    model.words.reserve(qsizetype(words->size()));
    for (const auto& w : *words) {
        if (!w.is_string())
            return SemanticIndex::msgFilesUnreadable;
        model.words.append(QString::fromStdString(w.get<std::string>()));
    }
    // The matrix library takes sizes as int: a larger model or page matrix is
    // refused here rather than truncated there.
    if (!dim->is_number_unsigned() || dim->get<std::uint64_t>() > std::uint64_t(std::numeric_limits<int>::max()))
        return SemanticIndex::msgFilesUnreadable;
    model.width = dim->get<std::int64_t>();
    // A model without words, width or weights embeds nothing: every meaning
    // search would come back empty.
    if (model.width == 0 || model.words.isEmpty() || freq->empty())
        return SemanticIndex::msgEmptyModel;
    model.freq = std::move(*freq);
    return std::nullopt;
}

// The two matrices agree with the words and width, and fit the matrix library.
Refusal checkShapes(const NpyArray& wordvec, const NpyArray& vecs, const ModelWords& model)
{
    if (wordvec.shape() != QList<std::int64_t>{model.words.size(), model.width})
        return SemanticIndex::msgFilesUnreadable;
    // A repeated word reaches only its later row. A few repeats are harmless;
    // a vocabulary that is mostly one word answers no meaning search.
    if (QSet<QString>(model.words.cbegin(), model.words.cend()).size() * 2 < model.words.size())
        return SemanticIndex::msgRepeatedWords;
    if (vecs.shape().size() != 2 || vecs.shape()[1] != model.width)
        return SemanticIndex::msgFilesUnreadable;
    if (!fitsBlasInt(model.words.size()) || !fitsBlasInt(vecs.shape()[0]))
        return SemanticIndex::msgFilesUnreadable;
    return std::nullopt;
}

// What a matrix's values are good for.
enum class Values { usable, nonFinite, zeros };

Values valuesOf(const float* a, std::int64_t count)
{
    bool zeros = true;
    for (const float* x = a; x != a + count; ++x) {
        if (!std::isfinite(*x))
            return Values::nonFinite;
        zeros = zeros && *x == 0;
    }
    return zeros && count > 0 ? Values::zeros : Values::usable;
}

// The word vectors, read into `wordVecs`, and the page vectors, read where
// they are mapped. A short page matrix would score its pages 0; one NaN
// would hide its page. A matrix of zeros alone (a page without a known word
// has a zero row) scores every page alike.
Refusal readVectors(const NpyArray& wordvec, const NpyArray& vecs, std::vector<float>& wordVecs)
{
    auto read = wordvec.floats();
    if (!read)
        return SemanticIndex::msgFilesUnreadable;
    wordVecs = std::move(*read);
    if (!std::all_of(wordVecs.begin(), wordVecs.end(), [](float x) { return std::isfinite(x); }))
        return SemanticIndex::msgNonFinite;
    const auto pageValues = vecs.withFloats([&](const float* a) { return valuesOf(a, vecs.count()); });
    if (!pageValues && vecs.count() > 0)
        return SemanticIndex::msgFilesUnreadable;
    if (pageValues == Values::nonFinite)
        return SemanticIndex::msgNonFinite;
    if (pageValues == Values::zeros || valuesOf(wordVecs.data(), std::int64_t(wordVecs.size())) == Values::zeros)
        return SemanticIndex::msgZeroVectors;
    return std::nullopt;
}

// One page id per page row, each once: a page with two rows is found twice,
// with two scores.
Refusal readPageIds(const NpyArray& vecIds, const NpyArray& vecs, std::vector<std::int64_t>& ids)
{
    auto read = vecIds.ints();
    if (!read || std::int64_t(read->size()) != vecs.shape()[0])
        return SemanticIndex::msgFilesUnreadable;
    ids = std::move(*read);
    if (std::vector<std::int64_t> sorted = ids; !sorted.empty()) {
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            return SemanticIndex::msgRepeatedPages;
    }
    return std::nullopt;
}

// Vectors made with another model load when the widths agree, and then
// answer with nonsense: the stamp the builder left must name this model,
// and page vectors without one name none (a model alone, over no page,
// needs none).
Refusal checkModelStamp(const QString& dataDir, bool pages)
{
    const QDir dir(dataDir);
    if (const QFileInfo stampInfo(dir.filePath(SemanticIndex::modelStampFile)); stampInfo.exists()) {
        QFile stamp(stampInfo.filePath());
        // A pipe in its place must not hold the load.
        if (!stampInfo.isFile() || !stamp.open(QIODevice::ReadOnly))
            return SemanticIndex::msgFilesUnreadable;
        const QByteArray recorded = stamp.read(kStampBytes);
        const QByteArray current = SemanticIndex::modelStamp(dataDir);
        if (current.isEmpty() || recorded != current)
            return SemanticIndex::msgOtherModel;
    } else if (pages) {
        return SemanticIndex::msgNoModelStamp;
    }
    return std::nullopt;
}

// The weight of each word with a frequency, sifA / (share + sifA).
Refusal wordWeights(const Json::Value& freq, std::vector<float>& weights)
{
    std::vector<double> values;
    values.reserve(freq.size());
    double total = 0;
    for (const auto& f : freq) {
        const double v = f.is_number() ? f.get<double>() : 0.0;
        if (!std::isfinite(v) || v < 0)
            return SemanticIndex::msgNonFinite;
        values.push_back(v);
        total += v;
    }
    if (!(total > 0) || !std::isfinite(total))
        return SemanticIndex::msgEmptyModel;
    weights.reserve(values.size());
    for (double v : values)
        weights.push_back(float(SemanticIndex::sifA / (v / total + SemanticIndex::sifA)));
    return std::nullopt;
}

} // namespace

std::shared_ptr<const SemanticIndex> SemanticIndex::load(const QString& dataDir, QString* why)
{
    const QDir dir(dataDir);
    auto wordvec = NpyArray::open(dir.filePath(QStringLiteral("wordvec.npy")));
    auto vecs = NpyArray::open(dir.filePath(QStringLiteral("vecs.npy")));
    auto vecIds = NpyArray::open(dir.filePath(QStringLiteral("vec_ids.npy")));
    ModelWords model;
    std::vector<float> wordVecs;
    std::vector<std::int64_t> ids;
    std::vector<float> weights;
    // Each step runs once those before it passed: the first refusal is the reason given.
    Refusal refused;
    if (!wordvec || !vecs || !vecIds || wordvec->shape().size() != 2 || !fitsBlasInt(wordvec->shape()[0]))
        refused = msgFilesUnreadable;
    if (!refused)
        refused = readModelWords(dir, wordvec->shape()[0], model);
    if (!refused)
        refused = checkShapes(*wordvec, *vecs, model);
    if (!refused)
        refused = readVectors(*wordvec, *vecs, wordVecs);
    if (!refused)
        refused = readPageIds(*vecIds, *vecs, ids);
    if (!refused)
        refused = checkModelStamp(dataDir, !ids.empty());
    if (!refused)
        refused = wordWeights(model.freq, weights);
    if (refused) {
        if (why)
            *why = *refused;
        return nullptr;
    }

    std::shared_ptr<SemanticIndex> index(new SemanticIndex(std::move(*vecs)));
    index->m_dim = int(model.width);
    index->m_weights = std::move(weights);
    index->m_wordVecs = std::move(wordVecs);
    index->m_ids = std::move(ids);
    index->m_wordIndex.reserve(model.words.size());
    for (qsizetype i = 0; i < model.words.size(); ++i)
        index->m_wordIndex.insert(model.words[i], i); // a repeated word keeps its later row
    index->m_words = std::move(model.words);
    return index;
}

std::optional<std::vector<float>> SemanticIndex::embed(const QString& text) const
{
    const QStringList pieces = Arabic::normalize(text, true).split(u' ', Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return std::nullopt;
    std::vector<float> v(size_t(m_dim), 0.0f);
    float weightSum = 0;
    for (const QString& piece : pieces) {
        const auto it = m_wordIndex.constFind(piece);
        // A word past the end of "freq" has no weight and counts as unknown.
        if (it == m_wordIndex.cend() || size_t(*it) >= m_weights.size())
            continue;
        const float w = m_weights[size_t(*it)];
        const float* row = m_wordVecs.data() + *it * m_dim;
        for (int j = 0; j < m_dim; ++j)
            v[size_t(j)] += w * row[j];
        weightSum += w;
    }
    if (!(weightSum > 0))
        return std::nullopt;
    for (float& x : v)
        x /= weightSum;
    float dot = 0;
    for (float x : v)
        dot += x * x;
    const float norm = std::sqrt(dot);
    if (!(norm > 0) || !std::isfinite(norm))
        return std::nullopt;
    for (float& x : v)
        x /= norm;
    return v;
}

std::vector<float> SemanticIndex::similarities(const std::vector<float>& query) const
{
    std::vector<float> scores(size_t(rows()), 0.0f);
    if (query.size() != size_t(m_dim) || scores.empty())
        return scores;
    m_vecs.withFloats([&](const float* a) {
        matVec(a, rows(), m_dim, query.data(), scores.data());
        return true;
    });
    return scores;
}

std::vector<SemanticIndex::RowScore> SemanticIndex::topK(const std::vector<float>& scores, qsizetype k,
                                                         const std::function<bool(qsizetype)>& allow)
{
    std::vector<RowScore> kept; // weakest first
    if (k < 1)
        return kept;
    const size_t limit = size_t(std::min<qsizetype>(k, qsizetype(scores.size())));
    kept.reserve(limit);
    auto stronger = [](const RowScore& a, const RowScore& b) {
        return a.score > b.score || (a.score == b.score && a.row < b.row);
    };
    for (size_t r = 0; r < scores.size(); ++r) {
        const RowScore entry{qsizetype(r), scores[r]};
        if (kept.size() == limit && !stronger(entry, kept.front()))
            continue;
        if (allow && !allow(entry.row))
            continue;
        const auto at = std::lower_bound(kept.begin(), kept.end(), entry,
                                         [&](const RowScore& a, const RowScore& b) { return stronger(b, a); });
        kept.insert(at, entry);
        if (kept.size() > limit)
            kept.erase(kept.begin());
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

std::vector<std::int32_t> SemanticIndex::rowBookTable(SQLiteDB& db) const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    if (!m_rowBook) {
        std::unordered_map<std::int64_t, std::int64_t> bookOf;
        for (const auto& row : db.rows(pageBooksSQL)) {
            const auto page = row.integer(0);
            const auto book = row.integer(1);
            if (page && book)
                bookOf[*page] = *book;
        }
        std::vector<std::int32_t> table(m_ids.size(), kUnknownBook);
        for (size_t r = 0; r < m_ids.size(); ++r) {
            const auto it = bookOf.find(m_ids[r]);
            if (it != bookOf.end() && it->second >= std::numeric_limits<std::int32_t>::min()
                && it->second <= std::numeric_limits<std::int32_t>::max())
                table[r] = std::int32_t(it->second);
        }
        m_rowBook = std::move(table);
    }
    return *m_rowBook;
}

std::vector<SemanticIndex::PageScore> SemanticIndex::vectorTopK(const std::vector<float>& query, qsizetype k,
                                                                const std::optional<QSet<std::int64_t>>& scope,
                                                                SQLiteDB* db) const
{
    const std::vector<float> scores = similarities(query);
    std::vector<RowScore> best;
    if (scope) {
        if (!db)
            return {};
        const std::vector<std::int32_t> rowBook = rowBookTable(*db);
        // Only ids the table can hold; the unknown-page mark is never a book.
        QSet<std::int32_t> allowed;
        for (std::int64_t id : *scope) {
            if (id != kUnknownBook && id >= std::numeric_limits<std::int32_t>::min()
                && id <= std::numeric_limits<std::int32_t>::max())
                allowed.insert(std::int32_t(id));
        }
        best = topK(scores, k, [&](qsizetype row) { return allowed.contains(rowBook[size_t(row)]); });
    } else if (auto page = db ? db->prepare(pageExistsSQL) : std::nullopt) {
        // Rows of pages the library no longer has would take places in the
        // list and come back as results nobody can open.
        best = topK(scores, k, [&](qsizetype row) {
            page->bind({m_ids[size_t(row)]});
            return page->step();
        });
    } else {
        best = topK(scores, k);
    }
    std::vector<PageScore> out;
    out.reserve(best.size());
    for (const RowScore& b : best)
        out.push_back({m_ids[size_t(b.row)], b.score});
    return out;
}

std::vector<SemanticIndex::PageScore> SemanticIndex::search(const QString& text, qsizetype k,
                                                            const std::optional<QSet<std::int64_t>>& scope,
                                                            SQLiteDB* db) const
{
    const auto query = embed(text);
    if (!query)
        return {};
    return vectorTopK(*query, k, scope, db);
}

std::vector<SemanticIndex::WordScore> SemanticIndex::related(const QString& word, qsizetype k) const
{
    if (k < 1)
        return {};
    const QString w = Py::strip(Arabic::normalize(word, true));
    const auto it = m_wordIndex.constFind(w);
    if (it == m_wordIndex.cend())
        return {};
    const qsizetype vocabulary = m_words.size();
    std::vector<float> scores(static_cast<size_t>(vocabulary), 0.0f);
    // A copy of the word's row, so the product's vector does not alias its matrix.
    const std::vector<float> q(m_wordVecs.begin() + *it * m_dim, m_wordVecs.begin() + (*it + 1) * m_dim);
    matVec(m_wordVecs.data(), vocabulary, m_dim, q.data(), scores.data());

    const qsizetype limit = std::min<qsizetype>(vocabulary, kRelatedCandidatesPerWord * std::min<qsizetype>(k, vocabulary));
    std::vector<qsizetype> order(static_cast<size_t>(vocabulary));
    for (qsizetype r = 0; r < vocabulary; ++r)
        order[size_t(r)] = r;
    // Descending score, then ascending row; NaN ranks last so the order stays strict.
    auto before = [&](qsizetype a, qsizetype b) {
        const float x = scores[size_t(a)], y = scores[size_t(b)];
        const bool xn = std::isnan(x), yn = std::isnan(y);
        if (xn != yn)
            return yn;
        if (!xn && x != y)
            return x > y;
        return a < b;
    };
    std::partial_sort(order.begin(), order.begin() + limit, order.end(), before);

    std::vector<WordScore> kept;
    const auto& stopWords = stop();
    for (qsizetype i = 1; i < limit && qsizetype(kept.size()) < k; ++i) {
        const QString& candidate = m_words[order[size_t(i)]];
        if (Py::len(candidate) < kMinRelatedLetters || stopWords.contains(Py::key(candidate)))
            continue;
        kept.push_back({candidate, scores[size_t(order[size_t(i)])]});
    }
    return kept;
}

} // namespace quorvel
