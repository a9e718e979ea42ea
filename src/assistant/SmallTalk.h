#pragma once

// Courtesies at the start of a message: greetings, thanks, "who are you",
// "what can you do" and farewells. The panel answers the courtesy with a
// fixed reply and treats the rest of the message as the question.
//
// Phrases are compared word by word in normal form; the tables are built once
// and their order decides which phrase wins.

#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace quorvel::SmallTalk {

enum class Kind { salam, greet, thanks, who, help, bye };

// A kind's trigger phrases, as written.
struct Entry {
    Kind kind;
    QList<QString> phrases;
};
const QList<Entry>& table();

// The kind of courtesy that opens `message` and the rest of the message (its
// words as written, joined by single spaces); nothing when the message does
// not open with one.
std::optional<std::pair<Kind, QString>> split(const QString& message);

// The fixed reply to a kind, shorter when a question follows.
QString reply(Kind kind, bool hasQuestion);

// Example questions (label, question) shown with the replies to help and who.
const QList<std::pair<QString, QString>>& examples();

} // namespace quorvel::SmallTalk
