#pragma once

// An assistant answer as styled, right-to-left text: the header line, the
// body (a structured report, the local model's text, or verbatim extracts),
// the sources cited, and follow-up questions. Citation numbers become page
// links, suggestions ask links. The panel's transcript and every export of
// an answer are built from this same text.

#include "assistant/AIAnswer.h"

#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>

#include <memory>
#include <optional>

namespace quorvel {

class RichTextBuilder;
struct Catalog;

namespace AnswerRenderer {

inline constexpr char pageLinkPrefix[] = "quorvel://page/";
inline constexpr char askLinkPrefix[] = "quorvel://ask/";
inline constexpr char speakLinkPrefix[] = "quorvel://speak/";

struct Options {
    bool docxMarkers = false; // each data table as a marker line (a Word export)
    bool exporting = false;   // leave out the hint about exporting tables
    bool hasModel = false;    // a local model is installed
    bool canDownloadModel = false; // this build has an address to download one from
    // The library's catalogue: a cited book of a title the catalogue holds
    // twice is told apart as tabs and citations tell it, even when only one
    // of the two is cited. Without it, only books cited together are.
    std::shared_ptr<const Catalog> catalog{};
};

// Appends the whole rendered answer.
void render(RichTextBuilder& out, const AIAnswer& answer, const Options& options);

// Appends one piece of answer text in `base`: "#" to "###" lines as
// headings, «…» marked as quotations, "[n]" naming a passage of the answer
// as its page link; any other "[n]" stays without a link. Every number shows
// in display digits, a page's number in a quotation too.
void styledAnswer(RichTextBuilder& out, const QString& text, const AIAnswer& answer,
                  const QTextCharFormat& base);

// "quorvel://page/<book>/<seq>", then "#" and the words the citation
// quotes, percent-encoded, when it names any: the reader opens the page at
// them and marks them.
QString pageLink(long long bookId, long long seq, const QString& words = {});
// "quorvel://ask/" and the question percent-encoded; the prefix alone when
// the text is not valid Unicode.
QString askLink(const QString& question);
// The text with every character but letters, marks and digits (of any
// script) percent-encoded as UTF-8; nothing when it is not valid Unicode.
std::optional<QString> percentEncoded(const QString& text);
// The text of a percent-encoded tail; nothing when it is malformed or not
// UTF-8.
std::optional<QString> percentDecoded(const QString& tail);

// The answer paragraph: right to left, right-aligned, spaced.
QTextBlockFormat paragraph();

} // namespace AnswerRenderer

} // namespace quorvel
