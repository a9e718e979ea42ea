#pragma once

// The opened library: one object per process owning a read-only connection
// to the library database and a read-write connection to the user database.
// It holds the catalogue in memory, reads pages, volumes and tables of
// contents, and reads and writes every piece of user data.
//
// The catalogue is one immutable snapshot replaced whole by reloadCatalog(),
// so readers on other threads never see it half loaded; the accessors below
// hand out cheap implicitly shared copies of it.

#include "core/Author.h"
#include "core/Book.h"
#include "core/Category.h"
#include "core/Note.h"
#include "core/Page.h"
#include "core/SQLiteDB.h"
#include "core/TocNode.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace quorvel {

// The catalogue as loaded from the library database.
namespace NotesFileReader {
class Source;
}

struct Catalog {
    QList<Book> books;                       // display order; books[i].order == i
    QHash<std::int64_t, Book> bookById;
    QHash<std::int64_t, Author> authors;
    QList<Category> categories;              // non-empty ones, uncategorised last
    QHash<std::int64_t, Category> categoryById;
};

class Library {
public:
    // ---- Locating and opening ---------------------------------------------

    // The process-wide library, set by the windowed start-up and "--ai".
    static std::shared_ptr<Library> shared();
    static void setShared(std::shared_ptr<Library> library);

    // The master library file looked for in the support folder.
    static constexpr char masterFileName[] = "quorvel.db";
    // The preference holding the library file the user chose.
    static constexpr char dbPathKey[] = "dbPath";

    // The per-user support folder, with a trailing "/".
    static QString supportDir();
    // The "libraryMode" preference, "auto" when absent. The setter only stores.
    static QString libraryMode();
    static void setLibraryMode(const QString& mode);

    // The path of the library database to open: the local store in "local"
    // mode; otherwise the first existing file among $QUORVEL_DB, the "dbPath"
    // preference, supportDir()+masterFileName and the developer path under the
    // home folder; else the local store. Before answering with the local
    // store's path its file and schema are created (once per process).
    static std::optional<QString> locateDatabase();
    // The same choice for the headless modes, which never create a library:
    // the local store only when its file exists, else nothing.
    static std::optional<QString> findExistingDatabase();

    // Opens the library database read-only and the user database read-write
    // ($QUORVEL_USERDB, else supportDir()+"user.db"), creates the user tables
    // and loads the catalogue. Nothing when either database cannot be opened.
    // A library on read-only media (a read-only file in a read-only folder)
    // cannot make the shared-memory file its write-ahead log needs; it is then
    // opened as immutable, which reads the main file alone.
    static std::shared_ptr<Library> open(const QString& dbPath);

    // The URI the library connection is opened with: the path with "%", "?"
    // and "#" percent-encoded, so that any file name opens that very file.
    static QString readOnlyUri(const QString& dbPath);

    // The user schema, executed at every opening.
    static const QString& userSchema();

    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    SQLiteDB& main() const { return *main_; }
    SQLiteDB& user() const { return *user_; }
    // The library database's path as given to open().
    const QString& dbPath() const { return dbPath_; }

    // True when the opened library is the local store ("library.db").
    bool isLocal() const;
    // A fresh read-only connection to the library database for one search or
    // long reader, which may be interrupted without disturbing others.
    std::shared_ptr<SQLiteDB> newSearchConnection() const;
    // A read-only connection for one search run: one of the few kept between
    // runs, whose page cache, memory map and temporary tables stay warm, or a
    // fresh one when none is idle.
    std::shared_ptr<SQLiteDB> takeSearchConnection() const;
    // Keeps a connection from takeSearchConnection() for a later run when the
    // pool has room and nothing else holds it. The caller hands it back as it
    // found it: no statement under way, no progress check, not interrupted.
    void returnSearchConnection(std::shared_ptr<SQLiteDB> db) const;

