#include "ui/shell/NotesImport.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/DistFetch.h"
#include "core/Library.h"
#include "core/NotesFileReader.h"
#include "core/WholeFile.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/WriteFailure.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <functional>


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
constexpr char kImportedAside[] = "على كتب غير مثبتة أو صفحات بعد آخرها (حُفظت جانبا): ";
constexpr char kCutTitle[] = "نسخة التعليقات مقطوعة";
constexpr char kCutText[] = "ينتهي الملف عند السطر %1 قبل أن تكتمل النسخة، وقد اكتمل قبله منها %2؛ فلم يُستورد منه شيء.";
constexpr char kBrokenText[] = "يفسد نصه عند السطر %1.";
constexpr char kWriteFailedText[] = "توقف الاستيراد عند أول ما تعذر حفظه: %1";
constexpr char kSavedBefore[] = "حُفظ قبل ذلك: ";
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

// Runs its task once the dialog it watches is hidden or gone.
class AfterDialog : public QObject {
public:
    AfterDialog(QWidget* dialog, QObject* context, std::function<void()> task)
        : QObject(context), task_(std::move(task))
    {
        dialog->installEventFilter(this);
        connect(dialog, &QObject::destroyed, this, &AfterDialog::fire);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide)
            fire();
        return false;
    }

private:
    void fire()
    {
        if (!task_)
            return;
        // Queued, so that the dialog has finished closing, and another that
        // replaced it (a second editor) is seen by the next look.
        QTimer::singleShot(0, parent(), std::move(task_));
        task_ = nullptr;
        deleteLater();
    }

    std::function<void()> task_;
};

// Says how the import went over `owner`, but never over a dialog the reader
// has open (a note being written): the message waits until it is closed.
void tell(QWidget& owner, const Read& outcome)
{
    if (QWidget* open = QApplication::activeModalWidget(); open && open != &owner) {
        new AfterDialog(open, &owner, [guard = QPointer<QWidget>(&owner), outcome] {
            if (guard)
                tell(*guard, outcome);
        });
        return;
    }
    Dialogs::alert(outcome.title, outcome.text, &owner);
}

} // namespace

namespace {

// Why the file at `path`, as opened, is not read; nothing when it may be.
std::optional<Read> unfit(const QString& name, WholeFile::Problem problem, int error)
{
    switch (problem) {
    case WholeFile::Problem::none:
        return std::nullopt;
    case WholeFile::Problem::notRegular:
        return refusal(kCannotImport, QString::fromUtf8(kNotRegular).arg(name));
    case WholeFile::Problem::tooLarge:
        return refusal(kCannotImport, QString::fromUtf8(kTooLarge).arg(name));
    case WholeFile::Problem::cannotOpen:
    case WholeFile::Problem::unreadable:
        break;
    }
    return refusal(kCannotImport, QStringLiteral("«%1»: ").arg(name) + Dist::fileErrorReason(error));
}

} // namespace

Read read(const QString& path)
{
    WholeFile::Read file = WholeFile::read(path, maxBytes);
    if (std::optional<Read> refused = unfit(QFileInfo(path).fileName(), file.problem, file.error))
        return *refused;
    return {std::move(file.bytes), QString(), QString()};
}

namespace {

Read refused(const Library::ImportRefusal& why)
{
    if (why.cut)
        return refusal(kCutTitle, QString::fromUtf8(kCutText)
                                      .arg(Arabic::num(why.line), CountedNoun::items().count(why.entries)));
    if (why.line > 0)
        return refusal(kNotNotesFile, QString::fromUtf8(kBrokenText).arg(Arabic::num(why.line)));
    return refusal(kNotNotesFile, QString());
}

} // namespace

Read run(Library& lib, const QString& path, const Library::ImportControl& control)
{
    const QString name = QFileInfo(path).fileName();
    WholeFile::Opened file(path);
    if (std::optional<Read> refused = unfit(name, file.problem(), file.error()))
        return *refused;
    if (file.size() > maxBytes)
        return *unfit(name, WholeFile::Problem::tooLarge, 0);
    Library::ImportRefusal why;
    Library::ImportControl told = control;
    told.refusal = &why;
    // Read as a stream, never whole.
    NotesFileReader::FileSource source(file.fd(), file.size());
    const std::optional<Library::ImportCounts> counts = lib.importUserNotes(source, told);
    if (!counts && why.readError != 0)
        return *unfit(name, WholeFile::Problem::unreadable, why.readError);
    if (!counts)
        return refused(why);
    const QString separator = QString::fromUtf8(CountedNoun::separator);
    QString text = QString::fromUtf8(kImportedNotes) + Arabic::num(counts->notes) + separator +
                   QString::fromUtf8(kImportedMarks) + Arabic::num(counts->marks);
    if (counts->aside > 0)
        text += separator + QString::fromUtf8(kImportedAside) + Arabic::num(counts->aside);
    if (counts->skipped > 0)
        text += separator + QString::fromUtf8(kImportedSkipped) + Arabic::num(counts->skipped);
    if (counts->failure)
        return {std::nullopt, QString::fromUtf8(Dialogs::saveFailedTitle),
                QString::fromUtf8(kWriteFailedText).arg(WriteFailure::reason(*counts->failure)) + u'\n'
                    + QString::fromUtf8(kSavedBefore) + text};
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
            tell(owner, outcome);
        });
    return true;
}

void stop()
{
    if (const std::shared_ptr<std::atomic<bool>> flag = running().lock())
        *flag = true;
}

} // namespace quorvel::NotesImport
