// Library records whose texts are tens of thousands of characters long: every
// view shows a bounded part of each text (PlainText::forField), while the
// engine's arguments and the copied commands get the record's whole value.
#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"

#include "cards/AppCardDetailView.h"
#include "cards/CardParts.h"
#include "engine/UpdateEvent.h"
#include "engine/VARNOProcess.h"
#include "menubar/MenuBarPanel.h"
#include "model/AppModel.h"
#include "platform/MainBundle.h"
#include "platform/PlainText.h"
#include "platform/VarnoPaths.h"
#include "provenance/ProvenanceDrawerView.h"
#include "services/NotificationManager.h"
#include "sheets/UpdateFlowView.h"
#include "sheets/UpdateRowView.h"
#include "shell/WorkshopWindow.h"
#include "widgets/AppIconView.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/SheetFactories.h"
#include "widgets/SheetFrame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace LongRecordTexts {

// Far more than any view may show of one text.
constexpr qsizetype kLength = 60000;
// The most any one text on screen may hold: a few bounded record texts and
// the sentence around them (without the bound, each holds tens of thousands).
constexpr qsizetype kShownMost = 1500;

// Words, so that wrapping has places to break; each text its own lead.
QString longText(const QString &lead)
{
    static const QStringList words{QStringLiteral("kettle"), QStringLiteral("loom"), QStringLiteral("brass"),
                                   QStringLiteral("wick")};
    QString text = lead;
    for (int i = 0; text.size() < kLength; ++i)
        text += QLatin1Char(' ') + words.at(i % words.size());
    text.truncate(kLength);
    return text;
}

// A bundle id of the characters a copied command takes bare.
QString longId(const QString &lead)
{
    return lead + QString(kLength - lead.size(), QLatin1Char('q'));
}

const QString adoptName = longText(QStringLiteral("Pocketloom"));
const QString adoptId = longId(QStringLiteral("org.long.adopt."));
const QString quitName = longText(QStringLiteral("Ferrous"));
const QString quitId = longId(QStringLiteral("org.long.quit."));
const QString copyId = longId(QStringLiteral("org.long.copy."));
const QString ghostName = longText(QStringLiteral("Ghostly"));

// Every text field long. The adopt one was left by hand (Adopt), the quit
// one is open (Quit & Update), the copy one needs the user (Run in
// Terminal); all three are outdated.
QJsonObject longRecord(const QString &id, const QString &name, const QString &incident)
{
    return QJsonObject{
        {QStringLiteral("bundle_id"), id},
        {QStringLiteral("app_name"), name},
        {QStringLiteral("current_version"), QStringLiteral("1.") + QString(kLength, QLatin1Char('7'))},
        {QStringLiteral("latest_version"), QStringLiteral("2.") + QString(kLength, QLatin1Char('8'))},
        {QStringLiteral("update_mechanism"), QStringLiteral("cask")},
        {QStringLiteral("cask_token"), longText(QStringLiteral("token"))},
        {QStringLiteral("install_path"), QStringLiteral("/Applications/") + longText(QStringLiteral("path"))},
        {QStringLiteral("last_updated"), longText(QStringLiteral("when"))},
        {QStringLiteral("last_sha256"), QString(64, QLatin1Char('a'))},
        {QStringLiteral("last_team_id"), QString(kLength, QLatin1Char('T'))},
        {QStringLiteral("last_cdn_domain"), longText(QStringLiteral("cdn"))},
        {QStringLiteral("vendor_updater_name"), longText(QStringLiteral("vendor"))},
        {QStringLiteral("last_incident_code"), incident},
        {QStringLiteral("last_incident_kind"), QStringLiteral("failed")},
    };
}

QJsonArray library()
{
    QJsonArray apps{longRecord(adoptId, adoptName, QStringLiteral("BREW_NO_CASK")),
                    longRecord(quitId, quitName, QStringLiteral("APP_RUNNING")),
                    longRecord(copyId, longText(QStringLiteral("Quarry")), QStringLiteral("BREW_LOCKED"))};
    // An unclassified one, for the contribution sheet.
    QJsonObject unclassified = longRecord(longId(QStringLiteral("org.long.unknown.")),
                                          longText(QStringLiteral("Mystery")), QStringLiteral("BREW_LOCKED"));
    unclassified.remove(QStringLiteral("update_mechanism"));
    apps.append(unclassified);
    return apps;
}

