#include "DemoLibrary.h"

#include "TestSupport.h"

#include "engine/VARNOProcess.h"

namespace {

QList<AppRecord> loadDemoLibrary()
{
    if (!VarnoTest::installStagedEngine())
        qFatal("The build has no staged engine, or it could not be installed");
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
