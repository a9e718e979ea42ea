#pragma once

#include <QString>

namespace quorvel::test {

// Points HOME, the XDG folders and every QUORVEL_* database path at a fresh
// temporary folder, so that no test touches the user's real files. Called once
// by each suite's main before the application object exists.
void isolateUserFiles();

// The per-process temporary root created by isolateUserFiles().
QString scratchRoot();

// tests/data in the source tree.
QString dataPath(const QString& relative = {});

} // namespace quorvel::test
