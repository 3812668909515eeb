#include "cards/AppIconView.h"

#include "kit/VarnoColor.h"
#include "platform/ApplicationIcons.h"
#include "platform/PlainText.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QPainter>
#include <QPainterPath>
#include <QtConcurrent/QtConcurrentRun>

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
    const std::shared_ptr<ApplicationIconSource> source = ApplicationIcons::shared();
    auto *watcher = new QFutureWatcher<std::optional<QImage>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, bundleId] {
        watcher->deleteLater();
        m_inFlight.remove(bundleId);
        const std::optional<QImage> image = watcher->result();
        if (!image || image->isNull())
            return;
        m_cache.insert(bundleId, new QImage(*image), 1);
        Q_EMIT iconFound(bundleId);
    });
    watcher->setFuture(QtConcurrent::run(&m_pool, [source, bundleId] { return source->iconFor(bundleId); }));
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
    return firstCharacter(m_app.app_name);
}

void AppIconView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF square((width() - m_size) / 2.0, (height() - m_size) / 2.0, m_size, m_size);

    if (!m_image.isNull()) {
        // Scaled to fit with its own aspect ratio, centred.
        QSizeF fitted = QSizeF(m_image.size()).scaled(square.size(), Qt::KeepAspectRatio);
        const QRectF target(square.center().x() - fitted.width() / 2, square.center().y() - fitted.height() / 2,
                            fitted.width(), fitted.height());
        painter.drawImage(target, m_image);
        return;
    }

    QPainterPath tile;
    tile.addRoundedRect(square, 4, 4);
    painter.fillPath(tile, VarnoColor::dynamic(QStringLiteral("#3A3428"), QStringLiteral("#D4CEC4")).resolved());
    const QString letter = tileLetter();
    if (letter.isEmpty())
        return;
    QFont font = QApplication::font();
    font.setPixelSize(std::max(1, qRound(m_size * 0.5)));
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(VarnoColor::dynamic(QStringLiteral("#A89D8A"), QStringLiteral("#6A6258")).resolved());
    painter.drawText(square, Qt::AlignCenter | Qt::TextSingleLine, letter);
}
