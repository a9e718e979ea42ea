#include "core/ModeDispatch.h"

namespace quorvel {

const QStringList& ModeDispatch::distSwitches()
{
    static const QStringList switches = {
        QStringLiteral("--gen-signing-key"), QStringLiteral("--sign-index"),
        QStringLiteral("--verify-index"),    QStringLiteral("--dist-install"),
        QStringLiteral("--build-vectors"),
    };
    return switches;
}

ModeDispatch ModeDispatch::choose(const QStringList& arguments)
{
    ModeDispatch choice;
    if (arguments.contains(QStringLiteral("--mcp"))) {
        choice.mode = Mode::Mcp;
        return choice;
    }
    for (const QString& argument : arguments) {
        if (distSwitches().contains(argument)) {
            choice.mode = Mode::Dist;
            choice.distSwitch = argument;
            return choice;
        }
    }
    if (arguments.contains(QStringLiteral("--check-update"))) {
        choice.mode = Mode::CheckUpdate;
        return choice;
    }
    // Only the first "--ai" counts; a later one is an ordinary mode name or question.
    const qsizetype ai = arguments.indexOf(QStringLiteral("--ai"));
    if (ai >= 0 && ai + 2 < arguments.size()) {
        choice.mode = Mode::Ai;
        choice.aiMode = arguments.at(ai + 1);
        choice.aiQuestion = arguments.at(ai + 2);
        return choice;
    }
    if (arguments.contains(QStringLiteral("--smart"))) {
        choice.mode = Mode::Smart;
        return choice;
    }
    if (arguments.contains(QStringLiteral("--search-cli"))) {
        choice.mode = Mode::SearchCli;
        return choice;
    }
    choice.mode = Mode::Window;
    return choice;
}

QString ModeDispatch::switchName() const
{
    switch (mode) {
    case Mode::Mcp: return QStringLiteral("--mcp");
    case Mode::Dist: return distSwitch;
    case Mode::CheckUpdate: return QStringLiteral("--check-update");
    case Mode::Ai: return QStringLiteral("--ai");
    case Mode::Smart: return QStringLiteral("--smart");
    case Mode::SearchCli: return QStringLiteral("--search-cli");
    case Mode::Window: return QStringLiteral("window");
    }
    return {};
}

} // namespace quorvel
