#include "TestRegistry.h"
#include "TestScopes.h"
#include "TestSupport.h"

#include "platform/Clock.h"
#include "platform/ToolRunner.h"
#include "services/ESEProbe.h"
#include "services/MechanismProbe.h"
#include "services/OpenCoreProbe.h"
#include "services/SoftwareUpdateProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>

using namespace std::chrono_literals;

namespace {

// Fake tool bodies shared by the probe tables.
const QByteArray kHangs = "exec /bin/sleep 30\n";
// Writes more than a pipe holds before the answer comes last.
QByteArray floodThen(const QByteArray &lastLine, const char *stream = "")
{
    return QByteArray("head -c 3000000 /dev/zero | tr '\\0' x ") + stream + "\necho\necho '" + lastLine + "' " + stream
        + "\n";
}

// A fake tool that hangs is given half a second, so a table shows the time-out without waiting long; every
// other one is given time to answer on a loaded machine (3 MB through a pipe under the sanitizers), so only
// the hanging rows race the clock.
double deadlineFor(std::initializer_list<QByteArray> bodies)
{
    for (const QByteArray &body : bodies) {
        if (body.contains(kHangs))
            return 0.5;
    }
    return 20;
}

const QString kBrewOpt = QStringLiteral("/opt/homebrew/bin/brew");
const QString kBrewLocal = QStringLiteral("/usr/local/bin/brew");

} // namespace

class TestMechanismProbe : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void brew_data()
    {
        QTest::addColumn<QString>("where"); // "opt", "local", "path", "none"
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        QTest::newRow("at the first candidate")
            << QStringLiteral("opt") << QByteArray("echo 'Homebrew 4.2.0'\n") << QString();
        QTest::newRow("at the second candidate") << QStringLiteral("local") << QByteArray("exit 0\n") << QString();
        QTest::newRow("on PATH only") << QStringLiteral("path") << QByteArray("exit 0\n") << QString();
        QTest::newRow("exits 1") << QStringLiteral("opt") << QByteArray("echo broken >&2\nexit 1\n")
                                 << QStringLiteral("brew failed");
        QTest::newRow("never answers") << QStringLiteral("opt") << kHangs << QStringLiteral("brew failed");
        QTest::newRow("floods its output") << QStringLiteral("opt") << floodThen("done", ">&2") << QString();
        QTest::newRow("nowhere") << QStringLiteral("none") << QByteArray() << QStringLiteral("brew not found");
    }

    void brew()
    {
        QFETCH(QString, where);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);

        VarnoTest::FakeTools candidates;
        VarnoTest::FakeTools onPath;
        const QString fake = where == QLatin1String("path") ? onPath.write(QStringLiteral("brew"), body)
            : where == QLatin1String("none")                ? QString()
                                                            : candidates.write(QStringLiteral("brew"), body);
        ToolPaths::Scoped opt(kBrewOpt,
                              where == QLatin1String("opt") ? fake : candidates.filePath(QStringLiteral("absent-opt")));
        ToolPaths::Scoped local(kBrewLocal,
                                where == QLatin1String("local") ? fake
                                                                : candidates.filePath(QStringLiteral("absent-local")));
        TestScopes::EnvScope path("PATH", QFile::encodeName(onPath.path()));

        const MechanismHealth health = MechanismProbe::checkBrew(0.5);
        const MechanismHealth expectedHealth = expected.isEmpty() ? MechanismHealth::healthy()
                                                                  : MechanismHealth::unavailable(expected);
        QCOMPARE(health, expectedHealth);
        QCOMPARE(VarnoTest::await(MechanismProbe::checkBrewAsync(0.5)), expectedHealth);
    }

    void mas_data()
    {
        QTest::addColumn<QString>("pathValue"); // %1 = the folder with the fake mas
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        QTest::newRow("healthy") << QStringLiteral("/nonexistent:%1")
                                 << QByteArray("[ \"$1\" = version ] || exit 9\necho 1.8.6\n") << QString();
        QTest::newRow("exits 2") << QStringLiteral("%1") << QByteArray("exit 2\n") << QStringLiteral("mas failed");
        QTest::newRow("never answers") << QStringLiteral("%1") << kHangs << QStringLiteral("mas failed");
        QTest::newRow("not on PATH") << QStringLiteral("/nonexistent") << QByteArray("exit 0\n")
                                     << QStringLiteral("mas not found");
        // Empty pieces are not the current folder, which holds a mas here.
        QTest::newRow("empty PATH pieces")
            << QStringLiteral(":/nonexistent::") << QByteArray("exit 0\n") << QStringLiteral("mas not found");
        QTest::newRow("no PATH") << QString() << QByteArray("exit 0\n") << QStringLiteral("mas not found");
    }

    void mas()
    {
        QFETCH(QString, pathValue);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);

        VarnoTest::FakeTools tools;
        tools.write(QStringLiteral("mas"), body);
        const QString savedCwd = QDir::currentPath();
        QDir::setCurrent(tools.path());
        TestScopes::EnvScope path("PATH",
                                  pathValue.isNull() ? std::nullopt
                                                     : std::optional(QFile::encodeName(pathValue.arg(tools.path()))));
        const MechanismHealth expectedHealth = expected.isEmpty() ? MechanismHealth::healthy()
                                                                  : MechanismHealth::unavailable(expected);
        const MechanismHealth health = MechanismProbe::checkMas(0.5);
        const MechanismHealth asyncHealth = VarnoTest::await(MechanismProbe::checkMasAsync(0.5));
        QDir::setCurrent(savedCwd);
        QCOMPARE(health, expectedHealth);
        QCOMPARE(asyncHealth, expectedHealth);
    }

    void healthValues()
    {
        QVERIFY(MechanismHealth().isUnknown());
        QCOMPARE(MechanismHealth(), MechanismHealth::unknown());
        QVERIFY(MechanismHealth::unavailable(QStringLiteral("brew failed"))
                != MechanismHealth::unavailable(QStringLiteral("mas failed")));
        QVERIFY(MechanismHealth::unknown() != MechanismHealth::unavailable(QString()));
        QCOMPARE(MechanismHealth::unavailable(QStringLiteral("mas not found")).detail(), QStringLiteral("mas not found"));
    }
};

