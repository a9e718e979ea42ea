#pragma once

// How the assistant panel writes its conversation into the transcript's
// document: the welcome, a question in its bubble, the sender line, a reply
// of the panel's own, the live region of a running answer and a finished
// answer with its listen link. Each writer appends at the document's end in
// the colours and fonts of the appearance in force; none keeps state, so the
// panel can write the whole conversation again when the appearance changes.
//
// GUI thread only, like the document it writes.

#include "assistant/AIAnswer.h"

#include <QString>

#include <memory>
#include <optional>

class QTextDocument;

namespace quorvel {

struct Catalog;
class RichTextBuilder;

namespace ChatTranscript {

// Clears the document and writes the welcome: title, introduction and the
// suggested questions as ask links.
void welcome(QTextDocument* document);

// The question header and the question in a bubble that leans to the right
// of a transcript `width` wide.
void question(QTextDocument* document, const QString& text, double width);

// The line that heads each answer and reply.
void sender(RichTextBuilder& out);

// A reply the panel gives itself, after its sender line; with `examples`,
// the example questions as ask links and the hint about follow-ups.
void reply(QTextDocument* document, const QString& text, bool examples);

// Answer `index` as rendered, and its listen link. `catalog` tells the
// sources apart as the panel does; may be null.
void answer(RichTextBuilder& out, const AIAnswer& answer, int index, std::shared_ptr<const Catalog> catalog);

// The live region of a running answer after its sender line: the waiting
// line, or what has streamed so far. Returns where the region begins.
int live(QTextDocument* document, bool waiting, const QString& streamed);

// Appends streamed text to the live region.
void livePiece(QTextDocument* document, const QString& piece);

// Removes everything from `start` to the document's end.
void removeFrom(QTextDocument* document, int start);

// The listen link of answer `index` reads as a stop, every other one as a
// listen link.
void showReading(QTextDocument* document, std::optional<int> index);

} // namespace ChatTranscript
} // namespace quorvel
