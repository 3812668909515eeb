#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

#include <functional>

class QPainter;

// A transparent pixmap of `size` at `ratio` with `paint` drawn on it, kept in
// QPixmapCache under `key` (which must tell apart everything `paint` draws):
// what many cards and tiles show alike is painted once and copied.
QPixmap sharedPainting(const QString &key, QSize size, qreal ratio, const std::function<void(QPainter &)> &paint);
