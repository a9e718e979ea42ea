#pragma once

// A search connection kept between runs: a read-only connection to the
// library database, the statements compiled on it by their text, and the
// library's state (page map, data generation, count of changes) they were
// kept under. The library keeps the idle ones (Library::KeptSearch), so that
// every caller's search, an engine made for it or one kept, finds its
// statements compiled and its page cache warm instead of opening the
// database, reading its schema and compiling again. The room a run fills
// and empties (its candidate pages, its batch of hits) is kept with it too,
// so that a new engine's run finds it allocated and faulted in.
//
// One thread holds a connection at a time: take() hands it out of the
// library's pool and giveBack() returns it, so no two runs ever share it.
// Its statements are reset when handed out and when a run ends, so that
// none pins a version of the library between runs; they are dropped when
// the library's data changes (keep()) and closed with the library.

#include "core/Library.h"
#include "search/PageMap.h"
#include "search/SearchCandidate.h"
#include "search/SearchHit.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace quorvel {

class SQLiteDB;
class Statement;

class SearchConnection final : public Library::KeptSearch {
public:
    // An idle kept connection from the library's pool, else one made of a
    // connection the library keeps or opens now; nothing when the database
    // cannot be opened.
    static std::unique_ptr<SearchConnection> take(const Library& lib);
    // Hands a connection back to the library's pool, its run's transaction
    // ended and statements reset. The caller gives back none that a cancel
    // interrupted: it could carry the interruption into its next statement.
    static void giveBack(const Library& lib, std::unique_ptr<SearchConnection> kept);

    explicit SearchConnection(std::shared_ptr<SQLiteDB> db) : db(std::move(db)) {}
    ~SearchConnection() override;
    SearchConnection(const SearchConnection&) = delete;
    SearchConnection& operator=(const SearchConnection&) = delete;

    // The statement of `sql`, compiled at its first use, reset and unbound;
    // nullptr when it cannot be compiled.
    Statement* statement(const QString& sql);
    // Resets every statement: none then holds a read of the library.
    void resetAll();

    // Opens the run's read transaction with kept statements and takes its
    // version at once by a first read: the store's count of changes where it
    // keeps one, so that the read also tells whether `map` still holds.
    // True when the transaction is open and the count is the map's.
    bool begin();
    // Ends the transaction begin() opened; what the reads made in the
    // connection's temporary schema is kept by the COMMIT.
    void end();
    // Takes `current` as the library the statements serve: under another
    // data generation (or an unknown one) they are dropped first, compiled
    // again as the next run needs them.
    void keep(const PageMap::Current& current);

    // How many statements were compiled on this connection since it was
    // opened: a run that finds all of its statements kept adds none.
    std::int64_t compiled() const { return compiles; }

    // A run's candidate pages, bounded by the library's page count, and the
    // storage of its batches of page hits, at most one batch's room
    // (BatchEmitter::maxBatch hits): left empty by the run, their room kept.
    std::vector<SearchCandidate>& candidateRoom() { return candidates; }
    QList<SearchHit>& batchRoom() { return batch; }

    const std::shared_ptr<SQLiteDB>& connection() const { return db; }
    // The library as the statements were kept under: its data generation,
    // snapshot and count of changes.
    const PageMap::Current& library() const { return map; }
    // Whether the open transaction reads the very data `library()` was built from.
    bool holdsLibrary() const { return held; }

private:
    std::shared_ptr<SQLiteDB> db;
    PageMap::Current map;
    bool held = false;
    bool open = false; // a transaction begin() opened is not ended yet
    std::int64_t compiles = 0;
    std::vector<SearchCandidate> candidates;
    QList<SearchHit> batch;
    // Declared after db: finalised before the connection closes.
    std::unordered_map<QString, std::unique_ptr<Statement>> statements;
};

} // namespace quorvel
