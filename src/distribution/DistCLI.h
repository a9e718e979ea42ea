#pragma once

// The distribution tool: the headless mode that verifies a signed release,
// installs books from one into the local store and builds the vectors of the
// search by meaning. The process entry hands it the whole argument list when
// any argument is one of its five switches.

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace quorvel {

namespace DistCLI {

// Where the tool's lines go: each call receives one line without its line feed.
struct Output {
    std::function<void(const QString&)> out;
    std::function<void(const QString&)> err;
};

// Runs the tool over the full argument list (program path first) and returns
// the exit status: 0 success, 1 refusal or failure, 2 nothing to do (also the
// signing switches, which only print where signing happens). Lines go to
// standard output, the vector build's failure to standard error.
int run(const QStringList& args);
int run(const QStringList& args, const Output& output);

// The book ids of an id list: split at ",", empty pieces dropped, pieces that
// are not plain decimal integers dropped silently.
QSet<std::int64_t> parseIds(const QString& text);

} // namespace DistCLI
} // namespace quorvel
