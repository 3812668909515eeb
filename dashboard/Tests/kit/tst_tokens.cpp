#include "AppearanceTestSupport.h"
#include "TestRegistry.h"

#include "kit/FontRegistry.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QDirIterator>
#include <QFontInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QVBoxLayout>

using AppearanceTest::AppearanceScope;

namespace {

// The lines of a source that spell a colour value instead of naming a token:
// a hex colour of six or eight digits (in code or in a comment), a QColor or
// qRgb built from numbers or from a colour name, or one of Qt's named colours.
QStringList colourLiteralsIn(const QString &source)
{
    static const QRegularExpression literal(QStringLiteral(
        "#[0-9A-Fa-f]{6}(?:[0-9A-Fa-f]{2})?(?![0-9A-Za-z_])"
        "|\\b(?:QColor(?:::fromRgbF?)?|qRgba?)\\(\\s*(?:0x|[0-9.]|\")"
        "|\\bQt::(?:white|black|(?:dark|light)?[Gg]ray|(?:dark)?(?:Red|Green|Blue|Cyan|Magenta|Yellow)|red|green|blue|cyan"
        "|magenta|yellow)\\b"));
    QStringList found;
    const QStringList lines = source.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).contains(literal))
            found << QString::number(i + 1) + QStringLiteral(": ") + lines.at(i).trimmed();
    }
    return found;
}

} // namespace

Q_DECLARE_METATYPE(Tone)

