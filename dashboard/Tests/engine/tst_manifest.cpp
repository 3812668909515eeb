#include "TestRegistry.h"
#include "TestSupport.h"

#include "engine/CLIBootstrapError.h"
#include "engine/EngineManifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

const QByteArray engineText = "print('hello')\n";
const QByteArray moduleText = "X = 1\n";

// The outcome of a check: "ok", or "file|expected|actual".
QString outcome(const std::optional<QString> &manifest, const QString &installDir)
{
    try {
        EngineManifest::verify(manifest, installDir);
        return QStringLiteral("ok");
    } catch (const CLIBootstrapError &error) {
        if (error.kind() != CLIBootstrapError::Kind::hashMismatch)
            return QStringLiteral("wrong kind");
        return error.file() + QLatin1Char('|') + error.expected() + QLatin1Char('|') + error.actual();
    }
}

} // namespace

class TestEngineManifest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void digestIsLowerCaseHex()
    {
        QCOMPARE(EngineManifest::sha256Hex("abc"),
                 QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    }

    void checksTheInstalledFiles_data()
    {
        const QString engine = EngineManifest::sha256Hex(engineText);
        const QString module = EngineManifest::sha256Hex(moduleText);
        QTest::addColumn<QByteArray>("manifest"); // "<none>": no manifest at all
        QTest::addColumn<QString>("expected");

        const auto files = [](const QString &body) { return QStringLiteral("{\"files\":{%1}}").arg(body).toUtf8(); };
        QTest::newRow("all match") << files(
            QStringLiteral("\"varno.py\":\"%1\",\"engine/store.py\":\"%2\"").arg(engine, module))
                                   << QStringLiteral("ok");
        QTest::newRow("upper-case digest matches")
            << files(QStringLiteral("\"varno.py\":\"%1\"").arg(engine.toUpper())) << QStringLiteral("ok");
        QTest::newRow("empty files") << QByteArray("{\"files\":{},\"generator\":1}") << QStringLiteral("ok");
        QTest::newRow("one byte changed")
            << files(QStringLiteral("\"engine/store.py\":\"%1\"").arg(EngineManifest::sha256Hex("X = 2\n").toUpper()))
            << QStringLiteral("engine/store.py|%1|%2").arg(EngineManifest::sha256Hex("X = 2\n").toUpper(), module);
        QTest::newRow("missing file") << files(QStringLiteral("\"gone.py\":\"%1\"").arg(engine))
                                      << QStringLiteral("gone.py|%1|(missing)").arg(engine);
        QTest::newRow("unreadable (a folder)") << files(QStringLiteral("\"engine\":\"%1\"").arg(engine))
                                               << QStringLiteral("engine|%1|(unreadable)").arg(engine);
        QTest::newRow("empty object") << QByteArray("{}") << QStringLiteral("(manifest)|(valid files entry)|");
        QTest::newRow("array") << QByteArray("[]") << QStringLiteral("(manifest)|(valid files entry)|");
        QTest::newRow("no files member") << QByteArray("{\"other\":{}}")
                                         << QStringLiteral("(manifest)|(valid files entry)|");
        QTest::newRow("files not an object")
            << QByteArray("{\"files\":[]}") << QStringLiteral("(manifest)|(valid files entry)|");
        QTest::newRow("a number among good entries") << files(QStringLiteral("\"varno.py\":\"%1\",\"n\":5").arg(engine))
                                                     << QStringLiteral("(manifest)|(valid files entry)|");
        // Every listed path names a file inside the install folder.
        for (const char *path : {"../varno.py", "engine/../../varno.py", "/etc/hostname", "", "./varno.py",
                                 "engine//store.py", "engine/", "engine/.", "a\\u0000b"}) {
            QTest::newRow(qPrintable(QStringLiteral("path \"%1\"").arg(QLatin1String(path))))
                << files(QStringLiteral("\"%1\":\"%2\"").arg(QLatin1String(path), engine))
                << QStringLiteral("(manifest)|(valid files entry)|");
        }
        QTest::newRow("not JSON") << QByteArray("files: all good") << QStringLiteral("(manifest)|(parseable manifest)|");
        QTest::newRow("no manifest") << QByteArray("<none>")
                                     << QStringLiteral("(manifest)|(parseable manifest)|(missing)");
    }

    void checksTheInstalledFiles()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(QString, expected);
        VarnoTest::TempHome home;
        const QString install = home.mkpath(QStringLiteral(".varno"));
        QVERIFY(VarnoTest::writeFile(install + QStringLiteral("/varno.py"), engineText));
        QVERIFY(VarnoTest::writeFile(install + QStringLiteral("/engine/store.py"), moduleText));
        std::optional<QString> manifestPath;
        if (manifest != "<none>") {
            manifestPath = home.filePath(QStringLiteral("bundle/cli-manifest.json"));
            QVERIFY(VarnoTest::writeFile(*manifestPath, manifest));
        }
        QCOMPARE(outcome(manifestPath, install), expected);
    }

    void reportsOneOfSeveralBadFiles()
    {
        VarnoTest::TempHome home;
        const QString install = home.mkpath(QStringLiteral(".varno"));
        QVERIFY(VarnoTest::writeFile(install + QStringLiteral("/a.py"), "a"));
        QVERIFY(VarnoTest::writeFile(install + QStringLiteral("/b.py"), "b"));
        const QString manifest = home.filePath(QStringLiteral("m.json"));
        QVERIFY(VarnoTest::writeFile(manifest, "{\"files\":{\"b.py\":\"00\",\"a.py\":\"11\"}}"));
        const QString result = outcome(manifest, install);
        QVERIFY2(result.startsWith(QStringLiteral("a.py|11|")) || result.startsWith(QStringLiteral("b.py|00|")),
                 qPrintable(result));
    }

    void theStagedBuildListsEveryEngineFile()
    {
        // The build writes the manifest over the engine it stages: checking
        // the staged engine against it passes, and it lists every file.
        const QString resources = VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources");
        const QString cli = resources + QStringLiteral("/cli");
        if (!QFileInfo(cli).isDir())
            QSKIP("this build stages no engine");
        const QString manifest = resources + QStringLiteral("/cli-manifest.json");
        QCOMPARE(outcome(manifest, cli), QStringLiteral("ok"));
        const QJsonObject files =
            QJsonDocument::fromJson(VarnoTest::readFile(manifest)).object().value(QLatin1String("files")).toObject();
        QVERIFY(files.contains(QLatin1String("varno.py")));
        QVERIFY(files.contains(QLatin1String(".cli_version")));
    }

    void errorTexts()
    {
        const auto mismatch = CLIBootstrapError::hashMismatch(QStringLiteral("(manifest)"),
                                                              QStringLiteral("(valid files entry)"), QString());
        // The manifest's own name brings its parentheses: one pair, not two.
        QCOMPARE(mismatch.errorDescription(),
                 QStringLiteral("VARNO's helper tools failed an integrity check (manifest). Reinstall VARNO."));
        QCOMPARE(mismatch.detail(), QStringLiteral("file=(manifest) expected=(valid files entry) actual="));
        QCOMPARE(QString::fromUtf8(mismatch.what()), mismatch.errorDescription());

        const auto migration = CLIBootstrapError::migrationFailed(3, QStringLiteral("boom"));
        QCOMPARE(migration.errorDescription(),
                 QStringLiteral("VARNO couldn't prepare its database (setup exit 3). Open Diagnostics for details, "
                                "or reinstall VARNO."));
        QCOMPARE(migration.detail(), QStringLiteral("boom"));
        QCOMPARE(CLIBootstrapError::selftestFailed(-1, QString()).errorDescription(),
                 QStringLiteral("VARNO's helper tools didn't pass their startup check (exit -1). Open Diagnostics "
                                "for details, or reinstall VARNO."));
        QVERIFY(!CLIBootstrapError::selftestFailed(1, QString()).detail());
        QCOMPARE(CLIBootstrapError::copyFailedBundledCLIMissing().errorDescription(),
                 QStringLiteral("VARNO couldn't finish setting up its helper tools: No bundled CLI in app Resources. "
                                "This is a packaging bug."));
        QCOMPARE(CLIBootstrapError::bundledCLIMissing().errorDescription(),
                 QStringLiteral("No bundled CLI in app Resources. This is a packaging bug."));
        QVERIFY(!CLIBootstrapError::bundledCLIMissing().detail());
    }
};

VARNO_TEST_CLASS(TestEngineManifest)
#include "tst_manifest.moc"
