// The main of every headless test suite: an isolated home, a GUI application
// on the offscreen platform (no widgets), then every registered test class.
#include "TestRegistry.h"
#include "TestSupport.h"

#include <QGuiApplication>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VarnoTest::TempHome home;
    QGuiApplication app(argc, argv);
    return VarnoTest::runRegisteredTests(argc, argv);
}
