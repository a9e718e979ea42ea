#pragma once

// The search benchmark tool ("--search-cli"): runs search requests against a
// library database and prints one JSON line per request with hit counts,
// timings and the first hits. It also audits highlights, checks the stored
// normal form of pages against this program's normaliser, and normalises
// lines read from standard input.
//
// It never touches the user's own data: before anything reads the support
// folder or the user database it moves both into a sandbox, and it refuses
// to run when the support folder would still be the real one.

#include "search/SearchQuery.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quorvel {

class Library;

namespace SearchCLI {

// The SplitMix64 generator.
struct SplitMix {
    std::uint64_t s = 0;
    std::uint64_t next();
};

// FNV-1a 64 of the text's UTF-8 bytes, lowercase hexadecimal without leading zeros.
QString fnv(const QString& text);

// Most pages a parity check samples.
inline constexpr std::int64_t maxParitySample = 1000000;

// The page ids a parity check samples from [lo, hi]: min(n, span, cap) distinct
// ids drawn with SplitMix64 from `seed`, in ascending order; none when n or
// the span is not positive.
QList<std::int64_t> paritySample(std::int64_t lo, std::int64_t hi, std::int64_t n, std::uint64_t seed);

// A whole number as the tool reads its options: decimal, an optional sign,
// nothing else, within range.
std::optional<std::int64_t> wholeNumber(const QString& text);
std::optional<std::uint64_t> unsignedWholeNumber(const QString& text);

// A request line: a JSON object holding any of the request's keys over the
// default request. Nothing when the line is not an object or a known key has
// a value of the wrong type. Keys the request does not know are ignored and,
// when asked, listed in `unknown`.
std::optional<SearchQuery> parseQuery(const QString& line, QStringList* unknown = nullptr);

// The guard: whether a support folder lies inside the real home.
bool refuses(const QString& supportDir, const QString& realHome);

// Runs the tool over the process's full argument list; returns the exit status.
int run(const QStringList& arguments);

} // namespace SearchCLI
} // namespace quorvel
