#include "ui/shell/TabStrip.h"

#include "core/Theme.h"
#include "ui/kit/TabButton.h"
#include "ui/kit/Widgets.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace quorvel {

namespace {
constexpr int kMenuGap = 8;
constexpr double kMenuSymbolSize = 12;
constexpr char kMenuTip[] = "كل التبويبات";

// A call of one of the strip's handlers for tab i; nothing once the strip is gone.
std::function<void()> handlerCall(const QPointer<TabStrip>& self, std::function<void(int)> TabStrip::*handler, int i)
{
    return [self, handler, i] {
        if (self && (self.data()->*handler))
            (self.data()->*handler)(i);
    };
}
} // namespace

TabStrip::TabStrip(QWidget* parent) : BarView(parent)
{
    setTop(Theme::dynamic(0xEDEDEA, 0x262625));
    setBottom(Theme::dynamic(0xDCDCD8, 0x222221));

    stack_ = new StackView(Qt::Horizontal, 2, StackView::Align::Trailing);
    // The tabs, then the room they leave, in a scroller without bars: past
    // their floor the tabs scroll rather than squeeze, and the active one
    // is brought into view.
    auto* tabsRow = new QWidget;
    auto* tabsLayout = new QHBoxLayout(tabsRow);
    tabsLayout->setContentsMargins(0, 0, 0, 0);
    tabsLayout->setSpacing(0);
    tabsLayout->addWidget(stack_, 0, Qt::AlignBottom);
    tabsLayout->addStretch(1);
    scroller_ = new QScrollArea;
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller_->setFocusPolicy(Qt::NoFocus);
    scroller_->setWidgetResizable(true);
    scroller_->setWidget(tabsRow);
    // The strip's gradient shows through.
    scroller_->viewport()->setAutoFillBackground(false);
    tabsRow->setAutoFillBackground(false);
    scroller_->viewport()->installEventFilter(this);
    tabsRow->installEventFilter(this);
    menuBtn_ = new QToolButton;
    menuBtn_->setAutoRaise(true);
    menuBtn_->setFocusPolicy(Qt::TabFocus);
    tintMenuButton();
    menuBtn_->setIconSize(QSize(int(kMenuSymbolSize), int(kMenuSymbolSize)));
    menuBtn_->setToolTip(QString::fromUtf8(kMenuTip));
    QPointer<TabStrip> self(this);
    onAction(menuBtn_, [self](QObject*) {
        if (self)
            self->showMenu();
    });

    // The tab the keyboard reaches is scrolled into view; once the focus
    // leaves the tabs, the strip goes back to showing the active one.
    connect(qApp, &QApplication::focusChanged, this, [self](QWidget* old, QWidget* now) {
        if (!self)
            return;
        if (now && self->scroller_->isAncestorOf(now)) {
            for (QWidget* tab : self->stack_->arrangedSubviews())
                if (tab == now || tab->isAncestorOf(now))
                    self->reveal(tab);
            return;
        }
        if (old && self->scroller_->isAncestorOf(old))
            self->revealActiveLater();
    });

    auto* row = new QHBoxLayout(this);
    row->setSpacing(kMenuGap);
    row->addWidget(scroller_, 1);
    row->addWidget(menuBtn_, 0, Qt::AlignVCenter);
    applyMargins();
    setFixedHeight(stripHeight);
}

void TabStrip::applyMargins()
{
    constexpr int kLeadingMargin = 6;
    constexpr int kTrailingMargin = 8;
    // Layout margins are not mirrored by Qt; leading is on the right in RTL.
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    // No margin above: the scroller would clip the top of a tab, gold line
    // and all; the tabs stand on the bottom edge whatever their height.
    layout()->setContentsMargins(rtl ? kTrailingMargin : kLeadingMargin, 0,
                                 rtl ? kLeadingMargin : kTrailingMargin, 0);
}

void TabStrip::tintMenuButton()
{
    menuBtn_->setIcon(Theme::symbol(QStringLiteral("chevron.down"), kMenuSymbolSize,
                                    {palette().color(QPalette::WindowText)}, QFont::Bold));
}

void TabStrip::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LayoutDirectionChange && layout())
        applyMargins();
    // The symbol takes the label colour, which differs between light and dark.
    if (event->type() == QEvent::PaletteChange && menuBtn_)
        tintMenuButton();
    BarView::changeEvent(event);
}

