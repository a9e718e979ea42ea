#pragma once

// The dialog through which the user links the library to the outside AI
// client, unlinks it, or copies the registration command.

#include "mcp/ClaudeLink.h"

#include <functional>

class QWidget;

namespace quorvel::ClaudeLink {

enum class Choice { First, Copy, Close };

// Shows the dialog application-modally, then acts on the button pressed and
// shows its follow-up message on `window` (modal when there is none).
void showDialog(QWidget* window);

// Answers the three-button question in place of the user (tests); an empty
// function restores the real dialog. Returns the previous one.
using Chooser = std::function<Choice(const DialogContent&)>;
Chooser setChooser(Chooser chooser);

} // namespace quorvel::ClaudeLink
