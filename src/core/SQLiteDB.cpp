#include "core/SQLiteDB.h"
#include "core/SQLiteTriggers.h"

#include <QStringEncoder>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

namespace quorvel {

namespace {

constexpr int kBusyTimeoutMs = 3000;
constexpr int kReadOnlyFlags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX;
constexpr int kReadWriteFlags =
    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX;
static_assert(kReadOnlyFlags == 0x10041 && kReadWriteFlags == 0x10046);

// Reading connections trade memory for speed and refuse writes.
constexpr const char* kReadOnlyTuning[] = {
    "PRAGMA query_only=1",
    "PRAGMA cache_size=-65536",
    "PRAGMA mmap_size=1073741824",
};

void logPrepareFailure(const QString& message, const QString& sql)
{
    const QByteArray line = QStringLiteral("SQL error: %1 :: %2\n").arg(message, sql).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

// The column of the current row as text at its full length; nothing for a
// null pointer. The length is asked for after the text, as SQLite requires.
std::optional<QString> columnText(sqlite3_stmt* st, int col)
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    if (!p)
        return std::nullopt;
    return QString::fromUtf8(p, sqlite3_column_bytes(st, col));
}

// True when the text after a compiled statement holds anything but white
// space and comments.
bool holdsStatement(sqlite3* db, const char* tail, const char* end)
{
    while (tail < end && (*tail == ' ' || *tail == '\n' || *tail == '\t' || *tail == '\r'))
        ++tail;
    if (tail == end)
        return false;
    sqlite3_stmt* next = nullptr;
    const int rc = sqlite3_prepare_v2(db, tail, int(end - tail), &next, nullptr);
    sqlite3_finalize(next);
    return rc != SQLITE_OK || next;
}

// The failure `rc` of `db` with SQLite's own text.
SQLFailure classify(sqlite3* db, int rc)
{
    const QString message = QString::fromUtf8(sqlite3_errmsg(db));
    // Said as the system's own shortage, in the reader's words.
    if ((rc & 0xff) == SQLITE_NOMEM || rc == SQLITE_IOERR_NOMEM)
        return {SQLFailure::Kind::other, message, ENOMEM};
    switch (rc & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return {SQLFailure::Kind::damaged, message};
    case SQLITE_READONLY:
        return {SQLFailure::Kind::readOnly, message};
    case SQLITE_FULL:
        return {SQLFailure::Kind::full, message};
    case SQLITE_CONSTRAINT:
        return {SQLFailure::Kind::refused, message};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {SQLFailure::Kind::busy, message};
    case SQLITE_TOOBIG:
        return {SQLFailure::Kind::tooLarge, message};
    default:
        break;
    }
    if (message.startsWith(QLatin1String("no such table")) || message.startsWith(QLatin1String("no such column")))
        return {SQLFailure::Kind::schema, message};
    if ((rc & 0xff) == SQLITE_IOERR) {
        // SQLite keeps the system's error only on some paths; a write that
        // failed at commit leaves it in errno, which is taken only when it
        // names a failed write.
        int systemError = sqlite3_system_errno(db);
        if (systemError == 0 && (errno == EFBIG || errno == ENOSPC || errno == EDQUOT || errno == EROFS))
            systemError = errno;
        return {SQLFailure::Kind::other, message, systemError};
    }
    return {SQLFailure::Kind::other, message};
}

} // namespace

struct FailureRecord {
    std::mutex lock;
    std::optional<SQLFailure> first;

    // Keeps the failure `rc` of `db` unless an earlier one is kept.
    void note(sqlite3* db, int rc)
    {
        if ((rc & 0xff) == SQLITE_INTERRUPT)
            return;
        SQLFailure failure = classify(db, rc);
        std::lock_guard guard(lock);
        if (!first)
            first = std::move(failure);
    }
};

SQLArg::SQLArg(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        value_ = std::int64_t(value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        value_ = value.toDouble();
        break;
    case QMetaType::Bool:
        value_ = value.toBool();
        break;
    default:
        value_ = value.toString();
        break;
    }
}

// ---- Statement ----------------------------------------------------------

Statement::~Statement()
{
    if (st_)
        sqlite3_finalize(st_);
}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        if (st_)
            sqlite3_finalize(st_);
        st_ = other.st_;
        other.st_ = nullptr;
        failures_ = std::move(other.failures_);
    }
    return *this;
}

