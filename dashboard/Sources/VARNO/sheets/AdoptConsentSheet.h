#pragma once

#include "records/AdoptFlow.h"
#include "records/AppRecord.h"
#include "widgets/SheetFrame.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

#include <optional>

class AppModel;
class QToolButton;

// The sheet in which the user hands an app installed by hand over to Homebrew
// Cask. When shown it asks the model for the adoption's dry run, then shows
// why adoption is not possible, or the matched cask with the app's signature
// state and the consent text, and offers one confirm button. Confirming runs
// the approved adoption through the model and shows its outcome in place.
//
// Neither footer button cancels work: closing the sheet while the dry run or
// the adoption runs lets the model finish, and the outcome lands in the
// model's state (the app's update state, or the error), never in the closed
// sheet.
class AdoptConsentSheet : public SheetFrame {
    Q_OBJECT

public:
    struct Phase {
        enum class Kind { noMatch, ready, failed, refused, loading, alreadyManaged, adopting, success };
        Kind kind = Kind::loading;
        QString text;                              // noMatch's reason, failed's and refused's message
        std::optional<AdoptFlow::Preview> preview; // ready's dry run

        static Phase noMatch(const QString &reason) { return {Kind::noMatch, reason, std::nullopt}; }
        static Phase ready(const AdoptFlow::Preview &preview) { return {Kind::ready, QString(), preview}; }
        static Phase failed(const QString &message) { return {Kind::failed, message, std::nullopt}; }
        static Phase refused(const QString &message) { return {Kind::refused, message, std::nullopt}; }
        static Phase loading() { return {}; }
        static Phase alreadyManaged() { return {Kind::alreadyManaged, QString(), std::nullopt}; }
        static Phase adopting() { return {Kind::adopting, QString(), std::nullopt}; }
        static Phase success() { return {Kind::success, QString(), std::nullopt}; }

        friend bool operator==(const Phase &, const Phase &) = default;
    };

    AdoptConsentSheet(AppModel *model, const AppRecord &app, QWidget *parent = nullptr);

    static constexpr int kWidth = 440;

    const AppRecord &app() const { return m_app; }
    const Phase &phase() const { return m_phase; }
    const std::optional<QString> &confirmedCaskToken() const { return m_confirmedCaskToken; }
    // Shows a phase without asking the engine (preview scenes).
    void setPhaseForPreview(const Phase &phase, std::optional<QString> confirmedCaskToken = std::nullopt);

    // The dry run (started when the sheet is first shown), and the approved adoption.
    QCoro::Task<void> loadPreview();
    QCoro::Task<void> confirm(AdoptFlow::Preview preview, bool allowUnsigned);

    // "Done" or "Cancel".
    StyledButton *footerButton() const { return ghostButton(); }
    // "Adopt" or "Adopt anyway (unsigned)"; hidden when the phase offers none.
    StyledButton *confirmButton() const { return primaryButton(); }
    // The failed view's "Raw output" disclosure, when shown.
    QToolButton *rawOutputToggle() const;
    // The failed view's brew command line, when shown.
    QLabel *commandLine() const;

    // --- Texts ---
    static QString headerTitle(const QString &appName);
    static QString checkFailedText(const QString &appName);
    static QString footerTitle(Phase::Kind kind);
    static const QString unsignedRefusedWarning;
    static const QString signatureExplanation;

Q_SIGNALS:
    // After every redraw (tests wait for it).
    void refreshed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setPhase(const Phase &phase);
    void refresh();
    QWidget *contentView();
    QWidget *loadingState();
    QWidget *adoptingState();
    QWidget *noMatchState(const QString &reason);
    QWidget *refusedState(const QString &message);
    QWidget *alreadyManagedState();
    QWidget *successState();
    QWidget *readyState(const AdoptFlow::Preview &preview);
    QWidget *failedState(const QString &message);
    QWidget *detailRow(const QString &label, const QString &value, QWidget *parent);
    QWidget *signatureStatusView(const AdoptFlow::Preview &preview, QWidget *parent);
    QWidget *warningLine(const QString &text, QWidget *parent);
    std::optional<QString> incidentCode() const;
    AdoptFlow::ConfirmAvailability availability() const;

    QPointer<AppModel> m_model;
    AppRecord m_app;
    Phase m_phase;
    std::optional<QString> m_confirmedCaskToken;
    bool m_started = false;
    QString m_shownKey;
};