    // Idle search connections kept at most: one per run that may overlap.
    static constexpr std::size_t searchPoolSize = 4;

    // What a search keeps between runs on a connection of its own: the
    // connection and the statements compiled on it. The search layer defines
    // it; the library keeps the idle ones, so that the next search of any
    // caller finds them, and closes them when it closes.
    class KeptSearch {
    public:
        virtual ~KeptSearch() = default;
    };
    // An idle kept search, taken out of the pool so that no other thread can
    // have it until it is kept again; nothing when none is idle.
    std::unique_ptr<KeptSearch> takeKeptSearch() const;
    // Keeps a search for a later run when the pool has room, else closes it.
    // The caller hands it back as it found it: no statement under way, no
    // transaction or progress check, not interrupted.
    void keepSearch(std::unique_ptr<KeptSearch> kept) const;

    // ---- Catalogue ----------------------------------------------------------

    std::shared_ptr<const Catalog> catalog() const;
    QList<Book> books() const { return catalog()->books; }
    QHash<std::int64_t, Book> bookById() const { return catalog()->bookById; }
    QHash<std::int64_t, Author> authors() const { return catalog()->authors; }
    QList<Category> categories() const { return catalog()->categories; }
    QHash<std::int64_t, Category> categoryById() const { return catalog()->categoryById; }
    std::optional<Book> book(std::int64_t id) const;

    // Loads the catalogue anew, publishes it as one snapshot, then empties the
    // per-book caches.
    void reloadCatalog();
    // Reloads the catalogue when another connection has committed to the
    // library database since it was last loaded; true when it did.
    bool reloadCatalogIfChanged();

    std::optional<Author> author(const Book& book) const;
    // What the catalogue keeps of an author beyond the name: nothing in
    // either field when the author has no row or the read fails.
    struct AuthorBio {
        std::optional<QString> fullName;
        std::optional<QString> bio;
    };
    AuthorBio authorBio(std::int64_t author) const;
    // The display text of the book's author; empty when unknown.
    QString authorName(const Book& book) const;
    // The author's death year when known, else the book's date.
    std::optional<std::int64_t> deathYear(const Book& book) const;
    // The year an undated entry sorts by: after every real one.
    static constexpr std::int64_t undatedYear = 99999;

    // An author name as stored in the catalogue: the first parenthesised
    // death note ("(المتوفى ...)") removed, a run-together Latin name split
    // at its lower-to-upper case boundaries, spaces and tabs trimmed.
    static QString cleanAuthor(const QString& name);

    // ---- Pages, volumes, tables of contents ----------------------------------

    std::optional<Page> page(std::int64_t book, std::int64_t seq) const;
    std::optional<Page> page(std::int64_t id) const;
    // The pages of these ids that exist, by id: one statement for a list of
    // hits instead of one statement, and one read lock, per page.
    QHash<std::int64_t, Page> pages(const QList<std::int64_t>& ids) const;
    // Every page of the book in sequence order; empty when the read fails.
    QList<Page> bookPages(std::int64_t book) const;
    // The printed number of every page of the book (its sequence where it
    // has none) with its sequence, in sequence order: the pages without
    // their text.
    QList<std::pair<std::int64_t, std::int64_t>> pageNumbers(std::int64_t book) const;
    // How many pages the library holds, or the book holds; 0 when the read fails.
    std::int64_t pageCount() const;
    std::int64_t pageCount(std::int64_t book) const;
    // The nearest sequence of the book that exists after `seq` (direction > 0)
    // or before it (direction < 0), skipping gaps; nothing past either end.
    std::optional<std::int64_t> adjacentSeq(std::int64_t book, std::int64_t seq, int direction) const;
    // Where the scan of the printed page lies (a path or a URL); nothing when
    // the library keeps no scans (no page_scan table) or none for this page.
    std::optional<QString> scanURL(std::int64_t page) const;
    // (lowest, highest) page sequence; (1, 1) for a book without pages.
    std::pair<std::int64_t, std::int64_t> seqRange(std::int64_t book);
    // The book's volume labels in page order.
    QStringList volumes(std::int64_t book);
    std::optional<std::int64_t> firstSeq(std::int64_t book, const QString& vol) const;
    // The first page whose printed number is at least pageNum, within the
    // volume when one is given and it has such a page, else in the whole book.
    std::optional<std::int64_t> seqFor(std::int64_t book, const std::optional<QString>& vol,
                                       std::int64_t pageNum) const;
    // The roots of the book's table of contents (shared; do not modify).
    QList<TocNodePtr> toc(std::int64_t book);
    // Every entry of the book's table of contents ordered by sequence.
    QList<TocNodePtr> tocEntries(std::int64_t book);
    // The entry that encloses the page: the deepest entry at the last
    // sequence not after it; nothing before the first entry.
    TocNodePtr chapter(std::int64_t book, std::int64_t seq);

