#pragma once

#include <QString>

#include <optional>

// Every home-relative location the app and the engine share. They keep their
// macOS names on every platform so that the engine, the support report and the
// user's Terminal commands agree on where things are.
//
// The home folder is $HOME as the process sees it, unless a test has pointed it
// elsewhere with setHomeOverride().
namespace VarnoPaths {

QString home();

// ~/.varno: the installed engine, its version stamp and its logs.
QString engineDir();
// ~/.varno/varno.py
QString engineScript();
// ~/Library/Application Support/VARNO: the engine's database and state files.
QString appSupportDir();
// ~/Library/Application Support/VARNO/bytecode: the engine's compiled modules.
QString engineBytecodeDir();
// ~/Library/Logs/VARNO: bootstrap.err, update.err, support bundles.
QString logsDir();
// ~/.local/bin: where the `varno` launcher goes.
QString localBinDir();

// Joins a path below the home folder ("Library/Logs/VARNO" -> "<home>/Library/Logs/VARNO").
QString inHome(const QString &relative);

void setHomeOverride(std::optional<QString> home);

} // namespace VarnoPaths
