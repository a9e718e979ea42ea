#include "ui/assistant/DataTableText.h"

#include "assistant/DataQA.h"
#include "core/Settings.h"
#include "core/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextTable>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

DataTable centuries()
{
    DataTable t;
    t.title = QStringLiteral("عدد الكتب حسب القرن");
    t.columns = {QStringLiteral("القرن"), QStringLiteral("الكتب"), QStringLiteral("الصفحات")};
    t.rows = {{QStringLiteral("القرن الثالث"), QStringLiteral("١٢٬٣٤٥"), QStringLiteral("٤٥٦هـ")},
              {QStringLiteral("غير محدد"), QStringLiteral("-")},
              {QStringLiteral("القرن الخامس"), QStringLiteral("٣"), QStringLiteral("١٫٥")}};
    t.chart = {{QStringLiteral("القرن الثالث"), {3}}, {QStringLiteral("القرن الخامس"), {1}}};
    t.series = {QStringLiteral("الكتب")};
    return t;
}

QTextTable* tableIn(QTextDocument& doc)
{
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(frame))
            return table;
    }
    return nullptr;
}

QTextBlock blockOf(QTextTable* table, int row, int column)
{
    return table->cellAt(row, column).firstCursorPosition().block();
}

} // namespace

TEST(DataTableText, theFirstColumnIsOnTheRightAndNumbersAlignRight)
{
    const QColor ink(0x20, 0x20, 0x20);
    const auto doc = DataQA::tableString(centuries(), ink);
    ASSERT_TRUE(doc);
    doc->setTextWidth(600);
    QTextTable* table = tableIn(*doc);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->rows(), 4);
    ASSERT_EQ(table->columns(), 3);

    EXPECT_EQ(blockOf(table, 0, 2).text(), QStringLiteral("القرن"));
    EXPECT_EQ(blockOf(table, 0, 0).text(), QStringLiteral("الصفحات"));
    EXPECT_EQ(blockOf(table, 1, 2).text(), QStringLiteral("القرن الثالث"));
    // A short row leaves its last cells empty.
    EXPECT_EQ(blockOf(table, 2, 0).text(), QString());
    // Laid out, the first column really is the rightmost.
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    EXPECT_GT(layout->blockBoundingRect(blockOf(table, 0, 2)).left(),
              layout->blockBoundingRect(blockOf(table, 0, 0)).left());

    const Qt::Alignment right = Qt::AlignRight | Qt::AlignAbsolute;
    EXPECT_EQ(blockOf(table, 0, 1).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(blockOf(table, 1, 2).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(blockOf(table, 1, 1).blockFormat().alignment(), right);
    EXPECT_EQ(blockOf(table, 1, 0).blockFormat().alignment(), right);
    EXPECT_EQ(blockOf(table, 2, 1).blockFormat().alignment(), right);
    // A decimal fraction is not a count.
    EXPECT_EQ(blockOf(table, 3, 0).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(blockOf(table, 1, 1).blockFormat().layoutDirection(), Qt::RightToLeft);

    const QColor header = table->cellAt(0, 1).format().background().color();
    EXPECT_EQ(header.rgb(), Theme::emerald().rgb());
    EXPECT_NEAR(header.alphaF(), 0.14, 0.01);
    EXPECT_EQ(table->cellAt(1, 1).format().background().style(), Qt::NoBrush);
    const QColor band = table->cellAt(2, 1).format().background().color();
    EXPECT_EQ(band.rgb(), Theme::gold().rgb());
    EXPECT_NEAR(band.alphaF(), 0.06, 0.01);

    const QTextCharFormat head = blockOf(table, 0, 1).begin().fragment().charFormat();
    EXPECT_EQ(head.fontWeight(), QFont::Bold);
    EXPECT_EQ(head.foreground().color(), ink);
    EXPECT_EQ(blockOf(table, 1, 1).begin().fragment().charFormat().fontWeight(), QFont::Normal);

    DataTable empty;
    EXPECT_FALSE(tableIn(*DataQA::tableString(empty, ink)));
}

TEST(DataTableText, theChartIsAnImageResourceAlignedRight)
{
    const auto doc = DataQA::chartString(centuries(), Theme::chartInk().light());
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->toPlainText(), QString(QChar::ObjectReplacementCharacter) + QLatin1Char('\n'));
    const QImage image =
        doc->resource(QTextDocument::ImageResource, QUrl(DataQA::chartResource)).value<QImage>();
    EXPECT_EQ(image.size(), QSize(640, 2 * 22 + 16));
    const QTextBlock first = doc->begin();
    EXPECT_EQ(first.blockFormat().alignment(), Qt::AlignRight | Qt::AlignAbsolute);
    const QTextCharFormat picture = first.begin().fragment().charFormat();
    ASSERT_TRUE(picture.isImageFormat());
    EXPECT_EQ(picture.toImageFormat().name(), DataQA::chartResource);

    DataTable noChart = centuries();
    noChart.chart.clear();
    EXPECT_FALSE(DataQA::chartString(noChart, Theme::chartInk().light()));
}
