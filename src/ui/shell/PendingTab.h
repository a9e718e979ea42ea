#pragma once

// A tab whose view is not made yet: a tab of a restored session that has not
// been shown, or one waiting for what its view needs (the Quran text, loaded
// off the GUI thread). It stands in the strip with the title and symbol its
// view will have, shows an empty page while it is shown, and writes its
// session entry back exactly as it was given, so a session saved before the
// tab was ever shown loses nothing. The main window makes the real view with
// make() and puts it in the tab's place. GUI thread only.

#include "ui/kit/TabContent.h"

#include <QList>

#include <functional>

namespace quorvel {

class PendingTab : public TabContent {
    Q_OBJECT
public:
    // `make` returns the tab's view, or nullptr when none can be made any
    // more (the book left the library, there is no Quran): the tab then goes.
    PendingTab(Json::Value entry, QString title, QString symbol, std::function<TabContent*()> make,
               QWidget* parent = nullptr);

    // The entry's kind ("book", "search", "quran", "ai").
    QString kind() const;
    const Json::Value& entry() const { return entry_; }
    // Makes the view, then runs the steps asked for meanwhile on it.
    TabContent* make() const;
    // A step for the view once it is made (a verse to show, a field to focus).
    void afterMade(std::function<void(TabContent*)> step) { steps_.append(std::move(step)); }

    // TabContent.
    QString title() const override { return title_; }
    QString symbol() const override { return symbol_; }
    Json::Value sessionJSON() const override { return entry_; }
    bool restore(const Json::Value&) override { return false; }

private:
    Json::Value entry_;
    QString title_;
    QString symbol_;
    std::function<TabContent*()> make_;
    QList<std::function<void(TabContent*)>> steps_;
};

} // namespace quorvel
