#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <functional>

class AppModel;
class FittedLabel;
class QLabel;
class QLineEdit;
class SettingsButton;
class StyledButton;

// One pill of the Simple/Details switch: the title in the interface face at
// 11 medium, padded 10 by 5; the active pill on the hover surface in the
// primary text colour, the other clear in the secondary one. The pills are
// exclusive and the active one is checked: assistive technology meets them
// as radio buttons and tells which mode is chosen.
class ModePillButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit ModePillButton(const QString &title, QWidget *parent = nullptr);
    void setActive(bool active);
    bool isActive() const { return m_active; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void nextCheckState() override;

private:
    bool m_active = false;
};

// The strip across the top of the detail column, in two lines: "your library"
// with the outdated count and the window's search field; then the scanning
// indicator while a scan runs, the Simple/Details switch, the Workshop,
// Settings and Diagnostics buttons, Scan, and at the right end either the
// update queue's controls (Progress, Pause/Resume, Skip, Stop) or
// Update All. It keeps no state: its faces follow the model's busy flags, and
// it opens the sheets through the window's functions.
class ToolbarAreaView : public QWidget {
    Q_OBJECT

public:
    ToolbarAreaView(AppModel *model, QLineEdit *searchField, std::function<void()> showUpdateFlow,
                    std::function<void()> showEnvironment, std::function<void()> showDiagnostics,
                    QWidget *parent = nullptr);

    // The parts (tests, screenshots).
    QLabel *badge() const { return m_badge; }
    QWidget *scanningIndicator() const { return m_scanning; }
    FittedLabel *scanningHintLabel() const { return m_scanningHint; }
    ModePillButton *simplePill() const { return m_simple; }
    ModePillButton *detailsPill() const { return m_details; }
    StyledButton *workshopButton() const { return m_workshop; }
    StyledButton *diagnosticsButton() const { return m_diagnostics; }
    StyledButton *scanButton() const { return m_scan; }
    StyledButton *progressButton() const { return m_progress; }
    StyledButton *pauseButton() const { return m_pause; }
    StyledButton *skipButton() const { return m_skip; }
    StyledButton *stopButton() const { return m_stop; }
    StyledButton *updateAllButton() const { return m_updateAll; }

    // The button actions.
    void startScan();
    void togglePause();
    void sendQueueCommand(const QString &word);
    void startUpdateAll();

    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<AppModel> m_model;
    std::function<void()> m_showUpdateFlow;
    QLabel *m_badge;
    QWidget *m_scanning;
    FittedLabel *m_scanningHint = nullptr;
    ModePillButton *m_simple;
    ModePillButton *m_details;
    StyledButton *m_workshop;
    SettingsButton *m_settings;
    StyledButton *m_diagnostics;
    StyledButton *m_scan;
    StyledButton *m_progress;
    StyledButton *m_pause;
    StyledButton *m_skip;
    StyledButton *m_stop;
    StyledButton *m_updateAll;
};