// A fake engine: records each call's arguments (one JSON list a line in
// ~/argv.jsonl), lists the library, answers the adopt dry run with long
// texts, and answers every other command with an empty object.
bool writeEngine()
{
    QDir().mkpath(VarnoPaths::engineDir());
    const QJsonObject preview{{QStringLiteral("match_found"), true},
                              {QStringLiteral("cask_token"), longText(QStringLiteral("cask"))},
                              {QStringLiteral("current_version"), QString(kLength, QLatin1Char('5'))},
                              {QStringLiteral("cask_version"), QString(kLength, QLatin1Char('6'))},
                              {QStringLiteral("signature_ok"), true}};
    return VarnoTest::writeFile(QDir(VarnoPaths::engineDir()).filePath(QStringLiteral("library.json")),
                                QJsonDocument(library()).toJson(QJsonDocument::Compact))
        && VarnoTest::writeFile(QDir(VarnoPaths::engineDir()).filePath(QStringLiteral("preview.json")),
                                QJsonDocument(preview).toJson(QJsonDocument::Compact))
        && VarnoTest::writeFile(VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json"),
                                QJsonDocument(
                                    QJsonArray{
                                        QJsonObject{{QStringLiteral("bundle_id"),
                                                     longId(QStringLiteral("org.long.ghost."))},
                                                    {QStringLiteral("app_name"), ghostName},
                                                    {QStringLiteral("install_path"), longText(QStringLiteral("/gone"))},
                                                    {QStringLiteral("cask_token"), longText(QStringLiteral("ghost"))}}})
                                    .toJson(QJsonDocument::Compact))
        && VarnoTest::writeFile(VarnoPaths::engineScript(),
                                "import json, os, sys\n"
                                "args = sys.argv[1:]\n"
                                "with open(os.path.join(os.path.expanduser('~'), 'argv.jsonl'), 'a') as log:\n"
                                "    log.write(json.dumps(args) + '\\n')\n"
                                "here = os.path.dirname(os.path.abspath(__file__))\n"
                                "if 'list' in args:\n"
                                "    sys.stdout.write(open(os.path.join(here, 'library.json')).read())\n"
                                "elif 'adopt' in args and '--dry-run' in args:\n"
                                "    sys.stdout.write(open(os.path.join(here, 'preview.json')).read())\n"
                                "else:\n"
                                "    sys.stdout.write('{}')\n");
}

// The argument lists the fake engine was called with.
QList<QStringList> engineCalls()
{
    QList<QStringList> calls;
    const QByteArray log = VarnoTest::readFile(QDir::homePath() + QStringLiteral("/argv.jsonl"));
    for (const QByteArray &line : log.split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList call;
        for (const QJsonValue &value : QJsonDocument::fromJson(line).array())
            call.append(value.toString());
        calls.append(call);
    }
    return calls;
}

bool engineWasCalledWith(const QStringList &expected)
{
    for (const QStringList &call : engineCalls()) {
        // The runner puts its contract flags first.
        if (call.size() >= expected.size() && call.mid(call.size() - expected.size()) == expected)
            return true;
    }
    return false;
}

struct Shown {
    QString where;
    QString text;
};

void addShown(QList<Shown> &shown, QWidget *widget, const char *what, const QString &text)
{
    if (text.isEmpty())
        return;
    // The object name may hold a bundle id: not shown, and not repeated here.
    shown.append({QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(' ')
                      + widget->objectName().left(40) + QLatin1Char(' ') + QLatin1String(what),
                  text});
}

