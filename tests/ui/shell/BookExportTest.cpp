#include "ui/WindowTestSupport.h"

#include "core/Library.h"
#include "core/Settings.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "ui/kit/Desktop.h"
#include "ui/kit/Dialogs.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/BookExport.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/NotesImport.h"
#include "ui/shell/ProgressLine.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QMenu>
#include <QRegularExpression>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTest>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// Two pages of a real book (the second with its footnotes, the first with
// runs of blank lines and an empty footnote part), pages labelled in each
// form, and a second book whose names need escaping.
const QString kFirstPage = QStringLiteral(
    "7 وحدثني عن مالك عن عمه أبي سهيل عن أبيه * أن عمر بن الخطاب كتب إلى أبي موسى أن صل الظهر إذا زاغت الشمس");
const QString kSecondPage = QStringLiteral(
    "8 وحدثني عن مالك عن هشام بن عروة عن أبيه * أن عمر بن الخطاب كتب إلى أبي موسى الأشعري أن صل العصر والشمس بيضاء نقية");
const QString kFootnotedBody = QStringLiteral(
    "السيد الأوحد قاضى القضاة أبو الحسن على بن محمد الدامغاني، وابناه القاضيان أبو عبد الله محمد (1) وأبو الحسين أحمد، "
    "بقراءة عبد الوهاب بن المبارك بن أحمد بن الحسن الأنماطي في شعبان سنة أربع وتسعين وأربعمائة \".");
const QString kFootnotes = QStringLiteral(
    "(1) ترجم له السمعاني في الورقة 219 وياقوت في معجم البلدان.\nولى القضاء ببغداد\nمدة.\n(*)");
const QString kVerse = QStringLiteral("وأصبحن لم يبركن في ليلة السرى * من السوق إلا عقبة الدبران");

// The fixed head of every exported page, from the end of the title on.
const QString kStyle = QStringLiteral(
    "</title>\n"
    "<style>body{font-family:\"Amiri\",\"Traditional Arabic\",serif;font-size:18pt;line-height:1.9;max-width:46em;"
    "margin:2em auto;padding:0 1em;color:#151515}\n"
    "h1{text-align:center;color:#8A1414;margin-bottom:.2em}.by{text-align:center;color:#555;margin-top:0}"
    "p{margin:.3em 0;text-align:justify}\n"
    ".fn{font-size:14pt;color:#3c3c3c;border-top:1px solid #bbb;margin-top:.6em;padding-top:.3em}"
    ".pg{text-align:center;color:#888;font-size:11pt;margin:.8em 0 1.6em}</style>\n"
    "</head><body><h1>");

