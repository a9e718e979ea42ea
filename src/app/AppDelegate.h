#pragma once

// The windowed application: its start-up in one pass on the GUI thread (fonts,
// developer switches, locating and opening the library, the main window) and
// what happens when it ends.

#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QStringList>

#include <optional>

namespace quorvel {

class MainWindowController;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Runs the windowed application for the process's arguments (program path
    // first) and returns its exit status. Creates the application object;
    // there must be none yet.
    static int run(int argc, char** argv);

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

    int exitStatus() const { return exitStatus_; }
    MainWindowController* mainWC() const;

    // Applies the interface language, direction, style and palette to the
    // application object, once per application object.
    static void prepareApplication();
    // Gives the application the light or, with night reading on, the dark palette.
    static void applyAppearance();

    static constexpr const char* dbPathKey = "dbPath";

private:
    std::optional<QString> askForDatabase();
    bool openLibrary();

    QStringList arguments_;
    QProcessEnvironment environment_;
    QPointer<MainWindowController> mainWC_;
    int exitStatus_ = 0;
};

} // namespace quorvel
