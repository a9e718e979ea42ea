#pragma once

// The install of one book of an accepted release into the local store, in
// the order its stages run: read the package (fetch it to disk, check its
// size and digest, inflate it into a locked temporary file, open it), then,
// in one transaction of the store, take out the version it replaces, write
// the catalogue rows, write the pages with their bounds checked (narrators
// and reuse shingles beside them), read the headings and prove the content
// root, write the page index and the full-text rows, write the headings and
// commit.
//
// A refusal throws Dist::DistError with the reader's sentence; a network,
// file or decompression failure throws Dist::PlatformError. Either way the
// store keeps the previous version whole. Blocks: run it off the GUI thread,
// one install at a time per store.

#include "distribution/Dist.h"

#include <QUrl>

#include <cstdint>

namespace quorvel {

class SQLiteDB;

namespace BookInstall {

// Installs `book` of `release` from `base` into the store open on `store`,
// replacing any installed version (LocalStore::install).
void run(SQLiteDB& store, const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
         const QUrl& base);

// Deletes the package files killed installs left in the temporary folder,
// sparing those a running install holds; returns how many went.
int removeLeftoverPackages();

// One book's rows in the tables that are not full-text.
inline constexpr const char* plainDeletes[] = {
    "DELETE FROM pages WHERE book_id=?",       "DELETE FROM toc WHERE book_id=?",
    "DELETE FROM isnad_edges WHERE book_id=?", "DELETE FROM shingles WHERE book_id=?",
    "DELETE FROM books WHERE id=?",            "DELETE FROM installed WHERE book_id=?",
};

} // namespace BookInstall
} // namespace quorvel
