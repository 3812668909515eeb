#include "kit/BrandArtwork.h"

#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "platform/MainBundle.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

#include <cmath>

// --- ArtworkImage ------------------------------------------------------------

ArtworkImage::~ArtworkImage() = default;

std::shared_ptr<ArtworkImage> ArtworkImage::load(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return nullptr;
    std::shared_ptr<ArtworkImage> artwork(new ArtworkImage);
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        auto renderer = std::make_unique<QSvgRenderer>(path);
        if (!renderer->isValid() || renderer->defaultSize().isEmpty())
            return nullptr;
        renderer->setAspectRatioMode(Qt::KeepAspectRatio);
        artwork->m_svg = std::move(renderer);
        return artwork;
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return nullptr;
    artwork->m_raster = std::move(image);
    return artwork;
}

QSizeF ArtworkImage::naturalSize() const
{
    if (m_svg) {
        const QRectF box = m_svg->viewBoxF();
        return box.isEmpty() ? QSizeF(m_svg->defaultSize()) : box.size();
    }
    return QSizeF(m_raster.size()) / m_raster.devicePixelRatio();
}

void ArtworkImage::paintFitted(QPainter &painter, const QRectF &target) const
{
    const QSizeF natural = naturalSize();
    if (natural.isEmpty() || target.isEmpty())
        return;
    const QSizeF fitted = natural.scaled(target.size(), Qt::KeepAspectRatio);
    const QRectF box(target.center().x() - fitted.width() / 2, target.center().y() - fitted.height() / 2,
                     fitted.width(), fitted.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_svg)
        m_svg->render(&painter, box);
    else
        painter.drawImage(box, m_raster);
    painter.restore();
}

// --- Lookup ------------------------------------------------------------------

namespace BrandArtwork {

std::optional<QString> resourceFile(const QString &name, const QString &extension)
{
    return MainBundle::urlForResource(QStringLiteral("images/") + name, extension);
}

std::shared_ptr<ArtworkImage> image(const QString &name)
{
    for (const char *extension : {"png", "pdf", "svg", "icns"}) {
        if (const auto file = resourceFile(name, QLatin1String(extension)))
            return ArtworkImage::load(*file);
    }
    return nullptr;
}

} // namespace BrandArtwork

namespace {

using ArtworkCache = QHash<QString, std::shared_ptr<ArtworkImage>>;

ArtworkCache &bruskCache()
{
    static ArtworkCache cache;
    return cache;
}

ArtworkCache &headIconCache()
{
    static ArtworkCache cache;
    return cache;
}

// Only successful loads are kept; a miss is looked up again next time.
template<typename Load>
std::shared_ptr<ArtworkImage> cachedLoad(ArtworkCache &cache, const QString &name, Load load)
{
    if (const auto it = cache.constFind(name); it != cache.constEnd())
        return *it;
    std::shared_ptr<ArtworkImage> loaded = load();
    if (loaded)
        cache.insert(name, loaded);
    return loaded;
}

QRectF centredSquare(const QRectF &rect)
{
    const qreal side = std::min(rect.width(), rect.height());
    return QRectF(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
}

QSize squareHint(qreal side)
{
    const int pixels = std::max(0, int(std::ceil(side)));
    return QSize(pixels, pixels);
}

} // namespace

// --- BruskView -----------------------------------------------------------------

BruskView::BruskView(qreal side, BruskVariant variant, QWidget *parent)
    : QWidget(parent)
    , m_side(side)
    , m_variant(variant)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
    VarnoColor::repaintOnAppearanceChange(this);
}

void BruskView::setSide(qreal side)
{
    if (qFuzzyCompare(m_side, side))
        return;
    m_side = side;
    updateGeometry();
    update();
}

void BruskView::setVariant(BruskVariant variant)
{
    if (m_variant == variant)
        return;
    m_variant = variant;
    update();
}

QSize BruskView::sizeHint() const
{
    return squareHint(m_side);
}

QString BruskView::resourceName(BruskVariant variant)
{
    switch (variant) {
    case BruskVariant::main:
        return QStringLiteral("brusk");
    case BruskVariant::sentry:
        return QStringLiteral("brusk_sentry");
    case BruskVariant::craftsman:
        return QStringLiteral("brusk_craftsman");
    case BruskVariant::curator:
        return QStringLiteral("brusk_curator");
    }
    return QStringLiteral("brusk");
}

QString BruskView::fallbackSymbol(BruskVariant variant)
{
    switch (variant) {
    case BruskVariant::main:
        return QStringLiteral("wrench.and.screwdriver.fill");
    case BruskVariant::sentry:
        return QStringLiteral("shield.lefthalf.filled");
    case BruskVariant::craftsman:
        return QStringLiteral("hammer.fill");
    case BruskVariant::curator:
        return QStringLiteral("archivebox.fill");
    }
    return QStringLiteral("wrench.and.screwdriver.fill");
}

