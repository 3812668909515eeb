// varno-screenshots [DIR]: renders every registered window, sheet and panel
// state to DIR/<scene>-<dark|light>.png, offscreen, from the engine stand-in's
// demo library, and fails when a scene does not show the state it is named
// for (each scene starts from the home as the demo library left it).
// Everything it installs and keeps (the engine, its simulated Mac, settings)
// lives in a temporary home folder of its own, removed at the end, so that
// the demo library never mixes with the user's.

#include "base/Logging.h"
#include "kit/FontRegistry.h"
#include "platform/Appearance.h"
#include "screenshots/ScreenshotRegistry.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void setEnv(const char *name, const QString &value)
{
    ::setenv(name, QFile::encodeName(value).constData(), 1);
}

// The engine installs some of its files and folders read-only; the home goes
// whole all the same.
void makeWritable(const QString &root)
{
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QFile::setPermissions(root, QFile::permissions(root) | QFile::WriteOwner | QFile::ExeOwner);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink())
            continue;
        QFile::setPermissions(path,
                              QFile::permissions(path) | QFile::WriteOwner
                                  | (info.isDir() ? QFile::ExeOwner : QFile::Permissions()));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // The output folder is named relative to where the tool was started.
    const QString outDir = QDir::current().absoluteFilePath(argc > 1 ? QString::fromLocal8Bit(argv[1])
                                                                     : QStringLiteral("screenshots"));
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/varno-screenshots-XXXXXX"));
    if (!home.isValid()) {
        std::fprintf(stderr, "Couldn't make a temporary home folder.\n");
        return 1;
    }
    struct Writable {
        QString root;
        ~Writable() { makeWritable(root); }
    } writable{home.path()};
    QDir(home.path()).mkpath(QStringLiteral(".runtime"));
    QFile::setPermissions(home.filePath(QStringLiteral(".runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setEnv("HOME", home.path());
    setEnv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")));
    setEnv("XDG_CACHE_HOME", home.filePath(QStringLiteral(".cache")));
    setEnv("XDG_DATA_HOME", home.filePath(QStringLiteral(".local/share")));
    setEnv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral(".runtime")));
    setEnv("VARNO_SETTINGS_FILE", home.filePath(QStringLiteral(".config/VARNO/org.varno.workshop.ini")));
    setEnv("VARNO_SIM_SPEED", QStringLiteral("0"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        setEnv("QT_QPA_PLATFORM", QStringLiteral("offscreen"));
    ::unsetenv("VARNO_SIM_ROOT");
    ::unsetenv("VARNO_SIM_SEED");
    ::unsetenv("VARNO_SIM_KNOBS");

    VarnoLogging::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VARNO Workshop"));
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "Couldn't create the folder %s.\n", qPrintable(outDir));
        return 1;
    }

    FontRegistry::registerBundledFonts();
    // Every view shows its end state at once (badges, hover, overlays), so
    // that the pictures do not depend on timing.
    Appearance::instance().setReduceMotion(true);

    ScreenshotRegistry registry;
    registerScreenshotScenes(registry);
    if (ScreenshotLibrary::demoRecords().isEmpty()) {
        std::fprintf(stderr, "The engine stand-in's demo library could not be read; see the log above.\n");
        return 1;
    }

    int failures = 0;
    QTextStream out(stdout);
    for (const auto scheme : {Appearance::Scheme::Dark, Appearance::Scheme::Light}) {
        Appearance::instance().setOverride(scheme);
        const QString suffix = scheme == Appearance::Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light");
        for (const ScreenshotScene &scene : registry.scenes()) {
            const ScreenshotShot shot = takeScreenshot(scene);
            const QString file = QDir(outDir).filePath(scene.name + QLatin1Char('-') + suffix + QStringLiteral(".png"));
            if (!shot.picture.isNull() && shot.picture.save(file)) {
                out << file << Qt::endl;
            } else {
                std::fprintf(stderr, "Couldn't write %s.\n", qPrintable(file));
                ++failures;
            }
            // A picture that does not show the state it is named for fails
            // the tool (it is kept, to be looked at).
            if (!shot.missing.isEmpty()) {
                std::fprintf(stderr, "%s-%s does not show: %s.\n", qPrintable(scene.name), qPrintable(suffix),
                             qPrintable(shot.missing.join(QStringLiteral("; "))));
                ++failures;
            }
        }
    }
    if (failures > 0)
        std::fprintf(stderr, "%d scene(s) failed.\n", failures);
    return failures == 0 ? 0 : 1;
}