class TestSoftwareUpdateProbe : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<std::optional<QString>>("detail");

        const QString ready = QStringLiteral("macOS update ready");
        QTest::newRow("nothing new") << QStringLiteral(
            "Software Update Tool\n\nFinding available software\nNo new software available.\n")
                                     << qint64(0) << QStringLiteral("macOS up to date") << std::optional<QString>();
        QTest::newRow("nothing new, other case") << QStringLiteral("no NEW software AVAILABLE") << qint64(0)
                                                 << QStringLiteral("macOS up to date") << std::optional<QString>();
        QTest::newRow("one update: label and title")
            << QStringLiteral(
                   "Software Update Tool\n\nFinding available software\n"
                   "Software Update found the following new or updated software:\n"
                   "* Label: macOS Sonoma 14.2-23C64\n"
                   "\tTitle: macOS Sonoma 14.2, Version: 14.2, Size: 1234567KiB, Recommended: YES, Action: restart, \n")
            << qint64(1) << ready << std::optional(QStringLiteral("macOS Sonoma 14.2-23C64"));
        QTest::newRow("two updates") << QStringLiteral(
            "* Label: Safari17.2-17.2\n\tTitle: Safari, Version: 17.2, Size: 1K,\n"
            "* Label: Command Line Tools-15.1\n\tTitle: Command Line Tools, Version: 15.1,\n")
                                     << qint64(2) << ready << std::optional(QStringLiteral("Safari17.2-17.2"));
        QTest::newRow("labels without titles")
            << QStringLiteral("Label: A\nLabel: B\n") << qint64(2) << ready << std::optional(QStringLiteral("A"));
        QTest::newRow("title alone") << QStringLiteral("   Title: XProtect, Version: 2180,\n") << qint64(1) << ready
                                     << std::optional(QStringLiteral("XProtect"));
        QTest::newRow("carriage returns stay on the line")
            << QStringLiteral("* Label: Safari\r\n\tTitle: Safari, Version: 17.2\r\n") << qint64(1) << ready
            << std::optional(QStringLiteral("Safari"));
        QTest::newRow("a kept line without a name")
            << QStringLiteral("Title:,,\n") << qint64(1) << ready << std::optional<QString>();
        QTest::newRow("a kept line with a blank name")
            << QStringLiteral("Title: ,,\n") << qint64(1) << ready << std::optional(QString());
        QTest::newRow("prefix not at the start is ignored")
            << QStringLiteral("Recommended Title: x\n") << qint64(0) << QStringLiteral("macOS update check unavailable")
            << std::optional<QString>();
        QTest::newRow("lower-case prefix is ignored")
            << QStringLiteral("* label: x\n") << qint64(0) << QStringLiteral("macOS update check unavailable")
            << std::optional<QString>();
        QTest::newRow("empty") << QString() << qint64(0) << QStringLiteral("macOS update check unavailable")
                               << std::optional<QString>();
        // A listing with updates wins over the sentence.
        QTest::newRow("update and the sentence") << QStringLiteral("No new software available.\nLabel: B\n")
                                                 << qint64(1) << ready << std::optional(QStringLiteral("B"));
    }

    void parse()
    {
        QFETCH(QString, output);
        QFETCH(qint64, count);
        QFETCH(QString, headline);
        QFETCH(std::optional<QString>, detail);
        QCOMPARE(SoftwareUpdateProbe::parse(output), (MacOSUpdateStatus{count, headline, detail}));
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("body"); // empty: the tool is absent
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("headline");

        const QString unavailable = QStringLiteral("macOS update check unavailable");
        QTest::newRow("up to date") << QByteArray("echo 'No new software available.'\n") << qint64(0)
                                    << QStringLiteral("macOS up to date");
        QTest::newRow("one update") << QByteArray(
            "[ \"$1\" = --list ] || exit 9\necho '* Label: Safari'\nprintf '\\tTitle: Safari, Version: 17\\n'\n")
                                    << qint64(1) << QStringLiteral("macOS update ready");
        QTest::newRow("non-zero exit") << QByteArray("echo '* Label: Safari'\nexit 1\n") << qint64(0) << unavailable;
        QTest::newRow("only error output") << QByteArray("echo 'No network' >&2\n") << qint64(0) << unavailable;
        QTest::newRow("error output beside a listing")
            << QByteArray("echo 'warning' >&2\necho 'No new software available.'\n") << qint64(0)
            << QStringLiteral("macOS up to date");
        QTest::newRow("never answers") << kHangs << qint64(0) << unavailable;
        QTest::newRow("large output, answer last")
            << floodThen("* Label: Big") << qint64(1) << QStringLiteral("macOS update ready");
        QTest::newRow("absent") << QByteArray() << qint64(0) << unavailable;
    }

    void check()
    {
        QFETCH(QByteArray, body);
        QFETCH(qint64, count);
        QFETCH(QString, headline);

        VarnoTest::FakeTools tools;
        const QString tool = body.isEmpty() ? tools.filePath(QStringLiteral("absent"))
                                            : tools.write(QStringLiteral("softwareupdate"), body);
        ToolPaths::Scoped path(QStringLiteral("/usr/sbin/softwareupdate"), tool);
        const double seconds = deadlineFor({body});
        const MacOSUpdateStatus status = VarnoTest::await(SoftwareUpdateProbe::check(seconds), 60s);
        QCOMPARE(status.availableCount, count);
        QCOMPARE(status.headline, headline);
        QCOMPARE(SoftwareUpdateProbe::runCheck(seconds), status);
    }

    // On this system the tool does not exist: the probe says it can't check.
    void realToolIsAbsentHere()
    {
        if (QFileInfo::exists(SoftwareUpdateProbe::toolPath))
            QSKIP("this system has softwareupdate");
        QCOMPARE(VarnoTest::await(SoftwareUpdateProbe::check(10)), MacOSUpdateStatus::unavailable());
    }
};

