#include "TestRegistry.h"
#include "TestSupport.h"

#include "ModelFixture.h"

#include "kit/VarnoColor.h"
#include "workshop/StatusBarRules.h"
#include "workshop/StatusBarView.h"

#include <QAccessible>
#include <QTest>

#include <functional>

using StatusBarRules::Cell;

// The status strip: its cells' texts, tooltips and accessibility labels, the
// posture chip, and the counts over a real model.
class TestStatusBar : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cells_data()
    {
        QTest::addColumn<Cell>("cell");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("tooltip");
        QTest::addColumn<QString>("accessible");
        QTest::newRow("tracked") << Cell::tracked << "TRACKED"
                                 << "TRACKED"
                                 << "Tracked: 42";
        QTest::newRow("outdated") << Cell::outdated << "OUTDATED"
                                  << "OUTDATED"
                                  << "Outdated: 42";
        QTest::newRow("verified")
            << Cell::verified << "VERIFIED"
            << "Verified means VARNO has local provenance evidence for the app's update path (checksum and Team ID) and an independent version check completed."
            << "Verified: 42";
        QTest::newRow("at risk") << Cell::atRisk << "AT RISK"
                                 << "At Risk highlights apps VARNO believes need urgent attention."
                                 << "At Risk: 42";
    }

    void cells()
    {
        QFETCH(Cell, cell);
        QFETCH(QString, label);
        QFETCH(QString, tooltip);
        QFETCH(QString, accessible);
        QCOMPARE(StatusBarRules::label(cell), label);
        QCOMPARE(StatusBarRules::tooltip(label), tooltip);
        QCOMPARE(StatusBarRules::accessibleLabel(label, 42), accessible);
    }

    void tones_data()
    {
        QTest::addColumn<PostureTone>("tone");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("word");
        QTest::newRow("green") << PostureTone::green << "checkmark.seal.fill"
                               << "Healthy";
        QTest::newRow("orange") << PostureTone::orange << "exclamationmark.triangle.fill"
                                << "Attention needed";
        QTest::newRow("red") << PostureTone::red << "exclamationmark.octagon.fill"
                             << "At risk";
        QTest::newRow("neutral") << PostureTone::neutral << "questionmark.circle"
                                 << "Status unknown";
    }

    void tones()
    {
        QFETCH(PostureTone, tone);
        QFETCH(QString, symbol);
        QFETCH(QString, word);
        QCOMPARE(StatusBarRules::toneSymbol(tone), symbol);
        QCOMPARE(StatusBarRules::toneWord(tone), word);
        QCOMPARE(StatusBarRules::chipAccessibleLabel({QStringLiteral("Brusk app check: 5m ago"), std::nullopt, tone}),
                 word + QStringLiteral(". Brusk app check: 5m ago"));
    }

    void emptyLibraryNeverScanned()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        StatusBarView strip(&model);
        for (const Cell cell : StatusBarRules::cells())
            QCOMPARE(strip.cellValue(cell), QStringLiteral("0"));
        QCOMPARE(strip.postureTitle(), QStringLiteral("Brusk app check: not yet run"));
        QCOMPARE(strip.toneMark()->symbol(), QStringLiteral("questionmark.circle"));
        QCOMPARE(strip.chip()->accessibleName(), QStringLiteral("Status unknown. Brusk app check: not yet run"));
        QCOMPARE(strip.cell(Cell::tracked)->toolTip(), QStringLiteral("TRACKED"));
    }

    // Assistive technology meets each cell and the chip as one element read
    // by its own label: the texts inside them are not elements of their own.
    void cellsAndChipAreSingleElements()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        model.setHasEverScanned(true);
        model.setApps({makeRecord(R"({"bundle_id":"a","app_name":"A","current_version":"1","latest_version":"2"})")});
        StatusBarView strip(&model);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));

        QList<QWidget *> elements;
        for (const Cell cell : StatusBarRules::cells())
            elements.append(strip.cell(cell));
        elements.append(strip.chip());
        for (QWidget *element : std::as_const(elements)) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(element);
            QVERIFY(accessible);
            QCOMPARE(accessible->text(QAccessible::Name), element->accessibleName());
            QCOMPARE(accessible->childCount(), 0);
            QVERIFY(!accessible->childAt(element->mapToGlobal(element->rect().center()).x(),
                                         element->mapToGlobal(element->rect().center()).y()));
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(strip.cell(Cell::tracked))->text(QAccessible::Name),
                 QStringLiteral("Tracked: 1"));

        // Walking the strip's tree meets the five labels and nothing inside them.
        QStringList names;
        std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
            for (int i = 0; i < node->childCount(); ++i) {
                QAccessibleInterface *child = node->child(i);
                if (!child)
                    continue;
                names.append(child->text(QAccessible::Name));
                walk(child);
            }
        };
        walk(QAccessible::queryAccessibleInterface(&strip));
        QCOMPARE(names,
                 (QStringList{QStringLiteral("Tracked: 1"), QStringLiteral("Outdated: 1"), QStringLiteral("Verified: 0"),
                              QStringLiteral("At Risk: 0"), strip.chip()->accessibleName()}));
    }

    void countsAreIndependentAndFollowTheModel()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        StatusBarView strip(&model);
        model.setHasEverScanned(true);
        model.setApps({
            // Outdated and at risk: counts in both.
            makeRecord(R"({"bundle_id":"a","app_name":"A","current_version":"1","latest_version":"2","risk_tier":"high"})"),
            // Excluded and verified: TRACKED and VERIFIED only.
            makeRecord(
                R"({"bundle_id":"b","app_name":"B","current_version":"1","latest_version":"2","risk_tier":"high","user_ignored":1,"last_sha256":"x","last_team_id":"T"})"),
            makeRecord(R"({"bundle_id":"c","app_name":"C","current_version":"3","latest_version":"3"})"),
        });
        QCOMPARE(strip.cellValue(Cell::tracked), QStringLiteral("3"));
        QCOMPARE(strip.cellValue(Cell::outdated), QStringLiteral("1"));
        QCOMPARE(strip.cellValue(Cell::atRisk), QStringLiteral("1"));
        QCOMPARE(strip.cellValue(Cell::verified), QStringLiteral("1"));
        QCOMPARE(strip.cell(Cell::atRisk)->accessibleName(), QStringLiteral("At Risk: 1"));
        // At risk comes first: red, the scan sentence ("just now" with no
        // scan time).
        QCOMPARE(strip.postureTitle(), QStringLiteral("Brusk app check: just now"));
        QCOMPARE(strip.toneMark()->symbol(), QStringLiteral("exclamationmark.octagon.fill"));

        model.setError(QStringLiteral("The engine stopped."));
        QCOMPARE(strip.postureTitle(), QStringLiteral("Brusk needs inspection."));
        QCOMPARE(strip.chip()->accessibleName(), QStringLiteral("At risk. Brusk needs inspection."));
        QVERIFY(strip.toneMark()->color() == VarnoColor::danger());
    }
};

VARNO_TEST_CLASS(TestStatusBar)
#include "tst_statusbar.moc"
