#include "TestRegistry.h"
#include "TestSupport.h"

#include "kit/FontRegistry.h"
#include "model/AppModel.h"
#include "shell/ScreenshotRegistry.h"
#include "workshop/WorkshopWindow.h"

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

class TestFonts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bundledFacesLoad()
    {
        const QStringList families = FontRegistry::registerFontsIn(
            VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/fonts"));
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
VARNO_TEST_CLASS(TestFonts)

#include "tst_shell.moc"
