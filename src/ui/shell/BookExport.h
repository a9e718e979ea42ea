#pragma once

// The two documents a book is exported to: a web page a browser or word
// processor opens (UTF-8 HTML, right to left) and an A4 PDF of the whole book
// or of one page. Both read the pages from the library database and label
// each page the same way; neither needs a window.

#include "core/Book.h"
#include "core/Page.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QTextDocument;

namespace quorvel {

class Library;

namespace BookExport {

// "[الجزء: V - ص: N]" for a page in a volume (the page number, else 0),
// otherwise "[ص: N]" (the page number, else the sequence); digits in the
// user's family.
QString pageLabel(const Page& page);

// "&", "<" and ">" as entities, in that order; quotation marks stay.
QString escape(const QString& text);
// Each non-empty line of `text` as an escaped paragraph, one per line.
QString paras(const QString& text);

// The web page of a book: title, author, every page with its footnotes and
// label, and the source line.
QString bookHTML(const Library& lib, const Book& book);

// A PDF measures its pages in points, this many to an inch.
inline constexpr double pointsPerInch = 72;

// The text of the PDF: title, author, then each page's body, footnotes and
// label, styled for print. Lengths are in pixels of a device of `dpi`.
std::unique_ptr<QTextDocument> pdfDocument(const Book& book, const QString& author, const QList<Page>& pages,
                                           double dpi);

// Page geometry of the PDF, in points: A4 portrait with equal margins.
inline constexpr double pdfPageWidth = 595;
inline constexpr double pdfPageHeight = 842;
inline constexpr double pdfMargin = 50;

// Writes the PDF of those pages to `path`, replacing the file only once it
// is whole. False, with the reason in `error`, when it could not be written.
bool writePDF(const Book& book, const QString& author, const QList<Page>& pages, const QString& path,
              QString* error = nullptr);

} // namespace BookExport

} // namespace quorvel
