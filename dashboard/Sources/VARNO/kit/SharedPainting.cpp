#include "kit/SharedPainting.h"

#include <QPainter>
#include <QPixmapCache>

QPixmap sharedPainting(const QString &key, QSize size, qreal ratio, const std::function<void(QPainter &)> &paint)
{
    QPixmap painting;
    if (QPixmapCache::find(key, &painting))
        return painting;
    painting = QPixmap(size * ratio);
    painting.setDevicePixelRatio(ratio);
    painting.fill(Qt::transparent);
    QPainter painter(&painting);
    paint(painter);
    painter.end();
    QPixmapCache::insert(key, painting);
    return painting;
}
