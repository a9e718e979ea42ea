#include <QGuiApplication>

#include "support/TestEnvironment.h"

// Engine suites run without a display, but some paint images (charts, icons),
// which needs a GUI application on the offscreen platform.
int main(int argc, char** argv)
{
    return quorvel::test::runSuite<QGuiApplication>(argc, argv);
}
