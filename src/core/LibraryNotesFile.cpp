#include "core/Json.h"
#include "core/Library.h"
#include "core/NoteMerge.h"
#include "core/Notifier.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
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

// The entries of an array member, or none at all when the member is missing,
// is not an array or holds anything but objects.
QList<const Json::Value*> objectEntries(const Json::Value& top, const char* key)
{
    QList<const Json::Value*> out;
    const auto it = top.find(key);
    if (it == top.end() || !it->is_array())
        return out;
    for (const auto& element : *it) {
        if (!element.is_object())
            return {};
        out.append(&element);
    }
    return out;
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
    for (const PageStamp& b : bookmarks())
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

// An import in three steps: the file's notes are sorted by page without
// reading a note of the user database; each page is then merged in a short
// transaction that reads its note, adds what is new and writes it, a group
// of pages at a time; last, the bookmarks are added, each in one statement.
// A page is never read early and written late, so an edit made while the
// import runs is kept.
class Library::NotesMerge {
public:
    NotesMerge(Library& lib, const ImportControl& control) : lib_(lib), control_(control) {}

    ImportCounts run(const QList<const Json::Value*>& notes, const QList<const Json::Value*>& marks)
    {
        total_ = notes.size() + marks.size();
        if (sortByPage(notes) && mergePages(notes))
            addBookmarks(marks);
        if (!counts_.stopped && control_.progress)
            control_.progress(total_, total_);
        return counts_;
    }

private:
    using PageKey = QPair<std::int64_t, std::int64_t>;
    // One note of the file: the page it goes to (its place in keys_) and its
    // place in the file.
    struct Pending {
        std::uint32_t page;
        std::uint32_t entry;
    };
    // A merge transaction ends after this many pages or notes, whichever
    // comes first, so that an edit waits for it a moment at most.
    static constexpr int pagesPerGroup = 2'000;
    static constexpr qsizetype notesPerGroup = 2'000;

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

    // Keeps each usable note as its page and its place in the file, grouped
    // by page in order of first appearance; what is unusable is skipped.
    bool sortByPage(const QList<const Json::Value*>& notes)
    {
        snapshot_ = lib_.catalog();
        QHash<PageKey, std::uint32_t> slot;
        for (qsizetype i = 0; i < notes.size(); ++i) {
            if (stopped())
                return false;
            const Json::Value& entry = *notes[i];
            const auto bookId = integral(entry, "book_id");
            const auto seq = integral(entry, "seq");
            const auto text = Json::strictString(entry, "text");
            if (entry.empty() || !bookId || !seq || !text || text->trimmed().isEmpty()) {
                ++counts_.skipped;
                advance();
                continue;
            }
            const PageKey key{bookOf(entry, *bookId), *seq};
            auto at = slot.constFind(key);
            if (at == slot.constEnd()) {
                at = slot.insert(key, std::uint32_t(keys_.size()));
                keys_.push_back(key);
            }
            pending_.push_back({*at, std::uint32_t(i)});
        }
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const Pending& a, const Pending& b) { return a.page < b.page; });
        return true;
    }

    // Merges the pages a group at a time, each group one transaction held
    // against edits; what a group added counts once its commit succeeded.
    bool mergePages(const QList<const Json::Value*>& notes)
    {
        std::size_t at = 0;
        while (at < pending_.size()) {
            std::lock_guard edit(lib_.noteEditMutex_);
            Transaction transaction(*lib_.user_);
            int added = 0;
            int pages = 0;
            const std::size_t groupStart = at;
            bool go = true;
            while (go && at < pending_.size() && pages < pagesPerGroup && at - groupStart < std::size_t(notesPerGroup)) {
                std::size_t end = at;
                while (end < pending_.size() && pending_[end].page == pending_[at].page)
                    ++end;
                go = mergePage(notes, at, end, added);
                at = end;
                ++pages;
            }
            // Without a transaction (one is open elsewhere on the connection)
            // each write stood on its own.
            if (!transaction.begun() || transaction.commit())
                counts_.notes += added;
            Notifier::postUserDataChanged();
            if (!go)
                return false;
        }
        return true;
    }

    // Reads one page's note, adds the file's notes it lacks in file order
    // and writes it; false when stopped (the page then unwritten).
    bool mergePage(const QList<const Json::Value*>& notes, std::size_t from, std::size_t end, int& added)
    {
        const auto [book, seq] = keys_[pending_[from].page];
        const std::optional<Note> existing = lib_.note(book, seq);
        NoteMerge page(existing ? existing->text : QString());
        for (std::size_t k = from; k < end; ++k) {
            if (stopped())
                return false;
            const QString imported = Json::strictString(*notes[pending_[k].entry], "text")->trimmed();
            if (page.contains(imported))
                ++counts_.skipped;
            else
                page.append(imported);
            advance();
        }
        if (page.added() == 0)
            return true;
        const bool written = existing
            ? lib_.writeUser(QStringLiteral("UPDATE notes SET text=?, ts=? WHERE id=?"), {page.text(), now(), existing->id})
            : lib_.writeUser(QStringLiteral("INSERT INTO notes(book_id, seq, text, ts) VALUES(?,?,?,?)"),
                             {book, seq, page.text(), now()});
        if (written)
            added += page.added();
        return true;
    }

    // Adds each bookmark the user data lacks in one statement, so that one
    // set meanwhile is neither doubled nor, as a toggle would, removed.
    void addBookmarks(const QList<const Json::Value*>& marks)
    {
        for (qsizetype at = 0; at < marks.size() && !stopped();) {
            std::lock_guard edit(lib_.noteEditMutex_);
            Transaction transaction(*lib_.user_);
            int added = 0;
            for (const qsizetype groupEnd = std::min(at + notesPerGroup, marks.size()); at < groupEnd && !stopped(); ++at) {
                advance();
                const auto bookId = integral(*marks[at], "book_id");
                const auto seq = integral(*marks[at], "seq");
                if (bookId && seq
                    && lib_.writeUser(QStringLiteral("INSERT OR IGNORE INTO bookmarks(book_id, seq, ts) VALUES(?,?,?)"),
                                      {*bookId, *seq, now()})
                    && lib_.user_->changes() > 0)
                    ++added;
            }
            if (!transaction.begun() || transaction.commit())
                counts_.marks += added;
            Notifier::postUserDataChanged();
        }
    }

    Library& lib_;
    const ImportControl& control_;
    std::shared_ptr<const Catalog> snapshot_;
    QHash<QString, std::int64_t> byTitle_; // filled at the first title that corrects an id
    std::vector<PageKey> keys_;            // the pages, in order of first appearance
    std::vector<Pending> pending_;
    ImportCounts counts_;
    qint64 total_ = 0;
    qint64 done_ = 0;
};

// Merges notes (by book id, corrected by book title) and bookmarks (by id
// only). A note whose trimmed text is empty, or is already contained in the
// page's note, is skipped, so importing the same file twice adds nothing.
std::optional<Library::ImportCounts> Library::importUserNotes(const QByteArray& data, const ImportControl& control)
{
    const auto parsed = Json::parse(data);
    if (!parsed || !parsed->is_object() || parsed->empty())
        return std::nullopt;
    const Json::Value& top = *parsed;
    const auto format = Json::strictString(top, "format");
    if (!format || *format != QLatin1String(kFileFormat))
        return std::nullopt;
    // A file written by a newer version may mean something else by its
    // entries; refuse it whole rather than merge it wrongly.
    if (const auto it = top.find("version"); it != top.end() && it->is_number()
        && it->get<double>() > double(kFileVersion))
        return std::nullopt;
    return NotesMerge(*this, control).run(objectEntries(top, "notes"), objectEntries(top, "bookmarks"));
}

} // namespace quorvel
