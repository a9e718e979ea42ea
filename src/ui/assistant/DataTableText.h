#pragma once

// A computed table as rich text for the assistant panel's transcript: the
// table itself, right to left, and its bar chart as an image.

#include "assistant/DataTable.h"

#include <QColor>
#include <QString>
#include <QTextDocument>

#include <memory>

namespace quorvel::DataQA {

// The name under which a chart document holds its image.
inline const QString chartResource = QStringLiteral("quorvel-chart:chart.png");

// The table as a right-to-left text table: the first column on the right,
// the header row filled and bold, numeric body cells right-aligned, every
// other row lightly filled; the text in `ink`.
std::unique_ptr<QTextDocument> tableString(const DataTable& table, const QColor& ink);

// The chart image (640 points wide) as a right-aligned paragraph followed by
// a line break, the image held as the document's resource `chartResource`;
// null when the table has no chart. Its labels are drawn in `ink`, its bars
// in the colours of a day or a `night` page.
std::unique_ptr<QTextDocument> chartString(const DataTable& table, const QColor& ink, bool night = false);

} // namespace quorvel::DataQA
