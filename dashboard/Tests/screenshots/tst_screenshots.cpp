#include "AppearanceTestSupport.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "kit/FontRegistry.h"
#include "model/AppModel.h"
#include "screenshots/ScreenshotRegistry.h"
#include "shell/WorkshopWindow.h"

#include <QFontDatabase>
#include <QTest>

class TestFirstWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowIsTitled()
    {
        VarnoTest::TempHome home;
        AppModel model;
        WorkshopWindow window(&model);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("VARNO Workshop"));
    }

    void everyScreenshotSceneBuilds()
    {
        ScreenshotRegistry registry;
        registerScreenshotScenes(registry);
        QVERIFY(!registry.scenes().isEmpty());
        QSet<QString> names;
        for (const ScreenshotScene &scene : registry.scenes()) {
            QVERIFY2(!names.contains(scene.name), qPrintable(scene.name));
            names.insert(scene.name);
            std::unique_ptr<QWidget> widget(scene.create());
            QVERIFY2(widget, qPrintable(scene.name));
            widget->resize(scene.size);
            QVERIFY(!widget->grab().isNull());
        }
    }
};

// The scenes show what a user sees: the engine stand-in's demo library,
// installed and scanned in this program's temporary home.
class TestScreenshotLibrary : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scenesReadTheDemoLibraryFromTheEngine()
    {
        const QList<AppRecord> &records = ScreenshotLibrary::demoRecords();
        QVERIFY(records.size() >= 20);
        QStringList ids;
        for (const AppRecord &record : records)
            ids.append(record.bundle_id);
        // The demo seed's apps, not a hand-made sample.
        QVERIFY(ids.contains(QStringLiteral("org.sim.quarry")));
        QVERIFY(ids.contains(QStringLiteral("org.sim.marrowmail")));

        std::unique_ptr<AppModel> model(ScreenshotLibrary::demoModel());
        QCOMPARE(model->apps().size(), records.size());
        QVERIFY(model->hasEverScanned());
        QVERIFY(!model->showOnboarding());
        QVERIFY(!model->outdatedApps().isEmpty());

        // The engine was really asked: a scan, then the listing.
        const VarnoTest::EngineRun journal = VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")});
        QCOMPARE(journal.exitCode, 0);
        const QByteArray text = journal.standardOutput;
        QVERIFY2(text.contains("scan"), text.constData());
        QVERIFY2(text.contains("--all"), text.constData());
    }

    // Drawn one after another in dark, then in light, as the tool draws
    // them, each scene shows the state it is named for: none sees what an
    // earlier one left in the home (a scan's history, dismissed ghosts,
    // engine knobs).
    void everySceneShowsTheStateItIsNamedFor()
    {
        QVERIFY(!ScreenshotLibrary::demoRecords().isEmpty());
        AppearanceTest::ReduceMotionScope instant;
        ScreenshotRegistry registry;
        registerScreenshotScenes(registry);
        QStringList failures;
        for (const auto scheme : {Appearance::Scheme::Dark, Appearance::Scheme::Light}) {
            AppearanceTest::AppearanceScope appearance(scheme);
            const QString suffix = scheme == Appearance::Scheme::Dark ? QStringLiteral("-dark: ")
                                                                      : QStringLiteral("-light: ");
            for (const ScreenshotScene &scene : registry.scenes()) {
                const ScreenshotShot shot = takeScreenshot(scene);
                if (shot.picture.isNull())
                    failures.append(scene.name + suffix + QStringLiteral("no picture"));
                if (!shot.missing.isEmpty())
                    failures.append(scene.name + suffix + shot.missing.join(QStringLiteral("; ")));
            }
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }
};

class TestFonts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bundledFacesLoad()
    {
        const QStringList families = FontRegistry::registerFontsIn(VarnoTest::stagedBundlePath()
                                                                   + QStringLiteral("/Contents/Resources/fonts"));
        for (const char *family : {"Fraunces", "Geist", "Geist Mono"})
            QVERIFY2(families.contains(QLatin1String(family)), family);
    }

    void brokenFontFileIsSkipped()
    {
        QTemporaryDir dir;
        QVERIFY(VarnoTest::writeFile(dir.filePath(QStringLiteral("Broken.ttf")), "not a font"));
        QVERIFY(FontRegistry::registerFontsIn(dir.path()).isEmpty());
    }
};

VARNO_TEST_CLASS(TestFirstWindow)
VARNO_TEST_CLASS(TestScreenshotLibrary)
VARNO_TEST_CLASS(TestFonts)

#include "tst_screenshots.moc"
