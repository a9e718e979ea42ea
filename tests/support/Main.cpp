#include <QGuiApplication>
#include <gtest/gtest.h>

#include "support/TestEnvironment.h"

// Engine suites run without a display, but some paint images (charts, icons),
// which needs a GUI application on the offscreen platform.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    quorvel::test::isolateUserFiles();
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
