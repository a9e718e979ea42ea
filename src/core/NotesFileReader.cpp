#include "core/NotesFileReader.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cerrno>
#include <istream>
#include <streambuf>

#include <unistd.h>

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
    using Take = std::function<bool(Kind, Entry&)>;
    Reader(const Outline* known, const Take* take) : known_(known), take_(take) {}

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
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override
    {
        fault.at = qint64(position);
        openAtFault = depth_ > 0;
        return false;
    }
    bool openAtFault = false; // whether the top object was open where it went wrong

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
        Entry none;
        return !handing_ || (*take_)(*list_, none);
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

// The text as a stream of valid UTF-8, a piece at a time: a piece ends
// before a character that it would cut, and a piece that is no valid UTF-8
// is handed over with U+FFFD for each bad byte. It keeps the newlines of
// the pieces before the last, to say the line of a byte of the last.
class Stream final : public std::streambuf {
public:
    explicit Stream(Source& source) : source_(source) {}

    bool atEnd() const { return ended_; }
    qint64 handed() const { return start_ + qint64(piece_.size()); }
    // The line of byte `at`, from 1, when it lies in the last piece or after.
    qint64 lineOf(qint64 at) const
    {
        const qint64 within = std::clamp<qint64>(at - start_, 0, qint64(piece_.size()));
        return 1 + linesBefore_ + qint64(std::count(piece_.begin(), piece_.begin() + within, '\n'));
    }

protected:
    int_type underflow() override
    {
        if (gptr() == egptr() && !fill())
            return traits_type::eof();
        return traits_type::to_int_type(*gptr());
    }

private:
    static constexpr qint64 kPiece = 1 << 20;

    bool fill()
    {
        if (ended_)
            return false;
        linesBefore_ += qint64(std::count(piece_.begin(), piece_.end(), '\n'));
        start_ += qint64(piece_.size());
        std::string raw = std::move(carried_);
        carried_.clear();
        const std::size_t kept = raw.size();
        raw.resize(kept + std::size_t(kPiece));
        const qint64 got = source_.read(raw.data() + kept, kPiece);
        ended_ = got <= 0;
        raw.resize(kept + std::size_t(std::max<qint64>(got, 0)));
        if (!ended_)
            carryCutCharacter(raw);
        const QByteArrayView view(raw.data(), qsizetype(raw.size()));
        if (view.isValidUtf8()) {
            piece_ = std::move(raw);
        } else {
            const QByteArray mended = QString::fromUtf8(view).toUtf8();
            piece_.assign(mended.constData(), std::size_t(mended.size()));
        }
        setg(piece_.data(), piece_.data(), piece_.data() + piece_.size());
        // A piece wholly carried over (a cut character alone) reads on.
        return !piece_.empty() || (!ended_ && fill());
    }

    // Moves a character the piece's end cuts to the next piece.
    void carryCutCharacter(std::string& raw)
    {
        for (std::size_t back = 1; back <= 3 && back <= raw.size(); ++back) {
            const auto c = uchar(raw[raw.size() - back]);
            if ((c & 0xC0) == 0x80)
                continue; // a continuation byte: look further back
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > back) {
                carried_.assign(raw, raw.size() - back, back);
                raw.resize(raw.size() - back);
            }
            return;
        }
    }

    Source& source_;
    std::string piece_;
    std::string carried_;
    qint64 start_ = 0; // of the piece, among the bytes handed over
    qint64 linesBefore_ = 0;
    bool ended_ = false;
};

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether the text's first byte other than white space, after a byte-order
// mark, is "{" and lies within headBytes; where it stops otherwise.
bool opensAnObject(Source& source, Fault& fault)
{
    std::string head(std::size_t(headBytes), '\0');
    qint64 got = 0;
    for (qint64 n = 1; got < headBytes && n > 0; got += std::max<qint64>(n, 0))
        n = source.read(head.data() + got, headBytes - got);
    head.resize(std::size_t(got));
    std::size_t at = head.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (at < head.size() && isJsonSpace(head[at]))
        ++at;
    if (at < head.size() && head[at] == '{')
        return source.rewind();
    fault.at = qint64(at);
    fault.line = 1 + qint64(std::count(head.begin(), head.begin() + qint64(at), '\n'));
    fault.readError = source.error();
    return false;
}

} // namespace

bool BytesSource::rewind()
{
    at_ = 0;
    return true;
}

qint64 BytesSource::read(char* into, qint64 max)
{
    const std::size_t n = std::min(std::size_t(max), text_.size() - at_);
    std::copy_n(text_.data() + at_, n, into);
    at_ += n;
    return qint64(n);
}

bool FileSource::rewind()
{
    at_ = 0;
    return true;
}

qint64 FileSource::read(char* into, qint64 max)
{
    for (;;) {
        // No further than its size when opened: a file that grows meanwhile
        // feeds the import no more.
        const ssize_t n = ::pread(fd_, into, std::size_t(std::clamp<qint64>(size_ - at_, 0, max)), off_t(at_));
        if (n >= 0) {
            at_ += n;
            return qint64(n);
        }
        if (errno != EINTR) {
            error_ = errno;
            return -1;
        }
    }
}

std::optional<Outline> outline(Source& text, Fault* fault)
{
    Fault found;
    if (!opensAnObject(text, found)) {
        if (fault)
            *fault = found;
        return std::nullopt;
    }
    Reader reader(nullptr, nullptr);
    Stream stream(text);
    std::istream in(&stream);
    if (!Json::Value::sax_parse(in, &reader)) {
        if (fault) {
            *fault = reader.fault;
            // Cut off: the text ran out while its top object was open.
            fault->cut = reader.openAtFault && stream.atEnd() && text.error() == 0 && fault->at >= stream.handed();
            fault->line = stream.lineOf(fault->at);
            fault->readError = text.error();
        }
        return std::nullopt;
    }
    return std::move(reader.found);
}

bool entries(Source& text, const Outline& outline, const std::function<bool(Kind, Entry&)>& take)
{
    if (!text.rewind())
        return false;
    Reader reader(&outline, &take);
    Stream stream(text);
    std::istream in(&stream);
    return Json::Value::sax_parse(in, &reader);
}

} // namespace quorvel::NotesFileReader
