#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"

#include "engine/VARNOProcess.h"
#include "kit/ButtonStyles.h"
#include "kit/VarnoSignals.h"
#include "menubar/MenuBarPanel.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"
#include "provenance/ProvenanceDrawerView.h"
#include "screens/DiagnosticsView.h"
#include "screens/OnboardingView.h"
#include "shell/WorkshopWindow.h"
#include "widgets/ShelfCard.h"
#include "workshop/GhostViews.h"
#include "workshop/ShelfCardGrid.h"
#include "workshop/ShelfView.h"
#include "workshop/SidebarView.h"
#include "workshop/StatusBarView.h"
#include "workshop/ToolbarAreaView.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <stdexcept>

namespace {

AppModelServices quietServices()
{
    return AppModelServices::quiet();
}

AppRecord plainRecord(const QString &id, const QString &name)
{
    return *AppRecord::fromJson(QJsonObject{{QStringLiteral("bundle_id"), id},
                                            {QStringLiteral("app_name"), name},
                                            {QStringLiteral("current_version"), QStringLiteral("1.0")},
                                            {QStringLiteral("latest_version"), QStringLiteral("1.0")},
                                            {QStringLiteral("update_mechanism"), QStringLiteral("cask")}});
}

QCoro::Task<TrustSealRecord> failingSeal(QString)
{
    throw std::runtime_error("no seal in this test");
    co_return TrustSealRecord();
}

// The first run's pauses end at once: the window's tests read its end state.
class ImmediateTimers : public OnboardingTimers {
public:
    qint64 nowMs() override { return 0; }
    void start(std::chrono::milliseconds, QObject *context, std::function<void()> fire) override
    {
        QTimer::singleShot(0, context, std::move(fire));
    }
};

// The Diagnostics sheet's work answers at once.
DiagnosticsOperations instantDiagnostics()
{
    DiagnosticsOperations operations;
    operations.gather = []() -> QCoro::Task<QString> { co_return QStringLiteral("report"); };
    operations.healthCheck = []() -> QCoro::Task<DiagnosticsReport::ShellOutcome> {
        co_return DiagnosticsReport::ShellOutcome{QStringLiteral("All checks passed."), true};
    };
    operations.forceScan = []() -> QCoro::Task<QString> { co_return QString(); };
    operations.repair = []() -> QCoro::Task<QString> { co_return QString(); };
    return operations;
}

OnboardingEnvironment instantOnboarding()
{
    OnboardingEnvironment environment;
    environment.bootstrap = []() -> QCoro::Task<void> { co_return; };
    environment.installAgent = []() -> QCoro::Task<void> { co_return; };
    environment.load = [](AppModel *) -> QCoro::Task<void> { co_return; };
    environment.fileExists = [](const QString &) { return false; };
    environment.timers = std::make_shared<ImmediateTimers>();
    return environment;
}

} // namespace

// The Workshop window's frame: its size limits, the app's signals, the
// drawer and onboarding overlays, the sheets, the error alert and the hidden
// layout switch.
class TestWorkshopWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<AppearanceTest::ReduceMotionScope> m_noMotion;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<WorkshopWindow> m_window;

    QWidget *content() const { return m_window->centralWidget(); }

