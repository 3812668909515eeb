#pragma once

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>

// Whether engine commands may start. The bootstrap replaces and verifies the
// installed engine: while it runs, no command starts (each waits for it), and
// once it has failed the installed engine is not known to be sound, so every
// command fails with the bootstrap's own error until a later bootstrap
// succeeds. Kept per engine folder, for the life of the process; a folder no
// bootstrap has touched is open.
namespace EngineGate {

// Called by the bootstrap, from any thread, around each whole run.
void bootstrapStarted(const QString &engineDir);
void bootstrapFinished(const QString &engineDir, std::exception_ptr failure);

// Awaited on the GUI thread before an engine command starts: returns once no
// bootstrap of the folder runs; throws the last bootstrap's failure.
QCoro::Task<void> ready(QString engineDir);

// Whether a bootstrap of the folder has succeeded in this process (and none
// has failed or started since).
bool isVerified(const QString &engineDir);

// Relays a change of any folder's state on the application's thread.
class Notifier : public QObject {
    Q_OBJECT

public:
    static Notifier *instance();

Q_SIGNALS:
    void changed();
};

} // namespace EngineGate
