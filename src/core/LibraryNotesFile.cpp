#include "core/Json.h"
#include "core/Library.h"

#include <cmath>
#include <limits>

namespace quorvel {

namespace {

constexpr const char* kFileFormat = "quorvel-notes";
constexpr std::int64_t kFileVersion = 1;
constexpr int kPrettyIndent = 2;

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

// Merges notes (by book id, corrected by book title) and bookmarks (by id
// only). A note whose trimmed text is empty, or is already contained in the
// page's note, is skipped, so importing the same file twice adds nothing.
std::optional<Library::ImportCounts> Library::importUserNotes(const QByteArray& data)
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

    const auto snapshot = catalog();
    ImportCounts counts;
    for (const Json::Value* entry : objectEntries(top, "notes")) {
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
        QString merged = imported;
        if (const auto existing = note(book, *seq)) {
            if (existing->text.contains(imported)) {
                ++counts.skipped;
                continue;
            }
            merged = existing->text + u'\n' + imported;
        }
        // Only what was written is counted as imported.
        if (saveNote(book, *seq, merged))
            ++counts.notes;
    }

    for (const Json::Value* entry : objectEntries(top, "bookmarks")) {
        const auto bookId = integral(*entry, "book_id");
        const auto seq = integral(*entry, "seq");
        if (!bookId || !seq)
            continue;
        if (!isBookmarked(*bookId, *seq) && toggleBookmark(*bookId, *seq))
            ++counts.marks;
    }
    return counts;
}

} // namespace quorvel
