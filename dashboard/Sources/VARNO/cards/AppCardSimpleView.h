#pragma once

#include "cards/CardParts.h"
#include "cards/ChoosableCard.h"
#include "model/AppTrustPresenter.h"
#include "records/AppRecord.h"

#include "model/AppModel.h"
#include <QPointer>
#include <QWidget>

class AppIconView;
class QLabel;
class QMenu;

// The compact card of one application on the shelf's grid: icon, name, status
// line and the action area, with a border and status colour by trust state.
// A click, Return or the accessibility press opens the provenance drawer; the
// context menu sets the update mode and asks the app's own updater.
//
// The card keeps only hover and focus; everything else is worked out afresh
// from the model and the record on every change the model publishes.
class AppCardSimpleView : public ChoosableCard {
    Q_OBJECT

public:
    AppCardSimpleView(AppModel *model, const AppRecord &app, ShowProvenance showProvenance, QWidget *parent = nullptr);

    // Shows another record (the shelf re-uses cards as it scrolls).
    void setApp(const AppRecord &app);

    // The shelf's card interface.
    void bind(const AppRecord &record) override { setApp(record); }
    QString bundleId() const override { return m_app.bundle_id; }
    int heightFor(const AppRecord &record, int width) const override;
    const AppRecord &app() const { return m_app; }
    AppModel *model() const { return m_model; }
    void setShowProvenance(ShowProvenance showProvenance) { m_showProvenance = std::move(showProvenance); }

    // Re-evaluates everything from the model and the record.
    void refresh();
    // model.selectedBundleID first, then the drawer binding.
    void openProvenance() override;
    // The context menu as it would open now (the caller owns it).
    QMenu *buildContextMenu() override;

    const AppTrustPresentation &presentation() const { return m_presentation; }
    QString statusText() const;
    QString accessibilityLabel() const;
    static QString accessibilityHint(); // "Views provenance and update history"
    CardRules::BorderColor border() const { return CardRules::borderFor(m_presentation.state); }
    QLabel *statusLabel() const { return m_status; }
    ElidedLabel *nameLabel() const { return m_name; }
    CardActionArea *actionArea() const { return m_action; }
    AppIconView *iconView() const { return m_icon; }

    static constexpr int minimumWidth = 240;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

    // The height the card needs at `width` to show `app` as the model stands,
    // worked out from the fonts alone (no widget is built).
    static int heightFor(const AppModel &model, const AppRecord &app, int width);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The row's measures: padding all round, the icon's side, the gap
    // between icon, texts and action area, and between name and status.
    static constexpr int padding = 16;
    static constexpr int iconSide = 38;
    static constexpr int gap = 12;
    static constexpr int textSpacing = 2;

    // The texts' width in a card `width` wide beside an action area of `action`.
    static int textWidthFor(int width, QSize action);
    // The card's size around texts of `texts` (at least the minimum width).
    QSize rowSize(QSize texts) const;
    // Places icon, texts and action area (the card has no layout: a shelf
    // builds a screenful of cards before its first frame).
    void layOutParts();

    QPointer<AppModel> m_model;
    AppRecord m_app;
    ShowProvenance m_showProvenance;
    AppTrustPresentation m_presentation;
    AppIconView *m_icon = nullptr;
    ElidedLabel *m_name = nullptr;
    QLabel *m_status = nullptr;
    CardActionArea *m_action = nullptr;
};
