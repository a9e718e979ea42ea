#pragma once

#include <QList>
#include <QPainterPath>
#include <QRadialGradient>
#include <QPair>
#include <QString>
#include <QWidget>

#include <functional>

namespace quorvel {

class Label;
class StackView;

// The main window's empty state: an ornamented backdrop with the application's
// name, and a row of up to five recently read books to continue with.
class WelcomeView : public QWidget {
    Q_OBJECT
public:
    using Entry = QPair<QString, std::function<void()>>;

    explicit WelcomeView(QWidget* parent = nullptr);

    static constexpr int maxRecent = 5;
    static constexpr int maxButtonWidth = 240;

    // Replaces the books offered and rebuilds the row.
    void setRecent(const QList<Entry>& recent);
    const QList<Entry>& recent() const { return recent_; }

    StackView* recentStack() const { return recentStack_; }
    Label* recentTitle() const { return recentTitle_; }

    // The background's radial gradient for a view size in either appearance,
    // and the lightest of its colours.
    static QRadialGradient backdrop(const QSizeF& size, bool dark);
    static QColor baseColor(bool dark);
    // Backdrop geometry for a view size: the name's font size and the centre
    // of the glow (the name is centred on it).
    static double titleSize(double width);
    static QPointF glowCenter(const QSizeF& size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void rebuildRecent();

    QList<Entry> recent_;
    StackView* recentStack_ = nullptr;
    Label* recentTitle_ = nullptr;
};

} // namespace quorvel
