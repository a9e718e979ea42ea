#include "ui/kit/Widgets.h"

#include "core/Theme.h"

#include <QAbstractSlider>
#include <QBoxLayout>
#include <QComboBox>
#include <QEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollArea>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <memory>

namespace quorvel {

namespace {

constexpr char kTargetName[] = "quorvel.closureTarget";

constexpr double kTextButtonSymbolSize = 15;
constexpr double kBuilderFontSize = 13;

// Replaces the control's target with one that runs `fn` when `signal` fires.
template <typename Control, typename Signal>
void attach(Control* control, Signal signal, ClosureTarget::Fn fn)
{
    delete ClosureTarget::of(control);
    auto* target = new ClosureTarget(control, std::move(fn));
    QObject::connect(control, signal, target, [target, control] { target->fire(control); });
}

// Keeps each pinned child on its parent's rectangle less its insets, with the
// leading inset on the right in a right-to-left parent.
class PinLayout : public QLayout {
public:
    explicit PinLayout(QWidget* parent) : QLayout(parent)
    {
        setContentsMargins(0, 0, 0, 0);
        setSpacing(0);
    }
    ~PinLayout() override
    {
        while (!items_.isEmpty())
            delete items_.takeFirst().item;
    }

    void addPinned(QWidget* child, Insets insets)
    {
        addChildWidget(child);
        items_.append(Entry{new QWidgetItem(child), insets});
        invalidate();
    }

    void addItem(QLayoutItem* item) override { items_.append(Entry{item, {}}); }
    int count() const override { return int(items_.size()); }
    QLayoutItem* itemAt(int index) const override
    {
        return index >= 0 && index < items_.size() ? items_.at(index).item : nullptr;
    }
    QLayoutItem* takeAt(int index) override
    {
        if (index < 0 || index >= items_.size())
            return nullptr;
        return items_.takeAt(index).item;
    }

    QSize sizeHint() const override { return combined(&QLayoutItem::sizeHint); }
    QSize minimumSize() const override { return combined(&QLayoutItem::minimumSize); }

    void setGeometry(const QRect& rect) override
    {
        QLayout::setGeometry(rect);
        const bool rtl = parentWidget() && parentWidget()->layoutDirection() == Qt::RightToLeft;
        for (const Entry& entry : items_) {
            const Insets& in = entry.insets;
            const int left = rtl ? in.trailing : in.leading;
            const int right = rtl ? in.leading : in.trailing;
            entry.item->setGeometry(rect.adjusted(left, in.top, -right, -in.bottom));
        }
    }

private:
    struct Entry {
        QLayoutItem* item;
        Insets insets;
    };

    QSize combined(QSize (QLayoutItem::*measure)() const) const
    {
        QSize size(0, 0);
        for (const Entry& entry : items_) {
            if (entry.item->isEmpty())
                continue;
            const QSize s = (entry.item->*measure)();
            size = size.expandedTo(QSize(s.width() + entry.insets.leading + entry.insets.trailing,
                                         s.height() + entry.insets.top + entry.insets.bottom));
        }
        return size;
    }

