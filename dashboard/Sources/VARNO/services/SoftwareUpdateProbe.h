#pragma once

#include <QMetaType>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

struct ToolResult;

// Whether macOS itself has updates waiting.
struct MacOSUpdateStatus {
    qint64 availableCount = 0;
    QString headline;              // "macOS update ready" / "macOS up to date" / "macOS update check unavailable"
    std::optional<QString> detail; // the first update's name, for "macOS update ready"

    static MacOSUpdateStatus unavailable();
    static MacOSUpdateStatus upToDate();

    friend bool operator==(const MacOSUpdateStatus &, const MacOSUpdateStatus &) = default;
};

Q_DECLARE_METATYPE(MacOSUpdateStatus)

// Asks `softwareupdate --list` and reduces its answer to a MacOSUpdateStatus.
// Every failure (no tool, no start, time-out, non-zero exit, only error
// output, output it doesn't recognise) is the unavailable status.
class SoftwareUpdateProbe {
public:
    static const QString toolPath; // "/usr/sbin/softwareupdate"

    // Runs the tool without blocking the calling thread.
    static QCoro::Task<MacOSUpdateStatus> check(double timeout);
    // The same, blocking (worker threads).
    static MacOSUpdateStatus runCheck(double timeout);

    // Reads the tool's listing. Each update counts once, whether the listing
    // describes it by a label line, a title line, or a label line followed by
    // its title line.
    static MacOSUpdateStatus parse(const QString &output);

private:
    static MacOSUpdateStatus interpret(const ToolResult &result);
};
