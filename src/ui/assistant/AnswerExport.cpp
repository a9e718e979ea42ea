#include "ui/assistant/AnswerExport.h"

#include "assistant/DataQA.h"
#include "core/Arabic.h"
#include "core/AtomicFile.h"
#include "core/Characters.h"
#include "core/DateText.h"
#include "core/PyRegex.h"
#include "core/Theme.h"
#include "ui/assistant/OoxmlWriter.h"
#include "ui/kit/Desktop.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/PdfWriter.h"
#include "ui/kit/RichTextBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTimeZone>
#include <QUuid>


#include <cmath>
#include <utility>

namespace quorvel::AnswerExport {

namespace {

constexpr char kNotWritten[] = "تعذرت كتابة الملف: ";

QColor systemGrey()
{
    return QColor(0x8E, 0x8E, 0x93);
}

QString& toolFolder()
{
    static QString folder = QStringLiteral("/usr/bin");
    return folder;
}

void writeAtomically(const QString& path, const QByteArray& bytes)
{
    if (const std::optional<QString> failed = AtomicFile::replace(path, bytes))
        throw ExportError(QString::fromUtf8(kNotWritten) + *failed);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ExportError(QString::fromUtf8(kNotWritten) + file.errorString());
    return file.readAll();
}

// The characters of `text` within [start, end) given `format` over the old one.
void setChars(QTextDocument& document, int start, int end, const QTextCharFormat& format)
{
    QTextCursor cursor(&document);
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.setCharFormat(format);
}

// Every fragment of `document` from `from` on, with its range.
template <typename Visit>
void eachFragment(QTextDocument& document, int from, Visit visit)
{
    QList<QTextFragment> fragments;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().isValid() && it.fragment().position() >= from)
                fragments.append(it.fragment());
    for (const QTextFragment& fragment : fragments)
        visit(fragment);
}

constexpr char16_t kArabicRun[] =
    uR"((<w:r><w:rPr>(?:(?!</w:rPr>).)*)(</w:rPr><w:t[^>]*>[^<]*[\x{0600}-\x{06FF}]))";

// The regular expression replacement "$1<w:rtl/>$2", done by hand because
// the wrapper's substitution takes its replacement literally.
QString markArabicRuns(const QString& xml)
{
    static const PyRegex::Regex re = PyRegex::compile(QString::fromUtf16(kArabicRun));
    QString out;
    qsizetype at = 0;
    for (const PyRegex::Match& m : PyRegex::allMatchesWithGroups(re, xml)) {
        out += QStringView(xml).mid(at, m.whole.start - at);
        out += QStringView(xml).mid(m.groups[0]->start, m.groups[0]->length);
        out += QLatin1String("<w:rtl/>");
        out += QStringView(xml).mid(m.groups[1]->start, m.groups[1]->length);
        at = m.whole.end();
    }
    out += QStringView(xml).mid(at);
    return out;
}

constexpr const char* kArabicFonts[] = {"Amiri",     "Traditional Naskh", "DecoType Naskh", "Geeza Pro",
                                        "Al Nile",   "Baghdad",           "Aref Ruqaa"};
constexpr char kArabicFace[] = "Traditional Arabic";
constexpr char kLatinFace[] = "Arial";
constexpr char16_t kFontElement[] = uR"re(<w:rFonts w:ascii="([^"]+)"[^/]*/>)re";

QString mapFonts(const QString& xml)
{
    static const PyRegex::Regex re = PyRegex::compile(QString::fromUtf16(kFontElement));
    QString out;
    qsizetype at = 0;
    for (const PyRegex::Match& m : PyRegex::allMatchesWithGroups(re, xml)) {
        const QString family = xml.mid(m.groups[0]->start, m.groups[0]->length);
        QString face = QString::fromLatin1(kLatinFace);
        for (const char* prefix : kArabicFonts)
            if (family.startsWith(QLatin1String(prefix))) {
                face = QString::fromLatin1(kArabicFace);
                break;
            }
        out += QStringView(xml).mid(at, m.whole.start - at);
        out += QStringLiteral(R"(<w:rFonts w:ascii="%1" w:hAnsi="%1" w:cs="%1"/>)").arg(face);
        at = m.whole.end();
    }
    out += QStringView(xml).mid(at);
    return out;
}

QString rewritePart(QString xml)
{
    xml.replace(QLatin1String("<w:sz-cs "), QLatin1String("<w:szCs "));
    xml.replace(QLatin1String("<w:b/>"), QLatin1String("<w:b/><w:bCs/>"));
    return markArabicRuns(mapFonts(xml));
}

constexpr char kToolFailed[] = "تعذر إعداد مستند وورد (docx، الرمز %1).";
constexpr char kToolMissing[] = "تعذر تشغيل أداة الضغط: ";

void run(const QString& tool, const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setProgram(toolFolder() + tool);
    process.setArguments(arguments);
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        throw ExportError(QString::fromUtf8(kToolMissing) + process.errorString());
    process.waitForFinished(-1);
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (status != 0)
        throw ExportError(QString::fromUtf8(kToolFailed).arg(status), QStringLiteral("docx"), status);
}

} // namespace

QString rawValue(ExportFormat format)
{
    switch (format) {
    case ExportFormat::docx: return QStringLiteral("docx");
    case ExportFormat::pdf: return QStringLiteral("pdf");
    case ExportFormat::html: return QStringLiteral("html");
    case ExportFormat::csv: return QStringLiteral("csv");
    }
    return {};
}

std::optional<ExportFormat> formatFrom(const QString& raw)
{
    for (ExportFormat f : {ExportFormat::docx, ExportFormat::pdf, ExportFormat::html, ExportFormat::csv})
        if (rawValue(f) == raw)
            return f;
    return std::nullopt;
}

QString filter(ExportFormat format)
{
    switch (format) {
    case ExportFormat::docx: return QStringLiteral("مستند وورد (*.docx)");
    case ExportFormat::pdf: return QStringLiteral("ملف PDF (*.pdf)");
    case ExportFormat::html: return QStringLiteral("صفحة ويب (*.html)");
    case ExportFormat::csv: return QStringLiteral("جدول بيانات (*.csv)");
    }
    return {};
}

QString failureTitle()
{
    constexpr char kFailureTitle[] = "تعذر التصدير";

    return QString::fromUtf8(kFailureTitle);
}

QString proposedName(const AIAnswer& answer, ExportFormat format)
{
    constexpr char kNameSeparator[] = " - ";
    constexpr int kNameCharacters = 40;

    // A "/" would make a folder of the name; control characters have no
    // place in a file name.
    QString question = answer.question;
    for (QChar& c : question)
        if (c == QLatin1Char('/') || c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    question.truncate(Characters::endOfFirst(question, kNameCharacters));
    return answer.mode.title() + QString::fromUtf8(kNameSeparator) + question + QLatin1Char('.') + rawValue(format);
}

QString longDate(const QDate& today)
{
    const QDateTime noon(today, QTime(12, 0), QTimeZone::utc());
    return DateText::withStyles(double(noon.toSecsSinceEpoch()), UDAT_LONG, UDAT_NONE, "ar", QStringLiteral("UTC"))
        .value_or(today.toString(Qt::ISODate));
}

namespace {

constexpr char kTitlePrefix[] = "مكتبة قورفل · ";
constexpr char kFooterStart[] = "\nأعد في ";
constexpr char kFooterEnd[] = " من كتب «مكتبة قورفل». كل اقتباس فيه منقول من صفحته أو طوبق آليا على نصها.\n";
constexpr double kTitleSize = 11;
constexpr double kQuestionSize = 22;
constexpr double kFooterSize = 10;
constexpr double kCentreSpacing = 10;

} // namespace

std::unique_ptr<QTextDocument> document(const AIAnswer& answer, const Render& render, bool docxMarkers,
                                        bool exporting, const QDate& today)
{
    QTextBlockFormat centre = RichText::paragraph(Qt::AlignHCenter);
    centre.setBottomMargin(kCentreSpacing);
    const QColor grey = systemGrey();

    RichTextBuilder out;
    out.append(QString::fromUtf8(kTitlePrefix) + answer.mode.title() + QLatin1Char('\n'),
               RichText::chars(Theme::ui(kTitleSize), grey), centre);
    out.append(answer.question + QLatin1String("\n\n"),
               RichText::chars(Theme::reader(kQuestionSize, true), Theme::titleRed()), centre);
    const int bodyStart = int(out.length());
    render(out, answer, docxMarkers, exporting);
    const int bodyEnd = int(out.length());

    // Paper has no links, hover texts or screen highlights, and the reading
    // colour of the night palette would print pale, as would its headings
    // and accents: those take their day colours.
    QTextDocument& doc = *out.document();
    const QColor ink = Theme::ink();
    const QColor heading = Theme::heading();
    const QColor accent = Theme::accent().resolve();
    eachFragment(doc, bodyStart, [&](const QTextFragment& fragment) {
        if (fragment.position() >= bodyEnd)
            return;
        QTextCharFormat format = fragment.charFormat();
        format.setAnchor(false);
        format.clearProperty(QTextFormat::AnchorHref);
        format.clearProperty(QTextFormat::AnchorName);
        format.clearProperty(QTextFormat::BackgroundBrush);
        format.clearProperty(QTextFormat::TextToolTip);
        if (format.hasProperty(QTextFormat::ForegroundBrush)) {
            const QColor colour = format.foreground().color();
            if (colour == ink)
                format.setForeground(QColor(Qt::black));
            else if (colour == heading)
                format.setForeground(Theme::titleRed());
            else if (colour == accent)
                format.setForeground(Theme::emerald());
        }
        setChars(doc, fragment.position(), fragment.position() + fragment.length(), format);
    });

    out.append(QString::fromUtf8(kFooterStart) + longDate(today) + QString::fromUtf8(kFooterEnd),
               RichText::chars(Theme::ui(kFooterSize), grey), centre);
    return out.take();
}

QString escapeText(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    out.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    out.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return out;
}

QString escapeAttribute(const QString& text)
{
    return escapeText(text).replace(QLatin1Char('"'), QLatin1String("&quot;"));
}

namespace {

// Web page pieces; the head is fixed byte for byte.
constexpr char kHeadStart[] =
    R"(<!doctype html><html lang="ar" dir="rtl"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">)"
    "\n<title>";
constexpr char kHeadEnd[] =
    "</title>\n"
    R"(<style>body{font-family:"Amiri","Traditional Arabic",serif;font-size:19px;line-height:1.9;max-width:46em;margin:2em auto;padding:0 16px;color:#151515;background:#fff})"
    "\n"
    "h1{text-align:center;color:#8A1414;font-size:1.6em;margin:.2em 0 1em}.kicker{text-align:center;color:#777;font-size:.75em;margin:0}"
    "\n"
    "h2{color:#8A1414;font-size:1.2em;margin:1.4em 0 .3em;border-bottom:1px solid #e6dcc4}p{margin:.35em 0}"
    "\n"
    R"(q{quotes:none;background:#eef6f2;padding:0 .2em}table{border-collapse:collapse;width:100%;font-family:system-ui,"Segoe UI",sans-serif;font-size:15px;margin:.6em 0}th,td{border:1px solid #e6dcc4;padding:6px 10px;text-align:right}th{background:#e8f2ee}tr:nth-child(even) td{background:#fbf8f0}.src{color:#555;font-size:.85em}.foot{color:#888;font-size:.75em;text-align:center;margin-top:2em}</style></head><body>)"
    "\n";
constexpr char kPageEnd[] = "</body></html>\n";
constexpr char kSourcesName[] = "المصادر";
constexpr char kExtractsName[] = "ما وجدته في الكتب:";
constexpr char kFooterWord[] = "أعد";

} // namespace

QString html(const AIAnswer& answer, const Render& render, const QDate& today)
{
    const std::unique_ptr<QTextDocument> doc = document(answer, render, false, false, today);
    QString plain = doc->toPlainText();
    // Pictures stand in the text as object characters; the page draws them itself.
    plain.remove(QChar::ObjectReplacementCharacter);
    const QStringList lines = plain.split(QLatin1Char('\n'));

    QString page = QString::fromUtf8(kHeadStart) + escapeText(answer.mode.title() + QLatin1String(": ") + answer.question) +
                   QString::fromUtf8(kHeadEnd);

    QSet<QString> headings;
    if (answer.tier == 1 || answer.structured)
        for (const QString& line : answer.text.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("## ")))
                headings.insert(Arabic::digits(line.mid(3)));