class TestOpenCoreProbe : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void detect_data()
    {
        QTest::addColumn<QByteArray>("nvram"); // empty: absent
        QTest::addColumn<QByteArray>("ioreg");
        QTest::addColumn<bool>("detected");
        QTest::addColumn<bool>("ioregRuns");

        const QByteArray plainNvram = "echo 'boot-args\t-v'\n";
        QTest::newRow("nvram, any case") << QByteArray(
            "printf '4D1FDA02-38C7-4A6A-9CC6-4BCCA8B30102:opencore-version\\tREL-090\\n'\n")
                                         << QByteArray("echo OpenCore") << true << false;
        QTest::newRow("nvram mixed case") << QByteArray("echo OpEnCoRe\n") << QByteArray() << true << false;
        QTest::newRow("nvram error text is searched")
            << QByteArray("echo 'nvram: OpenCore variable read failed' >&2\nexit 1\n") << QByteArray("echo nothing\n")
            << true << false;
        QTest::newRow("found in the registry")
            << plainNvram << QByteArray("echo '| \"OpenCore\" = <00>'\n") << true << true;
        QTest::newRow("registry error output") << plainNvram << QByteArray("echo opencore >&2\n") << true << true;
        QTest::newRow("neither") << plainNvram << QByteArray("echo 'IOPlatformExpertDevice'\n") << false << true;
        QTest::newRow("nvram hangs") << kHangs << QByteArray("echo OpenCore\n") << true << true;
        QTest::newRow("registry hangs") << plainNvram << QByteArray("echo OpenCore\nexec /bin/sleep 30\n") << false
                                        << true;
        QTest::newRow("registry larger than a pipe") << plainNvram << floodThen("\"OpenCore\" = <01>") << true << true;
        QTest::newRow("both absent") << QByteArray() << QByteArray() << false << false;
        QTest::newRow("registry not UTF-8") << plainNvram << QByteArray("printf 'OpenCore \\377\\n'\n") << false << true;
    }

    void detect()
    {
        QFETCH(QByteArray, nvram);
        QFETCH(QByteArray, ioreg);
        QFETCH(bool, detected);
        QFETCH(bool, ioregRuns);

        VarnoTest::FakeTools tools;
        const QString ranMarker = tools.filePath(QStringLiteral("ioreg-ran"));
        const QString nvramPath = nvram.isEmpty() ? tools.filePath(QStringLiteral("absent-nvram"))
                                                  : tools.write(QStringLiteral("nvram"), nvram);
        const QString ioregPath = ioreg.isEmpty()
            ? tools.filePath(QStringLiteral("absent-ioreg"))
            : tools.write(QStringLiteral("ioreg"), "touch '" + QFile::encodeName(ranMarker) + "'\n" + ioreg);
        ToolPaths::Scoped nvramScope(OpenCoreProbe::nvramPath, nvramPath);
        ToolPaths::Scoped ioregScope(OpenCoreProbe::ioregPath, ioregPath);

        const double seconds = deadlineFor({nvram, ioreg});
        QCOMPARE(OpenCoreProbe::detect(seconds), detected);
        QCOMPARE(QFileInfo::exists(ranMarker), ioregRuns && !ioreg.isEmpty());
        QFile::remove(ranMarker);
        QCOMPARE(VarnoTest::await(OpenCoreProbe::detectAsync(seconds), 60s), detected);
    }

    void realToolsAreAbsentHere()
    {
        if (QFileInfo::exists(OpenCoreProbe::nvramPath) || QFileInfo::exists(OpenCoreProbe::ioregPath))
            QSKIP("this system has nvram or ioreg");
        QVERIFY(!OpenCoreProbe::detect(2));
    }
};

