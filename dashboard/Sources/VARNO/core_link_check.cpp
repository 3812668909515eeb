// Linked with the whole of varno_core and nothing from Qt Widgets: if any part
// of the headless library needs widgets, this program fails to link.
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return 0;
}
