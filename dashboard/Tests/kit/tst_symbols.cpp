#include "AppearanceTestSupport.h"
#include "TestRegistry.h"

#include "kit/SymbolIcons.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>

namespace {

QString stagedIcons()
{
    return VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/icons");
}

// The number of pixels with some ink, and whether every inked pixel has the
// expected colour (compared un-premultiplied, where the ink is dense enough
// for the colour to be exact).
struct Ink {
    int pixels = 0;
    int offColour = 0;
};

Ink inkOf(const QPixmap &pixmap, const QColor &colour)
{
    Ink ink;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 0)
                continue;
            ++ink.pixels;
            if (pixel.alpha() > 200 && !AppearanceTest::near(QColor(pixel.rgb()), colour, 4))
                ++ink.offColour;
        }
    }
    return ink;
}

} // namespace

class TestSymbolIcons : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every symbol of the table points at a file that exists and draws, in
    // the colour asked for (the SVGs' currentColor is replaced).
    void everyMappedSymbolRenders()
    {
        SymbolIcons icons(stagedIcons());
        QVERIFY(icons.isLoaded());
        const QStringList names = icons.symbolNames();
        QVERIFY(names.size() >= 40);
        const QColor red(0xCF, 0x47, 0x47);
        for (const QString &name : names) {
            QVERIFY2(QFileInfo(icons.filePath(name)).isFile(), qPrintable(name));
            const QPixmap pixmap = icons.pixmap(name, red, 24);
            QVERIFY2(!pixmap.isNull(), qPrintable(name));
            QCOMPARE(pixmap.size(), QSize(24, 24));
            const Ink ink = inkOf(pixmap, red);
            QVERIFY2(ink.pixels > 20, qPrintable(name));
            QVERIFY2(ink.offColour == 0, qPrintable(name + QStringLiteral(": drawn in another colour")));
        }
    }

    void symbolsTheViewsNeedAreMapped_data()
    {
        QTest::addColumn<QString>("symbol");
        for (const char *name :
             {"gearshape", "wrench.and.screwdriver.fill", "shield.lefthalf.filled", "hammer.fill", "archivebox.fill"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void symbolsTheViewsNeedAreMapped()
    {
        QFETCH(QString, symbol);
        SymbolIcons icons(stagedIcons());
        QVERIFY(icons.contains(symbol));
    }

    void unknownSymbolDrawsNothingAndLogsOnce()
    {
        SymbolIcons icons(stagedIcons());
        QTest::ignoreMessage(QtWarningMsg, "Unknown symbol \"no.such.symbol\": drawn as nothing.");
        QVERIFY(icons.pixmap(QStringLiteral("no.such.symbol"), Qt::black, 16).isNull());
        QTest::failOnWarning(QRegularExpression(QStringLiteral("no\\.such\\.symbol")));
        QVERIFY(icons.pixmap(QStringLiteral("no.such.symbol"), Qt::white, 32).isNull());
        QVERIFY(icons.icon(QStringLiteral("no.such.symbol"), Qt::white, 16).isNull());

        QImage canvas(20, 20, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        QVERIFY(!icons.paint(painter, QRectF(0, 0, 20, 20), QStringLiteral("no.such.symbol"), Qt::black));
    }

    void rendersAreCachedPerColourSizeAndRatio()
    {
        SymbolIcons icons(stagedIcons());
        const QString symbol = QStringLiteral("checkmark");
        const QPixmap first = icons.pixmap(symbol, Qt::red, 16);
        QCOMPARE(icons.cachedRenderCount(), 1);
        QCOMPARE(icons.pixmap(symbol, Qt::red, 16).cacheKey(), first.cacheKey());
        QCOMPARE(icons.cachedRenderCount(), 1);
        icons.pixmap(symbol, Qt::blue, 16);
        icons.pixmap(symbol, Qt::red, 20);
        const QPixmap sharp = icons.pixmap(symbol, Qt::red, 16, 2.0);
        QCOMPARE(icons.cachedRenderCount(), 4);
        QCOMPARE(sharp.size(), QSize(32, 32));
        QCOMPARE(sharp.devicePixelRatio(), 2.0);
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(16, 16));
    }

    void translucentColourKeepsItsAlpha()
    {
        SymbolIcons icons(stagedIcons());
        QColor half(0, 0, 255);
        half.setAlphaF(0.5f);
        const QImage image = icons.pixmap(QStringLiteral("stop.fill"), half, 24).toImage();
        const QColor centre = image.pixelColor(12, 12);
        QVERIFY2(std::abs(centre.alpha() - 128) <= 2, qPrintable(AppearanceTest::describe(centre)));
        QCOMPARE(centre.blue(), 255);
    }

    void paintCentresTheSymbolInTheRect()
    {
        SymbolIcons icons(stagedIcons());
        QImage canvas(40, 20, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        {
            QPainter painter(&canvas);
            QVERIFY(icons.paint(painter, QRectF(0, 0, 40, 20), QStringLiteral("stop.fill"), Qt::green));
        }
        QCOMPARE(canvas.pixelColor(20, 10).green(), 255);
        QCOMPARE(canvas.pixelColor(2, 10).alpha(), 0);
        QCOMPARE(canvas.pixelColor(37, 10).alpha(), 0);
    }

    // Broken tables and files draw nothing and never crash.
    void badTablesAndFiles_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QByteArray>("svg");
        QTest::addColumn<int>("symbols");
        QTest::addColumn<QString>("expectedLog");
        QTest::newRow("not json") << QByteArray("{ nope") << QByteArray() << 0 << QStringLiteral("is not a JSON object");
        QTest::newRow("json array") << QByteArray("[1, 2]") << QByteArray() << 0
                                    << QStringLiteral("is not a JSON object");
        QTest::newRow("file outside the folder") << QByteArray("{\"a\": \"../secret.svg\", \"b\": 3}") << QByteArray()
                                                 << 0 << QStringLiteral("has no usable file name");
        QTest::newRow("missing file") << QByteArray("{\"a\": \"a.svg\"}") << QByteArray() << 1
                                      << QStringLiteral("Couldn't read the file of the symbol \"a\"");
        QTest::newRow("broken svg") << QByteArray("{\"a\": \"a.svg\"}") << QByteArray("<svg><path d=") << 1
                                    << QStringLiteral("is not a valid SVG");
    }

    void badTablesAndFiles()
    {
        QFETCH(QByteArray, table);
        QFETCH(QByteArray, svg);
        QFETCH(int, symbols);
        QFETCH(QString, expectedLog);
        QTemporaryDir dir;
        QVERIFY(VarnoTest::writeFile(dir.filePath(QStringLiteral("symbols.json")), table));
        if (!svg.isEmpty())
            QVERIFY(VarnoTest::writeFile(dir.filePath(QStringLiteral("a.svg")), svg));
        // Logged while loading the table, or on the first draw of the symbol.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(expectedLog)));
        SymbolIcons icons(dir.path());
        QCOMPARE(icons.symbolNames().size(), symbols);
        if (symbols > 0)
            QVERIFY(icons.pixmap(QStringLiteral("a"), Qt::black, 16).isNull());
    }

    void missingTableLeavesTheSetEmpty()
    {
        QTemporaryDir dir;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Couldn't read the symbol table")));
        SymbolIcons icons(dir.path());
        QVERIFY(!icons.isLoaded());
    }

    // The shared table follows the main bundle.
    void sharedTableFollowsTheBundle()
    {
        AppearanceTest::StagedBundleScope staged;
        QVERIFY(SymbolIcons::shared().contains(QStringLiteral("gearshape")));
        QCOMPARE(SymbolIcons::shared().folder(), stagedIcons());
        {
            AppearanceTest::FakeBundle fake;
            QCOMPARE(SymbolIcons::shared().folder(), fake.resources() + QStringLiteral("/icons"));
            QVERIFY(SymbolIcons::shared().contains(QStringLiteral("gearshape")));
        }
        QCOMPARE(SymbolIcons::shared().folder(), stagedIcons());
    }
};

VARNO_TEST_CLASS(TestSymbolIcons)

#include "tst_symbols.moc"
