#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace SettingsOpsTest {

// Copies the staged engine (the bundle's Contents/Resources/cli) into
// ~/.varno below the current HOME, as the app installs it. False when the
// build has no staged engine.
bool installStagedEngine();

// Runs an engine command through the runner and returns its standard output
// (fails the calling test through the thrown error when it fails).
QByteArray runEngine(const QStringList &arguments);

// Adds one knob rule of the engine stand-in (a JSON object).
void setKnob(const QByteArray &ruleJson);

// The argument vectors the stand-in received (after the contract flag), in
// order, read from its journal.
QList<QStringList> journal();

// Writes ~/.varno/varno.py with a shell body and runs it with /bin/sh for
// its lifetime.
class ShellEngine {
public:
    explicit ShellEngine(const QByteArray &body);
    ~ShellEngine();
    ShellEngine(const ShellEngine &) = delete;
    ShellEngine &operator=(const ShellEngine &) = delete;
};

// Collects the app's log messages while it lives (and passes them on).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList messages() const;
};

} // namespace SettingsOpsTest