QString sqlText(const QString& text)
{
    QString quoted = text;
    return QLatin1Char('\'') + quoted.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

class BookExportTest : public test::WindowTest {
protected:
    BookExportTest() : WindowTest({Settings::indicDigitsKey}) {}

    void SetUp() override
    {
        WindowTest::SetUp();
        Settings::setIndicDigits(true);
        const QStringList rows{
            QStringLiteral("INSERT INTO authors(id, name) VALUES(19, 'نصر بن مزاحم')"),
            QStringLiteral("INSERT INTO authors(id, name) VALUES(20, 'أبو عبيد & <القاسم>')"),
            QStringLiteral("INSERT INTO books(id, title, author_id, license) VALUES(17, 'وقعة صفين', 19, 'CC BY-NC-SA 4.0')"),
            QStringLiteral("INSERT INTO books(id, title, author_id) VALUES(18, 'كتاب <الأمثال> & \"الحكم\"', 20)"),
            QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(1, 17, '1', 7, 6, %1)")
                .arg(sqlText(kFirstPage + QStringLiteral("\n\n\n") + kSecondPage + QStringLiteral("\n__________\n"))),
            QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(2, 17, '1', 209, 207, %1)")
                .arg(sqlText(kFootnotedBody + QStringLiteral("\n__________\n") + kFootnotes)),
            QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(3, 17, '2', NULL, 300, %1)")
                .arg(sqlText(kVerse)),
            QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(4, 17, '', NULL, 301, NULL)"),
            QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(5, 17, '<b>3</b>', 5, 302, 'x')"),
            QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(10, 18, NULL, 1, 1, %1)")
                .arg(sqlText(QStringLiteral("قال: &lt; 5 > 3 & \"2\""))),
            QStringLiteral("CREATE TABLE page_scan(page_id INTEGER, url TEXT)"),
            QStringLiteral("INSERT INTO page_scan(page_id, url) VALUES(2, 'https://scans.example/17/209.png')"),
        };
        path = test::FixtureLibrary::custom(dir.path(), QStringLiteral("export.db"), rows);
        ASSERT_FALSE(path.isEmpty());
        lib = Library::open(path);
        ASSERT_TRUE(lib);
        previousOpener = Desktop::setHook([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
    }
    void TearDown() override { Desktop::setHook(previousOpener); }

    QTemporaryDir dir;
    QString path;
    std::shared_ptr<Library> lib;
    QList<QUrl> opened;
    std::function<bool(const QUrl&)> previousOpener;
};

} // namespace

TEST_F(BookExportTest, webPageOfARealBookIsExactlyTheDocument)
{
    const QString expected =
        QStringLiteral("<!doctype html><html lang=\"ar\" dir=\"rtl\"><head><meta charset=\"utf-8\"><title>وقعة صفين") +
        kStyle + QStringLiteral("وقعة صفين</h1><p class=\"by\">نصر بن مزاحم</p>\n") +
        // Blank lines make no paragraphs; an empty footnote part no block.
        QStringLiteral("<p>") + kFirstPage + QStringLiteral("</p>\n<p>") + kSecondPage + QStringLiteral("</p>\n") +
        QStringLiteral("<p class=\"pg\">[الجزء: ١ - ص: ٧]</p>\n") +
        QStringLiteral("<p>") + kFootnotedBody + QStringLiteral("</p>\n") +
        QStringLiteral("<div class=\"fn\"><p>(1) ترجم له السمعاني في الورقة 219 وياقوت في معجم البلدان.</p>\n"
                       "<p>ولى القضاء ببغداد</p>\n<p>مدة.</p>\n<p>(*)</p></div>\n") +
        QStringLiteral("<p class=\"pg\">[الجزء: ١ - ص: ٢٠٩]</p>\n") +
        QStringLiteral("<p>") + kVerse + QStringLiteral("</p>\n<p class=\"pg\">[الجزء: ٢ - ص: ٠]</p>\n") +
        QStringLiteral("\n<p class=\"pg\">[ص: ٣٠١]</p>\n") +
        // A volume label from a package is text, not markup.
        QStringLiteral("<p>x</p>\n<p class=\"pg\">[الجزء: &lt;b&gt;٣&lt;/b&gt; - ص: ٥]</p>\n") +
        QStringLiteral("<p class=\"pg\">مصدر النص:  · CC BY-NC-SA 4.0</p></body></html>\n");
    EXPECT_EQ(BookExport::bookHTML(*lib, *lib->book(17)), expected);

    const QString escaped = QStringLiteral("كتاب &lt;الأمثال&gt; &amp; \"الحكم\"");
    EXPECT_EQ(BookExport::bookHTML(*lib, *lib->book(18)),
              QStringLiteral("<!doctype html><html lang=\"ar\" dir=\"rtl\"><head><meta charset=\"utf-8\"><title>") +
                  escaped + kStyle + escaped + QStringLiteral("</h1><p class=\"by\">أبو عبيد &amp; &lt;القاسم&gt;</p>\n") +
                  QStringLiteral("<p>قال: &amp;lt; 5 &gt; 3 &amp; \"2\"</p>\n<p class=\"pg\">[ص: ١]</p>\n") +
                  QStringLiteral("<p class=\"pg\">مصدر النص: </p></body></html>\n"));

    Settings::setIndicDigits(false);
    EXPECT_EQ(BookExport::pageLabel({.vol = QStringLiteral("2"), .seq = 40}), QStringLiteral("[الجزء: 2 - ص: 0]"));
    EXPECT_EQ(BookExport::pageLabel({.vol = QString(), .seq = 40}), QStringLiteral("[ص: 40]"));
    EXPECT_EQ(BookExport::pageLabel({.num = 12, .seq = 40}), QStringLiteral("[ص: 12]"));
    EXPECT_EQ(BookExport::pageLabel({}), QStringLiteral("[ص: 0]"));
}

TEST_F(BookExportTest, webPageExportWritesUTF8AndSaysWhenItCannot)
{
    ScriptedDialogs dialogs;
    MainWindowController w(lib);
    w.exportHTML();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("افتح كتاباً أولاً"));

    w.openBook(17, 6);
    const QString target = dir.filePath(QStringLiteral("صفين.html"));
    dialogs.clear();
    dialogs.answer(target);
    w.exportHTML();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].kind, Dialogs::Kind::SaveFile);
    EXPECT_EQ(dialogs.requests()[0].initial, QStringLiteral("وقعة صفين.html"));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), BookExport::bookHTML(*lib, *lib->book(17)).toUtf8());
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(dir.path())});

    dialogs.clear();
    dialogs.answer(dir.filePath(QStringLiteral("no such folder/صفين.html")));
    w.exportHTML();
    ASSERT_EQ(dialogs.requests().size(), 2);
    EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("تعذر الحفظ"));
    EXPECT_FALSE(dialogs.requests()[1].text.isEmpty());
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(BookExportTest, pdfOfAPageHoldsItsWordsAndAFailedOneIsSaidAndNotShown)
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    ScriptedDialogs dialogs;
    MainWindowController w(lib);
    w.exportPDF(true);
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].title, QStringLiteral("افتح كتاباً أولاً"));

    w.openBook(17, 207);
    const QString target = dir.filePath(QStringLiteral("page.pdf"));
    dialogs.clear();
    dialogs.answer(target);
    w.exportPDF(true);
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].initial,
              QStringLiteral("وقعة صفين - ") + w.activeReader()->pageRef() + QStringLiteral(".pdf"));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5).startsWith("%PDF"));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(dir.path())});

    QProcess text;
    text.start(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), target, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(60000));
    ASSERT_EQ(text.exitCode(), 0) << text.readAllStandardError().toStdString();
    // The letters as written, searchable and copyable: no shaped forms.
    // pdftotext sets digits apart with direction marks; the words are read without them.
    const QString extracted = QString::fromUtf8(text.readAllStandardOutput())
                                  .remove(QRegularExpression(QStringLiteral("[\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]")));
    for (const char* words : {"وقعة صفين", "أبو الحسن على بن محمد الدامغاني", "الأنماطي", "السمعاني", "معجم البلدان", "―――――",
                              "٢١٩"})
        EXPECT_TRUE(extracted.contains(QString::fromUtf8(words))) << words << "\n" << extracted.toStdString();
    EXPECT_FALSE(extracted.contains(QRegularExpression(QStringLiteral("[\\x{FB50}-\\x{FEFF}]"))));
    // The digits as the screen shows them.
    EXPECT_FALSE(extracted.contains(QStringLiteral("219")));
    // Only the current page: the first page's words are not in it.
    EXPECT_FALSE(extracted.contains(QStringLiteral("زاغت")));

    // The printed page, kept beside the test binary for a person to look at.
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (!pdftoppm.isEmpty()) {
        const QString picture = QCoreApplication::applicationDirPath() + QStringLiteral("/book-export-page");
        QProcess render;
        render.start(pdftoppm, {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("72"),
                                QStringLiteral("-singlefile"), target, picture});
        ASSERT_TRUE(render.waitForFinished(60000));
        const QImage page(picture + QStringLiteral(".png"));
        // A4 at 72 dots per inch is the page in points.
        EXPECT_EQ(page.size(), QSize(595, 842));
        EXPECT_GT(test::colourCount(page), 8);
    }

    dialogs.clear();
    dialogs.answer(dir.filePath(QStringLiteral("no such folder/page.pdf")));
    w.exportPDF(false);
    ASSERT_EQ(dialogs.requests().size(), 2);
    EXPECT_EQ(dialogs.requests()[0].initial, QStringLiteral("وقعة صفين.pdf"));
    EXPECT_EQ(dialogs.requests()[1].title, QStringLiteral("تعذر الحفظ"));
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(BookExportTest, pdfTextIsStyledForPrint)
{
    const QList<Page> rows = lib->bookPages(17);
    ASSERT_EQ(rows.size(), 5);
    const auto document = BookExport::pdfDocument(*lib->book(17), lib->authorName(*lib->book(17)), rows, BookExport::pointsPerInch);
    const QStringList blocks = document->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(blocks.size(), 4);
    EXPECT_EQ(blocks[0], QStringLiteral("وقعة صفين"));
    EXPECT_EQ(blocks[1], QStringLiteral("نصر بن مزاحم"));
    const QString text = document->toPlainText();
    // One bar line: the page whose footnote part is empty has none.
    EXPECT_EQ(text.count(QStringLiteral("―――――")), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("[الجزء: ٢ - ص: ٠]")));

    QTextBlock title = document->firstBlock();
    EXPECT_EQ(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(title.blockFormat().bottomMargin(), 12);
    EXPECT_TRUE(title.begin().fragment().charFormat().font().bold());
    QTextBlock body = title.next().next().next();
    // Its digits as the screen shows them.
    EXPECT_EQ(body.text(), QString(kFirstPage).replace(u'7', QStringLiteral("٧")));
    EXPECT_EQ(body.blockFormat().layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(body.blockFormat().alignment(), Qt::AlignRight | Qt::AlignAbsolute);
    EXPECT_EQ(body.blockFormat().lineHeight(), 6);
    EXPECT_EQ(body.begin().fragment().charFormat().font().pointSizeF(), 15);
}

TEST_F(BookExportTest, notesExchangeCountsWhatItAddsAndSkips)
{
    ScriptedDialogs dialogs;
    lib->saveNote(17, 207, QStringLiteral("ترجمة الدامغاني"));
    lib->toggleBookmark(17, 6);
    MainWindowController w(lib);
    const QString target = dir.filePath(QStringLiteral("notes.json"));
    dialogs.answer(target);
    w.exportNotes();
    ASSERT_EQ(dialogs.requests().size(), 1);
    EXPECT_EQ(dialogs.requests()[0].initial, QStringLiteral("تعليقات مكتبة قورفل.json"));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), *lib->exportUserNotes());
    EXPECT_EQ(opened.size(), 1);

    // Into another user's library: the first import adds; the second adds
    // nothing and counts the note it already has (a bookmark already set is
    // not counted).
    QTemporaryDir other;
    std::shared_ptr<Library> second;
    {
        test::ScopedEnv userdb("QUORVEL_USERDB", other.filePath(QStringLiteral("user.db")));
        second = Library::open(path);
    }
    ASSERT_TRUE(second);
    MainWindowController reader(second);
    // The file is read off the GUI thread: each import ends with its alert.
    const auto imported = [&](const QString& file) {
        const qsizetype before = dialogs.requestsOf(Dialogs::Kind::Alert).size();
        dialogs.answer(file);
        reader.importNotes();
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs.requestsOf(Dialogs::Kind::Alert).size() > before; }, 10000));
    };
    dialogs.clear();
    imported(target);
    imported(target);
    const QList<Dialogs::Request> alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[0].title, QStringLiteral("تم الاستيراد"));
    EXPECT_EQ(alerts[0].text, QStringLiteral("تعليقات: ١ – علامات: ١"));
    EXPECT_EQ(alerts[1].text, QStringLiteral("تعليقات: ٠ – علامات: ٠ – مكرر أو غير صالح: ١"));
    EXPECT_EQ(second->notes(std::nullopt).size(), 1);

    // A file that is no exchange file is refused and adds nothing.
    QFile html(dir.filePath(QStringLiteral("other.json")));
    ASSERT_TRUE(html.open(QIODevice::WriteOnly));
    html.write("{\"tabs\":[]}");
    html.close();
    dialogs.clear();
    imported(html.fileName());
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[0].title, QStringLiteral("الملف ليس نسخة تعليقات من مكتبة قورفل"));

    // A file that cannot be written is said so, and not shown.
    dialogs.clear();
    dialogs.answer(dir.filePath(QStringLiteral("no such folder/notes.json")));
    w.exportNotes();
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[0].title, QStringLiteral("تعذر الحفظ"));
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(BookExportTest, notesImportRefusesWhatIsNoBoundedRegularFileAndSaysWhy)
{
    ScriptedDialogs dialogs;
    MainWindowController w(lib);
    const qsizetype notesBefore = lib->notes(std::nullopt).size();
    // A sparse file past the bound, a device that never ends, a pipe no one
    // writes to: each refused with a message, none read, nothing added.
    const QString huge = dir.filePath(QStringLiteral("huge.json"));
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(NotesImport::maxBytes + 1));
    }
    const QString pipe = dir.filePath(QStringLiteral("pipe.json"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const struct {
        QString path;
        const char16_t* why;
    } cases[] = {
        {huge, u"أكبر بكثير من أي نسخة تعليقات"},
        {QStringLiteral("/dev/zero"), u"ليس ملفا عاديا"},
        {pipe, u"ليس ملفا عاديا"},
        // The system's reason, in Arabic.
        {dir.filePath(QStringLiteral("gone.json")), u"«gone.json»: الملف غير موجود"},
    };
    for (const auto& c : cases) {
        dialogs.clear();
        dialogs.answer(c.path);
        // Chosen from the notes menu, as the reader does.
        std::unique_ptr<QMenu> menu(w.notesMenu());
        ASSERT_EQ(menu->actions().last()->text(), QStringLiteral("استيراد تعليقات وعلامات…"));
        menu->actions().last()->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty(); }, 10000))
            << c.path.toStdString();
        const Dialogs::Request alert = dialogs.requestsOf(Dialogs::Kind::Alert).first();
        EXPECT_EQ(alert.title, QStringLiteral("تعذر الاستيراد"));
        EXPECT_TRUE(alert.text.contains(QString::fromUtf16(c.why))) << alert.text.toStdString();
    }
    EXPECT_EQ(lib->notes(std::nullopt).size(), notesBefore);

    // A file larger than the old bound, as the export of many notes writes,
    // is read; a copy cut short says so, and where.
    const QString large = dir.filePath(QStringLiteral("large.json"));
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(33) << 20));
    }
    EXPECT_TRUE(NotesImport::read(large).bytes);
    const QString cut = dir.filePath(QStringLiteral("cut.json"));
    {
        QFile file(cut);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{\n \"format\": \"quorvel-notes\",\n \"notes\": [\n  {\"book_id\": 17, \"seq\": 6, \"text\": \"a\"},\n  {\"book_id\": 17");
    }
    const NotesImport::Read said = NotesImport::run(*lib, cut, {});
    EXPECT_EQ(said.title, QStringLiteral("نسخة التعليقات مقطوعة"));
    EXPECT_EQ(said.text, QStringLiteral("ينتهي الملف عند السطر ٥ قبل أن تكتمل النسخة، وقد اكتمل قبله منها عنصر واحد؛ فلم يُستورد منه شيء."));
    EXPECT_EQ(lib->notes(std::nullopt).size(), notesBefore);
}

