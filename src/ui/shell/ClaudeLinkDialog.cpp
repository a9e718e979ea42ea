#include "ui/shell/ClaudeLinkDialog.h"

#include "ui/kit/Dialogs.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace quorvel::ClaudeLink {

namespace {

Chooser& chooser()
{
    static Chooser current;
    return current;
}

Choice ask(const DialogContent& content)
{
    if (chooser())
        return chooser()(content);
    QMessageBox box(QMessageBox::Information, content.message, content.message);
    box.setInformativeText(content.informative);
    QPushButton* first = box.addButton(content.firstButton, QMessageBox::AcceptRole);
    QPushButton* copy = box.addButton(content.copyButton, QMessageBox::ActionRole);
    box.addButton(content.closeButton, QMessageBox::RejectRole);
    first->setEnabled(content.firstEnabled);
    box.exec();
    if (box.clickedButton() == first)
        return Choice::First;
    if (box.clickedButton() == copy)
        return Choice::Copy;
    return Choice::Close;
}

} // namespace

Chooser setChooser(Chooser next)
{
    return std::exchange(chooser(), std::move(next));
}

void showDialog(QWidget* window)
{
    const DialogContent content = dialogContent(linked(), desktopInstalled());
    FollowUp followUp;
    switch (ask(content)) {
    case Choice::First:
        if (!content.firstEnabled)
            return;
        followUp = toggle();
        break;
    case Choice::Copy:
        if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->clear();
            clipboard->setText(codeCommand());
        }
        followUp = copied();
        break;
    case Choice::Close:
        return;
    }
    Dialogs::alert(followUp.title, followUp.text, window);
}

} // namespace quorvel::ClaudeLink