    static const PyRegex::Regex quotation = PyRegex::compile(QStringLiteral("«([^»]+)»"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString t = Characters::trimSpacesAndTabs(lines[i]).toString();
        if (t.isEmpty())
            continue;
        if (i == 0) {
            page += QLatin1String(R"(<p class="kicker">)") + escapeText(t) + QLatin1String("</p>\n");
        } else if (i == 1) {
            page += QLatin1String("<h1>") + escapeText(t) + QLatin1String("</h1>\n");
        } else if (headings.contains(t) || t == QString::fromUtf8(kSourcesName) ||
                   t == QString::fromUtf8(kExtractsName)) {
            page += QLatin1String("<h2>") + escapeText(t) + QLatin1String("</h2>\n");
        } else {
            const QString escaped = escapeText(t);
            QString marked;
            qsizetype at = 0;
            for (const PyRegex::Match& m : PyRegex::allMatchesWithGroups(quotation, escaped)) {
                marked += QStringView(escaped).mid(at, m.whole.start - at);
                marked += QStringLiteral("«<q>") + escaped.mid(m.groups[0]->start, m.groups[0]->length) +
                          QStringLiteral("</q>»");
                at = m.whole.end();
            }
            marked += QStringView(escaped).mid(at);
            QString cls;
            if (t.startsWith(QString::fromUtf8(kFooterWord)))
                cls = QStringLiteral(R"( class="foot")");
            else if (t.startsWith(QLatin1Char('[')))
                cls = QStringLiteral(R"( class="src")");
            page += QLatin1String("<p") + cls + QLatin1Char('>') + marked + QLatin1String("</p>\n");
        }
    }

    for (const DataTable& table : answer.tables) {
        page += QLatin1String("<h2>") + escapeText(table.title) + QLatin1String("</h2>\n");
        const QImage chart = DataQA::chartImage(table);
        if (!chart.isNull())
            if (const std::optional<QString> base64 = DataQA::pngBase64(chart))
                page += QLatin1String(R"(<p style="text-align:center"><img alt=")") + escapeAttribute(table.title) +
                        QLatin1String(R"(" style="max-width:100%" src="data:image/png;base64,)") + *base64 +
                        QLatin1String("\"></p>\n");
        page += QLatin1String("<table><thead><tr>");
        for (const QString& column : table.columns)
            page += QLatin1String("<th>") + escapeText(column) + QLatin1String("</th>");
        page += QLatin1String("</tr></thead><tbody>\n");
        for (const QStringList& row : table.rows) {
            page += QLatin1String("<tr>");
            for (const QString& cell : row)
                page += QLatin1String("<td>") + escapeText(cell) + QLatin1String("</td>");
            page += QLatin1String("</tr>\n");
        }
        page += QLatin1String("</tbody></table>\n");
        if (table.note)
            page += QLatin1String(R"(<p class="src">)") + escapeText(*table.note) + QLatin1String("</p>\n");
    }
    page += QString::fromUtf8(kPageEnd);
    return page;
}

QByteArray csv(const QList<DataTable>& tables)
{
    return QByteArray("\xEF\xBB\xBF") + DataQA::csv(tables).toUtf8();
}

std::unique_ptr<QTextDocument> printCopy(const QTextDocument& document)
{
    constexpr double kLayoutWidth = 495;
    constexpr double kLayoutHeight = 742;
    constexpr double kWidestPicture = 470;

    std::unique_ptr<QTextDocument> copy(document.clone());
    copy->setDocumentMargin(0);
    copy->setUseDesignMetrics(true);
    eachFragment(*copy, 0, [&](const QTextFragment& fragment) {
        QTextCharFormat format = fragment.charFormat();
        bool changed = false;
        if (format.isImageFormat()) {
            QTextImageFormat image = format.toImageFormat();
            QSizeF size(image.width(), image.height());
            if (size.width() <= 0 || size.height() <= 0) {
                const QVariant resource = copy->resource(QTextDocument::ImageResource, QUrl(image.name()));
                const QImage picture = resource.value<QImage>();
                if (!picture.isNull())
                    size = picture.deviceIndependentSize();
            }
            if (size.width() > kWidestPicture) {
                image.setWidth(kWidestPicture);
                image.setHeight(kWidestPicture / size.width() * size.height());
                format = image;
                changed = true;
            }
        }
        if (changed)
            setChars(*copy, fragment.position(), fragment.position() + fragment.length(), format);
    });
    copy->setPageSize(QSizeF(kLayoutWidth, kLayoutHeight));
    return copy;
}

void writePdf(const QTextDocument& document, const QString& path)
{
    constexpr char kNoPdf[] = "تعذر إنشاء ملف PDF.";
    constexpr double kPageWidth = 595;
    constexpr double kPageHeight = 842;
    constexpr double kMargin = 50;

    const std::unique_ptr<QTextDocument> copy = printCopy(document);
    const QByteArray bytes =
        PdfWriter::pdf(*copy, QFileInfo(path).completeBaseName(), {kPageWidth, kPageHeight, kMargin});
    if (bytes.isEmpty())
        throw ExportError(QString::fromUtf8(kNoPdf));
    writeAtomically(path, bytes);
    // What the file browser will be shown must be the PDF itself.
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly) || written.read(5) != "%PDF-")
        throw ExportError(QString::fromUtf8(kNoPdf));
}

