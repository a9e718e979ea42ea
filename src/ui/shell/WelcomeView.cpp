#include "ui/shell/WelcomeView.h"

#include "core/BookTitles.h"
#include "core/Build.h"
#include "core/Theme.h"
#include "ui/kit/IconMaker.h"
#include "ui/kit/Widgets.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadialGradient>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

QColor blend(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

} // namespace

WelcomeView::WelcomeView(QWidget* parent) : QWidget(parent)
{
    constexpr char kRecentHeading[] = "متابعة القراءة";
    constexpr int kRowBottomMargin = 40;
    constexpr int kHeadingGap = 10;
    constexpr int kRowSpacing = 12;
    recentStack_ = new StackView(Qt::Horizontal, kRowSpacing, StackView::Align::Center);
    recentTitle_ = label(QString::fromUtf8(kRecentHeading), 13, QFont::Medium, Theme::accent().resolve());
    recentTitle_->setAlignment(Qt::AlignCenter);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, kRowBottomMargin);
    column->setSpacing(kHeadingGap);
    column->addStretch(1);
    column->addWidget(recentTitle_, 0, Qt::AlignHCenter);
    column->addWidget(recentStack_, 0, Qt::AlignHCenter);
}

void WelcomeView::setRecent(const QList<Entry>& recent)
{
    recent_ = recent;
    rebuildRecent();
}

void WelcomeView::rebuildRecent()
{
    constexpr double kButtonFontSize = 13;
    constexpr double kButtonSymbolSize = 13;
    constexpr int kButtonChrome = 40; // icon, gap and padding inside a recent button
    recentStack_->removeArrangedSubviews();
    recentTitle_->setVisible(!recent_.isEmpty());
    const QIcon icon =
        Theme::symbol(QStringLiteral("book.closed"), kButtonSymbolSize, {Theme::accent().resolve(palette()), Theme::gold()});
    const qsizetype shown = std::min<qsizetype>(recent_.size(), maxRecent);
    for (qsizetype i = 0; i < shown; ++i) {
        const Entry& entry = recent_[i];
        auto* button = new QPushButton;
        button->setFont(Theme::ui(kButtonFontSize));
        button->setIcon(icon);
        button->setIconSize(QSize(int(kButtonSymbolSize), int(kButtonSymbolSize)));
        const QFontMetrics metrics(button->font());
        // What tells two editions apart stays in view; the shared title gives way first.
        const qsizetype cut = entry.first.indexOf(QString::fromUtf16(BookTitles::separator));
        button->setText(fitText(entry.first, cut > 0 ? entry.first.left(cut) : QString(), metrics,
                                maxButtonWidth - kButtonChrome));
        button->setToolTip(entry.first);
        button->setMaximumWidth(maxButtonWidth);
        onAction(button, [action = entry.second](QObject*) {
            if (action)
                action();
        });
        recentStack_->addArrangedSubview(button);
    }
}

QColor WelcomeView::baseColor(bool dark)
{
    return dark ? Theme::rgb(0x1E1B15) : Theme::rgb(0xF6F0E1);
}

QRadialGradient WelcomeView::backdrop(const QSizeF& size, bool dark)
{
    constexpr double kBackdropLift = 0.25;
    const QColor c1 = baseColor(dark);
    const QColor c2 = dark ? Theme::rgb(0x2A241A) : Theme::rgb(0xE6D9BA);
    // Spreads from a point at the middle of the view to a circle centred a
    // quarter of the half-height above it, just large enough to cover the view.
    const QPointF middle(size.width() / 2, size.height() / 2);
    const QPointF centre(middle.x(), middle.y() - kBackdropLift * size.height() / 2);
    QRadialGradient gradient(centre, std::hypot(size.width() / 2, size.height() / 2 + kBackdropLift * size.height() / 2),
                             middle);
    gradient.setColorAt(0, c1);
    gradient.setColorAt(0.5, c2);
    gradient.setColorAt(1, blend(c1, c2, 0.4));
    return gradient;
}

double WelcomeView::titleSize(double width)
{
    return std::min(std::max(width * 0.085, 84.0), 150.0);
}

QPointF WelcomeView::glowCenter(const QSizeF& size)
{
    return QPointF(size.width() / 2, std::min(size.height() * 0.34, 260.0));
}

