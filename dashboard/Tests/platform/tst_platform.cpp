#include "TestRegistry.h"
#include "TestSupport.h"

#include "base/Logging.h"
#include "platform/Appearance.h"
#include "platform/Clock.h"
#include "platform/MainBundle.h"
#include "platform/PlainText.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "platform/VarnoPaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent>

#include <qcoro/qcorotimer.h>

using namespace std::chrono_literals;

class TestPaths : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followsHomeOfTheProcess()
    {
        VarnoTest::TempHome home;
        QCOMPARE(VarnoPaths::home(), home.path());
        QCOMPARE(VarnoPaths::engineDir(), home.path() + QStringLiteral("/.varno"));
        QCOMPARE(VarnoPaths::engineScript(), home.path() + QStringLiteral("/.varno/varno.py"));
        QCOMPARE(VarnoPaths::appSupportDir(), home.path() + QStringLiteral("/Library/Application Support/VARNO"));
        QCOMPARE(VarnoPaths::logsDir(), home.path() + QStringLiteral("/Library/Logs/VARNO"));
        QCOMPARE(VarnoPaths::localBinDir(), home.path() + QStringLiteral("/.local/bin"));
    }

    void overrideWinsAndCanBeLifted()
    {
        VarnoTest::TempHome home;
        VarnoPaths::setHomeOverride(QStringLiteral("/elsewhere"));
        QCOMPARE(VarnoPaths::logsDir(), QStringLiteral("/elsewhere/Library/Logs/VARNO"));
        VarnoPaths::setHomeOverride(std::nullopt);
        QCOMPARE(VarnoPaths::home(), home.path());
    }

    void tempHomeRestoresTheEnvironment()
    {
        const QByteArray before = qgetenv("HOME");
        {
            VarnoTest::TempHome inner;
            QVERIFY(qgetenv("HOME") != before);
            QCOMPARE(UserDefaults::filePath(), inner.settingsFile());
        }
        QCOMPARE(qgetenv("HOME"), before);
    }

    void userDefaultsStayInTheirOwnFile()
    {
        VarnoTest::TempHome home;
        UserDefaults::open()->setValue(QStringLiteral("varno_onboarding_done"), true);
        UserDefaults::open()->sync();
        QVERIFY(QFile::exists(home.settingsFile()));
        QCOMPARE(UserDefaults::open()->value(QStringLiteral("varno_onboarding_done")).toBool(), true);
    }
};

class TestPropertyList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesEveryValueType()
    {
        const QByteArray xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\"><dict>\n"
            "  <key>Label</key><string>org.varno.scan</string>\n"
            "  <key>StartInterval</key><integer>3600</integer>\n"
            "  <key>Ratio</key><real>0.5</real>\n"
            "  <key>RunAtLoad</key><true/>\n"
            "  <key>KeepAlive</key><false/>\n"
            "  <key>When</key><date>2026-01-02T03:04:05Z</date>\n"
            "  <key>Blob</key><data>aGVs\n"
            "  bG8=</data>\n"
            "  <key>ProgramArguments</key><array><string>/usr/bin/python3</string><string>scan</string></array>\n"
            "  <key>Nested</key><dict><key>Escaped</key><string>a &amp; b</string></dict>\n"
            "</dict></plist>\n";
        const auto result = PropertyList::parse(xml);
        QVERIFY2(result.ok(), qPrintable(result.error));
        const QVariantMap map = result.value.toMap();
        QCOMPARE(map.value(QStringLiteral("Label")).toString(), QStringLiteral("org.varno.scan"));
        QCOMPARE(map.value(QStringLiteral("StartInterval")).toLongLong(), 3600);
        QCOMPARE(map.value(QStringLiteral("Ratio")).toDouble(), 0.5);
        QCOMPARE(map.value(QStringLiteral("RunAtLoad")).typeId(), QMetaType::Bool);
        QCOMPARE(map.value(QStringLiteral("RunAtLoad")).toBool(), true);
        QCOMPARE(map.value(QStringLiteral("KeepAlive")).toBool(), false);
        QCOMPARE(map.value(QStringLiteral("When")).toDateTime(), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC));
        QCOMPARE(map.value(QStringLiteral("Blob")).toByteArray(), QByteArray("hello"));
        QCOMPARE(map.value(QStringLiteral("ProgramArguments")).toList().size(), 2);
        QCOMPARE(map.value(QStringLiteral("Nested")).toMap().value(QStringLiteral("Escaped")).toString(),
                 QStringLiteral("a & b"));
    }

    void rejectsMalformedInput_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not xml") << QByteArray("{\"CFBundleVersion\": \"30\"}");
        QTest::newRow("not a plist") << QByteArray("<html><body/></html>");
        QTest::newRow("unclosed") << QByteArray("<plist><dict><key>a</key><string>b</string>");
        QTest::newRow("key without value") << QByteArray("<plist><dict><key>a</key></dict></plist>");
        QTest::newRow("value without key") << QByteArray("<plist><dict><string>b</string></dict></plist>");
        QTest::newRow("bad integer") << QByteArray("<plist><integer>twelve</integer></plist>");
        QTest::newRow("bad date") << QByteArray("<plist><date>yesterday</date></plist>");
        QTest::newRow("bad data") << QByteArray("<plist><data>!!!</data></plist>");
        QTest::newRow("unknown element") << QByteArray("<plist><color>red</color></plist>");
        QTest::newRow("two top-level values") << QByteArray("<plist><true/><false/></plist>");
        QTest::newRow("element inside string") << QByteArray("<plist><string>a<b/></string></plist>");
        QByteArray deep = "<plist>";
        for (int i = 0; i < 200; ++i)
            deep += "<array>";
        for (int i = 0; i < 200; ++i)
            deep += "</array>";
        QTest::newRow("nested too deeply") << deep + "</plist>";
    }

    void rejectsMalformedInput()
    {
        QFETCH(QByteArray, xml);
        const auto result = PropertyList::parse(xml);
        QVERIFY(!result.ok());
        QVERIFY(!result.value.isValid());
        QVERIFY(!result.error.isEmpty());
    }

    void missingFileIsAnError()
    {
        const auto result = PropertyList::parseFile(QStringLiteral("/nonexistent/Info.plist"));
        QVERIFY(!result.ok());
        QVERIFY(result.error.contains(QStringLiteral("/nonexistent/Info.plist")));
    }
};