    // Whole Unix seconds now; every user-data timestamp.
    static std::int64_t now();
    // Main text and footnotes of a page text, split at the first run of ten
    // underscores; no footnote part when there is none.
    static std::pair<QString, std::optional<QString>> splitFootnotes(const QString& text);
    // What a search reads of a page: each section as Arabic::searchedText
    // gives it (its lines in the mushaf's spelling also in the plain one),
    // the footnote line between them as stored.
    static QString searchedContent(const QString& content);
    // The 114 sura names in order (index 0 is sura 1).
    static const QStringList& suras();

    // ---- User data -------------------------------------------------------------

    struct PageStamp {
        std::int64_t bookId = 0;
        std::int64_t seq = 1;
        std::int64_t ts = 0;
    };
    struct Folder {
        std::int64_t id = 0;
        QString name;
    };
    struct Scope {
        std::int64_t id = 0;
        QString name;
        QList<std::int64_t> bookIds;
    };
    struct HistoryEntry {
        std::int64_t id = 0;
        QString title;
        QString json;
        std::int64_t count = 0;
        std::int64_t ts = 0;
    };
    struct SavedResult {
        std::int64_t id = 0;
        QString name;
        QString json;
        QList<std::int64_t> pageIds;
    };

    static constexpr std::int64_t favoritesFolderId = 0;
    static constexpr int defaultRecentLimit = 60;
    static constexpr int historyLimit = 300;

    void setLastViewed(std::int64_t book, std::int64_t seq);
    std::optional<std::int64_t> lastViewed(std::int64_t book) const;
    QList<PageStamp> recentBooks(int limit = defaultRecentLimit) const;

    QList<Folder> folders() const;
    std::int64_t addFolder(const QString& name);
    QList<std::int64_t> favorites(std::int64_t folder) const;
    bool isFavorite(std::int64_t book) const;
    void setFavorite(std::int64_t book, bool on, std::int64_t folder = favoritesFolderId);

    QList<Note> notes(std::optional<std::int64_t> book) const;
    std::optional<Note> note(std::int64_t book, std::int64_t seq) const;
    // False when the change could not be written, then `why`, when given,
    // says what failed. Given `opened` (the page's note when an editor
    // opened on it), what was written to the page meanwhile is kept: the
    // lines the note gained since then that `text` lacks are added after
    // it, on lines of their own. The page's note is read and written under
    // the user database's write lock, taken before the read, so that a
    // save in another process waits for this one rather than overwrite it;
    // a page found with more than one row leaves with one.
    bool saveNote(std::int64_t book, std::int64_t seq, const QString& text,
                  const std::optional<QString>& opened = std::nullopt, SQLFailure* why = nullptr);
    // What saving `text` over `opened` keeps when the page's note is now
    // `current`: `text`, then each line `current` gained over `opened`
    // (counting repeats) that `text` lacks, in its order.
    static QString keepLinesAddedMeanwhile(const QString& text, const QString& opened, const QString& current);

