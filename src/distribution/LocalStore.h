#pragma once

// The local store: the library database that holds the books installed from
// releases. It is the only writer of library databases; everything else reads
// them. The store fixes the file's location, creates the schema, records which
// book is installed from which release with which content root, installs and
// removes books, merges duplicate narrators after a batch of installs, and
// reads the narrators of a store made under older chain rules again.
//
// One connection per store object. Callers run one operation at a time on a
// store (installs one after another); other processes and connections may
// read while it writes, and see each book appear or disappear whole.

#include "distribution/Dist.h"
#include "search/PageIndex.h"

#include <QHash>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quorvel {

class SQLiteDB;

class LocalStore {
public:
    // The store's file: $QUORVEL_LIBDB when set (even empty), else
    // "library.db" in the support folder.
    static QString path();

    // Opens (creating when missing) the store at path() or at a given file and
    // runs the schema; nothing when the file cannot be opened, or when path()
    // is refused (Paths::localStorePathProblem).
    static std::unique_ptr<LocalStore> open();
    static std::unique_ptr<LocalStore> open(const QString& filePath);

    // Why the store at `filePath` could not be opened for installing, in the
    // reader's words, before anything tries: its folder missing, a folder,
    // device or pipe in the file's place, or a file or folder the process may
    // not write. Empty when nothing stands in the way.
    static QString targetProblem(const QString& filePath);
    // What a store that could not be opened is said to be, before its reason.
    static const QString msgUnavailable;

    SQLiteDB& db() const { return *db_; }
    // Why the schema could not be made or brought up to date when the store
    // opened (a full disk, a file-size limit, another program writing);
    // nothing when it is whole.
    const std::optional<SQLFailure>& schemaFailure() const { return schemaFailure_; }

    // Gives a store made before the search's page index that index, in
    // batches that each commit (see PageIndex::build); installs keep it
    // up to date afterwards. Blocks: run it off the GUI thread.
    // On failure `why` receives the store's reason when it gave one.
    PageIndex::Build buildPageIndex(const PageIndex::Progress& progress = {},
                                    std::optional<SQLFailure>* why = nullptr);
    // The install's failure with the store's reason, when it is one the
    // reader can act on (free space, a writable disk, a sound file, another
    // program writing the store).
    static QString installFailure(const std::optional<SQLFailure>& failure);
    // The reader's sentence for a page index build that failed for `why`:
    // the index is incomplete, searches are slower, and the reason (the
    // store read-only, another program writing it, the disk full, the file
    // damaged) when it is one the reader can act on.
    static QString pageIndexProblem(const std::optional<SQLFailure>& why);

    // The last release applied by a download run; 0 when none is recorded or
    // the recorded text is not a plain decimal integer.
    std::int64_t lastRelease() const;
    // False when the store did not take it (locked, read-only, full).
    bool setRelease(std::int64_t release);

    // Book id → content root of every installed book (a missing root reads "").
    QHash<std::int64_t, QString> installed() const;
    std::int64_t bookCount() const;

    // Whether installs also store text-reuse shingles (the "localReuse"
    // preference, off by default). A store that already holds shingles
    // gets them for every book it installs, the preference aside.
    static bool withReuse();
    static void setWithReuse(bool on);

    // Deletes every row of one book (its narrators, authors and categories
    // stay). Unless inTransaction it runs in a transaction of its own and
    // removes the book whole or not at all. True when every statement ran
    // (and, on its own, committed).
    bool remove(std::int64_t bookId, bool inTransaction = false);

    // Merges narrators whose names agree after normalisation into the longest
    // spelling, repoints their edges and drops the loops a merge made, in
    // one transaction. Only names added since the last merge (by this batch,
    // or by one that stopped before its merge) are looked at against the
    // rest. False, with nothing changed, when a statement failed.
    bool dedupNarrators();