class TestMainBundle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { MainBundle::setPathOverride(std::nullopt); }

    void bareExecutableHasAnEmptyBundle()
    {
        // Test programs are not staged inside VARNO.app.
        MainBundle::setPathOverride(std::nullopt);
        QVERIFY(!MainBundle::path());
        QVERIFY(MainBundle::infoDictionary().isEmpty());
        QVERIFY(!MainBundle::urlForResource(QStringLiteral("remediation_registry"), QStringLiteral("json")));
    }

    void readsTheStagedBundle()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        QCOMPARE(MainBundle::infoString(QStringLiteral("CFBundleShortVersionString")), QStringLiteral("0.9.14"));
        QCOMPARE(MainBundle::infoString(QStringLiteral("CFBundleVersion")), QStringLiteral("30"));
        QCOMPARE(MainBundle::infoString(QStringLiteral("CFBundleIdentifier")), QStringLiteral("org.varno.workshop"));
        // Only text values are returned as text.
        QVERIFY(!MainBundle::infoString(QStringLiteral("LSUIElement")));
        QVERIFY(!MainBundle::infoString(QStringLiteral("SUFeedURL")));
        const auto manifest = MainBundle::urlForResource(QStringLiteral("cli-manifest"), QStringLiteral("json"));
        QVERIFY(manifest);
        QVERIFY(manifest->startsWith(VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/")));
    }

    void damagedInfoPlistGivesAnEmptyDictionary()
    {
        QTemporaryDir bundle;
        QVERIFY(VarnoTest::writeFile(bundle.filePath(QStringLiteral("Contents/Info.plist")), "<plist><dict><key>"));
        MainBundle::setPathOverride(bundle.path());
        QVERIFY(MainBundle::infoDictionary().isEmpty());
        QVERIFY(!MainBundle::infoString(QStringLiteral("CFBundleVersion")));
    }

    void stagedManifestMatchesTheEngineFiles()
    {
        // The build writes one digest per file under cli/; each must match the
        // staged copy, and nothing under cli/ may be left out.
        const QString resources = VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources");
        const QJsonDocument doc = QJsonDocument::fromJson(
            VarnoTest::readFile(resources + QStringLiteral("/cli-manifest.json")));
        QVERIFY(doc.isObject());
        const QJsonObject files = doc.object().value(QStringLiteral("files")).toObject();
        const QDir cli(resources + QStringLiteral("/cli"));
        QStringList onDisk;
        QDirIterator it(cli.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            onDisk.append(cli.relativeFilePath(it.next()));
        onDisk.sort();
        QStringList listed = files.keys();
        listed.sort();
        QCOMPARE(listed, onDisk);
        for (const QString &rel : std::as_const(listed)) {
            const QByteArray digest =
                QCryptographicHash::hash(VarnoTest::readFile(cli.filePath(rel)), QCryptographicHash::Sha256).toHex();
            QCOMPARE(files.value(rel).toString().toLatin1(), digest);
        }
    }
};

class TestAppearance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { Appearance::instance().setOverride(std::nullopt); }

    void parsesSchemeNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1 none, 0 light, 1 dark
        QTest::newRow("dark") << QStringLiteral("dark") << 1;
        QTest::newRow("Light, padded") << QStringLiteral("  Light ") << 0;
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("other") << QStringLiteral("auto") << -1;
    }

    void parsesSchemeNames()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto scheme = Appearance::schemeFromText(text);
        if (expected < 0)
            QVERIFY(!scheme);
        else
            QCOMPARE(*scheme, expected == 1 ? Appearance::Scheme::Dark : Appearance::Scheme::Light);
    }

    void overrideSwitchesAndSignalsOnlyOnChange()
    {
        Appearance &appearance = Appearance::instance();
        appearance.setOverride(Appearance::Scheme::Light);
        QSignalSpy spy(&appearance, &Appearance::changed);
        appearance.setOverride(Appearance::Scheme::Dark);
        QVERIFY(appearance.isDark());
        QCOMPARE(spy.count(), 1);
        appearance.setOverride(Appearance::Scheme::Dark);
        QCOMPARE(spy.count(), 1);
        appearance.setOverride(Appearance::Scheme::Light);
        QVERIFY(!appearance.isDark());
        QCOMPARE(spy.count(), 2);
    }

    void reduceMotionSignals()
    {
        Appearance &appearance = Appearance::instance();
        const bool before = appearance.reduceMotion();
        QSignalSpy spy(&appearance, &Appearance::changed);
        appearance.setReduceMotion(!before);
        appearance.setReduceMotion(!before);
        QCOMPARE(spy.count(), 1);
        appearance.setReduceMotion(before);
    }
};

