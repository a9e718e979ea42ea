// Trains the word-model pack of the meaning-based search from books in the
// corpus layout (the same source folder the release builder reads):
//
//   quorvel-wordmodel --source <dir> --out <dir> [--dim 200] [--min-count 5] [--max-words 24000]
//
// Words are the pages' text in the search's normal form (Arabic::normalize
// with the letter-shape fold) split at spaces, exactly as the index looks them
// up. The model is the positive pointwise mutual information of words seen
// within five words of each other on the same page (context counts smoothed
// with the exponent 0.75), reduced to `dim` dimensions by a truncated singular
// value decomposition (a randomised range finder with one power iteration,
// then LAPACK on the small projected matrix). Rows are U·√Σ made unit length.
//
// Output: "wordvec.npy" (words × dim, float32) and "vocab.json" ("words",
// "freq" as corpus counts, "dim"). Everything is seeded and single-threaded,
// so the same books always give the same bytes.
#include "core/Arabic.h"
#include "core/Json.h"
#include "distribution/ReleaseWriter.h"
#include "scholar/SmartBuild.h"
#include "scholar/WordCoverage.h"
#include "search/NpyArray.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cblas.h>
#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <unordered_map>
#include <vector>

using namespace quorvel;

namespace {

constexpr int window = 5;
constexpr double contextSmoothing = 0.75;
constexpr int oversampling = 20;
constexpr int powerIterations = 1;
constexpr std::uint64_t seed = 0x51a7e5eedULL;
// Pair keys gathered before they are sorted and folded into the counts.
constexpr size_t pairChunk = size_t(1) << 24;

int fail(const QString& message)
{
    std::fprintf(stderr, "quorvel-wordmodel: %s\n", message.toUtf8().constData());
    return 1;
}

// splitmix64: a small generator whose sequence is fixed by its seed everywhere.
struct Random {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform in (0, 1).
    double uniform() { return (double(next() >> 11) + 0.5) / 9007199254740992.0; }
    double gaussian()
    {
        return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * std::numbers::pi * uniform());
    }
};

// The page texts of every book the source's catalogue lists.
std::optional<std::vector<QString>> readPages(const QString& source)
{
    const auto catalog = Json::parseFile(QDir(source).filePath(QStringLiteral("catalog.json")));
    if (!catalog || !catalog->is_object())
        return std::nullopt;
    std::vector<QString> pages;
    for (const auto& meta : catalog->value("books", Json::Value::array())) {
        const auto file = Json::strictString(meta, "file");
        if (!file)
            return std::nullopt;
        std::optional<ReleaseWriter::Book> book;
        if (file->endsWith(QStringLiteral(".txt"))) {
            // Paged as the release pages it, so the windows never span other pages.
            const auto mushafPages = Json::strictString(meta, "mushaf_pages");
            book = ReleaseWriter::fromQuranText(QDir(source).filePath(*file), meta,
                                                mushafPages ? QDir(source).filePath(*mushafPages) : QString());
        } else if (const auto json = Json::parseFile(QDir(source).filePath(*file))) {
            book = ReleaseWriter::fromCorpus(*json, meta);
        }
        if (!book)
            return std::nullopt;
        for (const auto& page : book->pages)
            pages.push_back(page.content.value_or(QString()));
    }
    return pages;
}

// Sparse rows: the PPMI matrix, words × words.
struct Sparse {
    std::vector<std::int64_t> rowStart; // rows + 1
    std::vector<std::int32_t> col;
    std::vector<double> value;
    std::int32_t rows = 0;
};

// y (rows × k) = M x (cols × k), both row-major.
void times(const Sparse& m, const std::vector<double>& x, std::vector<double>& y, int k)
{
    std::fill(y.begin(), y.end(), 0.0);
    for (std::int32_t r = 0; r < m.rows; ++r) {
        double* out = y.data() + size_t(r) * size_t(k);
        for (std::int64_t e = m.rowStart[size_t(r)]; e < m.rowStart[size_t(r) + 1]; ++e) {
            const double v = m.value[size_t(e)];
            const double* in = x.data() + size_t(m.col[size_t(e)]) * size_t(k);
            for (int j = 0; j < k; ++j)
                out[j] += v * in[j];
        }
    }
}

