#pragma once

#include <QList>
#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

// One running instance of an application.
struct RunningApplication {
    qint64 pid = 0;
    QString executablePath; // the program the process runs, as the system reports it
    quint64 startTime = 0;  // tells a process from a later one that got the same pid

    friend bool operator==(const RunningApplication &, const RunningApplication &) = default;
};

// Finding the running instances of an application and asking them to quit.
// Asking is always polite: a request the application may refuse, never a
// forced end.
// - ProcRunningApplications (the default, Linux): the processes in /proc whose
//   executable (or the program named first on their command line) lies inside
//   the application: inside its install path when the caller knows it, or
//   inside an application bundle whose Info.plist carries the bundle
//   identifier. Asking to quit sends SIGTERM. runningInside() looks at the
//   executable alone, which a process cannot set the way it sets its
//   command line.
// - FakeRunningApplications: scripted instances for tests.
class RunningApplicationsBackend {
public:
    virtual ~RunningApplicationsBackend() = default;
    virtual QList<RunningApplication> runningApplications(const QString &bundleIdentifier,
                                                          const std::optional<QString> &installPath) = 0;
    // The processes whose executable lies inside the folder (an application
    // bundle that the caller has checked).
    virtual QList<RunningApplication> runningInside(const QString &bundlePath) = 0;
    // Whether the request to quit was delivered.
    virtual bool terminate(const RunningApplication &application) = 0;
    virtual bool isTerminated(const RunningApplication &application) = 0;
};

namespace RunningApplications {

std::shared_ptr<RunningApplicationsBackend> backend();
// Replaces the backend; nullptr restores the platform's own.
void setBackend(std::shared_ptr<RunningApplicationsBackend> backend);

QList<RunningApplication> withBundleIdentifier(const QString &bundleIdentifier,
                                               const std::optional<QString> &installPath = std::nullopt);

} // namespace RunningApplications

class ProcRunningApplications : public RunningApplicationsBackend {
public:
    QList<RunningApplication> runningApplications(const QString &bundleIdentifier,
                                                  const std::optional<QString> &installPath) override;
    QList<RunningApplication> runningInside(const QString &bundlePath) override;
    bool terminate(const RunningApplication &application) override;
    bool isTerminated(const RunningApplication &application) override;

    // The "*.app" folder that holds `path`, if any.
    static std::optional<QString> enclosingBundle(const QString &path);

    // /proc by default; tests point it elsewhere.
    void setProcRoot(const QString &root) { m_procRoot = root; }

private:
    struct ProcessInfo {
        qint64 pid = 0;
        QString executable;
        QString firstArgument;
        quint64 startTime = 0;
        bool zombie = false;
    };
    std::optional<ProcessInfo> readProcess(qint64 pid) const;
    // Every live process but this one, with what belongs(info) accepts.
    template<typename Belongs>
    QList<RunningApplication> scan(Belongs belongs) const;

    QString m_procRoot = QStringLiteral("/proc");
};

class FakeRunningApplications : public RunningApplicationsBackend {
public:
    QList<RunningApplication> runningApplications(const QString &bundleIdentifier,
                                                  const std::optional<QString> &installPath) override;
    QList<RunningApplication> runningInside(const QString &bundlePath) override;
    bool terminate(const RunningApplication &application) override;
    bool isTerminated(const RunningApplication &application) override;

    // An instance of the application; `quits` says whether it ends when asked,
    // `agrees` whether the request is accepted at all. Its executable is
    // `executable`, else /Applications/<id>.app/Contents/MacOS/<id>. One that
    // `endsWhenListed` ends by itself as soon as it has been listed, before
    // anyone can ask it.
    RunningApplication addInstance(const QString &bundleIdentifier, bool agrees = true, bool quits = true,
                                   const std::optional<QString> &executable = std::nullopt, bool endsWhenListed = false);
    // How often the process table was read (runningApplications and
    // runningInside), and from which threads.
    QList<Qt::HANDLE> listingThreads() const;
    QList<qint64> terminateRequests() const;

private:
    struct Instance {
        QString bundleIdentifier;
        RunningApplication application;
        bool agrees = true;
        bool quits = true;
        bool endsWhenListed = false;
        bool terminated = false;
    };
    void listed(Instance &instance);

    mutable QMutex m_mutex;
    QList<Instance> m_instances;
    QList<qint64> m_requests;
    QList<Qt::HANDLE> m_listingThreads;
    qint64 m_nextPid = 4100;
};
