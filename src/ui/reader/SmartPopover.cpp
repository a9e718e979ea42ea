#include "ui/reader/SmartPopover.h"

#include "core/Arabic.h"
#include "core/Notifier.h"
#include "core/Theme.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/RichTextBuilder.h"

#include <QFrame>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFrame>
#include <QVBoxLayout>

namespace quorvel {

namespace {

constexpr int kInsetH = 16;
constexpr int kInsetV = 14;
constexpr double kLineSpacing = 4;
constexpr double kParagraphSpacing = 6;
constexpr double kWaitingSize = 13;
constexpr double kTintAlpha = 0.18;

std::shared_ptr<SmartPopover>& shown()
{
    static std::shared_ptr<SmartPopover> popover;
    return popover;
}

QColor toneColour(const PanelText::Run& run)
{
    const QPalette palette = QGuiApplication::palette();
    switch (run.tone) {
    case PanelText::Tone::label:
        return palette.color(QPalette::WindowText);
    case PanelText::Tone::secondary:
        return Theme::secondaryLabel();
    case PanelText::Tone::gold:
        return Theme::goldInk().resolve();
    case PanelText::Tone::emerald:
        // Emerald is lost on the night page: the accent of the appearance.
        return Theme::accent().resolve();
    case PanelText::Tone::ink:
        return Theme::ink();
    case PanelText::Tone::custom:
        return run.color;
    }
    return {};
}

class LinkCatcher : public QObject {
public:
    LinkCatcher(QTextBrowser* view, const std::shared_ptr<SmartPopover>& popover)
        : QObject(view), view_(view), popover_(popover)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonRelease)
            return QObject::eventFilter(watched, event);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QString href = mouse->button() == Qt::LeftButton ? view_->anchorAt(mouse->position().toPoint()) : QString();
        const std::shared_ptr<SmartPopover> popover = popover_.lock();
        if (href.isEmpty() || !popover)
            return QObject::eventFilter(watched, event);
        popover->follow(href);
        return true;
    }

private:
    QTextBrowser* view_;
    std::weak_ptr<SmartPopover> popover_;
};

} // namespace

std::unique_ptr<QTextDocument> SmartPopover::document(const PanelText::Text& text)
{
    RichTextBuilder builder;
    QTextBlockFormat block = RichText::paragraph();
    RichText::setLineSpacing(block, kLineSpacing);
    block.setBottomMargin(kParagraphSpacing);
    for (const PanelText::Run& run : text.runs) {
        const QFont font = run.face == PanelText::Face::reader ? Theme::reader(run.size) : Theme::ui(run.size, run.weight);
        QTextCharFormat chars = RichText::chars(font, toneColour(run));
        if (run.background.isValid())
            chars.setBackground(run.background);
        chars.setFontStrikeOut(run.strike);
        // A panel quotes the page as the reader shows it, digits and all; the
        // links keep the text as stored.
        const QString shown = Arabic::digits(run.text);
        if (run.link.isEmpty())
            builder.append(shown, chars, block);
        else
            builder.appendLink(shown, run.link, chars, block);
    }
    std::unique_ptr<QTextDocument> document = builder.take();
    QTextFrameFormat frame = document->rootFrame()->frameFormat();
    frame.setLeftMargin(kInsetH);
    frame.setRightMargin(kInsetH);
    frame.setTopMargin(kInsetV);
    frame.setBottomMargin(kInsetV);
    document->rootFrame()->setFrameFormat(frame);
    return document;
}

QRect SmartPopover::place(const QRect& area, const QSize& size, const QRect& room)
{
    const int w = std::min(size.width(), room.width());
    const int h = std::min(size.height(), room.height());
    const int below = room.bottom() - area.bottom();
    const int above = area.top() - room.top();
    int y = area.bottom() + 1;
    if (below < h && above >= h)
        y = area.top() - h;
    const int x = area.center().x() - w / 2;
    const QRect placed(std::clamp(x, room.left(), room.right() + 1 - w), std::clamp(y, room.top(), room.bottom() + 1 - h),
                       w, h);
    Q_ASSERT(room.isEmpty() || room.contains(placed));
    return placed;
}

std::shared_ptr<SmartPopover> SmartPopover::current()
{
    return shown();
}

