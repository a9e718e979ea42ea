// Meaning-based scoring time over a page matrix of random unit vectors
// (fixed seed) written to a temporary smart data directory and loaded with
// SemanticIndex::load. Beside SemanticIndex::similarities and vectorTopK
// (k = 300) it times, on the same mapped matrix, the raw cblas_sgemv that
// does the same product, and a plain streaming read of the same bytes
// (summed as 64-bit integers), so that the figures are ratios. Warm timings:
// one untimed pass first, then the median of the runs, the pieces taking
// turns.
//
//   bench_vectors [--rows N] [--dim D] [--repeat N]

#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "core/Json.h"
#include "search/NpyArray.h"
#include "search/SemanticIndex.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

extern "C" char* openblas_get_corename(void);
extern "C" int openblas_get_num_threads(void);

using namespace quorvel;

namespace {

constexpr int defaultRows = 500'000;
constexpr int defaultDim = 200;
constexpr int defaultRepeats = 9;
constexpr int topK = 300;
constexpr int vocabularySize = 64;
constexpr std::uint32_t seed = 20240607;
// Rows generated and written at a time, so the matrix is never held twice.
constexpr int chunkRows = 4096;


void unit(std::vector<float>& v, std::mt19937& rng)
{
    std::normal_distribution<float> normal;
    double norm = 0;
    for (float& x : v) {
        x = normal(rng);
        norm += double(x) * x;
    }
    for (float& x : v)
        x = float(x / std::sqrt(norm));
}

// The four files of a smart data directory: `rows` random unit page vectors
// and a small random word model of the same width.
bool writeDirectory(const QString& dir, int rows, int dim)
{
    std::mt19937 rng(seed);
    QFile vecs(dir + "/vecs.npy");
    if (!vecs.open(QIODevice::WriteOnly) || vecs.write(NpyArray::header(NpyArray::floatDescr, {rows, dim})) <= 0)
        return false;
    std::vector<float> row(static_cast<size_t>(dim));
    std::vector<float> chunk;
    for (int r = 0; r < rows; r += chunkRows) {
        chunk.clear();
        for (int i = r; i < std::min(rows, r + chunkRows); ++i) {
            unit(row, rng);
            chunk.insert(chunk.end(), row.begin(), row.end());
        }
        const auto bytes = qint64(chunk.size() * sizeof(float));
        if (vecs.write(reinterpret_cast<const char*>(chunk.data()), bytes) != bytes)
            return false;
    }
    vecs.close();

    std::vector<std::int64_t> ids(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        ids[size_t(r)] = r + 1;
    std::vector<float> words;
    QStringList vocabulary;
    Json::Value freq = Json::Value::array();
    for (int w = 0; w < vocabularySize; ++w) {
        unit(row, rng);
        words.insert(words.end(), row.begin(), row.end());
        vocabulary << QStringLiteral("word%1").arg(w);
        freq.push_back(w + 1);
    }
    Json::Value vocab = Json::Value::object();
    vocab["words"] = Json::toJson(vocabulary);
    vocab["freq"] = freq;
    vocab["dim"] = dim;
    QFile json(dir + "/vocab.json");
    if (!json.open(QIODevice::WriteOnly) || json.write(Json::dumpBytes(vocab)) <= 0)
        return false;
    json.close();
    if (!NpyArray::write(dir + "/vec_ids.npy", NpyArray::intDescr, {rows},
                         QByteArray(reinterpret_cast<const char*>(ids.data()), qsizetype(ids.size() * 8)))
        || !NpyArray::write(dir + "/wordvec.npy", NpyArray::floatDescr, {vocabularySize, dim},
                            QByteArray(reinterpret_cast<const char*>(words.data()), qsizetype(words.size() * 4))))
        return false;
    // The stamp of the model the page vectors were made with, as the builder writes it.
    const QByteArray stamp = SemanticIndex::modelStamp(dir);
    QFile stampFile(dir + "/" + SemanticIndex::modelStampFile);
    return !stamp.isEmpty() && stampFile.open(QIODevice::WriteOnly) && stampFile.write(stamp) == stamp.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); i += 2) {
        if ((args[i] != "--rows" && args[i] != "--dim" && args[i] != "--repeat") || i + 1 >= args.size()) {
            std::fprintf(stderr, "usage: bench_vectors [--rows N] [--dim D] [--repeat N]\n");
            return 2;
        }
    }
    const bench::BenchArgs options(args);
    const int rows = options.number("--rows", defaultRows, 1);
    const int dim = options.number("--dim", defaultDim, 1);
    const int repeats = options.number("--repeat", defaultRepeats, 1);

    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    if (!dir.isValid() || !writeDirectory(dir.path(), rows, dim)) {
        std::fprintf(stderr, "cannot write the vector files\n");
        return 1;
    }
    const double writeMs = double(timer.elapsed());
    timer.restart();
    const auto index = SemanticIndex::load(dir.path());
    if (!index) {
        std::fprintf(stderr, "cannot load the written directory\n");
        return 1;
    }
    const double loadMs = double(timer.nsecsElapsed()) / 1e6;
    const double bytes = double(rows) * dim * sizeof(float);
    std::printf("matrix: %d x %d floats (%.0f MB), written in %.0f ms, loaded in %.2f ms\n", rows, dim,
                bytes / 1e6, writeMs, loadMs);
    std::printf("OpenBLAS core: %s, threads: %d; median of %d warm runs\n\n", openblas_get_corename(),
                openblas_get_num_threads(), repeats);

