#include "ui/shell/NotesImport.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>

#include <sys/stat.h>

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

Read refusal(const char* title, const QString& text)
{
    return {std::nullopt, QString::fromUtf8(title), text};
}

} // namespace

Read read(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    // Asked before opening: opening a pipe waits for a writer.
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        QFile missing(path);
        missing.open(QIODevice::ReadOnly);
        return refusal(kCannotImport, missing.errorString());
    }
    if (!S_ISREG(info.st_mode))
        return refusal(kCannotImport, QString::fromUtf8(kNotRegular).arg(name));
    if (info.st_size > maxBytes)
        return refusal(kCannotImport, QString::fromUtf8(kTooLarge).arg(name));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refusal(kCannotImport, file.errorString());
    // One byte past the bound tells a file that grew since it was measured.
    const QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refusal(kCannotImport, file.errorString());
    if (bytes.size() > maxBytes)
        return refusal(kCannotImport, QString::fromUtf8(kTooLarge).arg(name));
    return {bytes, QString(), QString()};
}

void start(std::shared_ptr<Library> lib, QWidget* window)
{
    const std::optional<QString> path =
        Dialogs::openFile(QString::fromUtf8(kNotesMessage), QString::fromUtf8(kJSONFilter), window);
    if (!path || path->isEmpty())
        return;
    GuiJob::run(
        window, [file = *path] { return read(file); },
        [lib](QWidget& owner, Read got) {
            if (!got.bytes) {
                Dialogs::alert(got.title, got.text, &owner);
            } else if (const std::optional<Library::ImportCounts> counts = lib->importUserNotes(*got.bytes); !counts) {
                Dialogs::alert(QString::fromUtf8(kNotNotesFile), QString(), &owner);
            } else {
                const QString separator = QString::fromUtf8(CountedNoun::separator);
                QString text = QString::fromUtf8(kImportedNotes) + Arabic::num(counts->notes) + separator +
                               QString::fromUtf8(kImportedMarks) + Arabic::num(counts->marks);
                if (counts->skipped > 0)
                    text += separator + QString::fromUtf8(kImportedSkipped) + Arabic::num(counts->skipped);
                Dialogs::alert(QString::fromUtf8(kImportedTitle), text, &owner);
            }
        });
}

} // namespace quorvel::NotesImport
