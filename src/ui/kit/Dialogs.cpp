#include "ui/kit/Dialogs.h"

#include "core/Theme.h"
#include "ui/kit/WindowPlacement.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace quorvel {

namespace Dialogs {

namespace {

constexpr QSize kLineEditorSize(320, 24);
constexpr QSize kBlockEditorSize(380, 150);
constexpr double kEditorFontSize = 14;
constexpr int kFieldSpacing = 8;
// The widest informative line a message box keeps whole; longer text wraps.
constexpr int kUnwrappedLine = 420;

constexpr char kLookInLabel[] = "المجلد:";
constexpr char kFileNameLabel[] = "اسم الملف:";
constexpr char kFileTypeLabel[] = "نوع الملف:";
constexpr char kFolderType[] = "مجلد";

// Qt's catalogue leaves its own chooser calling a folder's type "Folder".
class ArabicFileTypes : public QFileIconProvider {
public:
    QString type(const QFileInfo& info) const override
    {
        return info.isDir() ? QString::fromUtf8(kFolderType) : QFileIconProvider::type(info);
    }
};

Responder& responder()
{
    static Responder current;
    return current;
}

// Without a display nobody could answer a modal dialog, so it is cancelled
// and reported instead of blocking for ever.
bool cannotShow(const Request& request)
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        return false;
    std::fprintf(stderr, "dialog not shown without a display: %s %s\n", qPrintable(request.title),
                 qPrintable(request.text));
    return true;
}

// The accept (default) and cancel buttons at the foot of an asking dialog.
void addAcceptCancel(QBoxLayout& layout, QDialog& dialog, const QString& ok)
{
    auto* buttons = new QDialogButtonBox;
    QPushButton* accept = buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromUtf8(cancelTitle), QDialogButtonBox::RejectRole);
    accept->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout.addWidget(buttons);
}

// The scripted answer, or the cancellation of a dialog that cannot be shown;
// nothing when the real dialog is to be shown.
// A dialog's column: its bold title, then the explanation when there is one.
QVBoxLayout* headedLayout(QDialog& dialog, const QString& title, const QString& info)
{
    keepOnScreen(&dialog);
    auto* layout = new QVBoxLayout(&dialog);
    auto* heading = new QLabel(title);
    heading->setFont(Theme::ui(13, QFont::Bold));
    heading->setWordWrap(true);
    layout->addWidget(heading);
    if (!info.isEmpty()) {
        auto* infoLabel = new QLabel(info);
        infoLabel->setFont(Theme::ui(12));
        infoLabel->setWordWrap(true);
        layout->addWidget(infoLabel);
    }
    return layout;
}

// A small box is as wide as its title bar's text, which the box sizes itself
// for only when it carries one, and as its longest informative line up to a
// reading measure, so that a count or a version is neither cut nor wrapped.
void fitToText(QMessageBox& box, const QString& text)
{
    if (box.windowTitle().isEmpty())
        box.setWindowTitle(QGuiApplication::applicationDisplayName());
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    const QLabel* info = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    const int at = grid && info ? grid->indexOf(info) : -1;
    if (at < 0)
        return;
    int longest = 0;
    for (const QString& line : text.split(u'\n'))
        longest = std::max(longest, info->fontMetrics().horizontalAdvance(line));
    if (longest == 0 || longest > kUnwrappedLine)
        return;
    // Under the informative text, in its column: that column keeps the line.
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(at, &row, &column, &rows, &columns);
    const QMargins margins = info->contentsMargins();
    const int room = longest + 2 * info->margin() + margins.left() + margins.right() + 1;
    grid->addItem(new QSpacerItem(room, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), column, 1,
                  columns);
}

std::optional<std::optional<QString>> preempted(const Request& request)
{
    if (responder())
        return std::optional<std::optional<QString>>(std::in_place, responder()(request));
    if (cannotShow(request))
        return std::optional<std::optional<QString>>(std::in_place, std::nullopt);
    return std::nullopt;
}

} // namespace

Responder setResponder(Responder next)
{
    Responder previous = std::move(responder());
    responder() = std::move(next);
    return previous;
}

