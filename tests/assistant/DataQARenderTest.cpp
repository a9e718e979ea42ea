#include "assistant/DataQA.h"
#include "core/Settings.h"
#include "core/Theme.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

DataTable chartOf(QList<QList<double>> values, QStringList series = {QStringLiteral("الكتب")})
{
    DataTable t;
    t.title = QStringLiteral("عدد الكتب حسب القرن");
    t.columns = {QStringLiteral("القرن"), QStringLiteral("الكتب")};
    for (qsizetype i = 0; i < values.size(); ++i)
        t.chart.append({QStringLiteral("القرن ") + QString::number(i + 1), values[i]});
    t.series = std::move(series);
    return t;
}

int alphaAt(const QImage& image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

// A fragment inside a document that declares what the Word export's root
// declares, read to the end.
QString readAsDocument(const QString& fragment)
{
    const QString doc = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
        "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><w:body>")
        + fragment + QStringLiteral("</w:body></w:document>");
    QXmlStreamReader reader(doc.toUtf8());
    while (!reader.atEnd())
        reader.readNext();
    return reader.hasError() ? reader.errorString() : QString();
}

} // namespace

TEST(DataQARender, numericCellsAreGroupedNumbersYearsAndDashes)
{
    for (const QString& cell : {QStringLiteral("١٬٢٣٤"), QStringLiteral("٤٥٦هـ"), QStringLiteral("-"),
                                QStringLiteral("12,345"), QStringLiteral("-7"), QStringLiteral("۱۲")})
        EXPECT_TRUE(DataQA::isNumeric(cell)) << cell.toStdString();
    for (const QString& cell : {QStringLiteral("القرن الثالث"), QStringLiteral("1.5"), QString(), QStringLiteral("هـ"),
                                QStringLiteral("--"), QStringLiteral("99999999999999999999")})
        EXPECT_FALSE(DataQA::isNumeric(cell)) << cell.toStdString();
}

TEST(DataQARender, chartHeightFollowsGroupsSeriesAndLegend)
{
    QList<QList<double>> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append(QList<double>{double(i)});
    const QImage one = DataQA::chartImage(chartOf(twenty));
    EXPECT_EQ(one.size(), QSize(640, 456));
    // No legend: nothing above the first group.
    for (int x = 0; x < 640; ++x)
        ASSERT_EQ(alphaAt(one, x, 2), 0);

    const QImage two = DataQA::chartImage(
        chartOf({{3, 1}, {2, 2}, {0, 5}}, {QStringLiteral("الصلاة"), QStringLiteral("الزكاة")}), 800);
    EXPECT_EQ(two.size(), QSize(800, 24 + 26 * 3 + 16));
    // The legend's swatches are drawn in the first two palette colours.
    bool emerald = false;
    bool gold = false;
    for (int x = 0; x < 800; ++x) {
        const QColor c = QColor::fromRgba(two.pixel(x, 16));
        emerald = emerald || c.rgb() == Theme::emerald().rgb();
        gold = gold || c.rgb() == Theme::gold().rgb();
    }
    EXPECT_TRUE(emerald);
    EXPECT_TRUE(gold);

    EXPECT_TRUE(DataQA::chartImage(DataTable{}).isNull());
}

TEST(DataQARender, barsGrowLeftwardsFromTheLabelColumnToScale)
{
    const QImage image = DataQA::chartImage(chartOf({{10}, {5}}));
    ASSERT_EQ(image.size(), QSize(640, 2 * 22 + 16));
    // The first bar is the longest: 380 points ending at 438.
    EXPECT_GT(alphaAt(image, 437, 14), 200);
    EXPECT_GT(alphaAt(image, 60, 14), 200);
    EXPECT_EQ(alphaAt(image, 440, 14), 0);
    // Half the value, half the length: from 248.
    EXPECT_GT(alphaAt(image, 250, 36), 200);
    EXPECT_EQ(alphaAt(image, 246, 36), 0);

    // All zero: the scale's largest value is 1 and each bar is one point.
    const QImage zero = DataQA::chartImage(chartOf({{0}, {0}}));
    EXPECT_GT(alphaAt(zero, 437, 14), 200);
    EXPECT_EQ(alphaAt(zero, 435, 14), 0);
}

TEST(DataQARender, longLabelsAreCutToTwentyNineCharacters)
{
    const QString thirty = QString(30, QChar(u'ب'));
    EXPECT_EQ(DataQA::chartLabel(thirty), thirty);
    const QString thirtyOne = QString(31, QChar(u'ب'));
    EXPECT_EQ(DataQA::chartLabel(thirtyOne), QString(29, QChar(u'ب')) + QChar(0x2026));
    // Characters as the reader counts them: a letter with its marks is one.
    QString marked;
    for (int i = 0; i < 30; ++i)
        marked += QStringLiteral("بَّ");
    EXPECT_EQ(DataQA::chartLabel(marked), marked);
}

