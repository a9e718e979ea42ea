#pragma once

// The index structures beside `pages_fts` that let a search decide what
// `pages_fts` alone cannot, without reading a page per hit:
//
//   page_forms  a contentless FTS5 table over the hamza-keeping form of each
//               page (the normal form with the written alef forms أ إ آ kept),
//               one column for the main text, one for the footnotes and a
//               "seam" column holding the last and first words around the
//               footnote line, so that a phrase crossing it is still found;
//   page_terms  every (index term, hamza-keeping form) pair with the number of
//               pages holding it and the term reversed, so that the index
//               vocabulary is read by range (also for a leading wildcard)
//               and a term is mapped to the forms it is written in;
//   page_marks  every word of a page that carries marks, as its normal term,
//               its written form (alef forms and marks kept) and the page,
//               so that a search that compares marks finds its pages by the
//               forms that carry the marks asked for, without reading them.
//
// The installer fills them page by page through a Writer; a store made before
// them gets them by build(), in batches that each commit, so that an
// interruption keeps what was done. `meta` records the state: the version
// once complete, else the id of the last page indexed. Until complete, the
// index holds exactly the pages up to that id and searches do not use it.

#include "core/Arabic.h"
#include "core/SQLiteDB.h"

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quorvel {

namespace PageIndex {

// Bumped when what is stored for a page changes; a store with another
// version is indexed again.
inline constexpr int version = 4;
// Words on each side of the footnote line that the seam column repeats: a
// phrase or NEAR group of at most seamWords + 1 words is found across it.
inline constexpr int seamWords = 16;

inline constexpr const char* formsTable = "page_forms";

// Creates the tables when missing, and the triggers that count changes
// (replacing an earlier build's). A store that holds pages without the
// tables is left to build(); an empty one is complete at once. False when a
// statement failed.
bool createSchema(SQLiteDB& db);

// What a search reads before it uses the index, in one statement: whether
// it is complete, and whether sampleAgrees() found it whole and nothing
// changed since: no row of the index, the full-text tables or the pages, no
// table or trigger (then the search takes it as found whole without a
// sample).
struct State {
    bool ready = false;
    bool whole = false;
};
State state(SQLiteDB& db);
// The same read through `st`, the statement of stateQuery kept compiled by
// its caller; left reset.
State state(Statement& st);
// A counted change drops the mark; a writer's row cannot be seen beside
// one. A dropped trigger changes the schema version the mark was set under,
// and any write to the forms' full-text table their structure record, which
// FTS5 rewrites at every change of its segments (read, never watched; only
// beside a mark, so that damage there meets the search's own statements).
inline constexpr const char* stateQuery =
    "SELECT (SELECT value FROM meta WHERE key='page_index'), "
    "(SELECT value FROM meta WHERE key='page_index_checked'), "
    "(SELECT schema_version FROM pragma_schema_version), "
    "CASE WHEN EXISTS (SELECT 1 FROM meta WHERE key='page_index_checked') "
    "THEN (SELECT hex(block) FROM page_forms_data WHERE id=10) END";
// Whether the index is complete for this version (on any connection).
inline bool ready(SQLiteDB& db)
{
    return state(db).ready;
}

// The hamza-keeping form of a text: its normal form without rasm folding,
// each alef written as أ, إ or آ in the text kept as written.
QString formsOf(const QString& text);
// What page_forms holds for a page: the forms of its main text and of its
// footnotes, and the seam between them.
struct Columns {
    QString matn, hawashi, seam;
};
Columns columnsOf(const QString& content);
// A page's rows in the index as its content alone gives them: its columns
// and its marked words (normal term, written form), each once. Pure: the
// installer makes them on its worker threads.
struct PageRow : Columns {
    QList<std::pair<QString, QString>> marked;
};
PageRow pageRow(const QString& content);
// The rich letters a word of that form carries, as Arabic::richWords gives
// them without marks.
QList<Arabic::RichLetter> letters(const QString& form);
// A word's letters as page_marks writes them: each letter in its written
// alef form or normal form, followed by its marks; markedLetters reads them
// back unchanged.
QString markedForm(const QList<Arabic::RichLetter>& letters);
QList<Arabic::RichLetter> markedLetters(const QString& form);
// Whether a word holds letters of another script than Arabic (Latin,
// Cyrillic, …): letters the tokenizer may fold, which carry no hamza or
// marks the search compares.
bool foreign(QStringView word);
// A query word, or a page word to compare with one, as the full-text tables
// hold its terms: each run between wildcards ('*', '?') that holds foreign
// letters put through the tokenizer where that makes one term of it
// (capitals lower-cased, accents dropped); the word itself otherwise.
QString queryTerm(const QString& word);
// Whether a row of page_terms, or of page_marks (its form with marks),
// holds the term its form gives: false for a row that damage changed, true
// also where the form does not tell (a word the tokenizer splits or folds).
bool rowAgrees(const QString& term, const QString& form);
// The key of a term in the reversed order: the term without a number glued
// to its end, reversed.
QString reversedKey(const QString& term);

// Fills the index for one book inside the installer's transaction: remove()
// the pages of a version it replaces, add() every page, then finish(). Pages
// past the build's progress are left to the build. Does nothing on a store
// without the tables.
class Writer {
public:
    explicit Writer(SQLiteDB& db);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Whether add() writes rows for this page: pages past the build's
    // progress are left to the build, and so are all when the index has no
    // tables or no progress yet.
    bool keeps(std::int64_t pageId) const;
    // Writes a page's rows, made by pageRow(). False when a write failed.
    bool add(std::int64_t pageId, const PageRow& row);
    // Takes out a page of the book's earlier version, before its id is added
    // again; its term counts are settled with the new ones by finish().
    bool remove(std::int64_t pageId, const QString& content);
    // Writes the book's term counts; false when a write failed.
    bool finish();

private:
    struct State;
    std::unique_ptr<State> d;
};

// Takes one book's pages out of the index (before the pages themselves are
// deleted, in the same transaction). False when a write failed.
bool removeBook(SQLiteDB& db, std::int64_t bookId);

// Whether the term and mark tables hold as many rows as their writers put
// in them (the sum of the term counts, the marked-word rows: a row lost on
// any page leaves them short), and the rows of a few pages spread over the
// library agree with their text: each holds, in its section, some of the page's words with their
// term rows and every marked word the page carries, and none of another
// sampled page's words it lacks. False on a disagreement (damaged rows);
// true also when the pages or the rows cannot be read, which the statements
// of a search then meet. For a complete index. False also for a writer's
// row left in the store, whose writes were not counted, and for a store
// without every counting trigger of this build. Found whole, and the
// full-text table's own check finding its segments sound, the index is
// marked so and taken as whole at once until anything changes; `marked`,
// when given, says whether the store holds that mark.
bool sampleAgrees(SQLiteDB& db, int pages = 8, bool* marked = nullptr);

// Takes a damaged index out of use after a statement over it failed (not
// for a cancel): its state is cleared on a writing connection of its own to
// the database at `dbPath`, so that searches take the page check and the
// next build starts it over. Says so once per process and database on
// stderr. False when the state could not be cleared (a read-only store).
bool distrust(const QString& dbPath);

// Called after every batch with the pages indexed so far and all pages;
// returning false stops the build after that batch.
using Progress = std::function<bool(std::int64_t done, std::int64_t total)>;
enum class Build { complete, stopped, failed };
// Brings the index of an existing store up to date, batch by batch; each
// batch is one transaction. A store already complete returns at once. On
// failure `why`, when given, receives the store's reason (another writer
// holding it, a read-only file, a full disk), when it gave one.
Build build(SQLiteDB& db, const Progress& progress = {}, int batchPages = 2000,
            std::optional<SQLFailure>* why = nullptr);

} // namespace PageIndex
} // namespace quorvel
