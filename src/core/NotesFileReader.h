#pragma once

// The notes exchange file read entry by entry, never as the tree of the whole
// document, which takes about ten times the file, and as a stream, a piece
// at a time, never whole: the file is first judged by its first bytes (an
// object must open there), then a first pass checks that the text is valid
// JSON and finds its head and how many entries its members hold; a second
// hands over each note and bookmark entry as it is parsed, holding one entry
// at a time. Both read the text as parse() would: a member written twice
// counts as its last writing, and a text nested deeper than Json::maxDepth
// is refused. A byte that is no part of valid UTF-8 reads as U+FFFD.

#include "core/Json.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <string_view>

namespace quorvel::NotesFileReader {

struct Outline {
    // The top object's "format" and "version" members as written (a null in
    // place of an array or object), the others left out.
    Json::Value head = Json::Value::object();
    qint64 members = 0; // of the top object
    // Entries of the notes and bookmarks members: none when the member is
    // missing, is no array or holds anything but objects and nulls (a null
    // is an entry with no member).
    qint64 notes = 0;
    qint64 marks = 0;
    // Which writing of each member counts (its last), by its place among the
    // top object's members.
    qint64 notesAt = -1;
    qint64 marksAt = -1;
};

// Where a text that is no valid JSON went wrong.
struct Fault {
    bool cut = false;   // it ended before its top object did
    qint64 at = 0;      // the byte where it went wrong
    qint64 line = 1;    // the line of that byte, from 1
    qint64 entries = 0; // note and bookmark entries whole before it
    int readError = 0;  // errno's value when the file could not be read on
};

// Where the text's bytes come from, read from the start at each pass.
class Source {
public:
    virtual ~Source() = default;
    // Back to the first byte; false when it cannot go back.
    virtual bool rewind() = 0;
    // Up to `max` next bytes into `into`: how many, 0 at the end, -1 when
    // the read failed (then error() says why).
    virtual qint64 read(char* into, qint64 max) = 0;
    virtual int error() const { return 0; }
    // The bytes it holds, as far as known beforehand.
    virtual qint64 size() const = 0;
    // Told once its bytes are read for the last time.
    virtual void letGo() {}
};

class BytesSource final : public Source {
public:
    explicit BytesSource(std::string_view text) : text_(text) {}
    bool rewind() override;
    qint64 read(char* into, qint64 max) override;
    qint64 size() const override { return qint64(text_.size()); }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

// A regular file's descriptor, read at its own offset (the descriptor's is
// left alone) up to the size it had when opened; the descriptor stays the
// caller's.
class FileSource final : public Source {
public:
    FileSource(int fd, qint64 size) : fd_(fd), size_(size) {}
    bool rewind() override;
    qint64 read(char* into, qint64 max) override;
    int error() const override { return error_; }
    qint64 size() const override { return size_; }

private:
    int fd_;
    qint64 size_;
    qint64 at_ = 0;
    int error_ = 0;
};

// Bytes the first non-space byte must lie within.
inline constexpr qint64 headBytes = 64 * 1024;

// Nothing when the text is not valid JSON with an object at its top; then
// `fault`, when given, says where it went wrong. A text whose first byte
// other than white space (and a byte-order mark) is no "{", or lies past
// headBytes, is refused before anything more is read.
std::optional<Outline> outline(Source& text, Fault* fault = nullptr);


// One entry, the taker's to move from: the members an import reads
// ("book_id", "seq", "text", "book"), each as written when it is no array or
// object and a null in its place otherwise, and whether the entry has any
// member at all.
struct Entry {
    Json::Value fields = Json::Value::object();
    bool empty = true;
};
enum class Kind { note, mark };
// Hands each entry outline() counted to `take`, in the file's order. False
// when `take` returned false (the rest left unread).
bool entries(Source& text, const Outline& outline, const std::function<bool(Kind, Entry&)>& take);

} // namespace quorvel::NotesFileReader
