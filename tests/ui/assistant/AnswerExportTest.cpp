#include "ui/assistant/AnswerExport.h"

#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "support/ScopedEnv.h"
#include "ui/ViewTestSupport.h"
#include "ui/assistant/OoxmlWriter.h"
#include "ui/kit/Desktop.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/RichTextBuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::AnswerExport;

namespace {

DataTable centuries(const QString& title = QStringLiteral("عدد الكتب حسب القرن"))
{
    DataTable t;
    t.title = title;
    t.columns = {QStringLiteral("القرن"), QStringLiteral("الكتب")};
    t.rows = {{QStringLiteral("القرن الثالث"), QStringLiteral("١٢")}, {QStringLiteral("القرن الخامس"), QStringLiteral("٣")}};
    t.chart = {{QStringLiteral("القرن الثالث"), {12}}, {QStringLiteral("القرن الخامس"), {3}}};
    t.series = {QStringLiteral("الكتب")};
    t.note = QStringLiteral("محسوب من الفهرس");
    return t;
}

AIAnswer zakatAnswer()
{
    AIAnswer a(AIMode::answer, QStringLiteral("ما شروط وجوب الزكاة؟"), {});
    a.tier = 1;
    a.text = QStringLiteral("## الشروط\nالإسلام والحرية «وملك النصاب» [1]\n# عنوان صغير");
    return a;
}

// A stand-in for the panel's renderer: what it writes is what the export
// must clean (a link, a tooltip, a quotation background, reading-colour
// text), and the switches it was given.
struct FakeRender {
    bool sawMarkers = false;
    bool sawExporting = false;
    Render fn()
    {
        return [this](RichTextBuilder& out, const AIAnswer& answer, bool markers, bool exporting) {
            sawMarkers = markers;
            sawExporting = exporting;
            const QTextBlockFormat block = RichText::paragraph();
            QTextCharFormat body = RichText::chars(Theme::reader(19), Theme::ink());
            out.append(QStringLiteral("\n"), body, block);
            const int quoteAt = int(out.length()) + 1;
            for (const QString& line : answer.text.split(QLatin1Char('\n'))) {
                QString shown = line;
                while (shown.startsWith(QLatin1Char('#')))
                    shown.remove(0, 1);
                out.append(shown.trimmed() + QLatin1Char('\n'), body, block);
            }
            QTextCharFormat quote;
            quote.setBackground(Theme::emerald());
            out.merge(quoteAt, 4, quote);
            QTextCharFormat cite = RichText::chars(Theme::ui(13, QFont::Bold), Theme::emerald());
            cite.setToolTip(QStringLiteral("كتاب الأم"));
            out.appendLink(QStringLiteral("[١] كتاب الأم، ص ٣\n"), QStringLiteral("quorvel://page/1/3"), cite, block);
            out.append(QStringLiteral("\nالمصادر\n"), RichText::chars(Theme::ui(13, QFont::Bold), Theme::gold()), block);
            for (qsizetype i = 0; i < answer.tables.size(); ++i)
                out.append(markers ? QStringLiteral("\nQUORVEL-TABLE-%1\n").arg(i)
                                   : QLatin1Char('\n') + answer.tables[i].title + QLatin1Char('\n'),
                           RichText::chars(Theme::ui(12.5)), block);
        };
    }
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString tool(const char* name, const QStringList& args, const QString& folder = {})
{
    QProcess p;
    if (!folder.isEmpty())
        p.setWorkingDirectory(folder);
    p.start(QString::fromLatin1(name), args);
    p.waitForFinished(60000);
    return p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

bool parses(const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

class AnswerExportTest : public ::testing::Test {
protected:
    void SetUp() override { test::preparePanels(); }
};

} // namespace

TEST_F(AnswerExportTest, proposedNameCutsTheQuestionAndMakesNoFolders)
{
    AIAnswer a(AIMode::answer, QString(50, QChar(0x0628)), {});
    const QString name = proposedName(a, ExportFormat::pdf);
    EXPECT_EQ(name, AIMode(AIMode::answer).title() + QStringLiteral(" - ") + QString(40, QChar(0x0628)) +
                        QStringLiteral(".pdf"));

    // Forty characters as a reader counts them: a letter with its vowel mark is one.
    a.question = QString(45, QChar(0x0628)).replace(QStringLiteral("ب"), QStringLiteral("بَ"));
    EXPECT_TRUE(proposedName(a, ExportFormat::csv).endsWith(QString(40, QChar(0x0628)).replace(
        QStringLiteral("ب"), QStringLiteral("بَ")) + QStringLiteral(".csv")));

    a.question = QStringLiteral("الطهارة و/أو الصلاة\n\t") + QChar(0) + QStringLiteral("آخر");
    const QString safe = proposedName(a, ExportFormat::docx);
    EXPECT_FALSE(safe.contains(QLatin1Char('/')));
    EXPECT_TRUE(safe.contains(QStringLiteral("و أو")));
    for (QChar c : safe)
        EXPECT_NE(c.category(), QChar::Other_Control);
    EXPECT_TRUE(safe.endsWith(QStringLiteral("آخر.docx")));

    EXPECT_EQ(formatFrom(QStringLiteral("html")), ExportFormat::html);
    EXPECT_FALSE(formatFrom(QStringLiteral("HTML")));
}

TEST_F(AnswerExportTest, documentDropsScreenOnlyAttributesAndPrintsInkBlack)
{
    const bool night = Settings::nightReading();
    Settings::setNightReading(true);
    FakeRender render;
    const auto doc = document(zakatAnswer(), render.fn(), false, true, QDate(2026, 12, 7));
    Settings::setNightReading(night);
    EXPECT_TRUE(render.sawExporting);
    EXPECT_FALSE(render.sawMarkers);

    int blackRuns = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            EXPECT_FALSE(f.isAnchor()) << it.fragment().text().toStdString();
            EXPECT_TRUE(f.anchorHref().isEmpty());
            EXPECT_FALSE(f.hasProperty(QTextFormat::BackgroundBrush));
            EXPECT_TRUE(f.toolTip().isEmpty());
            EXPECT_NE(f.foreground().color().rgb(), Theme::rgb(0xE6DFCC).rgb());
            if (f.foreground().color() == QColor(Qt::black))
                ++blackRuns;
        }
    EXPECT_GT(blackRuns, 0);
    const QStringList lines = doc->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(lines[0], QStringLiteral("مكتبة قورفل · ") + AIMode(AIMode::answer).title());
    EXPECT_EQ(lines[1], QStringLiteral("ما شروط وجوب الزكاة؟"));
    EXPECT_TRUE(lines.last().isEmpty());
    const QString footer = lines[lines.size() - 2];
    EXPECT_TRUE(footer.startsWith(QStringLiteral("أعد في ") + longDate(QDate(2026, 12, 7))));
    EXPECT_TRUE(longDate(QDate(2026, 12, 7)).contains(QStringLiteral("ديسمبر")));
}

TEST_F(AnswerExportTest, csvStartsWithByteOrderMark)
{
    const QByteArray bytes = csv({centuries()});
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF\""));
    EXPECT_TRUE(bytes.contains("\r\n"));
}

