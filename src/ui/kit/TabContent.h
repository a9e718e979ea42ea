#pragma once

// What the main window knows of the content of a tab. Every tab view (the
// reader, the search results, the assistant, the Quran) is a TabContent; the
// shell makes the views and talks to them only through these calls, so a new
// kind of tab needs no change to the window, its strip or its session code.

#include "core/Json.h"

#include <QString>
#include <QWidget>

namespace quorvel {

class ReaderView;

class TabContent : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The text on the tab.
    virtual QString title() const = 0;
    // The name of the tab's symbol in the icon set.
    virtual QString symbol() const = 0;

    // The tab's entry in the session document: an object whose "k" names the
    // kind of tab, with whatever the view needs to come back as it was.
    virtual Json::Value sessionJSON() const = 0;
    // Takes up an entry that sessionJSON of the same kind of view wrote;
    // false, leaving the view as it was, when the entry is not one it can show.
    virtual bool restore(const Json::Value& entry) = 0;

    // The tab was brought to the front, or another one replaced it there.
    virtual void activate() {}
    virtual void deactivate() {}
    // The reader the window's page and hit commands act on: a book tab's
    // own, or the one a results tab shows; nullptr when there is none.
    virtual ReaderView* currentReader() { return nullptr; }
    // Asked before the tab closes; false keeps it open (work left to save).
    virtual bool requestClose() { return true; }
};

} // namespace quorvel
