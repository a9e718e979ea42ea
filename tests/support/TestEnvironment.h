#pragma once

#include <QString>
#include <QtGlobal>

#include <gtest/gtest.h>

namespace quorvel::test {

// Points HOME, the XDG folders and every QUORVEL_* database path at a fresh
// temporary folder, so that no test touches the user's real files. Called once
// by each suite's main before the application object exists.
void isolateUserFiles();

// tests/data in the source tree.
QString dataPath(const QString& relative = {});

// After the last test, a failure for each shared sample store a test of the
// process wrote into.
::testing::Environment* sharedStoresUntouched();

// A suite's whole main: isolated user files, an application object of type App
// on the offscreen platform, then every test; returns the tests' exit status.
template <typename App>
int runSuite(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    isolateUserFiles();
    App app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(sharedStoresUntouched());
    return RUN_ALL_TESTS();
}

} // namespace quorvel::test
