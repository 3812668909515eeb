#pragma once

#include "engine/CLIBootstrapError.h"

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <optional>

// Installs the engine shipped in the app's resources (Resources/cli) into
// ~/.varno and checks it: on every run the engine's compiled modules are
// removed (it compiles them again from the verified files), the shipped tree
// is copied into a staging folder beside ~/.varno (~/.varno.staging), checked
// there against cli-manifest.json and only then swapped into place, so that
// the installed tree is exactly the verified copy (only its logs folder
// carries over) and a failed check leaves the previous install as it was;
// the background scan's error log moves to scan.err.prev, the engine prepares
// its database (`migrate`) and tests itself (`selftest`), the app's data
// folders are made private, and on a first install the `varno` command is set
// up for the user's shell.
//
// A run blocks for its whole length (up to a little over two minutes) and runs
// are serialised: never call bootstrapIfNeeded() on the GUI thread; await
// bootstrap() there instead.
class CLIBootstrap {
public:
    CLIBootstrap() = delete;

    // ~/.varno
    static QString varnoDir();
    // <app resources>/cli, or nothing when the bundle has no resources.
    static std::optional<QString> bundledCLI();
    // The trimmed text of .cli_version in bundledCLI / varnoDir, or nothing
    // when it cannot be read.
    static std::optional<QString> bundledVersion();
    static std::optional<QString> installedVersion();

    // One whole run, on the calling thread, after any run in progress. Throws
    // CLIBootstrapError, VARNOError (python3NotFound, scriptNotFound) or
    // ProcessLaunchError. A build without an engine fails with
    // bundledCLIMissing: there is nothing to install or vouch for.
    static void bootstrapIfNeeded();

    // bootstrapIfNeeded() on the bootstrap's own thread; its failure is
    // rethrown to the awaiting caller. Engine commands wait from the call on
    // (EngineGate).
    static QCoro::Task<void> bootstrap();

    // One whole run after any run in progress, its outcome recorded for the
    // engine folder in EngineGate (which the caller has told of its start).
    static void runRecorded(const QString &engineDir);

    // The quit path, once it has ended every child: waits at most graceMs for
    // a run of bootstrap() still on the bootstrap's thread to give up, so that
    // it does not run on while the app tears down. True when none is left.
    static bool waitForRunToEnd(int graceMs);

    // ~/.varno.staging
    static QString stagingDir();

    // The sentence for a bootstrap failure: the error's own description.
    static QString failureMessage(const std::exception &error);
    // Appends "[<UTC ISO 8601>] message", the detail when there is one, and an
    // empty line to ~/Library/Logs/VARNO/bootstrap.err. Never fails. Rotated
    // as update.err is at opening: a log that could not take the entry
    // without passing 262144 bytes first moves (its newest 262144 bytes) to
    // bootstrap.err.prev, so each entry stays whole in one of the two files.
    static void logBootstrapFailure(const std::exception &error);
    static void logBootstrapFailure(std::exception_ptr error);

    // Makes each folder private (0700): a symbolic link to a folder has its
    // target changed and stays; anything else that is not a folder is
    // replaced by one; a missing folder is created. Nothing: the app's
    // Application Support, Logs and Caches folders. Never fails.
    static void hardenDataDirectoryPermissions(const std::optional<QStringList> &paths = std::nullopt);

    // The setup steps' clocks. The defaults are the app's; tests shorten them.
    struct Timing {
        // Seconds `migrate` and `selftest` may run before they are asked to stop.
        double setupTimeout = 60.0;
        // After that request, how long a step may go on before it is killed.
        int killGraceMs = 10000;
    };
    static Timing timing();
    static void setTiming(const Timing &timing);

    // Standard error kept of a setup step.
    static constexpr qsizetype stderrCap = 1048576;

private:
    static void unsafeBootstrap();
    static void installBundledCLI(const QString &source);
    static void verifyCLIHash(const QString &installDir);
    static void rotateScanLog();
    static void runBundledCLICommand(const QStringList &arguments, double timeout,
                                     const std::function<CLIBootstrapError(int, const QString &)> &mapFailure);
    static void installShellAlias();
};
