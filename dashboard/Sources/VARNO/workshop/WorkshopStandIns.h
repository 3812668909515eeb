#pragma once

#include "model/AppFilter.h"
#include "records/AppRecord.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class QLabel;
class QLineEdit;
class QListWidget;
class StyledButton;

// Stand-ins for the Workshop's sidebar, toolbar, ghost banner, shelf, status
// strip, onboarding and sheets, until their own views are
// built. Each has the interface of the view it stands in for (what the window
// hands it, what it hands back) and shows only the plainest form of its
// content, clearly marked as unfinished.
namespace StandIn {

// The filters with their counts; choosing one sets the model's filter.
class SidebarView : public QWidget {
    Q_OBJECT

public:
    explicit SidebarView(AppModel *model, QWidget *parent = nullptr);
    QListWidget *list() const { return m_list; }

private:
    void refresh();

    QPointer<AppModel> m_model;
    QListWidget *m_list;
    bool m_refreshing = false;
};

// The strip above the shelf: the window's search field and the buttons that
// open the Environment and Diagnostics sheets.
class ToolbarAreaView : public QWidget {
    Q_OBJECT

public:
    ToolbarAreaView(QLineEdit *searchField, std::function<void()> showEnvironment,
                    std::function<void()> showDiagnostics, QWidget *parent = nullptr);
};

// Shown while the library lists apps that are gone from disk; "Review"
// opens the ghost review sheet.
class GhostBannerView : public QWidget {
    Q_OBJECT

public:
    GhostBannerView(AppModel *model, std::function<void()> showGhosts, QWidget *parent = nullptr);

private:
    void refresh();

    QPointer<AppModel> m_model;
    QLabel *m_text;
};

// The filtered, searched library as a plain list; choosing a row opens its
// provenance drawer.
class ShelfView : public QWidget {
    Q_OBJECT

public:
    ShelfView(AppModel *model, std::function<void(const AppRecord &)> showProvenance, QWidget *parent = nullptr);

    void setFilter(AppFilter filter);
    void setSearchText(const QString &text);
    QListWidget *list() const { return m_list; }
    const QList<AppRecord> &shown() const { return m_shown; }

private:
    void refresh();

    QPointer<AppModel> m_model;
    std::function<void(const AppRecord &)> m_showProvenance;
    AppFilter m_filter = AppFilter::all;
    QString m_searchText;
    QListWidget *m_list;
    QLabel *m_empty;
    QList<AppRecord> m_shown;
};

// The library's posture line.
class StatusBarView : public QWidget {
    Q_OBJECT

public:
    explicit StatusBarView(AppModel *model, QWidget *parent = nullptr);
    QString text() const;

private:
    void refresh();

    QPointer<AppModel> m_model;
    QLabel *m_text;
};

// The first-run overlay: one button that completes onboarding.
class OnboardingView : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingView(AppModel *model, QWidget *parent = nullptr);
    StyledButton *finishButton() const { return m_finish; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<AppModel> m_model;
    StyledButton *m_finish;
};

// A sheet: a title, a line and a Close button. The Diagnostics stand-in
// counts the health checks it was asked to run.
class SheetView : public QDialog {
    Q_OBJECT

public:
    SheetView(const QString &title, QWidget *parent = nullptr);
    int healthChecksRequested() const { return m_healthChecks; }
    void noteHealthCheckRequested() { ++m_healthChecks; }

private:
    int m_healthChecks = 0;
};

SheetView *makeUpdateFlowView(AppModel *model, QWidget *parent);
SheetView *makeEnvironmentView(AppModel *model, QWidget *parent);
SheetView *makeDiagnosticsView(AppModel *model, QWidget *parent);
SheetView *makeGhostAppsView(AppModel *model, QWidget *parent);

} // namespace StandIn