TEST_F(AnswerExportTest, htmlPageLinesHeadingsClassesAndTables)
{
    AIAnswer a = zakatAnswer();
    a.tables = {centuries(QStringLiteral("عدد \"الكتب\" onload=\"x\" <حسب>"))};
    FakeRender render;
    const QString page = html(a, render.fn(), QDate(2026, 12, 7));
    EXPECT_FALSE(render.sawExporting);
    const QByteArray bytes = page.toUtf8();

    const QByteArray title = escapeText(a.mode.title() + QStringLiteral(": ") + a.question).toUtf8();
    const qsizetype titleAt = bytes.indexOf(title);
    EXPECT_EQ(titleAt, 145);
    const QByteArray afterTitle = bytes.mid(titleAt + title.size());
    EXPECT_TRUE(afterTitle.startsWith("</title>\n<style>body{"));
    EXPECT_EQ(afterTitle.indexOf("<body>\n") + 7, 822);

    EXPECT_TRUE(page.contains(QStringLiteral("<p class=\"kicker\">مكتبة قورفل · ")));
    EXPECT_TRUE(page.contains(QStringLiteral("<h1>ما شروط وجوب الزكاة؟</h1>\n")));
    EXPECT_TRUE(page.contains(QStringLiteral("<h2>الشروط</h2>\n")));
    EXPECT_TRUE(page.contains(QStringLiteral("<p>عنوان صغير</p>\n")));   // one hash sign: a paragraph
    EXPECT_TRUE(page.contains(QStringLiteral("<h2>المصادر</h2>\n")));
    EXPECT_TRUE(page.contains(QStringLiteral("«<q>وملك النصاب</q>»"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("<p class=\"src\">[١] كتاب الأم، ص ٣</p>")));
    EXPECT_TRUE(page.contains(QStringLiteral("<p class=\"foot\">أعد في ")));
    EXPECT_TRUE(page.endsWith(QStringLiteral("</body></html>\n")));

    // The table twice: its title among the document's lines, then as a table.
    EXPECT_EQ(page.count(QStringLiteral("عدد \"الكتب\" onload=\"x\" &lt;حسب&gt;")), 2); // line and h2
    EXPECT_TRUE(page.contains(QStringLiteral("<th>القرن</th><th>الكتب</th>")));
    EXPECT_TRUE(page.contains(QStringLiteral("<tr><td>القرن الثالث</td><td>١٢</td></tr>\n")));
    EXPECT_TRUE(page.contains(QStringLiteral("<p class=\"src\">محسوب من الفهرس</p>")));
    // A quotation mark in the title cannot close the attribute and add another.
    EXPECT_TRUE(page.contains(QStringLiteral("alt=\"عدد &quot;الكتب&quot; onload=&quot;x&quot; &lt;حسب&gt;\"")));
    EXPECT_FALSE(page.contains(QStringLiteral("onload=\"x\" <")));
    EXPECT_TRUE(page.contains(QStringLiteral("src=\"data:image/png;base64,iVBOR")));
}

TEST_F(AnswerExportTest, htmlCountsEmptyLines)
{
    // An empty rendered body line still counts: the question stays line 1.
    AIAnswer a(AIMode::answer, QStringLiteral("سؤال"), {});
    const Render nothing = [](RichTextBuilder&, const AIAnswer&, bool, bool) {};
    const QString page = html(a, nothing, QDate(2026, 1, 1));
    EXPECT_EQ(page.count(QStringLiteral("<h1>")), 1);
    EXPECT_TRUE(page.contains(QStringLiteral("<h1>سؤال</h1>")));
    EXPECT_EQ(page.count(QStringLiteral("<p")), 2); // kicker and footer
}

TEST_F(AnswerExportTest, storedZipIsReadByUnzip)
{
    QTemporaryDir dir;
    const QByteArray zip = OoxmlWriter::storedZip({{QStringLiteral("a.txt"), "alpha"},
                                                   {QStringLiteral("d/ب.xml"), "<x/>"}});
    QFile f(dir.filePath(QStringLiteral("t.zip")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(zip);
    f.close();
    EXPECT_FALSE(tool("/usr/bin/unzip", {QStringLiteral("-t"), f.fileName()}).isEmpty());
    EXPECT_EQ(tool("/usr/bin/unzip", {QStringLiteral("-p"), f.fileName(), QStringLiteral("a.txt")}),
              QStringLiteral("alpha"));
}

namespace {

// A package in the platform writer's form with the runs the rewrite must tell apart.
QByteArray runsPackage(const QString& body)
{
    const QByteArray decl = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
    const QByteArray doc =
        decl + R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)" +
        body.toUtf8() + "</w:body></w:document>";
    return OoxmlWriter::storedZip(
        {{QStringLiteral("[Content_Types].xml"),
          decl + R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="xml" ContentType="application/xml"/></Types>)"},
         {QStringLiteral("word/document.xml"), doc},
         {QStringLiteral("word/_rels/document.xml.rels"),
          decl + R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"></Relationships>)"}});
}

QString run(const QString& font, const QString& text)
{
    return QStringLiteral(R"(<w:r><w:rPr><w:rFonts w:ascii="%1" w:hAnsi="%1"/><w:b/><w:sz-cs w:val="30"/></w:rPr><w:t>%2</w:t></w:r>)")
        .arg(font, text);
}

QString unpacked(const QByteArray& docx, const QString& part)
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("p.docx")));
    f.open(QIODevice::WriteOnly);
    f.write(docx);
    f.close();
    return tool("/usr/bin/unzip", {QStringLiteral("-p"), f.fileName(), part});
}

} // namespace

