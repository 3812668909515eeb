#include "TestRegistry.h"

#include "PanelsFixture.h"

#include "screens/OnboardingRules.h"

#include <QTest>

Q_DECLARE_METATYPE(OnboardingRules::SetupMark)

using namespace PanelsTest;
using OnboardingRules::SetupMark;

// The first-run screens' texts and marks, as tables.
class TestOnboardingRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void managedAppsCount_data()
    {
        QTest::addColumn<QList<AppRecord>>("apps");
        QTest::addColumn<int>("managed");
        const QString id = QStringLiteral("org.x");
        QTest::newRow("empty") << QList<AppRecord>{} << 0;
        QTest::newRow("each managed mechanism")
            << QList<AppRecord>{app(id, QStringLiteral("A"), QStringLiteral("cask")),
                                app(id, QStringLiteral("B"), QStringLiteral("mas")),
                                app(id, QStringLiteral("C"), QStringLiteral("sparkle"))}
            << 3;
        QTest::newRow("case ignored") << QList<AppRecord>{app(id, QStringLiteral("A"), QStringLiteral("Sparkle")),
                                                          app(id, QStringLiteral("B"), QStringLiteral("CASK"))}
                                      << 2;
        QTest::newRow("not trimmed") << QList<AppRecord>{app(id, QStringLiteral("A"), QStringLiteral(" cask")),
                                                         app(id, QStringLiteral("B"), QStringLiteral("mas "))}
                                     << 0;
        QTest::newRow("unmanaged and absent")
            << QList<AppRecord>{app(id, QStringLiteral("A"), QStringLiteral("vendor_self_update")),
                                app(id, QStringLiteral("B"), QStringLiteral("unknown")), app(id, QStringLiteral("C"))}
            << 0;
    }

    void managedAppsCount()
    {
        QFETCH(QList<AppRecord>, apps);
        QFETCH(int, managed);
        QCOMPARE(OnboardingRules::managedAppsCount(apps), managed);
    }

    void summaryTexts_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("managed");
        QTest::addColumn<int>("outdated");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("path");

        QTest::newRow("empty library")
            << 0 << 0 << 0 << QStringLiteral("Brusk mapped 0 apps on your Mac")
            << QStringLiteral("This first pass found your software. The next step is establishing trusted update paths.")
            << QStringLiteral("Every app in this first pass has a known update path.");
        QTest::newRow("one sparkle app, current")
            << 1 << 1 << 0 << QStringLiteral("Brusk mapped 1 apps on your Mac")
            << QStringLiteral("Your workshop is set up. Brusk can already keep 1 app in view.")
            << QStringLiteral("Every app in this first pass has a known update path.");
        QTest::newRow("ten, three managed, one outdated")
            << 10 << 3 << 1 << QStringLiteral("Brusk mapped 10 apps on your Mac")
            << QStringLiteral("Brusk can already help with 1 app and is tracking 3 through known update paths.")
            << QStringLiteral("7 apps still need a trusted update path.");
        QTest::newRow("plural outdated")
            << 4 << 2 << 2 << QStringLiteral("Brusk mapped 4 apps on your Mac")
            << QStringLiteral("Brusk can already help with 2 apps and is tracking 2 through known update paths.")
            << QStringLiteral("2 apps still need a trusted update path.");
        QTest::newRow("exactly one unmanaged")
            << 3 << 2 << 0 << QStringLiteral("Brusk mapped 3 apps on your Mac")
            << QStringLiteral("Your workshop is set up. Brusk can already keep 2 apps in view.")
            << QStringLiteral("1 app still need a trusted update path.");
        QTest::newRow("nothing managed, outdated ones")
            << 5 << 0 << 4 << QStringLiteral("Brusk mapped 5 apps on your Mac")
            << QStringLiteral("This first pass found your software. The next step is establishing trusted update paths.")
            << QStringLiteral("5 apps still need a trusted update path.");
        QTest::newRow("no grouping") << 12345 << 12345 << 0 << QStringLiteral("Brusk mapped 12345 apps on your Mac")
                                     << QStringLiteral(
                                            "Your workshop is set up. Brusk can already keep 12345 apps in view.")
                                     << QStringLiteral("Every app in this first pass has a known update path.");
    }

    void summaryTexts()
    {
        QFETCH(int, total);
        QFETCH(int, managed);
        QFETCH(int, outdated);
        QFETCH(QString, title);
        QFETCH(QString, headline);
        QFETCH(QString, path);
        QCOMPARE(OnboardingRules::mappedTitle(total), title);
        QCOMPARE(OnboardingRules::summaryHeadline(managed, outdated), headline);
        QCOMPARE(OnboardingRules::pathLine(total - managed), path);
    }

    void setupRows_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("brew");
        QTest::addColumn<bool>("mas");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QList<SetupMark>>("marks");
        const QStringList checking{QStringLiteral("Setting up Brusk's tools"), QStringLiteral("Checking Homebrew"),
                                   QStringLiteral("Checking App Store CLI"),
                                   QStringLiteral("Registering background checks")};
        const QStringList found{QStringLiteral("Setting up Brusk's tools"), QStringLiteral("Homebrew found"),
                                QStringLiteral("App Store CLI found"), QStringLiteral("Registering background checks")};
        QTest::newRow("step 0") << 0 << false << false << checking
                                << QList<SetupMark>{SetupMark::active, SetupMark::pending, SetupMark::pending,
                                                    SetupMark::pending};
        QTest::newRow("step 2") << 2 << false << false << checking
                                << QList<SetupMark>{SetupMark::done, SetupMark::done, SetupMark::active,
                                                    SetupMark::pending};
        QTest::newRow("brew found beside its spinner")
            << 1 << true << true << found
            << QList<SetupMark>{SetupMark::done, SetupMark::active, SetupMark::pending, SetupMark::pending};
        QTest::newRow("step 4") << 4 << true << false
                                << QStringList{found.at(0), found.at(1), checking.at(2), found.at(3)}
                                << QList<SetupMark>{SetupMark::done, SetupMark::done, SetupMark::done, SetupMark::done};
    }

    void setupRows()
    {
        QFETCH(int, step);
        QFETCH(bool, brew);
        QFETCH(bool, mas);
        QFETCH(QStringList, titles);
        QFETCH(QList<SetupMark>, marks);
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(OnboardingRules::setupRowTitle(row, brew, mas), titles.at(row));
            QCOMPARE(OnboardingRules::setupRowMark(row, step), marks.at(row));
        }
    }

    void toolFound_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QStringList>("asked");
        const QString primary = OnboardingRules::brewPrimary;
        const QString secondary = OnboardingRules::brewSecondary;
        QTest::newRow("primary only") << QStringList{primary} << true << QStringList{primary};
        QTest::newRow("secondary only") << QStringList{secondary} << true << QStringList{primary, secondary};
        QTest::newRow("both") << QStringList{primary, secondary} << true << QStringList{primary};
        QTest::newRow("neither") << QStringList{} << false << QStringList{primary, secondary};
    }

    void toolFound()
    {
        QFETCH(QStringList, present);
        QFETCH(bool, found);
        QFETCH(QStringList, asked);
        QStringList calls;
        const auto exists = [&](const QString &path) {
            calls << path;
            return present.contains(path);
        };
        QCOMPARE(OnboardingRules::toolFound(OnboardingRules::brewPrimary, OnboardingRules::brewSecondary, exists), found);
        QCOMPARE(calls, asked);
    }
};

VARNO_TEST_CLASS(TestOnboardingRules)
#include "tst_onboardingrules.moc"
