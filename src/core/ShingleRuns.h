#pragma once

// The text-reuse shingles by hash. A single index of every shingle's hash
// makes each installed book touch a leaf of it per shingle once it outgrows
// the page cache, so installs grow slower with the library. Instead the
// installer writes a lookup copy of each row into the newest of a few runs,
// each sorted by hash: a book writes only into the small newest run, and
// full runs are merged, eight of one level into one of the next, so that a
// lookup reads a handful of runs. A merge is written a part at a time by
// the installs after it began, each copying rows in proportion to its own,
// so that no install waits for a whole merge; until its output is whole it
// is read by no lookup and its runs stay live, then it takes their place in
// one step. Each part commits with its install: a failed or killed install
// leaves the merge where the one before left it. The first level's runs
// have two tables of their own that take turns, each cleared whole once its
// runs are merged; the merged runs of the levels above are deleted a part
// at a time. Readers ask the `shingle_hashes` view, which reads every live
// run in the three tables. (Rows changed or removed in the table leave the
// runs, and the merges being written, through its triggers; one on insert
// would put every shingle the installer writes under a statement journal.)

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quorvel {

class SQLiteDB;

namespace ShingleRuns {

// What readers look shingles up by hash in: the view, or the table itself
// in a library written before the runs existed and not yet opened for
// writing since.
QString lookup(SQLiteDB& db);

// The tables the runs lie in: the levels above the first and the merges
// being written, then the first level's two.
const QStringList& runTables();

// The run the installer writes a book's shingles to, and the table it
// lies in; never a merge's output.
std::optional<std::int64_t> openRun(SQLiteDB& db);
std::optional<QString> openTable(SQLiteDB& db);

// Called by the installer inside a book's transaction, after the book's
// `added` shingles: closes the newest run once it is full and opens a new
// one, begins merging full runs, and moves each merge being written and the
// deletion of merged rows forward by a part the size of `added`. False when
// a statement failed.
bool settle(SQLiteDB& db, std::int64_t added);

// Makes the runs anew from the table, for rows written there other than by
// the installer (test libraries, a program that predates the runs); inside
// the caller's transaction when one is open.
bool rebuild(SQLiteDB& db);

// Opens the first run of a new library; moves the shingles of a library
// written before the runs existed into a run, once, and drops their index
// by hash. Run when a library is opened for writing.
bool adopt(SQLiteDB& db);

// The rows a run takes before it is full; tests lower it.
std::int64_t runRows();
void setRunRows(std::int64_t rows);

} // namespace ShingleRuns
} // namespace quorvel