private Q_SLOTS:
    void init()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        m_home = std::make_unique<VarnoTest::TempHome>();
        // Overlays and the banner switch at once, so that the tests read their
        // end state.
        m_noMotion = std::make_unique<AppearanceTest::ReduceMotionScope>(true);
        OnboardingEnvironment::setOverride(instantOnboarding());
        DiagnosticsOperations::setOverride(instantDiagnostics());
        m_model = std::make_unique<AppModel>(quietServices());
        m_model->setShowOnboarding(false);
        m_model->setApps({plainRecord(QStringLiteral("org.a"), QStringLiteral("Alpha")),
                          plainRecord(QStringLiteral("org.b"), QStringLiteral("Beta")),
                          plainRecord(QStringLiteral("org.a"), QStringLiteral("Alpha Twin")),
                          plainRecord(QStringLiteral("org.c"), QStringLiteral("Gamma"))});
        m_window = std::make_unique<WorkshopWindow>(m_model.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset();
        m_model.reset();
        OnboardingEnvironment::setOverride(std::nullopt);
        DiagnosticsOperations::setOverride(std::nullopt);
        m_noMotion.reset();
        m_home.reset();
    }

    void frame()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("VARNO Workshop"));
        m_window->resize(400, 300);
        QCOMPARE(m_window->size(), QSize(860, 560));
        QVERIFY(m_window->sidebar()->width() >= 188 && m_window->sidebar()->width() <= 220);
        m_window->resize(1600, 1000);
        QVERIFY(m_window->sidebar()->width() >= 188 && m_window->sidebar()->width() <= 220);
        QCOMPARE(m_window->searchField()->placeholderText(), QStringLiteral("Search apps"));
    }

    void signalsOpenTheirSheets()
    {
        QVERIFY(!m_window->isSheetShown(WorkshopSheet::diagnostics));
        VarnoSignals::postShowDiagnostics();
        QVERIFY(m_window->isSheetShown(WorkshopSheet::diagnostics));
        QVERIFY(m_window->sheet(WorkshopSheet::diagnostics)->isVisible());
        QCOMPARE(m_window->sheet(WorkshopSheet::diagnostics)->windowModality(), Qt::WindowModal);
        VarnoSignals::postShowUpdateFlow();
        QVERIFY(m_window->isSheetShown(WorkshopSheet::updateFlow));

        // The open Diagnostics sheet hears the health-check signal.
        auto *diagnostics = qobject_cast<DiagnosticsView *>(m_window->sheet(WorkshopSheet::diagnostics));
        QVERIFY(diagnostics);
        VarnoSignals::postRunHealthCheck();
        QVERIFY(VarnoTest::waitUntil([diagnostics] { return !diagnostics->healthReport().isEmpty(); }));
        QCOMPARE(diagnostics->healthReport(), QStringLiteral("All checks passed."));

        // Any way of closing a sheet clears its flag.
        QTest::keyClick(m_window->sheet(WorkshopSheet::updateFlow), Qt::Key_Escape);
        QVERIFY(!m_window->isSheetShown(WorkshopSheet::updateFlow));
        m_window->sheet(WorkshopSheet::diagnostics)->close();
        QVERIFY(!m_window->isSheetShown(WorkshopSheet::diagnostics));
        // A second request opens a fresh sheet.
        VarnoSignals::postShowDiagnostics();
        QVERIFY(m_window->sheet(WorkshopSheet::diagnostics) != diagnostics);
    }

    void signalsWithoutAWindowAreLost()
    {
        m_window.reset();
        VarnoSignals::postShowDiagnostics();
        VarnoSignals::postShowUpdateFlow();
        VarnoSignals::postShowProvenance(QStringLiteral("org.a"));
        QCoreApplication::processEvents();
        m_window = std::make_unique<WorkshopWindow>(m_model.get());
        QVERIFY(!m_window->isSheetShown(WorkshopSheet::diagnostics));
        QVERIFY(!m_window->isSheetShown(WorkshopSheet::updateFlow));
        QVERIFY(!m_window->showProvenance());
    }

    void provenanceSignalPicksTheFirstExactMatch()
    {
        VarnoSignals::postShowProvenance(QStringLiteral("org.a"));
        QVERIFY(m_window->showProvenance());
        QCOMPARE(m_window->showProvenance()->app_name, QStringLiteral("Alpha"));
        QVERIFY(m_window->drawer()->isVisible());

        // Switches an open drawer (the same drawer, showing the other app).
        ProvenanceDrawerView *first = m_window->drawer();
        VarnoSignals::postShowProvenance(QStringLiteral("org.b"));
        QCOMPARE(m_window->showProvenance()->app_name, QStringLiteral("Beta"));
        ProvenanceDrawerView *drawer = m_window->drawer();
        QVERIFY(drawer);
        QCOMPARE(drawer, first);
        QCOMPARE(drawer->app().bundle_id, QStringLiteral("org.b"));

        // Unknown, differently cased, partial or absent ids change nothing.
        for (const QString &id : {QStringLiteral("org.zzz"), QStringLiteral("ORG.A"), QStringLiteral("org."), QString()}) {
            VarnoSignals::postShowProvenance(id);
            QCOMPARE(m_window->showProvenance()->bundle_id, QStringLiteral("org.b"));
        }

        // The drawer's own close control ends it.
        QTest::mouseClick(drawer->closeButton(), Qt::LeftButton);
        QVERIFY(!m_window->showProvenance());
        QVERIFY(!m_window->drawer());

        // So does a click on its backdrop.
        VarnoSignals::postShowProvenance(QStringLiteral("org.c"));
        QVERIFY(m_window->drawer());
        QTest::mouseClick(m_window->drawer()->backdrop(), Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(!m_window->showProvenance());
    }

    void shelfCardOpensTheDrawer()
    {
        const QList<ShelfCard *> cards = m_window->shelf()->grid()->cardsInView();
        QCOMPARE(cards.size(), 4);
        QCOMPARE(cards.at(3)->bundleId(), QStringLiteral("org.c"));
        QTest::mouseClick(cards.at(3), Qt::LeftButton, {}, QPoint(2, cards.at(3)->height() / 2));
        QVERIFY(m_window->showProvenance());
        QCOMPARE(m_window->showProvenance()->bundle_id, QStringLiteral("org.c"));
    }

    void searchAndFilterNarrowTheShelf()
    {
        m_window->setSearchText(QStringLiteral("alpha"));
        QCOMPARE(m_window->shelf()->filteredApps().size(), 2);
        m_model->setSelectedFilter(AppFilter::outdated);
        QCOMPARE(m_window->shelf()->filteredApps().size(), 0);
        m_model->setSelectedFilter(AppFilter::brew);
        QCOMPARE(m_window->shelf()->filteredApps().size(), 2);
    }

    void overlaysTrackTheWindowAndStack()
    {
        m_window->setShowProvenance(m_model->apps().at(3));
        m_window->resize(1300, 900);
        QCoreApplication::processEvents();
        ProvenanceDrawerView *drawer = m_window->drawer();
        // The drawer covers the content; its 380 px panel stands at the trailing edge.
        QCOMPARE(drawer->geometry(), content()->rect());
        QCOMPARE(drawer->panel()->width(), WorkshopWindow::kDrawerWidth);
        QCOMPARE(drawer->panel()->mapTo(content(), QPoint(drawer->panel()->width() - 1, 0)).x(),
                 content()->rect().right());

        m_model->setShowOnboarding(true);
        QWidget *onboarding = m_window->onboarding();
        QVERIFY(onboarding && onboarding->isVisible());
        QCOMPARE(onboarding->geometry(), content()->rect());
        // Onboarding is above the drawer, which keeps its record underneath.
        const QObjectList order = content()->children();
        QVERIFY(order.indexOf(onboarding) > order.indexOf(drawer));
        QCOMPARE(m_window->showProvenance()->bundle_id, QStringLiteral("org.c"));
        m_window->resize(1000, 700);
        QCoreApplication::processEvents();
        QCOMPARE(onboarding->geometry(), content()->rect());

        // Finishing onboarding removes the overlay; the drawer stays.
        auto *overlay = qobject_cast<OnboardingView *>(onboarding);
        QVERIFY(overlay);
        QVERIFY(VarnoTest::waitUntil([overlay] { return overlay->phase() == OnboardingPhase::done; }));
        overlay->launchAtLoginBox()->setChecked(false);
        QTest::mouseClick(overlay->openWorkshopButton(), Qt::LeftButton);
        QVERIFY(!m_model->showOnboarding());
        QVERIFY(!m_window->onboarding());
        QVERIFY(m_window->drawer());
    }

    void errorAlert_data()
    {
        QTest::addColumn<int>("dismissal"); // 0 OK, 1 Esc, 2 close
        QTest::newRow("ok") << 0;
        QTest::newRow("escape") << 1;
        QTest::newRow("close") << 2;
    }

    void errorAlert()
    {
        QFETCH(int, dismissal);
        const QString text = QStringLiteral("<b>Brusk</b> couldn't read the library.");
        m_model->setError(text);
        QMessageBox *alert = m_window->errorAlert();
        QVERIFY(alert && alert->isVisible());
        QCOMPARE(alert->text(), QStringLiteral("Something's not right."));
        QCOMPARE(alert->informativeText(), text);
        auto *message = alert->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
        QVERIFY(message);
        QCOMPARE(message->textFormat(), Qt::PlainText);

        if (dismissal == 0)
            QTest::mouseClick(alert->button(QMessageBox::Ok), Qt::LeftButton);
        else if (dismissal == 1)
            QTest::keyClick(alert, Qt::Key_Escape);
        else
            alert->close();
        QVERIFY(!m_model->error());
        QVERIFY(VarnoTest::waitUntil([this] { return !m_window->errorAlert(); }));

        // A new failure raises it again.
        m_model->setError(QStringLiteral("again"));
        QVERIFY(m_window->errorAlert() && m_window->errorAlert()->isVisible());
        QCOMPARE(m_window->errorAlert()->informativeText(), QStringLiteral("again"));
    }

    // An error that arrives in the same turn as the previous alert's
    // dismissal, while the dismissed box only waits to be deleted, raises an
    // alert of its own.
    void errorRightAfterADismissal_data()
    {
        QTest::addColumn<int>("dismissal"); // 0 OK, 1 Esc, 2 close, 3 the model's error cleared
        QTest::newRow("ok") << 0;
        QTest::newRow("escape") << 1;
        QTest::newRow("close") << 2;
        QTest::newRow("error cleared") << 3;
    }

    void errorRightAfterADismissal()
    {
        QFETCH(int, dismissal);
        m_model->setError(QStringLiteral("first"));
        const QPointer<QMessageBox> first = m_window->errorAlert();
        QVERIFY(first && first->isVisible());
        if (dismissal == 0)
            QTest::mouseClick(first->button(QMessageBox::Ok), Qt::LeftButton);
        else if (dismissal == 1)
            QTest::keyClick(first, Qt::Key_Escape);
        else if (dismissal == 2)
            first->close();
        else
            m_model->setError(std::nullopt);
        QVERIFY(!m_model->error());
        m_model->setError(QStringLiteral("second"));

        QVERIFY(VarnoTest::waitUntil([&first] { return !first; }));
        QMessageBox *alert = m_window->errorAlert();
        QVERIFY(alert);
        QVERIFY(alert->isVisible());
        QCOMPARE(alert->informativeText(), QStringLiteral("second"));
        QCOMPARE(m_model->error(), std::optional(QStringLiteral("second")));
    }

    // The window opens on a long error (set before it is shown, so that the
    // shelf first measures it at a narrow width): the subtitle is as tall as
    // its lines at the shelf's width, with the shelf's spacing to "Try again",
    // which shows inside the shelf.
    void longErrorKeepsTryAgainInView()
    {
        m_window.reset();
        m_model = std::make_unique<AppModel>(quietServices());
        m_model->setShowOnboarding(false);
        QString text = QStringLiteral("Brusk couldn't read the library: ");
        while (text.size() < 330)
            text += QStringLiteral("the engine answered with a database that is locked by another process, ");
        text.truncate(330);
        m_model->setError(text);
        m_window = std::make_unique<WorkshopWindow>(m_model.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

        ShelfView *shelf = m_window->shelf();
        QCOMPARE(shelf->state(), ShelfRules::ShelfState::error);
        QLabel *subtitle = shelf->stateSubtitle();
        QCOMPARE(subtitle->text(), text);
        StyledButton *button = shelf->stateButton();
        QCOMPARE(button->text(), QStringLiteral("Try again"));
        QAbstractScrollArea *area = nullptr;
        for (QWidget *w = button->parentWidget(); w && !area; w = w->parentWidget())
            area = qobject_cast<QAbstractScrollArea *>(w);
        QVERIFY(area);
        QWidget *viewport = area->viewport();
        const auto buttonRect = [&] { return QRect(button->mapTo(viewport, QPoint(0, 0)), button->size()); };
        const auto textHeight = [&] {
            return subtitle->fontMetrics()
                .boundingRect(QRect(0, 0, subtitle->width(), 100000), Qt::AlignCenter | Qt::TextWordWrap, text)
                .height();
        };
        const bool settled = VarnoTest::waitUntil([&] {
            return button->isVisible() && viewport->rect().contains(buttonRect())
                && subtitle->height() <= textHeight() + subtitle->fontMetrics().lineSpacing();
        });
        QVERIFY2(settled,
                 qPrintable(QStringLiteral("viewport %1x%2, button at %3,%4, subtitle %5x%6 for text %7 high")
                                .arg(viewport->width())
                                .arg(viewport->height())
                                .arg(buttonRect().x())
                                .arg(buttonRect().y())
                                .arg(subtitle->width())
                                .arg(subtitle->height())
                                .arg(textHeight())));
        // 16 between the block's items and 12 more above the button.
        QCOMPARE(button->geometry().top() - subtitle->geometry().bottom() - 1, 16 + 12);
    }

    void alertFollowsTheModel()
    {
        m_model->setError(QStringLiteral("first"));
        QMessageBox *alert = m_window->errorAlert();
        m_model->setError(QStringLiteral("second"));
        QCOMPARE(m_window->errorAlert(), alert); // one alert at a time
        QCOMPARE(alert->informativeText(), QStringLiteral("second"));
        m_model->setError(std::nullopt);
        QVERIFY(VarnoTest::waitUntil([this] { return !m_window->errorAlert(); }));
    }

    void layoutSwitchTogglesDetailsMode()
    {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        const bool before = m_model->detailsMode();
        QTest::keyClick(m_window.get(), Qt::Key_Slash, Qt::ControlModifier);
        QCOMPARE(m_model->detailsMode(), !before);
        QTest::keyClick(m_window.get(), Qt::Key_Slash, Qt::ControlModifier);
        QCOMPARE(m_model->detailsMode(), before);
    }

    // A library read by a load (its list, its incidents and the error it
    // clears) is one change: the window's views and the menu-bar panel redraw
    // once for it, not once per signal. Read again unchanged, it is not
    // applied and redraws nothing.
    void aLoadedLibraryRedrawsEachViewOnce()
    {
        VARNOProcess::resetCachedValuesForTesting();
        QVERIFY(VarnoTest::prepareSimulatedMac());
        QVERIFY(VarnoTest::runEngine({QStringLiteral("scan")}).exitCode == 0);
        AppModelServices services = quietServices();
        // Seals are asked for and fail: the records stay as the engine lists them.
        services.trustSeal = failingSeal;
        AppModel model(services);
        model.setShowOnboarding(false);
        model.setError(QStringLiteral("an older failure"));
        WorkshopWindow window(&model);
        MenuBarPanel panel(&model);
        window.show();
        panel.show();
        QList<QObject *> views;
        views << window.sidebar() << window.toolbar() << window.shelf() << window.statusBar() << &panel;

        // Each change as it is told, with what every view had redrawn by then
        // (this spy is connected after the views, so it runs after them).
        struct Told {
            ModelChanges::Fields what;
            QList<int> refreshes;
        };
        QList<Told> told;
        const auto refreshes = [&views] {
            QList<int> counts;
            for (QObject *view : views)
                counts.append(ModelChanges::refreshesOf(view));
            return counts;
        };
        const QList<int> start = refreshes();
        connect(ModelChanges::of(&model), &ModelChanges::changed, this, [&](ModelChanges::Fields what) {
            told.append({what, refreshes()});
        });
        QSignalSpy apps(&model, &AppModel::appsChanged);

        VarnoTest::await(model.load());
        QCOMPARE(model.apps().size(), 25);
        QVERIFY(!model.error());
        QCOMPARE(apps.count(), 1);
        QVERIFY(!told.isEmpty());
        using F = ModelChanges::Field;
        // Probes that answer at once may join it; the library's parts are in it.
        const ModelChanges::Fields library = F::apps | F::incidents | F::error;
        QCOMPARE(told.first().what & library, library);
        for (qsizetype i = 0; i < views.size(); ++i)
            QVERIFY2(told.first().refreshes.at(i) == start.at(i) + 1,
                     qPrintable(QStringLiteral("%1 redrew %2 times for one library")
                                    .arg(QString::fromLatin1(views.at(i)->metaObject()->className()))
                                    .arg(told.first().refreshes.at(i) - start.at(i))));

        // The probes and the last-scan time the load started answer later,
        // each a change of its own.
        QVERIFY(VarnoTest::waitUntil([&model] {
            return !model.isEnrichingSeals() && !model.isCheckingOpenCore() && !model.isCheckingMacOSUpdate()
                && !model.isCheckingMechanismHealth() && !model.isReadingScanHistory();
        }));
        const quint64 revision = model.libraryRevision();
        const QList<int> settled = refreshes();
        told.clear();
        apps.clear();
        VarnoTest::await(model.load());
        QCOMPARE(apps.count(), 0);
        QCOMPARE(model.libraryRevision(), revision);
        QVERIFY(told.isEmpty());
        QCOMPARE(refreshes(), settled);
        QVERIFY(VarnoTest::waitUntil([&model] { return !model.isReadingScanHistory(); }));
    }

    void ghostBannerFollowsTheGhosts()
    {
        QVERIFY(!m_window->ghostBanner()->isVisible());
        VARNOProcess::resetCachedValuesForTesting();
        QVERIFY(VarnoTest::prepareSimulatedMac());
        const QByteArray ghosts =
            "[{\"bundle_id\":\"org.gone\",\"app_name\":\"Gone\",\"install_path\":\"/Applications/Gone.app\",\"cask_token\":\"\"}]";
        QVERIFY(VarnoTest::writeFile(VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json"), ghosts));
        VarnoTest::await(m_model->scan());
        QVERIFY(VarnoTest::waitUntil([this] { return !m_model->isEnrichingSeals(); }));
        QVERIFY2(!m_model->ghostApps().isEmpty(),
                 "the scan kept no ghost: this test needs the ghost list written before it, as the engine keeps it");
        QVERIFY(m_window->ghostBanner()->isVisible());
        StyledButton *review = nullptr;
        for (StyledButton *b : m_window->ghostBanner()->findChildren<StyledButton *>())
            review = b->text() == QStringLiteral("Review") ? b : review;
        QTest::mouseClick(review, Qt::LeftButton);
        QVERIFY(m_window->isSheetShown(WorkshopSheet::ghosts));
        m_model->dismissGhosts();
        QVERIFY(!m_window->ghostBanner()->isVisible());
        QVERIFY(VarnoTest::waitUntil([this] {
            return !m_model->isCheckingOpenCore() && !m_model->isCheckingMacOSUpdate()
                && !m_model->isCheckingMechanismHealth();
        }));
    }
};

VARNO_TEST_CLASS(TestWorkshopWindow)

#include "tst_window.moc"
