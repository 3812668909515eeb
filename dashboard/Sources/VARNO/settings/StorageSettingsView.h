#pragma once

#include "engine/EngineWrites.h"
#include "records/RetentionStatus.h"

#include <QSpinBox>
#include <QString>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class SettingsSection;

// A stepper of the retention policy: the number alone in its field, and what
// it counts as its accessible value ("3 per app", "30 days").
class RetentionStepper : public QSpinBox {
    Q_OBJECT

public:
    explicit RetentionStepper(std::function<QString(int)> spokenValue, QWidget *parent = nullptr);
    QString spokenValue() const { return m_spokenValue(value()); }

private:
    std::function<QString(int)> m_spokenValue;
};

// The engine calls behind the Storage pane. The default set runs the engine;
// tests and screenshots give their own.
struct StorageOperations {
    std::function<QCoro::Task<RetentionStatus>()> status;                      // retention status --json
    std::function<QCoro::Task<RetentionStatus>(int keep, int days)> setPolicy; // retention set --keep --days --json
    std::function<QCoro::Task<RetentionStatus>(bool grant)> setConsent; // retention consent --grant|--revoke --json
    std::function<QCoro::Task<void>()> cleanup;                         // cleanup --backups --apply --json
    // Where the changes count as writes under way, and what a read waits for
    // (the engine's own for the engine).
    std::shared_ptr<EngineWrites> writes = EngineWrites::create();

    static StorageOperations engine();
};

// The Settings window's "Storage" tab: what the engine's backups take, the
// retention policy, consent to automatic cleanup and a one-off cleanup. The
// retention state belongs to the engine; the pane shows the last record it
// returned and keeps its failures to itself, as one red line under the form.
//
// Each showing of the pane reads the state again. Until one read has
// succeeded, the policy and cleanup controls stay disabled (the placeholder
// record is never sent back), and a failed read offers "Retry". Policy saves
// run one at a time: changes made while one runs are saved next, as one save
// of the newest values, and only the newest answer is shown. A save goes on
// to the newest values also when the pane closes in the middle of it, and a
// read waits until no change of the engine's settings is under way (also one
// a closed pane started), so that a pane opened again shows what the engine
// will hold.
class StorageSettingsView : public QWidget {
    Q_OBJECT

public:
    explicit StorageSettingsView(QWidget *parent = nullptr);
    explicit StorageSettingsView(StorageOperations operations, QWidget *parent = nullptr);
    ~StorageSettingsView() override;

    const RetentionStatus &status() const { return m_status; }
    bool isLoading() const { return m_loadsRunning > 0 || m_initialLoad; }
    bool isWorking() const { return m_workCount > 0; }
    // A read of the engine's state has succeeded since the pane was made.
    bool hasLoaded() const { return m_hasLoaded; }
    std::optional<QString> errorText() const { return m_errorText; }
    int keepPerApp() const { return m_policy->keepPerApp; }
    int retentionDays() const { return m_policy->retentionDays; }

    // Reads the engine's state (also what each showing of the pane does).
    QCoro::Task<void> reload();

Q_SIGNALS:
    // After every change of what the pane shows.
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    void render();
    void keepChanged(int value);
    void daysChanged(int value);
    void commitPolicy();
    QCoro::Task<void> savePolicy();
    QCoro::Task<void> setConsent(bool grant);
    QCoro::Task<void> pruneOnce();
    void beginWork();
    void endWork();

    StorageOperations m_operations;

    // What the pane shows.
    RetentionStatus m_status;
    bool m_initialLoad = true; // the pane has not started its first read yet
    int m_loadsRunning = 0;
    int m_workCount = 0;
    std::optional<QString> m_errorText;
    // The steppers' values; shared with a save that outlives the pane.
    struct PolicyValues {
        int keepPerApp = 1;
        int retentionDays = 30;
    };
    std::shared_ptr<PolicyValues> m_policy = std::make_shared<PolicyValues>();
    bool m_hasLoaded = false;

    // Every request that answers with a record takes the next number; only
    // the answer to the newest request replaces the record.
    quint64 m_requestSerial = 0;
    bool m_saving = false;
    bool m_reloadWhenIdle = false;

    // Widgets.
    QWidget *m_loadingRow = nullptr;
    QProgressBar *m_spinner = nullptr;
    QWidget *m_sections = nullptr;
    QLabel *m_usageBytes = nullptr;
    QLabel *m_snapshots = nullptr;
    QWidget *m_reclaimableRow = nullptr;
    QLabel *m_reclaimable = nullptr;
    SettingsSection *m_policySection = nullptr;
    QSpinBox *m_keepStepper = nullptr;
    QSpinBox *m_daysStepper = nullptr;
    QWidget *m_autoOnBody = nullptr;
    QPushButton *m_revokeButton = nullptr;
    QWidget *m_autoOffBody = nullptr;
    QLabel *m_cleanupSentence = nullptr;
    QWidget *m_grantRow = nullptr;
    QPushButton *m_grantButton = nullptr;
    QPushButton *m_pruneButton = nullptr;
    QLabel *m_consentFooter = nullptr;
    QWidget *m_errorRow = nullptr;
    QLabel *m_error = nullptr;
    QPushButton *m_retryButton = nullptr;
};