class TestLoggingAndClock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void linesCarryThePrefix_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("expected");
        QTest::newRow("debug") << int(QtDebugMsg) << QStringLiteral("[VARNO] scan finished");
        QTest::newRow("info") << int(QtInfoMsg) << QStringLiteral("[VARNO] scan finished");
        QTest::newRow("warning") << int(QtWarningMsg) << QStringLiteral("[VARNO] warning: scan finished");
        QTest::newRow("critical") << int(QtCriticalMsg) << QStringLiteral("[VARNO] error: scan finished");
    }

    void linesCarryThePrefix()
    {
        QFETCH(int, type);
        QFETCH(QString, expected);
        QCOMPARE(VarnoLogging::formatLine(QtMsgType(type), QStringLiteral("scan finished")), expected);
    }

    void fixedClockIsUsedAndReleased()
    {
        const QDateTime fixed(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
        {
            VarnoTest::FixedClock clock(fixed);
            QCOMPARE(Clock::now(), fixed);
            clock.advance(90s);
            QCOMPARE(Clock::now(), fixed.addSecs(90));
        }
        QVERIFY(qAbs(Clock::now().secsTo(QDateTime::currentDateTimeUtc())) < 60);
    }
};

// The harness itself: awaiting tasks, fake tools.
class TestHarness : public QObject {
    Q_OBJECT

    static QCoro::Task<int> answerLater()
    {
        co_await QCoro::sleepFor(10ms);
        co_return 42;
    }

    static QCoro::Task<int> failLater()
    {
        co_await QCoro::sleepFor(10ms);
        throw std::runtime_error("engine said no");
    }

    static QCoro::Task<void> slow(std::shared_ptr<bool> finished)
    {
        co_await QCoro::sleepFor(300ms);
        *finished = true;
    }

private Q_SLOTS:
    void awaitsResultsAndErrors()
    {
        QCOMPARE(VarnoTest::await(answerLater()), 42);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, VarnoTest::await(failLater()));
    }

    void awaitGivesUpAtTheTimeout()
    {
        auto finished = std::make_shared<bool>(false);
        QVERIFY_THROWS_EXCEPTION(VarnoTest::AwaitTimeout, VarnoTest::await(slow(finished), 50ms));
        QVERIFY(!*finished);
        // The abandoned task goes on and frees itself when it ends.
        QVERIFY(VarnoTest::waitUntil([&] { return *finished; }));
    }

    void fakeToolsRun()
    {
        VarnoTest::FakeTools tools;
        const QString path = tools.write(QStringLiteral("launchctl"), "echo \"$1\"\nexit 3\n");
        QProcess process;
        process.start(path, {QStringLiteral("print")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 3);
        QCOMPARE(process.readAllStandardOutput(), QByteArray("print\n"));
    }
};

