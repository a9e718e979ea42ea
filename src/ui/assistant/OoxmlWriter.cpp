#include "ui/assistant/OoxmlWriter.h"

#include "core/CRC32.h"

#include <QColor>
#include <QFont>
#include <QTextBlock>
#include <QTextDocument>
#include <QtEndian>

#include <cmath>

namespace quorvel::OoxmlWriter {

namespace {

constexpr char kXmlDeclaration[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                                   "\n";
constexpr char kDocumentStart[] =
    R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
    R"(xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing"><w:body>)";
// A4 in twentieths of a point, margins of 50 points.
constexpr char kDocumentEnd[] =
    R"(<w:sectPr><w:pgSz w:w="11906" w:h="16838"/>)"
    R"(<w:pgMar w:top="1000" w:right="1000" w:bottom="1000" w:left="1000" w:header="500" w:footer="500" w:gutter="0"/>)"
    R"(<w:bidi/></w:sectPr></w:body></w:document>)";
constexpr char kContentTypes[] =
    R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
    R"(<Default Extension="xml" ContentType="application/xml"/>)"
    R"(<Override PartName="/word/document.xml" )"
    R"(ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)";
constexpr char kPackageRels[] =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" )"
    R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" )"
    R"(Target="word/document.xml"/></Relationships>)";
// Empty, but always there: the table rewrite adds chart pictures to it.
constexpr char kDocumentRels[] =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"></Relationships>)";

QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        default:
            // XML 1.0 has no place for the other control characters.
            if (c.unicode() >= 0x20 || c == QLatin1Char('\t'))
                out += c;
        }
    }
    return out;
}

// Word's own names for a paragraph's alignment. In a right-to-left paragraph
// Word reads "left" and "right" as the paragraph's start and end, so the
// logical names are written: "start" is the right side there.
QString justification(const QTextBlockFormat& block)
{
    const Qt::Alignment h = block.alignment() & Qt::AlignHorizontal_Mask;
    const bool rtl = block.layoutDirection() != Qt::LeftToRight;
    if (h & Qt::AlignHCenter)
        return QStringLiteral("center");
    if (h & Qt::AlignJustify)
        return QStringLiteral("both");
    bool right;
    if (h & Qt::AlignAbsolute)
        right = (h & Qt::AlignRight) != 0;
    else if (h & Qt::AlignRight)
        right = !rtl;   // trailing side
    else if (h & Qt::AlignLeft)
        right = rtl;    // leading side
    else
        right = rtl;
    return right == rtl ? QStringLiteral("start") : QStringLiteral("end");
}

QString runProperties(const QTextCharFormat& chars)
{
    const QFont font = chars.font();
    QString out = QStringLiteral("<w:rPr>");
    const QString family = escaped(font.family());
    if (!family.isEmpty())
        out += QStringLiteral(R"(<w:rFonts w:ascii="%1" w:hAnsi="%1" w:cs="%1"/>)").arg(family);
    if (font.weight() >= QFont::DemiBold)
        out += QLatin1String("<w:b/>");
    if (chars.hasProperty(QTextFormat::ForegroundBrush)) {
        const QColor colour = chars.foreground().color();
        if (colour.isValid())
            out += QStringLiteral(R"(<w:color w:val="%1"/>)").arg(colour.name().mid(1).toUpper());
    }
    // Sizes of the program's fonts are in pixels that play the part of points.
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize();
    if (points > 0) {
        const int halfPoints = int(std::lround(points * 2));
        out += QStringLiteral(R"(<w:sz w:val="%1"/><w:szCs w:val="%1"/>)").arg(halfPoints);
    }
    out += QLatin1String("</w:rPr>");
    return out;
}

void putU16(QByteArray& out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void putU32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

} // namespace

QString documentXml(const QTextDocument& document)
{
    QString out = QString::fromLatin1(kXmlDeclaration) + QString::fromLatin1(kDocumentStart);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextBlockFormat format = block.blockFormat();
        out += QLatin1String("<w:p><w:pPr>");
        if (format.layoutDirection() != Qt::LeftToRight)
            out += QLatin1String("<w:bidi/>");
        out += QStringLiteral(R"(<w:jc w:val="%1"/></w:pPr>)").arg(justification(format));
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            // Object characters (pictures) have no text of their own here.
            QString text = fragment.text();
            text.remove(QChar::ObjectReplacementCharacter);
            text.replace(QChar::LineSeparator, QLatin1Char(' '));
            if (text.isEmpty())
                continue;
            out += QLatin1String("<w:r>") + runProperties(fragment.charFormat()) +
                   QLatin1String(R"(<w:t xml:space="preserve">)") + escaped(text) + QLatin1String("</w:t></w:r>");
        }
        out += QLatin1String("</w:p>");
    }
    out += QString::fromLatin1(kDocumentEnd);
    return out;
}

QByteArray docx(const QTextDocument& document)
{
    const QByteArray declaration(kXmlDeclaration);
    return storedZip({
        {QStringLiteral("[Content_Types].xml"), declaration + kContentTypes},
        {QStringLiteral("_rels/.rels"), declaration + kPackageRels},
        {QStringLiteral("word/document.xml"), documentXml(document).toUtf8()},
        {QStringLiteral("word/_rels/document.xml.rels"), declaration + kDocumentRels},
    });
}

QByteArray storedZip(const QList<std::pair<QString, QByteArray>>& files)
{
    constexpr quint16 version = 20;
    constexpr quint16 utf8Names = 1u << 11;
    constexpr quint16 dosDate = (0 << 9) | (1 << 5) | 1; // 1980-01-01
    QByteArray out;
    QByteArray central;
    for (const auto& [name, data] : files) {
        const QByteArray utf8Name = name.toUtf8();
        const quint32 crc = quint32(CRC32::ofUtf8(data.constData(), data.size()));
        const quint32 offset = quint32(out.size());
        auto common = [&](QByteArray& to) {
            putU16(to, version);
            putU16(to, utf8Names);
            putU16(to, 0); // stored
            putU16(to, 0); // time
            putU16(to, dosDate);
            putU32(to, crc);
            putU32(to, quint32(data.size()));
            putU32(to, quint32(data.size()));
            putU16(to, quint16(utf8Name.size()));
            putU16(to, 0); // extra field
        };
        putU32(out, 0x04034b50);
        common(out);
        out += utf8Name;
        out += data;

        putU32(central, 0x02014b50);
        putU16(central, version); // made by
        common(central);
        putU16(central, 0); // comment
        putU16(central, 0); // disk
        putU16(central, 0); // internal attributes
        putU32(central, 0); // external attributes
        putU32(central, offset);
        central += utf8Name;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    putU32(out, 0x06054b50);
    putU16(out, 0);
    putU16(out, 0);
    putU16(out, quint16(files.size()));
    putU16(out, quint16(files.size()));
    putU32(out, quint32(central.size()));
    putU32(out, centralOffset);
    putU16(out, 0);
    return out;
}

} // namespace quorvel::OoxmlWriter