void Statement::bind(const SQLArgs& values)
{
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
    // SQLite numbers parameters from 1; columns are read from 0.
    int index = 1;
    for (const SQLArg& arg : values) {
        const auto& v = arg.value();
        if (std::holds_alternative<std::monostate>(v)) {
            sqlite3_bind_null(st_, index);
        } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
            sqlite3_bind_int64(st_, index, *i);
        } else if (const auto* d = std::get_if<double>(&v)) {
            sqlite3_bind_double(st_, index, *d);
        } else if (const auto* b = std::get_if<bool>(&v)) {
            sqlite3_bind_int64(st_, index, *b ? 1 : 0);
        } else if (const auto* s = std::get_if<QString>(&v)) {
            // The full length, a zero character included, as every read
            // returns it; encoded straight into memory SQLite takes over, so
            // that a long text is not copied twice. The room for the longest
            // encoding is only touched as far as the text fills it.
            QStringEncoder encode(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            char* room = static_cast<char*>(sqlite3_malloc64(sqlite3_uint64(encode.requiredSpace(s->size())) + 1));
            if (!room) {
                sqlite3_bind_null(st_, index++);
                continue;
            }
            char* end = encode.appendToBuffer(room, *s);
            sqlite3_bind_text64(st_, index, room, sqlite3_uint64(end - room), sqlite3_free, SQLITE_UTF8);
        }
        ++index;
    }
}

Statement::Step Statement::next()
{
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW)
        return Step::Row;
    if (rc == SQLITE_DONE)
        return Step::Done;
    if ((rc & 0xff) == SQLITE_CONSTRAINT)
        return Step::Constraint;
    if (failures_)
        failures_->note(sqlite3_db_handle(st_), rc);
    return Step::Error;
}

bool Statement::step()
{
    return next() == Step::Row;
}

Statement::Row Statement::row() const
{
    Row r;
    const int count = sqlite3_column_count(st_);
    r.vals.reserve(count);
    for (int c = 0; c < count; ++c) {
        switch (sqlite3_column_type(st_, c)) {
        case SQLITE_INTEGER:
            r.vals.append(std::int64_t(sqlite3_column_int64(st_, c)));
            break;
        case SQLITE_FLOAT:
            r.vals.append(sqlite3_column_double(st_, c));
            break;
        case SQLITE_NULL:
            r.vals.append(std::monostate{});
            break;
        default:
            if (auto text = columnText(st_, c))
                r.vals.append(std::move(*text));
            else
                r.vals.append(std::monostate{});
            break;
        }
    }
    return r;
}

std::optional<std::int64_t> Statement::integer(int col) const
{
    if (sqlite3_column_type(st_, col) == SQLITE_NULL)
        return std::nullopt;
    return std::int64_t(sqlite3_column_int64(st_, col));
}

std::int64_t Statement::rowid(int col) const
{
    return std::int64_t(sqlite3_column_int64(st_, col));
}

std::optional<QString> Statement::text(int col) const
{
    return columnText(st_, col);
}

double Statement::real(int col) const
{
    return sqlite3_column_double(st_, col);
}

std::optional<std::int64_t> Statement::typedInteger(int col) const
{
    if (sqlite3_column_type(st_, col) != SQLITE_INTEGER)
        return std::nullopt;
    return std::int64_t(sqlite3_column_int64(st_, col));
}

bool Statement::holdsText(int col) const
{
    const int type = sqlite3_column_type(st_, col);
    return type == SQLITE_TEXT || type == SQLITE_BLOB;
}

std::optional<QString> Statement::typedText(int col) const
{
    if (!holdsText(col))
        return std::nullopt;
    // An empty BLOB has a null pointer but is still an empty text.
    return columnText(st_, col).value_or(QString());
}

