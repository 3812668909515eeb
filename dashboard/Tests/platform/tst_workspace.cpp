#include "TestRegistry.h"
#include "TestScopes.h"
#include "TestSupport.h"

#include "platform/RunningApplications.h"
#include "platform/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace std::chrono_literals;

namespace {

// A folder <name>.app with Contents/MacOS/<name> = a copy of /bin/sh, and an
// Info.plist naming it when an identifier is given.
QString makeAppBundle(const QString &parent, const QString &name, const std::optional<QString> &bundleIdentifier)
{
    const QString bundle = parent + QLatin1Char('/') + name + QStringLiteral(".app");
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/") + name;
    QDir().mkpath(QFileInfo(executable).absolutePath());
    QFile::copy(QStringLiteral("/bin/sh"), executable);
    QFile::setPermissions(executable, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (bundleIdentifier)
        VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Info.plist"),
                             "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>"
                                 + bundleIdentifier->toUtf8() + "</string><key>CFBundleExecutable</key><string>"
                                 + name.toUtf8() + "</string></dict></plist>");
    return bundle;
}

// Starts `program` with a shell script and waits until it runs.
std::unique_ptr<QProcess> startApp(const QString &program, const QString &script)
{
    auto process = std::make_unique<QProcess>();
    process->start(program, {QStringLiteral("-c"), script});
    process->waitForStarted(10000);
    return process;
}

} // namespace

class TestRunningApplications : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_processes;