std::shared_ptr<SmartPopover> SmartPopover::show(const QString& title, QWidget* anchor, std::optional<QRect> rect,
                                                 OnLink onLink, Build build)
{
    Q_ASSERT(anchor);
    if (const std::shared_ptr<SmartPopover>& before = shown())
        before->close();

    std::shared_ptr<SmartPopover> p(new SmartPopover);
    p->title_ = title;
    p->onLink_ = std::move(onLink);
    auto* frame = new QFrame(anchor, Qt::Popup);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setLayoutDirection(Qt::RightToLeft);
    frame->resize(width, height);
    auto* text = new QTextBrowser(frame);
    text->setOpenLinks(false);
    text->setFrameShape(QFrame::NoFrame);
    text->setLayoutDirection(Qt::RightToLeft);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QVBoxLayout(frame);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(text);

    p->frame_ = frame;
    p->text_ = text;
    p->self_ = p;
    p->build_ = std::move(build);
    p->showWaiting();

    // A click on a link is read from the raw href under the mouse, not from
    // a QUrl, which would re-encode the Arabic of a search link.
    text->viewport()->installEventFilter(new LinkCatcher(text, p));

    const QRect local = rect.value_or(anchor->rect());
    const QRect area(anchor->mapToGlobal(local.topLeft()), local.size());
    // The screen that shows the area, which in a window across two screens
    // need not be the window's own.
    const QScreen* screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = anchor->screen();
    // Inside the reader's window too, where it has the room: a word near the
    // page's edge would put the pop-up past the window's side.
    QRect room = screen ? screen->availableGeometry() : QRect();
    const QRect window = anchor->window()->frameGeometry();
    if (!room.isEmpty() && room.intersected(window).width() >= width)
        room = QRect(room.intersected(window).left(), room.top(), room.intersected(window).width(), room.height());
    frame->setGeometry(room.isEmpty() ? QRect(area.bottomLeft(), frame->size()) : place(area, frame->size(), room));
    frame->show();
    shown() = p;

    p->start();
    // The panel's numbers follow the digits preference: built again when the
    // preferences change.
    QObject::connect(&Notifier::shared(), &Notifier::readerSettingsChanged, text, [weak = std::weak_ptr(p)] {
        if (const std::shared_ptr<SmartPopover> popover = weak.lock())
            popover->start();
    });
    return p;
}

void SmartPopover::showWaiting()
{
    if (!text_)
        return;
    PanelText::Text waiting;
    waiting += PanelText::text(QString::fromUtf8(waitingText), PanelText::Tone::secondary, kWaitingSize);
    std::unique_ptr<QTextDocument> doc = document(waiting);
    // The view's first document is its own, deleted as it is replaced.
    QTextDocument* old = text_->document();
    const bool ours = old && old->parent() == text_;
    doc->setParent(text_);
    text_->setDocument(doc.release());
    if (ours)
        old->deleteLater();
}

void SmartPopover::start()
{
    // The panel goes to the text view: a window closed meanwhile takes the
    // view with it, and the built panel is dropped.
    const std::shared_ptr<SmartPopover> p = self_.lock();
    if (!p || !text_)
        return;
    const int generation = ++generation_;
    // Built again (after a change of the preferences, say): what shows until
    // the new panel arrives is the old one, not the panel asked for.
    built_ = false;
    GuiJob::run(text_.data(), build_, [p, generation](QTextBrowser& view, const PanelText::Text& built) {
        // A build overtaken by a later one is dropped.
        if (generation != p->generation_)
            return;
        std::unique_ptr<QTextDocument> doc = document(built);
        QTextDocument* old = view.document();
        const bool ours = old && old->parent() == &view;
        doc->setParent(&view);
        view.setDocument(doc.release());
        if (ours)
            old->deleteLater();
        p->built_ = true;
    });
}

bool SmartPopover::isOpen() const
{
    return frame_ && frame_->isVisible();
}

void SmartPopover::rebuild(Build build)
{
    build_ = std::move(build);
    showWaiting();
    start();
}

void SmartPopover::follow(const QString& link)
{
    close();
    if (onLink_)
        onLink_(link);
}

void SmartPopover::close()
{
    if (frame_)
        frame_->close();
}

} // namespace quorvel
