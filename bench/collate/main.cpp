// The collation matcher (matching blocks and operations) on aligned passages
// of the two transcriptions of Sunan Ibn Majah (sample books 2 and 3) of
// 1,000, 5,000 and 20,000 words, beside a plain longest-common-subsequence
// table over the same token ids (two rows, every cell computed), in the same
// run. Then, untargeted, an adversarial pair: one repeated token against an
// alternating pair, where every position matches everywhere.
//
//   bench_collate [--repeat N] [--adversarial N]
#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "core/Json.h"
#include "core/Py.h"
#include "scholar/SequenceMatcher.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

using namespace quorvel;

namespace {

constexpr int defaultRepeats = 5;
constexpr int defaultAdversarial = 2000;

// The words of a sample book's pages from `firstSeq` on, in order.
QStringList bookWords(const QString& file, int firstSeq)
{
    QStringList words;
    const auto book = Json::parseFile(QStringLiteral(QUORVEL_SOURCE_DIR "/samples/books/") + file);
    if (!book)
        return words;
    for (const auto& page : book->at("pages")) {
        if (page.value("seq", 0) < firstSeq || !page.contains("content") || !page.at("content").is_string())
            continue;
        words += Py::split(Json::qstr(page.at("content").get<std::string>()));
    }
    return words;
}

// LCS length by the full table, two rows at a time.
qsizetype lcsTable(const std::vector<std::int64_t>& a, const std::vector<std::int64_t>& b)
{
    std::vector<qsizetype> previous(b.size() + 1, 0), current(b.size() + 1, 0);
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j)
            current[j] = a[i - 1] == b[j - 1] ? previous[j - 1] + 1 : std::max(previous[j], current[j - 1]);
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// Kept so the operations are not optimised away.
volatile qsizetype opcodeCount = 0;

// Matching blocks and operations, as collation makes them; the words matched.
qsizetype matchAll(const std::vector<std::int64_t>& a, const std::vector<std::int64_t>& b)
{
    const SequenceMatcher matcher(a, b);
    const auto blocks = matcher.matchingBlocks();
    qsizetype matched = 0;
    for (const auto& block : blocks)
        matched += block.size;
    opcodeCount = SequenceMatcher::opcodes(blocks).size();
    return matched;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bench::BenchArgs args(app.arguments());
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);
    const int adversarial = args.number(QStringLiteral("--adversarial"), defaultAdversarial, 2);

    // The second transcription has one more front page.
    const QStringList two = bookWords(QStringLiteral("002.json"), 2);
    const QStringList three = bookWords(QStringLiteral("003.json"), 3);
    std::unordered_map<std::u16string, std::int64_t> ids;
    auto tokens = [&](const QStringList& words, qsizetype n) {
        std::vector<std::int64_t> out;
        for (qsizetype i = 0; i < std::min(n, words.size()); ++i)
            out.push_back(ids.try_emplace(Py::key(words[i]), std::int64_t(ids.size())).first->second);
        return out;
    };

    std::printf("%-12s %8s %8s %12s %12s %8s %10s\n", "pair", "a words", "b words", "matcher ms", "table ms",
                "ratio", "matched");
    for (qsizetype n : {1000, 5000, 20000}) {
        const auto a = tokens(two, n);
        const auto b = tokens(three, n);
        qsizetype matched = 0, lcs = 0;
        const auto ms = bench::medians(repeats, {[&] { matched = matchAll(a, b); }, [&] { lcs = lcsTable(a, b); }});
        std::printf("%-12s %8zu %8zu %12.2f %12.2f %8.3f %5lld/%lld\n", "ibn-majah", a.size(), b.size(), ms[0], ms[1],
                    ms[0] / ms[1], static_cast<long long>(matched), static_cast<long long>(lcs));
    }

    std::vector<std::int64_t> same(static_cast<size_t>(adversarial), 0);
    std::vector<std::int64_t> alternating(static_cast<size_t>(adversarial));
    for (size_t i = 0; i < alternating.size(); ++i)
        alternating[i] = std::int64_t(i % 2);
    qsizetype matched = 0, lcs = 0;
    const auto ms = bench::medians(1, {[&] { matched = matchAll(same, alternating); },
                                       [&] { lcs = lcsTable(same, alternating); }});
    std::printf("%-12s %8d %8d %12.2f %12.2f %8.3f %5lld/%lld\n", "adversarial", adversarial, adversarial, ms[0],
                ms[1], ms[0] / ms[1], static_cast<long long>(matched), static_cast<long long>(lcs));
    return 0;
}
