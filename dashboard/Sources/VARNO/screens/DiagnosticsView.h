#pragma once

#include "model/PosturePresenter.h"
#include "services/DiagnosticsReport.h"

#include <QDialog>
#include <QPointer>
#include <QPushButton>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

class AppModel;
class PanelsStatusDot;
class QLabel;
class QVariantAnimation;
class QVBoxLayout;

// What the Diagnostics sheet runs. The defaults are the app's own: the
// support report, `doctor` and `scan --verbose` run straight through the
// interpreter in ~/.varno (no contract flag), and the engine's reinstall.
// Tests and screenshots give their own.
struct DiagnosticsOperations {
    std::function<QCoro::Task<QString>()> gather;
    std::function<QCoro::Task<DiagnosticsReport::ShellOutcome>()> healthCheck;
    std::function<QCoro::Task<QString>()> forceScan;
    // Returns the repair's outcome text (DiagnosticsRules::repairText).
    std::function<QCoro::Task<QString>()> repair;

    static DiagnosticsOperations system();
    // The override when one is set (screenshots, tests), else system().
    static DiagnosticsOperations current();
    static void setOverride(std::optional<DiagnosticsOperations> operations);
};

// The app's reinstall of its engine: the installed version file is deleted
// (so that the launcher is set up again) and the bootstrap runs. Without an
// engine among the app's resources nothing is deleted and the repair fails.
QCoro::Task<QString> repairEngine();

// One button of the action row: a symbol and its text, or, while its work
// runs, a turning spinner and its running text (and disabled).
class DiagnosticsActionButton : public QPushButton {
    Q_OBJECT

public:
    DiagnosticsActionButton(const QString &symbol, const QString &text, const QString &runningText,
                            QWidget *parent = nullptr);
    void setRunning(bool running);
    bool isRunning() const { return m_running; }
    QString shownText() const { return m_running ? m_runningText : m_text; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_symbol;
    QString m_text;
    QString m_runningText;
    bool m_running = false;
    bool m_hovered = false;
    qreal m_angle = 0;
    QVariantAnimation *m_turn;
};

// The Diagnostics sheet: the posture headline, the actions (health check,
// engine repair, forced verbose scan, the data and log folders, refresh), the
// support report and the outcome of each action. Its work runs off the GUI
// thread or in child processes that are not the sheet's: closing the sheet
// lets them finish and drops their results.
class DiagnosticsView : public QDialog {
    Q_OBJECT

public:
    enum class Action { healthCheck, repair, forceScan, openDataFolder, openLogs, refresh };

    explicit DiagnosticsView(AppModel *model, QWidget *parent = nullptr);
    DiagnosticsView(AppModel *model, DiagnosticsOperations operations, QWidget *parent = nullptr);

    static constexpr int kMinimumWidth = 720;
    static constexpr int kMinimumHeight = 600;

    // The sheet's state.
    QString report() const { return m_report; }
    bool isLoading() const { return m_loading; }
    bool isScanRunning() const { return m_scanRunning; }
    QString scanLog() const { return m_scanLog; }
    bool isHealthRunning() const { return m_healthRunning; }
    QString healthReport() const { return m_healthReport; }
    bool healthFailed() const { return m_healthFailed; }
    bool isRepairRunning() const { return m_repairRunning; }
    QString repairResult() const { return m_repairResult; }
    PosturePresentation posture() const;

    QCoro::Task<void> refresh();
    QCoro::Task<void> runHealthCheck();
    QCoro::Task<void> runRepair();
    QCoro::Task<void> runForceScan();
    void copyToClipboard();

    // The parts (tests, screenshots).
    QPushButton *copyButton() const { return m_copyButton; }
    QPushButton *doneButton() const { return m_doneButton; }
    QPushButton *actionButton(Action action) const;
    QWidget *skeletonView() const { return m_skeleton; }
    QWidget *contentView() const { return m_content; }
    QString postureTitleText() const;
    QString postureDetailText() const;
    QString reportText() const;
    // The text of a result block ("Repair Result", "Health Check", "Scan
    // Output"); nothing while the block is hidden.
    std::optional<QString> blockText(const QString &label) const;

Q_SIGNALS:
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    QWidget *buildSkeleton();
    QWidget *buildActions();
    void render();
    void openFolder(const QString &relative);

    QPointer<AppModel> m_model;
    DiagnosticsOperations m_operations;
    bool m_presented = false;

    QString m_report;
    bool m_loading = true;
    bool m_scanRunning = false;
    QString m_scanLog;
    bool m_healthRunning = false;
    QString m_healthReport;
    bool m_healthFailed = false;
    bool m_repairRunning = false;
    QString m_repairResult;

    QPushButton *m_copyButton = nullptr;
    QPushButton *m_doneButton = nullptr;
    QWidget *m_skeleton = nullptr;
    QWidget *m_content = nullptr;
    PanelsStatusDot *m_postureDot = nullptr;
    QLabel *m_postureTitle = nullptr;
    QLabel *m_postureDetail = nullptr;
    QLabel *m_reportLabel = nullptr;
    struct Block {
        QWidget *container = nullptr;
        QLabel *text = nullptr;
    };
    Block m_repairBlock;
    Block m_healthBlock;
    Block m_scanBlock;
    DiagnosticsActionButton *m_healthButton = nullptr;
    DiagnosticsActionButton *m_repairButton = nullptr;
    DiagnosticsActionButton *m_scanButton = nullptr;
    DiagnosticsActionButton *m_dataButton = nullptr;
    DiagnosticsActionButton *m_logsButton = nullptr;
    DiagnosticsActionButton *m_refreshButton = nullptr;
};
