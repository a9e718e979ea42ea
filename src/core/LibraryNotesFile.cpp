#include "core/Json.h"
#include "core/Library.h"

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

// The notes merged into one page during an import. Whether an imported
// note is already in the page's text is first asked of a filter of the
// text's pieces of `gram` characters: a note with a piece the text lacks
// cannot be in it, so only a note that may be is looked for in the whole
// text, and a page of many different notes is not scanned once per note.
class PageMerge {
public:
    PageMerge(std::int64_t book, std::int64_t seq, QString text) : book_(book), seq_(seq), text_(std::move(text))
    {
        for (const QString& line : text_.split(u'\n'))
            lines_.insert(line);
        index();
    }

    std::int64_t book() const { return book_; }
    std::int64_t seq() const { return seq_; }
    const QString& text() const { return text_; }
    int added() const { return added_; }

    bool contains(const QString& note) const
    {
        if (lines_.contains(note))
            return true;
        if (note.size() >= gram && !bits_.empty()) {
            for (qsizetype at = 0; at + gram <= note.size(); ++at)
                if (!maySee(hashAt(note, at)))
                    return false;
        }
        return text_.contains(note);
    }

    void append(const QString& note)
    {
        // Appended in place: a copy per note would grow with the page's text.
        if (!text_.isEmpty())
            text_ += u'\n';
        text_ += note;
        lines_.insert(note);
        ++added_;
        index();
    }

private:
    static constexpr qsizetype gram = 8;
    static constexpr std::size_t bitsPerPiece = 16;

    static std::uint64_t hashAt(const QString& text, qsizetype at)
    {
        return qHashBits(text.constData() + at, gram * sizeof(QChar), 0x9e3779b97f4a7c15ull);
    }
    bool maySee(std::uint64_t h) const
    {
        const std::size_t mask = bits_.size() * 64 - 1;
        const std::size_t a = h & mask;
        const std::size_t b = (h >> 32 | h << 32) & mask;
        return (bits_[a / 64] >> (a % 64) & 1) && (bits_[b / 64] >> (b % 64) & 1);
    }
    void see(std::uint64_t h)
    {
        const std::size_t mask = bits_.size() * 64 - 1;
        const std::size_t a = h & mask;
        const std::size_t b = (h >> 32 | h << 32) & mask;
        bits_[a / 64] |= std::uint64_t(1) << (a % 64);
        bits_[b / 64] |= std::uint64_t(1) << (b % 64);
    }
    // Adds the pieces the text gained; when they outgrow the filter, a
    // filter twice as large takes every piece again, which keeps the work
    // in proportion to the text.
    void index()
    {
        const qsizetype pieces = std::max<qsizetype>(text_.size() - gram + 1, 0);
        if (std::size_t(pieces) * bitsPerPiece > bits_.size() * 64) {
            std::size_t words = 1024;
            while (words * 64 < std::size_t(pieces) * bitsPerPiece * 2)
                words *= 2;
            bits_.assign(words, 0);
            indexed_ = 0;
        }
        for (; indexed_ < pieces; ++indexed_)
            see(hashAt(text_, indexed_));
    }

    std::int64_t book_;
    std::int64_t seq_;
    QString text_;          // the page's note with what was merged so far
    QSet<QString> lines_;   // its lines, which answer the common repeat at once
    std::vector<std::uint64_t> bits_;
    qsizetype indexed_ = 0; // pieces of text_ in the filter
    int added_ = 0;
};

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

    const QList<const Json::Value*> noteEntries = objectEntries(top, "notes");
    const QList<const Json::Value*> markEntries = objectEntries(top, "bookmarks");
    const qint64 total = noteEntries.size() + markEntries.size();
    qint64 done = 0;
    auto stopped = [&] { return control.stop && control.stop->load(); };
    auto advance = [&] {
        if (++done % kProgressEvery == 0 && control.progress)
            control.progress(done, total);
    };

    // Every page's note is read once and merged in memory, in file order; a
    // page is found by its key, never by a scan of the pages seen.
    std::vector<PageMerge> pages;
    QHash<QPair<std::int64_t, std::int64_t>, std::size_t> pageAt;

    const auto snapshot = catalog();
    ImportCounts counts;
    for (const Json::Value* entry : noteEntries) {
        if (stopped()) {
            counts.stopped = true;
            return counts;
        }
        advance();
        const auto bookId = integral(*entry, "book_id");
        const auto seq = integral(*entry, "seq");
        const auto text = Json::strictString(*entry, "text");
        if (entry->empty() || !bookId || !seq || !text) {
            ++counts.skipped;
            continue;
        }
        std::int64_t book = *bookId;
        if (const auto title = Json::strictString(*entry, "book")) {
            const auto it = snapshot->bookById.constFind(book);
            if (it == snapshot->bookById.constEnd() || it->title != *title) {
                for (const Book& candidate : snapshot->books) {
                    if (candidate.title == *title) {
                        book = candidate.id;
                        break;
                    }
                }
            }
        }
        const QString imported = text->trimmed();
        if (imported.isEmpty()) {
            ++counts.skipped;
            continue;
        }
        const QPair<std::int64_t, std::int64_t> key{book, *seq};
        auto at = pageAt.constFind(key);
        if (at == pageAt.constEnd()) {
            const std::optional<Note> existing = note(book, *seq);
            at = pageAt.insert(key, pages.size());
            pages.emplace_back(book, *seq, existing ? existing->text : QString());
        }
        PageMerge& page = pages[*at];
        if (page.contains(imported)) {
            ++counts.skipped;
            continue;
        }
        page.append(imported);
    }
    // Each page is written once; only what was written is counted as imported.
    for (const PageMerge& page : pages) {
        if (page.added() == 0)
            continue;
        if (stopped()) {
            counts.stopped = true;
            return counts;
        }
        if (saveNote(page.book(), page.seq(), page.text()))
            counts.notes += page.added();
    }

    for (const Json::Value* entry : markEntries) {
        if (stopped()) {
            counts.stopped = true;
            return counts;
        }
        advance();
        const auto bookId = integral(*entry, "book_id");
        const auto seq = integral(*entry, "seq");
        if (!bookId || !seq)
            continue;
        if (!isBookmarked(*bookId, *seq) && toggleBookmark(*bookId, *seq))
            ++counts.marks;
    }
    if (control.progress)
        control.progress(total, total);
    return counts;
}

} // namespace quorvel
