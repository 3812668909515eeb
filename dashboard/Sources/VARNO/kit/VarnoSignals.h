#pragma once

#include <QObject>
#include <QString>

#include <chrono>

// The in-process signals through which the menus and the menu-bar panel ask
// the Workshop window (and the sheets it shows) to act. Each signal's name is
// its own identifier. A signal emitted while no Workshop window exists is lost:
// nothing queues it.
//
//   varnoShowDiagnostics   -> the Workshop window opens the Diagnostics sheet
//   varnoRunHealthCheck    -> the Diagnostics sheet runs its health check
//   varnoShowProvenance(id)-> the Workshop window opens the provenance drawer
//   varnoShowUpdateFlow    -> the Workshop window shows the update-run sheet
class VarnoSignals : public QObject {
    Q_OBJECT

public:
    static VarnoSignals &instance();

    static void postShowDiagnostics();
    static void postRunHealthCheck();
    static void postShowProvenance(const QString &bundleId);
    static void postShowUpdateFlow();

    // The delays of the items that first open the Workshop window, counted
    // from the click: the Diagnostics sheet is asked for after 0.15 s, the
    // health check after 0.45 s.
    static constexpr std::chrono::milliseconds showDiagnosticsDelay{150};
    static constexpr std::chrono::milliseconds runHealthCheckDelay{450};

Q_SIGNALS:
    void varnoShowDiagnostics();
    void varnoRunHealthCheck();
    void varnoShowProvenance(const QString &bundleId);
    void varnoShowUpdateFlow();

private:
    VarnoSignals() = default;
};
