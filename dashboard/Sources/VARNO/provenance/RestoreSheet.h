#pragma once

#include "engine/VARNOCancellationToken.h"
#include "provenance/ProvenanceRules.h"
#include "records/AppRecord.h"
#include "records/BackupRecord.h"
#include "sheets/SheetFrame.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class AppModel;
class StyledButton;

// The sheet in which the user puts one app back to the version of its last
// local backup. Each time it is shown it asks the engine again for the
// backup's status (cancelled when the sheet closes), shows what it found, runs
// the restore, reports the outcome in place and, after a success, reloads the
// library. Error and success are final for the sheet's lifetime.
//
// While a restore runs, the sheet cannot be closed: "Cancel", Esc and the
// window's close button wait for the outcome, so that a failure is always
// shown. Should the sheet go away all the same (its window closed), a failure
// becomes the model's error.
class RestoreSheet : public SheetFrame {
    Q_OBJECT

public:
    RestoreSheet(AppModel *model, const AppRecord &app, QWidget *parent = nullptr);
    ~RestoreSheet() override;

    static constexpr int kWidth = 420;

    struct State {
        std::optional<BackupRecord> backup;
        bool isLoading = true;
        bool isRestoring = false;
        std::optional<QString> error;
        bool restored = false;
        // The configured retention, asked for when the backup has expired.
        std::optional<qint64> retentionDays;
    };

    // A backup's date: the compact form, else an internet date-time, as
    // "MMM d, yyyy" in the user's locale and time zone; anything else unchanged.
    static QString shortDate(const QString &timestamp);

    const AppRecord &app() const { return m_app; }
    const State &state() const { return m_state; }
    // Shows a given state without asking the engine (preview scenes).
    void setStateForPreview(const State &state);

    // The status check, and the restore.
    QCoro::Task<void> loadBackup();
    QCoro::Task<void> performRestore();

    StyledButton *cancelButton() const { return ghostButton(); }

    void reject() override;

Q_SIGNALS:
    void refreshed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void refresh();
    void rebuildStateArea();
    QWidget *statusCard(const QString &symbol, const ColorPair &iconColor, const QString &title, const QString &message);
    QWidget *errorState(const QString &error);
    QWidget *successState();
    QWidget *readyState(const BackupRecord &backup);
    QWidget *noBackupState();
    bool isBusy() const;

    QPointer<AppModel> m_model;
    AppRecord m_app;
    State m_state;
    bool m_started = false;
    std::shared_ptr<VARNOCancellationToken> m_token;

    QString m_shownKey;
};
