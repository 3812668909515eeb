#pragma once

#include "records/AppRecord.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <optional>

class AppModel;
class QDialog;
class QLineEdit;
class QMessageBox;
class QPropertyAnimation;
class ProvenanceDrawerView;

class GhostBannerView;
class ShelfView;
class SidebarView;
class StatusBarView;
class ToolbarAreaView;

class OnboardingView;

// The window's sheets.
enum class WorkshopSheet { updateFlow, environment, diagnostics, ghosts };

// The main window, titled "VARNO Workshop": the sidebar of filters beside the
// detail column (toolbar strip, ghost banner, shelf, status strip), with the
// provenance drawer and the first-run onboarding laid over them, four sheets,
// the error alert and the hidden Ctrl+/ layout switch. It owns the window's
// presentation state; everything else it reads from the model. It receives
// the app's in-process signals for as long as it exists.
class WorkshopWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit WorkshopWindow(AppModel *model, QWidget *parent = nullptr);
    ~WorkshopWindow() override;

    static constexpr int kMinimumWidth = 860;
    static constexpr int kMinimumHeight = 560;
    static constexpr int kSidebarMinimumWidth = 188;
    static constexpr int kSidebarMaximumWidth = 220;
    static constexpr int kDrawerWidth = 380;
    static constexpr int kDrawerAnimationMs = 220;
    static QString alertTitle(); // "Something's not right."

    // --- Presentation state (children only ever set a sheet flag to true) ---
    bool isSheetShown(WorkshopSheet sheet) const;
    // True opens the sheet (a fresh one); false closes it.
    void setSheetShown(WorkshopSheet sheet, bool shown);
    // The record whose drawer is open, a copy of the model's record.
    const std::optional<AppRecord> &showProvenance() const { return m_showProvenance; }
    void setShowProvenance(std::optional<AppRecord> record);
    QString searchText() const;
    void setSearchText(const QString &text);

    // --- The window's parts (for the shell and tests) ---
    SidebarView *sidebar() const { return m_sidebar; }
    ToolbarAreaView *toolbar() const { return m_toolbar; }
    GhostBannerView *ghostBanner() const { return m_ghostBanner; }
    ShelfView *shelf() const { return m_shelf; }
    StatusBarView *statusBar() const { return m_statusBar; }
    QLineEdit *searchField() const { return m_searchField; }
    // The open drawer and onboarding overlay, when shown.
    ProvenanceDrawerView *drawer() const;
    QWidget *onboarding() const;
    QDialog *sheet(WorkshopSheet sheet) const;
    QMessageBox *errorAlert() const;

Q_SIGNALS:
    void presentationChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showProvenanceFor(const QString &bundleId);
    void layOutOverlays();
    void updateGhostBanner();
    void updateOnboarding();
    void updateAlert();
    void closeDrawer();
    void crossFadeDrawer();

    QPointer<AppModel> m_model;
    QWidget *m_content = nullptr;
    SidebarView *m_sidebar = nullptr;
    ToolbarAreaView *m_toolbar = nullptr;
    GhostBannerView *m_ghostBanner = nullptr;
    ShelfView *m_shelf = nullptr;
    StatusBarView *m_statusBar = nullptr;
    QLineEdit *m_searchField = nullptr;
    QPointer<ProvenanceDrawerView> m_drawer;
    QPointer<OnboardingView> m_onboarding;
    QPointer<QDialog> m_alert;
    QPointer<QPropertyAnimation> m_bannerAnimation;
    std::array<QPointer<QDialog>, 4> m_sheets;
    std::optional<AppRecord> m_showProvenance;
};
