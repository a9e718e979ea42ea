#pragma once

// The notes exchange file read entry by entry, never as the tree of the whole
// document, which takes about ten times the file: a first pass checks that
// the text is valid JSON and finds its head and how many entries its members
// hold; a second hands over each note and bookmark entry as it is parsed,
// holding one entry at a time. Both read the text as parse() would: a member
// written twice counts as its last writing, and a text nested deeper than
// Json::maxDepth is refused.

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
    qint64 entries = 0; // note and bookmark entries whole before it
};

// Nothing when the text is not valid JSON with an object at its top; then
// `fault`, when given, says where it went wrong.
std::optional<Outline> outline(std::string_view text, Fault* fault = nullptr);

// The text with every byte that is no part of valid UTF-8 read as U+FFFD;
// nothing when it is valid already.
std::optional<QByteArray> withBadBytesReplaced(std::string_view text);

// One entry: the members an import reads ("book_id", "seq", "text",
// "book"), each as written when it is no array or object and a null in its
// place otherwise, and whether the entry has any member at all.
struct Entry {
    Json::Value fields = Json::Value::object();
    bool empty = true;
};
enum class Kind { note, mark };
// Hands each entry outline() counted to `take`, in the file's order. False
// when `take` returned false (the rest left unread).
bool entries(std::string_view text, const Outline& outline, const std::function<bool(Kind, const Entry&)>& take);

} // namespace quorvel::NotesFileReader
