#pragma once

// A line under the main window's top bar for a long job the reader started:
// what it is doing with how far it got, a bar, and a button of its own that
// stops it. Hidden while no job reports. GUI thread only.

#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quorvel {

class ProgressLine : public QWidget {
    Q_OBJECT
public:
    explicit ProgressLine(QWidget* parent = nullptr);

    // Shows `text` with `done` of `total` (an unknown total: a busy bar).
    void report(const QString& text, qint64 done, qint64 total);
    // Hides the line once the job has ended.
    void finish();

    // Asked for by the stop button; the line stays until the job ends.
    std::function<void()> onStop;

    QLabel* label() const { return label_; }
    QProgressBar* bar() const { return bar_; }
    QPushButton* stopButton() const { return stop_; }

private:
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* stop_ = nullptr;
};

} // namespace quorvel
