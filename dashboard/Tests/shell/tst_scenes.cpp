#include "AppTestSupport.h"
#include "TestRegistry.h"

#include "kit/SettingsButton.h"
#include "kit/WindowRegistry.h"
#include "menubar/MenuBarPanel.h"
#include "platform/MainBundle.h"
#include "platform/ResourceLocator.h"
#include "settings/SettingsView.h"
#include "shell/MainMenu.h"
#include "shell/TrayHost.h"
#include "shell/VarnoApplication.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

// Counts the pixels that are not transparent in a column range.
int inkIn(const QImage &image, int fromX, int toX)
{
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = fromX; x < std::min(toX, image.width()); ++x)
            ink += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    return ink;
}

} // namespace

class TestMenuBarLabel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void countText()
    {
        AppModel model(AppTest::quietServices());
        QCOMPARE(MenuBarLabel::countText(model), QString());
        QList<AppRecord> library;
        for (int i = 0; i < 12; ++i)
            library.append(AppTest::record(QStringLiteral("org.example.old%1").arg(i),
                                           "\"current_version\":\"1.0\",\"latest_version\":\"2.0\""));
        library.append(AppTest::record(QStringLiteral("org.example.current")));
        model.setApps(library);
        QCOMPARE(MenuBarLabel::countText(model), QStringLiteral("12"));
        QVERIFY(MenuBarLabel::toolTip(model).contains(QStringLiteral("12")));
    }

    void labelGeometry_data()
    {
        QTest::addColumn<bool>("withIcon");
        QTest::addColumn<QString>("count");
        QTest::newRow("icon, nothing outdated") << true << "";
        QTest::newRow("icon and 12") << true << "12";
        QTest::newRow("fallback glyph and 3") << false << "3";
    }

    void labelGeometry()
    {
        QFETCH(bool, withIcon);
        QFETCH(QString, count);
        std::optional<QImage> icon;
        if (withIcon) {
            QImage square(36, 36, QImage::Format_ARGB32);
            square.fill(Qt::black);
            icon = square;
        }
        const QImage label = MenuBarLabel::render(icon, count, Qt::red, 2.0);
        QCOMPARE(label.height(), MenuBarLabel::iconSide * 2);
        const int iconWidth = MenuBarLabel::iconSide * 2;
        if (count.isEmpty()) {
            QCOMPARE(label.width(), iconWidth);
        } else {
            QVERIFY(label.width() > iconWidth + MenuBarLabel::spacing * 2);
            QVERIFY(inkIn(label, iconWidth + MenuBarLabel::spacing * 2, label.width()) > 0);
        }
        // The icon (or the glyph) fills its frame's column.
        QVERIFY(inkIn(label, 0, iconWidth) > 0);
        if (withIcon) {
            // A template: drawn in the tint, not its own colour.
            const QColor centre = label.pixelColor(iconWidth / 2, label.height() / 2);
            QCOMPARE(centre.red(), 255);
            QCOMPARE(centre.green(), 0);
        }
    }

    void trayIconCarriesTheCountAndOpensThePanelAsAPopup()
    {
        AppModel model(AppTest::quietServices());
        int made = 0;
        TrayHost host(
            &model,
            [&made] {
                ++made;
                return new QWidget();
            },
            true);
        QVERIFY(host.hasTray());
        QCOMPARE(made, 0); // made on first use
        const int plainWidth = host.labelImage().width();
        QCOMPARE(host.trayIcon()->toolTip(), QStringLiteral("VARNO Workshop"));

        model.setApps({AppTest::record(QStringLiteral("org.example.old"),
                                       "\"current_version\":\"1.0\",\"latest_version\":\"2.0\"")});
        QVERIFY(host.trayIcon()->toolTip().contains(QStringLiteral("1 outdated")));
        QVERIFY(host.labelImage().width() > plainWidth);

        QWidget *panel = host.panel();
        QCOMPARE(host.panel(), panel);
        QCOMPARE(made, 1);
        QVERIFY(panel->windowFlags().testFlag(Qt::Popup));
        QVERIFY(panel->windowFlags().testFlag(Qt::FramelessWindowHint));
    }

    void templateIconIsFoundAmongTheImages()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        const auto icon = MenuBarLabel::templateIcon();
        const auto appIcon = ResourceLocator::image(QStringLiteral("AppIcon"));
        MainBundle::setPathOverride(std::nullopt);
        QVERIFY(icon && !icon->isNull());
        QVERIFY(appIcon && !appIcon->isNull());
    }
};

class TestScenes : public QObject {
    Q_OBJECT

private:
    struct App {
        AppTest::RecordingLaunch recording;
        std::unique_ptr<AppModel> model = std::make_unique<AppModel>(AppTest::quietServices());
        std::unique_ptr<AppDelegate> delegate;
        std::unique_ptr<VarnoApplication> scenes;

        App()
        {
            recording.model = model.get();
            delegate = std::make_unique<AppDelegate>(model.get(), recording.environment());
            scenes = std::make_unique<VarnoApplication>(delegate.get(), false);
            QObject::connect(delegate.get(), &AppDelegate::launchTaskFinished, [this] { finished = true; });
        }
        bool finished = false;
        // The launch task ends before the fakes it calls go away.
        ~App()
        {
            if (!finished)
                VarnoTest::waitUntil([this] { return finished; });
            scenes.reset();
            delegate.reset();
        }
    };

private Q_SLOTS:
    void startOpensTheScenesAndRunsTheLaunch()
    {
        App app;
        QSignalSpy finished(app.delegate.get(), &AppDelegate::launchTaskFinished);
        app.scenes->start();
        QVERIFY(!QApplication::quitOnLastWindowClosed());

        auto *window = qobject_cast<QMainWindow *>(app.scenes->workshopWindow());
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("VARNO Workshop"));
        QVERIFY(window->isVisible());
        QVERIFY(window->menuBar()->actions().size() >= 7);

