#include "ui/search/SideButton.h"

#include "core/Theme.h"
#include "ui/kit/Widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace quorvel {

namespace {

constexpr int kStackSpacing = 3;
constexpr Insets kInsets{7, 4, 6, 4};
constexpr double kCornerRadius = 6;
constexpr double kStrokeAlpha = 0.45;
constexpr std::uint32_t kSelectedLight = 0xDCE8E2;
constexpr std::uint32_t kSelectedDark = 0x233A2F;

} // namespace

SideButton::SideButton(const QString& title, const QString& symbol, std::function<void()> action, QWidget* parent)
    : QWidget(parent), action_(std::move(action))
{
    titleLabel_ = label(title, titleSize, QFont::Medium);
    titleLabel_->setAlignment(Qt::AlignCenter);

    auto* image = new QLabel;
    image->setAlignment(Qt::AlignCenter);
    hasSymbol_ = !Theme::symbol(symbol, symbolSize).isNull();
    if (!hasSymbol_)
        image->hide();

    // The press belongs to the button, wherever on it the pointer is.
    image->setAttribute(Qt::WA_TransparentForMouseEvents);
    titleLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* stack = vstack({image, titleLabel_}, kStackSpacing, StackView::Align::Center);
    stack->setAttribute(Qt::WA_TransparentForMouseEvents);
    pin(this, stack, kInsets);
    setFixedWidth(fixedWidth);
    setAccessibleName(title);
    setToolTip(title);
    // The symbol and the title take the accent of the appearance in force.
    followPalette(this, [this, image, symbol] {
        if (hasSymbol_)
            image->setPixmap(Theme::symbol(symbol, symbolSize, {Theme::accent().resolve(palette()), Theme::gold()})
                                 .pixmap(QSize(int(symbolSize), int(symbolSize))));
        setSelected(selected_);
    });
}

QString SideButton::title() const
{
    return titleLabel_->text();
}

void SideButton::setSelected(bool on)
{
    selected_ = on;
    QPalette p = titleLabel_->palette();
    p.setColor(QPalette::WindowText,
               on ? ThemeColor(Theme::emeraldDeep(), Theme::accent().dark()).resolve(palette())
                  : palette().color(QPalette::WindowText));
    titleLabel_->setPalette(p);
    update();
}

void SideButton::paintEvent(QPaintEvent*)
{
    if (!selected_)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kCornerRadius, kCornerRadius);
    painter.fillPath(path, Theme::dynamic(kSelectedLight, kSelectedDark).resolve(palette()));
    QColor stroke = Theme::accent().resolve(palette());
    stroke.setAlphaF(float(kStrokeAlpha));
    painter.setPen(QPen(stroke, 1));
    painter.drawPath(path);
}

void SideButton::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (action_)
        action_();
}

} // namespace quorvel
