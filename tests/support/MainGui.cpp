#include <QApplication>

#include "support/TestEnvironment.h"

int main(int argc, char** argv)
{
    return quorvel::test::runSuite<QApplication>(argc, argv);
}