class TestESEProbe : public QObject {
    Q_OBJECT

private:
    static ESE ese(const QString &bundleId, const QString &teamId, const QString &name, const QString &version,
                   const QString &state, ESE::Category category)
    {
        return ESE{bundleId, teamId, name, version, state, category};
    }

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QList<ESE>>("expected");

        const QString header = QStringLiteral("enabled\tactive\tteamID\tbundleID (version)\tname\t[state]\n");
        const QString littleSnitchRow = QStringLiteral(
            "*\t*\tMLZF7K7B5R\tat.obdev.littlesnitch.networkextension (5.5.3/6233)\tLittle Snitch Network Extension\t[activated enabled]\n");
        const ESE littleSnitch = ese(QStringLiteral("at.obdev.littlesnitch.networkextension"),
                                     QStringLiteral("MLZF7K7B5R"), QStringLiteral("Little Snitch Network Extension"),
                                     QStringLiteral("5.5.3/6233"), QStringLiteral("activated enabled"),
                                     ESE::Category::networkFilter);

        QTest::newRow("network extension section")
            << QStringLiteral("1 extension(s)\n--- com.apple.system_extension.network_extension\n") + header
                + littleSnitchRow
            << QList<ESE>{littleSnitch};
        QTest::newRow("bundle list beats the driver section")
            << QStringLiteral("--- com.apple.system_extension.driver_extension\n") + header
                + QStringLiteral(
                    "*\t*\tX9E956P446\tcom.crowdstrike.falcon.Agent (7.10/18605)\tFalcon Sensor\t[activated enabled]\n")
            << QList<ESE>{ese(QStringLiteral("com.crowdstrike.falcon.Agent"), QStringLiteral("X9E956P446"),
                              QStringLiteral("Falcon Sensor"), QStringLiteral("7.10/18605"),
                              QStringLiteral("activated enabled"), ESE::Category::endpointSecurity)};
        QTest::newRow("driver and endpoint sections")
            << QStringLiteral("--- com.apple.system_extension.driver_extension\n")
                + QStringLiteral("\t*\tABCDE12345\tcom.vendor.driver (1.0)\tVendor Driver\t[activated waiting for user]\n")
                + QStringLiteral("--- com.apple.system_extension.endpoint_security\n")
                + QStringLiteral("*\t*\tQWERTY1234\tcom.example.guard (2.1)\tGuard\t[activated enabled]\n")
            << QList<ESE>{ese(QStringLiteral("com.vendor.driver"), QStringLiteral("ABCDE12345"),
                              QStringLiteral("Vendor Driver"), QStringLiteral("1.0"),
                              QStringLiteral("activated waiting for user"), ESE::Category::driverExtension),
                          ese(QStringLiteral("com.example.guard"), QStringLiteral("QWERTY1234"),
                              QStringLiteral("Guard"), QStringLiteral("2.1"), QStringLiteral("activated enabled"),
                              ESE::Category::endpointSecurity)};
        QTest::newRow("no section, no known id")
            << QStringLiteral("*\t*\tABCDE12345\tcom.vendor.thing\tThing\t[[enabled]]\n")
            << QList<ESE>{ese(QStringLiteral("com.vendor.thing"), QStringLiteral("ABCDE12345"), QStringLiteral("Thing"),
                              QString(), QStringLiteral("enabled"), ESE::Category::unknown)};
        QTest::newRow("three cells after the markers: no state")
            << QStringLiteral("*\t*\tABCDE12345\tcom.objective-see.lulu.extension (2.6.1)\tLuLu\n")
            << QList<ESE>{ese(QStringLiteral("com.objective-see.lulu.extension"), QStringLiteral("ABCDE12345"),
                              QStringLiteral("LuLu"), QStringLiteral("2.6.1"), QString(), ESE::Category::networkFilter)};
        QTest::newRow("version keeps its blanks")
            << QStringLiteral("*\tABCDE12345\tcom.x.y ( 1.0 )\tY\t[on]\n")
            << QList<ESE>{ese(QStringLiteral("com.x.y"), QStringLiteral("ABCDE12345"), QStringLiteral("Y"),
                              QStringLiteral(" 1.0 "), QStringLiteral("on"), ESE::Category::unknown)};
        QTest::newRow("team id '-' is skipped")
            << QStringLiteral("*\t*\t-\tcom.apple.thing (1)\tThing\t[on]\n") << QList<ESE>{};
        QTest::newRow("team id of 9 is skipped")
            << QStringLiteral("*\t*\tABCDE1234\tcom.x (1)\tX\t[on]\n") << QList<ESE>{};
        QTest::newRow("team id with a dot is skipped")
            << QStringLiteral("*\t*\tABCDE.1234\tcom.x (1)\tX\t[on]\n") << QList<ESE>{};
        QTest::newRow("too few cells") << QStringLiteral("*\tABCDE12345\tcom.x (1)\n") << QList<ESE>{};
        QTest::newRow("only the header") << header << QList<ESE>{};
        QTest::newRow("empty") << QString() << QList<ESE>{};
        QTest::newRow("garbage") << QStringLiteral("\x01\x02 \t\t\t\n---\n\t*\t*\t*\t*\n") << QList<ESE>{};
    }

    void parse()
    {
        QFETCH(QString, output);
        QFETCH(QList<ESE>, expected);
        QCOMPARE(ESEProbe::parse(output), expected);
    }

    void probeRemembersItsLastRun()
    {
        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 3, 4), QTime(10, 0), Qt::UTC));
        VarnoTest::FakeTools tools;
        ToolPaths::Scoped tool(ESEProbe::toolPath,
                               tools.write(QStringLiteral("systemextensionsctl"),
                                           "[ \"$1\" = list ] || exit 9\n"
                                           "echo '--- com.apple.system_extension.network_extension'\n"
                                           "printf '*\\t*\\tMLZF7K7B5R\\tat.obdev.littlesnitch.networkextension (5.5.3)\\tLS\\t[activated enabled]\\n'\n"
                                           "echo 'some warning' >&2\n"));
        const QList<ESE> found = VarnoTest::await(ESEProbe::probe());
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().category, ESE::Category::networkFilter);
        QCOMPARE(ESEProbe::lastResult(), found);
        QCOMPARE(ESEProbe::lastRun(), std::optional(clock.now()));
    }

    void failingToolsYieldNothing_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("absent") << QByteArray();
        QTest::newRow("never answers") << kHangs;
        QTest::newRow("only error output") << QByteArray("echo 'not permitted' >&2\nexit 1\n");
        QTest::newRow("a flood of something else") << floodThen("no rows here");
    }

    void failingToolsYieldNothing()
    {
        QFETCH(QByteArray, body);
        VarnoTest::FakeTools tools;
        const QString tool = body.isEmpty() ? tools.filePath(QStringLiteral("absent"))
                                            : tools.write(QStringLiteral("systemextensionsctl"), body);
        ToolPaths::Scoped path(ESEProbe::toolPath, tool);
        const auto savedTimeout = ESEProbe::toolTimeout();
        ESEProbe::setToolTimeout(500ms);
        const QList<ESE> found = VarnoTest::await(ESEProbe::probe(), 20s);
        ESEProbe::setToolTimeout(savedTimeout);
        QVERIFY(found.isEmpty());
        QVERIFY(ESEProbe::lastResult().isEmpty());
        QVERIFY(ESEProbe::lastRun().has_value());
    }

    void codableKeys()
    {
        const ESE value = ese(QStringLiteral("com.x"), QStringLiteral("ABCDE12345"), QStringLiteral("X"),
                              QStringLiteral("1"), QStringLiteral("on"), ESE::Category::endpointSecurity);
        const QJsonObject json = value.toJson();
        QCOMPARE(QJsonDocument(json).toJson(QJsonDocument::Compact),
                 QByteArray("{\"bundleId\":\"com.x\",\"category\":\"endpointSecurity\",\"name\":\"X\",\"state\":\"on\","
                            "\"teamId\":\"ABCDE12345\",\"version\":\"1\"}"));
        QCOMPARE(ESE::fromJson(json), std::optional(value));
        QJsonObject bad = json;
        bad.insert(QStringLiteral("category"), QStringLiteral("firewall"));
        QVERIFY(!ESE::fromJson(bad));
        bad = json;
        bad.remove(QStringLiteral("state"));
        QVERIFY(!ESE::fromJson(bad));
    }
};

