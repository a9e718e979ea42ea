#include "core/Library.h"

#include "core/Notifier.h"
#include "core/Numbers.h"
#include "core/Settings.h"

#include <QHash>

#include <algorithm>

// Every list ordered by time breaks ties by insertion (id or rowid), newest
// first: timestamps are whole seconds, and a tie must never put an older
// entry before a newer one or, in the history, prune a newer one. The one
// exception is last_viewed, whose rowid is the book id: it keeps no order of
// writing, so its ties fall back on the book id.

namespace quorvel {

namespace {
const QString favoritesFolderName = QStringLiteral(u"المفضّلة");
constexpr const char* kIgnoredKey = "ignored";

// (book_id, seq, ts) rows as stamps, leaving out books the catalogue no longer holds.
QList<Library::PageStamp> stampsInCatalog(const QList<Statement::Row>& rows, const Catalog& catalog)
{
    QList<Library::PageStamp> out;
    for (const auto& row : rows) {
        const auto book = row.integer(0);
        if (!book || !catalog.bookById.contains(*book))
            continue;
        out.append({*book, row.integer(1).value_or(1), row.integer(2).value_or(0)});
    }
    return out;
}
} // namespace

QString Library::joinIds(const QList<std::int64_t>& ids)
{
    QStringList parts;
    parts.reserve(ids.size());
    for (const std::int64_t id : ids)
        parts.append(QString::number(id));
    return parts.join(u',');
}

QList<std::int64_t> Library::parseIds(const QString& text)
{
    QList<std::int64_t> ids;
    for (const QString& piece : text.split(u',', Qt::SkipEmptyParts)) {
        if (const auto id = Numbers::parseInteger(piece))
            ids.append(*id);
    }
    return ids;
}

// ---- Writes and their failure ------------------------------------------------

std::optional<SQLFailure> Library::userDataFault() const
{
    std::lock_guard guard(userFaultMutex_);
    return userFault_;
}

bool Library::noteUserFault(SQLFailure fault)
{
    std::lock_guard guard(userFaultMutex_);
    if (userFault_)
        return false;
    userFault_ = std::move(fault);
    return true;
}

bool Library::writeUser(const QString& sql, const SQLArgs& args)
{
    return writeUser(*user_, sql, args);
}

bool Library::writeUser(SQLiteDB& db, const QString& sql, SQLArgs args)
{
    if (db.run(sql, std::move(args)))
        return true;
    // A refused duplicate is no fault of the database.
    const std::optional<SQLFailure> fault = db.lastFailure();
    if (fault && fault->kind != SQLFailure::Kind::refused && noteUserFault(*fault))
        Notifier::postUserDataUnwritable();
    return false;
}

// ---- Last viewed and recent books --------------------------------------------

void Library::setLastViewed(std::int64_t book, std::int64_t seq)
{
    writeUser(QStringLiteral("INSERT INTO last_viewed(book_id, seq, ts) VALUES(?,?,?) "
                              "ON CONFLICT(book_id) DO UPDATE SET seq=excluded.seq, ts=excluded.ts"),
              {book, seq, now()});
}

std::optional<std::int64_t> Library::lastViewed(std::int64_t book) const
{
    return user_->scalarInt(QStringLiteral("SELECT seq FROM last_viewed WHERE book_id=?"), {book});
}

QList<Library::PageStamp> Library::recentBooks(int limit) const
{
    return stampsInCatalog(user_->rows(QStringLiteral("SELECT book_id, seq, ts FROM last_viewed "
                                                      "ORDER BY ts DESC, rowid DESC LIMIT ?"),
                                       {limit}),
                           *catalog());
}

// ---- Folders and favourites ------------------------------------------------------

QList<Library::Folder> Library::folders() const
{
    QList<Folder> out{{favoritesFolderId, favoritesFolderName}};
    for (const auto& row :
         user_->rows(QStringLiteral("SELECT id, name FROM folders ORDER BY sort, id")))
        out.append({row.integer(0).value_or(0), row.str(1).value_or(QString())});
    return out;
}

std::int64_t Library::addFolder(const QString& name)
{
    writeUser(QStringLiteral("INSERT INTO folders(name, sort) VALUES(?, ?)"), {name, now()});
    const std::int64_t id = user_->lastInsertId();
    Notifier::postUserDataChanged();
    return id;
}

QList<std::int64_t> Library::favorites(std::int64_t folder) const
{
    const auto snapshot = catalog();
    QList<std::int64_t> out;
    for (const auto& row : user_->rows(QStringLiteral("SELECT book_id FROM favorites WHERE "
                                                      "folder_id=? ORDER BY ts DESC, rowid DESC"),
                                       {folder})) {
        const auto book = row.integer(0);
        if (book && snapshot->bookById.contains(*book))
            out.append(*book);
    }
    return out;
}

bool Library::isFavorite(std::int64_t book) const
{
    return user_->scalarInt(QStringLiteral("SELECT COUNT(*) FROM favorites WHERE book_id=?"), {book})
               .value_or(0)
        > 0;
}

void Library::setFavorite(std::int64_t book, bool on, std::int64_t folder)
{
    if (on)
        writeUser(QStringLiteral(
                       "INSERT OR IGNORE INTO favorites(book_id, folder_id, ts) VALUES(?,?,?)"),
                  {book, folder, now()});
    else
        writeUser(QStringLiteral("DELETE FROM favorites WHERE book_id=?"), {book});
    Notifier::postUserDataChanged();
}

// ---- Notes ---------------------------------------------------------------------------

Note Library::noteFromRow(const Statement::Row& row) const
{
    return Note{row.integer(0).value_or(0), row.integer(1).value_or(0), row.integer(2).value_or(0),
                row.str(3).value_or(QString()), row.integer(4).value_or(0)};
}

QList<Note> Library::notes(std::optional<std::int64_t> book) const
{
    QList<Statement::Row> rows;
    if (book)
        rows = user_->rows(QStringLiteral("SELECT id, book_id, seq, text, ts FROM notes "
                                          "WHERE book_id=? ORDER BY seq, id"),
                           {*book});
    else
        rows = user_->rows(QStringLiteral(
            "SELECT id, book_id, seq, text, ts FROM notes ORDER BY ts DESC, id DESC"));
    QList<Note> out;
    out.reserve(rows.size());
    // A page listed once, however many rows it was left with.
    QHash<QPair<std::int64_t, std::int64_t>, qsizetype> listed;
    for (const auto& row : std::as_const(rows)) {
        const Note note = noteFromRow(row);
        const QPair<std::int64_t, std::int64_t> page{note.bookId, note.seq};
        if (const auto at = listed.constFind(page); at != listed.constEnd()) {
            if (const auto merged = noteOn(*user_, note.bookId, note.seq))
                out[*at] = *merged;
            continue;
        }
        listed.insert(page, out.size());
        out.append(note);
    }
    return out;
}

std::optional<Note> Library::note(std::int64_t book, std::int64_t seq) const
{
    return noteOn(*user_, book, seq);
}

std::optional<Note> Library::noteOn(SQLiteDB& db, std::int64_t book, std::int64_t seq) const
{
    const auto rows = db.rows(QStringLiteral("SELECT id, book_id, seq, text, ts FROM notes "
                                             "WHERE book_id=? AND seq=? ORDER BY id"),
                              {book, seq});
    if (rows.isEmpty())
        return std::nullopt;
    Note out = noteFromRow(rows.first());
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const Note other = noteFromRow(rows[i]);
        out.text = keepLinesAddedMeanwhile(out.text, QString(), other.text);
        out.ts = std::max(out.ts, other.ts);
    }
    return out;
}