void WelcomeView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        QPalette p = recentTitle_->palette();
        p.setColor(QPalette::WindowText, Theme::accent().resolve());
        recentTitle_->setPalette(p);
        // The books' symbols are drawn in the accent of the appearance now in force.
        rebuildRecent();
    }
    QWidget::changeEvent(event);
}

namespace {

constexpr char kSubtitle[] = "مكتبة رقمية بحثية جامعة";
constexpr double kLatticeStep = 92;
constexpr double kLatticeRowStep = 79.672;
constexpr double kLatticeOrigin = -46;
constexpr double kLatticeStarRadius = 33.12;
constexpr double kOrnamentStarRadius = 9;
constexpr double kOrnamentOuter = 170;
constexpr double kOrnamentInner = 18;
constexpr double kSubtitleSize = 24;

} // namespace

void WelcomeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const bool dark = Theme::isDark(palette());
    const double w = width();
    const double h = height();

    const QColor c1 = baseColor(dark);
    painter.fillRect(rect(), backdrop(size(), dark));

    // Star lattice, laid out from the bottom edge and overflowing every edge.
    painter.save();
    painter.setPen(QPen(Theme::withAlpha(Theme::gold(), dark ? 0.10 : 0.13), 1));
    painter.setBrush(Qt::NoBrush);
    for (int row = 0;; ++row) {
        const double y = kLatticeOrigin + kLatticeRowStep * row;
        if (y >= h + 2 * -kLatticeOrigin)
            break;
        for (double x = row % 2 == 0 ? kLatticeOrigin : 0; x < w + kLatticeStep; x += kLatticeStep)
            painter.drawPath(IconMaker::star(QPointF(x, h - y), kLatticeStarRadius));
    }
    painter.restore();

    // Glow behind the name.
    const QPointF glow = glowCenter(size());
    QRadialGradient halo(glow, std::min(w * 0.42, 520.0));
    halo.setColorAt(0, Theme::withAlpha(c1, 0.95));
    halo.setColorAt(1, Theme::withAlpha(c1, 0));
    painter.fillRect(rect(), halo);

    // The name, with a soft shadow below it.
    const QString title = QString::fromUtf8(displayName);
    const QFont titleFont = Theme::logo(titleSize(w));
    const QSizeF titleExtent = QFontMetricsF(titleFont).size(Qt::TextSingleLine, title);
    const QRectF titleRect(glow.x() - titleExtent.width() / 2, glow.y() - titleExtent.height() / 2,
                           titleExtent.width(), titleExtent.height());
    painter.setFont(titleFont);
    for (int dx = -2; dx <= 2; dx += 2) {
        for (int dy = 0; dy <= 4; dy += 2) {
            painter.setPen(QColor(0, 0, 0, 8));
            painter.drawText(titleRect.translated(dx, dy), Qt::AlignCenter | Qt::TextDontClip, title);
        }
    }
    painter.setPen(dark ? Theme::goldSoft() : Theme::emeraldDeep());
    painter.drawText(titleRect, Qt::AlignCenter | Qt::TextDontClip, title);

    // Ornament: two gold rules with a small solid star between them.
    const double y2 = titleRect.bottom() + 6;
    painter.setPen(QPen(Theme::withAlpha(Theme::gold(), 0.8), 1.2));
    painter.drawLine(QPointF(glow.x() - kOrnamentOuter, y2), QPointF(glow.x() - kOrnamentInner, y2));
    painter.drawLine(QPointF(glow.x() + kOrnamentInner, y2), QPointF(glow.x() + kOrnamentOuter, y2));
    painter.fillPath(IconMaker::star(QPointF(glow.x(), y2), kOrnamentStarRadius), Theme::gold());

    const QString subtitle = QString::fromUtf8(kSubtitle);
    const QFont subtitleFont = Theme::reader(kSubtitleSize, false);
    const QSizeF subtitleExtent = QFontMetricsF(subtitleFont).size(Qt::TextSingleLine, subtitle);
    painter.setFont(subtitleFont);
    painter.setPen(Theme::withAlpha(dark ? Theme::goldSoft() : Theme::emerald(), 0.85));
    painter.drawText(QRectF(glow.x() - subtitleExtent.width() / 2, y2 + 20, subtitleExtent.width(),
                            subtitleExtent.height()),
                     Qt::AlignCenter | Qt::TextDontClip, subtitle);
}

} // namespace quorvel
