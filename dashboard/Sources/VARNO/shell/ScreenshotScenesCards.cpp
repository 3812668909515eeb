// The app cards' screenshot scenes: the simple and detailed cards of the
// engine stand-in's demo library, in every update state and with an incident
// of every remedy.

#include "shell/ScreenshotRegistry.h"

#include "cards/AppCardDetailView.h"
#include "cards/AppCardSimpleView.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

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

struct StateCase {
    const char *caption;
    const char *bundleId;
    UpdateState state;
};

// One outdated app in each update state, and a few settled ones beside it.
QList<StateCase> stateCases()
{
    return {
        {"idle, outdated", "org.sim.tallybook", UpdateState::idle()},
        {"idle, outdated at risk", "org.sim.lanternfish", UpdateState::idle()},
        {"queued 2 of 3", "org.sim.saltmarsh", UpdateState::queued(2, 3)},
        {"running", "org.sim.harborlight", UpdateState::running(QStringLiteral("Downloading…"))},
        {"done, green seal", "org.sim.inkwell", UpdateState::done()},
        {"done, verified path", "org.sim.marrowmail", UpdateState::done()},
        {"done", "org.sim.driftwood", UpdateState::done()},
        {"skipped", "org.sim.pocketloom", UpdateState::skipped(QStringLiteral("app is running — close it and retry"))},
        {"failed", "org.sim.oldtimer",
         UpdateState::failed(QStringLiteral("Still 1.0 — brew may have failed. Try Update All for details."))},
        {"quit denied", "org.sim.brightside",
         UpdateState::quitDenied(QStringLiteral("Brusk couldn't quit Brightside — save your work and try again."))},
        {"idle, self-updating with its own updater", "org.sim.ferrous", UpdateState::idle()},
        {"idle, not checked", "org.sim.quillpad", UpdateState::idle()},
    };
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

// One incident of every remedy (and of both kinds) on the detailed rows.
QWidget *incidentPage()
{
    struct Case {
        const char *bundleId;
        const char *code;
        const char *kind;
    };
    const QList<Case> cases = {
        {"org.sim.netherby", "NETWORK_TIMEOUT", "failed"},          // Fix It
        {"org.sim.quarry", "BREW_LOCKED", "failed"},                // Run in Terminal
        {"org.sim.signet", "SIG_TEAM_MISMATCH", "failed"},          // none
        {"org.sim.wickerbox", "UNKNOWN", "failed"},                 // Get help
        {"org.sim.pocketloom", "APP_RUNNING", "skipped"},           // Quit & Update
        {"org.sim.handmade", "BREW_NO_CASK", "skipped"},            // Adopt
        {"org.sim.fernlight", "UPDATE_MODE_ASK_HEADLESS", "skipped"}, // Approve
    };
    auto *page = new Page;
    QList<AppRecord> apps;
    for (const Case &item : cases) {
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
    registry.add({QStringLiteral("cards-simple-library"), QSize(1040, 900), [] { return simpleLibrary(); }});
    registry.add({QStringLiteral("cards-simple-states"), QSize(1040, 520), [] { return statePage<AppCardSimpleView>(3); }});
    registry.add({QStringLiteral("cards-detail-library"), QSize(1000, 1560), [] { return detailLibrary(); }});
    registry.add({QStringLiteral("cards-detail-states"), QSize(1000, 820), [] { return statePage<AppCardDetailView>(1); }});
    registry.add({QStringLiteral("cards-incidents"), QSize(1000, 560), [] { return incidentPage(); }});
}
