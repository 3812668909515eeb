#pragma once

#include "cards/CardParts.h"
#include "cards/CardRules.h"
#include "cards/ChoosableCard.h"
#include "model/AppTrustPresenter.h"
#include "records/AppRecord.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <optional>

class AppIconView;
class IncidentActionButton;
class QLabel;
class QMenu;
class TrustBadgeView;

// A small rounded badge of mono text: the mechanism badge and the community
// badge of the detailed card.
class CardBadge : public QWidget {
    Q_OBJECT

public:
    explicit CardBadge(QWidget *parent = nullptr);
    void setBadge(const QString &text, const CardRules::BadgeStyle &style, qreal strokeOpacity);
    QString text() const { return m_text; }
    const CardRules::BadgeStyle &badgeStyle() const { return m_style; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    CardRules::BadgeStyle m_style;
    qreal m_strokeOpacity = 0.3;
};

// The version group: "current → latest" with the latest in the tone's colour,
// or the current version alone, in mono 12 on one line, cut in the middle.
class VersionGroupView : public QWidget {
    Q_OBJECT

public:
    explicit VersionGroupView(QWidget *parent = nullptr);
    void setGroup(const CardRules::VersionGroup &group, const ColorPair &latestColor);
    const CardRules::VersionGroup &group() const { return m_group; }
    const ColorPair &latestColor() const { return m_latestColor; }
    // The text as one line ("1.2 → 1.3", "1.2" or nothing).
    QString text() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    CardRules::VersionGroup m_group;
    ColorPair m_latestColor;
};

// The wide one-row card of one application in the shelf's detailed layout:
// trust stripe, icon, name and bundle id, versions, mechanism and community
// badges and the seal slot; under it, while the app has an open incident, a
// line with the cause and its remedy. A click or Return opens the drawer; the
// context menu sets the update mode, asks the app's own updater, re-installs
// or uninstalls (after a confirmation) or opens the classification sheet.
class AppCardDetailView : public ChoosableCard {
    Q_OBJECT

public:
    AppCardDetailView(AppModel *model, const AppRecord &app, ShowProvenance showProvenance, QWidget *parent = nullptr);

    void setApp(const AppRecord &app);
    const AppRecord &app() const { return m_app; }
    AppModel *model() const { return m_model; }
    AppIconView *iconView() const { return m_icon; }
    void setShowProvenance(ShowProvenance showProvenance) { m_showProvenance = std::move(showProvenance); }

    // The shelf's card interface.
    void bind(const AppRecord &record) override { setApp(record); }
    QString bundleId() const override { return m_app.bundle_id; }
    int heightFor(const AppRecord &record, int width) const override;

    void refresh();
    void openProvenance() override;

    // The height the row needs at `width` to show `app` as the model stands
    // (with its incident line, if any), from the fonts alone.
    static int heightFor(const AppModel &model, const AppRecord &app, int width);
    // The context menu as it would open now (the caller owns it).
    QMenu *buildContextMenu() override;

    const AppTrustPresentation &presentation() const { return m_presentation; }
    PostureTone stateTone() const { return CardRules::toneFor(m_presentation.state); }
    std::optional<CardRules::AppLifecycleAction> actionToConfirm() const { return m_actionToConfirm; }
    // Asks for a confirmation (what the menu's Re-install and Uninstall… do).
    void confirm(CardRules::AppLifecycleAction action);
    QMessageBox *confirmationDialog() const { return m_confirmation; }
    QDialog *contributeSheet() const { return m_contributeSheet; }
    bool isShowingContributeSheet() const { return m_contributeSheet != nullptr; }

    ElidedLabel *nameLabel() const { return m_name; }
    ElidedLabel *bundleIdLabel() const { return m_bundleId; }
    VersionGroupView *versionGroup() const { return m_version; }
    CardBadge *mechanismBadge() const { return m_mechanism; }
    CardBadge *collaborationBadge() const { return m_collaboration; }
    // The seal slot (always 20 × 20) and the badge in it, if any.
    QWidget *sealSlot() const { return m_sealSlot; }
    TrustBadgeView *sealBadge() const { return m_seal; }
    QWidget *incidentRow() const { return m_incidentRow; }
    SymbolView *incidentSymbol() const { return m_incidentSymbol; }
    LineLimitedLabel *incidentCause() const { return m_incidentCause; }
    IncidentActionButton *incidentButton() const { return m_incidentButton; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    class Stripe;

    void refreshSeal();
    void refreshIncident();
    void showContributeSheet();

    QPointer<AppModel> m_model;
    AppRecord m_app;
    ShowProvenance m_showProvenance;
    AppTrustPresentation m_presentation;
    std::optional<CardRules::AppLifecycleAction> m_actionToConfirm;
    QPointer<QMessageBox> m_confirmation;
    QPointer<QDialog> m_contributeSheet;

    Stripe *m_stripe = nullptr;
    AppIconView *m_icon = nullptr;
    ElidedLabel *m_name = nullptr;
    ElidedLabel *m_bundleId = nullptr;
    VersionGroupView *m_version = nullptr;
    CardBadge *m_mechanism = nullptr;
    CardBadge *m_collaboration = nullptr;
    QWidget *m_sealSlot = nullptr;
    TrustBadgeView *m_seal = nullptr;
    bool m_sealIsGreen = false;
    QWidget *m_incidentRow = nullptr;
    SymbolView *m_incidentSymbol = nullptr;
    LineLimitedLabel *m_incidentCause = nullptr;
    IncidentActionButton *m_incidentButton = nullptr;
};
