#include "AppearanceTestSupport.h"
#include "TestRegistry.h"

#include "kit/ButtonStyles.h"
#include "kit/SettingsButton.h"
#include "kit/VarnoColor.h"

#include <QHBoxLayout>
#include <QSignalSpy>
#include <QTest>

using AppearanceTest::AppearanceScope;
using AppearanceTest::near;
using AppearanceTest::over;

namespace {

// Moves the pointer through the window system, so that the widgets get their
// enter and leave events as from a real pointer.
void moveMouse(QWidget *widget, QPoint pos)
{
    QWidget *top = widget->window();
    QTest::mouseMove(top->windowHandle(), widget->mapTo(top, pos));
}

// A button on a plain background of a known colour, shown offscreen.
struct ButtonFixture {
    explicit ButtonFixture(const ButtonStyle &style, const QString &text = QString(),
                           const QString &symbol = QStringLiteral("stop.fill"))
    {
        VarnoColor::bindBackground(&window, VarnoColor::background());
        auto *layout = new QHBoxLayout(&window);
        layout->setContentsMargins(20, 20, 20, 20);
        button = new StyledButton(text, style, &window);
        button->setSymbol(symbol);
        layout->addWidget(button);
        window.show();
    }

    // Shown, with the pointer resting on the window beside the button (a
    // window that opens under the pointer would start hovered).
    bool exposed()
    {
        if (!QTest::qWaitForWindowExposed(&window))
            return false;
        moveMouse(&window, QPoint(2, 2));
        return QTest::qWaitFor([this] { return !button->isHovered() && button->hoverProgress() == 0.0; });
    }