// y (cols × k) = Mᵀ x (rows × k).
void timesTransposed(const Sparse& m, const std::vector<double>& x, std::vector<double>& y, int k)
{
    std::fill(y.begin(), y.end(), 0.0);
    for (std::int32_t r = 0; r < m.rows; ++r) {
        const double* in = x.data() + size_t(r) * size_t(k);
        for (std::int64_t e = m.rowStart[size_t(r)]; e < m.rowStart[size_t(r) + 1]; ++e) {
            const double v = m.value[size_t(e)];
            double* out = y.data() + size_t(m.col[size_t(e)]) * size_t(k);
            for (int j = 0; j < k; ++j)
                out[j] += v * in[j];
        }
    }
}

// Replaces the rows × k matrix a with an orthonormal basis of its columns.
bool orthonormalise(std::vector<double>& a, int rows, int k)
{
    std::vector<double> tau(static_cast<size_t>(k));
    return LAPACKE_dgeqrf(LAPACK_ROW_MAJOR, rows, k, a.data(), k, tau.data()) == 0
        && LAPACKE_dorgqr(LAPACK_ROW_MAJOR, rows, k, k, a.data(), k, tau.data()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString& name, const QString& fallback = {}) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const QString source = option(QStringLiteral("--source"));
    const QString out = option(QStringLiteral("--out"));
    bool dimOK = false, minOK = false, maxOK = false;
    const int dim = option(QStringLiteral("--dim"), QStringLiteral("200")).toInt(&dimOK);
    const int minCount = option(QStringLiteral("--min-count"), QStringLiteral("5")).toInt(&minOK);
    const int maxWords = option(QStringLiteral("--max-words"), QStringLiteral("24000")).toInt(&maxOK);
    if (source.isEmpty() || out.isEmpty() || !dimOK || !minOK || !maxOK || dim < 1 || minCount < 1
        || maxWords < 1)
        return fail(QStringLiteral("usage: quorvel-wordmodel --source <dir> --out <dir> [--dim 200] "
                                   "[--min-count 5] [--max-words 24000]"));
    // One thread: the products then sum in one fixed order, so the bytes repeat.
    openblas_set_num_threads(1);
    QElapsedTimer timer;
    timer.start();

    const auto pages = readPages(source);
    if (!pages)
        return fail(QStringLiteral("cannot read the books listed in ") + source + QStringLiteral("/catalog.json"));

    // Words of every page, in the index's normal form.
    std::vector<std::vector<QString>> pageWords;
    pageWords.reserve(pages->size());
    std::unordered_map<QString, std::int64_t> counts;
    for (const QString& text : *pages) {
        QStringList words = Arabic::normalize(text, true).split(u' ', Qt::SkipEmptyParts);
        for (const QString& w : words)
            ++counts[w];
        pageWords.emplace_back(words.begin(), words.end());
    }

    // The vocabulary: frequent words, most frequent first, ties by code units.
    std::vector<std::pair<QString, std::int64_t>> kept;
    for (const auto& [word, count] : counts)
        if (count >= minCount)
            kept.emplace_back(word, count);
    std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    if (kept.size() > size_t(maxWords))
        kept.resize(size_t(maxWords));
    // The pack must pass the check a library makes of it before it builds
    // vectors with it: its words cover enough of the pages' words.
    double occurrenceShare = 0, distinctShare = 0;
    {
        QStringList modelWords;
        for (const auto& entry : kept)
            modelWords << entry.first;
        WordCoverage coverage(modelWords);
        for (const QString& text : *pages)
            coverage.see(SmartBuild::embeddedText(text));
        if (!coverage.enough())
            return fail(QStringLiteral("the %1 words kept cover %2% of the words on the pages and %3% of the "
                                       "distinct words: too few for a search by meaning")
                            .arg(kept.size())
                            .arg(100 * coverage.occurrenceShare(), 0, 'f', 1)
                            .arg(100 * coverage.distinctShare(), 0, 'f', 2));
        occurrenceShare = coverage.occurrenceShare();
        distinctShare = coverage.distinctShare();
    }
    const auto vocabulary = std::int32_t(kept.size());
    const int k = std::min<int>(dim + oversampling, vocabulary);
    if (vocabulary < dim + 1)
        return fail(QStringLiteral("the books give %1 words, too few for %2 dimensions").arg(vocabulary).arg(dim));
    std::unordered_map<QString, std::int32_t> idOf;
    for (std::int32_t i = 0; i < vocabulary; ++i)
        idOf.emplace(kept[size_t(i)].first, i);

    // Co-occurrence counts within the window, both directions, one page at a time.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> pairCounts; // sorted by key
    std::vector<std::uint64_t> chunk;
    chunk.reserve(pairChunk);
    auto fold = [&] {
        std::sort(chunk.begin(), chunk.end());
        std::vector<std::pair<std::uint64_t, std::uint32_t>> merged;
        merged.reserve(pairCounts.size() + chunk.size() / 4);
        size_t a = 0, b = 0;
        while (a < pairCounts.size() || b < chunk.size()) {
            if (b == chunk.size() || (a < pairCounts.size() && pairCounts[a].first < chunk[b])) {
                merged.push_back(pairCounts[a++]);
                continue;
            }
            const std::uint64_t key = chunk[b];
            std::uint32_t n = 0;
            while (b < chunk.size() && chunk[b] == key) {
                ++n;
                ++b;
            }
            if (a < pairCounts.size() && pairCounts[a].first == key)
                n += pairCounts[a++].second;
            merged.emplace_back(key, n);
        }
        pairCounts = std::move(merged);
        chunk.clear();
    };
    std::vector<std::int32_t> ids;
    for (const auto& words : pageWords) {
        ids.clear();
        for (const QString& w : words)
            if (const auto it = idOf.find(w); it != idOf.end())
                ids.push_back(it->second);
        for (size_t i = 0; i < ids.size(); ++i) {
            for (size_t j = i + 1; j < ids.size() && j <= i + window; ++j) {
                chunk.push_back(std::uint64_t(ids[i]) << 32 | std::uint32_t(ids[j]));
                chunk.push_back(std::uint64_t(ids[j]) << 32 | std::uint32_t(ids[i]));
            }
            if (chunk.size() + 2 * window > pairChunk)
                fold();
        }
    }
    fold();
    pageWords.clear();

    // PPMI with the smoothed context distribution.
    std::vector<double> rowSum(size_t(vocabulary), 0.0), colSum(size_t(vocabulary), 0.0);
    double total = 0;
    for (const auto& [key, n] : pairCounts) {
        rowSum[size_t(key >> 32)] += n;
        colSum[size_t(key & 0xffffffffu)] += n;
        total += n;
    }
    double smoothedTotal = 0;
    for (double c : colSum)
        smoothedTotal += std::pow(c, contextSmoothing);
    Sparse m;
    m.rows = vocabulary;
    m.rowStart.assign(size_t(vocabulary) + 1, 0);
    for (const auto& [key, n] : pairCounts) {
        const auto w = std::int32_t(key >> 32), c = std::int32_t(key & 0xffffffffu);
        const double pmi = std::log((double(n) / total)
                                    / ((rowSum[size_t(w)] / total)
                                       * (std::pow(colSum[size_t(c)], contextSmoothing) / smoothedTotal)));
        if (pmi > 0) {
            m.col.push_back(c);
            m.value.push_back(pmi);
            ++m.rowStart[size_t(w) + 1];
        }
    }
    for (size_t r = 0; r < size_t(vocabulary); ++r)
        m.rowStart[r + 1] += m.rowStart[r];
    const auto nonZero = m.value.size();
    pairCounts.clear();
    pairCounts.shrink_to_fit();

    // Randomised range finder: Q spans M Ω, refined by one power iteration.
    Random random{seed};
    std::vector<double> omega(size_t(vocabulary) * size_t(k));
    for (double& x : omega)
        x = random.gaussian();
    std::vector<double> q(size_t(vocabulary) * size_t(k)), z(size_t(vocabulary) * size_t(k));
    times(m, omega, q, k);
    if (!orthonormalise(q, vocabulary, k))
        return fail(QStringLiteral("the QR factorisation failed"));
    for (int i = 0; i < powerIterations; ++i) {
        timesTransposed(m, q, z, k);
        if (!orthonormalise(z, vocabulary, k))
            return fail(QStringLiteral("the QR factorisation failed"));
        times(m, z, q, k);
        if (!orthonormalise(q, vocabulary, k))
            return fail(QStringLiteral("the QR factorisation failed"));
    }
    // B = Qᵀ M (k × words), kept as its transpose Mᵀ Q; its SVD gives M's.
    timesTransposed(m, q, z, k);
    std::vector<double> b(size_t(k) * size_t(vocabulary));
    for (std::int32_t c = 0; c < vocabulary; ++c)
        for (int j = 0; j < k; ++j)
            b[size_t(j) * size_t(vocabulary) + size_t(c)] = z[size_t(c) * size_t(k) + size_t(j)];
    std::vector<double> sigma(static_cast<size_t>(k)), ub(size_t(k) * size_t(k)), vt(size_t(k) * size_t(vocabulary));
    if (LAPACKE_dgesdd(LAPACK_ROW_MAJOR, 'S', k, vocabulary, b.data(), vocabulary, sigma.data(), ub.data(), k,
                       vt.data(), vocabulary)
        != 0)
        return fail(QStringLiteral("the singular value decomposition failed"));
    // U = Q Ub, the first dim columns.
    std::vector<double> u(size_t(vocabulary) * size_t(k));
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, vocabulary, k, k, 1.0, q.data(), k, ub.data(), k, 0.0,
                u.data(), k);

    // Each direction's sign fixed by its largest entry, then U·√Σ in unit rows.
    std::vector<double> sign(size_t(dim), 1.0);
    for (int j = 0; j < dim; ++j) {
        double largest = 0;
        for (std::int32_t r = 0; r < vocabulary; ++r) {
            const double x = u[size_t(r) * size_t(k) + size_t(j)];
            if (std::fabs(x) > std::fabs(largest))
                largest = x;
        }
        sign[size_t(j)] = largest < 0 ? -1.0 : 1.0;
    }
    QByteArray body(qsizetype(vocabulary) * dim * qsizetype(sizeof(float)), Qt::Uninitialized);
    auto* rows = reinterpret_cast<float*>(body.data());
    for (std::int32_t r = 0; r < vocabulary; ++r) {
        std::vector<double> row(static_cast<size_t>(dim));
        double norm = 0;
        for (int j = 0; j < dim; ++j) {
            row[size_t(j)] = sign[size_t(j)] * u[size_t(r) * size_t(k) + size_t(j)] * std::sqrt(sigma[size_t(j)]);
            norm += row[size_t(j)] * row[size_t(j)];
        }
        norm = std::sqrt(norm);
        for (int j = 0; j < dim; ++j)
            rows[size_t(r) * size_t(dim) + size_t(j)] = norm > 0 ? float(row[size_t(j)] / norm) : 0.0f;
    }

    QDir().mkpath(out);
    QString error;
    if (!NpyArray::write(QDir(out).filePath(QStringLiteral("wordvec.npy")), NpyArray::floatDescr,
                         {vocabulary, dim}, body, &error))
        return fail(error);
    Json::Value vocab = Json::Value::object();
    Json::Value words = Json::Value::array();
    Json::Value freq = Json::Value::array();
    for (const auto& [word, count] : kept) {
        words.push_back(Json::utf8(word));
        freq.push_back(count);
    }
    vocab["words"] = std::move(words);
    vocab["freq"] = std::move(freq);
    vocab["dim"] = dim;
    if (QString why; !ReleaseWriter::writeFile(out, QStringLiteral("vocab.json"), Json::dumpBytes(vocab), &why))
        return fail(QStringLiteral("cannot write vocab.json into ") + out + QStringLiteral(": ") + why);
    std::printf("word model: %d words × %d from %zu pages (%zu non-zero PPMI cells; %.1f%% of the words on the "
                "pages, %.2f%% of the distinct words) in %.1fs\n",
                vocabulary, dim, pages->size(), nonZero, 100 * occurrenceShare, 100 * distinctShare,
                double(timer.elapsed()) / 1000.0);
    return 0;
}
