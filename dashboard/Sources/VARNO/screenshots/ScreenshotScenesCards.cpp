// The app cards' screenshot scenes: the simple and detailed cards of the
// engine stand-in's demo library, in every update state and with an incident
// of every remedy.

#include "screenshots/ScreenshotRegistry.h"

#include "cards/AppCardDetailView.h"
#include "cards/AppCardSimpleView.h"
#include "cards/CardParts.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "records/RemediationRegistry.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/TrustBadges.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <type_traits>

namespace {

const QList<AppRecord> &demoLibrary()
{
    return ScreenshotLibrary::demoRecords();
}

AppRecord demoApp(const char *bundleId)
{
    for (const AppRecord &record : demoLibrary()) {
        if (record.bundle_id == QLatin1StringView(bundleId))
            return record;
    }
    AppRecord missing;
    missing.bundle_id = QString::fromLatin1(bundleId);
    missing.app_name = QStringLiteral("(not in the demo library)");
    return missing;
}

// A page in the window colour that owns its model.
class Page : public QWidget {
public:
    Page()
        : model(new AppModel(ScreenshotLibrary::quietServices(), this))
    {
        model->setShowOnboarding(false);
        model->setHasEverScanned(true);
        VarnoColor::repaintOnAppearanceChange(this);
    }

    AppModel *model;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VarnoColor::background().resolved());
    }
};

QLabel *sceneCaption(const QString &text, QWidget *parent)
{
    return Labels::plain(text, VarnoFont::mono(10), VarnoColor::textTertiary(), parent);
}

void noDrawer(const AppRecord &) {}

// The library as the engine lists it, its incidents included.
void loadSampleLibrary(AppModel *model)
{
    model->setApps(demoLibrary());
    model->reconcileIncidents(demoLibrary(), model->incidentEventSeq());
}

QWidget *simpleLibrary()
{
    auto *page = new Page;
    loadSampleLibrary(page->model);
    auto *grid = new QGridLayout(page);
    grid->setContentsMargins(20, 20, 20, 20);
    grid->setSpacing(12);
    int index = 0;
    for (const AppRecord &app : demoLibrary()) {
        grid->addWidget(new AppCardSimpleView(page->model, app, noDrawer, page), index / 3, index % 3);
        ++index;
    }
    return page;
}

QWidget *detailLibrary()
{
    auto *page = new Page;
    loadSampleLibrary(page->model);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(1);
    for (const AppRecord &app : demoLibrary())
        column->addWidget(new AppCardDetailView(page->model, app, noDrawer, page));
    column->addStretch(1);
    return page;
}

using AreaKind = CardRules::ActionArea::Kind;

struct StateCase {
    const char *caption;
    const char *bundleId;
    UpdateState state;
    // What the simple card's trailing area shows (a symbol's name for
    // AreaKind::symbol); the detailed row shows the seal or the verified path
    // where the simple card does.
    AreaKind area;
    const char *symbol = nullptr;
};

// One outdated app in each update state, and a few settled ones beside it.
QList<StateCase> stateCases()
{
    return {
        {"idle, outdated", "org.sim.tallybook", UpdateState::idle(), AreaKind::updateButton},
        {"idle, outdated at risk", "org.sim.lanternfish", UpdateState::idle(), AreaKind::updateButton},
        {"queued 2 of 3", "org.sim.saltmarsh", UpdateState::queued(2, 3), AreaKind::symbol, "clock"},
        {"running", "org.sim.harborlight", UpdateState::running(QStringLiteral("Downloading…")), AreaKind::progress},
        {"done, green seal", "org.sim.inkwell", UpdateState::done(), AreaKind::greenSeal},
        {"done, verified path", "org.sim.driftwood", UpdateState::done(), AreaKind::verifiedPath},
        {"done", "org.sim.bastion", UpdateState::done(), AreaKind::symbol, "checkmark"},
        {"skipped", "org.sim.pocketloom", UpdateState::skipped(QStringLiteral("app is running — close it and retry")),
         AreaKind::symbol, "arrow.uturn.forward"},
        {"failed", "org.sim.oldtimer",
         UpdateState::failed(QStringLiteral("Still 1.0 — brew may have failed. Try Update All for details.")),
         AreaKind::symbol, "exclamationmark.triangle"},
        {"quit denied", "org.sim.brightside",
         UpdateState::quitDenied(QStringLiteral("Brusk couldn't quit Brightside — save your work and try again.")),
         AreaKind::symbol, "hand.raised"},
        {"idle, self-updating with its own updater", "org.sim.ferrous", UpdateState::idle(), AreaKind::checkInAppButton},
        {"idle, not checked", "org.sim.quillpad", UpdateState::idle(), AreaKind::symbol, "questionmark.circle"},
    };
}