private Q_SLOTS:
    void cleanup()
    {
        for (auto &process : m_processes) {
            process->kill();
            process->waitForFinished(5000);
        }
        m_processes.clear();
    }

    void findsInstancesByTheirBundle()
    {
        const QString bundle = makeAppBundle(m_dir.path(), QStringLiteral("Foo"), QStringLiteral("org.example.foo"));
        m_processes.push_back(startApp(bundle + QStringLiteral("/Contents/MacOS/Foo"), QStringLiteral("sleep 30")));
        const qint64 pid = m_processes.back()->processId();
        // Something else whose command line only mentions the identifier.
        m_processes.push_back(startApp(QStringLiteral("/bin/sh"), QStringLiteral("sleep 30; echo org.example.foo")));

        ProcRunningApplications proc;
        QTRY_COMPARE(proc.runningApplications(QStringLiteral("org.example.foo"), std::nullopt).size(), 1);
        const RunningApplication app = proc.runningApplications(QStringLiteral("org.example.foo"), std::nullopt).first();
        QCOMPARE(app.pid, pid);
        QVERIFY(!proc.isTerminated(app));
        QVERIFY(proc.runningApplications(QStringLiteral("org.example.other"), std::nullopt).isEmpty());

        QVERIFY(proc.terminate(app));
        QTRY_VERIFY(proc.isTerminated(app));
        QVERIFY(proc.runningApplications(QStringLiteral("org.example.foo"), std::nullopt).isEmpty());
        QVERIFY(!proc.terminate(app)); // nothing left to ask
    }

    void findsInstancesByInstallPath()
    {
        const QString bundle = makeAppBundle(m_dir.path(), QStringLiteral("Bar"), std::nullopt);
        m_processes.push_back(startApp(bundle + QStringLiteral("/Contents/MacOS/Bar"), QStringLiteral("sleep 30")));
        ProcRunningApplications proc;
        QTRY_COMPARE(proc.runningApplications(QStringLiteral("org.example.bar"), bundle).size(), 1);
        QVERIFY(proc.runningApplications(QStringLiteral("org.example.bar"), std::nullopt).isEmpty());
        // A sibling folder whose name starts the same is not inside.
        QVERIFY(
            proc.runningApplications(QStringLiteral("org.example.bar"), m_dir.filePath(QStringLiteral("Ba"))).isEmpty());
    }

    void askingIsPolite()
    {
        const QString bundle = makeAppBundle(m_dir.path(), QStringLiteral("Stubborn"),
                                             QStringLiteral("org.example.stubborn"));
        m_processes.push_back(startApp(bundle + QStringLiteral("/Contents/MacOS/Stubborn"),
                                       QStringLiteral("trap '' TERM; while :; do sleep 1; done")));
        ProcRunningApplications proc;
        QTRY_COMPARE(proc.runningApplications(QStringLiteral("org.example.stubborn"), std::nullopt).size(), 1);
        const RunningApplication app = proc.runningApplications(QStringLiteral("org.example.stubborn"), std::nullopt).first();
        QVERIFY(proc.terminate(app));
        QTest::qWait(300);
        QVERIFY(!proc.isTerminated(app));
    }

    void aReusedPidIsAnotherProcess()
    {
        const QString bundle = makeAppBundle(m_dir.path(), QStringLiteral("Baz"), QStringLiteral("org.example.baz"));
        m_processes.push_back(startApp(bundle + QStringLiteral("/Contents/MacOS/Baz"), QStringLiteral("sleep 30")));
        ProcRunningApplications proc;
        QTRY_COMPARE(proc.runningApplications(QStringLiteral("org.example.baz"), std::nullopt).size(), 1);
        RunningApplication app = proc.runningApplications(QStringLiteral("org.example.baz"), std::nullopt).first();
        app.startTime += 1;
        QVERIFY(proc.isTerminated(app));
        QVERIFY(!proc.terminate(app));
        QVERIFY(!proc.isTerminated(proc.runningApplications(QStringLiteral("org.example.baz"), std::nullopt).first()));
    }

    void enclosingBundle_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("bundle");
        QTest::newRow("executable") << QStringLiteral("/Applications/Foo.app/Contents/MacOS/Foo")
                                    << QStringLiteral("/Applications/Foo.app");
        QTest::newRow("nested helper") << QStringLiteral("/A/Foo.app/Contents/Frameworks/Helper.app/Contents/MacOS/H")
                                       << QStringLiteral("/A/Foo.app/Contents/Frameworks/Helper.app");
        QTest::newRow("none") << QStringLiteral("/usr/bin/sleep") << QString();
    }

    void enclosingBundle()
    {
        QFETCH(QString, path);
        QFETCH(QString, bundle);
        QCOMPARE(ProcRunningApplications::enclosingBundle(path).value_or(QString()), bundle);
    }

    void insideABundleMeansTheExecutable()
    {
        // Only the executable counts: a process that merely names a path
        // inside the bundle as its argv[0] is not the app's.
        const QString bundle = makeAppBundle(m_dir.path(), QStringLiteral("Inner"), std::nullopt);
        m_processes.push_back(startApp(bundle + QStringLiteral("/Contents/MacOS/Inner"), QStringLiteral("sleep 30")));
        const qint64 pid = m_processes.back()->processId();
        m_processes.push_back(startApp(QStringLiteral("/bin/bash"),
                                       QStringLiteral("exec -a '%1/Contents/MacOS/Inner' sleep 30").arg(bundle)));
        ProcRunningApplications proc;
        QTRY_COMPARE(proc.runningInside(bundle).size(), 1);
        QCOMPARE(proc.runningInside(bundle).first().pid, pid);
        // The argv[0] impostor is still found the looser way.
        QTRY_COMPARE(proc.runningApplications(QStringLiteral("org.example.inner"), bundle).size(), 2);
        QVERIFY(proc.runningInside(m_dir.filePath(QStringLiteral("Inn"))).isEmpty());
        QVERIFY(proc.runningInside(QString()).isEmpty());
    }

    void fakeAnswersAsScripted()
    {
        FakeRunningApplications fake;
        const RunningApplication agrees = fake.addInstance(QStringLiteral("org.example.a"));
        const RunningApplication refuses = fake.addInstance(QStringLiteral("org.example.a"), false);
        const RunningApplication lingers = fake.addInstance(QStringLiteral("org.example.b"), true, false);
        QCOMPARE(fake.runningApplications(QStringLiteral("org.example.a"), std::nullopt).size(), 2);
        QVERIFY(fake.terminate(agrees));
        QVERIFY(!fake.terminate(refuses));
        QVERIFY(fake.terminate(lingers));
        QVERIFY(fake.isTerminated(agrees));
        QVERIFY(!fake.isTerminated(refuses));
        QVERIFY(!fake.isTerminated(lingers));
        QCOMPARE(fake.terminateRequests(), (QList<qint64>{agrees.pid, refuses.pid, lingers.pid}));

        // Listed by its executable's folder; one that ends when listed can no
        // longer be asked.
        const RunningApplication gone = fake.addInstance(QStringLiteral("org.example.c"), true, true,
                                                         QStringLiteral("/Apps/C.app/Contents/MacOS/C"), true);
        QCOMPARE(fake.runningInside(QStringLiteral("/Apps/C.app")), QList<RunningApplication>{gone});
        QVERIFY(fake.isTerminated(gone));
        QVERIFY(!fake.terminate(gone));
        QVERIFY(fake.runningInside(QStringLiteral("/Apps/C.app")).isEmpty());
        QCOMPARE(fake.runningInside(QStringLiteral("/Applications/org.example.b.app")),
                 QList<RunningApplication>{lingers});
    }
};

