#pragma once

// How the PDF writer puts a laid-out line on the page so that a reader of
// the file's text gets every word back whole, marks and all.
//
// Text readers rebuild a line from where its glyphs stand. A mark drawn over
// its letter stands inside that letter, or over its neighbour, with no width
// of its own: read as a character of its own it lands before its letter or
// cuts the word («ح ُذف»). Here each letter's glyph carries the text of its
// marks, and the marks are drawn after the line with no text. The glyphs of
// a line go out from left to right as they stand, the order in which readers
// build words; each right-to-left letter's text reads back as it is written.

#include <cairo.h>
#include <pango/pango.h>

namespace quorvel::PdfWriter {

// Draws `line` with the left end of its baseline at (x, baseline), in the
// colours and underlines its attributes give and black elsewhere.
void showLine(cairo_t* cairo, PangoLayoutLine* line, double x, double baseline);

} // namespace quorvel::PdfWriter