std::optional<std::int64_t> Statement::Row::integer(qsizetype i) const
{
    if (const auto* v = std::get_if<std::int64_t>(&vals.at(i)))
        return *v;
    return std::nullopt;
}

std::optional<QString> Statement::Row::str(qsizetype i) const
{
    if (const auto* v = std::get_if<QString>(&vals.at(i)))
        return *v;
    return std::nullopt;
}

std::optional<double> Statement::Row::dbl(qsizetype i) const
{
    const Value& v = vals.at(i);
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    if (const auto* n = std::get_if<std::int64_t>(&v))
        return double(*n);
    return std::nullopt;
}

// ---- SQLiteDB -----------------------------------------------------------

std::shared_ptr<SQLiteDB> SQLiteDB::open(const QString& path, bool readonly)
{
    sqlite3* handle = nullptr;
    const QByteArray name = path.toUtf8();
    const int rc = sqlite3_open_v2(name.constData(), &handle,
                                   readonly ? kReadOnlyFlags : kReadWriteFlags, nullptr);
    if (rc != SQLITE_OK) {
        if (handle)
            sqlite3_close_v2(handle);
        return nullptr;
    }
    sqlite3_busy_timeout(handle, kBusyTimeoutMs);
    if (readonly) {
        for (const char* pragma : kReadOnlyTuning)
            sqlite3_exec(handle, pragma, nullptr, nullptr, nullptr);
    }
    return std::shared_ptr<SQLiteDB>(new SQLiteDB(handle, path));
}

SQLiteDB::SQLiteDB(sqlite3* handle, QString path)
    : handle_(handle), path_(std::move(path)), failures_(std::make_shared<FailureRecord>())
{
}

SQLiteDB::~SQLiteDB()
{
    // Deferred close: statements a caller still holds finish the close when
    // they are finalised.
    if (handle_)
        sqlite3_close_v2(handle_);
}

