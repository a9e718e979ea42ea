#include "ui/shell/ProgressLine.h"

#include "core/Arabic.h"
#include "ui/kit/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace quorvel {

ProgressLine::ProgressLine(QWidget* parent) : QWidget(parent)
{
    constexpr char kStop[] = "إيقاف";
    constexpr double kTextSize = 12;
    constexpr int kBarWidth = 220;
    constexpr int kBarHeight = 8;
    constexpr int kInsetH = 12;
    constexpr int kInsetV = 4;
    label_ = quorvel::label(QString(), kTextSize);
    bar_ = new QProgressBar;
    bar_->setTextVisible(false);
    bar_->setFixedSize(kBarWidth, kBarHeight);
    stop_ = textButton(QString::fromUtf8(kStop), QStringLiteral("xmark"), [this] {
        stop_->setEnabled(false);
        if (onStop)
            onStop();
    });
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kInsetH, kInsetV, kInsetH, kInsetV);
    row->addWidget(label_);
    row->addWidget(bar_);
    row->addWidget(stop_);
    row->addStretch(1);
    hide();
}

void ProgressLine::report(const QString& text, qint64 done, qint64 total)
{
    constexpr char kOf[] = " / ";
    // The bar counts in thousandths: a total past an int's range still fits.
    constexpr int kBarSteps = 1000;
    if (isHidden())
        stop_->setEnabled(true);
    label_->setText(total > 0 ? text + Arabic::num(done) + QString::fromUtf8(kOf) + Arabic::num(total) : text);
    if (total > 0) {
        bar_->setRange(0, kBarSteps);
        bar_->setValue(int(std::clamp<qint64>(done * kBarSteps / total, 0, kBarSteps)));
    } else {
        bar_->setRange(0, 0);
    }
    show();
}

void ProgressLine::finish()
{
    hide();
}

} // namespace quorvel
