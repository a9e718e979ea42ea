#pragma once

// The windowed application: its start-up in one pass on the GUI thread (fonts,
// developer switches, locating and opening the library, the main window) and
// what happens when it ends.

#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QStringList>

#include <functional>
#include <optional>

namespace quorvel {

class MainWindowController;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    // The developer harness behind "--snapshot <dir>". It lives on the floor
    // above the shell, so the entry point hands it in; without one the switch
    // only keeps the session from being saved.
    struct Harness {
        // Why the job the environment asks for must not run; nothing when it may.
        std::function<std::optional<QString>(const QProcessEnvironment&)> refusal;
        // Runs the job on the started window and returns the exit status.
        std::function<int(MainWindowController&, const QString& dir)> run;
        int refusedStatus = 2;
    };

    // Runs the windowed application for the process's arguments (program path
    // first) and returns its exit status. Creates the application object;
    // there must be none yet.
    static int run(int argc, char** argv, Harness harness);

    AppDelegate(QStringList arguments, QProcessEnvironment environment, QObject* parent = nullptr);
    ~AppDelegate() override;

    enum class Outcome {
        Running, // the main window is up; the event loop should run
        Exit,    // start-up ended the application; exitStatus() says how
    };

    // The start-up sequence. With an application object present, no event
    // loop needed: every dialog goes through Dialogs.
    Outcome applicationDidFinishLaunching();
    // Saves the session when the application ends.
    void applicationWillTerminate();

    void setHarness(Harness harness) { harness_ = std::move(harness); }

    int exitStatus() const { return exitStatus_; }
    MainWindowController* mainWC() const;

    // Applies the interface language, direction, style and palette to the
    // application object, once per application object.
    static void prepareApplication();
    // Gives the application the light or, with night reading on, the dark palette.
    static void applyAppearance();

private:
    bool openLibrary();
    // Alerts, once per launch, that the user database cannot keep the
    // user's data, when the library says so.
    void tellUserDataFault();
    // Alerts that the preferences file could not be saved, with the reason;
    // the store posts its notice once per run of failed saves.
    void tellPreferencesFault();

    QStringList arguments_;
    QProcessEnvironment environment_;
    QPointer<MainWindowController> mainWC_;
    Harness harness_;
    int exitStatus_ = 0;
    bool userDataFaultTold_ = false;
};

} // namespace quorvel
