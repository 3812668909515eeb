#include "AppearanceTestSupport.h"
#include "TestRegistry.h"

#include "kit/BrandArtwork.h"
#include "kit/FontRegistry.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPainter>
#include <QTest>

using AppearanceTest::AppearanceScope;
using AppearanceTest::FakeBundle;

namespace {

QImage render(QSize size, const std::function<void(QPainter &)> &paint)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage renderBrusk(int side, BruskVariant variant)
{
    return render(QSize(side, side), [&](QPainter &p) { BruskView::paintArtwork(p, QRectF(0, 0, side, side), variant); });
}

QImage grabWidget(QWidget &widget)
{
    widget.resize(widget.sizeHint());
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// The bounding box of pixels more opaque than `alpha`.
QRect opaqueBounds(const QImage &image, int alpha, const QRect &within)
{
    QRect bounds;
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (image.pixelColor(x, y).alpha() > alpha)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

const QByteArray kWideRedSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\" "
                               "viewBox=\"0 0 200 100\"><rect width=\"200\" height=\"100\" fill=\"#ff0000\"/></svg>";
const QByteArray kBlueSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\" "
                            "viewBox=\"0 0 10 10\"><rect width=\"10\" height=\"10\" fill=\"#0000ff\"/></svg>";

QByteArray greenPng()
{
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(QColor(0, 255, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestBrandArtwork : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        FontRegistry::registerFontsIn(VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/fonts"));
    }

    void init()
    {
        BruskView::clearCache();
        HeadIconView::clearCache();
    }

    void cleanupTestCase()
    {
        BruskView::clearCache();
        HeadIconView::clearCache();
    }

    void resourceNames()
    {
        QCOMPARE(BruskView::resourceName(BruskVariant::main), QStringLiteral("brusk"));
        QCOMPARE(BruskView::resourceName(BruskVariant::sentry), QStringLiteral("brusk_sentry"));
        QCOMPARE(BruskView::resourceName(BruskVariant::craftsman), QStringLiteral("brusk_craftsman"));
        QCOMPARE(BruskView::resourceName(BruskVariant::curator), QStringLiteral("brusk_curator"));
        QCOMPARE(BruskView::fallbackSymbol(BruskVariant::main), QStringLiteral("wrench.and.screwdriver.fill"));
        QCOMPARE(BruskView::fallbackSymbol(BruskVariant::sentry), QStringLiteral("shield.lefthalf.filled"));
        QCOMPARE(BruskView::fallbackSymbol(BruskVariant::craftsman), QStringLiteral("hammer.fill"));
        QCOMPARE(BruskView::fallbackSymbol(BruskVariant::curator), QStringLiteral("archivebox.fill"));
        QCOMPARE(HeadIconView::resourceName(HeadIconSize::menuBar), QStringLiteral("head_icon_50x50"));
        QCOMPARE(HeadIconView::resourceName(HeadIconSize::sidebar), QStringLiteral("head_icon_100x100"));
    }

    // The app's own artwork ships in the bundle and loads.
    void bundledArtworkLoads()
    {
        for (const BruskVariant variant :
             {BruskVariant::main, BruskVariant::sentry, BruskVariant::craftsman, BruskVariant::curator}) {
            QVERIFY2(BruskView::cachedImage(variant), qPrintable(BruskView::resourceName(variant)));
            QVERIFY(BruskView::isCached(variant));
            const QImage image = renderBrusk(64, variant);
            QVERIFY(opaqueBounds(image, 250, image.rect()).width() > 50);
        }
        for (const HeadIconSize size : {HeadIconSize::menuBar, HeadIconSize::sidebar})
            QVERIFY2(HeadIconView::cachedImage(size), qPrintable(HeadIconView::resourceName(size)));
        // The icons the app shows beside its windows and in the menu bar.
        for (const char *name : {"AppIcon", "head_icon_200x200", "MenuBarIconTemplate"}) {
            const auto artwork = BrandArtwork::image(QLatin1String(name));
            QVERIFY2(artwork, name);
            QCOMPARE(artwork->naturalSize().width(), artwork->naturalSize().height());
        }
    }

    // Without its image, a 28 pt sentry is the drawn emblem: a rounded square
    // (radius 6.16) of translucent gold with a translucent gold stroke, and
    // the shield symbol 10.64 high in its middle.
    void emblemFallback()
    {
        FakeBundle bundle;
        AppearanceScope scheme(Appearance::Scheme::Dark);
        QVERIFY(!BruskView::cachedImage(BruskVariant::sentry));
        QCOMPARE(BruskView::emblemCornerRadius(28), 6.16);
        QCOMPARE(BruskView::emblemSymbolSize(28), 10.64);

        BruskView view(28, BruskVariant::sentry);
        QCOMPARE(view.sizeHint(), QSize(28, 28));
        const QImage image = grabWidget(view);
        QCOMPARE(image.size(), QSize(28, 28));
        const QColor gold(0xD4, 0xA8, 0x53);

        // Rounded corners: the very corner stays empty, the edge's middle is stroked.
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
        const QColor edge = image.pixelColor(14, 0);
        // 0.35 stroke over 0.16 fill.
        QVERIFY2(std::abs(edge.alpha() - int(255 * (0.35 + 0.16 * 0.65))) <= 6,
                 qPrintable(AppearanceTest::describe(edge)));
        QVERIFY(AppearanceTest::near(QColor(edge.rgb()), gold, 6));
        // The fill between stroke and symbol.
        const QColor fill = image.pixelColor(4, 14);
        QVERIFY2(std::abs(fill.alpha() - int(255 * 0.16)) <= 3, qPrintable(AppearanceTest::describe(fill)));

        // The symbol: solid gold, about as tall as its 10.64 font size, centred.
        const QRect inner(3, 3, 22, 22);
        const QRect symbol = opaqueBounds(image, 120, inner);
        QVERIFY(!symbol.isEmpty());
        QVERIFY2(symbol.height() >= 9 && symbol.height() <= 11, qPrintable(QString::number(symbol.height())));
        const qreal box = SymbolIcons::boxForFontSize(10.64);
        QVERIFY(QRectF(14 - box / 2 - 0.5, 14 - box / 2 - 0.5, box + 1, box + 1).contains(QRectF(symbol)));
        const QColor ink = image.pixelColor(symbol.center());
        QVERIFY(AppearanceTest::near(QColor(ink.rgb()), gold, 8));

        // The emblem follows the appearance: light gold in the light appearance.
        Appearance::instance().setOverride(Appearance::Scheme::Light);
        const QColor lightEdge = grabWidget(view).pixelColor(14, 0);
        QVERIFY(AppearanceTest::near(QColor(lightEdge.rgb()), QColor(0xB8, 0x89, 0x3A), 6));
    }

    // A missing file is not cached: the next lookup tries again and, once the
    // file is there, loads and keeps it.
    void missingArtworkIsLookedForAgain()
    {
        FakeBundle bundle;
        const QImage emblem = renderBrusk(40, BruskVariant::curator);
        QVERIFY(!BruskView::cachedImage(BruskVariant::curator));
        QVERIFY(!BruskView::isCached(BruskVariant::curator));

        QVERIFY(bundle.writeImage(QStringLiteral("brusk_curator.svg"), kBlueSvg));
        QVERIFY(BruskView::cachedImage(BruskVariant::curator));
        QVERIFY(BruskView::isCached(BruskVariant::curator));
        const QImage drawn = renderBrusk(40, BruskVariant::curator);
        QVERIFY(drawn != emblem);
        QCOMPARE(drawn.pixelColor(20, 20), QColor(0, 0, 255));

        // Loaded once: the cache answers even after the file goes away.
        QVERIFY(QFile::remove(bundle.imagePath(QStringLiteral("brusk_curator.svg"))));
        QCOMPARE(renderBrusk(40, BruskVariant::curator), drawn);
    }

    // A damaged file draws the emblem and is not cached either.
    void damagedArtworkFallsBack()
    {
        FakeBundle bundle;
        QVERIFY(bundle.writeImage(QStringLiteral("brusk.svg"), "<svg><g"));
        QVERIFY(!BruskView::cachedImage(BruskVariant::main));
        QVERIFY(!BruskView::isCached(BruskVariant::main));
        const QImage image = renderBrusk(28, BruskVariant::main);
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
        QVERIFY(image.pixelColor(4, 14).alpha() > 0); // the emblem's fill
    }

    // Art that is not square fits inside the square, centred, undistorted.
    void nonSquareArtFits()
    {
        FakeBundle bundle;
        QVERIFY(bundle.writeImage(QStringLiteral("brusk_craftsman.svg"), kWideRedSvg));
        const QImage image = renderBrusk(40, BruskVariant::craftsman);
        const QRect bounds = opaqueBounds(image, 128, image.rect());
        QCOMPARE(bounds, QRect(0, 10, 40, 20));
        QCOMPARE(image.pixelColor(20, 20), QColor(255, 0, 0));
    }

    // The head icon takes its own image, in the lookup's order of types: a
    // PNG before an SVG; a damaged first match is not passed over.
    void headIconLookup()
    {
        FakeBundle bundle;
        QVERIFY(bundle.writeImage(QStringLiteral("head_icon_50x50.svg"), kBlueSvg));
        QVERIFY(bundle.writeImage(QStringLiteral("head_icon_50x50.png"), greenPng()));
        HeadIconView menuBar(20, HeadIconSize::menuBar);
        QCOMPARE(grabWidget(menuBar).pixelColor(10, 10), QColor(0, 255, 0));

        QVERIFY(bundle.writeImage(QStringLiteral("head_icon_100x100.png"), "not a png"));
        QVERIFY(bundle.writeImage(QStringLiteral("head_icon_100x100.svg"), kBlueSvg));
        QVERIFY(!HeadIconView::cachedImage(HeadIconSize::sidebar));
    }

    // Without its image the head icon is Brusk's main artwork at its size.
    void headIconFallsBackToBrusk()
    {
        FakeBundle bundle;
        HeadIconView sidebar(48, HeadIconSize::sidebar);
        BruskView brusk(48, BruskVariant::main);
        QCOMPARE(grabWidget(sidebar), grabWidget(brusk)); // the emblem

        QVERIFY(bundle.copyStagedImage(QStringLiteral("brusk.svg")));
        BruskView::clearCache();
        const QImage withArtwork = grabWidget(sidebar);
        QCOMPARE(withArtwork, grabWidget(brusk)); // the persona artwork
        QVERIFY(BruskView::isCached(BruskVariant::main));
        QVERIFY(!HeadIconView::isCached(HeadIconSize::sidebar));
    }

    // "varn" in the primary text colour, "o" in gold, side by side on one
    // baseline, as wide as the two texts.
    void wordmark()
    {
        AppearanceScope scheme(Appearance::Scheme::Dark);
        BrandWordmarkView view(32);
        QCOMPARE(view.accessibleName(), QStringLiteral("varno"));
        const QFontMetricsF metrics(VarnoFont::wordmark(32));
        const qreal split = metrics.horizontalAdvance(QStringLiteral("varn"));
        QCOMPARE(view.sizeHint().width(), int(std::ceil(split + metrics.horizontalAdvance(QStringLiteral("o")))));

        const QImage image = grabWidget(view);
        const QColor cream(0xF0, 0xEA, 0xD6);
        const QColor gold(0xD4, 0xA8, 0x53);
        int creamInk = 0;
        int goldInk = 0;
        int creamBottom = -1;
        int goldBottom = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() < 250)
                    continue;
                if (AppearanceTest::near(QColor(pixel.rgb()), cream, 4)) {
                    QVERIFY2(x < split + 1, "cream ink in the gold letter");
                    ++creamInk;
                    creamBottom = y;
                } else if (AppearanceTest::near(QColor(pixel.rgb()), gold, 4)) {
                    QVERIFY2(x >= split - 1, "gold ink in the cream letters");
                    ++goldInk;
                    goldBottom = y;
                }
            }
        }
        QVERIFY(creamInk > 50);
        QVERIFY(goldInk > 20);
        // None of the letters descends: both groups end on the baseline
        // (the round "o" overshoots it by a pixel at most).
        QVERIFY2(std::abs(creamBottom - goldBottom) <= 1,
                 qPrintable(QStringLiteral("%1 vs %2").arg(creamBottom).arg(goldBottom)));

        Appearance::instance().setOverride(Appearance::Scheme::Light);
        const QImage light = grabWidget(view);
        bool darkInk = false;
        for (int x = 0; x < int(split) && !darkInk; ++x)
            for (int y = 0; y < light.height() && !darkInk; ++y)
                darkInk = light.pixelColor(x, y).alpha() > 250
                    && AppearanceTest::near(QColor(light.pixelColor(x, y).rgb()), QColor(0x1A, 0x16, 0x11), 4);
        QVERIFY(darkInk);
    }
};

VARNO_TEST_CLASS(TestBrandArtwork)

#include "tst_brand.moc"