// Every text the views hold for a person to read: titles, labels, button
// texts, message boxes, tooltips, accessible names and descriptions, and what
// the app's own painted labels and rows draw.
QList<Shown> shownTexts(const QList<QWidget *> &views)
{
    QList<Shown> shown;
    for (QWidget *view : views) {
        QList<QWidget *> widgets = view->findChildren<QWidget *>();
        widgets.prepend(view);
        for (QWidget *widget : std::as_const(widgets)) {
            addShown(shown, widget, "window title", widget->isWindow() ? widget->windowTitle() : QString());
            addShown(shown, widget, "tooltip", widget->toolTip());
            addShown(shown, widget, "accessible name", widget->accessibleName());
            addShown(shown, widget, "accessible description", widget->accessibleDescription());
            if (auto *label = qobject_cast<QLabel *>(widget))
                addShown(shown, widget, "text", label->text());
            if (auto *button = qobject_cast<QAbstractButton *>(widget))
                addShown(shown, widget, "text", button->text());
            if (auto *box = qobject_cast<QMessageBox *>(widget)) {
                addShown(shown, widget, "text", box->text());
                addShown(shown, widget, "informative text", box->informativeText());
            }
            if (auto *label = qobject_cast<ElidedLabel *>(widget))
                addShown(shown, widget, "text", label->text());
            if (auto *label = qobject_cast<LineLimitedLabel *>(widget))
                addShown(shown, widget, "text", label->text());
            if (auto *block = qobject_cast<SheetParts::TextBlock *>(widget))
                addShown(shown, widget, "text", block->text());
            if (auto *icon = qobject_cast<AppIconView *>(widget))
                addShown(shown, widget, "letter", icon->tileLetter());
            if (auto *row = qobject_cast<UpdateRowView *>(widget)) {
                addShown(shown, widget, "primary line", row->content().primaryLine);
                addShown(shown, widget, "secondary line", row->content().secondaryLine.value_or(QString()));
            }
        }
    }
    return shown;
}

AppModelServices services()
{
    AppModelServices s = AppModelServices::quiet();
    s.openApplication = [](const QString &) {};
    s.activateApplication = [] {};
    s.trustSeal = [](QString) -> QCoro::Task<TrustSealRecord> { co_return TrustSealRecord(); };
    return s;
}

} // namespace LongRecordTexts

using namespace LongRecordTexts;

class TestLongRecordTexts : public QObject {
    Q_OBJECT

    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<AppearanceTest::ReduceMotionScope> m_noMotion;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<WorkshopWindow> m_window;
    std::unique_ptr<MenuBarPanel> m_panel;
    std::unique_ptr<QWidget> m_host;

    AppRecord record(const QString &id) const
    {
        for (const AppRecord &app : m_model->apps()) {
            if (app.bundle_id == id)
                return app;
        }
        qFatal("the library has no such record");
    }

    // Each scene opens what it names and leaves it open for the walk.
    enum class Scene {
        cards,
        detailedCards,
        drawer,
        drawerConfirmation,
        updateRun,
        quitConsent,
        adoptSheet,
        contributeSheet,
        ghosts
    };

