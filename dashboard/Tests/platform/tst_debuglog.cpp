#include "TestRegistry.h"
#include "TestSupport.h"

#include "platform/DebugLog.h"
#include "platform/MainBundle.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace std::chrono_literals;

namespace {

// A bundle folder whose Info.plist has the given CFBundleShortVersionString.
void writeFakeBundle(const QString &bundle, const QString &version)
{
    const QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<plist version=\"1.0\"><dict>\n"
                             "<key>CFBundleShortVersionString</key><string>"
        + version.toUtf8() + "</string>\n</dict></plist>\n";
    QVERIFY(VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Info.plist"), plist));
}

QStringList breadcrumbLines(const QStringList &messages)
{
    QStringList lines;
    for (const QString &message : messages) {
        if (message.startsWith(QStringLiteral("[VARNO/dbg]")))
            lines.append(message);
    }
    return lines;
}

} // namespace

class TestDebugLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_savedDebug = qEnvironmentVariableIsSet("VARNO_DEBUG") ? std::optional(qgetenv("VARNO_DEBUG")) : std::nullopt;
        qunsetenv("VARNO_DEBUG");
        QVERIFY(m_bundle.isValid());
        MainBundle::setPathOverride(m_bundle.path());
        DebugLog::resetForTesting();
    }

    void cleanup()
    {
        if (m_savedDebug)
            qputenv("VARNO_DEBUG", *m_savedDebug);
        else
            qunsetenv("VARNO_DEBUG");
        MainBundle::setPathOverride(std::nullopt);
        DebugLog::resetForTesting();
    }

    void enabledRule_data()
    {
        QTest::addColumn<bool>("variableSet");
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<bool>("versionSet");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("expected");

        QTest::newRow("plain release") << false << QByteArray() << true << QStringLiteral("1.4.0") << false;
        QTest::newRow("debug version") << false << QByteArray() << true << QStringLiteral("1.4.0-debug") << true;
        QTest::newRow("version is matched case-sensitively")
            << false << QByteArray() << true << QStringLiteral("1.4.0-DEBUG") << false;
        QTest::newRow("variable 1") << true << QByteArray("1") << true << QStringLiteral("1.4.0") << true;
        QTest::newRow("variable 1 without version") << true << QByteArray("1") << false << QString() << true;
        QTest::newRow("variable true falls back on the version")
            << true << QByteArray("true") << true << QStringLiteral("1.4.0") << false;
        QTest::newRow("variable true with a debug version")
            << true << QByteArray("true") << true << QStringLiteral("2.0debug") << true;
        QTest::newRow("variable 1 with blanks is not 1") << true << QByteArray(" 1") << false << QString() << false;
        QTest::newRow("nothing at all") << false << QByteArray() << false << QString() << false;
    }

    void enabledRule()
    {
        QFETCH(bool, variableSet);
        QFETCH(QByteArray, variable);
        QFETCH(bool, versionSet);
        QFETCH(QString, version);
        QFETCH(bool, expected);
        QCOMPARE(DebugLog::isEnabledFor(variableSet ? std::optional(variable) : std::nullopt,
                                        versionSet ? std::optional(version) : std::nullopt),
                 expected);
    }

    void lineFormat_data()
    {
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<int>("megabytes");
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("hasDetail");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("expected");

        QTest::newRow("first, with detail")
            << 0.0 << 84 << QStringLiteral("quit_denied") << true
            << QStringLiteral("com.example.App — no update attempted")
            << QStringLiteral("[VARNO/dbg] +0.00s | 84 MB | phase=quit_denied | com.example.App — no update attempted");
        QTest::newRow("no detail ends with the phase") << 1.5 << 120 << QStringLiteral("load") << false << QString()
                                                       << QStringLiteral("[VARNO/dbg] +1.50s | 120 MB | phase=load");
        QTest::newRow("empty detail still gets its separator")
            << 125.004 << -1 << QStringLiteral("x") << true << QString()
            << QStringLiteral("[VARNO/dbg] +125.00s | -1 MB | phase=x | ");
    }

    void lineFormat()
    {
        QFETCH(double, elapsed);
        QFETCH(int, megabytes);
        QFETCH(QString, phase);
        QFETCH(bool, hasDetail);
        QFETCH(QString, detail);
        QFETCH(QString, expected);
        QCOMPARE(DebugLog::formatLine(elapsed, megabytes, phase, hasDetail ? std::optional(detail) : std::nullopt),
                 expected);
    }

    void residentMemoryIsRead() { QVERIFY(DebugLog::residentMegabytes() > 0); }

    // The first breadcrumb starts the clock; later ones count from it.
    void breadcrumbsOfADebugBuild()
    {
        writeFakeBundle(m_bundle.path(), QStringLiteral("1.4.0-debug"));
        const QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);
        VarnoTest::FixedClock clock(start);
        VarnoTest::LogCapture capture;

        QVERIFY(!DebugLog::startTime());
        DebugLog::breadcrumb(QStringLiteral("quit_denied"), QStringLiteral("com.example.App — no update attempted"));
        clock.advance(90s);
        DebugLog::breadcrumb(QStringLiteral("later"));

        const QStringList lines = breadcrumbLines(capture.messages());
        QCOMPARE(lines.size(), 2);
        static const QRegularExpression first(QStringLiteral(
            "^\\[VARNO/dbg\\] \\+0\\.00s \\| -?\\d+ MB \\| phase=quit_denied \\| com\\.example\\.App — no update attempted$"));
        static const QRegularExpression second(
            QStringLiteral("^\\[VARNO/dbg\\] \\+90\\.00s \\| -?\\d+ MB \\| phase=later$"));
        QVERIFY2(first.match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));
        QVERIFY2(second.match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
        QCOMPARE(DebugLog::startTime(), std::optional(start));
    }

    void releaseBuildWritesNothing()
    {
        writeFakeBundle(m_bundle.path(), QStringLiteral("1.4.0"));
        VarnoTest::LogCapture capture;
        DebugLog::breadcrumb(QStringLiteral("quit_denied"), QStringLiteral("x"));
        QVERIFY(breadcrumbLines(capture.messages()).isEmpty());
        QVERIFY(!DebugLog::startTime());
    }

    void variableTurnsBreadcrumbsOn()
    {
        writeFakeBundle(m_bundle.path(), QStringLiteral("1.4.0"));
        qputenv("VARNO_DEBUG", "1");
        VarnoTest::LogCapture capture;
        DebugLog::breadcrumb(QStringLiteral("p"));
        QCOMPARE(breadcrumbLines(capture.messages()).size(), 1);
    }

    // Once decided, a later change of the environment has no effect.
    void decisionIsFixedForTheProcess()
    {
        writeFakeBundle(m_bundle.path(), QStringLiteral("1.4.0"));
        QVERIFY(!DebugLog::enabled());
        qputenv("VARNO_DEBUG", "1");
        VarnoTest::LogCapture capture;
        DebugLog::breadcrumb(QStringLiteral("p"));
        QVERIFY(!DebugLog::enabled());
        QVERIFY(breadcrumbLines(capture.messages()).isEmpty());
    }

private:
    QTemporaryDir m_bundle;
    std::optional<QByteArray> m_savedDebug;
};

VARNO_TEST_CLASS(TestDebugLog)
#include "tst_debuglog.moc"
