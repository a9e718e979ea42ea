#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

namespace quorvel {

// A rounded badge: a gradient of its colour, a gold outline and centred bold
// white text. Its natural size is the text's width plus 26 by 24.
class PillView : public QWidget {
    Q_OBJECT
public:
    PillView(const QString& text, const QColor& color, QWidget* parent = nullptr);

    static constexpr int horizontalPadding = 26;
    static constexpr int pillHeight = 24;

    QString text() const { return text_; }
    void setText(const QString& text); // resizes and repaints
    QColor color() const { return color_; }
    void setColor(const QColor& color) { color_ = color; } // stores only

    QFont textFont() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
};

} // namespace quorvel
