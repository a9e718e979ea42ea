#include "core/Library.h"

#include "core/Characters.h"
#include "core/DistFetch.h"
#include "core/LibrarySchema.h"
#include "core/Paths.h"
#include "core/Preferences.h"

#include <QDir>
#include <QFileInfo>

#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdio>

namespace quorvel {

namespace {

constexpr const char* kLibraryModeKey = "libraryMode";
constexpr const char* kDefaultLibraryMode = "auto";
constexpr const char* kLocalLibraryMode = "local";
constexpr std::int64_t kUncategorisedId = -1;
const QString uncategorisedName = QStringLiteral(u"غير مصنّف");

std::mutex sharedMutex;
std::shared_ptr<Library> sharedLibrary;

icu::UnicodeString toIcu(const QString& s)
{
    return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

QString fromIcu(const icu::UnicodeString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

// A compiled pattern shared by every thread; matchers are made per call.
const icu::RegexPattern* compile(const char16_t* pattern)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    icu::RegexPattern* compiled =
        icu::RegexPattern::compile(icu::UnicodeString(pattern), parseError, status);
    Q_ASSERT(U_SUCCESS(status));
    return compiled;
}

// Canonically composed form, so that canonically equivalent titles compare
// equal and the rest compare by scalar values.
std::u32string composedScalars(const QString& s)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString composed = U_SUCCESS(status) ? nfc->normalize(toIcu(s), status) : toIcu(s);
    if (U_FAILURE(status))
        composed = toIcu(s);
    std::u32string out;
    out.reserve(size_t(composed.length()));
    for (int32_t i = 0; i < composed.length();) {
        const UChar32 c = composed.char32At(i);
        out.push_back(char32_t(c));
        i += U16_LENGTH(c);
    }
    return out;
}

QString percentEncodeForUri(const QString& path)
{
    QString out;
    out.reserve(path.size());
    for (const QChar c : path) {
        switch (c.unicode()) {
        case u'%': out += QStringLiteral("%25"); break;
        case u'?': out += QStringLiteral("%3f"); break;
        case u'#': out += QStringLiteral("%23"); break;
        default: out += c; break;
        }
    }
    return out;
}

// The local store is what the locator falls back on; create its file and
// tables once so that the application can open an empty store and offer
// downloads.
void ensureLocalStore(const QString& path)
{
    static std::once_flag once;
    std::call_once(once, [&path] {
        if (!Paths::localStorePathProblem().isEmpty())
            return;
        if (auto db = SQLiteDB::open(path, false))
            LibrarySchema::create(*db);
    });
}

} // namespace

// ---- Locating and opening ---------------------------------------------------

std::shared_ptr<Library> Library::shared()
{
    std::lock_guard guard(sharedMutex);
    return sharedLibrary;
}

void Library::setShared(std::shared_ptr<Library> library)
{
    std::lock_guard guard(sharedMutex);
    sharedLibrary = std::move(library);
}

QString Library::supportDir()
{
    return Paths::supportDir();
}

QString Library::libraryMode()
{
    return Preferences::standard().string(kLibraryModeKey).value_or(kDefaultLibraryMode);
}

void Library::setLibraryMode(const QString& mode)
{
    Preferences::standard().set(kLibraryModeKey, mode);
}

namespace {

// The first existing candidate path, or the local store's path (existing or
// not) when none exists.
QString chooseDatabase()
{
    const QString localStore = Paths::localStorePath();
    if (Library::libraryMode() == kLocalLibraryMode)
        return localStore;
    QStringList candidates;
    if (qEnvironmentVariableIsSet("QUORVEL_DB"))
        candidates << qEnvironmentVariable("QUORVEL_DB");
    if (auto stored = Preferences::standard().string(Library::dbPathKey))
        candidates << *stored;
    candidates << Library::supportDir() + QLatin1String(Library::masterFileName) << Paths::developerDatabasePath(QDir::homePath());
    for (const QString& candidate : candidates) {
        if (!candidate.isEmpty() && QFileInfo::exists(candidate))
            return candidate;
    }
    return localStore;
}

} // namespace

std::optional<QString> Library::locateDatabase()
{
    const QString path = chooseDatabase();
    if (path == Paths::localStorePath())
        ensureLocalStore(path);
    return path;
}

std::optional<QString> Library::findExistingDatabase()
{
    const QString path = chooseDatabase();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

QString Library::readOnlyUri(const QString& dbPath)
{
    return QStringLiteral("file:") + percentEncodeForUri(dbPath) + QStringLiteral("?mode=ro");
}

const QString& Library::userSchema()
{
    static const QString schema = QStringLiteral(
        "PRAGMA journal_mode=WAL;\n"
        "CREATE TABLE IF NOT EXISTS last_viewed(book_id INTEGER PRIMARY KEY, seq INTEGER, "
        "ts INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS folders(id INTEGER PRIMARY KEY, name TEXT, sort INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS favorites(book_id INTEGER, folder_id INTEGER DEFAULT 0, "
        "ts INTEGER, PRIMARY KEY(book_id, folder_id));\n"
        "CREATE TABLE IF NOT EXISTS notes(id INTEGER PRIMARY KEY, book_id INTEGER, seq INTEGER, "
        "text TEXT, ts INTEGER);\n"
        "CREATE INDEX IF NOT EXISTS idx_notes_book ON notes(book_id, seq);\n"
        "CREATE TABLE IF NOT EXISTS bookmarks(book_id INTEGER, seq INTEGER, ts INTEGER, "
        "PRIMARY KEY(book_id, seq));\n"
        "CREATE TABLE IF NOT EXISTS scopes(id INTEGER PRIMARY KEY, name TEXT, book_ids TEXT, "
        "ts INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS history(id INTEGER PRIMARY KEY, title TEXT, json TEXT, "
        "count INTEGER, ts INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS saved_results(id INTEGER PRIMARY KEY, name TEXT, json TEXT, "
        "page_ids TEXT, ts INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS book_prefs(book_id INTEGER PRIMARY KEY, tashkeel INTEGER);\n"
        "CREATE TABLE IF NOT EXISTS kv(k TEXT PRIMARY KEY, v TEXT);\n"
        "CREATE TABLE IF NOT EXISTS corrections(id INTEGER PRIMARY KEY, book_id INTEGER, "
        "seq INTEGER, kind TEXT, note TEXT, ts INTEGER)");
    return schema;
}

namespace {

// The user's own database, in the support folder unless $QUORVEL_USERDB names another.
constexpr const char* kUserFileName = "user.db";

constexpr char kUserDataUnmade[] = "تعذّر إنشاء ملفّ بيانات المستخدم، فلن يُحفظ فيه شيء";

// A user database whose tables could not be made (a full disk, a file-size
// limit) reads as empty through tables of the connection's own memory, which
// take no writes: every read would otherwise fail and say so in SQL. Said
// once, in Arabic.
void standInUserTables(SQLiteDB& user, const SQLFailure& fault)
{
    QString schema = Library::userSchema();
    schema.replace(QStringLiteral("CREATE TABLE IF NOT EXISTS "), QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS "));
    QStringList statements = schema.split(u'\n');
    statements.removeIf([](const QString& line) {
        return line.startsWith(QStringLiteral("CREATE INDEX")) || line.startsWith(QStringLiteral("PRAGMA"));
    });
    user.exec(QStringLiteral("PRAGMA temp_store=MEMORY;\n") + statements.join(u'\n'));
    user.exec(QStringLiteral("PRAGMA query_only=1"));
    const QString why = fault.systemError != 0 ? Dist::fileErrorReason(fault.systemError) : fault.message;
    const QByteArray line = (QString::fromUtf8(kUserDataUnmade) + QStringLiteral(": ") + why + u'\n').toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace

std::shared_ptr<Library> Library::open(const QString& dbPath)
{
    // SQLite opens lazily: a file that is not a database only shows when it
    // is first read. Refuse it here rather than hand out an unusable library.
    auto readable = [](const QString& uri) {
        auto db = SQLiteDB::open(uri, true);
        if (db && !db->exec(QStringLiteral("SELECT 1 FROM sqlite_master LIMIT 1")))
            db.reset();
        return db;
    };
    auto main = readable(readOnlyUri(dbPath));
    if (!main && QFileInfo(dbPath).isFile() && !QFileInfo(QFileInfo(dbPath).absolutePath()).isWritable())
        main = readable(readOnlyUri(dbPath) + QStringLiteral("&immutable=1"));
    if (!main)
        return nullptr;
    const QString userPath = qEnvironmentVariableIsSet("QUORVEL_USERDB")
        ? qEnvironmentVariable("QUORVEL_USERDB")
        : supportDir() + kUserFileName;
    auto user = SQLiteDB::open(userPath, false);
    if (!user)
        return nullptr;
    // A user database that cannot keep anything still lets the library open;
    // the fault is kept for the windows to tell.
    std::optional<SQLFailure> userFault;
    if (!user->exec(userSchema())) {
        userFault = user->lastFailure().value_or(SQLFailure{});
        standInUserTables(*user, *userFault);
    } else if (user->isReadOnly())
        userFault = SQLFailure{SQLFailure::Kind::readOnly, QString()};
    std::shared_ptr<Library> library(new Library(dbPath, std::move(main), std::move(user)));
    if (userFault)
        library->noteUserFault(*userFault);
    library->reloadCatalog();
    return library;
}

Library::Library(QString dbPath, std::shared_ptr<SQLiteDB> main, std::shared_ptr<SQLiteDB> user)
    : dbPath_(std::move(dbPath)), main_(std::move(main)), user_(std::move(user)),
      catalog_(std::make_shared<const Catalog>())
{
}

Library::~Library() = default;

bool Library::isLocal() const
{
    return dbPath_.contains(QLatin1String(Paths::localStoreFileName));
}

std::shared_ptr<SQLiteDB> Library::newSearchConnection() const
{
    return SQLiteDB::open(main_->path(), true);
}

std::shared_ptr<SQLiteDB> Library::takeSearchConnection() const
{
    {
        std::lock_guard guard(searchPoolMutex_);
        if (!searchPool_.empty()) {
            std::shared_ptr<SQLiteDB> db = std::move(searchPool_.back());
            searchPool_.pop_back();
            return db;
        }
    }
    return newSearchConnection();
}

void Library::returnSearchConnection(std::shared_ptr<SQLiteDB> db) const
{
    if (!db || db.use_count() != 1)
        return;
    std::lock_guard guard(searchPoolMutex_);
    if (searchPool_.size() < searchPoolSize)
        searchPool_.push_back(std::move(db));
}

std::unique_ptr<Library::KeptSearch> Library::takeKeptSearch() const
{
    std::lock_guard guard(searchPoolMutex_);
    if (keptSearches_.empty())
        return nullptr;
    std::unique_ptr<KeptSearch> kept = std::move(keptSearches_.back());
    keptSearches_.pop_back();
    return kept;
}

void Library::keepSearch(std::unique_ptr<KeptSearch> kept) const
{
    if (!kept)
        return;
    {
        std::lock_guard guard(searchPoolMutex_);
        if (keptSearches_.size() < searchPoolSize) {
            keptSearches_.push_back(std::move(kept));
            return;
        }
    }
    // Closed outside the lock: a connection takes its time to close.
    kept.reset();
}

// ---- Catalogue ---------------------------------------------------------------

std::shared_ptr<const Catalog> Library::catalog() const
{
    std::lock_guard guard(catalogMutex_);
    return catalog_;
}

void Library::publish(std::shared_ptr<const Catalog> catalog)
{
    std::lock_guard guard(catalogMutex_);
    catalog_ = std::move(catalog);
}

std::optional<Book> Library::book(std::int64_t id) const
{
    const auto snapshot = catalog();
    const auto it = snapshot->bookById.constFind(id);
    if (it == snapshot->bookById.constEnd())
        return std::nullopt;
    return *it;
}

bool Library::reloadCatalogIfChanged()
{
    const auto version = main_->scalarInt(QStringLiteral("PRAGMA data_version"));
    {
        std::lock_guard guard(catalogMutex_);
        if (version == loadedDataVersion_)
            return false;
    }
    reloadCatalog();
    return true;
}

void Library::reloadCatalog()
{
    const auto version = main_->scalarInt(QStringLiteral("PRAGMA data_version"));
    {
        std::lock_guard guard(catalogMutex_);
        loadedDataVersion_ = version;
    }
    publish(loadCatalog());
    std::lock_guard guard(cacheMutex_);
    seqRanges_.clear();
    tocCache_.clear();
    tocFlat_.clear();
    volsCache_.clear();
}

std::optional<Author> Library::author(const Book& book) const
{
    if (!book.authorId)
        return std::nullopt;
    const auto snapshot = catalog();
    const auto it = snapshot->authors.constFind(*book.authorId);
    if (it == snapshot->authors.constEnd())
        return std::nullopt;
    return *it;
}

Library::AuthorBio Library::authorBio(std::int64_t author) const
{
    const auto rows = main_->rows(QStringLiteral("SELECT full_name, bio FROM authors WHERE id=?"), {author});
    if (rows.isEmpty())
        return {};
    return {rows.first().str(0), rows.first().str(1)};
}

QString Library::authorName(const Book& book) const
{
    const auto found = author(book);
    return found ? found->display() : QString();
}

std::optional<std::int64_t> Library::deathYear(const Book& book) const
{
    const auto found = author(book);
    if (found && found->death)
        return found->death;
    return book.bookDate;
}

QString Library::cleanAuthor(const QString& name)
{
    static const icu::RegexPattern* deathNote = compile(u"\\s*\\((ال)?متوفى[^)]*\\)");
    static const icu::RegexPattern* latinOnly = compile(u"^[A-Za-z]+$");
    static const icu::RegexPattern* caseBoundary = compile(u"([a-z])([A-Z])");

    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text = toIcu(name);
    {
        std::unique_ptr<icu::RegexMatcher> m(deathNote->matcher(text, status));
        if (U_SUCCESS(status))
            text = m->replaceFirst(icu::UnicodeString(), status);
    }
    status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> latin(latinOnly->matcher(text, status));
    if (U_SUCCESS(status) && latin->find(status)) {
        std::unique_ptr<icu::RegexMatcher> m(caseBoundary->matcher(text, status));
        if (U_SUCCESS(status)) {
            icu::UnicodeString split = m->replaceAll(icu::UnicodeString(u"$1 $2"), status);
            if (U_SUCCESS(status))
                text = split;
        }
    }
    return Characters::trimSpacesAndTabs(fromIcu(text)).toString();
}

// Reads authors, books and categories, puts the books in display order and
// files them under their categories. Failing queries give empty lists, so a
// database without these tables has an empty catalogue.
std::shared_ptr<Catalog> Library::loadCatalog() const
{
    auto cat = std::make_shared<Catalog>();
    SQLiteDB& db = *main_;

    for (const auto& row : db.rows(QStringLiteral(
             "SELECT id, name, death_year, death_text FROM authors"))) {
        const auto id = row.integer(0);
        if (!id)
            continue;
        cat->authors.insert(*id, Author{*id, cleanAuthor(row.str(1).value_or(QString())),
                                        row.integer(2), row.str(3)});
    }

    QList<Book> books;
    for (const auto& row : db.rows(QStringLiteral(
             "SELECT id, title, author_id, category_id, book_date, edition, publisher, "
             "source_uri, license FROM books"))) {
        const auto id = row.integer(0);
        if (!id)
            continue;
        books.append(Book{*id, row.str(1).value_or(QString()), row.integer(2), row.integer(3),
                          row.integer(4), row.str(5), row.str(6), row.str(7), row.str(8), 0});
    }

    // Sort keys are computed once: the date, the author's death, or undatedYear.
    // A book without an author id falls back on the author stored under -1.
    struct Keyed {
        std::int64_t key;
        std::u32string title;
        Book book;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(books.size()));
    for (const Book& b : std::as_const(books)) {
        std::int64_t key = undatedYear;
        if (b.bookDate) {
            key = *b.bookDate;
        } else {
            const auto it = cat->authors.constFind(b.authorId.value_or(-1));
            if (it != cat->authors.constEnd() && it->death)
                key = *it->death;
        }
        keyed.push_back({key, composedScalars(b.title), b});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.key != b.key)
            return a.key < b.key;
        return a.title < b.title;
    });
    cat->books.reserve(qsizetype(keyed.size()));
    for (auto& k : keyed) {
        k.book.order = cat->books.size();
        cat->books.append(k.book);
        cat->bookById.insert(k.book.id, k.book);
    }

    QList<Category> all;
    QHash<std::int64_t, qsizetype> position;
    for (const auto& row : db.rows(QStringLiteral(
             "SELECT id, name FROM categories ORDER BY COALESCE(sort, id), id"))) {
        const auto id = row.integer(0);
        if (!id)
            continue;
        position.insert(*id, all.size());
        all.append(Category{*id, row.str(1).value_or(QString()), {}});
    }
    QList<std::int64_t> uncategorised;
    for (const Book& b : std::as_const(cat->books)) {
        const auto it = b.categoryId ? position.constFind(*b.categoryId) : position.constEnd();
        if (it != position.constEnd())
            all[*it].bookIds.append(b.id);
        else
            uncategorised.append(b.id);
    }
    if (!uncategorised.isEmpty())
        all.append(Category{kUncategorisedId, uncategorisedName, uncategorised});
    for (const Category& c : std::as_const(all)) {
        if (c.bookIds.isEmpty())
            continue;
        cat->categories.append(c);
        cat->categoryById.insert(c.id, c);
    }
    return cat;
}

} // namespace quorvel
