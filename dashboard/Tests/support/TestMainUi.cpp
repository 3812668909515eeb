// The main of every widget test suite: an isolated home, a widget application
// on the offscreen platform, then every registered test class.
#include "TestRegistry.h"
#include "TestSupport.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VarnoTest::TempHome home;
    QApplication app(argc, argv);
    return VarnoTest::runRegisteredTests(argc, argv);
}
