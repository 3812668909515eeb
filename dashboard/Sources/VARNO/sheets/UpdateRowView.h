#pragma once

#include "kit/ColorPair.h"
#include "model/UpdateState.h"
#include "records/AppIncident.h"
#include "records/AppRecord.h"

#include <QBasicTimer>
#include <QPointer>
#include <QWidget>

#include <optional>

class AppIconView;
class AppModel;
class IncidentActionButton;

// Everything one update row shows, worked out from the app's record, its
// update state and its incident (see UpdateRowView's rules).
struct UpdateRowContent {
    enum class StateIcon {
        none,    // an empty slot (idle, no incident)
        symbol,  // `symbol` in `symbolColor`
        spinner, // running
        greenSeal,
        verifiedPath,
    };

    QString primaryLine;
    std::optional<QString> secondaryLine;
    StateIcon stateIcon = StateIcon::none;
    QString symbol;
    ColorPair symbolColor;
    ColorPair statusLineColor;
    ColorPair borderColor;
    qreal borderOpacity = 1.0;
    bool showsIncidentAction = false;
    QString incidentCode; // the remedy button's code ("UNKNOWN" without an incident)

    friend bool operator==(const UpdateRowContent &, const UpdateRowContent &) = default;
};

// One app in the update-run sheet: its icon and name, where it stands in the
// run (primary line, at most two lines), a detail line (the failure, the
// mechanism or the command that will update it), the remedy for its last
// incident and a state icon. It reads the model's state whenever it is asked
// to refresh, and starts nothing itself (the remedy button acts through the
// model). Painted, so that a sheet of hundreds of rows stays cheap: only the
// icon, the remedy button and a trust badge are widgets of their own.
class UpdateRowView : public QWidget {
    Q_OBJECT

public:
    UpdateRowView(AppModel *model, const AppRecord &app, QWidget *parent = nullptr);

    const AppRecord &app() const { return m_app; }
    // Shows another version of the record (after a reload).
    void setApp(const AppRecord &app);
    // Reads the app's state and incident from the model again. Returns whether
    // what the row shows changed.
    bool refresh();

    const UpdateRowContent &content() const { return m_content; }
    UpdateState state() const { return m_state; }
    IncidentActionButton *incidentButton() const { return m_button; }
    // The green seal or verified-path badge of a done row, when shown.
    QWidget *doneBadge() const { return m_badge; }
    // The primary line as drawn at the row's width (at most two lines).
    QStringList primaryLinesShown() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

    // --- Rules: pure functions of the record, the state and the incident ---
    static UpdateRowContent contentFor(const AppRecord &app, const UpdateState &state,
                                       const std::optional<AppIncident> &incident);
    static QString primaryLine(const AppRecord &app, const UpdateState &state,
                               const std::optional<AppIncident> &incident);
    static std::optional<QString> secondaryLine(const AppRecord &app, const UpdateState &state,
                                                const std::optional<AppIncident> &incident);
    // update_mechanism lower-cased: "Homebrew", "App Store", "Sparkle", else "Native updater".
    static QString mechanismLabel(const AppRecord &app);
    // The ready line of an idle app without an incident (case-sensitive).
    static QString readyLine(const AppRecord &app);
    // The command that will update an idle app, case-sensitive on the
    // mechanism; values from the library go in as one shell word each.
    static std::optional<QString> commandHint(const AppRecord &app);
    static QString incidentCause(const std::optional<AppIncident> &incident);
    static bool showsIncidentAction(const UpdateState &state, const std::optional<AppIncident> &incident);
    // Fewer than 85 user-perceived characters: whole; else the first 83 and "…".
    static QString shortenedFailure(const QString &message);
    // "<app name>, <primary line>"
    static QString accessibilityLabel(const AppRecord &app, const QString &primaryLine);

    static constexpr int kIconSize = 28;
    static constexpr int kStateSlot = 22;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void apply(const UpdateRowContent &content);
    void placeChildren();
    void updateSpinner();
    int textWidth(int width) const;
    int textHeight(int width) const;
    // The primary line wrapped at a width, kept until the text or width changes.
    const QStringList &primaryLinesAt(int available) const;

    QPointer<AppModel> m_model;
    AppRecord m_app;
    UpdateState m_state;
    UpdateRowContent m_content;
    AppIconView *m_icon = nullptr;
    IncidentActionButton *m_button = nullptr;
    QWidget *m_badge = nullptr;
    UpdateRowContent::StateIcon m_badgeKind = UpdateRowContent::StateIcon::none;
    mutable QStringList m_lines;
    mutable int m_linesWidth = -1;
    mutable QString m_linesText;
    QBasicTimer m_spinTimer;
    int m_angle = 0;
};
