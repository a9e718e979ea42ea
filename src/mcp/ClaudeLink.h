#pragma once

// The link that registers this executable as a tool server in the outside AI
// client's configuration file, so that the client starts "quorvel --mcp"
// itself. Only the client's "mcpServers" member is touched, and in it only the
// entry "quorvel-library"; everything else in the file is written back as it
// was read, after a byte copy of the old file is kept beside it.

#include "core/UserError.h"

#include <QString>

namespace quorvel::ClaudeLink {

// A failure of the link, with the text shown to the user.
struct Error : UserError {
    using UserError::UserError;
};

// The entry's name, the same as the server name the tool server reports.
inline constexpr const char* name = "quorvel-library";

// The running executable's path.
QString binary();

// The configuration file: $QUORVEL_CLAUDE_CONFIG when set, else the client's
// file under the user's configuration folder.
QString configPath();
// The copy of the file as it was before the last write.
QString backupPath();

// Whether the client looks installed: the folder holding its configuration exists.
bool desktopInstalled();

// Whether the file holds our entry with the running executable as its command
// (its arguments are not looked at). A file that cannot be read is not linked.
bool linked();

// Adds (or replaces) our entry, or removes it. Throws Error, leaving the file
// as it was, when the file is not a JSON object or cannot be backed up or
// written; the write replaces the file in one step.
void link(bool on);

// The command that registers the server with the client's command-line tool,
// the executable's path quoted for a POSIX shell.
QString codeCommand();

// `text` as one word for a POSIX shell: in single quotes, each single quote
// written as '\''.
QString shellQuote(const QString& text);

// The link dialog's texts for the state it opens in.
struct DialogContent {
    QString message;     // the alert's title
    QString informative; // its text
    QString firstButton; // link or unlink
    bool firstEnabled = true;
    QString copyButton;
    QString closeButton;
};
DialogContent dialogContent(bool isLinked, bool isInstalled);

// The follow-up message after the first button: the title and the text.
struct FollowUp {
    QString title;
    QString text;
};
// Toggles the link as the first button does and says how it went.
FollowUp toggle();
// The follow-up message after the command was copied.
FollowUp copied();

} // namespace quorvel::ClaudeLink
