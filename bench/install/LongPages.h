#pragma once

// The peak memory of installing one book whose pages are all at the length
// bound, beside the peak of inserting the same pages bare (their text and
// normal form, the full-text rows) into a store of its own. Each is measured
// in a child process of its own, as the rise of its resident set at its peak.

namespace quorvel::bench {

// Prints the two peaks and the install's time for a book of `pages` pages;
// 0, or 1 when a child failed.
int longPagesPeak(int pages);

} // namespace quorvel::bench
