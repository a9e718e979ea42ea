#pragma once

#include <cstdint>

namespace quorvel {

// A page a search run found, before it is checked and handed over: where it
// reads in the library (its book's display order, its sequence) and how it
// was found.
struct SearchCandidate {
    std::int64_t order;
    std::int64_t seq;
    std::int64_t pid;
    std::int64_t bid;
    bool verify;
    bool indexed = false; // found as final by the page index's own rows
};

} // namespace quorvel