    QList<Entry> items_;
};

} // namespace

// --- closure targets ---------------------------------------------------------

ClosureTarget::ClosureTarget(QObject* owner, Fn fn) : QObject(owner), fn_(std::move(fn))
{
    setObjectName(QLatin1String(kTargetName));
}

void ClosureTarget::fire(QObject* sender)
{
    if (fn_)
        fn_(sender);
}

ClosureTarget* ClosureTarget::of(QObject* control)
{
    if (!control)
        return nullptr;
    return control->findChild<ClosureTarget*>(QLatin1String(kTargetName), Qt::FindDirectChildrenOnly);
}

void onAction(QAbstractButton* control, std::function<void(QObject*)> fn)
{
    attach(control, &QAbstractButton::clicked, std::move(fn));
}

void onAction(QAction* control, std::function<void(QObject*)> fn)
{
    attach(control, &QAction::triggered, std::move(fn));
}

void onAction(QLineEdit* control, std::function<void(QObject*)> fn)
{
    attach(control, &QLineEdit::returnPressed, std::move(fn));
}

void onAction(QComboBox* control, std::function<void(QObject*)> fn)
{
    attach(control, &QComboBox::activated, std::move(fn));
}

void onAction(QAbstractSlider* control, std::function<void(QObject*)> fn)
{
    attach(control, &QAbstractSlider::valueChanged, std::move(fn));
}

namespace {
// Runs its function on a primary click released inside the view it watches.
class ClickCatcher : public QObject {
public:
    ClickCatcher(QWidget* view, std::function<void()> fn) : QObject(view), view_(view), fn_(std::move(fn)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The press is taken too, so that no view beneath answers it.
        if (watched == view_ && event->type() == QEvent::MouseButtonPress)
            return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        if (watched == view_ && event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && view_->rect().contains(mouse->position().toPoint())) {
                fn_();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* view_;
    std::function<void()> fn_;
};
} // namespace

void onClick(QWidget* view, std::function<void()> fn)
{
    view->setCursor(Qt::PointingHandCursor);
    view->installEventFilter(new ClickCatcher(view, std::move(fn)));
}

QAction* menuItem(const QString& title, const QString& key, std::function<void()> fn, QObject* parent)
{
    // Titles are plain text (book titles among them): a "&" is shown, never
    // taken as a keyboard mnemonic.
    auto* action = new QAction(QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")), parent);
    if (!key.isEmpty()) {
        const QChar c = key.at(0);
        QKeyCombination combination(Qt::ControlModifier, Qt::Key(QKeySequence(key.toUpper())[0].key()));
        if (c.isLetter() && c.isUpper())
            combination = QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, combination.key());
        action->setShortcut(QKeySequence(combination));
    }
    onAction(action, [fn = std::move(fn)](QObject*) {
        if (fn)
            fn();
    });
    return action;
}

// --- label -------------------------------------------------------------------

QString fitText(const QString& text, const QString& lead, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width || lead.isEmpty() || !text.startsWith(lead) ||
        text.size() == lead.size())
        return metrics.elidedText(text, Qt::ElideRight, width);
    const QString rest = text.mid(lead.size());
    // Joined letters measure a little differently apart than together, so
    // the budget shrinks until the whole fits.
    for (int budget = width; budget > 0; budget -= 2) {
        QString shown;
        const int restWidth = metrics.horizontalAdvance(rest);
        if (restWidth < budget)
            shown = metrics.elidedText(lead, Qt::ElideRight, budget - restWidth);
        if (!shown.isEmpty()) {
            shown += rest;
        } else {
            // The rest alone is too wide: a little of the lead, and the rest
            // cut in its middle, where editions' notes tend to agree.
            shown = metrics.elidedText(lead, Qt::ElideRight, budget / 3)
                + metrics.elidedText(rest, Qt::ElideMiddle, budget - budget / 3);
        }
        if (metrics.horizontalAdvance(shown) <= width)
            return shown;
    }
    return QString();
}

Label::Label(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void Label::setElideMode(Qt::TextElideMode mode)
{
    elide_ = mode;
    update();
}

void Label::setLead(const QString& lead)
{
    lead_ = lead;
    update();
}

QString Label::shownText() const
{
    const QFontMetrics metrics = fontMetrics();
    const int width = contentsRect().width();
    if (!lead_.isEmpty() && elide_ == Qt::ElideRight && text().startsWith(lead_))
        return fitText(text(), lead_, metrics, width);
    QString shown = metrics.elidedText(text(), elide_, width);
    // Eliding measures the kept letters apart from the ellipsis; joined to
    // it, Arabic letters can take other forms and come out wider, so the
    // room is narrowed until the shortened text fits.
    for (int room = width - 1; room > 0 && shown != text() && metrics.horizontalAdvance(shown) > width; --room)
        shown = metrics.elidedText(text(), elide_, room);
    return shown;
}

QSize Label::minimumSizeHint() const
{
    const QSize full = QLabel::minimumSizeHint();
    return QSize(qMin(full.width(), fontMetrics().horizontalAdvance(QStringLiteral("…")) * 2), full.height());
}

void Label::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    // A wrapping label shows all its text over as many lines as it takes.
    if (wordWrap()) {
        style()->drawItemText(&painter, contentsRect(), int(align) | Qt::TextWordWrap, option.palette, isEnabled(),
                              text(), foregroundRole());
        return;
    }
    style()->drawItemText(&painter, contentsRect(), int(align), option.palette, isEnabled(), shownText(),
                          foregroundRole());
}

// --- stacks and pinning --------------------------------------------------------

StackView::StackView(Qt::Orientation orientation, int spacing, Align align, QWidget* parent)
    : QWidget(parent), orientation_(orientation), align_(align)
{
    box_ = new QBoxLayout(orientation == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, this);
    box_->setContentsMargins(0, 0, 0, 0);
    box_->setSpacing(spacing);
}

void StackView::addArrangedSubview(QWidget* view)
{
    Qt::Alignment alignment;
    if (orientation_ == Qt::Horizontal) {
        switch (align_) {
        case Align::Leading: alignment = Qt::AlignTop; break;
        case Align::Trailing: alignment = Qt::AlignBottom; break;
        case Align::Center: alignment = Qt::AlignVCenter; break;
        case Align::Fill: break;
        }
    } else {
        switch (align_) {
        case Align::Leading: alignment = Qt::AlignLeading; break;
        case Align::Trailing: alignment = Qt::AlignTrailing; break;
        case Align::Center: alignment = Qt::AlignHCenter; break;
        case Align::Fill: break;
        }
    }
    box_->addWidget(view, 0, alignment);
}

void StackView::removeArrangedSubviews()
{
    while (QLayoutItem* item = box_->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
}

QList<QWidget*> StackView::arrangedSubviews() const
{
    QList<QWidget*> views;
    for (int i = 0; i < box_->count(); ++i) {
        if (QWidget* w = box_->itemAt(i)->widget())
            views.append(w);
    }
    return views;
}

int StackView::spacing() const
{
    return box_->spacing();
}

void pin(QWidget* parent, QWidget* child, Insets insets)
{
    auto* layout = dynamic_cast<PinLayout*>(parent->layout());
    if (!layout) {
        Q_ASSERT(!parent->layout());
        layout = new PinLayout(parent);
    }
    layout->addPinned(child, insets);
    child->show();
}

QList<QWidget*> pinnedSubviews(QWidget* parent)
{
    QList<QWidget*> views;
    if (QLayout* layout = parent->layout()) {
        for (int i = 0; i < layout->count(); ++i) {
            if (QWidget* w = layout->itemAt(i)->widget())
                views.append(w);
        }
    }
    return views;
}

void unpinAll(QWidget* parent, QWidget* keeper)
{
    QLayout* layout = parent->layout();
    if (!layout)
        return;
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->setParent(keeper);
        }
        delete item;
    }
}

// --- builders ------------------------------------------------------------------

HoverButton* iconButton(const QString& symbol, const QString& tip, double size, const QList<ThemeColor>& colors,
                        QFont::Weight weight, std::function<void()> action)
{
    auto* button = new HoverButton;
    // Tab reaches it; a click leaves the focus where the reader was typing.
    button->setFocusPolicy(Qt::TabFocus);
    // No colours: the builder's own two, as the default ones do.
    button->setSymbol(symbol, size, colors.isEmpty() ? QList<ThemeColor>{Theme::accent(), Theme::gold()} : colors, weight);
    button->setIconSize(QSize(qRound(size), qRound(size)));
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    // Fixed at the button's own measure, so that no layout stretches its tint.
    button->setFixedSize(button->sizeHint());
    onAction(button, [action = std::move(action)](QObject*) {
        if (action)
            action();
    });
    return button;
}

HoverButton* iconButton(const QString& symbol, const QString& tip, double size, std::function<void()> action)
{
    return iconButton(symbol, tip, size, {Theme::accent(), Theme::gold()}, QFont::Normal, std::move(action));
}

QPushButton* textButton(const QString& title, const QString& symbol, std::function<void()> action)
{
    auto* button = new QPushButton(title);
    button->setFlat(true);
    button->setFont(Theme::ui(kBuilderFontSize));
    if (!symbol.isEmpty()) {
        // In the accent of the appearance in force: emerald is lost on the night bars.
        followPalette(button, [button, symbol] {
            button->setIcon(Theme::symbol(symbol, kTextButtonSymbolSize,
                                          {Theme::accent().resolve(button->palette()), Theme::gold()}));
        });
        button->setIconSize(QSize(int(kTextButtonSymbolSize), int(kTextButtonSymbolSize)));
    }
    button->setForegroundRole(QPalette::ButtonText);
    onAction(button, [action = std::move(action)](QObject*) {
        if (action)
            action();
    });
    return button;
}

Label* label(const QString& text, double size, QFont::Weight weight, const QColor& color)
{
    auto* l = new Label(text);
    l->setFont(Theme::ui(size, weight));
    if (color.isValid()) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, color);
        l->setPalette(p);
    }
    // Secondary text takes the secondary colour of each new appearance, as
    // long as nothing has recoloured it since.
    if (color.isValid() && color == Theme::secondaryLabel()) {
        auto shown = std::make_shared<QColor>(color);
        followPalette(l, [l, shown] {
            if (l->palette().color(QPalette::WindowText) != *shown)
                return;
            *shown = Theme::secondaryLabel();
            QPalette p = l->palette();
            p.setColor(QPalette::WindowText, *shown);
            l->setPalette(p);
        });
    }
    l->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    l->setElideMode(Qt::ElideRight);
    return l;
}

