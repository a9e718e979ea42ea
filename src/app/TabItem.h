#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace quorvel {

// One tab of the main window: its kind of content, the content view and the
// title shown on the tab. Shared by reference; callbacks that rename a tab
// hold it weakly.
class TabItem {
public:
    enum class Kind { Book, Search, Ai, Quran };

    TabItem(Kind kind, QWidget* view, const QString& title) : kind_(kind), view_(view), title(title) {}

    Kind kind() const { return kind_; }
    // The content view; empty once the view has been destroyed.
    QWidget* view() const { return view_; }
    // The symbol shown on the tab.
    QString icon() const { return iconFor(kind_); }
    static QString iconFor(Kind kind);

private:
    Kind kind_;
    QPointer<QWidget> view_;

public:
    QString title;
};

} // namespace quorvel
