#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>

// Whether this Mac was booted through the OpenCore boot loader: the word in
// the firmware variables (`nvram -p`), failing that in the I/O registry
// (`ioreg -l`). Each step has its own time-out, so a call can take twice it.
// A missing tool, one that cannot start and one that overruns all count as
// "no text" for their step.
class OpenCoreProbe {
public:
    static const QString nvramPath; // "/usr/sbin/nvram"
    static const QString ioregPath; // "/usr/sbin/ioreg"

    // Blocking (worker threads).
    static bool detect(double timeout);
    // The same on the calling thread's event loop, without blocking it.
    static QCoro::Task<bool> detectAsync(double timeout);

private:
    // The tool's standard output, or its standard error when the output is
    // empty; nothing when the tool is not an executable file, cannot start or
    // overruns. Both streams are read while the tool runs, so a long registry
    // listing finishes within its time-out.
    static std::optional<QString> run(const QString &path, const QStringList &args, double timeout);
    static QCoro::Task<std::optional<QString>> runAsync(QString path, QStringList args, double timeout);
};