    // Opens the scene; the views it shows, or nothing when it did not open.
    QList<QWidget *> open(Scene scene)
    {
        QList<QWidget *> views;
        switch (scene) {
        case Scene::cards:
            views = {m_window.get(), m_panel.get()};
            break;
        case Scene::detailedCards:
            m_model->setDetailsMode(true);
            views = {m_window.get()};
            break;
        case Scene::drawer:
            m_window->setShowProvenance(record(quitId));
            if (VarnoTest::waitUntil([this] { return m_window->drawer() && m_window->drawer()->isVisible(); }))
                views = {m_window->drawer()};
            break;
        case Scene::drawerConfirmation:
            m_window->setShowProvenance(record(quitId));
            if (!VarnoTest::waitUntil([this] { return m_window->drawer() && m_window->drawer()->isVisible(); }))
                break;
            m_window->drawer()->setActionToConfirm(ProvenanceRules::AppLifecycleAction::reinstall);
            if (m_window->drawer()->confirmationDialog())
                views = {m_window->drawer()->confirmationDialog()};
            break;
        case Scene::updateRun: {
            auto *sheet = new UpdateFlowView(m_model.get(), m_host.get());
            sheet->setAttribute(Qt::WA_DeleteOnClose);
            sheet->show();
            UpdateEvent::QueueStart start;
            for (const AppRecord &app : m_model->apps())
                start.apps.append(
                    UpdateEvent::QueuedApp{app.bundle_id, app.app_name, std::nullopt, std::nullopt, std::nullopt});
            start.count = start.apps.size();
            m_model->handleUpdateEvent(UpdateEvent(start));
            m_model->handleUpdateEvent(
                UpdateEvent(UpdateEvent::AppStart{quitId, 2, start.count, longText(QStringLiteral("installing"))}));
            UpdateEvent::AppDone failed;
            failed.bundleId = adoptId;
            failed.success = false;
            failed.error = longText(QStringLiteral("The download of"));
            failed.errorCode = QStringLiteral("BREW_NO_CASK");
            m_model->handleUpdateEvent(UpdateEvent(failed));
            sheet->refresh();
            // The menu-bar panel heads the run with the running app.
            views = {sheet, m_panel.get()};
            break;
        }
        case Scene::quitConsent: {
            auto *button = new IncidentActionButton(m_model.get(), record(quitId), QStringLiteral("APP_RUNNING"),
                                                    m_host.get());
            button->show();
            QTest::mouseClick(button->button(), Qt::LeftButton);
            if (button->quitConsentDialog())
                views = {button, button->quitConsentDialog()};
            break;
        }
        case Scene::adoptSheet: {
            auto *button = new IncidentActionButton(m_model.get(), record(adoptId), QStringLiteral("BREW_NO_CASK"),
                                                    m_host.get());
            button->show();
            QTest::mouseClick(button->button(), Qt::LeftButton);
            // The preview is in: its rows show the dry run's texts.
            QPointer<QDialog> sheet = button->adoptSheet();
            if (VarnoTest::waitUntil([&] { return sheet && sheet->findChild<QWidget *>(QStringLiteral("adopt-ready")); }))
                views = {button, sheet};
            break;
        }
        case Scene::contributeSheet: {
            QDialog *sheet = SheetFactories::makeContributeSheet(m_model.get(),
                                                                 record(longId(QStringLiteral("org.long.unknown."))),
                                                                 m_host.get());
            sheet->setAttribute(Qt::WA_DeleteOnClose);
            sheet->show();
            views = {sheet};
            break;
        }
        case Scene::ghosts:
            m_window->setSheetShown(WorkshopSheet::ghosts, true);
            if (VarnoTest::waitUntil([this] {
                    return m_window->sheet(WorkshopSheet::ghosts) && m_window->sheet(WorkshopSheet::ghosts)->isVisible();
                }))
                views = {m_window->sheet(WorkshopSheet::ghosts)};
            break;
        }
        // Whatever the scene posted (layouts, the drawer's loads) is done.
        for (int round = 0; round < 5; ++round)
            QCoreApplication::processEvents();
        return views;
    }

private Q_SLOTS:
    void init()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        m_home = std::make_unique<VarnoTest::TempHome>();
        m_noMotion = std::make_unique<AppearanceTest::ReduceMotionScope>(true);
        VARNOProcess::resetCachedValuesForTesting();
        QVERIFY(writeEngine());
        m_model = std::make_unique<AppModel>(services());
        m_model->setShowOnboarding(false);
        m_model->setHasEverScanned(true);
        m_model->setDetailsMode(false);
        m_host = std::make_unique<QWidget>();
        m_host->resize(800, 600);
        m_host->show();
        m_window = std::make_unique<WorkshopWindow>(m_model.get());
        m_window->resize(1100, 720);
        m_panel = std::make_unique<MenuBarPanel>(m_model.get());
        m_window->show();
        m_panel->show();
        // A scan reads the library and the ghost list.
        VarnoTest::await(m_model->scan());
        QCOMPARE(m_model->apps().size(), LongRecordTexts::library().size());
        QVERIFY(!m_model->ghostApps().isEmpty());
    }

    void cleanup()
    {
        const QList<QWidget *> windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            if (qobject_cast<QDialog *>(window))
                window->close();
        }
        m_panel.reset();
        m_window.reset();
        m_host.reset();
        VarnoTest::waitUntil([this] { return !m_model->isBusy(); });
        m_model.reset();
        m_noMotion.reset();
        m_home.reset();
    }

    void everyViewShowsABoundedPartOfEachText_data()
    {
        QTest::addColumn<int>("scene");
        QTest::addColumn<QString>("name"); // whose beginning the scene shows
        QTest::newRow("window with cards, menu-bar panel") << int(Scene::cards) << adoptName;
        QTest::newRow("window with detailed cards") << int(Scene::detailedCards) << quitName;
        QTest::newRow("provenance drawer") << int(Scene::drawer) << quitName;
        QTest::newRow("drawer's re-install confirmation") << int(Scene::drawerConfirmation) << quitName;
        QTest::newRow("update-run sheet") << int(Scene::updateRun) << adoptName;
        QTest::newRow("Quit & Update consent") << int(Scene::quitConsent) << quitName;
        QTest::newRow("adopt consent sheet") << int(Scene::adoptSheet) << adoptName;
        QTest::newRow("contribution sheet") << int(Scene::contributeSheet) << QStringLiteral("Mystery kettle");
        QTest::newRow("ghost apps") << int(Scene::ghosts) << ghostName;
    }

    void everyViewShowsABoundedPartOfEachText()
    {
        QFETCH(int, scene);
        QFETCH(QString, name);
        const QList<QWidget *> views = open(Scene(scene));
        QVERIFY(!views.isEmpty());
        const QList<Shown> shown = shownTexts(views);
        bool nameShown = false;
        for (const Shown &text : shown) {
            QVERIFY2(text.text.size() <= kShownMost,
                     qPrintable(QStringLiteral("%1 holds %2 characters: %3…")
                                    .arg(text.where)
                                    .arg(text.text.size())
                                    .arg(text.text.left(60))));
            nameShown = nameShown || text.text.contains(name.left(40));
        }
        // The walk saw the scene: the record's name is on screen, cut.
        QVERIFY(nameShown);
    }

    void theNotificationNamesABoundedPartOfEachApp()
    {
        const UNNotificationRequest request = NotificationManager::updatesReadyRequest(2, {adoptName, quitName});
        QVERIFY2(request.content.body.size() <= kShownMost, qPrintable(request.content.body.left(80)));
        QVERIFY(request.content.body.contains(adoptName.left(200)));
        QVERIFY(request.content.body.contains(quitName.left(200)));
    }

    // What a view hands the engine or the clipboard is the record itself,
    // never the part it shows.
    void theEngineAndTheClipboardGetTheWholeValue_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("adopt preview from the card's remedy") << QStringLiteral("adopt");
        QTest::newRow("re-install confirmed in the drawer") << QStringLiteral("reinstall");
        QTest::newRow("fix command copied from the remedy") << QStringLiteral("copy");
    }

    void theEngineAndTheClipboardGetTheWholeValue()
    {
        QFETCH(QString, action);
        if (action == QLatin1String("adopt")) {
            QVERIFY(!open(Scene::adoptSheet).isEmpty());
            QVERIFY(VarnoTest::waitUntil([] {
                return engineWasCalledWith(
                    {QStringLiteral("adopt"), QStringLiteral("--dry-run"), QStringLiteral("--json"), adoptName});
            }));
        } else if (action == QLatin1String("reinstall")) {
            QVERIFY(!open(Scene::drawerConfirmation).isEmpty());
            QMessageBox *box = m_window->drawer()->confirmationDialog();
            QPushButton *confirm = nullptr;
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == QLatin1String("Re-install"))
                    confirm = qobject_cast<QPushButton *>(button);
            }
            QVERIFY(confirm);
            QTest::mouseClick(confirm, Qt::LeftButton);
            QVERIFY(VarnoTest::waitUntil([] {
                return engineWasCalledWith({QStringLiteral("reinstall"), QStringLiteral("--bundle-id"), quitId});
            }));
        } else {
            QGuiApplication::clipboard()->setText(QStringLiteral("before"));
            auto *button = new IncidentActionButton(m_model.get(), record(copyId), QStringLiteral("BREW_LOCKED"),
                                                    m_host.get());
            button->show();
            QVERIFY(button->button()->toolTip().size() <= kShownMost);
            QTest::mouseClick(button->button(), Qt::LeftButton);
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("varno fix ") + copyId);
        }
    }
};

VARNO_TEST_CLASS(TestLongRecordTexts)
#include "tst_longtexts.moc"