QString setToolFolder(const QString& folder)
{
    return std::exchange(toolFolder(), folder);
}

QByteArray portableDocx(const QByteArray& docx, const QList<DataTable>& tables)
{
    const QString work = QDir::tempPath() + QStringLiteral("/quorvel-docx-") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString x = work + QStringLiteral("/x");
    if (!QDir().mkpath(x))
        throw ExportError(QString::fromUtf8(kNotWritten) + x);
    struct Remove {
        QString folder;
        ~Remove() { QDir(folder).removeRecursively(); }
    } remove{work};

    writeAtomically(work + QStringLiteral("/in.docx"), docx);
    run(QStringLiteral("/unzip"), {QStringLiteral("-q"), QStringLiteral("../in.docx")}, x);
    const QDir word(x + QStringLiteral("/word"));
    for (const QString& name : word.entryList(QDir::Files | QDir::Hidden, QDir::Unsorted)) {
        if (!name.endsWith(QLatin1String(".xml")))
            continue;
        const QString part = word.filePath(name);
        writeAtomically(part, rewritePart(QString::fromUtf8(readAll(part))).toUtf8());
    }
    if (!tables.isEmpty())
        injectTables(tables, x);
    run(QStringLiteral("/zip"),
        {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-X"), QStringLiteral("../out.docx"),
         QStringLiteral(".")},
        x);
    return readAll(work + QStringLiteral("/out.docx"));
}

