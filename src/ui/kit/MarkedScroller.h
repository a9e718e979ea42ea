#pragma once

#include <QList>
#include <QRectF>
#include <QScrollBar>

namespace quorvel {

// A vertical scroll bar that paints the positions of search hits into its
// track. Each mark is a position in the document as a fraction (0 = top).
class MarkedScroller : public QScrollBar {
    Q_OBJECT
public:
    explicit MarkedScroller(QWidget* parent = nullptr);

    QList<double> marks() const { return marks_; }
    void setMarks(const QList<double>& marks); // always repaints

    // The rectangles of the marks in a track: one per finite mark, clamped to
    // 0…1, 4 pixels high and centred on its position, 2 pixels in from the sides.
    static QList<QRectF> markRects(const QList<double>& marks, const QRectF& slot);
    // The track rectangle of this scroll bar.
    QRectF slotRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<double> marks_;
};

} // namespace quorvel
