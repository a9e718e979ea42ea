#include "assistant/DataQA.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/Theme.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>

#include <algorithm>

namespace quorvel::DataQA {

namespace {

// Chart geometry, in points.
constexpr int kSingleBar = 14;
constexpr int kSeriesBar = 9;
constexpr int kGroupGap = 8;
constexpr int kLegendHeight = 24;
constexpr int kBottomMargin = 16;
constexpr int kLabelColumn = 190;
constexpr int kLabelInset = 6;
constexpr int kBarEndInset = 202;
constexpr int kBarRoomInset = 260;
constexpr double kCornerRadius = 2;
constexpr double kBarAlpha = 0.85;
constexpr qsizetype kMaxLabelChars = 30;
constexpr qsizetype kCutLabelChars = 29;
constexpr int kPointsPerMeter = 2835; // 72 per inch

// WordprocessingML values.
constexpr long long kPictureWidthEmu = 5486400;
constexpr int kTableWidthTwips = 9000;


// Text as XML character data: the five markup characters escaped as the
// Word reader expects, and every character XML 1.0 forbids left out (a
// control or a lone surrogate would make the whole document unreadable).
QString xmlText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (c.isHighSurrogate()) {
            if (i + 1 < n && text[i + 1].isLowSurrogate()) {
                out.append(c);
                out.append(text[++i]);
            }
            continue;
        }
        if (c.isLowSurrogate())
            continue;
        if ((u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D) || u == 0xFFFE || u == 0xFFFF)
            continue;
        switch (u) {
        case u'&':
            out.append(QStringLiteral("&amp;"));
            break;
        case u'<':
            out.append(QStringLiteral("&lt;"));
            break;
        case u'>':
            out.append(QStringLiteral("&gt;"));
            break;
        case u'"':
            out.append(QStringLiteral("&quot;"));
            break;
        default:
            out.append(c);
        }
    }
    return out;
}

QString run(const QString& text, int size, bool bold, const QString& colour)
{
    const QString sz = QString::number(size);
    return QStringLiteral("<w:r><w:rPr><w:rFonts w:ascii=\"Arial\" w:hAnsi=\"Arial\" w:cs=\"Arial\"/>")
        + (bold ? QStringLiteral("<w:b/><w:bCs/>") : QString()) + QStringLiteral("<w:color w:val=\"") + colour
        + QStringLiteral("\"/><w:sz w:val=\"") + sz + QStringLiteral("\"/><w:szCs w:val=\"") + sz
        + QStringLiteral("\"/><w:rtl/></w:rPr><w:t xml:space=\"preserve\">") + xmlText(text)
        + QStringLiteral("</w:t></w:r>");
}

QString para(const QString& content, int after, int before)
{
    return QStringLiteral("<w:p><w:pPr><w:bidi/><w:spacing w:before=\"") + QString::number(before)
        + QStringLiteral("\" w:after=\"") + QString::number(after) + QStringLiteral("\"/></w:pPr>") + content
        + QStringLiteral("</w:p>");
}

QString row(const QStringList& cells, bool header, const std::optional<QString>& fill, int columnWidth)
{
    QString out = QStringLiteral("<w:tr>");
    if (header)
        out += QStringLiteral("<w:trPr><w:tblHeader/></w:trPr>");
    for (const QString& cell : cells) {
        out += QStringLiteral("<w:tc><w:tcPr><w:tcW w:w=\"") + QString::number(columnWidth)
            + QStringLiteral("\" w:type=\"dxa\"/>");
        if (fill)
            out += QStringLiteral("<w:shd w:val=\"clear\" w:color=\"auto\" w:fill=\"") + *fill + QStringLiteral("\"/>");
        out += QStringLiteral("</w:tcPr>") + para(run(cell, 21, header, QStringLiteral("000000")), 0, 0)
            + QStringLiteral("</w:tc>");
    }
    return out + QStringLiteral("</w:tr>");
}

