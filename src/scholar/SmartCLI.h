#pragma once

// The scholarly-tools command line: "quorvel --smart <tool> <args>" runs one
// tool over the library database and prints its result as one compact JSON
// object (keys sorted, UTF-8, "/" unescaped) with the time it took. Failures
// write one line on stderr, print nothing on stdout and exit 2; a library
// that cannot answer (a missing table, no text-reuse data, a damaged file)
// exits 1 with what is wrong with it.

#include "core/Json.h"
#include "scholar/Morph.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace quorvel::SmartCLI {

// The usage text, 15 lines without a final line feed.
extern const QString usage;

// Runs the tool the arguments name (the whole argument list, program first);
// the exit status: 0, 1 when the library cannot answer, or 2 on any other
// failure.
int run(const QStringList& args);

// Writes `message` and a line feed to stderr.
void warn(const QString& message);
// Writes `message` and a line feed to stderr; 2.
int fail(const QString& message);
// Prints the object and a line feed on stdout; 0, or fail("JSON"). (Qt
// reserves the plain name "emit" as a keyword macro.)
int emitJSON(const Json::Value& object);
// The object `work` makes, with its wall-clock time added as "ms".
Json::Value timed(const std::function<Json::Value()>& work);
// Milliseconds formatted with "%.1f" and read back as a number.
double ms(double milliseconds);
Json::Value morphJSON(const MorphResult& result);

} // namespace quorvel::SmartCLI