TEST_F(AnswerExportTest, portableDocxMapsFontsBoldAndDirection)
{
    const QString body = QStringLiteral("<w:p>") + run(QStringLiteral("Amiri Quran"), QStringLiteral("بسم")) +
                         run(QStringLiteral("Amiri-Bold"), QStringLiteral("Word قال")) +
                         run(Theme::ui().family(), QStringLiteral("Latin only")) + QStringLiteral("</w:p>");
    const QString xml = unpacked(portableDocx(runsPackage(body), {}), QStringLiteral("word/document.xml"));
    ASSERT_FALSE(xml.isEmpty());
    const QString arabic = QStringLiteral(R"(<w:rFonts w:ascii="Traditional Arabic" w:hAnsi="Traditional Arabic" w:cs="Traditional Arabic"/>)");
    EXPECT_EQ(xml.count(arabic), 2);
    EXPECT_EQ(xml.count(QStringLiteral(R"(<w:rFonts w:ascii="Arial" w:hAnsi="Arial" w:cs="Arial"/>)")), 1);
    EXPECT_EQ(xml.count(QStringLiteral("<w:b/><w:bCs/>")), 3);
    EXPECT_FALSE(xml.contains(QStringLiteral("sz-cs")));
    // The Arabic and the mixed run are right to left; the Latin one is not.
    EXPECT_TRUE(xml.contains(QStringLiteral(R"(<w:szCs w:val="30"/><w:rtl/></w:rPr><w:t>بسم)")));
    EXPECT_TRUE(xml.contains(QStringLiteral(R"(<w:rtl/></w:rPr><w:t>Word قال)")));
    EXPECT_TRUE(xml.contains(QStringLiteral(R"(<w:szCs w:val="30"/></w:rPr><w:t>Latin only)")));
}

