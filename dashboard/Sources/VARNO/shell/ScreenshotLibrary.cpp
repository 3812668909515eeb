#include "shell/ScreenshotRegistry.h"

#include "engine/CLIBootstrap.h"
#include "engine/ResourceLocator.h"
#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "platform/Logging.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <memory>

namespace {

struct RunState {
    bool done = false;
    QString failure;
    QEventLoop loop;
};

QCoro::Task<void> drive(QCoro::Task<void> task, std::shared_ptr<RunState> state)
{
    try {
        co_await std::move(task);
    } catch (const std::exception &e) {
        state->failure = QString::fromUtf8(e.what());
    } catch (...) {
        state->failure = QStringLiteral("unknown failure");
    }
    state->done = true;
    state->loop.quit();
}

// Runs the event loop until the task is done (at most two minutes); true when
// it finished without a failure.
bool runToEnd(QCoro::Task<void> task, const char *what)
{
    auto state = std::make_shared<RunState>();
    drive(std::move(task), state);
    if (!state->done) {
        QTimer::singleShot(std::chrono::minutes(2), &state->loop, [state] { state->loop.quit(); });
        state->loop.exec();
    }
    if (!state->done)
        state->failure = QStringLiteral("no answer in two minutes");
    if (!state->failure.isEmpty()) {
        qCCritical(lcVarno, "Screenshots: %s failed: %s", what, qPrintable(state->failure));
        return false;
    }
    return true;
}

QCoro::Task<void> engineCommand(QStringList arguments)
{
    co_await VARNOProcess::run(std::move(arguments), 120);
}

QCoro::Task<void> listInto(std::shared_ptr<QList<AppRecord>> records)
{
    *records = co_await VARNOProcess::listApps(false);
}

// A program outside the app bundle (a test) has no bundled engine to
// bootstrap from; it copies the engine the build staged, as the bootstrap
// would install it.
bool copyStagedEngine()
{
    const auto script = ResourceLocator::url(QStringLiteral("cli/varno"), QStringLiteral("py"));
    if (!script) {
        qCCritical(lcVarno, "Screenshots: no engine among the app's resources");
        return false;
    }
    const QDir source = QFileInfo(*script).dir();
    QDirIterator it(source.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.contains(QLatin1String("__pycache__")))
            continue;
        const QString destination = VarnoPaths::engineDir() + QLatin1Char('/') + source.relativeFilePath(file);
        QDir().mkpath(QFileInfo(destination).absolutePath());
        QFile::remove(destination);
        if (!QFile::copy(file, destination)) {
            qCCritical(lcVarno, "Screenshots: couldn't install the engine file %s", qPrintable(destination));
            return false;
        }
    }
    return true;
}

QList<AppRecord> loadDemoRecords()
{
    if (MainBundle::resourcesPath()) {
        if (!runToEnd(CLIBootstrap::bootstrap(), "installing the engine"))
            return {};
    } else if (!copyStagedEngine()) {
        return {};
    }
    // A fresh demo world that scans at once.
    const QList<QStringList> setup = {
        {QStringLiteral("sim"), QStringLiteral("reset"), QStringLiteral("--seed"), QStringLiteral("demo")},
        {QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0")},
        {QStringLiteral("scan")},
    };
    for (const QStringList &arguments : setup) {
        if (!runToEnd(engineCommand(arguments), qPrintable(arguments.join(QLatin1Char(' ')))))
            return {};
    }
    auto records = std::make_shared<QList<AppRecord>>();
    if (!runToEnd(listInto(records), "reading the library"))
        return {};
    return *records;
}

} // namespace

namespace ScreenshotLibrary {

AppModelServices quietServices()
{
    return AppModelServices::quiet();
}

const QList<AppRecord> &demoRecords()
{
    static const QList<AppRecord> records = loadDemoRecords();
    return records;
}

AppModel *demoModel(QObject *parent)
{
    // The engine is ready and scanned once demoRecords() has answered.
    const bool ready = !demoRecords().isEmpty();
    auto *model = new AppModel(quietServices(), parent);
    model->setShowOnboarding(false);
    if (!ready)
        return model;
    runToEnd(model->load(), "loading the library");
    // The load goes on to ask the engine for trust seals; the picture shows
    // them, and no engine child outlives the scene's model.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, model] {
        if (!model->isEnrichingSeals())
            loop.quit();
    });
    QTimer::singleShot(std::chrono::minutes(2), &loop, &QEventLoop::quit);
    if (model->isEnrichingSeals()) {
        poll.start(10);
        loop.exec();
    }
    return model;
}

bool runEngine(const QStringList &arguments)
{
    if (demoRecords().isEmpty())
        return false;
    return runToEnd(engineCommand(arguments), qPrintable(arguments.join(QLatin1Char(' '))));
}

bool runModelTask(QCoro::Task<void> task)
{
    return runToEnd(std::move(task), "a model action");
}

} // namespace ScreenshotLibrary
