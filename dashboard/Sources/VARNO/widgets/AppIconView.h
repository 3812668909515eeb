#pragma once

#include "records/AppRecord.h"

#include <QCache>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QWidget>

#include <optional>

// The process-wide cache of application icons, bundle id -> image, holding at
// most 200 icons. Only icons that were found are kept: an app without one is
// looked up again each time a view asks for it. Lookups run on a small thread
// pool of their own (ApplicationIcons::shared()); the cache lives on the GUI
// thread.
class AppIconCache : public QObject {
    Q_OBJECT

public:
    static AppIconCache &instance();
    static constexpr int countLimit = 200;

    // The cached icon of a bundle id, if any.
    std::optional<QImage> cached(const QString &bundleId) const;
    // Starts a lookup unless one for the same id is under way; iconFound()
    // follows when it finds an icon. The lookups asked for in one turn of
    // the event loop start together when it ends.
    void request(const QString &bundleId);

    int count() const { return int(m_cache.count()); }
    bool isLookingUp() const { return !m_inFlight.isEmpty(); }
    // Forgets every icon (tests).
    void clear();

Q_SIGNALS:
    void iconFound(const QString &bundleId);

private:
    AppIconCache();
    void lookUpQueued();

    static constexpr qsizetype lookupGroupSize = 16;

    QCache<QString, QImage> m_cache;
    QSet<QString> m_inFlight; // asked for and not answered yet
    QStringList m_queued;     // asked for in this turn of the event loop
    QThreadPool m_pool;
};

// The square icon of one application: its icon when one is found, else a
// rounded letter tile with the first character of its name.
class AppIconView : public QWidget {
    Q_OBJECT

public:
    AppIconView(const AppRecord &app, int size, QWidget *parent = nullptr);

    // Shows another record (or the same one again): the icon is looked up
    // afresh unless it is cached.
    void setApp(const AppRecord &app);
    // Evaluates the view again: while it shows the letter tile, the icon is
    // asked for once more (an app installed since shows its icon).
    void refresh();
    const AppRecord &app() const { return m_app; }
    int iconSize() const { return m_size; }

    // Whether an icon is shown (else the letter tile), and the tile's letter.
    bool showsIcon() const { return !m_image.isNull(); }
    QString tileLetter() const;
    // The first user-perceived character of a name, unchanged.
    static QString firstCharacter(const QString &name);

    QSize sizeHint() const override { return QSize(m_size, m_size); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void evaluate();

    AppRecord m_app;
    int m_size;
    QImage m_image;
    // m_image scaled to the view, and the image it was scaled from.
    QPixmap m_scaled;
    qint64 m_scaledFrom = 0;
};
