// The one executable: pick the mode from the arguments and run it.

#include "assistant/AssistantCLI.h"
#include "core/ModeDispatch.h"
#include "core/Preferences.h"
#include "distribution/DistCLI.h"
#include "distribution/Updater.h"
#include "mcp/MCPServer.h"
#include "scholar/SmartCLI.h"
#include "search/SearchCLI.h"
#include "ui/shell/AppDelegate.h"
#include "ui/snapshot/Snapshot.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>

using quorvel::ModeDispatch;

namespace {

// The whole argument list, program path included, as every mode receives it.
QStringList argumentList(int argc, char** argv)
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// A mode whose subsystem this build does not contain: one line naming it, status 2.
int notAvailable(const QString& mode)
{
    std::fprintf(stderr, "quorvel: mode %s is not available in this build\n", qPrintable(mode));
    return 2;
}

// Printed instead of the toolkit's abort when the window has no display.
constexpr const char* kNoDisplayLine =
    "quorvel: لا شاشة لعرض النافذة (لا DISPLAY ولا WAYLAND_DISPLAY). الأوضاع التي تعمل دون نوافذ مذكورة في README.\n";

// Whether the window's platform can reach a display. Platforms other than the
// desktop ones (offscreen, minimal, vnc, …) bring their own.
bool hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool x11 = !qgetenv("DISPLAY").isEmpty();
    const bool wayland = !qgetenv("WAYLAND_DISPLAY").isEmpty();
    if (platform.isEmpty())
        return x11 || wayland;
    if (platform.startsWith("xcb"))
        return x11;
    if (platform.startsWith("wayland"))
        return wayland || (platform.contains("xcb") && x11);
    return true;
}

QtMessageHandler toolkitHandler = nullptr;

// A display that is named but cannot be reached only shows when the toolkit
// starts, as a warning and then a fatal error: turn both into the one line.
void displayFailureHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool platformFailure = message.contains(QLatin1String("platform plugin"))
        || message.contains(QLatin1String("could not connect to display"));
    if (platformFailure && type == QtFatalMsg) {
        std::fputs(kNoDisplayLine, stderr);
        std::_Exit(1);
    }
    if (platformFailure)
        return;
    if (toolkitHandler)
        toolkitHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    // Past a file-size limit a write is to fail with its error, which every
    // writer reports, rather than end the process.
    std::signal(SIGXFSZ, SIG_IGN);

    // Headless modes run without an application object; give them the name the
    // windowed application takes from its executable, so paths agree.
    QCoreApplication::setApplicationName(QStringLiteral("quorvel"));

    const QStringList arguments = argumentList(argc, argv);
    // Defaults given on the command line as "-key value" apply in every mode.
    quorvel::Preferences::standard().registerArguments(arguments);
    const ModeDispatch choice = ModeDispatch::choose(arguments);

    switch (choice.mode) {
    case ModeDispatch::Mode::Mcp:
        quorvel::MCPServer::run();
        return 0;
    case ModeDispatch::Mode::Dist:
        return quorvel::DistCLI::run(arguments);
    case ModeDispatch::Mode::SearchCli:
        return quorvel::SearchCLI::run(arguments);
    case ModeDispatch::Mode::Window:
        if (!hasDisplay()) {
            std::fputs(kNoDisplayLine, stderr);
            return 1;
        }
        toolkitHandler = qInstallMessageHandler(displayFailureHandler);
        return quorvel::AppDelegate::run(argc, argv, {quorvel::Snapshot::refusal, quorvel::Snapshot::run,
                                                      quorvel::Snapshot::refusedStatus});
    case ModeDispatch::Mode::CheckUpdate:
        return quorvel::Updater::runCommandLine(argc, argv);
    case ModeDispatch::Mode::Smart:
        return quorvel::SmartCLI::run(arguments);
    case ModeDispatch::Mode::Ai:
        return quorvel::AssistantCLI::run(argc, argv, choice.aiMode, choice.aiQuestion);
    }
    return notAvailable(choice.switchName());
}
