#pragma once

#include "engine/EngineWrites.h"
#include "engine/WorkbenchSaver.h"
#include "records/DeveloperWorkbenchState.h"
#include "settings/FolderChooser.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>

class AppModel;
class QButtonGroup;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SettingsSection;
class ToggleSwitch;

// What the Developer pane reads and runs. The default set reads the engine's
// settings file and runs the engine; tests and screenshots give their own.
struct WorkbenchOperations {
    std::function<DeveloperWorkbenchState()> load;             // the engine's settings file
    std::function<QCoro::Task<DeveloperReport>()> inspect;     // dev inspect --json
    std::function<QCoro::Task<DeveloperReport>()> planUpdates; // dev plan-updates --json
    WorkbenchSaver::SaveHandler save;                          // empty: the saver's own (dev set)
    FolderChooser chooseFolders;
    // Where the saves count as writes under way, and what the pane waits for
    // before it reads the file (the engine's own for the engine).
    std::shared_ptr<EngineWrites> writes = EngineWrites::create();

    static WorkbenchOperations engine();
};

// The Settings window's "Developer" tab: switches the Developer Workbench on,
// chooses its sources, project folders and update policy, and asks the engine
// for an inspection and an update plan. The settings belong to the engine:
// the pane reads its file and hands every change to its own WorkbenchSaver,
// which writes it back through `dev set`.
//
// Every change of the settings goes through setState(). The pane re-reads the
// engine's file each time it is shown and after a failed save, but only once
// the saver has nothing pending or under way, and no other write of the
// engine's settings runs (a closed pane's saver may still be sending): an edit
// on its way to the engine is never replaced by the older file. Until the
// pane has read the file once, its controls are disabled, so that no edit is
// made on top of a state that is not yet the engine's.
class DeveloperWorkbenchSettingsView : public QWidget {
    Q_OBJECT

public:
    explicit DeveloperWorkbenchSettingsView(AppModel *model, QWidget *parent = nullptr);
    DeveloperWorkbenchSettingsView(AppModel *model, WorkbenchOperations operations, QWidget *parent = nullptr);
    ~DeveloperWorkbenchSettingsView() override;

    const DeveloperWorkbenchState &state() const { return m_state; }
    QString inspectionSummary() const { return m_inspectionSummary; }
    QString updatePlanSummary() const { return m_updatePlanSummary; }
    bool isInspecting() const { return m_isInspecting; }
    bool isPlanningUpdates() const { return m_isPlanningUpdates; }
    WorkbenchSaver *saver() const { return m_saver; }
    // The last appearance (or fallback after a failed save) has read the file.
    bool isSettled() const { return m_adoptsRunning == 0; }
    // The file has been read since the pane was shown first; the controls
    // take edits only from then on.
    bool hasRead() const { return m_hasRead; }

    // The one way the settings change: shows them and hands them to the saver.
    void setState(const DeveloperWorkbenchState &state);
    bool needsFolderWarning() const;

    void addProjectFolder();
    void removeProjectFolder(const QString &path);
    QCoro::Task<void> runInspection();
    QCoro::Task<void> runUpdatePlan();

    // What each showing of the pane does: reads the engine's file once the
    // saver is idle, declares it saved, shows it and installs the saver's
    // failure handler.
    QCoro::Task<void> appear();

Q_SIGNALS:
    // After every change of what the pane shows.
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    enum class RunKind { inspection, updatePlan };

    void build();
    void render();
    void rebuildFolderRows();
    QCoro::Task<void> run(RunKind kind);
    QCoro::Task<void> adoptStoredState(bool installFailureHandler);
    void saveFailed(const QString &message);

    QPointer<AppModel> m_model;
    WorkbenchOperations m_operations;
    DeveloperWorkbenchState m_state;
    QString m_inspectionSummary;
    QString m_updatePlanSummary;
    bool m_isInspecting = false;
    bool m_isPlanningUpdates = false;
    WorkbenchSaver *m_saver;
    quint64 m_adoptSerial = 0;
    int m_adoptsRunning = 0;
    bool m_hasRead = false;

    // Widgets.
    QWidget *m_page = nullptr;
    ToggleSwitch *m_workbenchSwitch = nullptr;
    QWidget *m_offSections = nullptr;
    QWidget *m_onSections = nullptr;
    QHash<DeveloperSource, ToggleSwitch *> m_sourceSwitches;
    QWidget *m_folderWarning = nullptr;
    QLabel *m_noFolders = nullptr;
    QVBoxLayout *m_folderRows = nullptr;
    QStringList m_shownFolders;
    bool m_foldersBuilt = false;
    QButtonGroup *m_policyGroup = nullptr;
    QPushButton *m_inspectButton = nullptr;
    QLabel *m_inspectionLabel = nullptr;
    QPushButton *m_planButton = nullptr;
    QLabel *m_planLabel = nullptr;
};

// A one-line path that is shortened in the middle to the width it has.
class MiddleElidedLabel : public QWidget {
    Q_OBJECT

public:
    explicit MiddleElidedLabel(const QString &text, QWidget *parent = nullptr);
    QString fullText() const { return m_text; }
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};