// Each case's card is there, in its state, with its caption, and shows what
// the caption says.
template<typename Card>
void checkStatePage(ScreenshotCheck &check)
{
    const AppModel *model = check.find<AppModel>();
    const QList<Card *> cards = check.scene()->findChildren<Card *>();
    for (const StateCase &item : stateCases()) {
        const QString caption = QString::fromLatin1(item.caption);
        const QString id = QString::fromLatin1(item.bundleId);
        const auto found = std::find_if(cards.cbegin(), cards.cend(),
                                        [&](const Card *card) { return card->app().bundle_id == id; });
        if (found == cards.cend() || !model) {
            check.expect(false, QStringLiteral("the card of %1").arg(id));
            continue;
        }
        const Card *card = *found;
        check.expectText(caption);
        check.expect(model->updateState(id) == item.state, QStringLiteral("%1 in the state \"%2\"").arg(id, caption));
        if constexpr (std::is_same_v<Card, AppCardSimpleView>) {
            const CardRules::ActionArea &area = card->actionArea()->area();
            const bool risk = QByteArray(item.caption).contains("at risk");
            check.expect(area.kind == item.area && (!item.symbol || area.symbol == QLatin1String(item.symbol))
                             && (area.kind != AreaKind::updateButton || area.isRisk == risk),
                         QStringLiteral("%1 showing what \"%2\" says").arg(id, caption));
        } else {
            const TrustBadgeView *badge = card->sealBadge();
            bool shown = true;
            if (item.area == AreaKind::greenSeal)
                shown = qobject_cast<const GreenSealView *>(badge);
            else if (item.area == AreaKind::verifiedPath)
                shown = qobject_cast<const VerifiedPathView *>(badge);
            else if (item.state.kind() == UpdateState::Kind::done)
                shown = !badge;
            check.expect(shown, QStringLiteral("%1 showing what \"%2\" says").arg(id, caption));
        }
    }
}

// One card per app of the demo library.
template<typename Card>
void checkLibraryPage(ScreenshotCheck &check)
{
    const QList<Card *> cards = check.scene()->findChildren<Card *>();
    check.expect(!cards.isEmpty() && cards.size() == ScreenshotLibrary::demoRecords().size(),
                 QStringLiteral("a card for each app of the demo library"));
}

template<typename Card>
QWidget *statePage(int columns)
{
    auto *page = new Page;
    loadSampleLibrary(page->model);
    auto *grid = new QGridLayout(page);
    grid->setContentsMargins(20, 16, 20, 16);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    int index = 0;
    for (const StateCase &item : stateCases()) {
        const AppRecord app = demoApp(item.bundleId);
        if (item.state.kind() != UpdateState::Kind::idle)
            page->model->setPreviewUpdateState(app.bundle_id, item.state);
        const int row = (index / columns) * 2;
        const int column = index % columns;
        grid->addWidget(sceneCaption(QString::fromLatin1(item.caption), page), row, column);
        grid->addWidget(new Card(page->model, app, noDrawer, page), row + 1, column);
        ++index;
    }
    grid->setRowStretch(grid->rowCount(), 1);
    return page;
}

