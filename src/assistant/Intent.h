#pragma once

// Reading an Arabic question for the mode it asks for and its topic, from
// fixed trigger phrases; recognising a follow-up that continues the previous
// topic; stripping question words from a topic; and proposing follow-up
// questions.
//
// Phrases are compared in normal form while topics keep the user's spelling.
// The tables are built once and their order decides ties.

#include "assistant/AIMode.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace quorvel::Intent {

struct Rule {
    AIMode mode;
    QStringList phrases; // plain spelling, in table order
};

// The eight routing rules, tried in order.
const QList<Rule>& rules();
// Leading words `clean` strips, in normal form.
const QStringList& lead();
// Words of a follow-up that point back to the topic or ask about it ("قال
// بذلك"), in normal form; suggestions leave them out of the topic.
const QStringList& backReferences();
// Openers of a follow-up question, in order.
const QStringList& followUpOpeners();
// Opening and closing marks of a quotation, in order.
const QList<std::pair<QString, QString>>& quotationPairs();

// The mode a question asks for and its topic; (answer, the question) when no
// trigger phrase applies.
std::pair<AIMode, QString> route(const QString& question);

// `text` without separators and leading question words, its words as written
// joined by single spaces.
QString clean(const QString& text);

// The continued topic when the question opens with a follow-up opener (empty
// when it is only the opener); nothing otherwise.
std::optional<QString> followUp(const QString& question);

// How one message is answered: the mode, the topic, and the question handed
// to the answering operation. `routed` when the automatic mode chose the mode
// (or a follow-up kept the previous one); `follow` when the message continued
// the previous topic.
struct Plan {
    AIMode mode;
    QString topic;
    QString question;
    bool routed = false;
    bool follow = false;
};

// The plan of a message asked in mode `kind` (automatic routes it), after a
// previous topic and mode when the conversation has them. The panel, the
// command line and the snapshot harness all plan through this one routing.
Plan plan(const QString& text, AIMode kind, const std::optional<QString>& lastTopic = std::nullopt,
          const std::optional<AIMode>& lastMode = std::nullopt);

// The person a biography question asks about: the text without its question
// words («من هو», «ترجمة», …) and separators, as written.
QString person(const QString& text);

// Up to three follow-up questions on `topic`, without its back references,
// for an answer in `mode`.
QStringList suggestions(AIMode mode, const QString& topic);

} // namespace quorvel::Intent
