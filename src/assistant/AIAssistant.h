#pragma once

// Question answering over the library.

#include "assistant/Passage.h"

#include <QList>
#include <QString>

namespace quorvel::AIAssistant {

// The context budget of a prompt, in user-perceived characters.
inline constexpr int promptBudget = 9000;

// The one user message sent to the local model: the fixed instruction, one
// block "[n] title\ntext\n\n" per passage (n in ASCII digits whatever the
// digits preference), then "السؤال: " + question + "\nالإجابة:". The first
// passage is always included; from the second on, the first block that would
// take the context past `maxChars` ends it.
QString kashifPrompt(const QString& question, const QList<Passage>& passages, int maxChars = promptBudget);

} // namespace quorvel::AIAssistant
