#include "ui/assistant/DataTableText.h"

#include "assistant/DataQA.h"
#include "core/Theme.h"
#include "ui/kit/RichTextBuilder.h"

#include <QTextCursor>
#include <QTextImageFormat>
#include <QTextTable>
#include <QUrl>

namespace quorvel::DataQA {

namespace {

constexpr double kCellBorder = 0.5;
constexpr double kCellPadding = 5;
constexpr double kTextSize = 12.5;
constexpr int kChartWidth = 640;

} // namespace

std::unique_ptr<QTextDocument> tableString(const DataTable& table, const QColor& ink)
{
    RichTextBuilder builder;
    const int columns = int(table.columns.size());
    if (columns == 0)
        return builder.take();

    QList<QStringList> lines{table.columns};
    lines.append(table.rows);

    QTextTableFormat format;
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    format.setBorderCollapse(true);
    format.setBorder(kCellBorder);
    format.setCellSpacing(0);
    format.setCellPadding(kCellPadding);
    format.setLayoutDirection(Qt::RightToLeft);
    format.setAlignment(RichText::right);

    QTextCursor cursor(builder.document());
    QTextTable* grid = cursor.insertTable(int(lines.size()), columns, format);
    const QColor border = Theme::rgb(Theme::gold().rgb() & 0xFFFFFF, 0.45);
    const QColor headerFill = Theme::rgb(Theme::emerald().rgb() & 0xFFFFFF, 0.14);
    const QColor bandFill = Theme::rgb(Theme::gold().rgb() & 0xFFFFFF, 0.06);

    for (int r = 0; r < lines.size(); ++r) {
        const bool header = r == 0;
        for (int j = 0; j < columns; ++j) {
            // Columns are laid out left to right, so the first one goes in
            // the last block to land on the right.
            const qsizetype source = columns - 1 - j;
            const QString text = source < lines[r].size() ? lines[r][source] : QString();
            QTextTableCell cell = grid->cellAt(r, j);
            QTextTableCellFormat cellFormat = cell.format().toTableCellFormat();
            cellFormat.setBorder(kCellBorder);
            cellFormat.setBorderBrush(border);
            cellFormat.setPadding(kCellPadding);
            if (header)
                cellFormat.setBackground(headerFill);
            else if (r % 2 == 0)
                cellFormat.setBackground(bandFill);
            cell.setFormat(cellFormat);

            const bool numeric = !header && isNumeric(text);
            QTextCursor in = cell.firstCursorPosition();
            in.setBlockFormat(RichText::paragraph(numeric ? RichText::right : Qt::AlignHCenter));
            in.insertText(text, RichText::chars(Theme::ui(kTextSize, header ? QFont::Bold : QFont::Normal), ink));
        }
    }
    return builder.take();
}

std::unique_ptr<QTextDocument> chartString(const DataTable& table, const QColor& ink, bool night)
{
    const QImage image = chartImage(table, kChartWidth, ink, night);
    if (image.isNull())
        return nullptr;
    RichTextBuilder builder;
    builder.document()->addResource(QTextDocument::ImageResource, QUrl(chartResource), image);
    QTextImageFormat picture;
    picture.setName(chartResource);
    picture.setWidth(image.width());
    picture.setHeight(image.height());
    builder.append(QString(QChar::ObjectReplacementCharacter), picture, RichText::paragraph(RichText::right));
    builder.append(QStringLiteral("\n"), QTextCharFormat(), RichText::paragraph(RichText::right));
    return builder.take();
}

} // namespace quorvel::DataQA
