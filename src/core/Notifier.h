#pragma once

#include <QObject>

namespace quorvel {

// The process's change notices. Posting a notice is emitting its signal on the
// one shared notifier; observers connect to it. Notices carry no object.
class Notifier : public QObject {
    Q_OBJECT
public:
    static constexpr const char* libraryChangedName = "quorvel.libraryChanged";
    static constexpr const char* userDataChangedName = "quorvel.userDataChanged";
    static constexpr const char* readerSettingsChangedName = "quorvel.readerSettingsChanged";

    static Notifier& shared();

    static void postLibraryChanged() { emit shared().libraryChanged(); }
    static void postUserDataChanged() { emit shared().userDataChanged(); }
    static void postReaderSettingsChanged() { emit shared().readerSettingsChanged(); }
    static void postUserDataUnwritable() { emit shared().userDataUnwritable(); }
    static void postPreferencesUnwritable() { emit shared().preferencesUnwritable(); }
    static void postLocalEngineChanged() { emit shared().localEngineChanged(); }

signals:
    void libraryChanged();
    void userDataChanged();
    void readerSettingsChanged();
    // A write to the user database failed for the first time (see
    // Library::userDataFault).
    void userDataUnwritable();
    // A preference save failed after the last one that succeeded (see
    // Preferences::saveFault).
    void preferencesUnwritable();
    // The local model's server began or ended a start, or stopped; posted
    // from whichever thread changed it.
    void localEngineChanged();

private:
    Notifier() = default;
};

} // namespace quorvel
