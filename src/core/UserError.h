#pragma once

// The base of every failure meant for the user: it carries the Arabic
// sentence that the windows show with Dialogs::alert, the command line
// prints and the tool server returns. Each subsystem throws its own kind
// (the distribution's refusals, the tool server's tool errors, the client
// link's failures), so a catcher may take one kind or all of them.

#include <QString>

#include <stdexcept>

namespace quorvel {

class UserError : public std::runtime_error {
public:
    explicit UserError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

} // namespace quorvel
