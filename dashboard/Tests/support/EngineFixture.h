#pragma once

#include "TestSupport.h"

#include "engine/UpdateEvent.h"
#include "engine/UpdateStream.h"
#include "engine/VARNOError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Helpers for the tests that run the engine: the stand-in from the staged
// bundle, tiny fake engines, fake bundles, and one streamed run.
namespace EngineFixture {

// Resources/cli of the staged bundle.
QString stagedEngine();

// Installs the stand-in into ~/.varno of the current HOME and prepares its
// demo library (migrate, then scan), instantly.
void installStandIn();

// Writes the stand-in's knob file (a JSON text) in the current HOME.
void setKnobs(const QByteArray &json);

// Writes ~/.varno/varno.py (a Python script) in the current HOME.
void writeFakeEngine(const QByteArray &python);

// The text of a Python fake engine that first records its argv and the two
// stream variables in ~/argv.json, then runs `body`.
QByteArray recordingEngine(const QByteArray &body);

// What one streamed run did.
struct StreamRun {
    QList<UpdateEvent> events;
    int controllerCalls = 0;
    int eventsBeforeController = 0;
    std::shared_ptr<UpdateQueueController> controller;
    std::optional<VARNOError> error;
    QString otherError; // any other exception's text
    bool timedOutWaiting = false;

    // Events of one case.
    template<typename T>
    QList<T> all() const
    {
        QList<T> found;
        for (const UpdateEvent &event : events) {
            if (const T *e = event.as<T>())
                found.append(*e);
        }
        return found;
    }
    QStringList kinds() const;
};

using Reaction = std::function<void(const UpdateEvent &, UpdateQueueController &)>;

// Runs streamUpdate to its end (or until the wait gives up).
StreamRun runStream(const QStringList &only, const Reaction &react = {},
                    std::chrono::milliseconds wait = std::chrono::seconds(90));

// Sets the stream's clocks for the object's lifetime.
class StreamTuning {
public:
    explicit StreamTuning(double thresholdSeconds, int pollMs = 50, int killGraceMs = 300);
    ~StreamTuning();

private:
    UpdateStream::Tuning m_saved;
};

// A bundle folder of its own: <tmp>/VARNO.app/Contents/Resources with a cli
// folder and a manifest computed over it, installed as the main bundle for
// the object's lifetime.
class FakeBundle {
public:
    FakeBundle();
    ~FakeBundle();
    QString path() const;
    QString resources() const;
    QString cli() const;
    // Writes a file under cli/.
    void writeEngineFile(const QString &relative, const QByteArray &bytes);
    // Writes cli-manifest.json over the files under cli/ as they are now.
    void writeManifest();

private:
    QTemporaryDir m_dir;
};

// Points the main bundle at the staged bundle for the object's lifetime.
class StagedBundle {
public:
    StagedBundle();
    ~StagedBundle();
};

// Sets or unsets SHELL for the object's lifetime.
class ShellEnv {
public:
    explicit ShellEnv(const std::optional<QByteArray> &value)
        : m_saved(qEnvironmentVariableIsSet("SHELL") ? std::optional(qgetenv("SHELL")) : std::nullopt)
    {
        if (value)
            qputenv("SHELL", *value);
        else
            qunsetenv("SHELL");
    }
    ~ShellEnv()
    {
        if (m_saved)
            qputenv("SHELL", *m_saved);
        else
            qunsetenv("SHELL");
    }

private:
    std::optional<QByteArray> m_saved;
};

// The permission bits of a file, or -1 when it cannot be read.
int modeOf(const QString &path);

} // namespace EngineFixture