class TestColorTokens : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parseHex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("expected");
        const QColor gold(212, 168, 83);
        QTest::newRow("hash") << QStringLiteral("#D4A853") << gold;
        QTest::newRow("bare digits") << QStringLiteral("D4A853") << gold;
        QTest::newRow("lower case") << QStringLiteral("#d4a853") << gold;
        QTest::newRow("blanks and line breaks around") << QStringLiteral("  #D4A853 \n") << gold;
        QTest::newRow("0x prefix") << QStringLiteral("0xD4A853") << gold;
        QTest::newRow("punctuation at both ends") << QStringLiteral("(#D4A853);") << gold;
        QTest::newRow("empty") << QString() << QColor(0, 0, 0);
        QTest::newRow("only punctuation") << QStringLiteral("#!") << QColor(0, 0, 0);
        QTest::newRow("not hex at the start") << QStringLiteral("#GG0000") << QColor(0, 0, 0);
        QTest::newRow("read up to a non-hex character") << QStringLiteral("#12Z456") << QColor(0, 0, 0x12);
        QTest::newRow("three digits are not expanded") << QStringLiteral("#FFF") << QColor(0, 0x0F, 0xFF);
        QTest::newRow("eight digits keep the last six") << QStringLiteral("#11223344") << QColor(0x22, 0x33, 0x44);
        QTest::newRow("blank inside stops the reading") << QStringLiteral("#D4 A853") << QColor(0, 0, 0xD4);
        QTest::newRow("0x without digits") << QStringLiteral("0x") << QColor(0, 0, 0);
        QTest::newRow("overflowing number saturates")
            << QStringLiteral("#FFFFFFFFFFFFFFFFFFFF12") << QColor(255, 255, 255);
    }

    void parseHex()
    {
        QFETCH(QString, text);
        QFETCH(QColor, expected);
        const QColor color = ColorPair::parseHex(text);
        QCOMPARE(color, expected);
        QCOMPARE(color.alpha(), 255);
        QCOMPARE(color.spec(), QColor::Rgb);
    }

    void paletteTokens_data()
    {
        QTest::addColumn<ColorPair>("token");
        QTest::addColumn<QString>("dark");
        QTest::addColumn<QString>("light");
        const std::tuple<const char *, const ColorPair &, const char *, const char *> rows[] = {
            {"background", VarnoColor::background(), "#1A1611", "#FAFAF8"},
            {"backgroundRaised", VarnoColor::backgroundRaised(), "#242018", "#F2EFE8"},
            {"surface", VarnoColor::surface(), "#2E2A22", "#EAE5DC"},
            {"surfaceHover", VarnoColor::surfaceHover(), "#3A3428", "#D4CEC4"},
            {"border", VarnoColor::border(), "#3E3830", "#D4CEC4"},
            {"textPrimary", VarnoColor::textPrimary(), "#F0EAD6", "#1A1611"},
            {"textSecondary", VarnoColor::textSecondary(), "#A89D8A", "#6A6258"},
            {"textTertiary", VarnoColor::textTertiary(), "#9E9381", "#807769"},
            {"accent", VarnoColor::accent(), "#D4A853", "#B8893A"},
            {"success", VarnoColor::success(), "#4CAF7D", "#2E8A59"},
            {"warning", VarnoColor::warning(), "#E07B39", "#C45E1A"},
            {"attention", VarnoColor::attention(), "#FFB74D", "#A05000"},
            {"danger", VarnoColor::danger(), "#CF4747", "#B03030"},
            {"dangerText", VarnoColor::dangerText(), "#E57373", "#B03030"},
            {"info", VarnoColor::info(), "#5B9EF5", "#2563C4"},
            {"white, outside the palette", VarnoColor::white(), "#FFFFFF", "#FFFFFF"},
        };
        for (const auto &[name, token, dark, light] : rows)
            QTest::newRow(name) << token << QString::fromLatin1(dark) << QString::fromLatin1(light);
    }

    // Each token resolves to its dark value in the dark appearance and to its
    // light value otherwise, through the appearance service.
    void paletteTokens()
    {
        QFETCH(ColorPair, token);
        QFETCH(QString, dark);
        QFETCH(QString, light);
        QCOMPARE(token.resolve(true).name(QColor::HexRgb), dark.toLower());
        QCOMPARE(token.resolve(false).name(QColor::HexRgb), light.toLower());
        {
            AppearanceScope scope(Appearance::Scheme::Dark);
            QCOMPARE(token.resolved().name(QColor::HexRgb), dark.toLower());
        }
        {
            AppearanceScope scope(Appearance::Scheme::Light);
            QCOMPARE(token.resolved().name(QColor::HexRgb), light.toLower());
        }
    }

    // Each tone of the core is coloured by one token, in both appearances.
    void toneTokens_data()
    {
        QTest::addColumn<Tone>("tone");
        QTest::addColumn<ColorPair>("token");
        QTest::addColumn<QString>("dark");
        QTest::addColumn<QString>("light");
        QTest::newRow("good is success") << Tone::good << VarnoColor::success() << QStringLiteral("#4CAF7D")
                                         << QStringLiteral("#2E8A59");
        QTest::newRow("caution is warning")
            << Tone::caution << VarnoColor::warning() << QStringLiteral("#E07B39") << QStringLiteral("#C45E1A");
        QTest::newRow("risk is danger") << Tone::risk << VarnoColor::danger() << QStringLiteral("#CF4747")
                                        << QStringLiteral("#B03030");
        QTest::newRow("neutral is textTertiary")
            << Tone::neutral << VarnoColor::textTertiary() << QStringLiteral("#9E9381") << QStringLiteral("#807769");
    }

    void toneTokens()
    {
        QFETCH(Tone, tone);
        QFETCH(ColorPair, token);
        QFETCH(QString, dark);
        QFETCH(QString, light);
        QCOMPARE(VarnoColor::tone(tone), token);
        QCOMPARE(VarnoColor::tone(tone).resolve(true).name(QColor::HexRgb), dark.toLower());
        QCOMPARE(VarnoColor::tone(tone).resolve(false).name(QColor::HexRgb), light.toLower());
    }

    void dynamicPairAndOpacity()
    {
        const ColorPair pair = VarnoColor::dynamic(QStringLiteral("#4CAF7D"), QStringLiteral("#2E8A59"));
        QCOMPARE(pair.dark(), QStringLiteral("#4CAF7D"));
        AppearanceScope scope(Appearance::Scheme::Light);
        const QColor half = pair.resolved(0.5);
        QCOMPARE(half.rgb(), QColor(0x2E, 0x8A, 0x59).rgb());
        QCOMPARE(half.alpha(), 128);
        QCOMPARE(pair.resolved(1.7).alpha(), 255); // clamped
    }

    // Switching the appearance re-resolves bound widgets in place: the same
    // label object changes its palette, nothing is rebuilt.
    void boundWidgetsFollowAppearanceChanges()
    {
        AppearanceScope scope(Appearance::Scheme::Dark);
        QLabel label(QStringLiteral("Nothing scanned yet."));
        QWidget background;
        VarnoColor::bindForeground(&label, VarnoColor::textPrimary());
        VarnoColor::bindBackground(&background, VarnoColor::background());
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0xF0, 0xEA, 0xD6));
        QCOMPARE(background.palette().color(QPalette::Window), QColor(0x1A, 0x16, 0x11));
        QVERIFY(background.autoFillBackground());

        Appearance::instance().setOverride(Appearance::Scheme::Light);
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0x1A, 0x16, 0x11));
        QCOMPARE(label.palette().color(QPalette::Text), QColor(0x1A, 0x16, 0x11));
        QCOMPARE(background.palette().color(QPalette::Window), QColor(0xFA, 0xFA, 0xF8));

        Appearance::instance().setOverride(Appearance::Scheme::Dark);
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(0xF0, 0xEA, 0xD6));
    }

    // A binding ends with its widget: a later appearance change must not
    // touch a deleted widget.
    // A wrapped label, whatever screen it is on, is as tall as its lines at
    // the width its layout gives it.
    void aWrappedLabelTakesItsLinesHeight()
    {
        QWidget column;
        auto *layout = new QVBoxLayout(&column);
        QLabel *label = Labels::label(QStringLiteral("A sentence long enough to take two lines or more in a narrow column of "
                                                     "a screen, and then some more words."),
                                      VarnoFont::ui(12), VarnoColor::textSecondary(), true, &column);
        layout->addWidget(label);
        layout->addStretch(1);
        QVERIFY(label->hasHeightForWidth());
        column.resize(160, 600);
        column.show();
        layout->activate();
        QVERIFY(label->heightForWidth(label->width()) > QFontMetrics(label->font()).lineSpacing());
        QCOMPARE(label->height(), label->heightForWidth(label->width()));
    }

    void bindingEndsWithTheWidget()
    {
        AppearanceScope scope(Appearance::Scheme::Dark);
        int applied = 0;
        {
            QWidget widget;
            VarnoColor::onAppearanceChange(&widget, [&applied] { ++applied; });
            QCOMPARE(applied, 1);
            Appearance::instance().setOverride(Appearance::Scheme::Light);
            QCOMPARE(applied, 2);
        }
        Appearance::instance().setOverride(Appearance::Scheme::Dark);
        QCOMPARE(applied, 2);
    }
};

