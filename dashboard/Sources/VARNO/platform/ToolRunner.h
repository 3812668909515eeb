#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// The one way the app runs an external tool (launchctl, softwareupdate, nvram,
// ioreg, systemextensionsctl, sqlite3, brew, mas, python3, ...).
//
// Every run:
// - reads standard output and standard error at the same time while the tool
//   runs, so a tool that fills one pipe never stalls on it;
// - keeps at most `outputCap` bytes of each stream (the rest is read and
//   dropped, and the result says so);
// - has a time-out: on overrun the tool and everything it started (it runs in
//   a process group of its own) get SIGTERM, then SIGKILL after a short grace;
// - goes through ToolPaths, so tests can put a small script in place of any
//   tool without touching the code that names it.
//
// run() is a coroutine on the calling thread's event loop; runBlocking() runs
// the same thing on a thread of the tool pool (Async::toolPool()) and waits
// for it, so it never spins a nested event loop and is safe from any thread.

struct ToolRequest {
    QString program; // absolute path, or a name looked up on PATH
    QStringList arguments;
    std::optional<QString> workingDirectory;
    // Replaces the inherited environment when set.
    std::optional<QProcessEnvironment> environment;
    // Written to the tool's standard input, which is then closed. Without it
    // the input is closed at once, so a tool that reads it sees end of file.
    std::optional<QByteArray> standardInput;
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
    // How long a tool that got SIGTERM at the time-out may take to exit before
    // it gets SIGKILL.
    std::chrono::milliseconds killGrace = std::chrono::seconds(1);
    qsizetype outputCap = 16 * 1024 * 1024; // bytes kept per stream
    bool captureStandardOutput = true;      // false: sent to the null device
};

struct ToolResult {
    enum class Status {
        Exited,        // ran and exited by itself; exitCode holds its status
        FailedToStart, // never ran; errorString says why
        TimedOut,      // overran the time-out and was ended
        Crashed,       // ended by a signal not sent by us; exitCode holds the signal
    };

    Status status = Status::FailedToStart;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
    bool standardOutputTruncated = false;
    bool standardErrorTruncated = false;
    QString errorString; // for FailedToStart: the system's description

    bool started() const { return status != Status::FailedToStart; }
    bool timedOut() const { return status == Status::TimedOut; }
    // Exited by itself with status 0.
    bool succeeded() const { return status == Status::Exited && exitCode == 0; }

    // The streams as UTF-8 text; empty when they are not valid UTF-8. A stream
    // cut at the cap is first trimmed back to its last whole character.
    QString standardOutputText() const;
    QString standardErrorText() const;
};

namespace ToolRunner {

QCoro::Task<ToolResult> run(ToolRequest request);

ToolResult runBlocking(const ToolRequest &request);

// Seconds as the probes give them (a double) to a time-out; negative and
// non-finite values count as zero.
std::chrono::milliseconds fromSeconds(double seconds);

} // namespace ToolRunner

// Decodes bytes as UTF-8, strictly: nothing when they are not valid UTF-8.
// With `cut` set, an incomplete character at the very end is dropped first.
std::optional<QString> decodeUtf8Strict(const QByteArray &bytes, bool cut = false);

// Where each tool really is. Code names tools by their documented path
// ("/usr/sbin/nvram"); tests replace a path with a fake script.
namespace ToolPaths {

// The replacement for `path` when one is set, else `path` itself.
QString resolve(const QString &path);

void setOverride(const QString &path, const QString &replacement);
void clearOverride(const QString &path);
void clearAllOverrides();

// Sets an override for its lifetime (tests).
class Scoped {
public:
    Scoped(QString path, const QString &replacement);
    ~Scoped();
    Scoped(const Scoped &) = delete;
    Scoped &operator=(const Scoped &) = delete;

private:
    QString m_path;
    std::optional<QString> m_previous;
};

} // namespace ToolPaths