namespace {

constexpr char kMarker[] = "QUORVEL-TABLE-";
constexpr char kChartRelPrefix[] = "rIdQuorvelChart";
constexpr char kImageRelType[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
constexpr int kDrawingIdBase = 9000;

} // namespace

void injectTables(const QList<DataTable>& tables, const QString& folder)
{
    const QString documentPath = folder + QStringLiteral("/word/document.xml");
    const QString relsPath = folder + QStringLiteral("/word/_rels/document.xml.rels");
    QString body = QString::fromUtf8(readAll(documentPath));
    QString rels = QString::fromUtf8(readAll(relsPath));
    bool pictures = false;
    for (qsizetype i = 0; i < tables.size(); ++i) {
        const QString index = QString::number(i);
        std::optional<QString> rel;
        QSizeF size(1, 1);
        const QImage chart = DataQA::chartImage(tables[i]);
        if (!chart.isNull()) {
            if (const std::optional<QByteArray> png = DataQA::png(chart)) {
                const QString media = folder + QStringLiteral("/word/media");
                if (!QDir().mkpath(media))
                    throw ExportError(QString::fromUtf8(kNotWritten) + media);
                writeAtomically(media + QStringLiteral("/chart") + index + QStringLiteral(".png"), *png);
                rel = QString::fromLatin1(kChartRelPrefix) + index;
                size = chart.deviceIndependentSize();
                rels.replace(QLatin1String("</Relationships>"),
                             QStringLiteral(R"(<Relationship Id="%1" Type="%2" Target="media/chart%3.png"/></Relationships>)")
                                 .arg(*rel, QString::fromLatin1(kImageRelType), index));
                pictures = true;
            }
        }
        // The marker stands alone in its paragraph; "1" must not find "12".
        const PyRegex::Regex marker = PyRegex::compile(QStringLiteral("(?s)<w:p>(?:(?!</w:p>).)*?") +
                                                       QString::fromLatin1(kMarker) + index +
                                                       QStringLiteral("(?![0-9])(?:(?!</w:p>).)*</w:p>"));
        const QString xml = DataQA::ooxml(tables[i], rel, size, kDrawingIdBase + int(i));
        if (const std::optional<PyRegex::Range> found = PyRegex::firstMatch(marker, body))
            body.replace(found->start, found->length, xml);
    }
    writeAtomically(documentPath, body.toUtf8());
    writeAtomically(relsPath, rels.toUtf8());
    if (pictures) {
        const QString typesPath = folder + QStringLiteral("/[Content_Types].xml");
        QString types = QString::fromUtf8(readAll(typesPath));
        if (!types.contains(QLatin1String(R"(Extension="png")"))) {
            types.replace(QLatin1String(R"(<Default Extension="xml")"),
                          QLatin1String(R"(<Default Extension="png" ContentType="image/png"/><Default Extension="xml")"));
            writeAtomically(typesPath, types.toUtf8());
        }
    }
}

void exportAnswer(const AIAnswer& answer, const QString& path, ExportFormat format, const Render& render)
{
    switch (format) {
    case ExportFormat::docx: {
        const std::unique_ptr<QTextDocument> doc = document(answer, render, true, true);
        writeAtomically(path, portableDocx(OoxmlWriter::docx(*doc), answer.tables));
        break;
    }
    case ExportFormat::pdf: {
        const std::unique_ptr<QTextDocument> doc = document(answer, render, false, true);
        writePdf(*doc, path);
        break;
    }
    case ExportFormat::html:
        writeAtomically(path, html(answer, render).toUtf8());
        break;
    case ExportFormat::csv:
        writeAtomically(path, csv(answer.tables));
        break;
    }
}

std::optional<QString> exportLast(const QList<AIAnswer>& answers, ExportFormat format, const Render& render,
                                  QWidget* window)
{
    constexpr char kSaveMessage[] = "تصدير الإجابة";

    if (answers.isEmpty())
        return std::nullopt;
    const AIAnswer& answer = answers.last();
    const std::optional<QString> path =
        Dialogs::saveFile(QString::fromUtf8(kSaveMessage), proposedName(answer, format), filter(format), window);
    if (!path || path->isEmpty())
        return std::nullopt;
    try {
        exportAnswer(answer, *path, format, render);
    } catch (const UserError& error) {
        Dialogs::alert(failureTitle(), error.message(), window);
        return std::nullopt;
    }
    Desktop::showWritten(*path, window);
    return path;
}

} // namespace quorvel::AnswerExport
