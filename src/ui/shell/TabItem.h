#pragma once

#include "ui/kit/TabContent.h"
#include "ui/reader/ReaderView.h"

#include <QPointer>
#include <QString>

namespace quorvel {

// One tab of the main window: its content view, which gives the tab its
// title and symbol. Shared by reference; callbacks that outlive a tab hold
// it weakly.
class TabItem {
public:
    explicit TabItem(TabContent* content) : content_(content) {}

    // The content view; empty once the view has been destroyed.
    TabContent* content() const { return content_; }
    // Puts the view made for a pending tab in its place.
    void setContent(TabContent* content) { content_ = content; }
    QWidget* view() const { return content_; }
    // The reader of a book tab; nullptr for any other tab.
    ReaderView* reader() const { return qobject_cast<ReaderView*>(content_.data()); }
    // The title and the symbol shown on the tab; empty without a view.
    QString title() const { return content_ ? content_->title() : QString(); }
    QString icon() const { return content_ ? content_->symbol() : QString(); }

private:
    QPointer<TabContent> content_;
};

} // namespace quorvel
