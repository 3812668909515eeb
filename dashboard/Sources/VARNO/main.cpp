#include "platform/Logging.h"
#include "shell/FontRegistry.h"
#include "workshop/WorkshopWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    VarnoLogging::install();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VARNO Workshop"));
    QApplication::setOrganizationDomain(QStringLiteral("varno.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.varno.workshop"));

    FontRegistry::registerBundledFonts();

    WorkshopWindow window;
    window.show();
    return app.exec();
}