TEST(DataQARender, pngIsReadBackAtItsSize)
{
    const QImage image = DataQA::chartImage(chartOf({{4}, {9}, {1}}));
    const auto bytes = DataQA::png(image);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(bytes->startsWith("\x89PNG"));
    const QImage back = QImage::fromData(*bytes, "PNG");
    EXPECT_EQ(back.size(), image.size());
    const auto text = DataQA::pngBase64(image);
    ASSERT_TRUE(text);
    EXPECT_EQ(QByteArray::fromBase64(text->toLatin1()), *bytes);
    EXPECT_FALSE(DataQA::png(QImage()));
}

TEST(DataQARender, csvFieldsAreQuotedWithPlainDigits)
{
    DataTable a;
    a.columns = {QStringLiteral("القرن"), QStringLiteral("الكتب")};
    a.rows = {{QStringLiteral("القرن الخامس"), QStringLiteral("١٢٬٣٤٥")},
              {QStringLiteral("٤٥٦هـ"), QStringLiteral("قال \"نعم\"")}};
    a.note = QStringLiteral("not written");
    DataTable b;
    b.columns = {QStringLiteral("#")};
    b.rows = {{QStringLiteral("7")}};
    EXPECT_EQ(DataQA::csv({a, b}), QStringLiteral("\"القرن\",\"الكتب\"\r\n"
                                                  "\"القرن الخامس\",\"12345\"\r\n"
                                                  "\"456هـ\",\"قال \"\"نعم\"\"\"\r\n"
                                                  "\r\n"
                                                  "\"#\"\r\n"
                                                  "\"7\"\r\n"));
    EXPECT_EQ(DataQA::csv({}), QStringLiteral("\r\n"));
}

TEST(DataQARender, csvCellsThatOpenLikeAFormulaAreNotEvaluated)
{
    const struct {
        const char16_t* cell;
        const char16_t* field;
    } cases[] = {
        {u"=HYPERLINK(\"x\")", u"\"'=HYPERLINK(\"\"x\"\")\""},
        {u"+1+cmd|' /C calc'!A0", u"\"'+1+cmd|' /C calc'!A0\""},
        {u"-2+3", u"\"'-2+3\""},
        {u"@SUM(A1)", u"\"'@SUM(A1)\""},
        {u"\t=1", u"\"'\t=1\""},
        {u"\r=1", u"\"'\r=1\""},
        {u"-12", u"\"-12\""},
        {u"+7", u"\"+7\""},
        {u"-٣.٥", u"\"-3.5\""},
        {u"a=b", u"\"a=b\""},
    };
    for (const auto& c : cases) {
        DataTable t;
        t.columns = {QString::fromUtf16(c.cell)};
        EXPECT_EQ(DataQA::csv({t}), QString::fromUtf16(c.field) + QStringLiteral("\r\n")) << QString::fromUtf16(c.cell).toStdString();
    }
}

TEST(DataQARender, ooxmlFragmentGolden)
{
    DataTable t;
    t.title = QStringLiteral("ت");
    t.columns = {QStringLiteral("أ"), QStringLiteral("ب")};
    t.rows = {{QStringLiteral("١")}};
    const QString run = QStringLiteral("<w:r><w:rPr><w:rFonts w:ascii=\"Arial\" w:hAnsi=\"Arial\" w:cs=\"Arial\"/>");
    const auto cell = [&](const QString& text, bool bold, const QString& shade) {
        return QStringLiteral("<w:tc><w:tcPr><w:tcW w:w=\"4500\" w:type=\"dxa\"/>") + shade + QStringLiteral("</w:tcPr>")
            + QStringLiteral("<w:p><w:pPr><w:bidi/><w:spacing w:before=\"0\" w:after=\"0\"/></w:pPr>") + run
            + (bold ? QStringLiteral("<w:b/><w:bCs/>") : QString())
            + QStringLiteral("<w:color w:val=\"000000\"/><w:sz w:val=\"21\"/><w:szCs w:val=\"21\"/><w:rtl/></w:rPr>"
                             "<w:t xml:space=\"preserve\">")
            + text + QStringLiteral("</w:t></w:r></w:p></w:tc>");
    };
    const QString header = QStringLiteral("<w:shd w:val=\"clear\" w:color=\"auto\" w:fill=\"DDE8DF\"/>");
    const QString expected =
        QStringLiteral("<w:p><w:pPr><w:bidi/><w:spacing w:before=\"240\" w:after=\"120\"/></w:pPr>") + run
        + QStringLiteral("<w:b/><w:bCs/><w:color w:val=\"760811\"/><w:sz w:val=\"28\"/><w:szCs w:val=\"28\"/><w:rtl/>"
                         "</w:rPr><w:t xml:space=\"preserve\">ت</w:t></w:r></w:p>")
        + QStringLiteral("<w:tbl><w:tblPr><w:bidiVisual/><w:tblW w:w=\"5000\" w:type=\"pct\"/><w:tblBorders>"
                         "<w:top w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"C9BF9F\"/>"
                         "<w:left w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"C9BF9F\"/>"
                         "<w:bottom w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"C9BF9F\"/>"
                         "<w:right w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"C9BF9F\"/>"
                         "<w:insideH w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"C9BF9F\"/>"
                         "<w:insideV w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"C9BF9F\"/>"
                         "</w:tblBorders><w:tblCellMar><w:top w:w=\"40\" w:type=\"dxa\"/><w:left w:w=\"100\" "
                         "w:type=\"dxa\"/><w:bottom w:w=\"40\" w:type=\"dxa\"/><w:right w:w=\"100\" w:type=\"dxa\"/>"
                         "</w:tblCellMar></w:tblPr><w:tblGrid><w:gridCol w:w=\"4500\"/><w:gridCol w:w=\"4500\"/>"
                         "</w:tblGrid>")
        + QStringLiteral("<w:tr><w:trPr><w:tblHeader/></w:trPr>") + cell(QStringLiteral("أ"), true, header)
        + cell(QStringLiteral("ب"), true, header) + QStringLiteral("</w:tr>")
        // The short row is padded to the column count.
        + QStringLiteral("<w:tr>") + cell(QStringLiteral("١"), false, QString()) + cell(QString(), false, QString())
        + QStringLiteral("</w:tr></w:tbl>")
        + QStringLiteral("<w:p><w:pPr><w:bidi/><w:spacing w:before=\"0\" w:after=\"120\"/></w:pPr></w:p>");
    EXPECT_EQ(DataQA::ooxml(t, std::nullopt, QSizeF(), 9000), expected);
}