TEST_F(AnswerExportTest, injectTablesFindsItsOwnMarkerAndDeclaresPngOnce)
{
    QTemporaryDir dir;
    const QString x = dir.path();
    QDir().mkpath(x + QStringLiteral("/word/_rels"));
    auto write = [&](const QString& rel, const QByteArray& bytes) {
        QFile f(x + rel);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const QByteArray types =
        R"(<Types><Default Extension="rels" ContentType="r"/><Default Extension="xml" ContentType="application/xml"/></Types>)";
    const QByteArray rels = "<Relationships></Relationships>";
    write(QStringLiteral("/[Content_Types].xml"), types);
    write(QStringLiteral("/word/_rels/document.xml.rels"), rels);
    QString body = QStringLiteral("<w:body>");
    for (int i : {0, 12, 1})
        body += QStringLiteral("<w:p><w:r><w:t>QUORVEL-TABLE-%1</w:t></w:r></w:p>").arg(i);
    body += QStringLiteral("</w:body>");
    write(QStringLiteral("/word/document.xml"), body.toUtf8());

    // No chart data: tables go in, types and relationships stay as they were.
    DataTable plain = centuries(QStringLiteral("جدول بلا رسم"));
    plain.chart.clear();
    QList<DataTable> tables(13, plain);
    tables[1].title = QStringLiteral("الجدول الثاني");
    injectTables(tables, x);
    EXPECT_EQ(fileBytes(x + QStringLiteral("/[Content_Types].xml")), types);
    EXPECT_EQ(fileBytes(x + QStringLiteral("/word/_rels/document.xml.rels")), rels);
    QString after = QString::fromUtf8(fileBytes(x + QStringLiteral("/word/document.xml")));
    EXPECT_FALSE(after.contains(QStringLiteral("QUORVEL-TABLE-")));
    // Table 1 replaced the last paragraph, not the one of table 12.
    EXPECT_GT(after.indexOf(QStringLiteral("الجدول الثاني")), after.lastIndexOf(QStringLiteral("جدول بلا رسم")));

    write(QStringLiteral("/word/document.xml"), "<w:body><w:p><w:t>QUORVEL-TABLE-0</w:t></w:p></w:body>");
    injectTables({centuries()}, x);
    injectTables({centuries()}, x);
    const QString declared = QString::fromUtf8(fileBytes(x + QStringLiteral("/[Content_Types].xml")));
    EXPECT_EQ(declared.count(QStringLiteral("Extension=\"png\"")), 1);
    EXPECT_TRUE(QFile::exists(x + QStringLiteral("/word/media/chart0.png")));
    EXPECT_TRUE(QString::fromUtf8(fileBytes(x + QStringLiteral("/word/_rels/document.xml.rels")))
                    .contains(QStringLiteral(R"(<Relationship Id="rIdQuorvelChart0" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="media/chart0.png"/>)")));
}

TEST_F(AnswerExportTest, failingZipIsADocxErrorAndLeavesNoFolder)
{
    QTemporaryDir tools;
    QTemporaryDir temp;
    const test::ScopedEnv tmp("TMPDIR", temp.path());
    QFile zip(tools.filePath(QStringLiteral("zip")));
    ASSERT_TRUE(zip.open(QIODevice::WriteOnly));
    zip.write("#!/bin/sh\nexit 12\n");
    zip.close();
    zip.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::link(QStringLiteral("/usr/bin/unzip"), tools.filePath(QStringLiteral("unzip"))));
    const QString old = setToolFolder(tools.path());
    try {
        portableDocx(runsPackage(QStringLiteral("<w:p/>")), {centuries()});
        ADD_FAILURE() << "no error";
    } catch (const ExportError& e) {
        EXPECT_EQ(e.domain(), QStringLiteral("docx"));
        EXPECT_EQ(e.code(), 12);
    }
    setToolFolder(old);
    EXPECT_TRUE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(AnswerExportTest, exportedFilesOpen)
{
    AIAnswer a = zakatAnswer();
    a.mode = AIMode::data;
    a.structured = true;
    a.tables = {centuries()};
    FakeRender render;
    QTemporaryDir dir;

    const QString docx = dir.filePath(QStringLiteral("a.docx"));
    exportAnswer(a, docx, ExportFormat::docx, render.fn());
    EXPECT_TRUE(render.sawMarkers);
    EXPECT_FALSE(tool("/usr/bin/unzip", {QStringLiteral("-t"), docx}).isEmpty());
    for (const QString& part : tool("/usr/bin/unzip", {QStringLiteral("-Z1"), docx}).split(QLatin1Char('\n'))) {
        if (part.endsWith(QLatin1String(".xml")) || part.endsWith(QLatin1String(".rels"))) {
            // unzip reads "[" as a wildcard.
            const QString pattern = QString(part).replace(QLatin1Char('['), QStringLiteral("[[]"));
            EXPECT_TRUE(parses(unpacked(fileBytes(docx), pattern).toUtf8())) << part.toStdString();
        }
    }
    const QString body = unpacked(fileBytes(docx), QStringLiteral("word/document.xml"));
    EXPECT_TRUE(body.contains(QStringLiteral("<w:tbl>")));
    EXPECT_FALSE(body.contains(QStringLiteral("QUORVEL-TABLE")));
    EXPECT_TRUE(body.contains(QStringLiteral("ما شروط وجوب الزكاة؟")));
    EXPECT_TRUE(unpacked(fileBytes(docx), QStringLiteral("word/_rels/document.xml.rels")).contains(QStringLiteral("rIdQuorvelChart0")));
    EXPECT_TRUE(unpacked(fileBytes(docx), QStringLiteral("[[]Content_Types].xml")).contains(QStringLiteral("image/png")));

    const QString csvPath = dir.filePath(QStringLiteral("a.csv"));
    exportAnswer(a, csvPath, ExportFormat::csv, render.fn());
    EXPECT_TRUE(fileBytes(csvPath).startsWith("\xEF\xBB\xBF"));

    // Kept beside the tests for a person to open.
    const QString kept = QCoreApplication::applicationDirPath() + QStringLiteral("/answer.");
    for (const char* ext : {"docx", "csv"}) {
        QFile::remove(kept + QLatin1String(ext));
        QFile::copy(dir.filePath(QStringLiteral("a.") + QLatin1String(ext)), kept + QLatin1String(ext));
    }
    exportAnswer(a, kept + QStringLiteral("html"), ExportFormat::html, render.fn());
}

TEST_F(AnswerExportTest, pdfIsA4WithItsTextAndWidePicturesScaled)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.pdf"));
    FakeRender render;
    exportAnswer(zakatAnswer(), path, ExportFormat::pdf, render.fn());
    EXPECT_TRUE(fileBytes(path).startsWith("%PDF-"));
    const QString info = tool("pdfinfo", {path});
    EXPECT_TRUE(info.contains(QStringLiteral("595 x 842 pts"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\n"))));
    // The letters as written, searchable and copyable: no shaped forms.
    const QString text = tool("pdftotext", {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
    // The interface's small text too, joined letters and all.
    for (const QString& words : {QStringLiteral("ما شروط وجوب الزكاة"), QStringLiteral("«وملك النصاب»"),
                                 QStringLiteral("من كتب «مكتبة قورفل»"), QStringLiteral("كتاب الأم"),
                                 QStringLiteral("إجابة موجزة")})
        EXPECT_TRUE(text.contains(words)) << words.toStdString() << "\n" << text.toStdString();
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[\\x{FB50}-\\x{FEFF}]")))) << text.toStdString();

    // A noncharacter or NUL in the answer ends neither the file nor its line.
    AIAnswer odd = zakatAnswer();
    odd.text = QStringLiteral("## الشروط\nالإسلام") + QChar(0xFFFF) + QStringLiteral(" والحرية") + QChar(0) +
               QStringLiteral(" «وملك النصاب» [1]\n") + QString::fromUcs4(U"\U0001FFFE\uFDD0") +
               QStringLiteral("# عنوان صغير");
    exportAnswer(odd, path, ExportFormat::pdf, render.fn());
    const QString oddText =
        tool("pdftotext", {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
    for (const QString& words : {QStringLiteral("«وملك النصاب»"), QStringLiteral("عنوان صغير"),
                                 QStringLiteral("من كتب «مكتبة قورفل»")})
        EXPECT_TRUE(oddText.contains(words)) << words.toStdString() << "\n" << oddText.toStdString();

    // A stop notice's marked words come back as written.
    AIAnswer stopped = zakatAnswer();
    stopped.text = QStringLiteral("أوقفتَ الكتابة فحُذف ما لم يُطابَق");
    exportAnswer(stopped, path, ExportFormat::pdf, render.fn());
    const QString stoppedText =
        tool("pdftotext", {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
    EXPECT_TRUE(stoppedText.contains(stopped.text)) << stoppedText.toStdString();

    // Page 1 as a picture beside the tests, for a person to look at.
    const QString kept = QCoreApplication::applicationDirPath() + QStringLiteral("/answer");
    QFile::remove(kept + QStringLiteral(".pdf"));
    QFile::copy(path, kept + QStringLiteral(".pdf"));
    if (!QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()) {
        QProcess::execute(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("72"),
                                                       QStringLiteral("-singlefile"), path, kept + QStringLiteral("-pdf")});
        const QImage page(kept + QStringLiteral("-pdf.png"));
        EXPECT_EQ(page.size(), QSize(595, 842));
    }

    QTextDocument doc;
    QImage wide(940, 200, QImage::Format_RGB32);
    wide.fill(Qt::red);
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("chart")), wide);
    QTextCursor cursor(&doc);
    QTextImageFormat image;
    image.setName(QStringLiteral("chart"));
    cursor.insertImage(image);
    const auto copy = printCopy(doc);
    const QTextImageFormat printed = copy->begin().begin().fragment().charFormat().toImageFormat();
    EXPECT_DOUBLE_EQ(printed.width(), 470);
    EXPECT_DOUBLE_EQ(printed.height(), 100);
}

TEST_F(AnswerExportTest, pdfThatCannotBeWrittenFails)
{
    QTemporaryDir dir;
    FakeRender render;
    // A folder without write permission (the administrator writes anyway),
    // and a "folder" that is a file, which stops everyone.
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    if (!QFileInfo(locked).isWritable()) {
        EXPECT_THROW(exportAnswer(zakatAnswer(), locked + QStringLiteral("/a.pdf"), ExportFormat::pdf, render.fn()),
                     ExportError);
        EXPECT_FALSE(QFile::exists(locked + QStringLiteral("/a.pdf")));
    }
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString plainFile = dir.filePath(QStringLiteral("file"));
    QFile f(plainFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    try {
        exportAnswer(zakatAnswer(), plainFile + QStringLiteral("/a.pdf"), ExportFormat::pdf, render.fn());
        ADD_FAILURE() << "written";
    } catch (const ExportError& e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
}

TEST_F(AnswerExportTest, exportLastAsksSavesAndShowsOrSaysWhyNot)
{
    QList<QUrl> opened;
    bool openable = true;
    const auto previous = Desktop::setHook([&](const QUrl& url) {
        opened.append(url);
        return openable;
    });
    QStringList revealed;
    bool revealable = true;
    const auto previousReveal = Desktop::setRevealHook([&](const QString& path) {
        revealed.append(path);
        return revealable;
    });
    ScriptedDialogs dialogs;
    FakeRender render;
    EXPECT_FALSE(exportLast({}, ExportFormat::pdf, render.fn()));
    EXPECT_TRUE(dialogs.requests().isEmpty());

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("جواب.html"));
    dialogs.answer(target);
    EXPECT_EQ(exportLast({zakatAnswer()}, ExportFormat::html, render.fn()), target);
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::SaveFile);
    EXPECT_EQ(dialogs.requests()[0].initial, proposedName(zakatAnswer(), ExportFormat::html));
    EXPECT_TRUE(fileBytes(target).startsWith("<!doctype html>"));
    // The written file itself is shown, and nothing else is said.
    EXPECT_EQ(revealed, QStringList{target});
    EXPECT_TRUE(opened.isEmpty());

    // A desktop that cannot show it: the user is told where it went and
    // may open the folder.
    revealable = false;
    dialogs.clear();
    const QString csvTarget = dir.filePath(QStringLiteral("جدول.csv"));
    dialogs.answer(csvTarget);
    dialogs.answer(QStringLiteral("فتح المجلد"));
    EXPECT_EQ(exportLast({zakatAnswer()}, ExportFormat::csv, render.fn()), csvTarget);
    ASSERT_EQ(dialogs.requests().size(), 2);
    EXPECT_EQ(dialogs.requests()[1].kind, Dialogs::Kind::Choice);
    EXPECT_TRUE(dialogs.requests()[1].text.contains(QStringLiteral("جدول.csv"))) << dialogs.requests()[1].text.toStdString();
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(dir.path())});

    // No program opens folders: the user is told where the file is instead.
    openable = false;
    dialogs.clear();
    dialogs.answer(csvTarget);
    dialogs.answer(QStringLiteral("فتح المجلد"));
    EXPECT_EQ(exportLast({zakatAnswer()}, ExportFormat::csv, render.fn()), csvTarget);
    ASSERT_EQ(dialogs.requests().size(), 3);
    EXPECT_EQ(dialogs.requests()[2].kind, Dialogs::Kind::Alert);
    EXPECT_TRUE(dialogs.requests()[2].text.contains(csvTarget)) << dialogs.requests()[2].text.toStdString();
    openable = true;
    revealed.removeLast();

    // A destination that cannot be written: said, and nothing shown.
    dialogs.clear();
    dialogs.answer(dir.filePath(QStringLiteral("no such folder/a.pdf")));
    EXPECT_FALSE(exportLast({zakatAnswer()}, ExportFormat::pdf, render.fn()));
    ASSERT_EQ(dialogs.requests().size(), 2);
    EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("تعذر التصدير"));
    EXPECT_FALSE(dialogs.requests()[1].text.isEmpty());
    EXPECT_EQ(revealed.size(), 2);

    dialogs.clear();
    dialogs.answer(std::nullopt);
    EXPECT_FALSE(exportLast({zakatAnswer()}, ExportFormat::csv, render.fn()));
    EXPECT_EQ(dialogs.requests().size(), 1);
    Desktop::setRevealHook(previousReveal);
    Desktop::setHook(previous);
}