QCheckBox* checkbox(const QString& title, bool on)
{
    auto* box = new QCheckBox(title);
    box->setFont(Theme::ui(kBuilderFontSize));
    box->setChecked(on);
    return box;
}

namespace {
StackView* stackOf(Qt::Orientation orientation, const QList<QWidget*>& views, int spacing, StackView::Align align)
{
    auto* stack = new StackView(orientation, spacing, align);
    for (QWidget* view : views)
        stack->addArrangedSubview(view);
    return stack;
}
} // namespace

StackView* hstack(const QList<QWidget*>& views, int spacing)
{
    return stackOf(Qt::Horizontal, views, spacing, StackView::Align::Center);
}

StackView* vstack(const QList<QWidget*>& views, int spacing, StackView::Align align)
{
    return stackOf(Qt::Vertical, views, spacing, align);
}

QWidget* spacer()
{
    auto* view = new QWidget;
    view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    view->setMinimumSize(0, 0);
    return view;
}

QFrame* separator()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

namespace {
class PaletteWatch : public QObject {
public:
    PaletteWatch(QWidget* widget, std::function<void()> apply) : QObject(widget), apply_(std::move(apply))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto type = event->type();
        // What `apply` sets may post a palette change of its own.
        if (!applying_ && (type == QEvent::PaletteChange || type == QEvent::ApplicationPaletteChange)) {
            applying_ = true;
            apply_();
            applying_ = false;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> apply_;
    bool applying_ = false;
};
} // namespace

void followPalette(QWidget* widget, std::function<void()> apply)
{
    apply();
    new PaletteWatch(widget, std::move(apply));
}

QScrollArea* rowScroller(QWidget* content)
{
    auto* scroller = new QScrollArea;
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setWidgetResizable(true);
    scroller->setWidget(content);
    for (QWidget* clear : {static_cast<QWidget*>(scroller), scroller->viewport(), content})
        clear->setAutoFillBackground(false);
    return scroller;
}

} // namespace quorvel