    std::mt19937 rng(seed + 1);
    std::vector<float> query(static_cast<size_t>(dim));
    unit(query, rng);

    const float* matrix = index->vecs().withFloats([](const float* p) { return p; }).value_or(nullptr);
    if (!matrix) {
        std::fprintf(stderr, "the page matrix is not readable in place\n");
        return 1;
    }
    std::vector<float> raw(static_cast<size_t>(rows));
    std::vector<float> scores;
    std::vector<SemanticIndex::PageScore> best;
    volatile std::uint64_t sink = 0;
    const auto t = bench::medians(repeats, {
        [&] { scores = index->similarities(query); },
        [&] { best = index->vectorTopK(query, topK); },
        [&] {
            cblas_sgemv(CblasRowMajor, CblasNoTrans, rows, dim, 1.0f, matrix, dim, query.data(), 1, 0.0f,
                        raw.data(), 1);
        },
        [&] {
            const auto* words = reinterpret_cast<const std::uint64_t*>(matrix);
            const size_t n = size_t(bytes) / sizeof(std::uint64_t);
            std::uint64_t sum = 0;
            for (size_t i = 0; i < n; ++i)
                sum += words[i];
            sink = sink + sum;
        },
    });
    const double similaritiesMs = t[0], topKMs = t[1], sgemvMs = t[2], streamMs = t[3];
    auto rate = [&](double ms) { return ms > 0 ? bytes / (ms / 1e3) / 1e9 : 0.0; };
    std::printf("%-22s %10s %10s %12s\n", "operation", "ms", "GB/s", "vs sgemv");
    std::printf("%-22s %10.2f %10.2f %12.2f\n", "similarities", similaritiesMs, rate(similaritiesMs),
                similaritiesMs / sgemvMs);
    std::printf("%-22s %10.2f %10.2f %12.2f\n", "vectorTopK k=300", topKMs, rate(topKMs), topKMs / sgemvMs);
    std::printf("%-22s %10.2f %10.2f %12.2f\n", "raw cblas_sgemv", sgemvMs, rate(sgemvMs), 1.0);
    std::printf("%-22s %10.2f %10.2f %12.2f\n", "streaming read", streamMs, rate(streamMs), streamMs / sgemvMs);

    const double similaritiesRatio = similaritiesMs / sgemvMs;
    const double topKRatio = topKMs / sgemvMs;
    const double streamShare = rate(similaritiesMs) / rate(streamMs);
    std::printf("\nsimilarities / sgemv      %.2f  (target <= 1.10) %s\n", similaritiesRatio,
                similaritiesRatio <= 1.1 ? "met" : "MISSED");
    std::printf("vectorTopK / sgemv        %.2f  (target <= 1.20) %s\n", topKRatio, topKRatio <= 1.2 ? "met" : "MISSED");
    std::printf("similarities / stream B/s %.2f  (target >= 0.50) %s\n", streamShare,
                streamShare >= 0.5 ? "met" : "MISSED");

    // The scores agree with the raw product, and the best page is the best raw row.
    double worst = 0;
    for (int r = 0; r < rows; ++r)
        worst = std::max(worst, double(std::fabs(scores[size_t(r)] - raw[size_t(r)])));
    const auto top = std::max_element(raw.begin(), raw.end()) - raw.begin();
    std::printf("largest score difference from sgemv: %g; best page %lld (raw row %lld)\n", worst,
                best.empty() ? -1LL : (long long)best.front().pageId, (long long)top + 1);
    return 0;
}