        // Without a tray the panel is a tool window the user can see, shown
        // once the launch load has answered (before, it could only say that
        // the library didn't load).
        QWidget *panel = app.scenes->trayHost()->panel();
        QVERIFY(qobject_cast<MenuBarPanel *>(panel));
        QVERIFY(!panel->isVisible());
        QVERIFY(panel->windowFlags().testFlag(Qt::Tool));
        QVERIFY(VarnoTest::waitUntil([&] { return app.delegate->launchLoadAnswered(); }));
        QVERIFY(app.recording.journal.contains(QStringLiteral("load preparing=0")));
        QVERIFY(panel->isVisible());

        QVERIFY(SettingsButton::hasSettingsOpener());
        QVERIFY(finished.count() == 1 || finished.wait(10000));
        QVERIFY(app.recording.journal.contains(QStringLiteral("permission")));
    }

    void theWorkshopWindowIsMadeAfreshEachTime()
    {
        App app;
        app.scenes->start();
        QPointer<QWidget> first = app.scenes->workshopWindow();
        QVERIFY(first);
        QCOMPARE(app.scenes->openWorkshop(), first.data());

        first->close();
        QVERIFY(VarnoTest::waitUntil([&] { return first.isNull(); }));
        QVERIFY(!app.scenes->workshopWindow());

        WindowRegistry::openWorkshop();
        QWidget *second = app.scenes->workshopWindow();
        QVERIFY(second);
        QVERIFY(second->isVisible());
    }

    void settingsOpensOneWindow()
    {
        App app;
        app.scenes->start();
        WindowRegistry::showSettings();
        QPointer<QWidget> settings = app.scenes->settingsWindow();
        QVERIFY(settings);
        QVERIFY(qobject_cast<SettingsView *>(settings.data()));
        QVERIFY(settings->isVisible());
        QVERIFY(settings->width() >= SettingsView::kMinimumWidth && settings->height() >= SettingsView::kMinimumHeight);
        WindowRegistry::showSettings();
        QCOMPARE(app.scenes->settingsWindow(), settings.data());

        // Closed, it goes; the next opening makes a new one.
        settings->close();
        QVERIFY(VarnoTest::waitUntil([&] { return settings.isNull(); }));
        QVERIFY(!app.scenes->settingsWindow());
        WindowRegistry::showSettings();
        QVERIFY(qobject_cast<SettingsView *>(app.scenes->settingsWindow()));
    }

    // Without a tray nothing but the Window menu and another start lead back
    // to a closed panel.
    void theClosedPanelCanBeReachedAgain()
    {
        App app;
        app.scenes->start();
        QVERIFY(VarnoTest::waitUntil([&] { return app.delegate->launchLoadAnswered(); }));
        QWidget *panel = app.scenes->trayHost()->panel();
        QVERIFY(panel->isVisible());

        panel->close();
        QVERIFY(!panel->isVisible());
        auto *window = qobject_cast<QMainWindow *>(app.scenes->workshopWindow());
        QAction *show = window->menuBar()->findChild<QAction *>(QStringLiteral("showMenuBarPanel"));
        QVERIFY(show);
        QList<QAction *> windowItems;
        for (QAction *menu : window->menuBar()->actions()) {
            if (menu->text() == QLatin1String("Window"))
                windowItems = menu->menu()->actions();
        }
        QVERIFY(windowItems.contains(show));
        QCOMPARE(show->text(), QStringLiteral("Show Menu-Bar Panel"));
        show->trigger();
        QVERIFY(panel->isVisible());

        panel->close();
        app.scenes->handleMessage({});
        QVERIFY(panel->isVisible());
        QVERIFY(app.scenes->workshopWindow()->isVisible());
    }

    // Before the launch load there is no library: the panel records no
    // detection event from it; once a library without App Store apps is
    // read, the banner's event is recorded once.
    void noBannerEventFromALibraryNeverRead()
    {
        QStringList events;
        MenuBarPanel::setEventRecorder([&events](const QString &event) { events.append(event); });
        {
            AppModel model(AppTest::quietServices());
            model.setHasEverScanned(true);
            QVERIFY(model.hasDetectionFailure());
            MenuBarPanel panel(&model);
            panel.show();
            QCoreApplication::processEvents();
            QVERIFY(events.isEmpty());

            model.setApps({AppTest::record(QStringLiteral("org.example.cask"), "\"update_mechanism\":\"cask\"")});
            QCoreApplication::processEvents();
            QCOMPARE(events.count(QStringLiteral("detection_failure_banner_shown")), 1);
        }
        MenuBarPanel::setEventRecorder({});
    }

    void anotherStartsMessage()
    {
        App app;
        app.scenes->start();
        app.scenes->workshopWindow()->close();
        QVERIFY(VarnoTest::waitUntil([&] { return !app.scenes->workshopWindow(); }));

        // URLs go to the delegate's handler, and open nothing else.
        app.scenes->handleMessage({QStringLiteral("varno://update"), QStringLiteral("varno://scan")});
        QCOMPARE(app.recording.journal.count(QStringLiteral("checkForUpdates")), 1);
        QVERIFY(!app.scenes->workshopWindow());

        // A plain second start brings the Workshop window back.
        app.scenes->handleMessage({});
        QVERIFY(app.scenes->workshopWindow());
    }
};

VARNO_TEST_CLASS(TestMenuBarLabel)
VARNO_TEST_CLASS(TestScenes)
#include "tst_scenes.moc"
