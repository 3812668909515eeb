#pragma once

#include "kit/ButtonStyles.h"
#include "model/PosturePresenter.h"
#include "records/RetentionStatus.h"
#include "screens/EnvironmentRules.h"
#include "services/ESEProbe.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>

class AppModel;
class PanelsStatusDot;
class PanelsSwitch;
class QLabel;
class QPushButton;
class QVBoxLayout;

// What the Environment screen reads and changes of the system. The defaults
// are the app's own (the Full Disk Access check, the agent's and the login
// item's registrations, the extension probe, the engine's retention state,
// the login item switch, the experiment events); tests and screenshots give
// their own.
struct EnvironmentServices {
    // Blocking reads, run together off the GUI thread.
    std::function<bool()> hasFullDiskAccess;
    std::function<bool()> receiptsFolderExists;
    std::function<int()> agentStatus;
    std::function<int()> loginItemStatus;
    std::function<QCoro::Task<QList<ESE>>()> probeExtensions;
    std::function<QCoro::Task<RetentionStatus>()> retentionStatus;
    // Stores the wish, registers or unregisters the login item, returns its
    // status afterwards (blocking; run off the GUI thread).
    std::function<int(bool enabled)> setLoginItem;
    std::function<void(const QString &event)> recordEvent;

    static EnvironmentServices system();
    static EnvironmentServices current();
    static void setOverride(std::optional<EnvironmentServices> services);
};

// The banner's button: the label in ui 12 semibold on the warning orange
// (0.85 of it while pressed), padded 12 by 6, corners 8, no hover look.
struct WorkshopWarningButtonStyle : ButtonStyle {
    WorkshopWarningButtonStyle();
};

// The "Workshop Environment" sheet: one verdict over Full Disk Access, the
// background-scan agent, the login item and reclaimable backup storage, the
// detection banner while the library's update detection looks incomplete,
// and the sections (posture, permissions, privilege model, updating VARNO,
// background scan, open at login, security extensions). Each presentation
// reads the system once.
class EnvironmentView : public QDialog {
    Q_OBJECT

public:
    explicit EnvironmentView(AppModel *model, QWidget *parent = nullptr);
    EnvironmentView(AppModel *model, EnvironmentServices services, QWidget *parent = nullptr);

    static constexpr int kMinimumWidth = 540;
    static constexpr int kMinimumHeight = 520;
    static constexpr std::chrono::milliseconds diagnosticsDelay{150};

    // The screen's state.
    const QList<ESE> &eses() const { return m_eses; }
    bool fda() const { return m_snapshot.fda; }
    bool receiptsFolderExists() const { return m_snapshot.receiptsFolderExists; }
    int agentStatus() const { return m_snapshot.agentStatus; }
    int loginItemStatus() const { return m_snapshot.loginItemStatus; }
    bool launchAtLoginPref() const { return m_snapshot.launchAtLoginPref; }
    qint64 backupReclaimableBytes() const { return m_snapshot.backupReclaimableBytes; }
    bool isLoading() const { return m_loading; }
    PosturePresentation summary() const { return EnvironmentRules::summary(m_snapshot); }

    QCoro::Task<void> refresh();

    // The parts (tests, screenshots).
    QPushButton *doneButton() const { return m_doneButton; }
    QWidget *detectionBanner() const { return m_banner; }
    QPushButton *runDiagnosticsButton() const { return m_runDiagnostics; }
    QPushButton *openSettingsButton() const { return m_openSettings; }
    QPushButton *approveButton() const { return m_approve; }
    QPushButton *websiteButton() const { return m_website; }
    PanelsSwitch *loginSwitch() const { return m_loginSwitch; }
    // The texts a section shows, in order (header first).
    QWidget *sectionWidget(const QString &header) const { return m_sections.value(header); }
    QStringList sectionTexts(const QString &header) const;
    // The colour of a section's status dots, in order (green true).
    QList<bool> sectionDots(const QString &header) const;

    // Shows a state without reading the system (screenshots).
    void showPreview(const EnvironmentRules::Snapshot &snapshot, const QList<ESE> &extensions, bool loading);

Q_SIGNALS:
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    QWidget *buildBanner();
    QWidget *section(const QString &header, QWidget **body);
    void render();
    void renderExtensions();
    void showExtensionsWidget(QWidget *widget);
    void updateBanner();
    void runDiagnostics();
    QCoro::Task<void> setLaunchAtLogin(bool enabled);
    void openSystemSettings(const QString &link);

    QPointer<AppModel> m_model;
    EnvironmentServices m_services;
    bool m_presented = false;

    QList<ESE> m_eses;
    EnvironmentRules::Snapshot m_snapshot;
    bool m_loading = true;
    bool m_bannerShown = false;
    quint64 m_loginSerial = 0;

    QPushButton *m_doneButton = nullptr;
    QWidget *m_banner = nullptr;
    QPushButton *m_runDiagnostics = nullptr;
    QHash<QString, QWidget *> m_sections;
    PanelsStatusDot *m_postureDot = nullptr;
    QLabel *m_postureTitle = nullptr;
    QLabel *m_postureDetail = nullptr;
    PanelsStatusDot *m_fdaDot = nullptr;
    QLabel *m_fdaDetail = nullptr;
    QPushButton *m_openSettings = nullptr;
    QLabel *m_versionLabel = nullptr;
    QLabel *m_engineLine = nullptr;
    QPushButton *m_website = nullptr;
    PanelsStatusDot *m_agentDot = nullptr;
    QLabel *m_agentDetail = nullptr;
    QPushButton *m_approve = nullptr;
    PanelsSwitch *m_loginSwitch = nullptr;
    QLabel *m_loginDetail = nullptr;
    QWidget *m_extensionsBody = nullptr;
    QVBoxLayout *m_extensionsLayout = nullptr;
};
