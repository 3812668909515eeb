#include "screenshots/DesignGallery.h"

#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/SettingsButton.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

QLabel *caption(const QString &text, QWidget *parent)
{
    return Labels::plain(text, VarnoFont::mono(10), VarnoColor::textSecondary(), parent);
}

QLabel *heading(const QString &text, QWidget *parent)
{
    return Labels::plain(text, VarnoFont::brusk(18, QFont::Light), VarnoColor::textPrimary(), parent);
}

QWidget *page(QWidget *parent = nullptr)
{
    auto *widget = new QWidget(parent);
    VarnoColor::bindBackground(widget, VarnoColor::background());
    return widget;
}

// A painted colour swatch with its token name and both hex values.
class Swatch : public QWidget {
public:
    Swatch(QString name, ColorPair pair, QWidget *parent)
        : QWidget(parent)
        , m_name(std::move(name))
        , m_pair(std::move(pair))
    {
        setFixedSize(164, 56);
        VarnoColor::repaintOnAppearanceChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath chip;
        chip.addRoundedRect(QRectF(0.5, 0.5, 40, 40), 8, 8);
        painter.fillPath(chip, m_pair.resolved());
        painter.setPen(QPen(VarnoColor::border().resolved(), 1));
        painter.drawPath(chip);
        painter.setPen(VarnoColor::textPrimary().resolved());
        painter.setFont(VarnoFont::ui(12, QFont::Medium));
        painter.drawText(QPointF(48, 16), m_name);
        painter.setPen(VarnoColor::textSecondary().resolved());
        painter.setFont(VarnoFont::mono(10));
        painter.drawText(QPointF(48, 32), m_pair.dark() + QStringLiteral(" / ") + m_pair.light());
    }

private:
    QString m_name;
    ColorPair m_pair;
};

// The emblem BruskView draws when a persona image is missing.
class EmblemPreview : public QWidget {
public:
    EmblemPreview(qreal side, BruskVariant variant, QWidget *parent)
        : QWidget(parent)
        , m_variant(variant)
    {
        setFixedSize(int(side), int(side));
        VarnoColor::repaintOnAppearanceChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        BruskView::paintEmblem(painter, QRectF(rect()), m_variant);
    }

private:
    BruskVariant m_variant;
};

// An image resource fitted into a square; a template image is tinted with
// the primary text colour, as the menu bar shows it.
class ImagePreview : public QWidget {
public:
    ImagePreview(QString name, int side, bool tinted, QWidget *parent)
        : QWidget(parent)
        , m_name(std::move(name))
        , m_tinted(tinted)
    {
        setFixedSize(side, side);
        setAccessibleName(m_name);
        VarnoColor::repaintOnAppearanceChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const auto artwork = BrandArtwork::image(m_name);
        if (!artwork)
            return;
        const qreal dpr = devicePixelRatioF();
        QImage layer(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(dpr);
        layer.fill(Qt::transparent);
        {
            QPainter painter(&layer);
            artwork->paintFitted(painter, QRectF(rect()));
            if (m_tinted) {
                painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
                painter.fillRect(rect(), VarnoColor::textPrimary().resolved());
            }
        }
        QPainter(this).drawImage(QPointF(0, 0), layer);
    }

private:
    QString m_name;
    bool m_tinted;
};

void showHovered(StyledButton *button)
{
    QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
    QCoreApplication::sendEvent(button, &enter);
}

QString variantName(BruskVariant variant)
{
    switch (variant) {
    case BruskVariant::main:
        return QStringLiteral("main");
    case BruskVariant::sentry:
        return QStringLiteral("sentry");
    case BruskVariant::craftsman:
        return QStringLiteral("craftsman");
    case BruskVariant::curator:
        return QStringLiteral("curator");
    }
    return QString();
}

constexpr BruskVariant kVariants[] = {BruskVariant::main, BruskVariant::sentry, BruskVariant::craftsman,
                                      BruskVariant::curator};

} // namespace

