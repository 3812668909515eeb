#include "screenshots/ScreenshotRegistry.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "engine/CLIBootstrap.h"
#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "platform/ChildProcesses.h"
#include "platform/MainBundle.h"
#include "platform/ResourceLocator.h"
#include "platform/UserDefaults.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <QEventLoop>
#include <QTimer>

#include <cstdio>
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
    Async::detach(drive(std::move(task), state));
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

// The engine's data as the first scan left it, kept apart from the home.
QTemporaryDir &keptDemoData()
{
    static QTemporaryDir kept(QDir::tempPath() + QStringLiteral("/varno-screenshot-library-XXXXXX"));
    return kept;
}
bool demoDataKept = false;

// Copies the folder `from` into `to` (which must not exist yet): folders,
// files and links as links.
bool copyDataTree(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(path);
        bool copied = false;
        if (info.isSymLink())
            copied = QFile::link(info.symLinkTarget(), target);
        else if (info.isDir())
            copied = QDir().mkpath(target);
        else
            copied = QDir().mkpath(QFileInfo(target).absolutePath()) && QFile::copy(path, target);
        if (!copied) {
            qCCritical(lcVarno, "Screenshots: couldn't copy %s", qPrintable(path));
            return false;
        }
    }
    return true;
}

// Removes a folder whole, read-only parts included.
bool removeDataTree(const QString &root)
{
    if (!QFileInfo::exists(root))
        return true;
    QDirIterator it(root, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QFile::setPermissions(root, QFile::permissions(root) | QFile::WriteOwner | QFile::ExeOwner);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!it.fileInfo().isSymLink())
            QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::ExeOwner);
    }
    return QDir(root).removeRecursively();
}

// Makes the folder `target` hold what `kept` holds, and nothing else. Files
// whose size and modification time match their kept copy stay as they are;
// every other one is copied again, with the kept copy's time.
bool restoreDataTree(const QString &kept, const QString &target)
{
    const QDir keptDir(kept);
    const QDir targetDir(target);
    const auto sameKind = [](const QFileInfo &a, const QFileInfo &b) {
        return a.exists() && a.isSymLink() == b.isSymLink() && a.isDir() == b.isDir();
    };
    // What the scene added (or changed into another kind of entry) goes.
    QStringList extra;
    QDirIterator present(target, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (present.hasNext()) {
        const QString path = present.next();
        const QString relative = targetDir.relativeFilePath(path);
        if (!sameKind(QFileInfo(keptDir.filePath(relative)), present.fileInfo()))
            extra.append(path);
    }
    for (const QString &path : std::as_const(extra)) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            continue; // inside a folder that went already
        QFile::setPermissions(info.absolutePath(), QFile::permissions(info.absolutePath()) | QFile::WriteOwner);
        const bool removed = info.isDir() && !info.isSymLink() ? removeDataTree(path) : QFile::remove(path);
        if (!removed) {
            qCCritical(lcVarno, "Screenshots: couldn't remove %s", qPrintable(path));
            return false;
        }
    }
    // What the scene removed or changed comes back.
    if (!QDir().mkpath(target))
        return false;
    QDirIterator wanted(kept, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
    while (wanted.hasNext()) {
        const QString path = wanted.next();
        const QFileInfo source = wanted.fileInfo();
        const QString destination = targetDir.filePath(keptDir.relativeFilePath(path));
        const QFileInfo current(destination);
        bool restored = true;
        if (source.isSymLink()) {
            if (!current.isSymLink() || current.symLinkTarget() != source.symLinkTarget())
                restored = (!current.isSymLink() || QFile::remove(destination))
                    && QFile::link(source.symLinkTarget(), destination);
        } else if (source.isDir()) {
            restored = QDir().mkpath(destination);
        } else if (!current.exists() || current.size() != source.size()
                   || current.lastModified() != source.lastModified()) {
            // Copied beside it, then moved over it in one step: an engine
            // that a gone scene asked to stop may still be writing its last
            // lines (into the file it opened, which this replaces).
            const QString copyPath = destination + QStringLiteral(".restoring");
            QFile::remove(copyPath);
            QFile copy(copyPath);
            restored = QFile::copy(path, copyPath) && copy.open(QIODevice::ReadWrite)
                && copy.setFileTime(source.lastModified(), QFileDevice::FileModificationTime);
            copy.close();
            restored = restored
                && std::rename(QFile::encodeName(copyPath).constData(), QFile::encodeName(destination).constData()) == 0;
        }
        if (!restored) {
            qCCritical(lcVarno, "Screenshots: couldn't restore %s", qPrintable(destination));
            return false;
        }
    }
    return true;
}

// Lets the engine children still running end (a scene that has gone may
// have asked them to stop), at most two minutes.
bool waitForEngineChildren()
{
    ScreenshotLibrary::waitUntil([] { return ChildProcesses::runningCount() == 0; });
    if (ChildProcesses::runningCount() > 0) {
        qCCritical(lcVarno, "Screenshots: %d engine children still run after two minutes",
                   ChildProcesses::runningCount());
        return false;
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
    // Every scene starts from this state of the engine's data.
    const QString kept = keptDemoData().filePath(QStringLiteral("data"));
    demoDataKept = keptDemoData().isValid() && removeDataTree(kept) && copyDataTree(VarnoPaths::appSupportDir(), kept);
    if (!demoDataKept) {
        qCCritical(lcVarno, "Screenshots: couldn't keep a copy of the engine's data");
        return {};
    }
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

bool waitUntil(const std::function<bool()> &done)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, &done] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(std::chrono::minutes(2), &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    return done();
}

bool resetHome()
{
    if (demoRecords().isEmpty() || !demoDataKept)
        return false;
    if (!waitForEngineChildren())
        return false;
    const std::unique_ptr<QSettings> defaults = UserDefaults::open();
    defaults->clear();
    defaults->sync();
    const QString data = VarnoPaths::appSupportDir();
    if (!restoreDataTree(keptDemoData().filePath(QStringLiteral("data")), data)) {
        qCCritical(lcVarno, "Screenshots: couldn't put the engine's data back in %s", qPrintable(data));
        return false;
    }
    return true;
}

} // namespace ScreenshotLibrary
