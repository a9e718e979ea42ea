#pragma once

// Bringing a session document back into the main window. Each entry becomes
// a tab that stands in the strip at once (a PendingTab with the title and
// symbol its view will have) and whose view is made by its kind when the tab
// is first shown; what a view would refuse (an unknown kind, a book no longer
// in the library, a second Quran or assistant tab) is left out here already,
// so that a tab shown in the strip does not vanish when it is selected. A
// restored search tab runs its search again without recording it again. The
// window keeps the tabs and makes the views; this is the decoding and the
// deferral. GUI thread only.

#include "core/Json.h"

#include <QString>

namespace quorvel {

class MainWindowController;
class PendingTab;
class TabContent;

class SessionRestore {
public:
    explicit SessionRestore(MainWindowController& window) : window_(window) {}

    // Opens the tabs of a session document after the open ones and selects
    // its active tab (as MainWindowController::restoreSession says); false
    // when the text is not a session document.
    bool restore(const QString& json);
    // Makes the view of the pending tab at `index`, setting `made`; a Quran
    // tab waits while its text loads. False when no view can be made.
    bool realise(int index, bool& made);

private:
    // A tab for a session entry whose view is made when it is first shown;
    // nullptr when no view would take the entry up.
    PendingTab* pendingFor(const Json::Value& entry);
    // A view for a session entry, made by its kind and filled by its restore;
    // nullptr when no view takes the entry up.
    TabContent* tabFor(const Json::Value& entry);

    MainWindowController& window_;
};

} // namespace quorvel
