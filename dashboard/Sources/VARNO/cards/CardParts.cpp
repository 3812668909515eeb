#include "cards/CardParts.h"

#include "base/Async.h"
#include "kit/SymbolIcons.h"
#include "kit/TextLines.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"
#include "platform/PlainText.h"
#include "widgets/TrustBadges.h"

#include <QActionGroup>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <cmath>

// --- ElidedLabel ---------------------------------------------------------------

ElidedLabel::ElidedLabel(const QFont &font, ColorPair color, Qt::TextElideMode mode, QWidget *parent)
    : QWidget(parent)
    , m_color(std::move(color))
    , m_mode(mode)
{
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    VarnoColor::repaintOnAppearanceChange(this);
}

void ElidedLabel::setText(const QString &whole)
{
    const QString text = PlainText::forField(whole);
    if (m_text == text)
        return;
    m_text = text;
    m_shownWidth = -1;
    m_textWidth = -1;
    m_hint = QSize();
    setAccessibleName(text);
    updateGeometry();
    update();
}

void ElidedLabel::setColor(const ColorPair &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

qreal ElidedLabel::textWidth() const
{
    // The whole text's advance, measured once per text and font: the layout
    // asks for the size hint several times per pass and every paint asks
    // whether the text fits. A text of several length variants, split by
    // U+009C, counts as never fitting (eliding picks the variant).
    if (m_textWidth < 0) {
        m_textWidth = m_text.contains(QChar(0x9c)) ? qreal(QWIDGETSIZE_MAX)
                                                   : QFontMetricsF(font()).horizontalAdvance(m_text);
    }
    return m_textWidth;
}

QString ElidedLabel::shownText() const
{
    // A text that fits is shown whole, as eliding would show it.
    if (textWidth() <= width())
        return m_text;
    return fontMetrics().elidedText(m_text, m_mode, width());
}

QSize ElidedLabel::sizeHint() const
{
    if (!m_hint.isValid()) {
        const QFontMetrics metrics = fontMetrics();
        // QFontMetrics rounds the same advance QFontMetricsF gives; a text of
        // variants is as wide as its first one.
        const qreal whole = textWidth();
        const int advance = whole < qreal(QWIDGETSIZE_MAX) ? qRound(whole) : metrics.horizontalAdvance(m_text);
        m_hint = QSize(advance + 1, metrics.height());
    }
    return m_hint;
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, sizeHint().height());
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    if (m_shownWidth != width()) {
        m_shown.setTextFormat(Qt::PlainText);
        m_shown.setText(shownText());
        m_shown.prepare(QTransform(), font());
        m_shownWidth = width();
    }
    QPainter painter(this);
    painter.setPen(m_color.resolved());
    painter.setFont(font());
    // One line, left-aligned and centred vertically, where drawText() with
    // Qt::AlignLeft | Qt::AlignVCenter puts it.
    const QFontMetricsF metrics(font());
    const qreal lineHeight = std::ceil(metrics.ascent() + metrics.descent());
    painter.drawStaticText(QPointF(0, (height() - lineHeight) / 2), m_shown);
}

void ElidedLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        m_shownWidth = -1;
        m_textWidth = -1;
        m_hint = QSize();
    }
    QWidget::changeEvent(event);
}

// --- LineLimitedLabel -----------------------------------------------------------

LineLimitedLabel::LineLimitedLabel(const QFont &font, ColorPair color, int maxLines, QWidget *parent)
    : QWidget(parent)
    , m_color(std::move(color))
    , m_maxLines(std::max(1, maxLines))
{
    setFont(font);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    VarnoColor::repaintOnAppearanceChange(this);
}

