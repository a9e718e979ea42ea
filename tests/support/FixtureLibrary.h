#pragma once

#include <QString>

namespace quorvel::test {

// Builds library databases for tests from books in the corpus JSON format
// (a catalogue with "categories", "authors" and "books", each book's pages
// and table of contents in the file its "file" member names, relative to
// the catalogue).
//
// Pages are stored as the installer stores them: `content` as given,
// `content_norm` = Arabic::normalize(content, true) and one pages_fts row per
// page whose rowid is the page id. Page ids run from 1 across the books in
// catalogue order (tests/data: book 1 has pages 1-40, book 2 41-80, book 3
// 81-121); table-of-contents ids run from 1 the same way.
namespace FixtureLibrary {

// Builds `fileName` in `dir` from `catalogPath` (tests/data/catalog.json when
// empty) and returns the database's path; an empty text when it failed.
QString build(const QString& dir, const QString& catalogPath = {},
              const QString& fileName = QStringLiteral("fixture.db"));

} // namespace FixtureLibrary
} // namespace quorvel::test
