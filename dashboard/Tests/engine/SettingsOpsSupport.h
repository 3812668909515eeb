#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace SettingsOpsTest {

// Copies the staged engine (the bundle's Contents/Resources/cli) into
// ~/.varno below the current HOME, as the app installs it. False when the
// build has no staged engine.
inline bool installStagedEngine()
{
    return VarnoTest::installStagedEngine();
}

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
    VarnoTest::ShellInterpreter m_interpreter;

public:
    explicit ShellEngine(const QByteArray &body);
    ~ShellEngine();
    ShellEngine(const ShellEngine &) = delete;
    ShellEngine &operator=(const ShellEngine &) = delete;
};

using LogCapture = VarnoTest::LogCapture;

} // namespace SettingsOpsTest
