#include "core/NotesFileReader.h"

#include <QString>

#include <algorithm>
#include <array>

namespace quorvel::NotesFileReader {

namespace {

constexpr std::array<const char*, 4> kFields = {"book_id", "seq", "text", "book"};

// Depths of the text's containers: the top object, an entry list, an entry.
constexpr int kTop = 1;
constexpr int kList = 2;
constexpr int kEntry = 3;

// One pass over the text. Without `known` it fills `found`; with it, it
// hands the entries `known` counted to `take`.
class Reader final : public Json::Value::json_sax_t {
public:
    using Take = std::function<bool(Kind, const Entry&)>;
    Reader(const Outline* known, const Take* take, std::size_t size = 0) : known_(known), take_(take), size_(size) {}

    Outline found;
    Fault fault;

    bool null() override { return scalar(Json::Value()); }
    bool boolean(bool value) override { return scalar(Json::Value(value)); }
    bool number_integer(number_integer_t value) override { return scalar(Json::Value(value)); }
    bool number_unsigned(number_unsigned_t value) override { return scalar(Json::Value(value)); }
    bool number_float(number_float_t value, const string_t&) override { return scalar(Json::Value(value)); }
    bool string(string_t& value) override { return scalar(Json::Value(std::move(value))); }
    bool binary(binary_t&) override { return false; } // never in a JSON text
    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    // Cut off: the text ran out while its top object was open.
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override
    {
        fault.at = qint64(position);
        fault.cut = depth_ > 0 && position >= size_;
        return false;
    }

    bool key(string_t& name) override
    {
        if (depth_ == kTop) {
            member_ = name;
            memberAt_ = found.members++;
            list_.reset();
            if (!known_ && (name == "notes" || name == "bookmarks")) {
                // Its last writing counts, entries or none.
                (name == "notes" ? found.notesAt : found.marksAt) = memberAt_;
                (name == "notes" ? found.notes : found.marks) = 0;
            }
        } else if (depth_ == kEntry && inEntry_) {
            entry_.empty = false;
            field_ = nullptr;
            for (const char* f : kFields)
                if (name == f)
                    field_ = f;
        }
        return true;
    }

private:
    bool scalar(Json::Value value)
    {
        if (depth_ == 0)
            return false; // the top is no object
        if (depth_ == kTop && (member_ == "format" || member_ == "version"))
            found.head[member_] = std::move(value);
        else if (depth_ == kList && list_ && value.is_null())
            return emptyEntry();
        else if (depth_ == kList && list_)
            objects_ = false;
        else if (depth_ == kEntry && handing_ && field_)
            entry_.fields[field_] = std::move(value);
        return true;
    }

    bool open(bool object)
    {
        if (depth_ == 0 && !object)
            return false;
        if (depth_ == kTop && (member_ == "notes" || member_ == "bookmarks") && !object) {
            list_ = member_ == "notes" ? Kind::note : Kind::mark;
            count_ = 0;
            objects_ = true;
            handing_ = known_ && (list_ == Kind::note ? known_->notesAt == memberAt_ && known_->notes > 0
                                                      : known_->marksAt == memberAt_ && known_->marks > 0);
        } else if (depth_ == kTop) {
            scalar(Json::Value()); // an array or object in place of format or version
        } else if (depth_ == kList && list_) {
            inEntry_ = object;
            objects_ = objects_ && object;
            ++count_;
            entry_ = Entry();
            field_ = nullptr;
        } else if (depth_ == kEntry && handing_ && field_) {
            entry_.fields[field_] = nullptr;
            field_ = nullptr;
        }
        return ++depth_ <= Json::maxDepth;
    }

    // A null in a list stands for an entry with no member: it is passed
    // over as one, and its neighbours are read.
    bool emptyEntry()
    {
        ++count_;
        ++fault.entries;
        return !handing_ || (*take_)(*list_, Entry());
    }

    bool close()
    {
        const int was = depth_--;
        if (was == kEntry && list_ && inEntry_) {
            inEntry_ = false;
            ++fault.entries;
            if (handing_ && !(*take_)(*list_, entry_))
                return false;
        } else if (was == kList && list_) {
            if (!known_)
                (list_ == Kind::note ? found.notes : found.marks) = objects_ ? count_ : 0;
            list_.reset();
            handing_ = false;
        }
        return true;
    }

    const Outline* known_;
    const Take* take_;
    std::size_t size_;
    int depth_ = 0;
    std::string member_;         // the top object's member being read
    qint64 memberAt_ = -1;       // its place among them
    std::optional<Kind> list_;   // the entry list being read
    qint64 count_ = 0;           // its entries so far
    bool objects_ = true;        // whether all of them are objects
    bool handing_ = false;       // whether they are handed over
    bool inEntry_ = false;
    Entry entry_;
    const char* field_ = nullptr; // the entry's member being read, when kept
};

} // namespace

std::optional<Outline> outline(std::string_view text, Fault* fault)
{
    Reader reader(nullptr, nullptr, text.size());
    if (!Json::Value::sax_parse(text.begin(), text.end(), &reader)) {
        if (fault)
            *fault = reader.fault;
        return std::nullopt;
    }
    return std::move(reader.found);
}

std::optional<QByteArray> withBadBytesReplaced(std::string_view text)
{
    if (QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8())
        return std::nullopt;
    // A piece at a time, so that only the copy and one piece are held; a
    // piece ends before a character's first byte, never within it.
    constexpr std::size_t kPiece = 1 << 20;
    QByteArray out;
    out.reserve(qsizetype(text.size()));
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = std::min(at + kPiece, text.size());
        for (int back = 0; back < 3 && end < text.size() && end > at + 1 && (uchar(text[end]) & 0xC0) == 0x80; ++back)
            --end;
        out += QString::fromUtf8(text.data() + at, qsizetype(end - at)).toUtf8();
        at = end;
    }
    return out;
}

bool entries(std::string_view text, const Outline& outline, const std::function<bool(Kind, const Entry&)>& take)
{
    Reader reader(&outline, &take);
    return Json::Value::sax_parse(text.begin(), text.end(), &reader);
}

} // namespace quorvel::NotesFileReader
