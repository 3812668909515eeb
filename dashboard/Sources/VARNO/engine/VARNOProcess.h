#pragma once

#include "engine/VARNOCancellationToken.h"
#include "engine/VARNOError.h"
#include "records/AppRecord.h"
#include "records/BackupRecord.h"
#include "records/ProvenanceRecord.h"
#include "records/TrustSealRecord.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class QProcess;

// The one place that starts the engine `varno.py`:
//
//   <python3> ~/.varno/varno.py --engine-contract-version 1 <command> <arguments…>
//
// with ~/.varno as working directory and the app's environment with the
// Homebrew folders put in front of PATH. Every engine call goes through run();
// the update stream and the bootstrap build their child with makeProcess().
//
// All operations are static; any number of runs may go on at the same time,
// each with its own child. Failures are thrown: VARNOError, ProcessLaunchError
// (the child could not be started), EngineArgumentError (a value that would be
// read as an option).
class VARNOProcess {
public:
    VARNOProcess() = delete;

    static constexpr int engineContractVersion = 1;
    // Each of standard output and standard error is kept up to this many bytes.
    static constexpr qsizetype outputCap = 0xA00000; // 10 MiB

    // ~/.varno and ~/.varno/varno.py, below the home folder of the process.
    static QString varnoRoot();
    static QString scriptPath();

    // The interpreter: the first of python3Candidates() that exists, else
    // "/usr/bin/python3". Chosen once, at first use, for the life of the process.
    static QString python3();
    static QStringList python3Candidates();

    // The child's environment: the app's environment with the search path
    // extended (see environmentFor), computed once at first use.
    static QProcessEnvironment processEnvironment();

    // The search-path rule on its own: of /opt/homebrew/bin, /opt/homebrew/sbin
    // and /usr/local/bin, those that the PATH text does not contain (a plain
    // substring test) are put in front of it, in that order. PATH defaults to
    // "/usr/bin:/bin:/usr/sbin:/sbin" when the environment has none.
    static QProcessEnvironment environmentFor(const QProcessEnvironment &base);

    // A configured, unstarted child: the interpreter with the script, the
    // contract flag and the arguments, working directory rootPath, and
    // processEnvironment() with extraEnvironment on top, made to lead a
    // process group of its own. Checks (in this order) that the interpreter
    // and the script exist: python3NotFound, scriptNotFound. Pipes are the
    // caller's business.
    static std::unique_ptr<QProcess> makeProcess(const QString &scriptPath, const QString &rootPath,
                                                 const QStringList &arguments,
                                                 const QHash<QString, QString> &extraEnvironment = {},
                                                 int contractVersion = engineContractVersion);

    // Runs one engine command and returns what it printed on standard output
    // (at most outputCap bytes). A non-zero exit fails with processFailure.
    // timeout is in seconds; 0, negative or not finite ends the child at once.
    // Ending the child (time-out or cancellation) sends SIGTERM to its process
    // group and, when it still runs after the kill grace, SIGKILL. A child
    // ended for its time-out fails with status 15 even if it exits 0; one that
    // had to be killed fails with status 15 too. Without stdinData the child
    // shares the app's standard input; with it (even empty) it reads those
    // bytes and then end of file. No command starts while the engine's
    // bootstrap runs, and none after it failed: the run then fails with the
    // bootstrap's own error (EngineGate).
    static QCoro::Task<QByteArray> run(QStringList arguments, double timeout,
                                       std::shared_ptr<VARNOCancellationToken> cancellationToken = {},
                                       std::optional<QByteArray> stdinData = std::nullopt);

    // --- One operation per plain engine command --------------------------
    // The queries a view makes itself (provenance, backup, seal) take the
    // view's cancellation token, so that closing the view ends the child.
    // Each builds its argument vector (every value one argument, never split
    // or quoted), runs it with the command's time-out and turns standard
    // output into the result. Besides the failures of run(): a record that
    // does not decode fails with invalidJSON carrying the first 200 bytes of
    // the output; a bundle id, app name, cask token or mode that begins with
    // "-" fails with EngineArgumentError before anything starts.

    // "list", "--json", ["--all" unless outdatedOnly]; 120 s.
    static QCoro::Task<QList<AppRecord>> listApps(bool outdatedOnly = false);
    // "seal", "--bundle-id", ID, "--json"; 120 s.
    static QCoro::Task<TrustSealRecord> trustSeal(QString bundleId,
                                                  std::shared_ptr<VARNOCancellationToken> cancellationToken = {});
    // "mode", ID, mode; 120 s.
    static QCoro::Task<void> setUpdateMode(QString bundleId, QString mode);
    // "mode", ID, "--on-quit"; 120 s.
    static QCoro::Task<void> setUpdateOnQuit(QString bundleId);
    // "reinstall", "--bundle-id", ID; 300 s.
    static QCoro::Task<void> reinstall(QString bundleId);
    // "fix", ID; 300 s. What the engine printed, or "" when it is not UTF-8.
    static QCoro::Task<QString> fix(QString bundleId);
    // "update", "--only", ID, "--approved"; 300 s, the token passed on.
    static QCoro::Task<void> updateApproved(QString bundleId,
                                            std::shared_ptr<VARNOCancellationToken> cancellationToken = {});
    // "adopt", "--dry-run", "--json", appName, ["--cask", token]; 300 s. The
    // raw output (the adopt preview), undecoded.
    static QCoro::Task<QByteArray> adoptDryRunJSON(QString appName, std::optional<QString> caskToken = std::nullopt);
    // "adopt", "--approved", appName, ["--cask", token], ["--allow-unsigned"]; 300 s.
    static QCoro::Task<void> adoptApproved(QString appName, std::optional<QString> caskToken, bool allowUnsigned);
    // "remove", "--bundle-id", ID, "--yes"; 300 s.
    static QCoro::Task<void> uninstall(QString bundleId);
    // "provenance", "--json", ["--bundle-id", ID when given, even empty]; 120 s.
    static QCoro::Task<QList<ProvenanceRecord>> provenance(std::optional<QString> bundleId = std::nullopt,
                                                           std::shared_ptr<VARNOCancellationToken> cancellationToken = {});
    // "backup", "--bundle-id", ID, "--json"; 120 s.
    static QCoro::Task<BackupRecord> backupStatus(QString bundleId,
                                                  std::shared_ptr<VARNOCancellationToken> cancellationToken = {});
    // "restore", "--bundle-id", ID; 300 s.
    static QCoro::Task<void> restore(QString bundleId);
    // "diagnose", "--bundle", "--out", outPath; 120 s. Returns outPath.
    static QCoro::Task<QString> diagnoseBundle(QString outPath);

    // Throws EngineArgumentError when a value from the library or the user
    // begins with "-" (the engine would take it for an option). `what` names
    // the value in the message ("bundle id", "app name", "cask token").
    static void ensureNotOptionLike(const QString &value, const QString &what);

    // The runner's clocks. The defaults are the app's; tests shorten them.
    struct Tuning {
        // After the termination request, how long a child may go on before
        // its group is killed.
        int killGraceMs = 10000;
        // When set, every command operation below runs with this time-out
        // (seconds) instead of its own 120 s or 300 s.
        std::optional<double> commandTimeout;
    };
    static Tuning tuning();
    static void setTuning(const Tuning &tuning);

    // Test hooks. The interpreter override replaces the chosen interpreter
    // (nothing restores the first choice but another call with nullopt); the
    // reset forgets the cached interpreter and environment so that the next
    // use computes them again from the current process environment.
    static void setPython3OverrideForTesting(std::optional<QString> path);
    static void resetCachedValuesForTesting();
};
