#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>

// The state of one update tool (Homebrew or mas).
class MechanismHealth {
public:
    enum class Kind { unavailable, healthy, unknown };

    // Not found, failed, or no answer in time; `detail` is "brew not found",
    // "brew failed", "mas not found" or "mas failed".
    static MechanismHealth unavailable(const QString &detail) { return MechanismHealth(Kind::unavailable, detail); }
    // Found, and its version command exited with status 0 in time.
    static MechanismHealth healthy() { return MechanismHealth(Kind::healthy, QString()); }
    // No probe has answered yet.
    static MechanismHealth unknown() { return MechanismHealth(Kind::unknown, QString()); }

    MechanismHealth() = default; // unknown

    Kind kind() const { return m_kind; }
    bool isUnavailable() const { return m_kind == Kind::unavailable; }
    bool isHealthy() const { return m_kind == Kind::healthy; }
    bool isUnknown() const { return m_kind == Kind::unknown; }
    // The detail of `unavailable`; empty for the other cases.
    QString detail() const { return m_detail; }

    friend bool operator==(const MechanismHealth &, const MechanismHealth &) = default;

private:
    MechanismHealth(Kind kind, QString detail)
        : m_kind(kind)
        , m_detail(std::move(detail))
    {
    }

    Kind m_kind = Kind::unknown;
    QString m_detail;
};

Q_DECLARE_METATYPE(MechanismHealth)

// Finds `brew` and `mas` and runs their version commands under a time-out.
//
// check*() block the calling thread for up to the time-out (plus the grace a
// hung tool gets to exit) and are meant for worker threads; check*Async() do
// the same without blocking, on the calling thread's event loop.
class MechanismProbe {
public:
    // "/opt/homebrew/bin/brew", "/usr/local/bin/brew"
    static const QStringList brewCandidates;

    static MechanismHealth checkBrew(double timeout);
    static MechanismHealth checkMas(double timeout);
    static QCoro::Task<MechanismHealth> checkBrewAsync(double timeout);
    static QCoro::Task<MechanismHealth> checkMasAsync(double timeout);

private:
    // The first candidate that is an executable file, else `brew` on PATH.
    static std::optional<QString> findBrewExecutable();
    // `name` in the directories of PATH (empty pieces skipped: they are not
    // the current folder).
    static std::optional<QString> findExecutable(const QString &name);
    // True exactly when the tool started, ended in time and exited with 0.
    static bool run(const QString &executable, const QStringList &args, double timeout);
    static QCoro::Task<bool> runAsync(QString executable, QStringList args, double timeout);
};
