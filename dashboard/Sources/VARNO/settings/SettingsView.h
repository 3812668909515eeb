#pragma once

#include "kit/ColorPair.h"
#include "settings/DeveloperWorkbenchSettingsView.h"
#include "settings/StorageSettingsView.h"

#include <QPointer>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>

class AppModel;
class QCheckBox;
class QTabWidget;
class StyledButton;
class ToggleSwitch;

// The engine calls of the Settings window. The default set runs the engine;
// tests and screenshots give their own.
struct SettingsOperations {
    std::function<QCoro::Task<bool>()> telemetryStatus;         // telemetry status
    std::function<QCoro::Task<void>(QString action)> telemetry; // telemetry opt-in|opt-out|forget
    StorageOperations storage;
    WorkbenchOperations workbench;
    // The writes under way of the whole window: the telemetry changes and
    // both panes' count here (the window gives it to its panes), and every
    // read of the window and its panes waits for them. The engine's own for
    // the engine, so that a window opened again sees what a closed one sent.
    std::shared_ptr<EngineWrites> writes = EngineWrites::create();

    static SettingsOperations engine();
};

// The Settings window: four tabs, "General" (launch at login, background
// scans, adopting unsigned apps), "Privacy" (the telemetry opt-in, forgetting
// the engine's telemetry state, two statements), "Storage" and "Developer".
// Failures of the General and Privacy tabs go to the model's error; the
// window itself shows none.
//
// The telemetry switch shows the engine's answer only when it is news: every
// read, change and forget takes the next turn, and a read's answer is dropped
// when a later read was made, or when a change or forget was started after it
// or still runs; in the last two cases the window reads once more after they
// have ended.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(AppModel *model, QWidget *parent = nullptr);
    SettingsView(AppModel *model, SettingsOperations operations, QWidget *parent = nullptr);
    ~SettingsView() override;

    static constexpr int kMinimumWidth = 620;
    static constexpr int kMinimumHeight = 460;

    enum Tab { general = 0, privacy = 1, storage = 2, developer = 3 };
    QTabWidget *tabs() const { return m_tabs; }
    StorageSettingsView *storageView() const { return m_storage; }
    DeveloperWorkbenchSettingsView *developerView() const { return m_developer; }

    bool launchAtLogin() const { return m_launchAtLogin; }
    bool backgroundScan() const { return m_backgroundScan; }
    // True while the login item's and the scan agent's statuses are read, or
    // while a change of either runs.
    bool serviceCallsPending() const { return m_statusesPending || m_loginChangePending || m_scanChangePending; }
    bool telemetryEnabled() const { return m_telemetryEnabled; }
    bool telemetrySyncInFlight() const { return m_telemetrySyncInFlight; }
    bool telemetryForgetInFlight() const { return m_telemetryForgetInFlight; }

    // The telemetry switch's setter: ignored while a change runs or when the
    // value is the one shown; otherwise shows it and sends it to the engine.
    void setTelemetryPreference(bool enabled);
    // Reads the engine's telemetry opt-in (each time the window is shown).
    QCoro::Task<void> refreshTelemetryState();
    QCoro::Task<void> forgetTelemetryState();

Q_SIGNALS:
    // After every change of what the General and Privacy tabs show.
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *makeGeneralTab();
    QWidget *makePrivacyTab();
    // An icon beside a title (a label, or the telemetry switch) above a body text.
    QWidget *privacyRow(const QString &icon, const ColorPair &tint, QWidget *title, const QString &body, QWidget *parent);
    QWidget *statementRow(const QString &icon, const ColorPair &tint, const QString &title, const QString &body,
                          QWidget *parent);
    void render();
    QCoro::Task<void> syncTelemetryPreference(bool enabled, bool previous);
    bool telemetryWriteRuns() const { return m_telemetrySyncInFlight || m_telemetryForgetInFlight; }
    // Reads again when an answer was dropped for a change or forget and none runs any more.
    void rereadTelemetryWhenSettled();
    struct ServiceStatuses {
        bool launchAtLogin = false;
        bool backgroundScan = false;
    };
    QCoro::Task<void> readServiceStatuses();
    void launchAtLoginChanged(bool enabled);
    QCoro::Task<void> applyLaunchAtLogin(bool enabled);
    void backgroundScanChanged(bool enabled);
    QCoro::Task<void> applyBackgroundScans(bool enabled);

    QPointer<AppModel> m_model;
    SettingsOperations m_operations;
    bool m_launchAtLogin = false;
    bool m_backgroundScan = false;
    bool m_statusesPending = true;
    bool m_loginChangePending = false;
    bool m_scanChangePending = false;
    bool m_telemetryEnabled = false;
    bool m_telemetrySyncInFlight = false;
    bool m_telemetryForgetInFlight = false;
    quint64 m_telemetryTurn = 0; // the last read, change or forget started
    quint64 m_newestTelemetryRead = 0;
    bool m_rereadTelemetry = false;

    QTabWidget *m_tabs = nullptr;
    QCheckBox *m_launchAtLoginBox = nullptr;
    QCheckBox *m_backgroundScanBox = nullptr;
    QCheckBox *m_allowUnsignedBox = nullptr;
    ToggleSwitch *m_telemetrySwitch = nullptr;
    StyledButton *m_forgetButton = nullptr;
    StorageSettingsView *m_storage = nullptr;
    DeveloperWorkbenchSettingsView *m_developer = nullptr;
};
