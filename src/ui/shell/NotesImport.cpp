#include "ui/shell/NotesImport.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/WholeFile.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cerrno>


namespace quorvel::NotesImport {

namespace {

constexpr char kNotesMessage[] = "التعليقات والعلامات";
constexpr char kJSONFilter[] = "JSON (*.json)";
constexpr char kNotNotesFile[] = "الملف ليس نسخة تعليقات من مكتبة قورفل";
constexpr char kCannotImport[] = "تعذر الاستيراد";
constexpr char kNotRegular[] = "«%1» ليس ملفا عاديا بل أنبوب أو جهاز أو مجلد، فلا تُقرأ منه التعليقات.";
constexpr char kTooLarge[] = "«%1» أكبر بكثير من أي نسخة تعليقات من مكتبة قورفل، فلم يُقرأ.";
constexpr char kImportedTitle[] = "تم الاستيراد";
constexpr char kImportedNotes[] = "تعليقات: ";
constexpr char kImportedMarks[] = "علامات: ";
constexpr char kImportedSkipped[] = "مكرر أو غير صالح: ";
constexpr char kStoppedTitle[] = "أوقف الاستيراد";
constexpr char kRunningTitle[] = "استيراد التعليقات جارٍ";
constexpr char kStopButton[] = "إيقاف الاستيراد";
constexpr char kGoOnButton[] = "متابعة";

Read refusal(const char* title, const QString& text)
{
    return {std::nullopt, QString::fromUtf8(title), text};
}

// The stop flag of the import that runs; one at a time.
std::weak_ptr<std::atomic<bool>>& running()
{
    static std::weak_ptr<std::atomic<bool>> flag;
    return flag;
}

// The question asked while the import ran has nothing left to ask.
void closeRunningQuestion()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible() && box->text() == QString::fromUtf8(kRunningTitle))
            box->reject();
}

} // namespace

Read read(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    WholeFile::Read file = WholeFile::read(path, maxBytes);
    switch (file.problem) {
    case WholeFile::Problem::none:
        break;
    case WholeFile::Problem::notRegular:
        return refusal(kCannotImport, QString::fromUtf8(kNotRegular).arg(name));
    case WholeFile::Problem::tooLarge:
        return refusal(kCannotImport, QString::fromUtf8(kTooLarge).arg(name));
    case WholeFile::Problem::cannotOpen:
    case WholeFile::Problem::unreadable:
        return refusal(kCannotImport, qt_error_string(file.error));
    }
    return {std::move(file.bytes), QString(), QString()};
}

Read run(Library& lib, const QString& path, const Library::ImportControl& control)
{
    Read got = read(path);
    if (!got.bytes)
        return got;
    const std::optional<Library::ImportCounts> counts = lib.importUserNotes(*got.bytes, control);
    if (!counts)
        return refusal(kNotNotesFile, QString());
    const QString separator = QString::fromUtf8(CountedNoun::separator);
    QString text = QString::fromUtf8(kImportedNotes) + Arabic::num(counts->notes) + separator +
                   QString::fromUtf8(kImportedMarks) + Arabic::num(counts->marks);
    if (counts->skipped > 0)
        text += separator + QString::fromUtf8(kImportedSkipped) + Arabic::num(counts->skipped);
    return {std::nullopt, QString::fromUtf8(counts->stopped ? kStoppedTitle : kImportedTitle), text};
}

bool start(std::shared_ptr<Library> lib, QWidget* window, const Progress& progress)
{
    // One import at a time: asking again while one runs offers to stop it.
    if (const std::shared_ptr<std::atomic<bool>> stop = running().lock()) {
        const std::optional<int> chosen =
            Dialogs::choose(QString::fromUtf8(kRunningTitle), QString(),
                            {QString::fromUtf8(kStopButton), QString::fromUtf8(kGoOnButton)}, window);
        if (chosen == 0)
            *stop = true;
        return false;
    }
    const std::optional<QString> path =
        Dialogs::openFile(QString::fromUtf8(kNotesMessage), QString::fromUtf8(kJSONFilter), window);
    if (!path || path->isEmpty())
        return false;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    running() = stop;
    // A window that closes stops its import between two entries.
    QObject::connect(window, &QObject::destroyed, [weak = std::weak_ptr(stop)] {
        if (const auto running = weak.lock())
            *running = true;
    });
    QPointer<QWidget> guard(window);
    GuiJob::run(
        window,
        [lib, stop, guard, progress, file = *path] {
            Library::ImportControl control;
            control.stop = stop.get();
            if (progress)
                control.progress = [guard, progress](qint64 done, qint64 total) {
                    GuiJob::post(guard, [progress, done, total](QWidget&) { progress(done, total); });
                };
            return run(*lib, file, control);
        },
        [progress, stop](QWidget& owner, Read outcome) {
            if (running().lock() == stop)
                running().reset();
            closeRunningQuestion();
            if (progress)
                progress(0, 0);
            Dialogs::alert(outcome.title, outcome.text, &owner);
        });
    return true;
}

void stop()
{
    if (const std::shared_ptr<std::atomic<bool>> flag = running().lock())
        *flag = true;
}

} // namespace quorvel::NotesImport