void TabStrip::resizeEvent(QResizeEvent* event)
{
    BarView::resizeEvent(event);
    revealActiveLater();
}

bool TabStrip::eventFilter(QObject* watched, QEvent* event)
{
    // A wheel turns up and down; the tabs run across.
    if (watched == scroller_->viewport() && event->type() == QEvent::Wheel) {
        QCoreApplication::sendEvent(scroller_->horizontalScrollBar(), event);
        return true;
    }
    // The tabs took their new widths: the active one may have moved away.
    if (watched == scroller_->widget() && event->type() == QEvent::Resize)
        revealActiveLater();
    return BarView::eventFilter(watched, event);
}

void TabStrip::set(const QList<QPair<QString, QString>>& tabs, int active)
{
    tabs_ = tabs;
    active_ = active;
    stack_->removeArrangedSubviews();
    QPointer<TabStrip> self(this);
    QList<TabButton*> buttons;
    for (int i = 0; i < tabs.size(); ++i) {
        buttons << new TabButton(tabs[i].first, tabs[i].second, i == active, handlerCall(self, &TabStrip::onSelect, i),
                                 handlerCall(self, &TabStrip::onClose, i));
        stack_->addArrangedSubview(buttons.last());
    }
    orderForTab(buttons);
    revealActiveLater();
}

void TabStrip::revealActiveLater()
{
    // The new buttons have their places only once the posted layout has run.
    QTimer::singleShot(0, this, &TabStrip::revealActive);
}

void TabStrip::revealActive()
{
    const QList<QWidget*> buttons = stack_->arrangedSubviews();
    if (active_ < 0 || active_ >= buttons.size())
        return;
    reveal(buttons[active_]);
}

void TabStrip::reveal(QWidget* button)
{
    const QRect shown = scroller_->viewport()->rect();
    const QRect place(button->mapTo(scroller_->viewport(), QPoint(0, 0)), button->size());
    // How far the tabs must move rightwards to bring the button into view.
    int shift = 0;
    if (place.left() < shown.left())
        shift = shown.left() - place.left();
    else if (place.right() > shown.right())
        shift = std::max(shown.right() - place.right(), shown.left() - place.left());
    if (shift == 0)
        return;
    // Right to left, the scroller's value grows as its content moves right.
    QScrollBar* bar = scroller_->horizontalScrollBar();
    bar->setValue(bar->value() + (scroller_->isRightToLeft() ? shift : -shift));
}

void TabStrip::orderForTab(const QList<TabButton*>& buttons)
{
    // New buttons join the end of the window's Tab chain; they belong before
    // the menu button, after whatever Tab reached before the strip.
    QWidget* before = menuBtn_->previousInFocusChain();
    while (before != menuBtn_ && (isAncestorOf(before) || !(before->focusPolicy() & Qt::TabFocus)))
        before = before->previousInFocusChain();
    QWidget* previous = before == menuBtn_ ? nullptr : before;
    for (TabButton* button : buttons) {
        for (QWidget* stop : {static_cast<QWidget*>(button), static_cast<QWidget*>(button->closeButton())}) {
            if (previous)
                QWidget::setTabOrder(previous, stop);
            previous = stop;
        }
    }
    if (previous)
        QWidget::setTabOrder(previous, menuBtn_);
}

QMenu* TabStrip::buildMenu()
{
    constexpr char kNoTabs[] = "لا توجد تبويبات";
    auto* menu = new QMenu(this);
    QPointer<TabStrip> self(this);
    for (int i = 0; i < tabs_.size(); ++i) {
        QAction* item = menuItem(tabs_[i].first, QString(), handlerCall(self, &TabStrip::onSelect, i), menu);
        if (i == active_) {
            item->setCheckable(true);
            item->setChecked(true);
        }
        menu->addAction(item);
    }
    if (tabs_.isEmpty())
        menu->addAction(QString::fromUtf8(kNoTabs))->setEnabled(false);
    return menu;
}

void TabStrip::showMenu()
{
    QMenu* menu = buildMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(menuBtn_->mapToGlobal(QPoint(0, menuBtn_->height())));
}

} // namespace quorvel