QString picture(const QString& rel, QSizeF size, int id)
{
    static const QString main = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/main");
    static const QString pic = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/picture");
    const long long cy = (long long)(size.height() / std::max(size.width(), 1.0) * double(kPictureWidthEmu));
    const QString cx = QString::number(kPictureWidthEmu);
    const QString cys = QString::number(cy);
    const QString ids = QString::number(id);
    return QStringLiteral("<w:p><w:pPr><w:jc w:val=\"center\"/><w:spacing w:after=\"120\"/></w:pPr><w:r><w:drawing>"
                          "<wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\">")
        + QStringLiteral("<wp:extent cx=\"") + cx + QStringLiteral("\" cy=\"") + cys + QStringLiteral("\"/><wp:docPr id=\"")
        + ids + QStringLiteral("\" name=\"chart") + ids + QStringLiteral("\"/>") + QStringLiteral("<a:graphic xmlns:a=\"")
        + main + QStringLiteral("\"><a:graphicData uri=\"") + pic + QStringLiteral("\">")
        + QStringLiteral("<pic:pic xmlns:pic=\"") + pic + QStringLiteral("\"><pic:nvPicPr><pic:cNvPr id=\"") + ids
        + QStringLiteral("\" name=\"chart") + ids + QStringLiteral(".png\"/><pic:cNvPicPr/></pic:nvPicPr>")
        + QStringLiteral("<pic:blipFill><a:blip r:embed=\"") + xmlText(rel)
        + QStringLiteral("\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>")
        + QStringLiteral("<pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"") + cx + QStringLiteral("\" cy=\"") + cys
        + QStringLiteral("\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic>")
        + QStringLiteral("</a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>");
}

} // namespace

const QList<QColor>& palette(bool night)
{
    static const QList<QColor> day{Theme::accent().light(), Theme::gold(), Theme::title().light(), Theme::rgb(0x3D5A80)};
    static const QList<QColor> dark{Theme::accent().dark(), Theme::gold(), Theme::title().dark(), Theme::rgb(0x3D5A80)};
    return night ? dark : day;
}

bool isNumeric(const QString& cell)
{
    if (cell == QStringLiteral("-"))
        return true;
    QString t = Arabic::latinDigits(cell);
    t.remove(QStringLiteral("هـ"));
    t.remove(QChar(0x066C));
    t.remove(QLatin1Char(','));
    if (t.isEmpty())
        return false;
    qsizetype i = (t[0] == u'+' || t[0] == u'-') ? 1 : 0;
    if (i == t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (t[i] < u'0' || t[i] > u'9')
            return false;
    }
    bool ok = false;
    t.toLongLong(&ok);
    return ok;
}

QString chartLabel(const QString& label)
{
    if (Characters::count(label, kMaxLabelChars) <= kMaxLabelChars)
        return label;
    return label.first(Characters::endOfFirst(label, kCutLabelChars)) + QChar(0x2026);
}

QImage chartImage(const DataTable& table, int width, const QColor& ink, bool night)
{
    if (table.chart.isEmpty())
        return {};
    const int W = width;
    const qsizetype S = table.series.size();
    const qsizetype S1 = std::max<qsizetype>(S, 1);
    const int b = S < 2 ? kSingleBar : kSeriesBar;
    const int g = int(b * S1 + kGroupGap);
    const int legend = S < 2 ? 0 : kLegendHeight;
    const int height = int(legend + g * table.chart.size() + kBottomMargin);
    double m = 1;
    for (const auto& entry : table.chart) {
        for (const double v : entry.values)
            m = std::max(m, v);
    }

    QImage image(W, height, QImage::Format_ARGB32_Premultiplied);
    // One pixel per point: fonts given in points then keep the chart's geometry.
    image.setDotsPerMeterX(kPointsPerMeter);
    image.setDotsPerMeterY(kPointsPerMeter);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFont labelFont = Theme::ui(11.5);
    const QFont valueFont = Theme::ui(10.5, QFont::Medium);
    const QFontMetricsF labelMetrics(labelFont);
    const QFontMetricsF valueMetrics(valueFont);
    const auto& colours = palette(night);

    const auto rounded = [&](const QRectF& r, QColor colour) {
        QPainterPath path;
        path.addRoundedRect(r, kCornerRadius, kCornerRadius);
        p.fillPath(path, colour);
    };
    const auto text = [&](const QString& s, const QFont& font, const QFontMetricsF& fm, double x, double y) {
        p.setFont(font);
        p.setPen(ink);
        p.drawText(QRectF(x, y, fm.horizontalAdvance(s) + 1, fm.height()), Qt::AlignLeft | Qt::AlignTop, s);
    };

    if (S >= 2) {
        double x = W - 8;
        for (qsizetype i = 0; i < S; ++i) {
            x -= labelMetrics.horizontalAdvance(table.series[i]);
            text(table.series[i], labelFont, labelMetrics, x, 8);
            rounded(QRectF(x - 16, 11, 11, 11), colours[i % colours.size()]);
            x -= 34;
        }
    }

    const double room = W - kBarRoomInset;
    const double barEnd = W - kBarEndInset;
    for (qsizetype r = 0; r < table.chart.size(); ++r) {
        const auto& entry = table.chart[r];
        const double top = legend + kGroupGap + double(g) * double(r);
        const QString label = chartLabel(entry.label);
        const double labelWidth = std::min<double>(kLabelColumn, labelMetrics.horizontalAdvance(label));
        text(label, labelFont, labelMetrics, (W - kLabelInset) - labelWidth, top + ((g - kGroupGap) - labelMetrics.height()) / 2);
        for (qsizetype j = 0; j < entry.values.size(); ++j) {
            const double v = entry.values[j];
            const double length = std::max(room * v / m, 1.0);
            const QRectF bar(barEnd - length, top + double(b) * double(j), length, b - 2);
            QColor colour = colours[j % colours.size()];
            colour.setAlphaF(float(kBarAlpha));
            rounded(bar, colour);
            const QString value = Arabic::num((long long)v);
            text(value, valueFont, valueMetrics, bar.left() - valueMetrics.horizontalAdvance(value) - 4,
                 bar.top() + ((b - 2) - valueMetrics.height()) / 2);
        }
    }
    return image;
}

