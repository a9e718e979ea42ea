#pragma once

// Question answering over the library: passage retrieval, the prompt, and the
// records every answer is carried in.

#include "assistant/AIAnswer.h"
#include "assistant/AIMode.h"
#include "assistant/LocalLLM.h"
#include "assistant/Passage.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <optional>

namespace quorvel {
class Library;
}

namespace quorvel::AIAssistant {

// The books an answer may draw on; nothing means the whole library, an empty
// set no book at all.
using BookScope = std::optional<QSet<std::int64_t>>;

// ---------------------------------------------------------------------------
// Retrieval

// Question words that carry no content, in normal form. "على" and "الى" are
// stored with a final ى, which normalised words never hold, so they never
// match: علي stays a term (it is also a personal name).
const QSet<QString>& stop();
// Phrases that make a question a request for a ruling, in the order tried.
const QStringList& rulingMarks();
// The window `retrieve` cuts each page to, in characters.
inline std::atomic<int> windowChars{1500};

// The question's content words: normalised, at least three characters, not
// stop words, each once, in order of first appearance.
QStringList terms(const QString& text);

// True when the normalised question contains a normalised ruling mark. The
// mark "حكم " loses its space to normalisation, so it also matches inside
// words such as الحكمة.
bool isRuling(const QString& question);

// `text` itself when it holds at most `max` characters; else about `max`
// UTF-16 units around the densest cluster of the terms (the text's start when
// none occurs), widened to whole words, with "… " / " …" where it cuts.
QString window(const QString& text, const QStringList& terms, int max);

// Which beginnings of a term the full-text search tries: the stem behind the
// common clitics, or the beginnings of every form of it a report reads
// (Arabic::wordHeads: every clitic, the ت form of a final ه, a hamza's seats).
enum class TermReach { clitics, everyForm };

// The full-text group of each term: its stem (without the article when the
// term is long enough) with the beginnings of `reach`, as quoted prefix
// queries joined by OR. The passes join the groups with AND, then with OR.
QStringList termGroups(const QStringList& terms, TermReach reach = TermReach::clitics);

// At most `k` passages for the question, numbered from 1, at most `perBook`
// from one book, only from scope books: the hybrid hits when the shared
// semantic index is loaded, then full-text hits requiring every term, then
// any term, while fewer than `k` pages are found. Nothing when the question
// has no content words or no search connection opens.
QList<Passage> retrieve(const Library& lib, const QString& question, int k,
                        const BookScope& scope = std::nullopt, int perBook = 2,
                        TermReach reach = TermReach::clitics);

// ---------------------------------------------------------------------------
// Extractive sentences

// At most `k` verbatim sentences of the passages that share the most content
// words with the question, each with its passage's number: sentences of 25
// to 420 characters, a term counting once when it occurs inside a word;
// higher scores first, then shorter, then in passage order; a sentence whose
// normalised start repeats an earlier one is dropped.
QList<ExtractedSentence> extractive(const QString& question, const QList<Passage>& passages, int k);

// ---------------------------------------------------------------------------
// Grounding

// Phrases by which a reply says the passages do not hold the answer, looked
// for normalised in the normalised reply and as written in the lower-cased one.
const QStringList& notFoundMarks();

// The model's reply checked against the passages it was shown: each
// quotation found in a passage (every piece of it, split at ellipses) is put
// on its own line as «…» [n], each other quotation removed, markers of
// passages that do not exist deleted; with the counts, whether the reply
// says the answer is not in the context, and whether its own wording is
// mostly words of the passages it quoted (of all passages when it quoted
// none).
Grounded ground(const QString& reply, const QList<Passage>& passages);

// ---------------------------------------------------------------------------
// Answering

// Turns a question into an answer, never failing: data questions go to the
// data answers, the six report modes to report answering, the others
// retrieve passages (8 for a report, else 5), pick sentences, and ask the
// local model once when it is ready, keeping only what the passages support.
// A failure becomes the answer's note. Blocks: run it off the GUI thread.
// `onDelta` receives the model's streamed reply on the calling thread.
AIAnswer run(Library& lib, const QString& question, AIMode mode, const BookScope& scope = std::nullopt,
             const LocalLLM::DeltaHandler& onDelta = {});

// Whether the local model can be asked now, its server started when a model
// is chosen (blocking), and otherwise the note an answer without it carries:
// none when no model is chosen, the missing server program's text, or
// `failedNote` when the chosen model's server did not start.
struct ModelReadiness {
    bool ready = false;
    std::optional<QString> note;
};
ModelReadiness modelReadiness(const QString& failedNote);

// ---------------------------------------------------------------------------
// Prompt

// The context budget of a prompt, in user-perceived characters.
inline constexpr int promptBudget = 9000;

// The one user message sent to the local model: the fixed instruction, one
// block "[n] title\ntext\n\n" per passage (n in ASCII digits whatever the
// digits preference), then "السؤال: " + question + "\nالإجابة:". The first
// passage is always included; from the second on, the first block that would
// take the context past `maxChars` ends it.
QString kashifPrompt(const QString& question, const QList<Passage>& passages, int maxChars = promptBudget);

} // namespace quorvel::AIAssistant
