#include <QApplication>
#include <gtest/gtest.h>

#include "support/TestEnvironment.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    quorvel::test::isolateUserFiles();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
