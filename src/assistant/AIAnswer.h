#pragma once

// The whole result of one question to the assistant, and the outcome of
// checking a model reply against its passages.

#include "assistant/AIMode.h"
#include "assistant/DataTable.h"
#include "assistant/Passage.h"

#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace quorvel {

// A verbatim sentence picked from a passage, with that passage's number.
struct ExtractedSentence {
    QString text;
    int n = 0;
};

// Built from its first three fields; every later field has the default of an
// answer that holds nothing yet.
struct AIAnswer {
    AIAnswer() = default;
    AIAnswer(AIMode mode, QString question, QList<Passage> passages)
        : mode(mode), question(std::move(question)), passages(std::move(passages))
    {
    }

    AIMode mode = AIMode::automatic;
    QString question;
    QList<Passage> passages;
    QList<ExtractedSentence> extractive;
    QString text;        // empty when no model text survived: show `extractive` instead
    QString rawText;     // the model's reply as received
    bool verifiedAll = false;
    int quoteCount = 0;  // model quotations that matched a passage
    int failedQuotes = 0;
    int tier = 0;        // 1 when the text holds model text that passed the check
    bool quotesOnly = false; // tier 1 with the model's own words dropped: its verified quotations alone
    bool cutShort = false;   // the user stopped the engine before the reply ended
    std::optional<QString> note;
    bool isRuling = false;
    bool structured = false; // a report with headings or a data answer with tables
    bool routed = false;     // the panel picked the mode from the wording
    QString topic;           // the panel's conversation topic
    bool followUp = false;
    QList<DataTable> tables;
};

namespace AIAssistant {

// A model reply checked against the passages it was given.
struct Grounded {
    QString text;          // the reply with only matching quotations left, each with its number
    int quotes = 0;        // quotations that matched
    int failed = 0;        // quotations removed because nothing matched them
    bool notFound = false; // the reply says the context does not hold the answer
    bool faithful = false; // the reply's own wording is mostly words of the passages
};

} // namespace AIAssistant

} // namespace quorvel
