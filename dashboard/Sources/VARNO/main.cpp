#include "base/Logging.h"
#include "engine/CLIBootstrap.h"
#include "kit/FontRegistry.h"
#include "platform/ChildProcesses.h"
#include "platform/QuitSignals.h"
#include "shell/AppDelegate.h"
#include "shell/SingleInstance.h"
#include "shell/TrayHost.h"
#include "shell/VarnoApplication.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    VarnoLogging::install();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VARNO Workshop"));
    QApplication::setOrganizationDomain(QStringLiteral("varno.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.varno.workshop"));

    // One app per user: a second start hands its URLs over and ends.
    const QStringList urls = QApplication::arguments().mid(1);
    SingleInstance instance;
    if (instance.forwardToRunning(urls))
        return 0;
    // Two starts at once: the one that lost the race hands over and ends.
    if (!instance.listen() && instance.anotherInstanceAnswered() && instance.handOver(urls))
        return 0;

    FontRegistry::registerBundledFonts();
    // A request to end that comes as a signal (the session ending) quits the
    // app as its Quit command does.
    QuitSignals::install();

    AppDelegate delegate;
    VarnoApplication scenes(&delegate, TrayHost::trayAvailable());
    QObject::connect(&instance, &SingleInstance::messageReceived, &scenes, &VarnoApplication::handleMessage);
    scenes.start();
    // URLs given to this first start are opened once the app has started.
    if (!urls.isEmpty())
        delegate.openURLs(urls);

    // Quitting ends every engine child that still runs (and whatever it
    // started), after a short grace; a run that owns one is never resumed.
    // A bootstrap whose step has so been ended gives up before the app goes.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] {
        ChildProcesses::shutDown();
        CLIBootstrap::waitForRunToEnd(ChildProcesses::quitGraceMs);
    });

    return app.exec();
}