    // The bookmarks of installed books.
    QList<PageStamp> bookmarks() const;
    // Every bookmark the user data keeps, those set aside too.
    QList<PageStamp> allBookmarks() const;
    // Whether no page shows what is kept for (book, seq): the book is not
    // installed, or the place lies outside its pages. Such notes and
    // bookmarks are set aside: kept, listed and exported, never opened.
    bool setAside(std::int64_t book, std::int64_t seq);
    bool isBookmarked(std::int64_t book, std::int64_t seq) const;
    // False when the change could not be written.
    bool toggleBookmark(std::int64_t book, std::int64_t seq);

    QList<Scope> scopes() const;
    void saveScope(const QString& name, const QList<std::int64_t>& books);
    void deleteScope(std::int64_t id);

    void addHistory(const QString& title, const QString& json, std::int64_t count);
    QList<HistoryEntry> history() const;

    // False when the set could not be written (then nothing is announced).
    bool saveResults(const QString& name, const QString& json, const QList<std::int64_t>& pageIds);
    QList<SavedResult> savedResults() const;

    bool tashkeel(std::int64_t book) const;
    void setTashkeel(std::int64_t book, bool on);
    // Whether the report was written.
    bool addCorrection(std::int64_t book, std::int64_t seq, const QString& kind, const QString& note);
    std::optional<QString> kv(const QString& key) const;
    // False when the value could not be written.
    bool setKV(const QString& key, const QString& value);

    QSet<std::int64_t> ignoredBooks() const;
    void setIgnoredBooks(const QSet<std::int64_t>& books);

    // Id lists as stored: decimal ids joined by ",". Reading drops empty
    // pieces and pieces that are not decimal integers.
    static QString joinIds(const QList<std::int64_t>& ids);

    // Why user data cannot be kept: the user database is no database, takes
    // no writes or its disk is full, as found when it was opened or at the
    // first write that failed (which also posts the notice
    // Notifier::userDataUnwritable, once). Nothing while all is well.
    std::optional<SQLFailure> userDataFault() const;
    static QList<std::int64_t> parseIds(const QString& text);

    // ---- Notes and bookmarks exchange file ------------------------------------

    struct ImportCounts {
        int notes = 0;
        int marks = 0;
        int skipped = 0;
        // Notes and bookmarks on a book the library does not hold or on a
        // page past its book's end: written where those of a removed book
        // wait, and not among `notes` or `marks`, since no page shows them.
        int aside = 0;
        bool stopped = false; // the counts are those of what was done before the stop
        // Why a write of the import failed; it stopped there, the counts
        // those of what was committed before.
        std::optional<SQLFailure> failure;
    };
    // Why a text is no exchange file: not JSON (or JSON of another kind), or
    // an exchange file cut off before its end.
    struct ImportRefusal {
        bool cut = false;
        qint64 line = 0;    // where the text ends or goes wrong, from 1
        qint64 entries = 0; // the notes and bookmarks whole before a cut
        int readError = 0;  // errno's value when the file could not be read on
    };
    // How a long import reports and ends early: `progress(done, total)` now
    // and then with the entries handled so far, on the importing thread;
    // `stop` is read between entries and between the pages written.
    struct ImportControl {
        std::function<void(qint64 done, qint64 total)> progress;
        const std::atomic<bool>* stop = nullptr;
        // Told why, when the text is refused.
        ImportRefusal* refusal = nullptr;
    };