    QImage grab() { return window.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QPoint inButton(int x, int y) const { return button->mapTo(&window, QPoint(x, y)); }
    // A point of the fill clear of the label and the stroke.
    QColor fillPixel() { return grab().pixelColor(inButton(5, button->height() / 2)); }
    // The outer column of the button, where a stroke lies.
    QColor edgePixel() { return grab().pixelColor(inButton(0, button->height() / 2)); }
    // The centre of the symbol, drawn in the label colour.
    QColor labelPixel() { return grab().pixelColor(inButton(button->width() / 2, button->height() / 2)); }

    QWidget window;
    StyledButton *button = nullptr;
};

enum class State { normal, hovered, pressed, hoveredPressed };
enum class Style { primary, ghost, secondary, destructive };

ButtonStyle styleFor(Style style)
{
    switch (style) {
    case Style::primary:
        return PrimaryButtonStyle();
    case Style::ghost:
        return GhostButtonStyle();
    case Style::secondary:
        return SecondaryButtonStyle();
    case Style::destructive:
        break;
    }
    return DestructiveButtonStyle();
}

} // namespace

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(ButtonStyle)
Q_DECLARE_METATYPE(Style)

class TestButtonStyles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }

    // The windows' styles, under the pointer and pressed through real mouse
    // events, painted as their table says: primary and destructive dim their
    // fill when hovered and the whole button when pressed; ghost and
    // secondary swap fill, label and border colours when hovered and dim when
    // pressed.
    void windowStyleStates_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<State>("state");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("label");
        QTest::addColumn<QColor>("edge");

        for (const bool dark : {true, false}) {
            const QColor bg = VarnoColor::background().resolve(dark);
            const QColor gold = VarnoColor::accent().resolve(dark);
            const QColor ink = VarnoColor::background().resolve(dark);
            const char *scheme = dark ? "dark" : "light";
            const QColor goldHover = over(gold, bg, 0.82);
            QTest::addRow("primary %s normal", scheme) << Style::primary << dark << State::normal << gold << ink << gold;
            QTest::addRow("primary %s hovered", scheme)
                << Style::primary << dark << State::hovered << goldHover << ink << goldHover;
            QTest::addRow("primary %s pressed", scheme)
                << Style::primary << dark << State::pressed << over(gold, bg, 0.75) << over(ink, bg, 0.75)
                << over(gold, bg, 0.75);
            QTest::addRow("primary %s hovered and pressed", scheme)
                << Style::primary << dark << State::hoveredPressed << over(goldHover, bg, 0.75) << over(ink, bg, 0.75)
                << over(goldHover, bg, 0.75);

            // The destructive style is the primary one on red.
            const QColor red = VarnoColor::danger().resolve(dark);
            const QColor redHover = over(red, bg, 0.82);
            QTest::addRow("destructive %s normal", scheme)
                << Style::destructive << dark << State::normal << red << ink << red;
            QTest::addRow("destructive %s hovered", scheme)
                << Style::destructive << dark << State::hovered << redHover << ink << redHover;
            QTest::addRow("destructive %s pressed", scheme)
                << Style::destructive << dark << State::pressed << over(red, bg, 0.75) << over(ink, bg, 0.75)
                << over(red, bg, 0.75);
            QTest::addRow("destructive %s hovered and pressed", scheme)
                << Style::destructive << dark << State::hoveredPressed << over(redHover, bg, 0.75)
                << over(ink, bg, 0.75) << over(redHover, bg, 0.75);

            const QColor surface = VarnoColor::surface().resolve(dark);
            const QColor surfaceHover = VarnoColor::surfaceHover().resolve(dark);
            const QColor secondary = VarnoColor::textSecondary().resolve(dark);
            const QColor primaryText = VarnoColor::textPrimary().resolve(dark);
            const QColor border = VarnoColor::border().resolve(dark);
            const QColor tertiary = VarnoColor::textTertiary().resolve(dark);
            QTest::addRow("ghost %s normal", scheme)
                << Style::ghost << dark << State::normal << surface << secondary << border;
            QTest::addRow("ghost %s hovered", scheme)
                << Style::ghost << dark << State::hovered << surfaceHover << primaryText << tertiary;
            QTest::addRow("ghost %s pressed", scheme) << Style::ghost << dark << State::pressed << over(surface, bg, 0.8)
                                                      << over(secondary, bg, 0.8) << over(border, bg, 0.8);
            QTest::addRow("ghost %s hovered and pressed", scheme)
                << Style::ghost << dark << State::hoveredPressed << over(surfaceHover, bg, 0.8)
                << over(primaryText, bg, 0.8) << over(tertiary, bg, 0.8);
        }
    }

    void windowStyleStates()
    {
        QFETCH(Style, style);
        QFETCH(bool, dark);
        QFETCH(State, state);
        QFETCH(QColor, fill);
        QFETCH(QColor, label);
        QFETCH(QColor, edge);

        AppearanceScope scheme(dark ? Appearance::Scheme::Dark : Appearance::Scheme::Light);
        AppearanceTest::ReduceMotionScope instant;
        ButtonFixture fixture(styleFor(style));
        QVERIFY(fixture.exposed());
        StyledButton *button = fixture.button;
        const QPoint centre = button->rect().center();

        if (state == State::hovered || state == State::hoveredPressed) {
            moveMouse(button, centre);
            QTRY_VERIFY(button->isHovered());
            QCOMPARE(button->hoverProgress(), 1.0);
        }
        if (state == State::pressed || state == State::hoveredPressed) {
            if (state == State::pressed)
                button->setDown(true); // pressed from the keyboard: no pointer over it
            else
                QTest::mousePress(button, Qt::LeftButton, {}, centre);
            QVERIFY(button->isDown());
        }

        const QColor fillPixel = fixture.fillPixel();
        const QColor labelPixel = fixture.labelPixel();
        const QColor edgePixel = fixture.edgePixel();
        QVERIFY2(near(fillPixel, fill),
                 qPrintable(AppearanceTest::describe(fillPixel) + " != " + AppearanceTest::describe(fill)));
        QVERIFY2(near(labelPixel, label),
                 qPrintable(AppearanceTest::describe(labelPixel) + " != " + AppearanceTest::describe(label)));
        QVERIFY2(near(edgePixel, edge),
                 qPrintable(AppearanceTest::describe(edgePixel) + " != " + AppearanceTest::describe(edge)));

        if (state == State::hoveredPressed) {
            QSignalSpy clicked(button, &QAbstractButton::clicked);
            QTest::mouseRelease(button, Qt::LeftButton, {}, centre);
            QCOMPARE(clicked.count(), 1);
        }
    }

    // Leaving the button takes the hover look away again; with motion on, the
    // look eases in and out instead of jumping.
    void hoverEasesInAndOut()
    {
        AppearanceTest::ReduceMotionScope motion(false);
        ButtonFixture fixture(GhostButtonStyle(), QStringLiteral("Done"));
        QVERIFY(fixture.exposed());
        StyledButton *button = fixture.button;
        moveMouse(button, button->rect().center());
        QTRY_VERIFY(button->isHovered());
        QVERIFY(button->hoverProgress() < 1.0);
        QTRY_COMPARE(button->hoverProgress(), 1.0);
        moveMouse(&fixture.window, QPoint(2, 2));
        QTRY_VERIFY(!button->isHovered());
        QTRY_COMPARE(button->hoverProgress(), 0.0);
    }

    // The panel's styles keep their colours when disabled; the windows' four
    // styles draw a disabled button at half opacity, so that a gated action
    // reads as unavailable. Either way a disabled button does not react.
    void disabledLook_data()
    {
        QTest::addColumn<ButtonStyle>("style");
        QTest::addColumn<bool>("fades");
        QTest::newRow("primary") << ButtonStyle(PrimaryButtonStyle()) << true;
        QTest::newRow("ghost") << ButtonStyle(GhostButtonStyle()) << true;
        QTest::newRow("secondary") << ButtonStyle(SecondaryButtonStyle()) << true;
        QTest::newRow("destructive") << ButtonStyle(DestructiveButtonStyle()) << true;
        QTest::newRow("panel secondary") << ButtonStyle(PanelSecondaryButton()) << false;
        QTest::newRow("panel link") << ButtonStyle(PanelLinkButton()) << false;
    }

    void disabledLook()
    {
        QFETCH(ButtonStyle, style);
        QFETCH(bool, fades);
        for (const bool dark : {true, false}) {
            AppearanceScope scheme(dark ? Appearance::Scheme::Dark : Appearance::Scheme::Light);
            const QColor bg = VarnoColor::background().resolve(dark);
            ButtonFixture fixture(style, QStringLiteral("Re-install"));
            QVERIFY(fixture.exposed());
            const QImage enabled = fixture.grab();
            const QColor fill = fixture.fillPixel();
            const QColor edge = fixture.edgePixel();
            fixture.button->setEnabled(false);
            if (fades) {
                const QColor faded = fixture.fillPixel();
                QVERIFY2(near(faded, over(fill, bg, 0.5)),
                         qPrintable(AppearanceTest::describe(faded)
                                    + " != " + AppearanceTest::describe(over(fill, bg, 0.5))));
                const QColor fadedEdge = fixture.edgePixel();
                QVERIFY2(near(fadedEdge, over(edge, bg, 0.5)),
                         qPrintable(AppearanceTest::describe(fadedEdge)
                                    + " != " + AppearanceTest::describe(over(edge, bg, 0.5))));
            } else {
                QCOMPARE(fixture.grab(), enabled);
            }
            QSignalSpy clicked(fixture.button, &QAbstractButton::clicked);
            QTest::mouseClick(fixture.button, Qt::LeftButton);
            QCOMPARE(clicked.count(), 0);
        }
    }

    // The pointer may leave while the button is disabled; enabled again, the
    // button does not keep a stale hover look.
    void hoverFollowsThePointerAcrossDisabling()
    {
        AppearanceTest::ReduceMotionScope instant;
        ButtonFixture fixture(GhostButtonStyle(), QStringLiteral("Done"));
        QVERIFY(fixture.exposed());
        StyledButton *button = fixture.button;
        moveMouse(button, button->rect().center());
        QTRY_VERIFY(button->isHovered());
        button->setEnabled(false);
        QVERIFY(button->isHovered()); // disabling alone changes nothing
        moveMouse(&fixture.window, QPoint(2, 2));
        button->setEnabled(true);
        QTRY_VERIFY(!button->isHovered());
        QCOMPARE(button->hoverProgress(), 0.0);
    }

    // The same button recolours when the appearance switches; it is not rebuilt.
    void appearanceChangeRecoloursLiveButtons()
    {
        AppearanceScope scheme(Appearance::Scheme::Dark);
        ButtonFixture fixture{PrimaryButtonStyle()};
        QVERIFY(fixture.exposed());
        QVERIFY(near(fixture.fillPixel(), QColor(0xD4, 0xA8, 0x53)));
        Appearance::instance().setOverride(Appearance::Scheme::Light);
        QVERIFY(near(fixture.fillPixel(), QColor(0xB8, 0x89, 0x3A)));
        QVERIFY(near(fixture.labelPixel(), QColor(0xFA, 0xFA, 0xF8)));
    }

    // The panel's styles: pressing dims only the fill (or turns a link gold);
    // there is no hover look.
    void panelStyleStates_data()
    {
        QTest::addColumn<ButtonStyle>("style");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("label");
        // Dark appearance; background #1A1611.
        const QColor bg(0x1A, 0x16, 0x11);
        const QColor gold(0xD4, 0xA8, 0x53);
        const QColor ink(0x1A, 0x16, 0x11);
        const QColor surface(0x2E, 0x2A, 0x22);
        const QColor raised(0x24, 0x20, 0x18);
        const QColor orange(0xE0, 0x7B, 0x39);
        const QColor cream(0xF0, 0xEA, 0xD6);
        const QColor dangerText(0xE5, 0x73, 0x73);
        const QColor secondary(0xA8, 0x9D, 0x8A);
        QTest::newRow("primary") << ButtonStyle(PanelPrimaryButton()) << false << gold << ink;
        QTest::newRow("primary pressed") << ButtonStyle(PanelPrimaryButton()) << true << over(gold, bg, 0.85) << ink;
        QTest::newRow("secondary") << ButtonStyle(PanelSecondaryButton()) << false << surface << cream;
        QTest::newRow("secondary pressed")
            << ButtonStyle(PanelSecondaryButton()) << true << over(surface, bg, 0.7) << cream;
        QTest::newRow("ghost pressed") << ButtonStyle(PanelGhostButton()) << true << over(raised, bg, 0.6) << cream;
        QTest::newRow("danger ghost") << ButtonStyle(PanelDangerGhostButton()) << false << raised << dangerText;
        QTest::newRow("compact warning pressed")
            << ButtonStyle(PanelCompactWarningButton()) << true << over(orange, bg, 0.85) << ink;
        // No chrome: nothing to check beside the label.
        QTest::newRow("link") << ButtonStyle(PanelLinkButton()) << false << QColor() << secondary;
        QTest::newRow("link pressed") << ButtonStyle(PanelLinkButton()) << true << QColor() << gold;
    }

    void panelStyleStates()
    {
        QFETCH(ButtonStyle, style);
        QFETCH(bool, pressed);
        QFETCH(QColor, fill);
        QFETCH(QColor, label);
        AppearanceScope scheme(Appearance::Scheme::Dark);
        AppearanceTest::ReduceMotionScope instant;
        ButtonFixture fixture(style);
        QVERIFY(fixture.exposed());
        moveMouse(fixture.button, fixture.button->rect().center());
        QTRY_VERIFY(fixture.button->isHovered());
        QCOMPARE(fixture.button->hoverProgress(), 0.0);
        if (pressed)
            QTest::mousePress(fixture.button, Qt::LeftButton, {}, fixture.button->rect().center());
        const QColor fillPixel = fixture.fillPixel();
        const QColor labelPixel = fixture.labelPixel();
        if (fill.isValid())
            QVERIFY2(near(fillPixel, fill),
                     qPrintable(AppearanceTest::describe(fillPixel) + " != " + AppearanceTest::describe(fill)));
        QVERIFY2(near(labelPixel, label),
                 qPrintable(AppearanceTest::describe(labelPixel) + " != " + AppearanceTest::describe(label)));
        if (pressed)
            QTest::mouseRelease(fixture.button, Qt::LeftButton, {}, fixture.button->rect().center());
    }

    // The danger ghost's red stroke is half transparent, over its raised fill.
    void dangerStrokeIsHalfTransparent()
    {
        AppearanceScope scheme(Appearance::Scheme::Light);
        ButtonFixture fixture(PanelDangerGhostButton(), QStringLiteral("Stop"));
        QVERIFY(fixture.exposed());
        const QColor expected = over(QColor(0xB0, 0x30, 0x30), QColor(0xF2, 0xEF, 0xE8), 0.5);
        QVERIFY2(near(fixture.edgePixel(), expected), qPrintable(AppearanceTest::describe(fixture.edgePixel())));
    }

    // Sizes: padding around the label; icon-only window buttons come out wider
    // than tall; full-width panel buttons take the width offered and pad only
    // vertically; links are at least 24 high and react in their padding.
    void geometry()
    {
        StyledButton primary(QStringLiteral("Update All"), PrimaryButtonStyle());
        StyledButton bare(QStringLiteral("Update All"), ButtonStyle());
        bare.setFont(primary.font());
        QCOMPARE(primary.sizeHint(), bare.sizeHint() + QSize(28, 12));

        StyledButton icon{GhostButtonStyle()};
        icon.setSymbol(QStringLiteral("arrow.clockwise"));
        QVERIFY(icon.sizeHint().width() > icon.sizeHint().height());
        QCOMPARE(icon.sizeHint().width() - icon.sizeHint().height(), 28 - 12);

        QWidget panel;
        panel.resize(320, 100);
        auto *layout = new QHBoxLayout(&panel);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *wide = new StyledButton(QStringLiteral("Scan now"), PanelSecondaryButton(), &panel);
        layout->addWidget(wide);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(wide->width(), 320);
        StyledButton wideBare(QStringLiteral("Scan now"), ButtonStyle());
        wideBare.setFont(wide->font());
        QCOMPARE(wide->sizeHint().height(), wideBare.sizeHint().height() + 14);

        StyledButton link(QStringLiteral("Quit"), PanelLinkButton());
        link.show();
        QVERIFY(QTest::qWaitForWindowExposed(&link));
        QVERIFY(link.height() >= 24);
        QSignalSpy clicked(&link, &QAbstractButton::clicked);
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(1, 1));
        QCOMPARE(clicked.count(), 1);
    }

    // Return must only ever press the one button that asks for it.
    void neverAutoDefault()
    {
        StyledButton button(QStringLiteral("Cancel"), GhostButtonStyle());
        QVERIFY(!button.autoDefault());
    }

    // A label longer than the button is elided inside the padding; no ink
    // spills into the padding on either side.
    void elidesALabelTooLongForItsWidth()
    {
        AppearanceScope scheme(Appearance::Scheme::Dark);
        ButtonFixture fixture(PrimaryButtonStyle(), QStringLiteral("Update all the applications on this machine now"),
                              QString());
        fixture.button->setFixedWidth(90);
        QVERIFY(fixture.exposed());
        QCOMPARE(fixture.button->width(), 90);
        const QImage image = fixture.grab();
        const QColor gold(0xD4, 0xA8, 0x53);
        int inkInLabelArea = 0;
        for (int y = 6; y < fixture.button->height() - 6; ++y) {
            for (int x = 1; x < 14; ++x) {
                QVERIFY(near(image.pixelColor(fixture.inButton(x, y)), gold));
                QVERIFY(near(image.pixelColor(fixture.inButton(89 - x, y)), gold));
            }
            for (int x = 14; x < 76; ++x)
                inkInLabelArea += near(image.pixelColor(fixture.inButton(x, y)), gold) ? 0 : 1;
        }
        QVERIFY(inkInLabelArea > 50);
    }
};

