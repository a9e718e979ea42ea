#pragma once

#include <QLayout>
#include <QList>

namespace quorvel {

// A row of views that, when the row is too narrow for all of them at their
// preferred widths, carries the views that do not fit onto further lines,
// instead of squeezing them or laying them over one another. On one line the
// last view stands at the line's far end (a dismiss button, a search field
// across the bar from its commands); on several lines each starts at the
// leading edge. Lines are at least `lineHeight` high, their views centred in
// them. Follows the parent's layout direction.
class WrapLayout : public QLayout {
public:
    explicit WrapLayout(QWidget* parent, int spacing, int lineHeight = 0);
    ~WrapLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Lays the views out in `rect` (moving them only when `place`); the
    // height the lines take.
    int arrange(const QRect& rect, bool place) const;

    QList<QLayoutItem*> items_;
    int lineHeight_;
};

} // namespace quorvel