class TestWorkspace : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void cleanup() { Workspace::setSystemSettingsHandler({}); }

    void systemSettingsLinks()
    {
        DesktopWorkspace workspace;
        const QUrl link(QStringLiteral("x-apple.systempreferences:com.apple.LoginItems-Settings.extension"));
        QVERIFY(Workspace::isSystemSettingsUrl(link));
        QTest::ignoreMessage(QtInfoMsg,
                             "System Settings are not available on this system: "
                             "x-apple.systempreferences:com.apple.LoginItems-Settings.extension");
        QVERIFY(!workspace.open(link));

        QList<QUrl> handled;
        Workspace::setSystemSettingsHandler([&handled](const QUrl &url) {
            handled.append(url);
            return true;
        });
        QVERIFY(workspace.open(link));
        QCOMPARE(handled, QList<QUrl>{link});
    }

    void addressesThatAreNotAddresses()
    {
        DesktopWorkspace workspace;
        QVERIFY(!workspace.open(QUrl()));
        QVERIFY(!workspace.open(QUrl(QStringLiteral("no scheme here"))));
    }

    // Only the executable a bundle's Info.plist names, inside the bundle, is
    // ever started: never a file as it stands, never a file elsewhere.
    void launchableExecutable_data()
    {
        QTest::addColumn<QString>("path");       // relative to the test's folder, or absolute
        QTest::addColumn<QString>("executable"); // likewise; empty: nothing is launchable
        QTest::newRow("a bundle") << "Named.app"
                                  << "Named.app/Contents/MacOS/Named";
        QTest::newRow("a link to a bundle") << "Linked.app"
                                            << "Named.app/Contents/MacOS/Named";
        QTest::newRow("a bundle without an Info.plist") << "Bare.app"
                                                        << "";
        QTest::newRow("an executable file") << "/bin/sh"
                                            << "";
        QTest::newRow("an executable script") << "not-an-app.sh"
                                              << "";
        QTest::newRow("nothing there") << "absent.app"
                                       << "";
        QTest::newRow("a name that climbs out") << "Escape.app"
                                                << "";
        QTest::newRow("the executable links out of the bundle") << "Outlink.app"
                                                                << "";
    }

    void launchableExecutable()
    {
        QFETCH(QString, path);
        QFETCH(QString, executable);
        const QDir dir(m_dir.path());
        makeAppBundle(m_dir.path(), QStringLiteral("Named"), QStringLiteral("org.example.named"));
        QFile::link(m_dir.filePath(QStringLiteral("Named.app")), m_dir.filePath(QStringLiteral("Linked.app")));
        makeAppBundle(m_dir.path(), QStringLiteral("Bare"), std::nullopt);
        VarnoTest::FakeTools tools;
        QFile::copy(tools.write(QStringLiteral("not-an-app.sh"), "exit 0\n"),
                    m_dir.filePath(QStringLiteral("not-an-app.sh")));
        VarnoTest::writeFile(
            m_dir.filePath(QStringLiteral("Escape.app/Contents/Info.plist")),
            "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>../../../../bin/sh</string></dict></plist>");
        const QString outlink = m_dir.filePath(QStringLiteral("Outlink.app"));
        VarnoTest::writeFile(outlink + QStringLiteral("/Contents/Info.plist"),
                             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>Outlink</string></dict></plist>");
        QDir().mkpath(outlink + QStringLiteral("/Contents/MacOS"));
        QFile::link(m_dir.filePath(QStringLiteral("not-an-app.sh")), outlink + QStringLiteral("/Contents/MacOS/Outlink"));
        QVERIFY(QFileInfo(outlink + QStringLiteral("/Contents/MacOS/Outlink")).isExecutable());

        const QString canonicalDir = QFileInfo(m_dir.path()).canonicalFilePath();
        const std::optional<QString> expected = executable.isEmpty()
            ? std::nullopt
            : std::optional(canonicalDir + QLatin1Char('/') + executable);
        QCOMPARE(DesktopWorkspace::launchableExecutable(dir.absoluteFilePath(path)), expected);
    }

    // Asked to open a plain executable file, the workspace starts nothing and
    // says why; the same call for a bundle starts the bundle's executable.
    void aBareFileIsNeverStarted()
    {
        const QString ranMarker = m_dir.filePath(QStringLiteral("script-ran"));
        VarnoTest::FakeTools tools;
        const QString script = tools.write(QStringLiteral("not-an-app.sh"),
                                           QStringLiteral("touch '%1'\n").arg(ranMarker).toUtf8());
        VarnoTest::LogCapture log;
        DesktopWorkspace().openApplication(QUrl::fromLocalFile(script));
        QCOMPARE(log.count(QStringLiteral("can't open the application at ") + script
                           + QStringLiteral(" (no executable named by its Info.plist)")),
                 1);

        // A bundle opened after it runs; by the time it has, the script would
        // have been started too.
        const QString bundleMarker = m_dir.filePath(QStringLiteral("bundle-ran"));
        const QString bundle = m_dir.filePath(QStringLiteral("After.app"));
        QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
        QVERIFY(
            QFile::copy(tools.write(QStringLiteral("After"), QStringLiteral("touch '%1'\n").arg(bundleMarker).toUtf8()),
                        bundle + QStringLiteral("/Contents/MacOS/After")));
        VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Info.plist"),
                             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>After</string></dict></plist>");
        DesktopWorkspace().openApplication(QUrl::fromLocalFile(bundle));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(bundleMarker), 30000);
        QVERIFY(!QFileInfo::exists(ranMarker));
    }

    void opensAnApplicationBundle()
    {
        const QString bundle = m_dir.filePath(QStringLiteral("Marker.app"));
        const QString marker = m_dir.filePath(QStringLiteral("opened"));
        VarnoTest::FakeTools tools;
        const QString script = tools.write(QStringLiteral("Marker"), QStringLiteral("touch '%1'\n").arg(marker).toUtf8());
        QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
        QVERIFY(QFile::copy(script, bundle + QStringLiteral("/Contents/MacOS/Marker")));
        VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Info.plist"),
                             "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>Marker</string></dict></plist>");
        DesktopWorkspace().openApplication(QUrl::fromLocalFile(bundle));
        QTRY_VERIFY(QFileInfo::exists(marker));
    }

    void recordingWorkspaceKeepsTheCalls()
    {
        RecordingWorkspace workspace;
        workspace.setOpenResult(false);
        QVERIFY(!workspace.open(QUrl(QStringLiteral("https://example.org"))));
        workspace.activateFileViewerSelecting({QUrl::fromLocalFile(QStringLiteral("/tmp/a.zip"))});
        workspace.openApplication(QUrl::fromLocalFile(QStringLiteral("/Applications/Foo.app")));
        QCOMPARE(workspace.openedUrls(), QList<QUrl>{QUrl(QStringLiteral("https://example.org"))});
        QCOMPARE(workspace.revealed().size(), 1);
        QCOMPARE(workspace.openedApplications(),
                 QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/Applications/Foo.app"))});
        workspace.activateApplication();
        QCOMPARE(workspace.activations(), 1);
    }

    void activatingRaisesTheFirstVisibleWindow()
    {
        QWindow hidden;
        QWindow popup;
        popup.setFlags(Qt::Popup);
        popup.resize(40, 40);
        popup.show();
        QWindow first;
        first.resize(100, 100);
        first.show();
        QWindow second;
        second.resize(100, 100);
        second.show();
        second.requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), &second);
        DesktopWorkspace().activateApplication();
        QTRY_COMPARE(QGuiApplication::focusWindow(), &first);
    }
};

VARNO_TEST_CLASS(TestRunningApplications)
VARNO_TEST_CLASS(TestWorkspace)
#include "tst_workspace.moc"