// A large import runs off the GUI thread with its progress on a line under
// the top bar, which has its own stop; asked for again meanwhile, the command
// offers to stop it too. Stopped either way, the import writes nothing, says
// so, and closes what it opened: the line and the question.
TEST_F(BookExportTest, aLongNotesImportShowsItsProgressAndStopsWhenAsked)
{
    const int count = 20'000;
    QByteArray notes = "[";
    for (int i = 0; i < count; ++i)
        notes += (i ? "," : "") + QStringLiteral(R"({"book_id":17,"seq":6,"text":"تعليق رقم %1 على الصفحة"})")
                                      .arg(i)
                                      .toUtf8();
    notes += "]";
    const QString file = dir.filePath(QStringLiteral("many.json"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"format":"quorvel-notes","version":1,"bookmarks":[],"notes":)" + notes + "}");
    }
    ScriptedDialogs dialogs;
    MainWindowController w(lib);
    w.resize(1200, 700);
    w.show();
    ProgressLine* line = w.importProgress();
    const QString placeholder = w.searchField()->placeholderText();
    const qsizetype notesBefore = lib->notes(std::nullopt).size();
    for (const bool byButton : {false, true}) {
        dialogs.clear();
        dialogs.answer(file);
        w.importNotes();
        ASSERT_TRUE(line->isVisible()) << byButton;
        EXPECT_TRUE(line->label()->text().startsWith(QStringLiteral("استيراد التعليقات: "))) << line->label()->text().toStdString();
        EXPECT_EQ(w.searchField()->placeholderText(), placeholder);
        std::unique_ptr<QMessageBox> question;
        if (byButton) {
            line->stopButton()->click();
            // Until the import has stopped, the line stays.
            const QString name = QCoreApplication::applicationDirPath() + QStringLiteral("/notes-import-progress.png");
            EXPECT_TRUE(w.grab().save(name));
        } else {
            // The question as a reader who has not answered it yet sees it.
            question.reset(Dialogs::messageBox(QStringLiteral("استيراد التعليقات جارٍ"), QString(),
                                               {QStringLiteral("إيقاف الاستيراد"), QStringLiteral("متابعة")}, &w));
            question->show();
            dialogs.answer(QStringLiteral("إيقاف الاستيراد"));
            w.importNotes();
            ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Choice).size(), 1);
            EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Choice)[0].title, QStringLiteral("استيراد التعليقات جارٍ"));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty(); }, 20000));
        EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[0].title, QStringLiteral("أوقف الاستيراد"));
        EXPECT_FALSE(line->isVisible());
        if (question) {
            EXPECT_FALSE(question->isVisible());
        }
    }
    EXPECT_EQ(lib->notes(std::nullopt).size(), notesBefore);
}

