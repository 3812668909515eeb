#include "widgets/AppIconView.h"

#include "base/Async.h"
#include "kit/SharedPainting.h"
#include "kit/VarnoColor.h"
#include "platform/ApplicationIcons.h"
#include "platform/PlainText.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

#include <utility>

AppIconCache &AppIconCache::instance()
{
    static AppIconCache *cache = new AppIconCache;
    return *cache;
}

AppIconCache::AppIconCache()
{
    m_cache.setMaxCost(countLimit);
    m_pool.setMaxThreadCount(2);
}

std::optional<QImage> AppIconCache::cached(const QString &bundleId) const
{
    if (const QImage *image = m_cache.object(bundleId))
        return *image;
    return std::nullopt;
}

void AppIconCache::request(const QString &bundleId)
{
    if (m_inFlight.contains(bundleId))
        return;
    m_inFlight.insert(bundleId);
    // Looked up together once the event loop turns: a shelf asks for a
    // screenful of icons while it builds its cards, before it paints them.
    m_queued.append(bundleId);
    if (m_queued.size() == 1)
        QMetaObject::invokeMethod(this, &AppIconCache::lookUpQueued, Qt::QueuedConnection);
}

void AppIconCache::lookUpQueued()
{
    using Found = QList<std::pair<QString, QImage>>;
    const QStringList queued = std::exchange(m_queued, {});
    const std::shared_ptr<ApplicationIconSource> source = ApplicationIcons::shared();
    // In a few groups, so that the pool's threads share the work and the
    // first icons show before the last are found.
    for (qsizetype start = 0; start < queued.size(); start += lookupGroupSize) {
        const QStringList group = queued.mid(start, lookupGroupSize);
        Async::Work<Found> lookup = Async::offThread(this, &m_pool, [source, group] {
            Found found;
            for (const QString &bundleId : group) {
                const std::optional<QImage> image = source->iconFor(bundleId);
                if (image && !image->isNull())
                    found.append({bundleId, *image});
            }
            return found;
        });
        Async::then(std::move(lookup), [this, group](const Found &found) {
            for (const QString &bundleId : group)
                m_inFlight.remove(bundleId);
            for (const auto &[bundleId, image] : found) {
                m_cache.insert(bundleId, new QImage(image), 1);
                Q_EMIT iconFound(bundleId);
            }
        });
    }
}

void AppIconCache::clear()
{
    m_cache.clear();
}

AppIconView::AppIconView(const AppRecord &app, int size, QWidget *parent)
    : QWidget(parent)
    , m_size(size)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TranslucentBackground);
    VarnoColor::repaintOnAppearanceChange(this);
    connect(&AppIconCache::instance(), &AppIconCache::iconFound, this, [this](const QString &bundleId) {
        if (bundleId == m_app.bundle_id)
            evaluate();
    });
    setApp(app);
}

void AppIconView::setApp(const AppRecord &app)
{
    m_app = app;
    evaluate();
}

void AppIconView::refresh()
{
    if (!showsIcon())
        evaluate();
}

void AppIconView::evaluate()
{
    AppIconCache &cache = AppIconCache::instance();
    const std::optional<QImage> image = cache.cached(m_app.bundle_id);
    m_image = image.value_or(QImage());
    if (!image && !m_app.bundle_id.isEmpty())
        cache.request(m_app.bundle_id);
    update();
}

QString AppIconView::firstCharacter(const QString &name)
{
    return PlainText::prefixCharacters(name, 1);
}

QString AppIconView::tileLetter() const
{
    return firstCharacter(PlainText::forField(m_app.app_name));
}

namespace {

// The rounded letter tile, painted into `painter` over `square`.
void paintLetterTile(QPainter &painter, const QRectF &square, int size, const QString &letter, const QColor &tile,
                     const QColor &ink)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(square, 4, 4);
    painter.fillPath(shape, tile);
    if (letter.isEmpty())
        return;
    QFont font = QApplication::font();
    font.setPixelSize(std::max(1, qRound(size * 0.5)));
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(ink);
    painter.drawText(square, Qt::AlignCenter | Qt::TextSingleLine, letter);
}

} // namespace

void AppIconView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF square((width() - m_size) / 2.0, (height() - m_size) / 2.0, m_size, m_size);
    const qreal ratio = devicePixelRatioF();

    if (!m_image.isNull()) {
        // Scaled to fit with its own aspect ratio, centred; scaled once per
        // image, size and pixel ratio (a hovered card repaints it per frame).
        const QSizeF fitted = QSizeF(m_image.size()).scaled(square.size(), Qt::KeepAspectRatio);
        const QSize pixels = (fitted * ratio).toSize().expandedTo(QSize(1, 1));
        if (m_scaled.size() != pixels || m_scaledFrom != m_image.cacheKey()) {
            m_scaled = QPixmap::fromImage(m_image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            m_scaled.setDevicePixelRatio(ratio);
            m_scaledFrom = m_image.cacheKey();
        }
        const QRectF target(square.center().x() - fitted.width() / 2, square.center().y() - fitted.height() / 2,
                            fitted.width(), fitted.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, m_scaled, QRectF(QPointF(0, 0), QSizeF(m_scaled.size())));
        return;
    }

    // Tiles of the same letter, size and colours look alike: each is
    // painted once into a shared pixmap and copied.
    const QString letter = tileLetter();
    const QColor tile = VarnoColor::surfaceHover().resolved();
    const QColor ink = VarnoColor::textSecondary().resolved();
    const QString key = QStringLiteral("varno-letter-tile:%1:%2@%3:%4:%5:%6")
                            .arg(letter)
                            .arg(m_size)
                            .arg(ratio)
                            .arg(tile.rgba(), 0, 16)
                            .arg(ink.rgba(), 0, 16)
                            .arg(QApplication::font().key());
    const QPixmap face = sharedPainting(key, QSize(m_size, m_size), ratio, [&](QPainter &tilePainter) {
        paintLetterTile(tilePainter, QRectF(0, 0, m_size, m_size), m_size, letter, tile, ink);
    });
    painter.drawPixmap(square.topLeft(), face);
}
