#pragma once

#include "engine/VARNOCancellationToken.h"
#include "provenance/ProvenanceRules.h"
#include "records/AppRecord.h"
#include "records/BackupRecord.h"
#include "widgets/SheetFrame.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class AppModel;
class StyledButton;

// The sheet in which the user puts one app back to the version of its last
// local backup. Each time it is shown it asks the engine again for the
// backup's status (cancelled when the sheet closes), shows what it found, has
// the model run the restore, reports the outcome in place and, after a
// success, the model reloads the library. Error and success are final for the
// sheet's lifetime. For an expired backup it shows the answer at once and
// names the configured retention once the engine has told it (that question
// ends with the sheet too).
//
// "Cancel" and Esc close the sheet also while a restore runs: the restore goes
// on in the model, whose entry for the app shows it running and then done or
// failed with the reason; a failure that the closed sheet can no longer show
// also becomes the model's error.
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

Q_SIGNALS:
    void refreshed();

protected:
    void showEvent(QShowEvent *event) override;

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
