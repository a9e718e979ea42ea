#pragma once

// The one way the system talks to SQLite: a connection (SQLiteDB), a prepared
// statement (Statement), a materialised result row (Statement::Row), a
// transaction that rolls back unless committed (Transaction) and one that
// pins a version for reading (ReadTransaction). No other file
// calls the SQLite library.
//
// Failure is quiet everywhere: opening yields nothing, statements report
// success as a Boolean, queries return empty lists. A statement that fails to
// prepare writes one "SQL error: <message> :: <sql>" line on stderr. The
// connection remembers its first failure, so that a caller can tell rows
// cut short by an error (a damaged file, a missing table) from no rows.
//
// Text has one rule in both directions: it is bound and read at its full
// length, a zero character included, and a BLOB reads as text the same way
// (broken UTF-8 replaced).
//
// Connections are opened in serialised mode, so one connection may be used
// from several threads; long work runs on a connection of its own, which
// another thread stops with interrupt().

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel {

// One parameter value for binding. Built implicitly from the kinds callers
// hold: nothing (std::nullopt / nullptr / an empty optional), any integer,
// a double, a Boolean (bound as 1 or 0), a text, or any other value held in
// a QVariant (bound as its textual description).
class SQLArg {
public:
    using Storage = std::variant<std::monostate, std::int64_t, double, bool, QString>;

    SQLArg() = default;
    SQLArg(std::nullopt_t) {}
    SQLArg(std::nullptr_t) {}
    SQLArg(bool value) : value_(value) {}
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    SQLArg(T value) : value_(static_cast<std::int64_t>(value)) {}
    SQLArg(double value) : value_(value) {}
    SQLArg(float value) : value_(static_cast<double>(value)) {}
    SQLArg(const QString& value) : value_(value) {}
    SQLArg(QString&& value) : value_(std::move(value)) {}
    SQLArg(const char* value) : value_(QString::fromUtf8(value)) {}
    SQLArg(const std::string& value) : value_(QString::fromStdString(value)) {}
    SQLArg(const QVariant& value);
    template <typename T>
    SQLArg(const std::optional<T>& value)
    {
        if (value)
            *this = SQLArg(*value);
    }

    const Storage& value() const { return value_; }

private:
    Storage value_;
};

using SQLArgs = QList<SQLArg>;

struct FailureRecord;

// The first failure a connection met, kept for callers that must tell an
// empty answer from a broken database.
struct SQLFailure {
    enum class Kind {
        schema,   // a table or column the statement names is missing
        damaged,  // the file is corrupt or not a database
        readOnly, // the database takes no writes
        full,     // the disk or the database's size limit is full
        refused,  // a constraint refused the write; the database is sound
        busy,     // another connection held the lock past the busy time-out
        tooLarge, // a value longer than the connection's limit (limitValueBytes)
        other,
    };
    Kind kind = Kind::other;
    QString message; // SQLite's own text
    int systemError = 0; // the system's error number behind a failed read or write, when there was one
};

class Statement {
public:
    // A column value as read from a row: SQL NULL, an integer, a double or a
    // text. BLOBs come back as text.
    using Value = std::variant<std::monostate, std::int64_t, double, QString>;

    struct Row {
        QList<Value> vals;

        // The column when it holds an integer; a double or text is not converted.
        std::optional<std::int64_t> integer(qsizetype i) const;
        // The column when it holds text; an integer is not converted.
        std::optional<QString> str(qsizetype i) const;
        // The column when it holds a double; an integer is converted.
        std::optional<double> dbl(qsizetype i) const;
    };

    // What one step did. A write that a constraint refuses (a unique key, NOT
    // NULL, a check) is told apart from every other failure (busy,
    // interrupted, disk full, I/O), which leaves the transaction untrustworthy.
    enum class Step { Row, Done, Constraint, Error };

    // `failures` is where the owning connection keeps its first failure.
    using FailureLog = std::shared_ptr<FailureRecord>;
    explicit Statement(sqlite3_stmt* st, FailureLog failures = {}) : st_(st), failures_(std::move(failures)) {}
    ~Statement();
    Statement(Statement&& other) noexcept : st_(other.st_), failures_(std::move(other.failures_)) { other.st_ = nullptr; }
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Resets the statement, clears every binding, then binds values[i] to
    // parameter i + 1. Surplus values fail quietly.
    void bind(const SQLArgs& values);
    // Steps once and says what happened.
    Step next();
    // True when a row is available: next() == Step::Row, for loops that may
    // stop quietly at the end and at an error alike.
    bool step();
    // The current row, every column read by its storage class.
    Row row() const;

    // Reads of the current row with SQLite's own conversions ('12' reads as
    // the integer 12, 7 as the text "7").
    std::optional<std::int64_t> integer(int col) const; // nothing for NULL
    std::optional<QString> text(int col) const;         // nothing for NULL
    double real(int col) const;                         // 0 for NULL
    // A column that cannot be null (a rowid) as an integer, read with one
    // call instead of two: a null would read as 0.
    std::int64_t rowid(int col) const;

    // Typed reads of the current row: a value only when the column is stored
    // as an integer, or as text or a BLOB; nothing for any other kind.
    std::optional<std::int64_t> typedInteger(int col) const;
    std::optional<QString> typedText(int col) const;
    // Whether the column is stored as text or a BLOB, the values typedText reads.
    bool holdsText(int col) const;

private:
    sqlite3_stmt* st_ = nullptr;
    FailureLog failures_;
};

class SQLiteDB {
public:
    // Opens a file name or "file:" URI; nothing when the open fails. A
    // read-only connection is tuned for reading (query_only, a 64 MiB page
    // cache, 1 GiB of memory mapping); every connection waits up to 3 s for
    // a writer.
    static std::shared_ptr<SQLiteDB> open(const QString& path, bool readonly);

    ~SQLiteDB();
    SQLiteDB(const SQLiteDB&) = delete;
    SQLiteDB& operator=(const SQLiteDB&) = delete;

    sqlite3* handle() const { return handle_; }
    // The text the connection was opened with, so that a second connection
    // to the same database can be opened the same way.
    const QString& path() const { return path_; }

    // Runs one or more statements; true when all succeeded.
    bool exec(const QString& sql);
    // Compiles one statement; nothing (after logging) on failure, and for a
    // text holding a second statement after the first, which would otherwise
    // never run.
    std::optional<Statement> prepare(const QString& sql);
    // Every row the statement yields; stops quietly at the first error, so
    // an interrupted or failed statement returns the rows read so far.
    QList<Statement::Row> rows(const QString& sql, const SQLArgs& args = {});
    // Column 0 of the first row as an integer; nothing for no row or NULL.
    std::optional<std::int64_t> scalarInt(const QString& sql, const SQLArgs& args = {});
    // Steps once; true exactly when the statement completed. The arguments
    // are let go once bound, before the step: a text handed over (moved in,
    // shared with no one) is then held only as SQLite's copy while written.
    bool run(const QString& sql, SQLArgs args = {});

    std::int64_t lastInsertId() const;
    // Rows the last finished INSERT, UPDATE or DELETE changed.
    std::int64_t changes() const;
    // Stops whatever runs on this connection; safe from any thread.
    void interrupt();
    // Calls `check` every `steps` virtual-machine steps of the statements
    // running on this connection, on their thread; a true answer stops the
    // statement as interrupt() would. An empty function removes the check.
    void setProgressCheck(int steps, std::function<bool()> check);
    QString lastError() const;
    // The first failure of a statement prepared or stepped on this
    // connection (an interruption aside); nothing while all went well.
    std::optional<SQLFailure> failure() const;
    // The failure of the connection's latest call; nothing when it succeeded.
    std::optional<SQLFailure> lastFailure() const;
    // True when the connection takes no writes: opened read-only, or a file
    // the process may not write.
    bool isReadOnly() const;
    // True while a transaction is open on this connection.
    bool inTransaction() const;
    // The most parameters one statement of this connection may bind (at
    // least 1), for queries that slice long id lists into IN (...) groups.
    qsizetype maxParameters() const;
    // Caps the bytes of any one text or BLOB the connection reads or writes:
    // a statement meeting a longer value fails (Kind::tooLarge) before the
    // value is loaded, so a file from elsewhere cannot make it hold more.
    void limitValueBytes(int bytes);

    // n SQL parameter placeholders: "?,?,?" for 3, the empty string for 0.
    static QString marks(qsizetype n);

    // The terms the full-text tables' tokenizer (unicode61, diacritics
    // removed) makes of `text`, in order: Latin and other cased letters
    // lower-cased, accents dropped, separators splitting. Outside any
    // database, from any thread; the text itself when the tokenizer cannot
    // be reached.
    static QStringList ftsTerms(const QString& text);

    // Where the phrases of a full-text query were found in one row: each
    // instance's phrase (numbered in the order the query writes them),
    // column and token offset, phrase by phrase, each phrase's instances by
    // column and offset; and each phrase's size in tokens.
    struct FtsInstance {
        int phrase, column, offset;
    };
    struct FtsRow {
        std::span<const FtsInstance> instances;
        std::span<const int> phraseSizes;
    };
    using FtsRowTest = bool (*)(const FtsRow& row, std::string_view argument);
    // Makes `test` the SQL function `name(table, argument)` of this
    // connection, true for the rows of a MATCH it accepts; registered once
    // per connection. False when the full-text module cannot be reached.
    bool addFtsRowTest(const char* name, FtsRowTest test);

private:
    SQLiteDB(sqlite3* handle, QString path);

    sqlite3* handle_ = nullptr;
    QString path_;
    Statement::FailureLog failures_;
    std::function<bool()> progressCheck_;
    QList<FtsRowTest> ftsRowTests_;
};

// The values as statement arguments, in order.
SQLArgs argsOf(const QList<std::int64_t>& values);

// A transaction that ends in a rollback unless commit() succeeds, so leaving
// its scope early, by a return or an exception, undoes every write made in it.
class Transaction {
public:
    // Immediate takes the write lock at once, waiting for another writer up
    // to the busy time-out; deferred takes it at the first write.
    enum class Mode { Deferred, Immediate };

    explicit Transaction(SQLiteDB& db, Mode mode = Mode::Immediate);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // True when BEGIN succeeded; writes made otherwise are not protected.
    bool begun() const { return open_; }
    // Commits; false, after rolling back, when BEGIN or COMMIT failed.
    bool commit();
    // Why the COMMIT failed (a full disk, say); nothing before or after a
    // commit that succeeded.
    const std::optional<SQLFailure>& failure() const { return failure_; }

private:
    void rollback();

    SQLiteDB& db_;
    bool open_ = false;
    std::optional<SQLFailure> failure_;
};

// Pins one version of the database for a run of reads: every statement of
// the connection sees the data as it was when the guard began, whatever other
// connections commit meanwhile (the library runs in write-ahead-log mode, so
// those writers are not held up). Inside a transaction already open on the
// connection it does nothing, the open one holding the version.
class ReadTransaction {
public:
    explicit ReadTransaction(SQLiteDB& db);
    ~ReadTransaction() { end(); }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;

    // True when this guard opened the transaction.
    bool owns() const { return open_; }
    // Ends the transaction this guard opened: later statements read the
    // newest version again.
    void end();

private:
    SQLiteDB& db_;
    bool open_ = false;
};

} // namespace quorvel