class TestFullDiskAccess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { TCCStatus::setReceiptsPathOverride(std::nullopt); }

    void answers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<bool>("exists");
        QTest::newRow("folder absent") << QStringLiteral("absent") << true << false;
        QTest::newRow("folder with entries") << QStringLiteral("entries") << true << true;
        QTest::newRow("empty folder") << QStringLiteral("empty") << false << true;
        QTest::newRow("not a folder") << QStringLiteral("file") << false << true;
        QTest::newRow("link to nowhere") << QStringLiteral("dangling") << false << true;
    }

    void answers()
    {
        QFETCH(QString, kind);
        QFETCH(bool, granted);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        const QString receipts = dir.filePath(QStringLiteral("receipts"));
        if (kind == QLatin1String("entries"))
            VarnoTest::writeFile(receipts + QStringLiteral("/com.apple.pkg.X.bom"), "x");
        else if (kind == QLatin1String("empty"))
            QDir().mkpath(receipts);
        else if (kind == QLatin1String("file"))
            VarnoTest::writeFile(receipts, "x");
        else if (kind == QLatin1String("dangling"))
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), receipts));
        TCCStatus::setReceiptsPathOverride(receipts);
        QCOMPARE(TCCStatus::hasFullDiskAccess(), granted);
        QCOMPARE(TCCStatus::receiptsFolderExists(), exists);
    }

    void realFolderIsAbsentHere()
    {
        if (QFileInfo::exists(QStringLiteral("/private/var/db/receipts")))
            QSKIP("this system has the receipts folder");
        QCOMPARE(TCCStatus::receiptsPath(), QStringLiteral("/private/var/db/receipts"));
        QVERIFY(TCCStatus::hasFullDiskAccess());
        QVERIFY(!TCCStatus::receiptsFolderExists());
    }
};

VARNO_TEST_CLASS(TestMechanismProbe)
VARNO_TEST_CLASS(TestSoftwareUpdateProbe)
VARNO_TEST_CLASS(TestOpenCoreProbe)
VARNO_TEST_CLASS(TestESEProbe)
VARNO_TEST_CLASS(TestFullDiskAccess)
#include "tst_probes.moc"
