#include "TestRegistry.h"
#include "TestSupport.h"

#include "model/AppModel.h"
#include "widgets/ShelfCard.h"

#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

AppRecord cardRecord(const QString &id, const QString &name)
{
    return *AppRecord::fromJson(QJsonObject{{QStringLiteral("bundle_id"), id},
                                            {QStringLiteral("app_name"), name},
                                            {QStringLiteral("current_version"), QStringLiteral("1.0")},
                                            {QStringLiteral("latest_version"), QStringLiteral("1.0")},
                                            {QStringLiteral("update_mechanism"), QStringLiteral("cask")}});
}

} // namespace

// What the shelf relies on of every card, in both layouts: binding and
// re-binding to a record, its height, and opening the drawer of the record it
// shows now (not the one it showed before it was reused).
class TestShelfCard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layouts_data()
    {
        QTest::addColumn<bool>("detailsMode");
        QTest::newRow("simple") << false;
        QTest::newRow("details") << true;
    }

    void rebindingShowsAndOpensTheNewRecord_data() { layouts_data(); }
    void rebindingShowsAndOpensTheNewRecord()
    {
        QFETCH(bool, detailsMode);
        AppModel model;
        const AppRecord alpha = cardRecord(QStringLiteral("org.alpha"), QStringLiteral("Alpha"));
        const AppRecord beta = cardRecord(QStringLiteral("org.beta"), QStringLiteral("Beta"));
        model.setApps({alpha, beta});
        QList<AppRecord> opened;
        QWidget host;
        host.resize(800, 400);
        std::unique_ptr<ShelfCard> card(makeShelfCard(
            &model, detailsMode, [&opened](const AppRecord &r) { opened.append(r); }, &host));
        QVERIFY(card);
        QVERIFY(card->bundleId().isEmpty());

        card->bind(alpha);
        QCOMPARE(card->bundleId(), alpha.bundle_id);
        const int height = card->heightFor(alpha, 480);
        QVERIFY(height > 0);
        card->setGeometry(0, 0, 480, height);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        card->bind(beta);
        QCOMPARE(card->bundleId(), beta.bundle_id);
        // A click on the card's edge (never on one of its buttons) opens the
        // drawer of the record it now shows.
        QTest::mouseClick(card.get(), Qt::LeftButton, {}, QPoint(2, height / 2));
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().bundle_id, beta.bundle_id);

        // Return on the focused card does the same.
        card->setFocus();
        QTest::keyClick(card.get(), Qt::Key_Return);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.last().bundle_id, beta.bundle_id);
    }

    void heightDoesNotNeedABoundCard_data() { layouts_data(); }
    void heightDoesNotNeedABoundCard()
    {
        QFETCH(bool, detailsMode);
        AppModel model;
        const AppRecord alpha = cardRecord(QStringLiteral("org.alpha"), QStringLiteral("Alpha"));
        model.setApps({alpha});
        std::unique_ptr<ShelfCard> card(makeShelfCard(&model, detailsMode, {}, nullptr));
        QVERIFY(card->heightFor(alpha, 240) > 0);
        QVERIFY(card->heightFor(alpha, 900) > 0);
        QVERIFY(card->bundleId().isEmpty());
    }
};

VARNO_TEST_CLASS(TestShelfCard)
#include "tst_shelfcard.moc"
