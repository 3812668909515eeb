#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"

#include "kit/VarnoColor.h"
#include "widgets/Skeleton.h"

#include <QAccessible>
#include <QImage>
#include <QTest>

// The loading placeholders: the band's path, Reduce Motion, the sweep's
// start on show, and the band never drawn outside the shape.
class TestSkeleton : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bandPath_data()
    {
        QTest::addColumn<qreal>("phase");
        QTest::addColumn<qreal>("offset");
        QTest::newRow("beyond the leading edge") << 0.0 << -60.0;
        QTest::newRow("half way") << 0.5 << 30.0;
        QTest::newRow("beyond the trailing edge") << 1.0 << 120.0;
    }

    void bandPath()
    {
        QFETCH(qreal, phase);
        QFETCH(qreal, offset);
        QCOMPARE(Skeleton::bandOffset(phase, 100), offset);
        QCOMPARE(Skeleton::bandWidth(100), 60.0);
    }

    void cardUnderReduceMotionIsStill()
    {
        AppearanceTest::ReduceMotionScope still(true);
        SkeletonAppCardView card;
        card.resize(300, 70);
        card.show();
        QVERIFY(QTest::qWaitForWindowExposed(&card));
        QCOMPARE(card.shapes().size(), 4);
        for (Skeleton *shape : card.shapes())
            QVERIFY(!shape->isSweeping());
        QCOMPARE(card.shapes().at(0)->size(), QSize(38, 38));
        QCOMPARE(card.shapes().at(1)->size(), QSize(120, 16));
        QCOMPARE(card.shapes().at(2)->size(), QSize(80, 12));
        QCOMPARE(card.shapes().at(3)->size(), QSize(56, 24));
        QCOMPARE(card.accessibleName(), QStringLiteral("Loading app"));
    }

    void sweepStartsWhenShownAndAgainFromTheStart()
    {
        AppearanceTest::ReduceMotionScope moving(false);
        Skeleton shape(4);
        shape.resize(100, 20);
        QVERIFY(!shape.isSweeping());
        shape.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shape));
        QVERIFY(shape.isSweeping());
        QVERIFY(VarnoTest::waitUntil([&] { return shape.phase() > 0; }));
        shape.hide();
        QVERIFY(!shape.isSweeping());
        QCOMPARE(shape.phase(), 0.0);
        shape.show();
        QVERIFY(shape.isSweeping());
        // Reduce Motion switched on stops it at once.
        Appearance::instance().setReduceMotion(true);
        QVERIFY(!shape.isSweeping());
    }

    void bandStaysInsideTheShape()
    {
        AppearanceTest::ReduceMotionScope moving(false);
        AppearanceTest::AppearanceScope dark(Appearance::Scheme::Dark);
        Skeleton shape(0);
        shape.resize(100, 40);
        // A shape covering only the left half; the band at the middle.
        QPainterPath half;
        half.addRect(0, 0, 50, 40);
        shape.setShape(half);
        shape.setPhase(0.5);
        QImage image(shape.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        shape.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        // Outside the shape nothing is drawn, band or not.
        QCOMPARE(qAlpha(image.pixel(75, 20)), 0);
        QVERIFY(qAlpha(image.pixel(40, 20)) > 0);
        // Inside, the band lightens the grey at its centre (x = 30 + 30).
        Skeleton plain(0);
        plain.resize(100, 40);
        plain.setShape(half);
        plain.setPhase(0);
        QImage still(plain.size(), QImage::Format_ARGB32_Premultiplied);
        still.fill(Qt::transparent);
        plain.render(&still, QPoint(), QRegion(), QWidget::DrawChildren);
        QVERIFY(image.pixel(45, 20) != still.pixel(45, 20));
    }
};

VARNO_TEST_CLASS(TestSkeleton)
#include "tst_skeleton.moc"
