#pragma once

#include "core/Json.h"

#include <QString>
#include <QStringList>

namespace quorvel::test {

// Builds library databases for tests from books in the corpus JSON format
// (a catalogue with "categories", "authors" and "books", each book's pages
// and table of contents in the file its "file" member names, relative to
// the catalogue).
//
// Books are installed through the local store's installer (each packaged as
// a release would carry it), so `content_norm`, the pages_fts rows (rowid =
// page id), the narrators and their links are exactly what an install makes;
// shingles follow the "localReuse" preference (off unless a test sets it). Page ids run from 1 across the books in
// catalogue order (tests/data: book 1 has pages 1-40, book 2 41-80, book 3
// 81-121), or from a book entry's "first_page_id" on when it has one;
// table-of-contents ids run from 1 the same way.
namespace FixtureLibrary {

// Builds `fileName` in `dir` from `catalogPath` (tests/data/catalog.json when
// empty) and returns the database's path; an empty text when it failed.
QString build(const QString& dir, const QString& catalogPath = {},
              const QString& fileName = QStringLiteral("fixture.db"));

// Installs the books of a catalogue into the existing store at `dbPath` as
// release `release`, as a later download would: a book the store holds is
// replaced by this version. Page ids as in build(), headings numbered after
// the store's; false when it failed.
bool add(const QString& dbPath, const QString& catalogPath, std::int64_t release);

// Creates `fileName` in `dir` with the library schema, runs `statements` on
// it (hand-made rows for a case the corpus lacks) and returns its path; an
// empty text when a statement failed.
QString custom(const QString& dir, const QString& fileName, const QStringList& statements);

// Writes a catalogue or book file in the corpus format; false when it failed.
bool writeJson(const QString& path, const Json::Value& value);

} // namespace FixtureLibrary
} // namespace quorvel::test