class TestDisplayText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void forDisplay_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("short: unchanged")
            << QStringLiteral("exit 2\ncask not found") << QStringLiteral("exit 2\ncask not found");
        QTest::newRow("exactly the limit: unchanged") << QString(400, QLatin1Char('x')) << QString(400, QLatin1Char('x'));
        QTest::newRow("10 MiB on one line")
            << QString(10485760, QLatin1Char('e')) << QString(400, QLatin1Char('e')) + QStringLiteral("\u2026");
        QTest::newRow("the first lines only")
            << QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n") << QStringLiteral("1\n2\n3\n4\n5\n6\u2026");
        QTest::newRow("200 long lines") << QStringList(200, QString(65536, QLatin1Char('l'))).join(QLatin1Char('\n'))
                                        << QString(400, QLatin1Char('l')) + QStringLiteral("\u2026");
        QTest::newRow("never inside a surrogate pair") << QString(399, QLatin1Char('a'))
                + QStringLiteral("\U0001F600bbb") << QString(399, QLatin1Char('a')) + QStringLiteral("\U0001F600\u2026");
        QTest::newRow("never between a letter and its accent") << QString(399, QLatin1Char('a'))
                + QStringLiteral("e\u0301zzz") << QString(399, QLatin1Char('a')) + QStringLiteral("e\u0301\u2026");
        QTest::newRow("blanks before the marker go")
            << QString(398, QLatin1Char('a')) + QStringLiteral("  \n\nmore\n1\n2\n3")
            << QString(398, QLatin1Char('a')) + QStringLiteral("\u2026");
    }

    void forDisplay()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(PlainText::forDisplay(text), expected);
    }

    // Only a window of the text is read, widened while the answer could
    // still change: the cut is the same as over the whole text.
    void prefixCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("10 MiB, one character") << QString(10485760, QLatin1Char('n')) << 1 << QStringLiteral("n");
        QTest::newRow("fewer characters than asked")
            << QStringLiteral("e\u0301t\u00e9") << 5 << QStringLiteral("e\u0301t\u00e9");
        QTest::newRow("accents past the first window stay with their letter")
            << QStringLiteral("a") + QString(40, QChar(0x0301)) + QStringLiteral("bc") << 1
            << QStringLiteral("a") + QString(40, QChar(0x0301));
        // Two characters are first looked for in 9 code units.
        QTest::newRow("a pair of surrogates across the window's end")
            << QStringLiteral("a") + QString(7, QChar(0x0301)) + QStringLiteral("\U0001F600xyz") << 2
            << QStringLiteral("a") + QString(7, QChar(0x0301)) + QStringLiteral("\U0001F600");
        QTest::newRow("an accent right after the window's end") << QStringLiteral("ab") + QString(8, QChar(0x0301))
                + QStringLiteral("x") << 2 << QStringLiteral("ab") + QString(8, QChar(0x0301));
        QTest::newRow("pairs of surrogates, counted as characters")
            << QString(3, QChar(0x2603)) + QStringLiteral("\U0001F600\U0001F600\U0001F600\U0001F600tail") << 6
            << QString(3, QChar(0x2603)) + QStringLiteral("\U0001F600\U0001F600\U0001F600");
    }

    void prefixCharacters()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(PlainText::prefixCharacters(text, count), expected);
    }

    void forField_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a name: unchanged") << QStringLiteral("Pocketloom") << QStringLiteral("Pocketloom");
        QTest::newRow("exactly the limit: unchanged") << QString(256, QLatin1Char('n')) << QString(256, QLatin1Char('n'));
        QTest::newRow("9 MiB name") << QString(9437184, QLatin1Char('n'))
                                    << QString(256, QLatin1Char('n')) + QStringLiteral("\u2026");
        QTest::newRow("characters, not code units")
            << QString(300, QChar(0x00e9)).replace(QChar(0x00e9), QStringLiteral("e\u0301"))
            << QString(256, QChar(0x00e9)).replace(QChar(0x00e9), QStringLiteral("e\u0301")) + QStringLiteral("\u2026");
    }

    void forField()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(PlainText::forField(text), expected);
    }

    void aVeryLongClusterIsStillBounded()
    {
        const QString zalgo = QStringLiteral("a") + QString(100000, QChar(0x0301));
        const QString shown = PlainText::forDisplay(zalgo);
        QVERIFY(shown.size() <= 4 * PlainText::displayCharacters + 2);
        QVERIFY(shown.endsWith(QStringLiteral("\u2026")));
    }
};

VARNO_TEST_CLASS(TestPaths)
VARNO_TEST_CLASS(TestPropertyList)
VARNO_TEST_CLASS(TestMainBundle)
VARNO_TEST_CLASS(TestAppearance)
VARNO_TEST_CLASS(TestLoggingAndClock)
VARNO_TEST_CLASS(TestHarness)
VARNO_TEST_CLASS(TestDisplayText)

#include "tst_platform.moc"
