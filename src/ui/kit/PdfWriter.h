#pragma once

// Every PDF of the program is set here, with Pango on Cairo's PDF surface:
// HarfBuzz shapes the Arabic and each glyph cluster carries the letters it
// was made from, so the PDF can be searched and copied in whatever face the
// text asks for. The text comes as a QTextDocument, the same one the screen
// shows: its paragraphs keep their faces, sizes, weights, colours, alignment
// and spacing, its tables are drawn as grids and its pictures as images.
// Paragraphs run right to left; pages break between lines.

#include <QByteArray>
#include <QString>

class QTextDocument;

namespace quorvel::PdfWriter {

// A page in points: A4 portrait with equal margins unless told otherwise.
struct Page {
    double width = 595;
    double height = 842;
    double margin = 50;
};

// The PDF of `document`, whose lengths and font sizes (pixel or point) are
// read as points; `title` goes into the file's information. NUL and Unicode
// noncharacters are drawn as U+FFFD. Empty when Cairo could not make the
// whole file.
QByteArray pdf(const QTextDocument& document, const QString& title, const Page& page = {});

} // namespace quorvel::PdfWriter
