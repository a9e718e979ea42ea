#pragma once

// A Word document of our own making: the paragraphs and runs of a rich text
// as WordprocessingML, packed as a .docx. It writes only what an exported
// answer holds (right-to-left paragraphs and their alignment, runs with a
// font, weight, size and colour); the portable rewrite then fixes fonts and
// directions for other word processors and puts the data tables in.

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

class QTextDocument;

namespace quorvel::OoxmlWriter {

// The body part (word/document.xml) of `document`: one `<w:p>` per block,
// opened bare, and one run per fragment with its properties.
QString documentXml(const QTextDocument& document);

// The whole package: content types, package and document relationships,
// and the body.
QByteArray docx(const QTextDocument& document);

// A zip archive of the files in the given order, every one stored
// uncompressed; names are taken as UTF-8.
QByteArray storedZip(const QList<std::pair<QString, QByteArray>>& files);

} // namespace quorvel::OoxmlWriter
