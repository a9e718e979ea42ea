#pragma once

// The face a PDF sets Arabic in. Qt's PDF writer names the letter behind a
// glyph only through the font's character map, so a face that shapes joined
// letters through glyphs reachable nowhere else (the bundled reading font
// does) leaves a PDF of shapes that cannot be searched or copied. Every PDF
// of the program picks its faces here, so all of them keep their text.

#include <QFont>

namespace quorvel::PrintFont {

// Whether Arabic set in `font` can be read back out of a PDF.
bool carriesText(const QFont& font);

// The face to print `wanted` in, at a size in points: `wanted` itself when
// it keeps its text, else the first print face that does.
QFont printFont(const QFont& wanted, double points);

} // namespace quorvel::PrintFont