namespace DesignGallery {

QWidget *createTokensView()
{
    QWidget *root = page();
    auto *layout = new QVBoxLayout(root);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(heading(QStringLiteral("Colour tokens"), root));

    const std::pair<const char *, const ColorPair &> tokens[] = {
        {"background", VarnoColor::background()},
        {"backgroundRaised", VarnoColor::backgroundRaised()},
        {"surface", VarnoColor::surface()},
        {"surfaceHover", VarnoColor::surfaceHover()},
        {"border", VarnoColor::border()},
        {"textPrimary", VarnoColor::textPrimary()},
        {"textSecondary", VarnoColor::textSecondary()},
        {"textTertiary", VarnoColor::textTertiary()},
        {"accent", VarnoColor::accent()},
        {"success", VarnoColor::success()},
        {"warning", VarnoColor::warning()},
        {"attention", VarnoColor::attention()},
        {"danger", VarnoColor::danger()},
        {"dangerText", VarnoColor::dangerText()},
        {"info", VarnoColor::info()},
    };
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    int index = 0;
    for (const auto &[name, pair] : tokens) {
        grid->addWidget(new Swatch(QLatin1String(name), pair, root), index / 5, index % 5);
        ++index;
    }
    layout->addLayout(grid);

    layout->addWidget(heading(QStringLiteral("Faces"), root));
    struct Sample {
        QString text;
        QFont font;
    };
    const Sample samples[] = {
        {QStringLiteral("brusk 22 light italic — All tidy."),
         [] {
             QFont f = VarnoFont::brusk(22, QFont::Light);
             f.setItalic(true);
             return f;
         }()},
        {QStringLiteral("brusk 14 regular — Nothing scanned yet."), VarnoFont::brusk(14)},
        {QStringLiteral("ui 13 semibold — Update all (3)"), VarnoFont::ui(13, QFont::DemiBold)},
        {QStringLiteral("ui 12 regular — Run a scan so Brusk can see your apps."), VarnoFont::ui(12)},
        {QStringLiteral("ui 22 semibold — 0123456789"), VarnoFont::ui(22, QFont::DemiBold)},
        {QStringLiteral("mono 10 — VERSION 2.4.1 · 3/7"), VarnoFont::mono(10)},
        {QStringLiteral("mono 12 medium — org.varno.scan"), VarnoFont::mono(12, QFont::Medium)},
    };
    for (const Sample &sample : samples) {
        auto *label = new QLabel(sample.text, root);
        label->setTextFormat(Qt::PlainText);
        label->setFont(sample.font);
        VarnoColor::bindForeground(label, VarnoColor::textPrimary());
        layout->addWidget(label);
    }
    layout->addStretch(1);
    return root;
}

QWidget *createButtonsView()
{
    QWidget *root = page();
    auto *layout = new QVBoxLayout(root);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);

    layout->addWidget(heading(QStringLiteral("Window buttons"), root));
    auto *windowGrid = new QGridLayout;
    windowGrid->setHorizontalSpacing(16);
    windowGrid->setVerticalSpacing(8);
    const char *states[] = {"normal", "hovered", "pressed", "hovered + pressed", "disabled"};
    for (int column = 0; column < 5; ++column)
        windowGrid->addWidget(caption(QLatin1String(states[column]), root), 0, column + 1);
    const std::pair<QString, ButtonStyle> windowStyles[] = {
        {QStringLiteral("Primary"), PrimaryButtonStyle()},
        {QStringLiteral("Ghost"), GhostButtonStyle()},
    };
    int row = 1;
    for (const auto &[name, style] : windowStyles) {
        windowGrid->addWidget(caption(name, root), row, 0);
        for (int column = 0; column < 5; ++column) {
            auto *button = new StyledButton(QStringLiteral("Update All"), style, root);
            if (column == 1 || column == 3)
                showHovered(button);
            if (column == 2 || column == 3)
                button->setDown(true);
            if (column == 4)
                button->setEnabled(false);
            windowGrid->addWidget(button, row, column + 1, Qt::AlignLeft);
        }
        ++row;
        // An icon-only button and an icon with text, as in the toolbar.
        auto *iconOnly = new StyledButton(style, root);
        iconOnly->setSymbol(QStringLiteral("arrow.clockwise"));
        iconOnly->setAccessibleName(QStringLiteral("Refresh"));
        auto *iconText = new StyledButton(QStringLiteral("Scan"), style, root);
        iconText->setSymbol(QStringLiteral("magnifyingglass"));
        auto *iconHovered = new StyledButton(style, root);
        iconHovered->setSymbol(QStringLiteral("stethoscope"));
        iconHovered->setAccessibleName(QStringLiteral("Diagnostics"));
        showHovered(iconHovered);
        windowGrid->addWidget(iconOnly, row, 1, Qt::AlignLeft);
        windowGrid->addWidget(iconText, row, 2, Qt::AlignLeft);
        windowGrid->addWidget(iconHovered, row, 3, Qt::AlignLeft);
        ++row;
    }
    windowGrid->addWidget(caption(QStringLiteral("Settings"), root), row, 0);
    windowGrid->addWidget(new SettingsButton(root), row, 1, Qt::AlignLeft);
    auto *settingsHovered = new SettingsButton(root);
    showHovered(settingsHovered);
    windowGrid->addWidget(settingsHovered, row, 2, Qt::AlignLeft);
    layout->addLayout(windowGrid);

