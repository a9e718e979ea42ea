#pragma once

// Libraries for the search tests: the tests/data corpus, or small corpora
// written on the fly from real text, built through the shared fixture builder.

#include "core/Library.h"
#include "search/SearchEngine.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

namespace quorvel {

// Readable failure messages for lists of hits: found by argument lookup.
void PrintTo(const SearchHit& hit, std::ostream* os);

} // namespace quorvel

namespace quorvel::test {

struct FixtureBook {
    std::int64_t id = 0;
    QString title;
    QStringList pages;                   // page texts, seq 1..n
    QList<QPair<QString, int>> toc;      // title, page sequence
    std::int64_t firstPageId = 0;        // 0: after the previous book's pages
};

// A built library in its own temporary folder.
struct SearchLibrary {
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    std::shared_ptr<Library> lib;
};

// The tests/data corpus (books 1-3; catalogName picks another catalogue
// under tests/data, such as "reading/catalog.json").
SearchLibrary corpusLibrary(const QString& catalogName = QStringLiteral("catalog.json"));
// A library of the given books.
SearchLibrary customLibrary(const QList<FixtureBook>& books);
// The pages of a corpus book (tests/data/books/<id>), with footnotes under
// every third page (the next page's opening words).
QStringList footnotedPages(int id);
// The corpus books so footnoted, and a book of pages whose hamza forms,
// marks, glued numbers and footnote lines the comparisons turn on.
SearchLibrary footnotedLibrary();
// Installs the books into the library's store as release `release`, as a
// later download would (a book it holds is replaced); false when it failed.
bool installBooks(const SearchLibrary& lib, const QList<FixtureBook>& books, std::int64_t release);

// The tests/data corpus under other book ids (old id → new id), each book's
// page ids starting at its new id × 100,000 + 1 as a release numbers them.
SearchLibrary corpusLibraryWithBookIds(const QHash<std::int64_t, std::int64_t>& newIds);

// Every hit of a run, and how the run handed them over.
struct RunResult {
    QList<SearchHit> pages;
    QList<SearchHit> titles;
    QList<SearchHit> notes;
    QList<int> batchSizes;  // sizes of the page batches
    int calls = 0;          // every call, the final one included
    int doneCalls = 0;
    bool doneLast = false;  // the final call was last and empty
};
RunResult runQuery(SearchEngine& engine, const SearchQuery& q, int limit = SearchEngine::defaultLimit);

// Writes beside the meaning-search files in `dir` the stamp of the model
// they were made with, as the vector builder does last; false when it failed.
bool stampModel(const QString& dir);

// A default query of the given and-phrases.
SearchQuery phrases(const QStringList& ands);

} // namespace quorvel::test