struct IncidentCase {
    const char *bundleId;
    const char *code;
    const char *kind;
    IncidentAction action;
};

QList<IncidentCase> incidentCases()
{
    return {
        {"org.sim.netherby", "NETWORK_TIMEOUT", "failed", IncidentAction::fixIt},
        {"org.sim.quarry", "BREW_LOCKED", "failed", IncidentAction::runInTerminal},
        {"org.sim.signet", "SIG_TEAM_MISMATCH", "failed", IncidentAction::none},
        {"org.sim.wickerbox", "UNKNOWN", "failed", IncidentAction::getHelp},
        {"org.sim.pocketloom", "APP_RUNNING", "skipped", IncidentAction::quitAndUpdate},
        {"org.sim.handmade", "BREW_NO_CASK", "skipped", IncidentAction::adopt},
        {"org.sim.fernlight", "UPDATE_MODE_ASK_HEADLESS", "skipped", IncidentAction::approve},
    };
}

// Each row shows its incident and its remedy's button (none for a remedy
// that is only explained).
void checkIncidentPage(ScreenshotCheck &check)
{
    const QList<AppCardDetailView *> rows = check.scene()->findChildren<AppCardDetailView *>();
    for (const IncidentCase &item : incidentCases()) {
        const QString id = QString::fromLatin1(item.bundleId);
        const auto found = std::find_if(rows.cbegin(), rows.cend(),
                                        [&](const AppCardDetailView *row) { return row->app().bundle_id == id; });
        const AppCardDetailView *row = found == rows.cend() ? nullptr : *found;
        check.expect(row && row->incidentRow()->isVisibleTo(row),
                     QStringLiteral("the %1 incident of %2").arg(QLatin1String(item.code), id));
        const IncidentActionButton *button = row ? row->incidentButton() : nullptr;
        const bool shown = button && button->isVisibleTo(row);
        check.expect(button && button->action() == item.action && shown == (item.action != IncidentAction::none),
                     QStringLiteral("the remedy of %1 on %2").arg(QLatin1String(item.code), id));
    }
}

// One incident of every remedy (and of both kinds) on the detailed rows.
QWidget *incidentPage()
{
    auto *page = new Page;
    QList<AppRecord> apps;
    for (const IncidentCase &item : incidentCases()) {
        AppRecord app = demoApp(item.bundleId);
        app.last_incident_code = QString::fromLatin1(item.code);
        app.last_incident_kind = QString::fromLatin1(item.kind);
        apps.append(app);
    }
    page->model->setApps(apps);
    page->model->reconcileIncidents(apps, page->model->incidentEventSeq());
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(1);
    for (const AppRecord &app : apps)
        column->addWidget(new AppCardDetailView(page->model, app, noDrawer, page));
    column->addStretch(1);
    return page;
}

} // namespace

void registerCardScreenshotScenes(ScreenshotRegistry &registry)
{
    registry.add({QStringLiteral("cards-simple-library"), QSize(1040, 900), [] { return simpleLibrary(); },
                  checkLibraryPage<AppCardSimpleView>});
    registry.add({QStringLiteral("cards-simple-states"), QSize(1040, 520),
                  [] { return statePage<AppCardSimpleView>(3); }, checkStatePage<AppCardSimpleView>});
    registry.add({QStringLiteral("cards-detail-library"), QSize(1000, 1560), [] { return detailLibrary(); },
                  checkLibraryPage<AppCardDetailView>});
    registry.add({QStringLiteral("cards-detail-states"), QSize(1000, 820),
                  [] { return statePage<AppCardDetailView>(1); }, checkStatePage<AppCardDetailView>});
    registry.add({QStringLiteral("cards-incidents"), QSize(1000, 560), [] { return incidentPage(); }, checkIncidentPage});
}