bool Library::writePageNote(SQLiteDB& db, std::int64_t book, std::int64_t seq, const std::optional<Note>& stored,
                            QString text)
{
    if (text.isEmpty())
        return !stored || writeUser(db, QStringLiteral("DELETE FROM notes WHERE book_id=? AND seq=?"), {book, seq});
    // The text moves into arguments of their own statement: a list braced in
    // the call would keep a share of it until the call returned.
    if (!stored) {
        SQLArgs args{book, seq, std::move(text), now()};
        return writeUser(db, QStringLiteral("INSERT INTO notes(book_id, seq, text, ts) VALUES(?,?,?,?)"), std::move(args));
    }
    SQLArgs args{std::move(text), now(), stored->id};
    return writeUser(db, QStringLiteral("UPDATE notes SET text=?, ts=? WHERE id=?"), std::move(args))
        && writeUser(db, QStringLiteral("DELETE FROM notes WHERE book_id=? AND seq=? AND id<>?"),
                     {book, seq, stored->id});
}

QString Library::keepLinesAddedMeanwhile(const QString& text, const QString& opened, const QString& current)
{
    QHash<QString, int> before;
    for (const QString& line : opened.split(u'\n'))
        ++before[line];
    QHash<QString, int> kept;
    for (const QString& line : text.split(u'\n'))
        ++kept[line];
    QString out = text;
    for (const QString& line : current.split(u'\n')) {
        if (int& was = before[line]; was > 0) {
            --was;
            continue;
        }
        if (int& has = kept[line]; has > 0) {
            --has;
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        if (!out.trimmed().isEmpty())
            out += u'\n';
        out += line;
    }
    return out;
}

bool Library::saveNote(std::int64_t book, std::int64_t seq, const QString& text, const std::optional<QString>& opened,
                       SQLFailure* why)
{
    std::unique_lock edit(noteEditMutex_);
    // The write lock before the read: a save in another process that read
    // the same note would otherwise write over this one, or insert a second
    // row beside it.
    Transaction transaction(*user_);
    bool written = transaction.begun() || user_->inTransaction();
    if (written) {
        const auto existing = noteOn(*user_, book, seq);
        // What the page's note gained since the editor opened on it stays.
        const QString trimmed = (opened && existing && existing->text != *opened
                                     ? keepLinesAddedMeanwhile(text, *opened, existing->text)
                                     : text)
                                    .trimmed();
        written = writePageNote(*user_, book, seq, existing, trimmed);
    }
    std::optional<SQLFailure> failure = written ? std::nullopt : user_->lastFailure();
    if (written && transaction.begun() && !transaction.commit()) {
        written = false;
        failure = transaction.failure();
    }
    edit.unlock();
    if (!written) {
        const SQLFailure fault = failure.value_or(SQLFailure{});
        // A refused duplicate is no fault of the database; a lock another
        // process holds passes.
        if (fault.kind != SQLFailure::Kind::refused && fault.kind != SQLFailure::Kind::busy && noteUserFault(fault))
            Notifier::postUserDataUnwritable();
        if (why)
            *why = fault;
        return false;
    }
    Notifier::postUserDataChanged();
    return true;
}

// ---- Bookmarks -------------------------------------------------------------------------

QList<Library::PageStamp> Library::bookmarks() const
{
    return stampsInCatalog(user_->rows(QStringLiteral(
                               "SELECT book_id, seq, ts FROM bookmarks ORDER BY ts DESC, rowid DESC")),
                           *catalog());
}

QList<Library::PageStamp> Library::allBookmarks() const
{
    QList<PageStamp> out;
    for (const auto& row :
         user_->rows(QStringLiteral("SELECT book_id, seq, ts FROM bookmarks ORDER BY ts DESC, rowid DESC")))
        out.append({row.integer(0).value_or(0), row.integer(1).value_or(1), row.integer(2).value_or(0)});
    return out;
}

bool Library::setAside(std::int64_t book, std::int64_t seq)
{
    if (!catalog()->bookById.contains(book))
        return true;
    const auto [first, last] = seqRange(book);
    return seq < first || seq > last;
}

bool Library::isBookmarked(std::int64_t book, std::int64_t seq) const
{
    return user_->scalarInt(
                   QStringLiteral("SELECT COUNT(*) FROM bookmarks WHERE book_id=? AND seq=?"),
                   {book, seq})
               .value_or(0)
        > 0;
}

bool Library::toggleBookmark(std::int64_t book, std::int64_t seq)
{
    std::unique_lock edit(noteEditMutex_);
    // Read under the write lock, as a note is: two processes toggling one
    // page could otherwise both insert.
    Transaction transaction(*user_);
    bool written = (transaction.begun() || user_->inTransaction())
        && (isBookmarked(book, seq)
                ? writeUser(QStringLiteral("DELETE FROM bookmarks WHERE book_id=? AND seq=?"), {book, seq})
                : writeUser(QStringLiteral("INSERT INTO bookmarks(book_id, seq, ts) VALUES(?,?,?)"), {book, seq, now()}));
    if (written && transaction.begun())
        written = transaction.commit();
    edit.unlock();
    Notifier::postUserDataChanged();
    return written;
}

// ---- Scopes, history, saved results --------------------------------------------------------

QList<Library::Scope> Library::scopes() const
{
    QList<Scope> out;
    for (const auto& row : user_->rows(
             QStringLiteral("SELECT id, name, book_ids FROM scopes ORDER BY ts DESC, id DESC")))
        out.append({row.integer(0).value_or(0), row.str(1).value_or(QString()),
                    parseIds(row.str(2).value_or(QString()))});
    return out;
}

void Library::saveScope(const QString& name, const QList<std::int64_t>& books)
{
    writeUser(QStringLiteral("INSERT INTO scopes(name, book_ids, ts) VALUES(?,?,?)"),
              {name, joinIds(books), now()});
    Notifier::postUserDataChanged();
}

void Library::deleteScope(std::int64_t id)
{
    writeUser(QStringLiteral("DELETE FROM scopes WHERE id=?"), {id});
    Notifier::postUserDataChanged();
}

void Library::addHistory(const QString& title, const QString& json, std::int64_t count)
{
    writeUser(QStringLiteral("INSERT INTO history(title, json, count, ts) VALUES(?,?,?,?)"),
              {title, json, count, now()});
    writeUser(QStringLiteral("DELETE FROM history WHERE id NOT IN "
                              "(SELECT id FROM history ORDER BY ts DESC, id DESC LIMIT ?)"),
              {historyLimit});
    Notifier::postUserDataChanged();
}

QList<Library::HistoryEntry> Library::history() const
{
    QList<HistoryEntry> out;
    for (const auto& row : user_->rows(QStringLiteral(
             "SELECT id, title, json, count, ts FROM history ORDER BY ts DESC, id DESC")))
        out.append({row.integer(0).value_or(0), row.str(1).value_or(QString()),
                    row.str(2).value_or(QString()), row.integer(3).value_or(0),
                    row.integer(4).value_or(0)});
    return out;
}

bool Library::saveResults(const QString& name, const QString& json,
                          const QList<std::int64_t>& pageIds)
{
    if (!writeUser(QStringLiteral("INSERT INTO saved_results(name, json, page_ids, ts) VALUES(?,?,?,?)"),
                   {name, json, joinIds(pageIds), now()}))
        return false;
    Notifier::postUserDataChanged();
    return true;
}

QList<Library::SavedResult> Library::savedResults() const
{
    QList<SavedResult> out;
    for (const auto& row : user_->rows(QStringLiteral(
             "SELECT id, name, json, page_ids FROM saved_results ORDER BY ts DESC, id DESC")))
        out.append({row.integer(0).value_or(0), row.str(1).value_or(QString()),
                    row.str(2).value_or(QString()), parseIds(row.str(3).value_or(QString()))});
    return out;
}

// ---- Per-book preference, corrections, key-value store ----------------------------------

bool Library::tashkeel(std::int64_t book) const
{
    if (const auto stored =
            user_->scalarInt(QStringLiteral("SELECT tashkeel FROM book_prefs WHERE book_id=?"), {book}))
        return *stored != 0;
    return Settings::showTashkeel();
}

void Library::setTashkeel(std::int64_t book, bool on)
{
    writeUser(QStringLiteral("INSERT INTO book_prefs(book_id, tashkeel) VALUES(?,?) "
                              "ON CONFLICT(book_id) DO UPDATE SET tashkeel=excluded.tashkeel"),
              {book, on ? 1 : 0});
}

bool Library::addCorrection(std::int64_t book, std::int64_t seq, const QString& kind,
                            const QString& note)
{
    return writeUser(QStringLiteral(
                   "INSERT INTO corrections(book_id, seq, kind, note, ts) VALUES(?,?,?,?,?)"),
               {book, seq, kind, note, now()});
}

std::optional<QString> Library::kv(const QString& key) const
{
    const auto rows = user_->rows(QStringLiteral("SELECT v FROM kv WHERE k=?"), {key});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().str(0);
}

bool Library::setKV(const QString& key, const QString& value)
{
    return writeUser(QStringLiteral(
                   "INSERT INTO kv(k, v) VALUES(?,?) ON CONFLICT(k) DO UPDATE SET v=excluded.v"),
               {key, value});
}

QSet<std::int64_t> Library::ignoredBooks() const
{
    const QList<std::int64_t> ids = parseIds(kv(kIgnoredKey).value_or(QString()));
    return QSet<std::int64_t>(ids.cbegin(), ids.cend());
}

void Library::setIgnoredBooks(const QSet<std::int64_t>& books)
{
    QList<std::int64_t> ids(books.cbegin(), books.cend());
    std::sort(ids.begin(), ids.end());
    setKV(kIgnoredKey, joinIds(ids));
    Notifier::postUserDataChanged();
}

} // namespace quorvel