void LineLimitedLabel::setText(const QString &whole)
{
    const QString text = PlainText::forField(whole);
    if (m_text == text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void LineLimitedLabel::setColor(const ColorPair &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

QStringList LineLimitedLabel::linesFor(int width) const
{
    return TextLines::limited(m_text, font(), m_maxLines, width);
}

int LineLimitedLabel::heightForWidth(int width) const
{
    const qsizetype count = std::max<qsizetype>(1, linesFor(width).size());
    return int(count) * fontMetrics().lineSpacing();
}

QSize LineLimitedLabel::sizeHint() const
{
    const int width = std::min(fontMetrics().horizontalAdvance(m_text) + 1, 480);
    return QSize(width, heightForWidth(width));
}

QSize LineLimitedLabel::minimumSizeHint() const
{
    return QSize(40, fontMetrics().lineSpacing());
}

void LineLimitedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(m_color.resolved());
    painter.setFont(font());
    const int lineHeight = fontMetrics().lineSpacing();
    const QStringList lines = linesFor(width());
    // Vertically centred in the room the layout gave.
    int y = std::max(0, (height() - int(lines.size()) * lineHeight) / 2);
    for (const QString &line : lines) {
        painter.drawText(QRect(0, y, width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
        y += lineHeight;
    }
}

// --- SymbolView ------------------------------------------------------------------

SymbolView::SymbolView(const QString &symbol, ColorPair color, int box, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(std::move(color))
    , m_box(box)
{
    setFixedSize(box, box);
    VarnoColor::repaintOnAppearanceChange(this);
}

void SymbolView::setSymbol(const QString &symbol, const ColorPair &color)
{
    m_symbol = symbol;
    m_color = color;
    update();
}

QSize SymbolView::sizeHint() const
{
    return QSize(m_box, m_box);
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    SymbolIcons::shared().paint(painter, QRectF(rect()), m_symbol, m_color.resolved());
}

// --- UpdateButtonStyle -----------------------------------------------------------

UpdateButtonStyle::UpdateButtonStyle(bool isRisk)
{
    face = Face{11, QFont::DemiBold};
    text = VarnoColor::white();
    fill = isRisk ? VarnoColor::danger() : VarnoColor::warning();
    fillHoveredOpacity = 0.82;
    pressedOpacity = 0.8;
    cornerRadius = 8;
    horizontalPadding = 10;
    verticalPadding = 5;
    tracksHover = true;
}

// --- CardActionArea ----------------------------------------------------------------

QSize wrappedTextSize(const QFont &font, const QString &text, int width)
{
    struct Kept {
        quint64 fonts = 0;
        QFont font;
        QHash<std::pair<QString, int>, QSize> sizes;
    };
    // A few thousand texts at most are kept; past that the memory starts over.
    constexpr qsizetype kMostKept = 8192;
    static Kept kept;
    const quint64 fonts = VarnoFont::fontsGeneration();
    if (kept.fonts != fonts || !(kept.font == font) || kept.sizes.size() >= kMostKept) {
        kept.sizes.clear();
        kept.fonts = fonts;
        kept.font = font;
    }
    const std::pair<QString, int> key(text, width);
    const auto known = kept.sizes.constFind(key);
    if (known != kept.sizes.cend())
        return *known;
    const QSize size =
        QFontMetrics(font).boundingRect(QRect(0, 0, width, 100000), Qt::AlignLeft | Qt::TextWordWrap, text).size();
    kept.sizes.insert(key, size);
    return size;
}

int wrappedTextHeight(const QFont &font, const QString &text, int width)
{
    return wrappedTextSize(font, text.isEmpty() ? QStringLiteral(" ") : text, width).height();
}

CardRules::BusyFlags busyFlags(const AppModel &model)
{
    return {model.isUpdating(), model.isScanning(), model.isFixing(), model.singleUpdateToken() != nullptr};
}

CardActionArea::CardActionArea(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

QSize CardActionArea::sizeFor(const CardRules::ActionArea &area)
{
    using Kind = CardRules::ActionArea::Kind;
    switch (area.kind) {
    case Kind::empty:
        return QSize(0, 0);
    case Kind::symbol: {
        const int box = int(std::lround(SymbolIcons::boxForFontSize(13)));
        return QSize(box, box);
    }
    case Kind::progress:
        return QSize(14, 14);
    case Kind::greenSeal:
    case Kind::verifiedPath:
        return QSize(20, 20);
    case Kind::checkInAppButton:
    case Kind::updateButton: {
        // Both buttons' sizes, worked out once until the fonts change: the
        // shelf asks for every record it lays out.
        struct Kept {
            quint64 fonts = 0;
            QFont application;
            QSize update;
            QSize checkInApp;
        };
        static Kept kept;
        const quint64 fonts = VarnoFont::fontsGeneration();
        const QFont application = QGuiApplication::font();
        if (kept.update.isEmpty() || kept.fonts != fonts || !(kept.application == application)) {
            const QFontMetricsF metrics(VarnoFont::ui(11, QFont::DemiBold));
            const auto sized = [&metrics](const QString &title) {
                return QSize(int(std::ceil(metrics.horizontalAdvance(title))) + 20,
                             int(std::ceil(metrics.height())) + 10);
            };
            kept.fonts = fonts;
            kept.application = application;
            kept.update = sized(QStringLiteral("Update"));
            kept.checkInApp = sized(QStringLiteral("Check in App"));
        }
        return area.kind == Kind::updateButton ? kept.update : kept.checkInApp;
    }
    }
    return QSize(0, 0);
}

StyledButton *CardActionArea::button() const
{
    return qobject_cast<StyledButton *>(m_content);
}

void CardActionArea::refresh(const AppRecord &app)
{
    if (!m_model)
        return;
    const bool appChanged = !(m_app == app);
    m_app = app;
    const CardRules::ActionArea area = CardRules::actionAreaFor(app, m_model->updateState(app.bundle_id),
                                                                busyFlags(*m_model));
    const bool sameWidget = m_built && !appChanged && area.kind == m_area.kind && area.isRisk == m_area.isRisk
        && area.symbol == m_area.symbol;
    m_area = area;
    if (!sameWidget) {
        rebuild();
        return;
    }
    // The same widget: only its state and texts follow.
    if (m_content) {
        m_content->setEnabled(m_area.enabled);
        m_content->setToolTip(m_area.help);
        m_content->setAccessibleDescription(m_area.accessibleDescription);
    }
}

void CardActionArea::rebuild()
{
    m_built = true;
    delete m_content;
    m_content = nullptr;
    using Kind = CardRules::ActionArea::Kind;
    const AppRecord app = m_app;
    QPointer<AppModel> model = m_model;
    switch (m_area.kind) {
    case Kind::empty:
        break;
    case Kind::symbol:
        m_content = new SymbolView(m_area.symbol, m_area.color, int(std::lround(SymbolIcons::boxForFontSize(13))), this);
        break;
    case Kind::progress:
        // The default indicator (20) at 0.7.
        m_content = new SpinnerView(14, this);
        break;
    case Kind::greenSeal:
        m_content = new GreenSealView(20, this);
        break;
    case Kind::verifiedPath:
        m_content = new VerifiedPathView(20, this);
        break;
    case Kind::checkInAppButton: {
        auto *button = new StyledButton(QStringLiteral("Check in App"), UpdateButtonStyle(false), this);
        connect(button, &QPushButton::clicked, this, [model, app] {
            if (model)
                Async::detach(model->triggerSelfUpdate(app));
        });
        m_content = button;
        break;
    }
    case Kind::updateButton: {
        auto *button = new StyledButton(QStringLiteral("Update"), UpdateButtonStyle(m_area.isRisk), this);
        connect(button, &QPushButton::clicked, this, [model, app] {
            if (model)
                Async::detach(model->update(app));
        });
        m_content = button;
        break;
    }
    }
    if (m_content) {
        m_content->setEnabled(m_area.enabled);
        m_content->setToolTip(m_area.help);
        if (!m_area.accessibleName.isEmpty())
            m_content->setAccessibleName(m_area.accessibleName);
        m_content->setAccessibleDescription(m_area.accessibleDescription);
        layout()->addWidget(m_content);
        m_content->show();
    }
    updateGeometry();
}

// --- Card faces ---------------------------------------------------------------------

void paintCardFace(QPainter &painter, const QRectF &bounds, const QColor &background, const QColor &border, bool focused)
{
    // The border is filled as the ring between the edge and 1 pt inside it,
    // which is what stroking the rounded outline gives, at a fraction of a
    // stroke's cost.
    constexpr qreal radius = cardRadius;
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);
    painter.fillPath(shape, background);

    QPainterPath outline;
    outline.setFillRule(Qt::OddEvenFill);
    outline.addRoundedRect(bounds, radius, radius);
    outline.addRoundedRect(bounds.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    painter.fillPath(outline, border);

    if (focused) {
        QPainterPath ring;
        ring.addRoundedRect(bounds.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
        painter.setPen(QPen(VarnoColor::accent().resolved(), 2));
        painter.drawPath(ring);
    }
}

void drawCardFace(QPainter &painter, const QPixmap &face, int radius, bool opaqueInside)
{
    const qreal ratio = face.devicePixelRatio();
    const QSize size = face.deviceIndependentSize().toSize();
    const int w = size.width();
    const int h = size.height();
    // Parts of a face drawn at a fractional ratio would be resampled apart.
    if (!opaqueInside || ratio != std::floor(ratio) || w < 2 * radius || h < 2 * radius) {
        painter.drawPixmap(0, 0, face);
        return;
    }
    const auto draw = [&painter, &face, ratio](const QRect &area) {
        if (area.isEmpty())
            return;
        painter.drawPixmap(QRectF(area), face,
                           QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
    };
    const QPainter::CompositionMode mode = painter.compositionMode();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    draw(QRect(radius, 1, w - 2 * radius, h - 2));
    painter.setCompositionMode(mode);
    draw(QRect(0, 0, radius, h));
    draw(QRect(w - radius, 0, radius, h));
    draw(QRect(radius, 0, w - 2 * radius, 1));
    draw(QRect(radius, h - 1, w - 2 * radius, 1));
}

// --- Update Mode menu ----------------------------------------------------------------

void addUpdateModeItems(QMenu *menu, AppModel *model, const AppRecord &app)
{
    QMenu *modes = menu->addMenu(QStringLiteral("Update Mode"));
    auto *group = new QActionGroup(modes);
    const QString effective = CardRules::effectiveUpdateMode(app);
    QPointer<AppModel> guarded(model);
    for (const QString &mode : AppModel::updateModes) {
        QAction *item = modes->addAction(AppModel::updateModeLabel(mode));
        item->setData(mode);
        item->setCheckable(true);
        item->setChecked(mode == effective);
        group->addAction(item);
        QObject::connect(item, &QAction::triggered, modes, [guarded, app, mode] {
            if (guarded)
                Async::detach(guarded->setUpdateMode(app, mode));
        });
    }
    if (CardRules::canTriggerInAppUpdate(app)) {
        QAction *check = menu->addAction(QStringLiteral("Check for Update in App"));
        QObject::connect(check, &QAction::triggered, menu, [guarded, app] {
            if (guarded)
                Async::detach(guarded->triggerSelfUpdate(app));
        });
    }
}

void openProvenanceOf(AppModel *model, const AppRecord &app, const ShowProvenance &showProvenance)
{
    if (!model)
        return;
    const AppRecord chosen = app;
    model->setSelectedBundleID(chosen.bundle_id);
    if (showProvenance)
        showProvenance(chosen);
}
