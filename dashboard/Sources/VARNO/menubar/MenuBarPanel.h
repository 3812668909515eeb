#pragma once

#include "menubar/MenuBarPanelState.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class BruskView;
class PanelProgressBar;
class PanelStatCell;
class PanelSymbol;
class QBoxLayout;
class QLabel;
class SparkleUpdater;
class StyledButton;

// The menu-bar extra's panel: 320 pixels wide, its height following its
// content. A header (wordmark, version, and the library's posture or the
// detection banner), one body chosen by the state rule, and a footer of
// links. It keeps no state of its own: everything is redrawn from the model
// whenever the model changes.
class MenuBarPanel : public QWidget {
    Q_OBJECT

public:
    explicit MenuBarPanel(AppModel *model, QWidget *parent = nullptr);
    ~MenuBarPanel() override;

    static constexpr int kWidth = 320;

    // The self-updater behind "Update VARNO" (at first the app's registered
    // one); without one the link is disabled.
    void setUpdater(SparkleUpdater *updater);

    // What the Quit link does; the default quits the application.
    static void setQuitAction(std::function<void()> action);
    // Where the banner's interface events go; the default tells the engine
    // (ExperimentRecorder::record). An empty function restores it.
    static void setEventRecorder(std::function<void(const QString &event)> recorder);

    PanelState state() const { return m_state; }
    const PanelSnapshot &snapshot() const { return m_snapshot; }

    // Draws a fixed snapshot in place of the model's state (screenshots of
    // states the model only reaches with a running engine); nothing returns
    // to the model. Buttons still act on the model.
    void setSnapshotOverride(std::optional<PanelSnapshot> snapshot);

    // Redraws from the model (done on every change of it).
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildHeader(QBoxLayout *layout);
    void buildBodies(QBoxLayout *layout);
    void buildFooter(QBoxLayout *layout);
    QWidget *buildPersonaBody(BruskView **artwork, QLabel **headline, QLabel **detail, StyledButton **button,
                              const QString &buttonText);
    void updateHeader();
    void updateBodies();
    void updateBannerRecording();
    void fitHeight();

    void togglePause();
    void sendControl(const QString &word);
    void startUpdateAll();
    void startUpdateUrgent();
    void startScan();
    void reload();
    void openWorkshop();
    void runDiagnostics();
    void checkForAppUpdates();

    QPointer<AppModel> m_model;
    QPointer<SparkleUpdater> m_updater;
    std::optional<PanelSnapshot> m_override;
    PanelSnapshot m_snapshot;
    PanelState m_state = PanelState::needsScan;
    bool m_bannerRecorded = false;

    // Header
    QLabel *m_version = nullptr;
    QWidget *m_posture = nullptr;
    PanelSymbol *m_toneIcon = nullptr;
    BruskView *m_postureBrusk = nullptr;
    QLabel *m_postureTitle = nullptr;
    QWidget *m_banner = nullptr;
    StyledButton *m_runDiagnostics = nullptr;

    // Bodies, one per state
    QWidget *m_running = nullptr;
    QLabel *m_headline = nullptr;
    QLabel *m_counter = nullptr;
    PanelProgressBar *m_progress = nullptr;
    StyledButton *m_pauseResume = nullptr;
    StyledButton *m_skip = nullptr;
    StyledButton *m_stop = nullptr;

    QWidget *m_error = nullptr;
    StyledButton *m_openDiagnostics = nullptr;

    QWidget *m_loadFailed = nullptr;
    StyledButton *m_reload = nullptr;

    QWidget *m_needsScan = nullptr;
    StyledButton *m_scanNowFirst = nullptr;

    QWidget *m_pending = nullptr;
    PanelStatCell *m_pendingStat = nullptr;
    PanelStatCell *m_atRiskStat = nullptr;
    StyledButton *m_updateAll = nullptr;
    StyledButton *m_urgentOnly = nullptr;

    QWidget *m_clean = nullptr;
    QLabel *m_cleanDetail = nullptr;
    StyledButton *m_scanNow = nullptr;

    QWidget *m_unmeasured = nullptr;
    QLabel *m_unmeasuredHeadline = nullptr;
    QLabel *m_unmeasuredDetail = nullptr;
    StyledButton *m_openWorkshopBody = nullptr;

    // Footer
    StyledButton *m_footerOpenWorkshop = nullptr;
    StyledButton *m_footerScan = nullptr;
    StyledButton *m_footerUpdate = nullptr;
    StyledButton *m_footerQuit = nullptr;
};
