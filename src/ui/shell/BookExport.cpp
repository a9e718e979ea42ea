#include "ui/shell/BookExport.h"

#include "core/Arabic.h"
#include "core/AtomicFile.h"
#include "core/Library.h"
#include "core/Theme.h"
#include "ui/assistant/AnswerExport.h"
#include "ui/kit/PdfWriter.h"
#include "ui/kit/RichTextBuilder.h"

#include <QHash>
#include <QSet>
#include <QTextDocument>

namespace quorvel::BookExport {

namespace {

constexpr char kVolumeLabelStart[] = "[الجزء: ";
constexpr char kVolumeLabelPage[] = " - ص: ";
constexpr char kPageLabelStart[] = "[ص: ";
constexpr char kLabelEnd[] = "]";

// The theme sizes fonts in screen pixels; print sizes are points.
QFont printed(QFont font, double points)
{
    font.setPointSizeF(points);
    return font;
}

} // namespace

QString pageLabel(const Page& page)
{
    // The volume form never falls back to the sequence.
    if (page.vol && !page.vol->isEmpty())
        return QString::fromUtf8(kVolumeLabelStart) + Arabic::digits(*page.vol) + QString::fromUtf8(kVolumeLabelPage) +
               Arabic::num(page.num.value_or(0)) + QString::fromUtf8(kLabelEnd);
    return QString::fromUtf8(kPageLabelStart) + Arabic::num(page.num.value_or(page.seq)) + QString::fromUtf8(kLabelEnd);
}

QString escape(const QString& text)
{
    return AnswerExport::escapeText(text);
}

QString paras(const QString& text)
{
    QStringList out;
    for (const QString& piece : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out.append(QLatin1String("<p>") + escape(piece) + QLatin1String("</p>"));
    return out.join(QLatin1Char('\n'));
}

namespace {

constexpr char kHTMLStart[] =
    R"(<!doctype html><html lang="ar" dir="rtl"><head><meta charset="utf-8"><title>)";
// Everything from the end of the title to the opening of the heading.
constexpr char kHTMLStyle[] =
    "</title>\n"
    R"(<style>body{font-family:"Amiri","Traditional Arabic",serif;font-size:18pt;line-height:1.9;max-width:46em;margin:2em auto;padding:0 1em;color:#151515})"
    "\n"
    "h1{text-align:center;color:#8A1414;margin-bottom:.2em}.by{text-align:center;color:#555;margin-top:0}p{margin:.3em 0;text-align:justify}"
    "\n"
    ".fn{font-size:14pt;color:#3c3c3c;border-top:1px solid #bbb;margin-top:.6em;padding-top:.3em}.pg{text-align:center;color:#888;font-size:11pt;margin:.8em 0 1.6em}</style>"
    "\n"
    "</head><body><h1>";
constexpr char kAuthorStart[] = R"(</h1><p class="by">)";
constexpr char kFootnotesStart[] = R"(<div class="fn">)";
constexpr char kFootnotesEnd[] = "</div>";
constexpr char kLabelParagraph[] = R"(<p class="pg">)";
constexpr char kHTMLEnd[] = "</p></body></html>\n";

constexpr char kSourcePrefix[] = "مصدر النص: ";
constexpr char kLicenseSeparator[] = " · ";

} // namespace

QString bookHTML(const Library& lib, const Book& book)
{
    const QString title = escape(book.title);
    QString html = QString::fromUtf8(kHTMLStart) + title + QString::fromUtf8(kHTMLStyle) + title +
                   QString::fromUtf8(kAuthorStart) + escape(lib.authorName(book)) + QLatin1String("</p>\n");
    for (const Page& row : lib.bookPages(book.id)) {
        const auto [body, footnotes] = Library::splitFootnotes(row.content);
        html += paras(body) + QLatin1Char('\n');
        if (footnotes && !footnotes->isEmpty())
            html += QString::fromUtf8(kFootnotesStart) + paras(*footnotes) + QString::fromUtf8(kFootnotesEnd) +
                    QLatin1Char('\n');
        // A volume label comes verbatim from a book package: escaped like
        // every other text, so that markup in it stays text.
        html += QString::fromUtf8(kLabelParagraph) + escape(pageLabel(row)) + QLatin1String("</p>\n");
    }
    QString source = QString::fromUtf8(kSourcePrefix) + book.source.value_or(QString());
    if (book.license)
        source += QString::fromUtf8(kLicenseSeparator) + *book.license;
    html += QString::fromUtf8(kLabelParagraph) + escape(source) + QString::fromUtf8(kHTMLEnd);
    return html;
}

namespace {

// Five horizontal bars over the footnotes of a page.
constexpr char kFootnoteRule[] = "―――――\n";

constexpr double kTitleSize = 24;
constexpr double kAuthorSize = 16;
constexpr double kBodySize = 15;
constexpr double kFootnoteSize = 12;
constexpr double kLabelSize = 10;
constexpr double kHeadingSpaceAfter = 12; // points
constexpr double kBodyLineSpacing = 6;    // points
constexpr double kFootnoteGrey = 1.0 / 3.0;
constexpr double kLabelGrey = 0.5;

} // namespace

std::unique_ptr<QTextDocument> pdfDocument(const Book& book, const QString& author, const QList<Page>& pages,
                                           double dpi)
{
    const double pixelsPerPoint = dpi / pointsPerInch;
    QTextBlockFormat heading = RichText::paragraph(Qt::AlignHCenter);
    heading.setBottomMargin(kHeadingSpaceAfter * pixelsPerPoint);
    QTextBlockFormat body = RichText::paragraph(RichText::right);
    RichText::setLineSpacing(body, kBodyLineSpacing * pixelsPerPoint);

    const QTextCharFormat titleChars =
        RichText::chars(printed(Theme::reader(kTitleSize, true), kTitleSize), Theme::titleRed());
    const QTextCharFormat authorChars =
        RichText::chars(printed(Theme::reader(kAuthorSize), kAuthorSize), QColor(Qt::black));
    const QTextCharFormat bodyChars = RichText::chars(printed(Theme::reader(kBodySize), kBodySize), QColor(Qt::black));
    const QTextCharFormat footnoteChars =
        RichText::chars(printed(Theme::reader(kFootnoteSize), kFootnoteSize),
                        QColor::fromRgbF(kFootnoteGrey, kFootnoteGrey, kFootnoteGrey));
    const QTextCharFormat labelChars = RichText::chars(printed(Theme::ui(kLabelSize, QFont::Normal), kLabelSize),
                                                       QColor::fromRgbF(kLabelGrey, kLabelGrey, kLabelGrey));

    RichTextBuilder text;
    text.append(book.title + QLatin1Char('\n'), titleChars, heading);
    text.append(author + QLatin1String("\n\n"), authorChars, heading);
    for (const Page& row : pages) {
        // The digits the reader sees on the page.
        const auto [main, footnotes] = Library::splitFootnotes(row.content);
        text.append(Arabic::digits(main) + QLatin1Char('\n'), bodyChars, body);
        if (footnotes && !footnotes->isEmpty())
            text.append(QString::fromUtf8(kFootnoteRule) + Arabic::digits(*footnotes) + QLatin1Char('\n'), footnoteChars, body);
        text.append(pageLabel(row) + QLatin1String("\n\n"), labelChars, heading);
    }
    std::unique_ptr<QTextDocument> document = text.take();
    document->setDocumentMargin(0);
    return document;
}

bool writePDF(const Book& book, const QString& author, const QList<Page>& pages, const QString& path,
              QString* error)
{
    constexpr char kNoPdf[] = "تعذر إنشاء ملف PDF.";
    const std::unique_ptr<QTextDocument> document = pdfDocument(book, author, pages, pointsPerInch);
    const QByteArray bytes = PdfWriter::pdf(*document, book.title, {pdfPageWidth, pdfPageHeight, pdfMargin});
    if (bytes.isEmpty()) {
        if (error)
            *error = QString::fromUtf8(kNoPdf);
        return false;
    }
    const std::optional<QString> failed = AtomicFile::replace(path, bytes);
    if (failed && error)
        *error = *failed;
    return !failed;
}

} // namespace quorvel::BookExport
