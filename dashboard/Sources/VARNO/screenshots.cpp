// varno-screenshots [DIR]: renders every registered window, sheet and panel
// state to DIR/<scene>-<dark|light>.png, offscreen.

#include "kit/FontRegistry.h"
#include "platform/Appearance.h"
#include "platform/Logging.h"
#include "shell/ScreenshotRegistry.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTextStream>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    VarnoLogging::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VARNO Workshop"));

    const QStringList args = QApplication::arguments();
    const QString outDir = args.size() > 1 ? args.at(1) : QStringLiteral("screenshots");
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "Couldn't create the folder %s.\n", qPrintable(outDir));
        return 1;
    }

    FontRegistry::registerBundledFonts();

    ScreenshotRegistry registry;
    registerScreenshotScenes(registry);

    int failures = 0;
    QTextStream out(stdout);
    for (const auto scheme : {Appearance::Scheme::Dark, Appearance::Scheme::Light}) {
        Appearance::instance().setOverride(scheme);
        const QString suffix = scheme == Appearance::Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light");
        for (const ScreenshotScene &scene : registry.scenes()) {
            std::unique_ptr<QWidget> widget(scene.create());
            if (!widget) {
                ++failures;
                continue;
            }
            widget->resize(scene.size);
            widget->show();
            QApplication::processEvents();
            const QString file = QDir(outDir).filePath(scene.name + QLatin1Char('-') + suffix + QStringLiteral(".png"));
            if (widget->grab().save(file)) {
                out << file << Qt::endl;
            } else {
                std::fprintf(stderr, "Couldn't write %s.\n", qPrintable(file));
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
