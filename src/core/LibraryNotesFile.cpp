#include "core/Json.h"
#include "core/Library.h"
#include "core/NoteMerge.h"
#include "core/NotesFileReader.h"
#include "core/Notifier.h"

#include <QHash>
#include <QSet>
#include <QStringView>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <tuple>
#include <vector>

namespace quorvel {

namespace {

constexpr const char* kFileFormat = "quorvel-notes";
constexpr std::int64_t kFileVersion = 1;
constexpr int kPrettyIndent = 2;
// Entries between two progress reports of an import.
constexpr qint64 kProgressEvery = 500;

// A whole number, written as an integer or as a number with an integral
// value (12.0). Booleans are not numbers here.
std::optional<std::int64_t> integral(const Json::Value& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end())
        return std::nullopt;
    // An unsigned value past the signed range would wrap to another id.
    if (it->is_number_unsigned())
        return it->get<std::uint64_t>() <= std::uint64_t(std::numeric_limits<std::int64_t>::max())
            ? std::optional<std::int64_t>(std::int64_t(it->get<std::uint64_t>()))
            : std::nullopt;
    if (it->is_number_integer())
        return it->get<std::int64_t>();
    if (it->is_number_float()) {
        const double d = it->get<double>();
        constexpr double limit = 9223372036854775808.0; // 2^63
        if (std::isfinite(d) && d == std::trunc(d) && d >= -limit && d < limit)
            return std::int64_t(d);
    }
    return std::nullopt;
}

// Whether UTF-8 text holds anything but white space, as QString::trimmed()
// tells it, decoded a piece at a time: a note of many megabytes is told from
// a blank one without a UTF-16 copy of it (and a trimmed copy of that). A
// piece ends before a character, never within it, so each decodes as it
// would within the whole.
bool holdsMoreThanSpace(std::string_view utf8)
{
    constexpr std::size_t piece = 4096;
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t end = std::min(at + piece, utf8.size());
        while (end < utf8.size() && (uchar(utf8[end]) & 0xC0) == 0x80)
            ++end;
        const QString units = QString::fromUtf8(utf8.data() + at, qsizetype(end - at));
        if (!QStringView(units).trimmed().isEmpty())
            return true;
        at = end;
    }
    return false;
}

} // namespace

