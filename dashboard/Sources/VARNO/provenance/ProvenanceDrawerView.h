#pragma once

#include "engine/VARNOCancellationToken.h"
#include "kit/ColorPair.h"
#include "provenance/ProvenanceRules.h"
#include "records/AppRecord.h"
#include "records/BackupRecord.h"
#include "records/ProvenanceRecord.h"

#include <QPointer>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class AppModel;
class QComboBox;
class QLabel;
class QMessageBox;
class QScrollArea;
class QVBoxLayout;
class RestoreSheet;
class StyledButton;

namespace ProvenanceParts {
class Box;
class Dot;
} // namespace ProvenanceParts

// One application's drawer, laid by the Workshop window over its content: a
// backdrop at the left ("← back to the shelf", a click closes) and a 380 px
// panel at the right with the header and trust badge, the trust card, the
// failure banner, the current state, the version history, the update-mode
// policy and a footer of actions (update, restore, close).
//
// The drawer asks the engine itself for the app's history, backup and trust
// seal when it is shown and whenever it is switched to another app. Each load
// carries a cancellation token: closing the drawer or switching it ends the
// engine children, and a result that arrives for an app the drawer no longer
// shows is dropped. Everything else reaches the engine through the model; the
// drawer shows the model's live record of the app (its copy only once the app
// has left the library).
class ProvenanceDrawerView : public QWidget {
    Q_OBJECT

public:
    using AppLifecycleAction = ProvenanceRules::AppLifecycleAction;

    // With loads false the drawer asks the engine nothing until it is
    // switched to another app (preview scenes give it a state instead).
    ProvenanceDrawerView(AppModel *model, const AppRecord &app, std::function<void()> onDismiss,
                         QWidget *parent = nullptr, bool loads = true);
    ~ProvenanceDrawerView() override;

    static constexpr int kPanelWidth = 380;

    // What the load left, for tests and preview scenes.
    struct LoadState {
        QList<ProvenanceRecord> provenance;
        bool isLoading = true;
        std::optional<QString> loadError;
        std::optional<BackupRecord> backup;
    };

    // A history row's date: an internet date-time as "MMM d, yyyy" in the
    // user's locale and time zone; anything else unchanged.
    static QString shortDate(const QString &timestamp);

    // The app shown: the model's record with this bundle id, else the copy
    // the drawer was given.
    AppRecord app() const;
    const QString &bundleId() const { return m_app.bundle_id; }
    // Shows another app (its own load starts; the running one is cancelled).
    // The same bundle id only refreshes the copy.
    void setApp(const AppRecord &app);

    const LoadState &loadState() const { return m_state; }
    // Shows a given state without asking the engine (preview scenes); a
    // running load is cancelled.
    void setLoadStateForPreview(const LoadState &state);
    std::optional<AppLifecycleAction> actionToConfirm() const { return m_actionToConfirm; }
    bool isRestoreSheetShown() const { return !m_restoreSheet.isNull(); }
    // How many loads (and "Try again" runs) were started, for tests.
    int loadRuns() const { return m_loadRuns; }

    // The parts, for tests.
    QWidget *panel() const { return m_panel; }
    QWidget *backdrop() const { return m_backdrop; }
    QWidget *failureBanner() const;
    StyledButton *reinstallButton() const { return m_reinstall; }
    StyledButton *uninstallButton() const { return m_uninstall; }
    StyledButton *updateButton() const { return m_update; }
    StyledButton *restoreButton() const { return m_restore; }
    StyledButton *closeButton() const { return m_close; }
    StyledButton *tryAgainButton() const { return m_tryAgain; }
    QComboBox *modePicker() const { return m_modePicker; }
    QMessageBox *confirmationDialog() const;
    RestoreSheet *restoreSheet() const;
    // The texts the drawer shows, in reading order (plain, for tests).
    QStringList visibleTexts() const;

    // Sets the pending action and opens its confirmation; nothing when null.
    void setActionToConfirm(std::optional<AppLifecycleAction> action);
    // Opens the restore sheet.
    void showRestoreSheet();

