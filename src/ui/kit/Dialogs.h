#pragma once

// The standard dialogs: a message, a line or block of text to type, a file to
// open or save. Every dialog of the application goes through here, so that a
// responder can answer in place of the user: tests install a ScriptedDialogs,
// which records each request and hands back scripted answers, and no modal
// dialog ever opens under it.

#include <QColor>
#include <QPixmap>
#include <QList>
#include <QStringList>
#include <QString>

#include <functional>
#include <optional>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace quorvel {

namespace Dialogs {

enum class Kind { Alert, Prompt, OpenFile, SaveFile, Color, Choice, OpenFolder, Fields };

struct Request {
    Kind kind = Kind::Alert;
    QString title;    // the message text (or the panel's message)
    QString text;     // the informative text (alerts, prompts)
    QString initial;  // the editor's text (prompts) or the suggested name (save)
    QString ok;       // the accepting button (prompts)
    QString filter;   // the file filter (panels)
    bool multiline = false;
    bool hasWindow = false; // shown on a window rather than application-modal
    QStringList buttons;    // the buttons of a choice, the default first; the labels of fields
};

// Answers a request in place of the user: the accepted text or path, or
// nothing for a cancel. The answer to an alert is ignored.
using Responder = std::function<std::optional<QString>(const Request&)>;

// Installs a responder (an empty one restores the real dialogs); returns the
// previous one.
Responder setResponder(Responder responder);

inline constexpr const char* okTitle = "حسناً";
inline constexpr const char* cancelTitle = "إلغاء";
inline constexpr const char* saveTitle = "حفظ";
// The title of every alert that says something could not be saved.
inline constexpr const char* saveFailedTitle = "تعذر الحفظ";

// A message with one button. On a window it is window-modal and the call
// returns at once; without one it is application-modal and returns when the
// button is pressed. An empty text shows no informative line.
void alert(const QString& title, const QString& text, QWidget* window = nullptr);
// The same message with an image beside it (the application's icon, say).
void alert(const QString& title, const QString& text, QWidget* window, const QPixmap& icon);

// The message box alert() and choose() show, built but neither shown nor
// run: the title, the informative text (none when empty), an image beside
// them when one is given, and the buttons with the first the default ("حسناً"
// alone when none are given). The caller owns it; pictures of the messages
// are taken from it.
QMessageBox* messageBox(const QString& title, const QString& text, const QStringList& buttons = {},
                        QWidget* window = nullptr, const QPixmap& icon = QPixmap());

// Asks for a line (or a block, when multiline) of text. Returns the text
// exactly as typed when the first button ends the dialog, nothing otherwise.
std::optional<QString> prompt(const QString& title, const QString& info, const QString& initial,
                              const QString& ok = QString::fromUtf8(saveTitle), bool multiline = false);

// A file chooser for an existing file; the chosen path or nothing.
std::optional<QString> openFile(const QString& message, const QString& filter = {}, QWidget* window = nullptr);

// A folder chooser; the chosen folder or nothing.
std::optional<QString> openFolder(const QString& message, QWidget* window = nullptr);

// The chooser saveFile() shows, built but not run: the desktop's own where it
// offers one, else Qt's, in Arabic throughout (labels, buttons, the type of a
// folder) with buttons wide enough for their titles. The caller owns it.
QFileDialog* saveDialog(const QString& message, const QString& suggestedName, const QString& filter = {},
                        QWidget* window = nullptr);
// A file chooser for a file to write; the chosen path or nothing.
std::optional<QString> saveFile(const QString& message, const QString& suggestedName, const QString& filter = {},
                                QWidget* window = nullptr);

// A message with several buttons, the first the default, shown modally
// (application-modal without a window). Returns the index of the button
// pressed; nothing when the dialog is dismissed otherwise. A responder answers
// with the button's title.
std::optional<int> choose(const QString& title, const QString& text, const QStringList& buttons,
                          QWidget* window = nullptr);

// One short text field of fields(): the label before it, its text, its
// placeholder and its width.
struct Field {
    QString label;
    QString initial;
    QString placeholder;
    int width = 90;
};

// A message with a row of short text fields (the first one focused) and an
// optional text after the last, and the buttons `ok` and "إلغاء". Returns
// the fields' texts as typed for `ok`, nothing otherwise. The request's
// initial text is the fields' texts joined by line feeds; a responder
// answers the same way.
std::optional<QStringList> fields(const QString& title, const QString& text, const QList<Field>& fields,
                                  const QString& trailing, const QString& ok, QWidget* window = nullptr);

// A colour chooser opened on `initial`; the chosen colour or nothing. A
// responder answers with a colour name ("#rrggbb").
std::optional<QColor> chooseColor(const QString& title, const QColor& initial, QWidget* window = nullptr);

} // namespace Dialogs

// Answers dialogs from a script while it lives, recording every request.
// Answers are used in order; once they run out every dialog is cancelled.
class ScriptedDialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs();
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    // Queues the answer to the next prompt or panel (alerts take none).
    void answer(std::optional<QString> reply);
    // Queues the texts of the next fields request.
    void answerFields(const QStringList& texts);

    const QList<Dialogs::Request>& requests() const { return requests_; }
    QList<Dialogs::Request> requestsOf(Dialogs::Kind kind) const;
    void clear() { requests_.clear(); }

private:
    QList<Dialogs::Request> requests_;
    QList<std::optional<QString>> answers_;
    Dialogs::Responder previous_;
};

} // namespace quorvel
