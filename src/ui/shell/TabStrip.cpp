#include "ui/shell/TabStrip.h"

#include "core/Theme.h"
#include "ui/kit/TabButton.h"
#include "ui/kit/Widgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QToolButton>

namespace quorvel {

namespace {
constexpr int kLeadingMargin = 6;
constexpr int kTopMargin = 4;
constexpr int kTrailingMargin = 8;
constexpr int kMenuGap = 8;
constexpr double kMenuSymbolSize = 12;
constexpr char kMenuTip[] = "كل التبويبات";
constexpr char kNoTabs[] = "لا توجد تبويبات";

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

    auto* row = new QHBoxLayout(this);
    row->setSpacing(kMenuGap);
    row->addWidget(stack_, 0, Qt::AlignBottom);
    row->addStretch(1);
    row->addWidget(menuBtn_, 0, Qt::AlignVCenter);
    applyMargins();
    setFixedHeight(stripHeight);
}

void TabStrip::applyMargins()
{
    // Layout margins are not mirrored by Qt; leading is on the right in RTL.
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    layout()->setContentsMargins(rtl ? kTrailingMargin : kLeadingMargin, kTopMargin,
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
