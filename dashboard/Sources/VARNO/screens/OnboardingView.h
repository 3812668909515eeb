#pragma once

#include "screens/OnboardingFlow.h"
#include "screens/OnboardingRules.h"

#include <QPointer>
#include <QWidget>

class AppModel;
class QCheckBox;
class QLabel;
class QScrollArea;
class QVariantAnimation;
class QVBoxLayout;
class PanelsRoundedPanel;
class StyledButton;
class OnboardingCounter;
class OnboardingNamePill;
class QGraphicsOpacityEffect;
class SetupRowView;

// The first-run overlay over the whole Workshop window: the welcome header
// and the screen of the flow's current phase (the set-up checklist, the live
// count of the apps found, the summary with its launch-at-login box and
// "Open the Workshop"). It runs the flow once, from its first showing; a new
// overlay runs it again from the start. Removing the overlay (the window
// closes) cancels what is left of the flow's waiting.
class OnboardingView : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingView(AppModel *model, QWidget *parent = nullptr);
    OnboardingView(AppModel *model, OnboardingEnvironment environment, QWidget *parent = nullptr);
    ~OnboardingView() override;

    // The view's state, as the flow last wrote it.
    OnboardingPhase phase() const { return m_phase; }
    int setupStep() const { return m_setupStep; }
    int appsFound() const { return m_appsFound; }
    QString lastFoundApp() const { return m_lastFoundApp; }
    bool brewFound() const { return m_brewFound; }
    bool masFound() const { return m_masFound; }
    bool launchAtLogin() const;
    // The running flow; nothing before the first showing or once it ended.
    OnboardingFlow *flow() const { return m_flow.data(); }
    bool hasStarted() const { return m_started; }

    int managedAppsCount() const;
    QString summaryHeadline() const;

    // The screens and their parts (for tests and screenshots).
    QWidget *setupPhaseView() const { return m_setupScreen; }
    QWidget *discoveryPhaseView() const { return m_discoveryScreen; }
    QWidget *summaryPhaseView() const { return m_summaryScreen; }
    QString setupRowTitle(int row) const;
    OnboardingRules::SetupMark setupRowMark(int row) const;
    bool setupRowTitleIsSecondary(int row) const;
    QString counterText() const;
    OnboardingCounter *counter() const { return m_counter; }
    OnboardingNamePill *namePill() const { return m_namePill; }
    QString namePillText() const;
    QString summaryTitleText() const;
    QString summaryHeadlineText() const;
    QString pathLineText() const;
    QString attentionCountText() const;
    QString managedCountText() const;
    bool attentionTileIsAmber() const;
    QCheckBox *launchAtLoginBox() const { return m_launchBox; }
    StyledButton *openWorkshopButton() const { return m_openButton; }

    // Shows a state without running the flow (screenshots).
    struct Preview {
        OnboardingPhase phase = OnboardingPhase::setup;
        int setupStep = 0;
        int appsFound = 0;
        QString lastFoundApp;
        bool brewFound = false;
        bool masFound = false;
    };
    void showPreview(const Preview &preview);

    // "Open the Workshop": the login item when the box is ticked, then the
    // end of onboarding.
    void openWorkshop();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void build();
    QWidget *buildSetupScreen();
    QWidget *buildDiscoveryScreen();
    QWidget *buildSummaryScreen();
    void startFlow();
    void setPhase(OnboardingPhase phase, int animationMs);
    void renderSetup();
    void renderDiscovery(int animationMs);
    void renderSummary();
    QWidget *screenFor(OnboardingPhase phase) const;

    // How long a change of the count, and of the last app's name, takes on
    // screen when the flow animates it.
    static constexpr int kCountChangeMs = 300;
    static constexpr int kNameChangeMs = 200;

    QPointer<AppModel> m_model;
    OnboardingEnvironment m_environment;
    QPointer<OnboardingFlow> m_flow;
    bool m_started = false;

    OnboardingPhase m_phase = OnboardingPhase::setup;
    int m_setupStep = 0;
    int m_appsFound = 0;
    QString m_lastFoundApp;
    bool m_brewFound = false;
    bool m_masFound = false;

    QScrollArea *m_scroll = nullptr;
    QWidget *m_screenHost = nullptr;
    QVBoxLayout *m_screenLayout = nullptr;
    QWidget *m_setupScreen = nullptr;
    QWidget *m_discoveryScreen = nullptr;
    QWidget *m_summaryScreen = nullptr;
    QList<SetupRowView *> m_setupRows;
    OnboardingCounter *m_counter = nullptr;
    OnboardingNamePill *m_namePill = nullptr;
    QLabel *m_summaryTitle = nullptr;
    QLabel *m_summaryHeadline = nullptr;
    QLabel *m_attentionCount = nullptr;
    QLabel *m_managedCount = nullptr;
    QLabel *m_pathLine = nullptr;
    QCheckBox *m_launchBox = nullptr;
    StyledButton *m_openButton = nullptr;
    bool m_attentionAmber = false;
};

// One row of the set-up checklist: its mark (check, spinner or empty ring)
// and its title, on a rounded tile.
class SetupRowView : public QWidget {
    Q_OBJECT

public:
    explicit SetupRowView(QWidget *parent = nullptr);
    void set(const QString &title, OnboardingRules::SetupMark mark);
    QString title() const;
    OnboardingRules::SetupMark mark() const { return m_mark; }
    bool titleIsSecondary() const { return m_mark == OnboardingRules::SetupMark::done; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    OnboardingRules::SetupMark m_mark = OnboardingRules::SetupMark::pending;
    QWidget *m_check;
    QWidget *m_spinner;
    QWidget *m_ring;
    QLabel *m_title;
};

// The discovery counter: the number in the persona face, every digit in a
// cell of the same width, counting to a new value over a short animation.
class OnboardingCounter : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingCounter(QWidget *parent = nullptr);
    void setValue(int value, int animationMs);
    int value() const { return m_target; }
    QString text() const { return QString::number(m_shown); }
    // The count's change under way (or the last one).
    const QVariantAnimation *animation() const { return m_animation; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal cellWidth() const;

    int m_target = 0;
    int m_shown = 0;
    QVariantAnimation *m_animation;
};

// The name of the app found last, in mono on a small tile with an app symbol.
// It comes with a fade and a rise from its bottom edge, and goes with a fade
// and a fall back to it; without an animation it is simply shown or hidden.
class OnboardingNamePill : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingNamePill(QWidget *parent = nullptr);

    // Shows `name` (an empty name sends the pill away), over `animationMs`.
    void setName(const QString &name, int animationMs);
    QString name() const;
    // The tile, which moves inside the pill's place while it comes or goes.
    QWidget *tile() const { return m_tile; }
    // The coming or going under way (or the last one).
    QVariantAnimation *transition() const { return m_transition; }
    // 0 gone (at the bottom edge, clear) to 1 in place (opaque).
    qreal presence() const { return m_presence; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void apply(qreal presence);

    QWidget *m_tile;
    QLabel *m_label;
    QVariantAnimation *m_transition;
    QGraphicsOpacityEffect *m_fade = nullptr;
    qreal m_presence = 0;
    bool m_leaving = false;
};
