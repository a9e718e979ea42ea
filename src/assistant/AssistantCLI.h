#pragma once

// The assistant's command-line mode ("--ai <mode> <question>"): one question
// answered against the library, printed as one JSON line with the answer's
// text, tier, passages (number, book, sequence) and extracted sentences.

#include <QString>

namespace quorvel::AssistantCLI {

// Printed on standard output, with status 2, when the library cannot be
// found or opened or the mode is unknown.
inline constexpr const char* badArguments = "bad arguments";


// Opens the library (before the mode is checked), answers on this thread
// under an application object made here when there is none, prints the line,
// stops the local model's server and returns 0; prints "bad arguments" and
// returns 2 when the library or the mode is missing.
int run(int argc, char** argv, const QString& modeName, const QString& question);

} // namespace quorvel::AssistantCLI