class TestSettingsButton : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }
    void cleanup() { SettingsButton::setSettingsOpener({}); }

    void describesItself()
    {
        SettingsButton button;
        QCOMPARE(button.symbol(), QStringLiteral("gearshape"));
        QCOMPARE(button.toolTip(), QStringLiteral("Settings"));
        QCOMPARE(button.accessibleName(), QStringLiteral("Settings"));
        QCOMPARE(button.accessibleDescription(),
                 QStringLiteral("Storage retention, privacy, and the developer workbench"));
        QCOMPARE(button.objectName(), QStringLiteral("toolbar-settings"));
        QVERIFY(button.buttonStyle() == GhostButtonStyle());
        QVERIFY(button.sizeHint().width() > button.sizeHint().height());
    }

    void clickOpensSettings()
    {
        int opened = 0;
        SettingsButton::setSettingsOpener([&opened] { ++opened; });
        SettingsButton button;
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(opened, 1);
    }

    void clickWithoutSettingsSceneOnlyActivates()
    {
        QVERIFY(!SettingsButton::hasSettingsOpener());
        SettingsButton button;
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QSignalSpy clicked(&button, &QAbstractButton::clicked);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }
};

VARNO_TEST_CLASS(TestButtonStyles)
VARNO_TEST_CLASS(TestSettingsButton)

#include "tst_buttons.moc"
