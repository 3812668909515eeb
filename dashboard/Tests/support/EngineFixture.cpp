#include "EngineFixture.h"

#include "engine/EngineManifest.h"
#include "engine/VARNOProcess.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/stat.h>

namespace EngineFixture {

QString stagedEngine()
{
    return VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/cli");
}

void setKnobs(const QByteArray &json)
{
    if (!VarnoTest::writeFile(VarnoPaths::appSupportDir() + QStringLiteral("/sim/knobs.json"), json))
        qFatal("Couldn't write the knobs");
}

void installStandIn()
{
    if (!VarnoTest::copyTree(stagedEngine(), VarnoPaths::engineDir()))
        qFatal("Couldn't install the engine stand-in");
    setKnobs("{\"speed\": 0}");
    for (const QString &command : {QStringLiteral("migrate"), QStringLiteral("scan")}) {
        auto process = VARNOProcess::makeProcess(VARNOProcess::scriptPath(), VARNOProcess::varnoRoot(), {command});
        process->start();
        if (!process->waitForFinished(120000) || process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0)
            qFatal("The engine stand-in's %s failed: %s", qPrintable(command),
                   process->readAllStandardError().constData());
    }
}

void writeFakeEngine(const QByteArray &python)
{
    if (!VarnoTest::writeFile(VarnoPaths::engineScript(), python))
        qFatal("Couldn't write the fake engine");
}

QByteArray recordingEngine(const QByteArray &body)
{
    return QByteArray("import json, os, sys, time, subprocess\n"
                      "with open(os.path.join(os.environ['HOME'], 'argv.json'), 'w') as f:\n"
                      "    json.dump({'argv': sys.argv[1:], 'events': os.environ.get('VARNO_EVENTS'),\n"
                      "               'quiet': os.environ.get('VARNO_QUIET'), 'cwd': os.getcwd()}, f)\n"
                      "def err(b):\n"
                      "    os.write(2, b)\n"
                      "def out(b):\n"
                      "    os.write(1, b)\n")
        + body;
}

QStringList StreamRun::kinds() const
{
    QStringList names;
    for (const UpdateEvent &event : events) {
        const QString text = event.debugText();
        names.append(text.left(text.indexOf(QLatin1Char('('))));
    }
    return names;
}

namespace {

struct RunState {
    StreamRun run;
    Reaction react;
};

} // namespace

StreamRun runStream(const QStringList &only, const Reaction &react, std::chrono::milliseconds wait)
{
    auto state = std::make_shared<RunState>();
    state->react = react;
    auto onController = [state](std::shared_ptr<UpdateQueueController> controller) {
        ++state->run.controllerCalls;
        state->run.controller = std::move(controller);
    };
    auto onEvent = [state](const UpdateEvent &event) {
        if (!state->run.controller)
            ++state->run.eventsBeforeController;
        state->run.events.append(event);
        if (state->react && state->run.controller)
            state->react(event, *state->run.controller);
    };
    try {
        VarnoTest::await(UpdateStream::streamUpdate(only, onController, onEvent), wait);
    } catch (const VARNOError &error) {
        state->run.error = error;
    } catch (const VarnoTest::AwaitTimeout &) {
        state->run.timedOutWaiting = true;
    } catch (const std::exception &error) {
        state->run.otherError = QString::fromUtf8(error.what());
    }
    return state->run;
}

StreamTuning::StreamTuning(double thresholdSeconds, int pollMs, int killGraceMs)
    : m_saved(UpdateStream::tuning())
{
    UpdateStream::Tuning tuning = m_saved;
    tuning.watchdogThreshold = thresholdSeconds;
    tuning.watchdogPollMs = pollMs;
    tuning.killGraceMs = killGraceMs;
    UpdateStream::setTuning(tuning);
}

StreamTuning::~StreamTuning()
{
    UpdateStream::setTuning(m_saved);
}

FakeBundle::FakeBundle()
{
    QDir().mkpath(cli());
    QDir().mkpath(m_dir.path() + QStringLiteral("/VARNO.app/Contents/MacOS"));
    MainBundle::setPathOverride(path());
}

FakeBundle::~FakeBundle()
{
    MainBundle::setPathOverride(std::nullopt);
}

QString FakeBundle::path() const
{
    return m_dir.path() + QStringLiteral("/VARNO.app");
}

QString FakeBundle::resources() const
{
    return path() + QStringLiteral("/Contents/Resources");
}

QString FakeBundle::cli() const
{
    return resources() + QStringLiteral("/cli");
}

void FakeBundle::writeEngineFile(const QString &relative, const QByteArray &bytes)
{
    if (!VarnoTest::writeFile(cli() + QLatin1Char('/') + relative, bytes))
        qFatal("Couldn't write a fake engine file");
}

void FakeBundle::writeManifest()
{
    QJsonObject files;
    QDirIterator it(cli(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path.mid(cli().size() + 1), EngineManifest::sha256Hex(VarnoTest::readFile(path)));
    }
    QJsonObject manifest;
    manifest.insert(QStringLiteral("files"), files);
    VarnoTest::writeFile(resources() + QStringLiteral("/cli-manifest.json"), QJsonDocument(manifest).toJson());
}

StagedBundle::StagedBundle()
{
    MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
}

StagedBundle::~StagedBundle()
{
    MainBundle::setPathOverride(std::nullopt);
}

int modeOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

} // namespace EngineFixture