class TestTypeFaces : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        FontRegistry::registerFontsIn(VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/fonts"));
    }

    void cleanup() { VarnoFont::setFaceProbe({}); }

    void textStyleThresholds_data()
    {
        QTest::addColumn<qreal>("size");
        QTest::addColumn<TextStyle>("style");
        QTest::newRow("9.99") << 9.99 << TextStyle::caption2;
        QTest::newRow("10") << 10.0 << TextStyle::caption;
        QTest::newRow("11.49") << 11.49 << TextStyle::caption;
        QTest::newRow("11.5") << 11.5 << TextStyle::footnote;
        QTest::newRow("12.49") << 12.49 << TextStyle::footnote;
        QTest::newRow("12.5") << 12.5 << TextStyle::body;
        QTest::newRow("14.49") << 14.49 << TextStyle::body;
        QTest::newRow("14.5") << 14.5 << TextStyle::title3;
        QTest::newRow("17.49") << 17.49 << TextStyle::title3;
        QTest::newRow("17.5") << 17.5 << TextStyle::title2;
        QTest::newRow("24.99") << 24.99 << TextStyle::title2;
        QTest::newRow("25") << 25.0 << TextStyle::title;
        QTest::newRow("33.99") << 33.99 << TextStyle::title;
        QTest::newRow("34") << 34.0 << TextStyle::largeTitle;
        QTest::newRow("200") << 200.0 << TextStyle::largeTitle;
    }

    void textStyleThresholds()
    {
        QFETCH(qreal, size);
        QFETCH(TextStyle, style);
        QCOMPARE(VarnoFont::textStyle(size), style);
    }

    // The bundled faces resolve under their family names at the requested
    // pixel size and weight.
    void bundledFaces_data()
    {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("weight");
        QTest::newRow("brusk 13 light") << VarnoFont::brusk(13, QFont::Light) << "Fraunces" << 13 << int(QFont::Light);
        QTest::newRow("ui 12") << VarnoFont::ui(12) << "Geist" << 12 << int(QFont::Normal);
        QTest::newRow("ui 22 semibold") << VarnoFont::ui(22, QFont::DemiBold) << "Geist" << 22 << int(QFont::DemiBold);
        QTest::newRow("mono 10") << VarnoFont::mono(10) << "Geist Mono" << 10 << int(QFont::Normal);
        QTest::newRow("mono 10.6 rounds") << VarnoFont::mono(10.6) << "Geist Mono" << 11 << int(QFont::Normal);
        QTest::newRow("wordmark falls back to ui bold") << VarnoFont::wordmark(16) << "Geist" << 16 << int(QFont::Bold);
    }

    void bundledFaces()
    {
        QFETCH(QFont, font);
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(int, weight);
        QCOMPARE(QFontInfo(font).family(), family);
        QCOMPARE(font.pixelSize(), pixelSize);
        QCOMPARE(int(font.weight()), weight);
    }

    // Without the bundled faces each face takes the system font of its text
    // style at the style's own size (not the requested one), with the weight.
    void fallbackUsesTheTextStyleSize_data()
    {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("weight");
        QTest::addColumn<QFont::StyleHint>("hint");
        VarnoFont::setFaceProbe([](const QString &, const QString &) { return false; });
        QTest::newRow("ui 12 is a footnote") << VarnoFont::ui(12) << 10 << int(QFont::Normal) << QFont::AnyStyle;
        QTest::newRow("ui 13 semibold is body")
            << VarnoFont::ui(13, QFont::DemiBold) << 13 << int(QFont::DemiBold) << QFont::AnyStyle;
        QTest::newRow("brusk 28 light is a title")
            << VarnoFont::brusk(28, QFont::Light) << 22 << int(QFont::Light) << QFont::Serif;
        QTest::newRow("mono 9 is caption2") << VarnoFont::mono(9) << 10 << int(QFont::Normal) << QFont::Monospace;
        QTest::newRow("explicit text style wins")
            << VarnoFont::ui(12, QFont::Normal, TextStyle::title3) << 15 << int(QFont::Normal) << QFont::AnyStyle;
        QTest::newRow("wordmark without any face")
            << VarnoFont::wordmark(16) << 15 << int(QFont::Bold) << QFont::AnyStyle;
        VarnoFont::setFaceProbe({});
    }

    void fallbackUsesTheTextStyleSize()
    {
        QFETCH(QFont, font);
        QFETCH(int, pixelSize);
        QFETCH(int, weight);
        QFETCH(QFont::StyleHint, hint);
        QCOMPARE(font.pixelSize(), pixelSize);
        QCOMPARE(int(font.weight()), weight);
        QVERIFY(!QStringList({QStringLiteral("Geist"), QStringLiteral("Geist Mono"), QStringLiteral("Fraunces")})
                     .contains(font.family()));
        if (hint != QFont::AnyStyle)
            QCOMPARE(font.styleHint(), hint);
    }

    void monoFallbackIsFixedPitch()
    {
        VarnoFont::setFaceProbe([](const QString &, const QString &) { return false; });
        QVERIFY(QFontInfo(VarnoFont::mono(12)).fixedPitch());
    }

    // The wordmark face, when installed, is used as it is: bold by its own
    // style, with no weight applied on top.
    void wordmarkFaceWhenInstalled()
    {
        VarnoFont::setFaceProbe([](const QString &family, const QString &style) {
            return family == QLatin1String("Cabinet Grotesk") && style == QLatin1String("Bold");
        });
        const QFont font = VarnoFont::wordmark(16);
        QCOMPARE(font.family(), QStringLiteral("Cabinet Grotesk"));
        QCOMPARE(font.styleName(), QStringLiteral("Bold"));
        QCOMPARE(font.pixelSize(), 16);
        QVERIFY(!(font.resolveMask() & QFont::WeightResolved));
    }
};