    // The load run: history, then backup and the restore event, then seal.
    QCoro::Task<void> loadDrawer();
    // "Try again": asks for the history only.
    QCoro::Task<void> reloadHistory();

Q_SIGNALS:
    // Emitted whenever what the drawer shows was brought up to date.
    void refreshed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The engine's history of an app, or why it could not be had.
    struct FetchedHistory {
        QList<ProvenanceRecord> history;
        std::optional<QString> failure;
    };
    static QCoro::Task<FetchedHistory> fetchHistory(QString bundleId, std::shared_ptr<VARNOCancellationToken> token);
    // Shows a fetched history, or its failure (logged); whether it was found.
    bool applyHistory(const FetchedHistory &fetched);

    void buildPanel();
    QWidget *buildHeader();
    QWidget *buildFooter();
    // Brings every part up to date from the model, the live record and the
    // load state; each part rebuilds only what changed.
    void refresh();
    void drawerHeader(const AppRecord &app, const AppTrustPresentation &presentation);
    void trustSummary(const AppTrustPresentation &presentation);
    void clusterErrorBanner(const AppRecord &app, const AppTrustPresentation &presentation);
    void currentStateRows(const AppRecord &app, const AppTrustPresentation &presentation);
    QWidget *provRow(const QString &key, const QString &value, const ColorPair &valueColor);
    void versionHistoryRows(const AppTrustPresentation &presentation);
    void versionHistorySkeleton();
    void policySection(const AppRecord &app, const AppTrustPresentation &presentation);
    void drawerFooter(const AppRecord &app);
    AppTrustPresentation presentation(const AppRecord &app) const;
    void applyBadgeCaptionColor();
    bool isBusy() const;
    void startLoad();
    void cancelLoad();
    void confirmPendingAction();
    void pickMode(int index);
    // Has the model change the mode, then shows the record's mode whatever
    // came of it (a refused change leaves the record as it was).
    QCoro::Task<void> changeUpdateMode(AppRecord app, QString mode);

    QPointer<AppModel> m_model;
    AppRecord m_app;
    std::function<void()> m_onDismiss;

    LoadState m_state;
    std::optional<AppLifecycleAction> m_actionToConfirm;
    quint64 m_generation = 0; // one per load or history run
    std::shared_ptr<VARNOCancellationToken> m_token;
    int m_loadRuns = 0;

    QWidget *m_backdrop = nullptr;
    QWidget *m_panel = nullptr;
    // Header
    QLabel *m_name = nullptr;
    QLabel *m_bundleIdLabel = nullptr;
    QWidget *m_badgeSlot = nullptr;
    QWidget *m_badge = nullptr;
    QLabel *m_badgeCaption = nullptr;
    ColorPair m_badgeCaptionColor;
    ProvenanceRules::TrustBadge m_shownBadge = ProvenanceRules::TrustBadge::none;
    // Trust card
    ProvenanceParts::Dot *m_trustDot = nullptr;
    QLabel *m_trustTitle = nullptr;
    QLabel *m_trustDetail = nullptr;
    QWidget *m_evidence = nullptr;
    QStringList m_shownEvidence;
    // Failure banner
    ProvenanceParts::Box *m_banner = nullptr;
    QLabel *m_bannerDetail = nullptr;
    StyledButton *m_reinstall = nullptr;
    StyledButton *m_uninstall = nullptr;
    // Current state
    QWidget *m_stateRows = nullptr;
    QList<ProvenanceRules::StateRow> m_shownRows;
    // Version history
    ProvenanceParts::Box *m_history = nullptr;
    QString m_shownHistoryKey;
    StyledButton *m_tryAgain = nullptr;
    // Policy
    QLabel *m_routing = nullptr;
    QComboBox *m_modePicker = nullptr;
    // Footer
    StyledButton *m_update = nullptr;
    StyledButton *m_restore = nullptr;
    StyledButton *m_close = nullptr;

    QPointer<QMessageBox> m_confirmation;
    QPointer<RestoreSheet> m_restoreSheet;
};