    // The exchange file: every note and every bookmark, those set aside
    // too, newest first, as pretty-printed JSON with sorted keys.
    std::optional<QByteArray> exportUserNotes() const;
    // Merges an exchange file into the user data; nothing when the data is
    // not such a file (then nothing is written). A byte that is no UTF-8
    // stands as U+FFFD, as anywhere text is read. The notes of a page are
    // merged in memory, with no lock held, and written on a connection of
    // the import's own in short transactions that take a bounded number of
    // notes: an edit or a bookmark set meanwhile waits for one of them at
    // most, and the page's note is written only if no edit came between its
    // reading and its writing (else it is merged again). The first write
    // that fails stops the import. Any thread.
    // The data is let go once read, before the merge: a caller that moves
    // its only copy in does not hold the file and the merged pages at once.
    std::optional<ImportCounts> importUserNotes(QByteArray data, const ImportControl& control);
    std::optional<ImportCounts> importUserNotes(QByteArray data) { return importUserNotes(std::move(data), ImportControl()); }
    // The same read from `text` as a stream, a piece at a time: a file is
    // never held whole, and one that opens no object is refused at its
    // first bytes.
    std::optional<ImportCounts> importUserNotes(NotesFileReader::Source& text, const ImportControl& control);

private:
    Library(QString dbPath, std::shared_ptr<SQLiteDB> main, std::shared_ptr<SQLiteDB> user);

    std::shared_ptr<Catalog> loadCatalog() const;
    void publish(std::shared_ptr<const Catalog> catalog);
    static Page pageFromRow(const Statement::Row& row);
    std::optional<Page> firstPage(const QString& sql, const SQLArgs& args) const;
    Note noteFromRow(const Statement::Row& row) const;
    // One write to the user database; a failure is kept as the user data's
    // fault. True when the statement completed.
    bool writeUser(const QString& sql, const SQLArgs& args);
    bool writeUser(SQLiteDB& db, const QString& sql, SQLArgs args);
    // The page's note as `db` reads it: its rows merged into one, the
    // first row's id, text and then each line of the later rows it lacks.
    std::optional<Note> noteOn(SQLiteDB& db, std::int64_t book, std::int64_t seq) const;
    // Writes `text` (trimmed) as the page's one note over `stored`, the
    // note read in the same transaction: the first row updated and the
    // others deleted, or all deleted for an empty text. A text moved in is
    // let go once bound, before it is written.
    bool writePageNote(SQLiteDB& db, std::int64_t book, std::int64_t seq, const std::optional<Note>& stored,
                       QString text);
    // Keeps `fault` unless one is kept; true when it was the first.
    bool noteUserFault(SQLFailure fault);
    // The steps of importUserNotes (LibraryNotesFile.cpp).
    class NotesMerge;

    QString dbPath_;
    std::shared_ptr<SQLiteDB> main_;
    std::shared_ptr<SQLiteDB> user_;
    mutable std::mutex userFaultMutex_; // guards only the fault
    std::optional<SQLFailure> userFault_;
    // Held across every read-then-write of a note or a bookmark (an edit, an
    // import's writing of a group of pages), so that neither overwrites the
    // other; never across a merge, a progress report or anything a caller
    // supplies.
    mutable std::mutex noteEditMutex_;

    mutable std::mutex searchPoolMutex_; // guards only the idle list
    mutable std::vector<std::shared_ptr<SQLiteDB>> searchPool_;
    mutable std::vector<std::unique_ptr<KeptSearch>> keptSearches_; // idle ones; guarded by searchPoolMutex_

    mutable std::mutex catalogMutex_; // guards only the snapshot pointer
    std::optional<std::int64_t> loadedDataVersion_; // of main_, when the catalogue was loaded
    std::shared_ptr<const Catalog> catalog_;

    // The per-book caches; `cacheMutex_` guards them and nothing else, and is
    // held across a miss so that an entry is built once.
    std::mutex cacheMutex_;
    QHash<std::int64_t, std::pair<std::int64_t, std::int64_t>> seqRanges_;
    QHash<std::int64_t, QList<TocNodePtr>> tocCache_;
    QHash<std::int64_t, QList<TocNodePtr>> tocFlat_;
    QHash<std::int64_t, QStringList> volsCache_;
};

} // namespace quorvel