    layout->addSpacing(8);
    layout->addWidget(heading(QStringLiteral("Panel buttons"), root));
    auto *panelGrid = new QGridLayout;
    panelGrid->setHorizontalSpacing(16);
    panelGrid->setVerticalSpacing(8);
    panelGrid->addWidget(caption(QStringLiteral("normal"), root), 0, 1);
    panelGrid->addWidget(caption(QStringLiteral("pressed"), root), 0, 2);
    panelGrid->addWidget(caption(QStringLiteral("disabled"), root), 0, 3);
    struct PanelRow {
        QString name;
        QString label;
        ButtonStyle style;
    };
    const PanelRow panelStyles[] = {
        {QStringLiteral("PanelPrimary"), QStringLiteral("Update all (3)"), PanelPrimaryButton()},
        {QStringLiteral("PanelSecondary"), QStringLiteral("Scan now"), PanelSecondaryButton()},
        {QStringLiteral("PanelGhost"), QStringLiteral("Pause"), PanelGhostButton()},
        {QStringLiteral("PanelDangerGhost"), QStringLiteral("Stop"), PanelDangerGhostButton()},
        {QStringLiteral("PanelLink"), QStringLiteral("Open Workshop"), PanelLinkButton()},
        {QStringLiteral("PanelCompactWarning"), QStringLiteral("Run diagnostics"), PanelCompactWarningButton()},
    };
    row = 1;
    for (const PanelRow &panelRow : panelStyles) {
        panelGrid->addWidget(caption(panelRow.name, root), row, 0);
        for (int column = 0; column < 3; ++column) {
            auto *button = new StyledButton(panelRow.label, panelRow.style, root);
            if (panelRow.style.fillsWidth)
                button->setFixedWidth(220);
            if (column == 1)
                button->setDown(true);
            if (column == 2)
                button->setEnabled(false);
            panelGrid->addWidget(button, row, column + 1, Qt::AlignLeft | Qt::AlignVCenter);
        }
        ++row;
    }
    layout->addLayout(panelGrid);
    layout->addStretch(1);
    return root;
}

QWidget *createBrandView()
{
    QWidget *root = page();
    auto *layout = new QVBoxLayout(root);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);

    layout->addWidget(heading(QStringLiteral("Brusk"), root));
    auto *artGrid = new QGridLayout;
    artGrid->setHorizontalSpacing(20);
    artGrid->setVerticalSpacing(6);
    int column = 0;
    for (const BruskVariant variant : kVariants) {
        artGrid->addWidget(new BruskView(96, variant, root), 0, column, Qt::AlignCenter);
        auto *small = new QHBoxLayout;
        small->setSpacing(8);
        small->addWidget(new BruskView(28, variant, root));
        small->addWidget(new BruskView(20, variant, root));
        small->addWidget(new EmblemPreview(28, variant, root));
        small->addWidget(new EmblemPreview(48, variant, root));
        small->addStretch(1);
        artGrid->addLayout(small, 1, column);
        artGrid->addWidget(caption(variantName(variant) + QStringLiteral(" · 28 · 20 · emblem"), root), 2, column);
        ++column;
    }
    layout->addLayout(artGrid);

    layout->addSpacing(8);
    layout->addWidget(heading(QStringLiteral("Head icons, menu-bar and app icons, wordmark"), root));
    auto *brandRow = new QHBoxLayout;
    brandRow->setSpacing(20);
    brandRow->addWidget(new HeadIconView(18, HeadIconSize::menuBar, root));
    brandRow->addWidget(new HeadIconView(50, HeadIconSize::menuBar, root));
    brandRow->addWidget(new HeadIconView(100, HeadIconSize::sidebar, root));
    brandRow->addWidget(new ImagePreview(QStringLiteral("MenuBarIconTemplate"), 18, true, root));
    brandRow->addWidget(new ImagePreview(QStringLiteral("MenuBarIconTemplate"), 36, true, root));
    brandRow->addWidget(new ImagePreview(QStringLiteral("AppIcon"), 64, false, root));
    brandRow->addWidget(new BrandWordmarkView(16, root), 0, Qt::AlignVCenter);
    brandRow->addWidget(new BrandWordmarkView(32, root), 0, Qt::AlignVCenter);
    brandRow->addWidget(new BrandWordmarkView(48, root), 0, Qt::AlignVCenter);
    brandRow->addStretch(1);
    layout->addLayout(brandRow);

    layout->addSpacing(8);
    layout->addWidget(heading(QStringLiteral("Symbols"), root));
    auto *symbolGrid = new QGridLayout;
    symbolGrid->setSpacing(6);
    const QStringList names = SymbolIcons::shared().symbolNames();
    for (int i = 0; i < names.size(); ++i) {
        auto *button = new StyledButton(GhostButtonStyle(), root);
        button->setSymbol(names.at(i));
        button->setToolTip(names.at(i));
        button->setAccessibleName(names.at(i));
        symbolGrid->addWidget(button, i / 16, i % 16);
    }
    layout->addLayout(symbolGrid);
    layout->addStretch(1);
    return root;
}

} // namespace DesignGallery
