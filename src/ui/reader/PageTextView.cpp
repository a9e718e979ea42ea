#include "ui/reader/PageTextView.h"

#include "core/Arabic.h"
#include "core/Settings.h"
#include "ui/kit/HoverButton.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QMenu>
#include <QMimeData>

namespace quorvel {

namespace {
// The modifiers that hand an arrow key to the standard text handling; the
// keypad flag, which arrow keys may carry, is not among them.
constexpr Qt::KeyboardModifiers kTextModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
constexpr double kFocusRadius = 4;
} // namespace

PageTextView::PageTextView(QWidget* parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setReadOnly(true);
}

bool PageTextView::isPageKey(const QKeyEvent* event)
{
    return (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) && !(event->modifiers() & kTextModifiers);
}

void PageTextView::focusInEvent(QFocusEvent* event)
{
    // A click into the page to read or select needs no ring; Tab does.
    tabbedIn_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    viewport()->update();
    QTextBrowser::focusInEvent(event);
}

void PageTextView::focusOutEvent(QFocusEvent* event)
{
    tabbedIn_ = false;
    viewport()->update();
    QTextBrowser::focusOutEvent(event);
}

void PageTextView::paintEvent(QPaintEvent* event)
{
    QTextBrowser::paintEvent(event);
    if (tabbedIn_ && hasFocus()) {
        QPainter painter(viewport());
        paintFocusRing(painter, *viewport(), kFocusRadius);
    }
}

bool PageTextView::event(QEvent* event)
{
    // A text view claims Ctrl+Left and Ctrl+Right for moving by words; the
    // page text is read-only, so they stay with the window's page commands.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Left || key->key() == Qt::Key_Right) &&
            (key->modifiers() & Qt::ControlModifier)) {
            event->ignore();
            return false;
        }
    }
    return QTextBrowser::event(event);
}

void PageTextView::keyPressEvent(QKeyEvent* event)
{
    const bool arrow = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right;
    const Qt::KeyboardModifiers held = event->modifiers() & kTextModifiers;
    if (arrow && (held == Qt::ShiftModifier || held == (Qt::ShiftModifier | Qt::ControlModifier))) {
        // A read-only browser moves no caret by keyboard; Shift still
        // extends the selection, by letters or, with Ctrl, by words.
        QTextCursor cursor = textCursor();
        const bool words = held & Qt::ControlModifier;
        const bool left = event->key() == Qt::Key_Left;
        cursor.movePosition(words ? (left ? QTextCursor::WordLeft : QTextCursor::WordRight)
                                  : (left ? QTextCursor::Left : QTextCursor::Right),
                            QTextCursor::KeepAnchor);
        setTextCursor(cursor);
        event->accept();
        return;
    }
    if (!isPageKey(event)) {
        QTextBrowser::keyPressEvent(event);
        return;
    }
    // Arabic runs right to left, so the left arrow goes forward. The key is
    // taken even without a callback: the caret never moves on it.
    event->accept();
    if (onArrow)
        onArrow(event->key() == Qt::Key_Left ? +1 : -1);
}

QMenu* PageTextView::menuFor(const QPoint& viewportPos)
{
    QMenu* menu = createStandardContextMenu(viewportPos);
    if (!menu)
        menu = new QMenu;
    if (extraMenu)
        extraMenu(menu, viewportPos);
    return menu;
}

void PageTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = menuFor(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QMimeData* PageTextView::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    if ((Settings::copyNoTashkeel() || Settings::copyNoFootnoteRefs()) && cursor.hasSelection()) {
        // Plain text only: a rich copy would bring the marks back.
        auto* data = new QMimeData;
        QString text = cursor.selectedText();
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
        data->setText(Arabic::forCopy(text));
        return data;
    }
    return QTextBrowser::createMimeDataFromSelection();
}

} // namespace quorvel
