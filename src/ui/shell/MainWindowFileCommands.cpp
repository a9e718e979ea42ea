// The main window's file commands: the notes and bookmarks written to or
// merged from an exchange file, the printed page's scan, and the active
// book's PDF and web-page exports.

#include "ui/shell/MainWindowController.h"

#include "core/Arabic.h"
#include "core/AtomicFile.h"
#include "core/Library.h"
#include "ui/kit/Desktop.h"
#include "ui/kit/Dialogs.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/BookExport.h"
#include "ui/shell/NotesImport.h"
#include "ui/shell/ProgressLine.h"

#include <QPointer>
#include <QUrl>

namespace quorvel {

namespace {

constexpr char kImportingNotes[] = "استيراد التعليقات: ";
constexpr char kReadingNotes[] = "استيراد التعليقات: قراءة الملف…";
constexpr char kOpenBookFirst[] = "افتح كتاباً أولاً";

// A book title as a file name: a slash would name a folder.
QString fileNameOf(const QString& title)
{
    QString name = title;
    return name.replace(QLatin1Char('/'), QLatin1Char('-'));
}

} // namespace

void MainWindowController::exportNotes()
{
    constexpr char kNotesFileName[] = "تعليقات مكتبة قورفل.json";
    constexpr char kNotesMessage[] = "التعليقات والعلامات";
    constexpr char kJSONFilter[] = "JSON (*.json)";
    const std::optional<QByteArray> bytes = lib_->exportUserNotes();
    if (!bytes)
        return;
    const std::optional<QString> path = Dialogs::saveFile(
        QString::fromUtf8(kNotesMessage), QString::fromUtf8(kNotesFileName), QString::fromUtf8(kJSONFilter), this);
    if (!path || path->isEmpty())
        return;
    if (const std::optional<QString> failed = AtomicFile::replace(*path, *bytes)) {
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), *failed, this);
        return;
    }
    Desktop::showWritten(*path, this);
}

void MainWindowController::importNotes()
{
    // A long merge shows its progress, with its own stop, under the top bar.
    QPointer<MainWindowController> self(this);
    importLine_->onStop = [] { NotesImport::stop(); };
    const bool started = NotesImport::start(lib_, this, [self](qint64 done, qint64 total) {
        if (!self)
            return;
        if (total == 0)
            self->importLine_->finish();
        else
            self->importLine_->report(QString::fromUtf8(kImportingNotes), done, total);
    });
    // The line shows from the start, before the file is read and counted.
    if (started)
        importLine_->report(QString::fromUtf8(kReadingNotes), 0, 0);
}

void MainWindowController::showScan()
{
    constexpr char kNoScanTitle[] = "لا توجد صورة للأصل";
    constexpr char kNoScanText[] = "هذه الصفحة نصّ رقمي بلا صورة طبعة مرفقة. تُرفق الصور للكتب المستوردة بالتعرّف الضوئي.";
    ReaderView* reader = activeReader();
    if (!reader || !reader->page()) {
        Dialogs::alert(QString::fromUtf8(kOpenBookFirst), QString(), this);
        return;
    }
    const std::optional<QString> scan = lib_->scanURL(reader->page()->id);
    if (!scan) {
        Dialogs::alert(QString::fromUtf8(kNoScanTitle), QString::fromUtf8(kNoScanText), this);
        return;
    }
    Desktop::open(scanUrl(*scan));
}

QUrl MainWindowController::scanUrl(const QString& scan)
{
    if (scan.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(scan);
    const QUrl url(scan, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        return url;
    return QUrl::fromLocalFile(scan);
}

void MainWindowController::exportPDF(bool pageOnly)
{
    constexpr char kPDFFilter[] = "PDF (*.pdf)";
    constexpr char kPDFMessage[] = "تصدير الكتاب إلى PDF";
    ReaderView* reader = activeReader();
    if (!reader) {
        Dialogs::alert(QString::fromUtf8(kOpenBookFirst), QString(), this);
        return;
    }
    const Book book = reader->book();
    const QString name = fileNameOf(pageOnly ? book.title + QStringLiteral(" - ") + reader->pageRef() : book.title) +
                         QStringLiteral(".pdf");
    const std::optional<QString> path =
        Dialogs::saveFile(QString::fromUtf8(kPDFMessage), name, QString::fromUtf8(kPDFFilter), this);
    if (!path || path->isEmpty())
        return;
    // The page shown is the one exported: the reader already holds it.
    QList<Page> pages;
    if (!pageOnly)
        pages = lib_->bookPages(book.id);
    else if (reader->page())
        pages = {*reader->page()};
    QString error;
    // Only a file that was written is shown.
    if (!BookExport::writePDF(book, lib_->authorName(book), pages, *path, &error)) {
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), error, this);
        return;
    }
    Desktop::showWritten(*path, this);
}

void MainWindowController::exportHTML()
{
    constexpr char kHTMLFilter[] = "HTML (*.html *.htm)";
    constexpr char kHTMLMessage[] = "تصدير الكتاب صفحة ويب تفتح في Word";
    ReaderView* reader = activeReader();
    if (!reader) {
        Dialogs::alert(QString::fromUtf8(kOpenBookFirst), QString(), this);
        return;
    }
    const Book book = reader->book();
    const std::optional<QString> path = Dialogs::saveFile(QString::fromUtf8(kHTMLMessage), fileNameOf(book.title) + QStringLiteral(".html"),
                                                          QString::fromUtf8(kHTMLFilter), this);
    if (!path || path->isEmpty())
        return;
    const QByteArray bytes = BookExport::bookHTML(*lib_, book).toUtf8();
    if (const std::optional<QString> failed = AtomicFile::replace(*path, bytes)) {
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), *failed, this);
        return;
    }
    Desktop::showWritten(*path, this);
}

} // namespace quorvel
