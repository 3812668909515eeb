#pragma once

#include "model/AppFilter.h"

#include <QKeySequence>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <functional>

class AppModel;
class QAction;
class QMenu;
class QMenuBar;
class SparkleUpdater;

// The app's main menu. Every item acts on the shared model, on the
// self-updater, or asks the Workshop window to act through VarnoSignals; each
// item's enabled state, checkmark and help text follow the model and the
// updater as they change. Items that appear in two menus are one action, so
// that their shortcut is not ambiguous.
class VARNOCommands : public QObject {
    Q_OBJECT

public:
    enum class Item {
        about,
        checkForUpdates,
        closeWindow,
        openWorkshop,
        scanNow,
        updateAll,
        reloadLibrary,
        diagnostics,
        quit,
        cut,
        copy,
        paste,
        selectAll,
        copyAppDetails,
        copyDiagnostics,
        settings,
        simple,
        details,
        refresh,
        revealInFinder,
        showProvenance,
        minimize,
        website,
        releaseNotes,
        runHealthCheck,
    };

    // What the commands reach outside the model. Empty functions are the
    // app's own.
    struct Environment {
        std::function<void()> openWorkshop;       // open window "workshop" and activate the app
        std::function<void()> requestDiagnostics; // open, activate, Diagnostics after 0.15 s
        std::function<void()> requestHealthCheck; // ... and the health check after 0.45 s
        std::function<void()> showSettings;
        std::function<void()> showAbout;
        std::function<void()> quit;
        std::function<QCoro::Task<QString>()> gatherDiagnostics;
        std::function<void(const QString &text)> copyToClipboard;
        std::function<bool(const QUrl &url)> openUrl;
        std::function<void(const QString &path)> revealFile;
    };

    VARNOCommands(AppModel *model, SparkleUpdater *updater, Environment environment = {}, QObject *parent = nullptr);
    ~VARNOCommands() override;

    // Fills the menu bar: File, Edit, View, VARNO, Go, Window, Help.
    void install(QMenuBar *menuBar);

    QAction *action(Item item) const { return m_actions.value(item); }
    QAction *filterAction(AppFilter filter) const { return m_filterActions.value(filter); }

    // What makes the model busy.
    struct BusyFlags {
        bool isScanning = false;
        bool isUpdating = false;
        bool singleUpdate = false; // a single application's update holds its token
        bool isFixing = false;
    };
    static BusyFlags busyFlags(const AppModel &model);
    // Busy, tested in this order: a scan, an update stream, a single update, a fix.
    static bool isBusy(const BusyFlags &flags);
    // Update All's help: the scan's sentence, else the fix's, else the default.
    static QString updateAllHelp(const BusyFlags &flags);
    static QString copyAppDetailsHelp(const AppModel &model);

    // The filters the View menu offers, in menu order, with their titles.
    static QList<AppFilter> menuBuckets();
    static QString filterTitle(AppFilter filter);

    // The product website and its release notes ("/releases" below it).
    static QString websiteAddress();
    static QUrl releaseNotesUrl(const QString &website);

    // About VARNO: the app's name, its version and its build.
    static QString aboutText();

    // Re-reads every item's state from the model and the updater.
    void refresh();

private:
    QAction *make(Item item, const QString &text, const QKeySequence &shortcut = QKeySequence());
    void triggerUpdateAll();
    void copyAppDetails();
    QCoro::Task<void> copyDiagnostics();
    void revealInFinder();
    void showProvenance();
    void reload();

    QPointer<AppModel> m_model;
    QPointer<SparkleUpdater> m_updater;
    Environment m_environment;
    QMap<Item, QAction *> m_actions;
    QMap<AppFilter, QAction *> m_filterActions;
};
