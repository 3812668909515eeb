#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>

namespace EngineTest {

// Writes ~/.varno/varno.py (below the current HOME) with the given body and
// makes it executable. Returns its path.
QString installScript(const QByteArray &body);

// Shared with every suite.
using ShellInterpreter = VarnoTest::ShellInterpreter;
using LogCapture = VarnoTest::LogCapture;

// Copies the staged engine (the bundle's Contents/Resources/cli) into
// ~/.varno, the way the app installs it at launch. Returns false when the
// build has no engine staged.
inline bool installStagedEngine()
{
    return VarnoTest::installStagedEngine();
}

} // namespace EngineTest
