#include "DemoLibrary.h"

#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

void installStagedEngine()
{
    const QString source = VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/cli");
    if (!QFileInfo::exists(source + QStringLiteral("/varno.py")))
        qFatal("The build has no staged engine at %s", qPrintable(source));
    QDirIterator it(source, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString destination = VarnoPaths::engineDir() + QLatin1Char('/') + QDir(source).relativeFilePath(file);
        QDir().mkpath(QFileInfo(destination).absolutePath());
        QFile::remove(destination);
        if (!QFile::copy(file, destination))
            qFatal("Couldn't install the engine file %s", qPrintable(destination));
    }
}

QList<AppRecord> loadDemoLibrary()
{
    installStagedEngine();
    auto run = [](const QStringList &arguments) { return VarnoTest::await(VARNOProcess::run(arguments, 120.0)); };
    run({QStringLiteral("sim"), QStringLiteral("reset"), QStringLiteral("--seed"), QStringLiteral("demo")});
    run({QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0")});
    run({QStringLiteral("scan")});
    const QByteArray json = run({QStringLiteral("list"), QStringLiteral("--json"), QStringLiteral("--all")});
    const std::optional<QList<AppRecord>> records = AppRecord::decodeList(json);
    if (!records || records->isEmpty())
        qFatal("The demo library did not decode");
    return *records;
}

} // namespace

namespace PresentersTest {

const QList<AppRecord> &demoLibrary()
{
    static const QList<AppRecord> records = loadDemoLibrary();
    return records;
}

AppRecord demoApp(const QString &bundleId)
{
    for (const AppRecord &record : demoLibrary()) {
        if (record.bundle_id == bundleId)
            return record;
    }
    qFatal("The demo library has no app %s", qPrintable(bundleId));
}

AppRecord exampleApp(const std::function<void(AppRecord &)> &change)
{
    AppRecord app;
    app.bundle_id = QStringLiteral("com.example.app");
    app.app_name = QStringLiteral("Example");
    change(app);
    return app;
}

} // namespace PresentersTest