QMessageBox* messageBox(const QString& title, const QString& text, const QStringList& buttons, QWidget* window,
                        const QPixmap& icon)
{
    auto* box = new QMessageBox(window);
    keepOnScreen(box);
    if (!icon.isNull())
        box->setIconPixmap(icon);
    // Texts come from files and servers too: a tag in them is shown, never obeyed.
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    if (!text.isEmpty()) {
        box->setInformativeText(text);
        if (auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            info->setTextFormat(Qt::PlainText);
        // The box aligns its text to the left edge once a line wraps; Arabic
        // lines keep to the right one.
        if (auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            info->setAlignment(Qt::AlignRight | Qt::AlignAbsolute | Qt::AlignTop);
    }
    const QStringList titles = buttons.isEmpty() ? QStringList{QString::fromUtf8(okTitle)} : buttons;
    QPushButton* first = nullptr;
    for (const QString& button : titles) {
        QPushButton* added = box->addButton(button, first ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (!first)
            first = added;
    }
    box->setDefaultButton(first);
    fitToText(*box, text);
    return box;
}

void alert(const QString& title, const QString& text, QWidget* window)
{
    alert(title, text, window, QPixmap());
}

void alert(const QString& title, const QString& text, QWidget* window, const QPixmap& icon)
{
    Request request{Kind::Alert, title, text, {}, {}, {}, false, window != nullptr, {}};
    if (preempted(request))
        return;

    QMessageBox* box = messageBox(title, text, {}, window, icon);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (window) {
        box->setWindowModality(Qt::WindowModal);
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->exec();
    }
}

std::optional<QString> prompt(const QString& title, const QString& info, const QString& initial, const QString& ok,
                              bool multiline)
{
    Request request{Kind::Prompt, title, info, initial, ok, {}, multiline, false, {}};
    if (auto answer = preempted(request))
        return *answer;

    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = headedLayout(dialog, title, info);
    QLineEdit* line = nullptr;
    QPlainTextEdit* block = nullptr;
    if (multiline) {
        block = new QPlainTextEdit(initial);
        block->setMinimumSize(kBlockEditorSize);
        block->setFont(Theme::ui(kEditorFontSize));
        block->setLayoutDirection(Qt::RightToLeft);
        block->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        QTextOption option = block->document()->defaultTextOption();
        option.setTextDirection(Qt::RightToLeft);
        option.setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
        block->document()->setDefaultTextOption(option);
        layout->addWidget(block);
    } else {
        line = new QLineEdit(initial);
        line->setMinimumSize(kLineEditorSize);
        line->setFont(Theme::ui(kEditorFontSize));
        line->setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
        layout->addWidget(line);
    }
    addAcceptCancel(*layout, dialog, ok);
    if (block)
        block->setFocus();
    else
        line->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return block ? block->toPlainText() : line->text();
}

std::optional<QString> openFile(const QString& message, const QString& filter, QWidget* window)
{
    Request request{Kind::OpenFile, message, {}, {}, {}, filter, false, window != nullptr, {}};
    if (auto answer = preempted(request))
        return *answer;
    const QString path = QFileDialog::getOpenFileName(window, message, QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> openFolder(const QString& message, QWidget* window)
{
    Request request{Kind::OpenFolder, message, {}, {}, {}, {}, false, window != nullptr, {}};
    if (auto answer = preempted(request))
        return *answer;
    const QString path = QFileDialog::getExistingDirectory(window, message);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

QFileDialog* saveDialog(const QString& message, const QString& suggestedName, const QString& filter, QWidget* window)
{
    auto* dialog = new QFileDialog(window, message, suggestedName, filter);
    keepOnScreen(dialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setLayoutDirection(Qt::RightToLeft);
    // Labels of our own: the catalogue's are missing on some systems and odd
    // where present; the desktop's chooser takes them too.
    dialog->setLabelText(QFileDialog::LookIn, QString::fromUtf8(kLookInLabel));
    dialog->setLabelText(QFileDialog::FileName, QString::fromUtf8(kFileNameLabel));
    dialog->setLabelText(QFileDialog::FileType, QString::fromUtf8(kFileTypeLabel));
    dialog->setLabelText(QFileDialog::Accept, QString::fromUtf8(saveTitle));
    dialog->setLabelText(QFileDialog::Reject, QString::fromUtf8(cancelTitle));
    // Stateless, and the dialog does not own it.
    static ArabicFileTypes types;
    dialog->setIconProvider(&types);
    return dialog;
}

std::optional<QString> saveFile(const QString& message, const QString& suggestedName, const QString& filter,
                                QWidget* window)
{
    Request request{Kind::SaveFile, message, {}, suggestedName, {}, filter, false, window != nullptr, {}};
    if (auto answer = preempted(request))
        return *answer;
    const std::unique_ptr<QFileDialog> dialog(saveDialog(message, suggestedName, filter, window));
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList paths = dialog->selectedFiles();
    if (paths.isEmpty() || paths.first().isEmpty())
        return std::nullopt;
    return paths.first();
}

std::optional<int> choose(const QString& title, const QString& text, const QStringList& buttons, QWidget* window)
{
    Request request{Kind::Choice, title, text, {}, {}, {}, false, window != nullptr, buttons};
    if (auto answer = preempted(request)) {
        if (!*answer)
            return std::nullopt;
        const qsizetype index = buttons.indexOf(**answer);
        return index >= 0 ? std::optional<int>(int(index)) : std::nullopt;
    }
    std::unique_ptr<QMessageBox> box(messageBox(title, text, buttons, window));
    // The box lists its buttons by role, the accepting one first and the
    // others in the order added: the order given.
    const QList<QAbstractButton*> pressed = buttons.isEmpty() ? QList<QAbstractButton*>() : box->buttons();
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->exec();
    const qsizetype index = pressed.indexOf(box->clickedButton());
    return index >= 0 ? std::optional<int>(int(index)) : std::nullopt;
}

std::optional<QStringList> fields(const QString& title, const QString& text, const QList<Field>& fields,
                                  const QString& trailing, const QString& ok, QWidget* window)
{
    QStringList labels;
    QStringList initial;
    for (const Field& field : fields) {
        labels << field.label;
        initial << field.initial;
    }
    Request request{Kind::Fields, title, text, initial.join(u'\n'), ok, {}, false, window != nullptr, labels};
    if (auto answer = preempted(request)) {
        if (!*answer)
            return std::nullopt;
        QStringList texts = (*answer)->split(u'\n');
        while (texts.size() < fields.size())
            texts << QString();
        return texts.mid(0, fields.size());
    }

    QDialog dialog(window);
    dialog.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    auto* layout = headedLayout(dialog, title, text);
    auto* row = new QHBoxLayout;
    row->setSpacing(kFieldSpacing);
    QList<QLineEdit*> editors;
    for (const Field& field : fields) {
        if (!field.label.isEmpty()) {
            auto* before = new QLabel(field.label);
            before->setFont(Theme::ui(13, QFont::Medium));
            row->addWidget(before);
        }
        auto* editor = new QLineEdit(field.initial);
        editor->setFont(Theme::ui(kEditorFontSize));
        editor->setAlignment(Qt::AlignCenter);
        editor->setPlaceholderText(field.placeholder);
        editor->setFixedWidth(field.width);
        row->addWidget(editor);
        editors << editor;
    }
    if (!trailing.isEmpty()) {
        auto* after = new QLabel(trailing);
        after->setFont(Theme::ui(13));
        row->addWidget(after);
    }
    row->addStretch(1);
    layout->addLayout(row);
    addAcceptCancel(*layout, dialog, ok);
    if (!editors.isEmpty())
        editors.first()->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QStringList texts;
    for (QLineEdit* editor : editors)
        texts << editor->text();
    return texts;
}

std::optional<QColor> chooseColor(const QString& title, const QColor& initial, QWidget* window)
{
    Request request{Kind::Color, title, {}, initial.name(), {}, {}, false, window != nullptr, {}};
    if (auto answer = preempted(request)) {
        if (!*answer)
            return std::nullopt;
        const QColor chosen(**answer);
        return chosen.isValid() ? std::optional<QColor>(chosen) : std::nullopt;
    }
    const QColor chosen = QColorDialog::getColor(initial, window, title);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

} // namespace Dialogs

ScriptedDialogs::ScriptedDialogs()
{
    previous_ = Dialogs::setResponder([this](const Dialogs::Request& request) -> std::optional<QString> {
        requests_.append(request);
        if (request.kind == Dialogs::Kind::Alert || answers_.isEmpty())
            return std::nullopt;
        return answers_.takeFirst();
    });
}

ScriptedDialogs::~ScriptedDialogs()
{
    Dialogs::setResponder(std::move(previous_));
}

void ScriptedDialogs::answer(std::optional<QString> reply)
{
    answers_.append(std::move(reply));
}

void ScriptedDialogs::answerFields(const QStringList& texts)
{
    answers_.append(texts.join(u'\n'));
}

QList<Dialogs::Request> ScriptedDialogs::requestsOf(Dialogs::Kind kind) const
{
    QList<Dialogs::Request> found;
    for (const auto& request : requests_) {
        if (request.kind == kind)
            found.append(request);
    }
    return found;
}

} // namespace quorvel
