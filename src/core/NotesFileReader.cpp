#include "core/NotesFileReader.h"

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
    Reader(const Outline* known, const Take* take) : known_(known), take_(take) {}

    Outline found;

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
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

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

    bool close()
    {
        const int was = depth_--;
        if (was == kEntry && list_ && inEntry_) {
            inEntry_ = false;
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

std::optional<Outline> outline(std::string_view text)
{
    Reader reader(nullptr, nullptr);
    if (!Json::Value::sax_parse(text.begin(), text.end(), &reader))
        return std::nullopt;
    return std::move(reader.found);
}

bool entries(std::string_view text, const Outline& outline, const std::function<bool(Kind, const Entry&)>& take)
{
    Reader reader(&outline, &take);
    return Json::Value::sax_parse(text.begin(), text.end(), &reader);
}

} // namespace quorvel::NotesFileReader