std::shared_ptr<ArtworkImage> BruskView::cachedImage(BruskVariant variant)
{
    const QString name = resourceName(variant);
    return cachedLoad(bruskCache(), name, [&name]() -> std::shared_ptr<ArtworkImage> {
        const auto file = BrandArtwork::resourceFile(name, QStringLiteral("svg"));
        return file ? ArtworkImage::load(*file) : nullptr;
    });
}

bool BruskView::isCached(BruskVariant variant)
{
    return bruskCache().contains(resourceName(variant));
}

void BruskView::clearCache()
{
    bruskCache().clear();
}

void BruskView::paintEmblem(QPainter &painter, const QRectF &rect, BruskVariant variant)
{
    const QRectF square = centredSquare(rect);
    const qreal side = square.width();
    if (side <= 0)
        return;
    const QColor accent = VarnoColor::accent().resolved();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    const qreal radius = emblemCornerRadius(side);
    QPainterPath shape;
    shape.addRoundedRect(square, radius, radius);
    QColor fill = accent;
    fill.setAlphaF(0.16f);
    painter.fillPath(shape, fill);

    // The stroke is centred on the shape's edge; inset it so that it stays
    // within the square.
    const qreal inset = kEmblemStrokeWidth / 2;
    QPainterPath outline;
    outline.addRoundedRect(square.adjusted(inset, inset, -inset, -inset), radius - inset, radius - inset);
    QColor stroke = accent;
    stroke.setAlphaF(0.35f);
    painter.setPen(QPen(stroke, kEmblemStrokeWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);

    const qreal symbol = SymbolIcons::boxForFontSize(emblemSymbolSize(side));
    const QRectF symbolRect(square.center().x() - symbol / 2, square.center().y() - symbol / 2, symbol, symbol);
    SymbolIcons::shared().paint(painter, symbolRect, fallbackSymbol(variant), accent);
    painter.restore();
}

void BruskView::paintArtwork(QPainter &painter, const QRectF &rect, BruskVariant variant)
{
    if (const auto artwork = cachedImage(variant))
        artwork->paintFitted(painter, centredSquare(rect));
    else
        paintEmblem(painter, rect, variant);
}

void BruskView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF box(0, 0, m_side, m_side);
    paintArtwork(painter, box.translated(QRectF(rect()).center() - box.center()), m_variant);
}

// --- HeadIconView --------------------------------------------------------------

HeadIconView::HeadIconView(qreal side, HeadIconSize iconSize, QWidget *parent)
    : QWidget(parent)
    , m_side(side)
    , m_iconSize(iconSize)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
    VarnoColor::repaintOnAppearanceChange(this);
}

QSize HeadIconView::sizeHint() const
{
    return squareHint(m_side);
}

QString HeadIconView::resourceName(HeadIconSize iconSize)
{
    return iconSize == HeadIconSize::menuBar ? QStringLiteral("head_icon_50x50") : QStringLiteral("head_icon_100x100");
}

std::shared_ptr<ArtworkImage> HeadIconView::cachedImage(HeadIconSize iconSize)
{
    const QString name = resourceName(iconSize);
    return cachedLoad(headIconCache(), name, [&name] { return BrandArtwork::image(name); });
}

bool HeadIconView::isCached(HeadIconSize iconSize)
{
    return headIconCache().contains(resourceName(iconSize));
}

void HeadIconView::clearCache()
{
    headIconCache().clear();
}

void HeadIconView::paintArtwork(QPainter &painter, const QRectF &rect, HeadIconSize iconSize)
{
    if (const auto artwork = cachedImage(iconSize))
        artwork->paintFitted(painter, centredSquare(rect));
    else
        BruskView::paintArtwork(painter, rect, BruskVariant::main);
}

void HeadIconView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF box(0, 0, m_side, m_side);
    paintArtwork(painter, box.translated(QRectF(rect()).center() - box.center()), m_iconSize);
}

// --- BrandWordmarkView -----------------------------------------------------------

BrandWordmarkView::BrandWordmarkView(qreal fontSize, QWidget *parent)
    : QWidget(parent)
    , m_fontSize(fontSize)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(leadingText() + trailingText());
    VarnoColor::repaintOnAppearanceChange(this);
}

QString BrandWordmarkView::leadingText()
{
    return QStringLiteral("varn");
}

QString BrandWordmarkView::trailingText()
{
    return QStringLiteral("o");
}

QSize BrandWordmarkView::sizeHint() const
{
    const QFontMetricsF metrics(VarnoFont::wordmark(m_fontSize));
    const qreal width = metrics.horizontalAdvance(leadingText()) + metrics.horizontalAdvance(trailingText());
    return QSize(int(std::ceil(width)), int(std::ceil(metrics.height())));
}

void BrandWordmarkView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QFont font = VarnoFont::wordmark(m_fontSize);
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    // Both groups share one baseline; the second starts where the first ends.
    const qreal baseline = (height() - metrics.height()) / 2 + metrics.ascent();
    painter.setPen(VarnoColor::textPrimary().resolved());
    painter.drawText(QPointF(0, baseline), leadingText());
    painter.setPen(VarnoColor::accent().resolved());
    painter.drawText(QPointF(metrics.horizontalAdvance(leadingText()), baseline), trailingText());
}