std::optional<QByteArray> Library::exportUserNotes() const
{
    const auto snapshot = catalog();
    Json::Value notesArray = Json::Value::array();
    for (const Note& n : notes(std::nullopt)) {
        Json::Value entry = {{"book_id", n.bookId},
                             {"seq", n.seq},
                             {"text", Json::utf8(n.text)},
                             {"ts", n.ts}};
        if (const auto it = snapshot->bookById.constFind(n.bookId);
            it != snapshot->bookById.constEnd())
            entry["book"] = Json::utf8(it->title);
        notesArray.push_back(std::move(entry));
    }
    Json::Value marksArray = Json::Value::array();
    // Those set aside too: the file carries them to where their book is.
    for (const PageStamp& b : allBookmarks())
        marksArray.push_back({{"book_id", b.bookId}, {"seq", b.seq}, {"ts", b.ts}});
    const Json::Value top = {{"format", kFileFormat},
                             {"version", kFileVersion},
                             {"notes", std::move(notesArray)},
                             {"bookmarks", std::move(marksArray)}};
    Json::DumpOptions options;
    options.indent = kPrettyIndent;
    const QByteArray bytes = Json::dumpBytes(top, options);
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

// An import in three steps: the file's notes are sorted by page as its
// entries are parsed, one at a time, without reading a note of the user
// database; the pages are then merged a group at a time, each group first in
// memory with no lock held, then written in one short transaction that
// writes a page only if its note is still the one merged into (a page edited
// meanwhile is merged again); last, the bookmarks are added, each in one
// statement. What is held meanwhile is each usable note's page and text (its
// bytes as the file gives them) and each usable bookmark's page: less than
// the file.
class Library::NotesMerge {
public:
    NotesMerge(Library& lib, const ImportControl& control) : lib_(lib), control_(control) {}

    // Reads the text, then lets it go.
    ImportCounts run(NotesFileReader::Source& text, const NotesFileReader::Outline& outline)
    {
        total_ = outline.notes + outline.marks;
        snapshot_ = lib_.catalog();
        db_ = writer();
        // Reserved whole, which touches no memory until it is filled: a
        // buffer doubling as it grows would hold the old one and the new at
        // once, and keep up to twice what it needs.
        texts_.reserve(std::size_t(std::max<qint64>(text.size(), 0)));
        pending_.reserve(std::size_t(outline.notes));
        keys_.reserve(std::size_t(outline.notes));
        marks_.reserve(std::size_t(outline.marks));
        const bool read = NotesFileReader::entries(text, outline, [this](NotesFileReader::Kind kind, NotesFileReader::Entry& entry) {
            if (stopped())
                return false;
            if (kind == NotesFileReader::Kind::note)
                keep(entry);
            else
                keepMark(entry);
            return true;
        });
        text.letGo();
        if (read && !stopped()) {
            slot_ = {}; // the pages are known by their place from here on
            std::stable_sort(pending_.begin(), pending_.end(),
                             [](const Pending& a, const Pending& b) { return a.page < b.page; });
            if (mergePages())
                addBookmarks();
        }
        if (!counts_.stopped && !counts_.failure && control_.progress)
            control_.progress(total_, total_);
        return counts_;
    }

private:
    using PageKey = QPair<std::int64_t, std::int64_t>;
    // One note of the file: the page it goes to (its place in keys_) and
    // where its text lies: in texts_, or, for a long one, its place in
    // ownTexts_.
    struct Pending {
        std::uint32_t page;
        std::uint32_t size;
        std::size_t at;
        bool own = false;
    };
    // A text at least this long keeps the buffer the parser gave it rather
    // than be copied beside it.
    static constexpr std::size_t ownTextBytes = 64 * 1024;
    // One page merged in memory: the note it was merged into (none when the
    // page had none) and what it became.
    struct Merged {
        std::size_t from = 0, end = 0; // its notes in pending_
        std::int64_t book = 0, seq = 0;
        std::optional<Note> base;
        QString text;
        std::vector<std::uint32_t> addedSizes; // of the notes the text gained, in order
        int skipped = 0;
        int added() const { return int(addedSizes.size()); }
    };
    // A group of pages ends after this many pages or notes, whichever comes
    // first (a page with more notes is a group of its own), so that an edit
    // waits for its writing a moment at most.
    static constexpr int pagesPerGroup = 2'000;
    static constexpr qsizetype notesPerGroup = 2'000;
    // Times a page edited meanwhile is merged again with no lock held
    // before it is merged under the write lock.
    static constexpr int roundsWithoutLock = 3;

    bool stopped()
    {
        if (control_.stop && control_.stop->load())
            counts_.stopped = true;
        return counts_.stopped;
    }
    void advance()
    {
        if (++done_ % kProgressEvery == 0 && control_.progress)
            control_.progress(done_, total_);
    }

    // A connection of the import's own where the user database is a file,
    // so that the window's writes never join the import's transactions; the
    // library's own where no second one opens (then the library's writes
    // fail already).
    std::shared_ptr<SQLiteDB> writer()
    {
        const QString path = lib_.user_->path();
        if (lib_.userDataFault() || path.isEmpty() || path.startsWith(u':') || path.contains(QLatin1String("mode=memory")))
            return lib_.user_;
        std::shared_ptr<SQLiteDB> own = SQLiteDB::open(path, false);
        return own ? own : lib_.user_;
    }

    // The failure that stops the import, kept as the user data's fault as
    // any failed write is.
    bool fail(std::optional<SQLFailure> failure)
    {
        counts_.failure = failure.value_or(SQLFailure{});
        if (lib_.noteUserFault(*counts_.failure))
            Notifier::postUserDataUnwritable();
        return false;
    }

    // The book an entry names: its id, unless its title names another book
    // (the first in display order with that title).
    std::int64_t bookOf(const Json::Value& entry, std::int64_t id)
    {
        const auto title = Json::strictString(entry, "book");
        if (!title)
            return id;
        if (const auto it = snapshot_->bookById.constFind(id); it != snapshot_->bookById.constEnd() && it->title == *title)
            return id;
        if (byTitle_.isEmpty())
            for (const Book& book : snapshot_->books)
                if (!byTitle_.contains(book.title))
                    byTitle_.insert(book.title, book.id); // the first of a title
        return byTitle_.value(*title, id);
    }

    // Keeps a usable note as its page and its text, the pages in order of
    // first appearance; an unusable one is skipped.
    void keep(NotesFileReader::Entry& note)
    {
        Json::Value& entry = note.fields;
        const auto bookId = integral(entry, "book_id");
        const auto seq = integral(entry, "seq");
        const auto text = entry.find("text");
        if (note.empty || !bookId || !seq || text == entry.end() || !text->is_string()
            || !holdsMoreThanSpace(text->get_ref<const std::string&>())) {
            ++counts_.skipped;
            advance();
            return;
        }
        const PageKey key{bookOf(entry, *bookId), *seq};
        auto at = slot_.constFind(key);
        if (at == slot_.constEnd()) {
            at = slot_.insert(key, std::uint32_t(keys_.size()));
            keys_.push_back(key);
        }
        std::string& bytes = text->get_ref<std::string&>();
        if (bytes.size() >= ownTextBytes) {
            pending_.push_back({*at, std::uint32_t(bytes.size()), ownTexts_.size(), true});
            ownTexts_.push_back(std::move(bytes));
            return;
        }
        pending_.push_back({*at, std::uint32_t(bytes.size()), texts_.size()});
        texts_ += bytes;
    }

    // Keeps a bookmark's page; one without is passed over here, taking
    // nothing.
    void keepMark(NotesFileReader::Entry& entry)
    {
        const auto book = integral(entry.fields, "book_id");
        const auto seq = integral(entry.fields, "seq");
        if (book && seq)
            marks_.push_back({*book, *seq});
        else
            advance();
    }

    // The note's text; a long one's bytes are let go once read.
    QString textOf(const Pending& note)
    {
        if (!note.own)
            return QString::fromUtf8(texts_.data() + note.at, qsizetype(note.size)).trimmed();
        QString text = QString::fromUtf8(ownTexts_[note.at]).trimmed();
        std::string().swap(ownTexts_[note.at]);
        return text;
    }

    static bool changed(const Merged& page, const std::optional<Note>& now)
    {
        return now.has_value() != page.base.has_value()
            || (now && (now->id != page.base->id || now->text != page.base->text));
    }

    bool mergePages();
    bool mergeInto(Merged& page, const std::optional<Note>& base);
    bool mergeAgain(Merged& page, const std::optional<Note>& now);
    bool writeGroup(std::vector<Merged>& group);
    void addBookmarks();

    Library& lib_;
    const ImportControl& control_;
    std::shared_ptr<SQLiteDB> db_;
    std::shared_ptr<const Catalog> snapshot_;
    QHash<QString, std::int64_t> byTitle_; // filled at the first title that corrects an id
    QHash<PageKey, std::uint32_t> slot_;   // each page's place in keys_, while the file is read
    std::vector<PageKey> keys_;            // the pages, in order of first appearance
    std::vector<Pending> pending_;
    std::string texts_;                    // the texts of pending_, one after another
    std::vector<std::string> ownTexts_;    // the long ones
    std::vector<PageKey> marks_;
    ImportCounts counts_;
    qint64 total_ = 0;
    qint64 done_ = 0;
};

// Merges the pages a group at a time; false when stopped or a write failed.
// Once the last page is merged the file's texts are let go, before its
// group is written.
bool Library::NotesMerge::mergePages()
{
    std::size_t at = 0;
    while (at < pending_.size()) {
        std::vector<Merged> group;
        const std::size_t groupStart = at;
        while (at < pending_.size() && group.size() < std::size_t(pagesPerGroup)
               && at - groupStart < std::size_t(notesPerGroup)) {
            Merged page;
            page.from = at;
            page.end = at;
            while (page.end < pending_.size() && pending_[page.end].page == pending_[at].page)
                ++page.end;
            std::tie(page.book, page.seq) = keys_[pending_[at].page];
            if (!mergeInto(page, lib_.noteOn(*db_, page.book, page.seq)))
                return false;
            at = page.end;
            group.push_back(std::move(page));
        }
        if (at == pending_.size()) {
            std::string().swap(texts_);
            std::vector<std::string>().swap(ownTexts_);
            std::vector<Pending>().swap(pending_);
        }
        if (!writeGroup(group))
            return false;
    }
    return true;
}

// Merges a page's notes, in file order, into `base`, the page's note as
// read; false when stopped.
bool Library::NotesMerge::mergeInto(Merged& page, const std::optional<Note>& base)
{
    NoteMerge merge(base ? base->text : QString());
    // A page gaining one note takes it as it is, with nothing reserved.
    if (page.end - page.from > 1) {
        qsizetype most = merge.text().size();
        for (std::size_t k = page.from; k < page.end; ++k)
            most += qsizetype(pending_[k].size) + 1; // no more UTF-16 units than UTF-8 bytes
        merge.reserve(most);
    }
    for (std::size_t k = page.from; k < page.end; ++k) {
        if (stopped())
            return false;
        const QString imported = textOf(pending_[k]);
        if (merge.contains(imported)) {
            ++page.skipped;
        } else {
            merge.append(imported);
            page.addedSizes.push_back(std::uint32_t(imported.size()));
        }
        advance();
    }
    page.base = base;
    page.text = merge.added() > 0 ? merge.takeText() : QString();
    return true;
}

// Merges what the first merge added into the page's note as it is now,
// which an edit changed since: each added note, taken from the merged text,
// unless the note now holds it. False when stopped.
bool Library::NotesMerge::mergeAgain(Merged& page, const std::optional<Note>& now)
{
    NoteMerge merge(now ? now->text : QString());
    qsizetype at = page.base && !page.base->text.isEmpty() ? page.base->text.size() + 1 : 0;
    std::vector<std::uint32_t> added;
    for (const std::uint32_t size : page.addedSizes) {
        if (stopped())
            return false;
        const QString note = page.text.mid(at, size);
        at += qsizetype(size) + 1;
        if (merge.contains(note)) {
            ++page.skipped;
        } else {
            merge.append(note);
            added.push_back(size);
        }
    }
    page.base = now;
    page.addedSizes = std::move(added);
    page.text = merge.added() > 0 ? merge.takeText() : QString();
    return true;
}

// Writes a merged group in one transaction under the write lock, taken
// before each page's note is read; a page whose note changed since it was
// merged is merged again after the lock is let go and written with the
// next round, and after a few such rounds merged again under the lock, so
// that a page edited without pause still ends. What a round added counts
// once its commit succeeded; false when a write failed or the import was
// stopped.
bool Library::NotesMerge::writeGroup(std::vector<Merged>& group)
{
    for (int round = 0; !group.empty(); ++round) {
        if (stopped())
            return false;
        const bool underLock = round >= roundsWithoutLock;
        std::vector<Merged> edited;
        ImportCounts done;
        {
            std::lock_guard edit(lib_.noteEditMutex_);
            Transaction transaction(*db_);
            // Without a transaction of its own (one is open elsewhere on a
            // shared connection) each write stands on its own.
            if (!transaction.begun() && !db_->inTransaction())
                return fail(db_->lastFailure());
            for (Merged& page : group) {
                const std::optional<Note> now = lib_.noteOn(*db_, page.book, page.seq);
                if (changed(page, now)) {
                    if (!underLock) {
                        edited.push_back(std::move(page));
                        continue;
                    }
                    if (!mergeAgain(page, now))
                        return false;
                }
                // Handed over, so that the text is let go once bound.
                if (page.added() > 0 && !lib_.writePageNote(*db_, page.book, page.seq, now, std::move(page.text)))
                    return fail(db_->lastFailure());
                (lib_.setAside(page.book, page.seq) ? done.aside : done.notes) += page.added();
                done.skipped += page.skipped;
                page = Merged();
            }
            if (transaction.begun() && !transaction.commit())
                return fail(transaction.failure());
        }
        counts_.notes += done.notes;
        counts_.aside += done.aside;
        counts_.skipped += done.skipped;
        for (Merged& page : edited)
            if (!mergeAgain(page, lib_.noteOn(*db_, page.book, page.seq)))
                return false;
        // Told once the round is over, its edited pages merged again: an
        // edit the notice brings about comes after what was merged.
        Notifier::postUserDataChanged();
        group = std::move(edited);
    }
    return true;
}

// Adds each bookmark the user data lacks in one statement, so that one set
// meanwhile is neither doubled nor, as a toggle would, removed.
void Library::NotesMerge::addBookmarks()
{
    const qsizetype count = qsizetype(marks_.size());
    for (qsizetype at = 0; at < count && !stopped();) {
        const qsizetype groupStart = at;
        int added = 0;
        int aside = 0;
        {
            std::lock_guard edit(lib_.noteEditMutex_);
            Transaction transaction(*db_);
            if (!transaction.begun() && !db_->inTransaction()) {
                fail(db_->lastFailure());
                return;
            }
            for (const qsizetype groupEnd = std::min(at + notesPerGroup, count); at < groupEnd && !stopped(); ++at) {
                const PageKey& mark = marks_[std::size_t(at)];
                if (!lib_.writeUser(*db_, QStringLiteral("INSERT OR IGNORE INTO bookmarks(book_id, seq, ts) VALUES(?,?,?)"),
                                    {mark.first, mark.second, Library::now()})) {
                    fail(db_->lastFailure());
                    return;
                }
                if (db_->changes() > 0)
                    ++(lib_.setAside(mark.first, mark.second) ? aside : added);
            }
            if (transaction.begun() && !transaction.commit()) {
                fail(transaction.failure());
                return;
            }
        }
        counts_.marks += added;
        counts_.aside += aside;
        Notifier::postUserDataChanged();
        // Told outside the lock, so that the report may edit.
        for (qsizetype i = groupStart; i < at; ++i)
            advance();
    }
}

namespace {

// The caller's bytes, let go once the import has read them.
class HeldBytes final : public NotesFileReader::Source {
public:
    explicit HeldBytes(QByteArray data) : data_(std::move(data)), view_(std::string_view(data_.constData(), std::size_t(data_.size()))) {}
    bool rewind() override { return view_.rewind(); }
    qint64 read(char* into, qint64 max) override { return view_.read(into, max); }
    qint64 size() const override { return view_.size(); }
    void letGo() override
    {
        view_ = NotesFileReader::BytesSource({});
        data_ = QByteArray();
    }

private:
    QByteArray data_;
    NotesFileReader::BytesSource view_;
};

} // namespace

std::optional<Library::ImportCounts> Library::importUserNotes(QByteArray data, const ImportControl& control)
{
    HeldBytes text(std::move(data));
    return importUserNotes(text, control);
}

// Merges notes (by book id, corrected by book title) and bookmarks (by id
// only). A note whose trimmed text is empty, or is already contained in the
// page's note, is skipped, so importing the same file twice adds nothing.
std::optional<Library::ImportCounts> Library::importUserNotes(NotesFileReader::Source& text, const ImportControl& control)
{
    NotesFileReader::Fault fault;
    const auto outline = NotesFileReader::outline(text, &fault);
    if (!outline) {
        if (control.refusal)
            *control.refusal = {fault.cut, fault.line, fault.entries, fault.readError};
        return std::nullopt;
    }
    if (outline->members == 0)
        return std::nullopt;
    const Json::Value& top = outline->head;
    const auto format = Json::strictString(top, "format");
    if (!format || *format != QLatin1String(kFileFormat))
        return std::nullopt;
    // A file written by a newer version may mean something else by its
    // entries; refuse it whole rather than merge it wrongly.
    if (const auto it = top.find("version"); it != top.end() && it->is_number()
        && it->get<double>() > double(kFileVersion))
        return std::nullopt;
    return NotesMerge(*this, control).run(text, *outline);
}

} // namespace quorvel