    // Whether the narrators and their edges were stored under other chain
    // rules than Isnad::rulesVersion, or before the rules had a version.
    bool narratorsOutdated() const;
    // The same, read through any connection to a store (a reader's own).
    static bool narratorsOutdated(SQLiteDB& db);
    // What a re-reading of the narrators under the current rules came to.
    struct NarratorRefresh {
        enum class Outcome {
            upToDate, // nothing to read again (or a read-only store)
            done,     // every book read again and the names merged
            stopped,  // asked to stop between books; the next call goes on
            failed,   // a statement failed; the book in hand kept its old rows
        };
        Outcome outcome = Outcome::upToDate;
        std::int64_t pages = 0; // pages holding a chain read again by this call
    };
    // For a store whose narrators are outdated: reads the chains of every
    // stored page again under the current rules, a book per transaction,
    // without reinstalling any book, then drops the names no page gives and
    // merges spellings. `goOn`, asked before each book, stops it when false;
    // a stopped or failed reading goes on from the book it stopped at.
    // Blocks: run it off the GUI thread.
    NarratorRefresh refreshNarrators(const std::function<bool()>& goOn = {});
    // The sentence that tells the reader, once, that the narrators were
    // read again from `pages` pages.
    static QString narratorsRefreshedNotice(std::int64_t pages);
    // What the reader is told of a re-reading: that it was done or that it
    // failed; nothing when there was nothing to do or it was stopped.
    static QString narratorsRefreshNotice(const NarratorRefresh& refresh);

    // Whether the pages' stored normal forms (content_norm and the full-text
    // rows) were made under other rules than Arabic::normVersion, or before
    // the store recorded its rules.
    bool normalFormOutdated() const;
    // The same, read through any connection to a store (a reader's own).
    static bool normalFormOutdated(SQLiteDB& db);
    enum class FormRefresh {
        upToDate, // nothing to write again (or a read-only store)
        done,     // every page's form is the current rules'
        stopped,  // asked to stop between batches; the next call goes on
        failed,   // a statement failed; the batch in hand kept its old rows
    };
    // For a store whose normal forms are outdated: writes the normal form
    // of every page the current rules write otherwise, with its full-text
    // row, in batches of pages that each commit with a record of where the
    // work stands, then records the rules. Until then each page is searched
    // by the form it holds, old or new, its row and its text always agreeing.
    // `goOn`, asked before each batch, stops it when false; a stopped or
    // failed call goes on from the batch it stopped at. Blocks: run it off
    // the GUI thread.
    FormRefresh refreshNormalForm(const std::function<bool()>& goOn = {});

    // Moves what the batch wrote from the write-ahead log into the database
    // file; the end of every batch of installs calls it.
    void checkpoint();

    // Deletes the package files ("qbook-*.sqlite") that killed installs left
    // in the temporary folder; a package that a running install holds is
    // kept. Every install starts with it. Returns how many were removed.
    static int removeLeftoverPackages();

    // Downloads, verifies and installs one book of an accepted release,
    // replacing any installed version in one transaction. Throws
    // Dist::DistError on a refusal and Dist::PlatformError on a network, file or
    // decompression failure; in every such case the store keeps the previous
    // version. Blocks: run it off the GUI thread.
    void install(const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
                 const QUrl& base);

    ~LocalStore();
    LocalStore(const LocalStore&) = delete;
    LocalStore& operator=(const LocalStore&) = delete;

private:
    explicit LocalStore(std::shared_ptr<SQLiteDB> db);
    // Reads one book's chains again under the current rules and records
    // `nextBook` as where the re-reading goes on, in one transaction.
    NarratorRefresh rereadBook(std::int64_t bookId, std::int64_t nextBook);
    // Writes the forms of the next batch of pages after id `after` that may
    // have changed, in the caller's transaction: the last id looked at, -1
    // when no page is left, nothing when a statement failed.
    std::optional<std::int64_t> refreshFormBatch(std::int64_t after);
    // The meta key of the rules the stored normal forms were made with.
    static inline const QString kNormVersionKey = QStringLiteral("norm_version");

    std::shared_ptr<SQLiteDB> db_;
    std::optional<SQLFailure> schemaFailure_;
};

} // namespace quorvel
