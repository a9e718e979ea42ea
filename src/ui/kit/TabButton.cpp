#include "ui/kit/TabButton.h"

#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/Theme.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/Widgets.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {
constexpr double kSymbolSize = 13;
constexpr double kTitleSize = 13;
constexpr double kCloseAlpha = 0.85;
constexpr char kCloseTip[] = "إغلاق";

// The narrowest the title may be drawn: all of it when short, else its first
// characters and the ellipsis, with the room of one more letter, since the
// kept letters are measured in the joined forms of the whole title.
int keptTitleWidth(const QFont& font, const QString& title)
{
    const QFontMetricsF metrics(font);
    const qsizetype kept = Characters::endOfFirst(title, TabButton::keptTitleCharacters);
    if (kept >= title.size())
        return int(std::ceil(metrics.horizontalAdvance(title))) + 1;
    return int(std::ceil(metrics.horizontalAdvance(title.left(kept) + QChar(0x2026)) + metrics.averageCharWidth()));
}
} // namespace

TabButton::TabButton(const QString& title, const QString& icon, bool active, std::function<void()> select,
                     std::function<void()> close, QWidget* parent)
    : QWidget(parent), active_(active), select_(std::move(select))
{
    auto* image = new QLabel;
    // Painted again in the accent of a new appearance.
    followPalette(image, [image, icon] {
        const QPixmap symbol = Theme::symbolPixmap(icon, kSymbolSize, {Theme::accent().resolve(), Theme::gold()});
        if (!symbol.isNull())
            image->setPixmap(symbol);
    });
    image->setFixedSize(int(kSymbolSize), int(kSymbolSize));

    title_ = label(title, kTitleSize, active ? QFont::Medium : QFont::Normal);
    title_->setElideMode(Qt::ElideRight);
    // A book told apart from another edition of its title keeps that part in
    // view: the shared title is shortened first.
    if (const qsizetype cut = title.indexOf(QString::fromUtf16(BookTitles::separator)); cut > 0)
        title_->setLead(title.left(cut));
    title_->setMaximumWidth(maxTitleWidth);
    title_->setMinimumWidth(std::min(maxTitleWidth, keptTitleWidth(title_->font(), title)));

    // The box in the hit colour of each appearance; its × takes the mark
    // colour that reads on it, so it shows by day and by night.
    const ThemeColor hit = Theme::hitSymbol();
    const ThemeColor closeBox(Theme::withAlpha(hit.light(), kCloseAlpha), Theme::withAlpha(hit.dark(), kCloseAlpha));
    close_ = iconButton(QStringLiteral("xmark.square.fill"), QString::fromUtf8(kCloseTip), kSymbolSize, {closeBox},
                        QFont::Normal, std::move(close));

    pin(this, hstack({image, title_, close_}, 6), Insets{3, 10, 3, 4});
    setToolTip(title);
    setAccessibleName(title);
    // Gives way to the strip's room down to the title's floor, never grows.
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    // Reached with Tab, taken with Space or Return; a click selects without
    // moving the keyboard's place.
    setFocusPolicy(Qt::TabFocus);
}

void TabButton::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && select_) {
        event->accept();
        select_();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TabButton::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (select_)
        select_();
}

void TabButton::paintEvent(QPaintEvent*)
{
    constexpr double kCornerRadius = 5;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double k = kCornerRadius;

    // Open at the bottom: the tab merges into the content below it.
    QPainterPath path;
    path.moveTo(r.left(), r.bottom());
    path.lineTo(r.left(), r.top() + k);
    path.arcTo(QRectF(r.left(), r.top(), 2 * k, 2 * k), 180, -90);
    path.lineTo(r.right() - k, r.top());
    path.arcTo(QRectF(r.right() - 2 * k, r.top(), 2 * k, 2 * k), 90, -90);
    path.lineTo(r.right(), r.bottom());

    const QPalette& pal = palette();
    painter.fillPath(path, active_ ? Theme::panel().resolve(pal) : Theme::tabIdle().resolve(pal));
    painter.setPen(QPen(Theme::barLine().resolve(pal), 1));
    painter.drawPath(path);
    if (active_)
        painter.fillRect(QRectF(r.left() + 1, r.top() + 0.5, r.width() - 2, 2), Theme::gold());
    if (hasFocus())
        paintFocusRing(painter, *this, k);
}

} // namespace quorvel