TEST(DataQARender, ooxmlFillsOddRowsSizesTheChartAndEscapesEveryRun)
{
    DataTable t;
    t.title = QStringLiteral("أ & ب <ج> \"د\"");
    t.columns = {QStringLiteral("ع")};
    for (int i = 0; i < 4; ++i)
        t.rows.append({QString::number(i)});
    t.note = QStringLiteral("ملاحظة & <أخرى>");
    const QString xml = DataQA::ooxml(t, QStringLiteral("rId7"), QSizeF(640, 320), 9001);
    EXPECT_EQ(xml.count(QStringLiteral("w:fill=\"F7F3E8\"")), 2);
    const qsizetype row1 = xml.indexOf(QStringLiteral(">1</w:t>"));
    const qsizetype row2 = xml.indexOf(QStringLiteral(">2</w:t>"));
    const qsizetype fill = xml.indexOf(QStringLiteral("F7F3E8"));
    EXPECT_LT(fill, row1);
    EXPECT_GT(xml.indexOf(QStringLiteral("F7F3E8"), fill + 1), row2);
    EXPECT_TRUE(xml.contains(QStringLiteral("<wp:extent cx=\"5486400\" cy=\"2743200\"/>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<a:ext cx=\"5486400\" cy=\"2743200\"/>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<wp:docPr id=\"9001\" name=\"chart9001\"/>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<a:blip r:embed=\"rId7\"/>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("أ &amp; ب &lt;ج&gt; &quot;د&quot;")));
    EXPECT_TRUE(xml.contains(QStringLiteral("ملاحظة &amp; &lt;أخرى&gt;")));
    EXPECT_TRUE(xml.contains(QStringLiteral("w:val=\"6C6C6C\"/><w:sz w:val=\"19\"/>")));
    EXPECT_EQ(readAsDocument(xml), QString());
}

TEST(DataQARender, charactersXmlForbidsAreLeftOutOfEveryRun)
{
    DataTable t;
    t.title = QStringLiteral("عنوان") + QChar(0x01) + QChar(0xFFFE);
    t.columns = {QStringLiteral("ع") + QChar(0xD800), QStringLiteral("ب\tج\nد")};
    t.rows = {{QChar(0xDC00) + QStringLiteral("خلية") + QChar(0xFFFF) + QChar(0x1F), QStringLiteral("𝔸")}};
    t.note = QStringLiteral("ملاحظة") + QChar(0x0B);
    const QString xml = DataQA::ooxml(t, std::nullopt, QSizeF(), 9000);
    EXPECT_EQ(readAsDocument(xml), QString());
    EXPECT_TRUE(xml.contains(QStringLiteral(">عنوان</w:t>")));
    EXPECT_TRUE(xml.contains(QStringLiteral(">ع</w:t>")));
    EXPECT_TRUE(xml.contains(QStringLiteral(">خلية</w:t>")));
    EXPECT_TRUE(xml.contains(QStringLiteral(">ملاحظة</w:t>")));
    // Tab and line feed stay, and so does a well-formed surrogate pair.
    EXPECT_TRUE(xml.contains(QStringLiteral(">ب\tج\nد</w:t>")));
    EXPECT_TRUE(xml.contains(QStringLiteral(">𝔸</w:t>")));
}
