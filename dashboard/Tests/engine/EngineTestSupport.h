#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>

namespace EngineTest {

// Writes ~/.varno/varno.py (below the current HOME) with the given body and
// makes it executable. Returns its path.
QString installScript(const QByteArray &body);

// Runs the engine script with /bin/sh instead of python3, so that tests can
// write tiny shell engines; restores the interpreter choice when destroyed.
class ShellInterpreter {
public:
    ShellInterpreter();
    ~ShellInterpreter();
    ShellInterpreter(const ShellInterpreter &) = delete;
    ShellInterpreter &operator=(const ShellInterpreter &) = delete;
};

// Collects the app's log messages while it lives (and passes them on).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList messages() const;
    int count(const QString &message) const;
    int countStartingWith(const QString &prefix) const;
};

// Copies the staged engine (the bundle's Contents/Resources/cli) into
// ~/.varno, the way the app installs it at launch. Returns false when the
// build has no engine staged.
bool installStagedEngine();

} // namespace EngineTest