// The import's closing message never covers a note the reader is writing:
// it waits while the editor is open and comes once it is closed.
TEST_F(BookExportTest, theNotesImportsClosingMessageWaitsForAnOpenNoteEditor)
{
    const QString file = dir.filePath(QStringLiteral("one.json"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"format":"quorvel-notes","version":1,"bookmarks":[],"notes":[)"
                R"({"book_id":17,"seq":207,"text":"تعليق جاء من نسخة أخرى"}]})");
    }
    ScriptedDialogs dialogs;
    MainWindowController w(lib);
    w.resize(1200, 700);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // The note editor, as the reader's note command opens it: over every window.
    QDialog editor;
    editor.setWindowModality(Qt::ApplicationModal);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));

    dialogs.answer(file);
    w.importNotes();
    ProgressLine* line = w.importProgress();
    ASSERT_TRUE(line->isVisible());
    // Over once its line has gone and the note is in; the message has not come.
    ASSERT_EVENTUALLY(!line->isVisible(), 20000);
    EXPECT_TRUE(lib->note(17, 207).has_value());
    EXPECT_TRUE(dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty());

    editor.reject();
    ASSERT_EVENTUALLY(!dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty(), 5000);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[0].title, QStringLiteral("تم الاستيراد"));
}

TEST_F(BookExportTest, pageScanOpensAPathOrAnAddress)
{
    ScriptedDialogs dialogs;
    MainWindowController w(lib);
    w.showScan();
    w.openBook(17, 6);
    w.showScan();
    const QList<Dialogs::Request> alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[0].title, QStringLiteral("افتح كتاباً أولاً"));
    EXPECT_EQ(alerts[1].title, QStringLiteral("لا توجد صورة للأصل"));
    EXPECT_EQ(alerts[1].text, QStringLiteral("هذه الصفحة نصّ رقمي بلا صورة طبعة مرفقة. تُرفق الصور للكتب المستوردة بالتعرّف الضوئي."));
    EXPECT_TRUE(opened.isEmpty());

    w.openBook(17, 207);
    w.showScan();
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 2);
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://scans.example/17/209.png"))});

    // A library without the scans table has no scan for any page.
    test::FixtureLib plain;
    ASSERT_TRUE(plain.lib);
    MainWindowController other(plain.lib);
    other.openBook(1, 1);
    other.showScan();
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 3);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[2].title, QStringLiteral("لا توجد صورة للأصل"));

    EXPECT_EQ(MainWindowController::scanUrl(QStringLiteral("/srv/scans/17/209.png")),
              QUrl::fromLocalFile(QStringLiteral("/srv/scans/17/209.png")));
    EXPECT_EQ(MainWindowController::scanUrl(QStringLiteral("https://scans.example/17/209.png")),
              QUrl(QStringLiteral("https://scans.example/17/209.png")));
    EXPECT_EQ(MainWindowController::scanUrl(QStringLiteral("scans/صفحة 209.png")),
              QUrl::fromLocalFile(QStringLiteral("scans/صفحة 209.png")));
}
