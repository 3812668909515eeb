#include "TestRegistry.h"
#include "TestSupport.h"

#include "platform/MainBundle.h"
#include "platform/ResourceLocator.h"
#include "records/RemediationRegistry.h"
#include "records/VendorUpdaters.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"6\">"
                        "<rect width=\"8\" height=\"6\" fill=\"#ff0000\"/></svg>";

QByteArray pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(0, 128, 255));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestResourceLocator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_tree.isValid());
        m_root = m_tree.path();
        // A bundle inside a development tree: <root>/tree/build/VARNO.app/Contents/MacOS/VARNO.
        m_executable = m_root + QStringLiteral("/tree/build/VARNO.app/Contents/MacOS/VARNO");
        QDir().mkpath(QFileInfo(m_executable).path());
        ResourceLocator::setExecutablePathForTesting(m_executable);
        MainBundle::setPathOverride(m_root + QStringLiteral("/no-bundle"));
    }

    void cleanup()
    {
        ResourceLocator::setExecutablePathForTesting(std::nullopt);
        MainBundle::setPathOverride(std::nullopt);
        m_tree.remove();
        m_tree = QTemporaryDir();
    }

    void ancestorsOf_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QStringList>("ancestors");
        QTest::newRow("absolute") << QStringLiteral("/a/b/c/exe") << QStringList{"/a/b/c", "/a/b", "/a", "/"};
        QTest::newRow("dot and dot-dot are removed")
            << QStringLiteral("/a/./b/../c/exe") << QStringList{"/a/c", "/a", "/"};
        QTest::newRow("at the root") << QStringLiteral("/exe") << QStringList{"/"};
    }

    void ancestorsOf()
    {
        QFETCH(QString, executable);
        QFETCH(QStringList, ancestors);
        QCOMPARE(ResourceLocator::ancestorsOf(executable), ancestors);
    }

    void relativeExecutableIsTakenFromTheCurrentFolder()
    {
        const QStringList ancestors = ResourceLocator::ancestorsOf(QStringLiteral("bin/tool"));
        QCOMPARE(ancestors.first(), QDir::cleanPath(QDir::currentPath() + QStringLiteral("/bin")));
    }

    void symbolicLinksAreNotResolved()
    {
        const QString real = m_root + QStringLiteral("/real");
        QDir().mkpath(real);
        QVERIFY(QFile::link(real, m_root + QStringLiteral("/link")));
        QCOMPARE(ResourceLocator::ancestorsOf(m_root + QStringLiteral("/link/exe")).first(),
                 m_root + QStringLiteral("/link"));
    }

    void atMostTwentyAncestors()
    {
        QString deep;
        for (int i = 0; i < 25; ++i)
            deep += QStringLiteral("/d%1").arg(i);
        const QStringList ancestors = ResourceLocator::ancestorsOf(deep + QStringLiteral("/exe"));
        QCOMPARE(ancestors.size(), ResourceLocator::maxAncestors);
        QCOMPARE(ancestors.last(), deep.section(QLatin1Char('/'), 0, 6)); // /d0/…/d5
    }

    void searchRootsAlternatePerAncestor()
    {
        QCOMPARE(ResourceLocator::searchRootsFor({QStringLiteral("/x/y"), QStringLiteral("/x"), QStringLiteral("/")}),
                 (QStringList{"/x/y/Resources", "/x/y/dashboard/Resources", "/x/y/VARNO.app/Contents/Resources",
                              "/x/Resources", "/x/dashboard/Resources", "/x/VARNO.app/Contents/Resources", "/Resources",
                              "/dashboard/Resources", "/VARNO.app/Contents/Resources"}));
        const QStringList roots = ResourceLocator::searchRoots();
        QCOMPARE(roots.value(0), m_root + QStringLiteral("/tree/build/VARNO.app/Contents/MacOS/Resources"));
        QCOMPARE(roots.value(3), m_root + QStringLiteral("/tree/build/VARNO.app/Contents/Resources"));
    }

    void lookupOrder()
    {
        const QString nearResources = m_root + QStringLiteral("/tree/build/Resources/r.json");
        const QString nearDashboard = m_root + QStringLiteral("/tree/build/dashboard/Resources/r.json");
        const QString far = m_root + QStringLiteral("/tree/Resources/r.json");
        QVERIFY(VarnoTest::writeFile(far, "far"));
        QCOMPARE(ResourceLocator::url(QStringLiteral("r"), QStringLiteral("json")), std::optional<QString>(far));
        // Files added after the first lookup are found: only the roots are cached.
        QVERIFY(VarnoTest::writeFile(nearDashboard, "dashboard"));
        QCOMPARE(ResourceLocator::url(QStringLiteral("r"), QStringLiteral("json")),
                 std::optional<QString>(nearDashboard));
        QVERIFY(VarnoTest::writeFile(nearResources, "resources"));
        QCOMPARE(ResourceLocator::url(QStringLiteral("r"), QStringLiteral("json")),
                 std::optional<QString>(nearResources));
        QCOMPARE(ResourceLocator::url(QStringLiteral("r"), QStringLiteral("txt")), std::optional<QString>());
        QCOMPARE(ResourceLocator::url(QStringLiteral("missing"), QStringLiteral("json")), std::optional<QString>());
    }

    void bundleWins()
    {
        const QString bundle = m_root + QStringLiteral("/tree/build/VARNO.app");
        QVERIFY(VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Resources/r.json"), "bundle"));
        QVERIFY(VarnoTest::writeFile(m_root + QStringLiteral("/tree/build/VARNO.app/Contents/MacOS/Resources/r.json"),
                                     "tree"));
        MainBundle::setPathOverride(bundle);
        QCOMPARE(ResourceLocator::url(QStringLiteral("r"), QStringLiteral("json")),
                 std::optional<QString>(bundle + QStringLiteral("/Contents/Resources/r.json")));
    }

    void ancestorsBeyondTheTwentiethAreNeverSearched()
    {
        QString deep = m_root;
        for (int i = 0; i < 21; ++i)
            deep += QStringLiteral("/d");
        QDir().mkpath(deep);
        ResourceLocator::setExecutablePathForTesting(deep + QStringLiteral("/exe"));
        // <root>/d is the 21st ancestor and <root> the 22nd: out of reach.
        QVERIFY(VarnoTest::writeFile(m_root + QStringLiteral("/Resources/far.json"), "x"));
        QVERIFY(VarnoTest::writeFile(m_root + QStringLiteral("/d/Resources/far.json"), "x"));
        QCOMPARE(ResourceLocator::url(QStringLiteral("far"), QStringLiteral("json")), std::optional<QString>());
        QVERIFY(VarnoTest::writeFile(m_root + QStringLiteral("/d/d/Resources/far.json"), "x"));
        QCOMPARE(ResourceLocator::url(QStringLiteral("far"), QStringLiteral("json")),
                 std::optional<QString>(m_root + QStringLiteral("/d/d/Resources/far.json")));
    }

    void images()
    {
        const QString resources = m_root + QStringLiteral("/tree/Resources/");
        QVERIFY(VarnoTest::writeFile(resources + QStringLiteral("persona.svg"), kSvg));
        QVERIFY(VarnoTest::writeFile(resources + QStringLiteral("persona.icns"), "not really icns"));
        const auto persona = ResourceLocator::image(QStringLiteral("persona"));
        QVERIFY(persona);
        QCOMPARE(persona->size(), QSize(8, 6));

        QVERIFY(VarnoTest::writeFile(resources + QStringLiteral("head.png"), pngBytes(5, 4)));
        const auto head = ResourceLocator::image(QStringLiteral("head"));
        QVERIFY(head);
        QCOMPARE(head->size(), QSize(5, 4));

        // The first existing extension decides: a damaged PNG is not rescued by a later file.
        QVERIFY(VarnoTest::writeFile(resources + QStringLiteral("broken.png"), "\x89PNG garbage"));
        QVERIFY(VarnoTest::writeFile(resources + QStringLiteral("broken.svg"), kSvg));
        QVERIFY(!ResourceLocator::image(QStringLiteral("broken")));
        QVERIFY(!ResourceLocator::image(QStringLiteral("nothing")));
    }

    void bundleImageWins()
    {
        const QString bundle = m_root + QStringLiteral("/tree/build/VARNO.app");
        QVERIFY(VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Resources/AppIcon.png"), pngBytes(3, 3)));
        QVERIFY(VarnoTest::writeFile(m_root + QStringLiteral("/tree/Resources/AppIcon.svg"), kSvg));
        MainBundle::setPathOverride(bundle);
        const auto icon = ResourceLocator::image(QStringLiteral("AppIcon"));
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(3, 3));
    }

    void sourceInfoPlist()
    {
        QCOMPARE(ResourceLocator::cachedInfoPlistURL(), std::optional<QString>());
        const QString plist = m_root + QStringLiteral("/tree/dashboard/Sources/VARNO/Info.plist");
        QVERIFY(VarnoTest::writeFile(plist, "<plist/>"));
        // Worked out once: a new file is seen only after the cache is rebuilt.
        QCOMPARE(ResourceLocator::cachedInfoPlistURL(), std::optional<QString>());
        ResourceLocator::setExecutablePathForTesting(m_executable);
        QCOMPARE(ResourceLocator::cachedInfoPlistURL(), std::optional<QString>(plist));
    }

    // A build folder outside the source tree: a test program there finds
    // the bundle its build staged, and a registry that is nowhere is an error.
    void findsTheStagedBundleOfABuildFolderElsewhere()
    {
        const QString build = m_root + QStringLiteral("/elsewhere/build");
        const QString staged = build + QStringLiteral("/VARNO.app/Contents/Resources/remediation_registry.json");
        QVERIFY(VarnoTest::writeFile(staged, "[]"));
        ResourceLocator::setExecutablePathForTesting(build + QStringLiteral("/dashboard/Tests/model/tst_model"));
        QCOMPARE(ResourceLocator::url(QStringLiteral("remediation_registry"), QStringLiteral("json")),
                 std::optional<QString>(staged));
        // Its Info.plist too, unless the sources' own is among the ancestors.
        const QString stagedPlist = build + QStringLiteral("/VARNO.app/Contents/Info.plist");
        QVERIFY(VarnoTest::writeFile(stagedPlist, "<plist/>"));
        ResourceLocator::setExecutablePathForTesting(build + QStringLiteral("/dashboard/Tests/model/tst_model"));
        QCOMPARE(ResourceLocator::cachedInfoPlistURL(), std::optional<QString>(stagedPlist));
        const QString sourcePlist = m_root + QStringLiteral("/elsewhere/dashboard/Sources/VARNO/Info.plist");
        QVERIFY(VarnoTest::writeFile(sourcePlist, "<plist/>"));
        ResourceLocator::setExecutablePathForTesting(build + QStringLiteral("/dashboard/Tests/model/tst_model"));
        QCOMPARE(ResourceLocator::cachedInfoPlistURL(), std::optional<QString>(sourcePlist));

        VarnoTest::LogCapture log;
        RemediationRegistry::fromFile(ResourceLocator::url(QStringLiteral("nowhere"), QStringLiteral("json")));
        QCOMPARE(log.countStartingWith(QStringLiteral("The remediation registry is missing from the app's resources")),
                 1);
        VendorUpdaters::fromFile(std::optional<QString>(m_root + QStringLiteral("/no/such/file.json")));
        QCOMPARE(log.countStartingWith(QStringLiteral("The vendor updaters registry")), 1);
    }

    void findsTheShippedResourcesFromTheBuildTree()
    {
        ResourceLocator::setExecutablePathForTesting(std::nullopt);
        MainBundle::setPathOverride(std::nullopt);
        const auto registry = ResourceLocator::url(QStringLiteral("remediation_registry"), QStringLiteral("json"));
        QVERIFY(registry);
        QVERIFY(registry->endsWith(QStringLiteral("Resources/remediation_registry.json")));
        QVERIFY(ResourceLocator::url(QStringLiteral("vendor_updaters"), QStringLiteral("json")));
        QVERIFY(ResourceLocator::cachedInfoPlistURL());
    }

private:
    QTemporaryDir m_tree;
    QString m_root;
    QString m_executable;
};

VARNO_TEST_CLASS(TestResourceLocator)

#include "tst_resources.moc"