std::optional<QByteArray> png(const QImage& image)
{
    if (image.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return std::nullopt;
    return bytes;
}

std::optional<QString> pngBase64(const QImage& image)
{
    const auto bytes = png(image);
    if (!bytes)
        return std::nullopt;
    return QString::fromLatin1(bytes->toBase64());
}

QString ooxml(const DataTable& table, const std::optional<QString>& chartRel, QSizeF chartSize, int id)
{
    QString out = para(run(table.title, 28, true, QStringLiteral("760811")), 120, 240);
    if (chartRel)
        out += picture(*chartRel, chartSize, id);

    const qsizetype n = std::max<qsizetype>(table.columns.size(), 1);
    const int columnWidth = int(kTableWidthTwips / n);
    out += QStringLiteral("<w:tbl><w:tblPr><w:bidiVisual/><w:tblW w:w=\"5000\" w:type=\"pct\"/><w:tblBorders>");
    for (const char* name : {"top", "left", "bottom", "right", "insideH", "insideV"}) {
        out += QStringLiteral("<w:") + QLatin1String(name)
            + QStringLiteral(" w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"C9BF9F\"/>");
    }
    out += QStringLiteral("</w:tblBorders><w:tblCellMar><w:top w:w=\"40\" w:type=\"dxa\"/><w:left w:w=\"100\" "
                          "w:type=\"dxa\"/><w:bottom w:w=\"40\" w:type=\"dxa\"/><w:right w:w=\"100\" "
                          "w:type=\"dxa\"/></w:tblCellMar></w:tblPr><w:tblGrid>");
    for (qsizetype i = 0; i < n; ++i)
        out += QStringLiteral("<w:gridCol w:w=\"") + QString::number(columnWidth) + QStringLiteral("\"/>");
    out += QStringLiteral("</w:tblGrid>");
    out += row(table.columns, true, QStringLiteral("DDE8DF"), columnWidth);
    for (qsizetype k = 0; k < table.rows.size(); ++k) {
        QStringList cells = table.rows[k];
        while (cells.size() < n)
            cells.append(QString());
        out += row(cells, false, k % 2 == 1 ? std::optional<QString>(QStringLiteral("F7F3E8")) : std::nullopt,
                   columnWidth);
    }
    out += QStringLiteral("</w:tbl>");
    if (table.note)
        out += para(run(*table.note, 19, false, QStringLiteral("6C6C6C")), 120, 60);
    else
        out += para(QString(), 120, 0);
    return out;
}

QString csv(const QList<DataTable>& tables)
{
    const auto field = [](const QString& cell) {
        QString s = Arabic::latinDigits(cell);
        const bool grouped = !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || c == QChar(0x066C);
        });
        if (grouped)
            s.remove(QChar(0x066C));
        // A spreadsheet evaluates a cell that opens like a formula; a signed
        // number is still read as the number it is.
        static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+(\\.[0-9]+)?$"));
        if (!s.isEmpty() && QStringView(u"=+-@\t\r").contains(s.front()) && !isNumeric(cell)
            && !number.match(s).hasMatch())
            s.prepend(QLatin1Char('\''));
        s.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + s + QLatin1Char('"');
    };
    QStringList parts;
    for (const DataTable& t : tables) {
        QStringList lines;
        QList<QStringList> all{t.columns};
        all.append(t.rows);
        for (const QStringList& line : all) {
            QStringList fields;
            for (const QString& cell : line)
                fields.append(field(cell));
            lines.append(fields.join(QLatin1Char(',')));
        }
        parts.append(lines.join(QStringLiteral("\r\n")));
    }
    return parts.join(QStringLiteral("\r\n\r\n")) + QStringLiteral("\r\n");
}

} // namespace quorvel::DataQA
