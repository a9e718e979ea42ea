#pragma once

// The choice of the process's one mode from its command-line arguments. It is a
// pure function of the argument list so that the precedence of the switches can
// be tested without running any mode.

#include <QString>
#include <QStringList>

namespace quorvel {

struct ModeDispatch {
    enum class Mode {
        Mcp,         // the tool server for an outside AI client
        Dist,        // the distribution tool
        CheckUpdate, // the application update check
        Ai,          // one question answered by the assistant
        Smart,       // the scholarly-tools tool
        SearchCli,   // the search benchmark tool
        Window,      // the windowed application
    };

    Mode mode = Mode::Window;
    QString aiMode;     // the word after "--ai" (Mode::Ai only)
    QString aiQuestion; // the argument after that (Mode::Ai only)
    QString distSwitch; // the first distribution switch present (Mode::Dist only)

    // The five switches of the distribution tool, in their fixed order.
    static const QStringList& distSwitches();

    // Picks the mode for the full argument list (program path included). Every
    // test is whole-argument, case-sensitive equality; the first rule that
    // applies wins: "--mcp"; a distribution switch; "--check-update"; the first
    // "--ai" followed by at least two more arguments; "--smart"; "--search-cli";
    // otherwise the window. An "--ai" with fewer than two arguments after it is
    // not an error: the choice simply goes on.
    static ModeDispatch choose(const QStringList& arguments);

    // The switch that selected the mode, for messages ("--mcp", …); "window"
    // for the windowed application.
    QString switchName() const;
};

} // namespace quorvel
