#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// Counts of the engine listing's "version_check_status" values.
struct VersionStatusCounts {
    int current = 0;
    int outdated = 0;
    int unmeasured = 0;
    int unknown = 0;
    int catalogStale = 0;
    int excluded = 0;

    friend bool operator==(const VersionStatusCounts &, const VersionStatusCounts &) = default;
};

// The plain-text support report a user copies into a support request: the
// app's version, the engine installation, the database, what the engine's
// listing returns, the tails of the background-scan log and of the engine's
// own scan log, the agent registration (launchctl's, or the systemd user
// timer's where there is no launchctl), the environment and leftovers of older versions.
//
// The report reads files and runs tools itself (the engine through python3,
// the database through sqlite3), each with a time-out of its own, so a tool
// that hangs costs its time-out and shows as a marker in its line. Nothing in
// it fails as a whole.
class DiagnosticsReport {
public:
    // What the report takes from the running app. current() fills it from the
    // app; tests build their own.
    struct Inputs {
        QString home;                            // the home folder
        QString python3;                         // the interpreter the engine runs with
        QString bundlePath;                      // the app bundle's folder (or the executable's)
        std::optional<QString> bundleIdentifier; // the bundle's identifier, when it has one
        QString version;                         // the app's version and build
        QString build;
        std::optional<QString> path; // PATH of the process, when set

        static Inputs current();
    };

    // Time-outs of the report's own tool runs.
    static constexpr std::chrono::seconds databaseTimeout{30};
    static constexpr std::chrono::seconds listingTimeout{120};
    static constexpr std::chrono::seconds quickToolTimeout{15};
    // runShell's bound when the caller names none (the Diagnostics sheet's
    // health check and verbose scan).
    static constexpr std::chrono::minutes defaultShellTimeout{15};

    // The whole report. Blocking: call it off the GUI thread, or use gatherAsync().
    static QString gather();
    static QString gather(const Inputs &inputs);
    // gather() on a worker thread, awaited without blocking the caller.
    static QCoro::Task<QString> gatherAsync();
    static QCoro::Task<QString> gatherAsync(Inputs inputs);

    // Runs a tool and returns one text, whatever happens:
    // - exit status 0: its standard output, or its standard error when the
    //   output is empty;
    // - any other status N: "[exit N]\nstdout: <output>\nstderr: <error output>";
    // - overran the time-out (and was ended): "[timed out after S s]\nstdout: …\nstderr: …"
    //   with what it printed until then;
    // - could not start: "ERROR launching <path>: <reason>".
    // Both streams are read while the tool runs; output that is not UTF-8
    // counts as empty. Blocking; runShellAsync() is the same on the caller's
    // event loop.
    static QString runShell(const QString &path, const QStringList &args,
                            const std::optional<QString> &cwd = std::nullopt,
                            std::chrono::milliseconds timeout = defaultShellTimeout);
    static QCoro::Task<QString> runShellAsync(QString path, QStringList args, std::optional<QString> cwd = std::nullopt,
                                              std::chrono::milliseconds timeout = defaultShellTimeout);

    // Counts the statuses of an engine listing; nothing when the text is not
    // a JSON array of objects.
    static std::optional<VersionStatusCounts> summarizeVersionCheckStatuses(const QString &json);

    // The agent section where there is no launchctl: the background scan's
    // systemd user timer and service as the user's manager reports them
    // (load, enablement, activity, last and next run, last result), or why
    // the manager did not answer. Blocking.
    static QString systemdAgentStatus();

    // runShellAsync()'s text, and whether the tool ran and exited with status 0.
    struct ShellOutcome {
        QString text;
        bool succeeded = false;
    };
    static QCoro::Task<ShellOutcome> runShellOutcomeAsync(QString path, QStringList args,
                                                          std::optional<QString> cwd = std::nullopt,
                                                          std::chrono::milliseconds timeout = defaultShellTimeout);

private:
    static QString gatherFrom(Inputs inputs);

public:
    // The first `count` user-perceived characters of `text`.
    static QString prefixCharacters(const QString &text, qsizetype count);
    // How a date prints itself in the report: "2025-01-31 12:00:00 +0000" (UTC).
    static QString dateDescription(const QDateTime &date);
};