bool SQLiteDB::exec(const QString& sql)
{
    const QByteArray text = sql.toUtf8();
    return sqlite3_exec(handle_, text.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<Statement> SQLiteDB::prepare(const QString& sql)
{
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    const QByteArray text = sql.toUtf8();
    const char* end = text.constData() + text.size();
    const int rc = sqlite3_prepare_v2(handle_, text.constData(), int(text.size()), &st, &tail);
    if (rc == SQLITE_OK && st) {
        if (!holdsStatement(handle_, tail, end))
            return Statement(st, failures_);
        sqlite3_finalize(st);
        logPrepareFailure(QStringLiteral("more than one statement"), sql);
        return std::nullopt;
    }
    failures_->note(handle_, rc == SQLITE_OK ? SQLITE_ERROR : rc);
    if (st)
        sqlite3_finalize(st);
    logPrepareFailure(QString::fromUtf8(sqlite3_errmsg(handle_)), sql);
    return std::nullopt;
}

QList<Statement::Row> SQLiteDB::rows(const QString& sql, const SQLArgs& args)
{
    QList<Statement::Row> out;
    auto st = prepare(sql);
    if (!st)
        return out;
    st->bind(args);
    while (st->step())
        out.append(st->row());
    return out;
}

std::optional<std::int64_t> SQLiteDB::scalarInt(const QString& sql, const SQLArgs& args)
{
    auto st = prepare(sql);
    if (!st)
        return std::nullopt;
    st->bind(args);
    if (!st->step())
        return std::nullopt;
    return st->integer(0);
}

bool SQLiteDB::run(const QString& sql, SQLArgs args)
{
    auto st = prepare(sql);
    if (!st)
        return false;
    st->bind(args);
    args = SQLArgs();
    return st->next() == Statement::Step::Done;
}

std::int64_t SQLiteDB::lastInsertId() const
{
    return sqlite3_last_insert_rowid(handle_);
}

std::int64_t SQLiteDB::changes() const
{
    return sqlite3_changes64(handle_);
}

void SQLiteDB::interrupt()
{
    sqlite3_interrupt(handle_);
}

void SQLiteDB::setProgressCheck(int steps, std::function<bool()> check)
{
    progressCheck_ = std::move(check);
    if (!progressCheck_) {
        sqlite3_progress_handler(handle_, 0, nullptr, nullptr);
        return;
    }
    sqlite3_progress_handler(
        handle_, steps,
        [](void* self) { return static_cast<SQLiteDB*>(self)->progressCheck_() ? 1 : 0; }, this);
}

QString SQLiteDB::lastError() const
{
    return QString::fromUtf8(sqlite3_errmsg(handle_));
}

std::optional<SQLFailure> SQLiteDB::failure() const
{
    std::lock_guard guard(failures_->lock);
    return failures_->first;
}

std::optional<SQLFailure> SQLiteDB::lastFailure() const
{
    const int rc = sqlite3_extended_errcode(handle_);
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE)
        return std::nullopt;
    return classify(handle_, rc);
}

bool SQLiteDB::isReadOnly() const
{
    return sqlite3_db_readonly(handle_, "main") == 1;
}

bool SQLiteDB::inTransaction() const
{
    return sqlite3_get_autocommit(handle_) == 0;
}

qsizetype SQLiteDB::maxParameters() const
{
    return qMax(1, sqlite3_limit(handle_, SQLITE_LIMIT_VARIABLE_NUMBER, -1));
}

void SQLiteDB::limitValueBytes(int bytes)
{
    sqlite3_limit(handle_, SQLITE_LIMIT_LENGTH, bytes);
}

QString SQLiteDB::marks(qsizetype n)
{
    if (n <= 0)
        return {};
    QString out;
    out.reserve(n * 2 - 1);
    out.append(QLatin1Char('?'));
    for (qsizetype i = 1; i < n; ++i)
        out.append(QLatin1String(",?"));
    return out;
}

namespace {

// The FTS5 interface of a connection; nothing when it cannot be reached.
fts5_api* ftsApi(sqlite3* handle)
{
    fts5_api* api = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(handle, "SELECT fts5(?1)", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(st, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
        sqlite3_step(st);
    }
    sqlite3_finalize(st);
    return api && api->iVersion >= 2 ? api : nullptr;
}

// One tokenizer per thread (a tokenizer folds into a buffer of its own),
// made through the FTS5 interface of an in-memory connection kept for the
// process.
class FtsTokenizer {
public:
    FtsTokenizer()
    {
        static sqlite3* const memory = [] {
            sqlite3* handle = nullptr;
            if (sqlite3_open_v2(":memory:", &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY | SQLITE_OPEN_FULLMUTEX,
                                nullptr)
                != SQLITE_OK) {
                sqlite3_close_v2(handle);
                return static_cast<sqlite3*>(nullptr);
            }
            return handle;
        }();
        if (!memory)
            return;
        fts5_api* api = ftsApi(memory);
        if (!api)
            return;
        void* user = nullptr;
        if (api->xFindTokenizer(api, "unicode61", &user, &methods) != SQLITE_OK)
            return;
        const char* args[] = {"remove_diacritics", "2"};
        if (methods.xCreate(user, args, 2, &tokenizer) != SQLITE_OK)
            tokenizer = nullptr;
    }
    ~FtsTokenizer()
    {
        if (tokenizer)
            methods.xDelete(tokenizer);
    }
    FtsTokenizer(const FtsTokenizer&) = delete;
    FtsTokenizer& operator=(const FtsTokenizer&) = delete;

    std::optional<QStringList> terms(const QString& text)
    {
        if (!tokenizer)
            return std::nullopt;
        const QByteArray utf8 = text.toUtf8();
        QStringList out;
        methods.xTokenize(tokenizer, &out, FTS5_TOKENIZE_DOCUMENT, utf8.constData(), int(utf8.size()),
                          [](void* ctx, int, const char* token, int size, int, int) {
                              static_cast<QStringList*>(ctx)->append(QString::fromUtf8(token, size));
                              return SQLITE_OK;
                          });
        return out;
    }

private:
    fts5_tokenizer methods{};
    Fts5Tokenizer* tokenizer = nullptr;
};

} // namespace

QStringList SQLiteDB::ftsTerms(const QString& text)
{
    thread_local FtsTokenizer tokenizer;
    return tokenizer.terms(text).value_or(QStringList{text});
}

namespace {

void callFtsRowTest(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context* ctx, int argc,
                    sqlite3_value** argv)
{
    const auto test = *static_cast<SQLiteDB::FtsRowTest*>(api->xUserData(fts));
    // Reused across rows: a MATCH calls this once per row it yields.
    thread_local std::vector<SQLiteDB::FtsInstance> instances;
    thread_local std::vector<int> sizes;
    instances.clear();
    sizes.resize(std::size_t(std::max(api->xPhraseCount(fts), 0)));
    // Each phrase's own position list, read in place: cheaper than the
    // instance array, which merges and sorts all of them.
    for (int phrase = 0; phrase < int(sizes.size()); ++phrase) {
        sizes[std::size_t(phrase)] = api->xPhraseSize(fts, phrase);
        Fts5PhraseIter iter;
        int column = -1;
        int offset = -1;
        if (const int rc = api->xPhraseFirst(fts, phrase, &iter, &column, &offset); rc != SQLITE_OK) {
            sqlite3_result_error_code(ctx, rc);
            return;
        }
        for (; column >= 0; api->xPhraseNext(fts, &iter, &column, &offset))
            instances.push_back({phrase, column, offset});
    }
    std::string_view argument;
    if (argc > 0) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        if (text)
            argument = std::string_view(text, std::size_t(sqlite3_value_bytes(argv[0])));
    }
    sqlite3_result_int(ctx, test(SQLiteDB::FtsRow{instances, sizes}, argument) ? 1 : 0);
}

} // namespace

bool SQLiteDB::addFtsRowTest(const char* name, FtsRowTest test)
{
    if (ftsRowTests_.contains(test))
        return true;
    fts5_api* api = ftsApi(handle_);
    if (!api)
        return false;
    auto* held = new FtsRowTest(test);
    const int rc = api->xCreateFunction(api, name, held, callFtsRowTest,
                                        [](void* p) { delete static_cast<FtsRowTest*>(p); });
    if (rc != SQLITE_OK) {
        delete held;
        return false;
    }
    ftsRowTests_ << test;
    return true;
}

SQLArgs argsOf(const QList<std::int64_t>& values)
{
    SQLArgs args;
    args.reserve(values.size());
    for (const std::int64_t v : values)
        args.append(v);
    return args;
}

// ---- Transaction --------------------------------------------------------

Transaction::Transaction(SQLiteDB& db, Mode mode) : db_(db)
{
    open_ = db_.exec(mode == Mode::Immediate ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
}

Transaction::~Transaction()
{
    if (open_)
        rollback();
}

bool Transaction::commit()
{
    if (!open_)
        return false;
    if (db_.exec(QStringLiteral("COMMIT"))) {
        open_ = false;
        return true;
    }
    failure_ = db_.lastFailure();
    rollback();
    return false;
}

void Transaction::rollback()
{
    open_ = false;
    // A failed COMMIT may already have ended the transaction itself.
    if (db_.inTransaction())
        db_.exec(QStringLiteral("ROLLBACK"));
}

ReadTransaction::ReadTransaction(SQLiteDB& db) : db_(db)
{
    if (db_.inTransaction() || !db_.exec(QStringLiteral("BEGIN")))
        return;
    open_ = true;
    // BEGIN alone takes no version: the first read does. It is taken here, so
    // that the version is the one of the guard's start, not of a later read.
    db_.scalarInt(QStringLiteral("PRAGMA schema_version"));
}

void ReadTransaction::end()
{
    if (!open_)
        return;
    open_ = false;
    // COMMIT keeps what the reads made in the connection's temporary schema.
    if (db_.inTransaction() && !db_.exec(QStringLiteral("COMMIT")) && db_.inTransaction())
        db_.exec(QStringLiteral("ROLLBACK"));
}

bool setTriggersEnabled(SQLiteDB& db, bool on)
{
    int now = -1;
    return sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_ENABLE_TRIGGER, on ? 1 : 0, &now) == SQLITE_OK
        && now == (on ? 1 : 0);
}

} // namespace quorvel
