#pragma once

#include "model/AppModel.h"
#include "records/AppRecord.h"
#include "records/RemediationRegistry.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <chrono>

class StyledButton;
struct ButtonStyle;

// The one remedy for an app's open incident, as the remediation registry
// assigns it to the incident code: Fix It, Run in Terminal (copies the fix
// command), Get help, Quit & Update (after a confirmation), Adopt (the adopt
// consent sheet) or Approve; nothing at all for a code without remedy.
namespace IncidentActionRules {

// What the model's flags say for the button.
struct Busy {
    bool isUpdating = false;
    bool isScanning = false;
    bool isFixing = false;
    bool ownEntryRunning = false; // this app's own update state is running
};

struct ButtonSpec {
    bool visible = false; // false: the remedy is none, and nothing is shown
    QString title;
    bool prominent = false;
    bool enabled = true;
    QString toolTip;
    QString accessibleName;
    friend bool operator==(const ButtonSpec &, const ButtonSpec &) = default;
};

ButtonSpec specFor(IncidentAction action, const AppRecord &app, const Busy &busy, bool copied);

// Non-empty, only ASCII letters, digits, ".", "_" and "-" (a trailing line
// break included: nothing else may follow), and not beginning with "-".
bool isSafeBundleID(const QString &bundleId);

// "varno fix <bundle id>"
QString fixCommand(const QString &bundleId);
extern const QString unsafeCopyRefusalText;

QString quitConsentTitle(const QString &appName);
QString quitConsentMessage(const QString &appName);

// The chrome of the six buttons: ui 11 medium, padded 10 by 4, corners 8;
// prominent gold with dark text, plain a quiet fill with an outline.
ButtonStyle chrome(bool prominent);

} // namespace IncidentActionRules

class IncidentActionButton : public QWidget {
    Q_OBJECT

public:
    IncidentActionButton(AppModel *model, const AppRecord &app, const QString &code, QWidget *parent = nullptr);
    ~IncidentActionButton() override;

    void setIncident(const AppRecord &app, const QString &code);
    // Re-evaluates the remedy and the disabled rule.
    void refresh();

    IncidentAction action() const;
    const IncidentActionRules::ButtonSpec &spec() const { return m_spec; }
    StyledButton *button() const { return m_button; }
    bool isCopied() const { return m_copied; }
    // The open quit-and-update confirmation or adopt sheet, if any.
    QMessageBox *quitConsentDialog() const { return m_quitConsent; }
    QDialog *adoptSheet() const { return m_adoptSheet; }

    // How long "Copied" shows (2 s; tests shorten it).
    static void setCopiedInterval(std::chrono::milliseconds interval);
    static std::chrono::milliseconds copiedInterval();

private:
    void press();
    void copyFixCommand();
    void presentQuitConsent();
    void presentAdoptSheet();

    QPointer<AppModel> m_model;
    AppRecord m_app;
    QString m_code;
    IncidentActionRules::ButtonSpec m_spec;
    bool m_refreshed = false;
    StyledButton *m_button = nullptr;
    // Each copy starts its own reset; whichever runs first turns the title
    // back, so a second copy does not make "Copied" last longer.
    bool m_copied = false;
    QPointer<QMessageBox> m_quitConsent;
    QPointer<QDialog> m_adoptSheet;
};
