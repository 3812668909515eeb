#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"
#include "ModelFixture.h"

#include "cards/AppCardSimpleView.h"
#include "engine/UpdateEvent.h"
#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "widgets/ShelfCard.h"
#include "widgets/Skeleton.h"
#include "workshop/ShelfCardGrid.h"
#include "workshop/ShelfRules.h"
#include "workshop/ShelfView.h"

#include <QLabel>
#include <QScrollBar>
#include <QTest>

using ShelfRules::ShelfState;

namespace {

QList<AppRecord> bigLibrary(int count)
{
    QList<AppRecord> apps;
    for (int i = 0; i < count; ++i) {
        apps.append(makeRecord(
            QStringLiteral(
                R"({"bundle_id":"org.big.app%1","app_name":"Big App %1","current_version":"1.%2","latest_version":"1.%3","update_mechanism":"cask"})")
                .arg(i)
                .arg(i % 3)
                .arg(i % 5)
                .toUtf8()));
    }
    return apps;
}

int journalCount(const QByteArray &needle)
{
    return int(VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput.count(needle));
}

} // namespace

// The shelf over a real model: lazy cards, the grid's columns, the details
// list's hairlines, and the states with their buttons.
class TestShelfView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aThousandAppsBuildOnlyWhatIsInView()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        model.setHasEverScanned(true);
        QList<AppRecord> apps = bigLibrary(1000);
        // Taller cards far below the first screenful: their rows start as
        // estimates.
        for (const int i : {600, 601, 900})
            apps[i] = makeRecord(
                QStringLiteral(
                    R"({"bundle_id":"org.big.app%1","app_name":"Big App %1","update_mechanism":"vendor_self_update","vendor_updater_name":"an updater whose name is long enough to wrap over several lines of a card"})")
                    .arg(i)
                    .toUtf8());
        model.setApps(apps);
        ShelfView shelf(&model, {});
        shelf.resize(900, 600);
        shelf.show();
        ShelfCardGrid *grid = shelf.grid();
        // Showing measures the rows down to the view's edge and one more;
        // the rest wait for the event loop.
        QVERIFY2(grid->heightsMeasured() < 60, qPrintable(QString::number(grid->heightsMeasured())));
        QVERIFY(!grid->heightsSettled());
        const QRect firstCard = grid->cardsInView().first()->geometry();
        QVERIFY(QTest::qWaitForWindowExposed(&shelf));
        QTRY_VERIFY(grid->heightsSettled());
        QCOMPARE(grid->heightsMeasured(), 1000);
        QCOMPARE(shelf.state(), ShelfState::cardGrid);
        QCOMPARE(grid->columnCount(), ShelfRules::gridColumns(grid->viewport()->width()));
        QVERIFY2(grid->builtCardCount() < 60, qPrintable(QString::number(grid->builtCardCount())));
        QCOMPARE(grid->cardsInView().first()->bundleId(), QStringLiteral("org.big.app0"));
        QCOMPARE(grid->cardsInView().first()->geometry(), firstCard);
        // Every row as tall as its tallest card, estimates all replaced.
        const int columns = grid->columnCount();
        const int width = grid->cellRect(0).width();
        int content = 2 * ShelfRules::kPadding - ShelfRules::kSpacing;
        for (qsizetype first = 0; first < 1000; first += columns) {
            int row = 0;
            for (qsizetype i = first; i < std::min<qsizetype>(first + columns, 1000); ++i)
                row = std::max(row, AppCardSimpleView::heightFor(model, model.apps().at(i), width));
            QCOMPARE(grid->cellRect(first).height(), row);
            content += row + ShelfRules::kSpacing;
        }
        QCOMPARE(grid->contentHeight(), content);

        // Scrolled to the end: the last app is in view, no more cards exist.
        const int built = grid->builtCardCount();
        grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
        QCOMPARE(grid->cardsInView().last()->bundleId(), QStringLiteral("org.big.app999"));
        QVERIFY(grid->builtCardCount() <= built + grid->columnCount() * 2);

        // A search narrows and rebinds; a change of progress rebuilds nothing.
        shelf.setSearchText(QStringLiteral("app99"));
        QCOMPARE(shelf.filteredApps().size(), 11); // 99, 990..999
        const QList<ShelfCard *> before = grid->cardsInView();
        UpdateEvent::AppStart start;
        start.bundleId = QStringLiteral("org.big.app99");
        start.status = QStringLiteral("downloading");
        model.handleUpdateEvent(UpdateEvent(start));
        model.setApps(model.apps()); // the same records again
        QCOMPARE(grid->cardsInView(), before);
    }

    void keptCardHeightsFollowTheRecordsTheModelAndTheWidth()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        model.setHasEverScanned(true);
        QList<AppRecord> apps = bigLibrary(6);
        model.setApps(apps);
        ShelfView shelf(&model, {});
        shelf.resize(900, 600);
        shelf.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shelf));
        ShelfCardGrid *grid = shelf.grid();
        QVERIFY(grid->columnCount() >= 2);
        // A row is as tall as its tallest card, as the card itself measures it
        // at the grid's column width.
        auto expectedRowHeight = [&](qsizetype first) {
            int height = 0;
            const int width = grid->cellRect(first).width();
            for (qsizetype i = first; i < std::min(first + grid->columnCount(), model.apps().size()); ++i)
                height = std::max(height, AppCardSimpleView::heightFor(model, model.apps().at(i), width));
            return height;
        };
        const int plainHeight = grid->cellRect(0).height();
        QCOMPARE(plainHeight, expectedRowHeight(0));

        // Keystrokes measure no card again.
        const int measured = grid->heightsMeasured();
        shelf.setSearchText(QStringLiteral("app1"));
        shelf.setSearchText(QString());
        QCOMPARE(grid->heightsMeasured(), measured);

        // A record whose status line grows gets its new height.
        apps[0] = makeRecord(
            R"({"bundle_id":"org.big.app0","app_name":"Big App 0","update_mechanism":"vendor_self_update","vendor_updater_name":"an updater whose name is long enough to wrap over several lines of a card"})");
        model.setApps(apps);
        QVERIFY2(grid->cellRect(0).height() > plainHeight, qPrintable(QString::number(grid->cellRect(0).height())));
        QCOMPARE(grid->cellRect(0).height(), expectedRowHeight(0));
        const int wrappedHeight = grid->cellRect(0).height();

        // A narrower shelf lays out again: other columns, other heights.
        const int wideColumn = grid->cellRect(0).width();
        shelf.resize(560, 600);
        QTRY_VERIFY(grid->cellRect(0).width() < wideColumn);
        QCOMPARE(grid->columnCount(), ShelfRules::gridColumns(grid->viewport()->width()));
        QCOMPARE(grid->cellRect(0).height(), expectedRowHeight(0));
        QVERIFY(grid->cellRect(0).height() >= wrappedHeight);

        // The model state the cards follow drops the kept heights too: an
        // incident adds its line under the app's detailed row.
        model.setDetailsMode(true);
        QCOMPARE(shelf.state(), ShelfState::detailsList);
        const int rowHeight = grid->cellRect(1).height();
        model.reconcileIncidents(
            {makeRecord(
                R"({"bundle_id":"org.big.app1","app_name":"Big App 1","last_incident_code":"NETWORK_TIMEOUT","last_incident_kind":"failed"})")},
            0);
        QVERIFY(model.incidents().contains(QStringLiteral("org.big.app1")));
        QVERIFY2(grid->cellRect(1).height() > rowHeight, qPrintable(QString::number(grid->cellRect(1).height())));
        QCOMPARE(grid->cellRect(2).height(), rowHeight);
        model.reconcileIncidents(model.apps(), 0);
        QCOMPARE(grid->cellRect(1).height(), rowHeight);
        model.setDetailsMode(false);

        // Back to the plain record at the first width: the first height.
        apps[0] = bigLibrary(1).first();
        model.setApps(apps);
        shelf.resize(900, 600);
        QTRY_COMPARE(grid->cellRect(0).width(), wideColumn);
        QCOMPARE(grid->cellRect(0).height(), plainHeight);
    }

    void detailsListHasHairlinesAndRoundedCorners()
    {
        VarnoTest::TempHome home;
        AppearanceTest::AppearanceScope dark(Appearance::Scheme::Dark);
        FakeModelServices fakes;
        AppModel model(fakes.services());
        model.setHasEverScanned(true);
        model.setApps(bigLibrary(5));
        model.setDetailsMode(true);
        ShelfView shelf(&model, {});
        shelf.resize(700, 500);
        shelf.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shelf));
        QCOMPARE(shelf.state(), ShelfState::detailsList);
        ShelfCardGrid *grid = shelf.grid();
        QCOMPARE(grid->columnCount(), 1);
        const QRect first = grid->cellRect(0);
        const QRect second = grid->cellRect(1);
        QCOMPARE(second.top(), first.bottom() + 2); // one line between rows
        const QImage image = grid->viewport()->grab().toImage();
        const QColor hairline = image.pixelColor(first.center().x(), first.bottom() + 1);
        QCOMPARE(hairline.name(), VarnoColor::border().resolve(true).name());
        // The list's corner is clipped: the scroll area's colour shows there.
        QCOMPARE(image.pixelColor(first.left(), first.top()).name(), VarnoColor::backgroundRaised().resolve(true).name());
    }

    void scanOverAnEmptyLibraryShowsPlaceholdersEvenWithAnError()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        f.model->setError(QStringLiteral("The engine stopped."));
        ShelfView shelf(f.model.get(), {});
        shelf.show();
        QCOMPARE(shelf.state(), ShelfState::error);
        QCOMPARE(shelf.stateSubtitle()->text(), QStringLiteral("The engine stopped."));
        QCOMPARE(shelf.stateSubtitle()->textFormat(), Qt::PlainText);
        QVERIFY(f.setKnobs("{\"rules\":[{\"command\":\"scan\",\"delay\":0.5}]}"));
        // "Try again": the error goes, the scan runs, placeholders meanwhile.
        QTest::mouseClick(shelf.stateButton(), Qt::LeftButton);
        QVERIFY(!f.model->error());
        QVERIFY(f.model->isScanning());
        QCOMPARE(shelf.state(), ShelfState::placeholders);
        QCOMPARE(shelf.placeholders().size(), 6);
        f.model->setError(QStringLiteral("still scanning"));
        QCOMPARE(shelf.state(), ShelfState::placeholders);
        f.model->setError(std::nullopt);
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isScanning(); }));
        QCOMPARE(journalCount("\"scan\"]"), 1);
        QCOMPARE(shelf.state(), ShelfState::cardGrid);
    }

    void firstRunScansAndLoadFailedReloads()
    {
        ModelFixture f;
        QVERIFY(f.ready);
        ShelfView shelf(f.model.get(), {});
        QCOMPARE(shelf.state(), ShelfState::firstRun);
        QCOMPARE(shelf.stateTitle()->text(), QStringLiteral("Let's take a look."));
        QCOMPARE(shelf.stateButton()->text(), QStringLiteral("Scan now"));
        QTest::mouseClick(shelf.stateButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->isScanning() && !f.model->apps().isEmpty(); }));
        QCOMPARE(journalCount("\"scan\"]"), 1);

        // A library that comes back empty after a scan: load failed.
        QVERIFY(f.setKnobs("{\"rules\":[{\"command\":\"list\",\"stdout\":\"[]\"}]}"));
        VarnoTest::await(f.model->load());
        QVERIFY(f.model->apps().isEmpty());
        QCOMPARE(shelf.state(), ShelfState::loadFailed);
        QCOMPARE(shelf.stateButton()->text(), QStringLiteral("Reload library"));
        const int lists = journalCount("\"list\"");
        QVERIFY(f.setKnobs("{\"rules\":[]}"));
        f.model->setError(QStringLiteral("x"));
        f.model->setError(std::nullopt);
        QTest::mouseClick(shelf.stateButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !f.model->apps().isEmpty(); }));
        QCOMPARE(journalCount("\"list\""), lists + 1);
        QCOMPARE(journalCount("\"scan\"]"), 1); // reload never scans
    }

    void emptyFiltersShowTheirOwnTexts()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        model.setHasEverScanned(true);
        model.setApps(bigLibrary(3));
        ShelfView shelf(&model, {});
        shelf.setFilter(AppFilter::brew);
        shelf.setSearchText(QStringLiteral("no such app"));
        QCOMPARE(shelf.state(), ShelfState::filterEmpty);
        QCOMPARE(shelf.stateTitle()->text(), QStringLiteral("No Homebrew apps found."));
        QVERIFY(shelf.stateButton()->isHidden());
        shelf.setFilter(AppFilter::all);
        QCOMPARE(shelf.state(), ShelfState::tidy);
        QCOMPARE(shelf.stateTitle()->text(), QStringLiteral("Nothing to fix."));
    }
};

VARNO_TEST_CLASS(TestShelfView)
#include "tst_shelfview.moc"