// Colour values are spelled in the palette alone; every other source names a
// token (or a tone the palette colours).
class TestColourSource : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void checker_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("literal");
        QTest::newRow("hex text") << "pair(QStringLiteral(\"#4CAF7D\"), light)" << true;
        QTest::newRow("hex in a comment") << "return VarnoColor::textSecondary(); // #A89D8A / #6A6258" << true;
        QTest::newRow("lower-case hex") << "QStringLiteral(\"#d4a853\")" << true;
        QTest::newRow("hex with alpha") << "QStringLiteral(\"#804CAF7D\")" << true;
        QTest::newRow("QColor of numbers") << "QColor(212, 168, 83)" << true;
        QTest::newRow("QColor of hex numbers") << "dark ? QColor(0x2b, 0x2b, 0x2b) : other" << true;
        QTest::newRow("fromRgb of numbers") << "QColor::fromRgb(76, 175, 125)" << true;
        QTest::newRow("fromRgbF of numbers") << "QColor::fromRgbF(0.3, 0.6, 0.5)" << true;
        QTest::newRow("qRgb") << "qRgb(1, 2, 3)" << true;
        QTest::newRow("QColor of a name") << "QColor(\"white\")" << true;
        QTest::newRow("Qt white") << "painter.setBrush(QColor(Qt::white));" << true;
        QTest::newRow("Qt dark grey") << "painter.setPen(Qt::darkGray);" << true;
        QTest::newRow("a token") << "const QColor ink = VarnoColor::textSecondary().resolved();" << false;
        QTest::newRow("include") << "#include \"kit/VarnoColor.h\"" << false;
        QTest::newRow("transparent") << "image.fill(Qt::transparent);" << false;
        QTest::newRow("colour from computed parts") << "QColor::fromRgb(int((value >> 16) & 0xFF), g, b)" << false;
        QTest::newRow("a size in hex") << "static constexpr qsizetype outputCap = 0xA00000;" << false;
        QTest::newRow("empty colour") << "return QColor();" << false;
        QTest::newRow("a colour's number in a key") << ".arg(color.rgba(), 8, 16)" << false;
    }

    void checker()
    {
        QFETCH(QString, line);
        QFETCH(bool, literal);
        QCOMPARE(!colourLiteralsIn(line).isEmpty(), literal);
    }

    void coloursAreSpelledInThePaletteOnly()
    {
        // The palette, and the screenshot scenes' stand-in for the desktop
        // panel the tray label sits on: the system's colours, not the app's.
        const QStringList allowed{QStringLiteral("kit/VarnoColor.cpp"),
                                  QStringLiteral("screenshots/ScreenshotScenes.cpp")};
        const QDir root(VarnoTest::sourcePath(QStringLiteral("dashboard/Sources/VARNO")));
        QStringList faults;
        int files = 0;
        QDirIterator it(root.path(), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = root.relativeFilePath(path);
            const QStringList found = colourLiteralsIn(QString::fromUtf8(VarnoTest::readFile(path)));
            ++files;
            if (allowed.contains(relative)) {
                // An allowance that no longer holds a colour is stale.
                QVERIFY2(!found.isEmpty(), qPrintable(relative));
                continue;
            }
            for (const QString &line : found)
                faults << relative + QLatin1Char(':') + line;
        }
        QVERIFY(files > 0);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }
};

VARNO_TEST_CLASS(TestColorTokens)
VARNO_TEST_CLASS(TestColourSource)
VARNO_TEST_CLASS(TestTypeFaces)

#include "tst_tokens.moc"
