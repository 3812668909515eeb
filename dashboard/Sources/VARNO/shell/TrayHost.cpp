#include "shell/TrayHost.h"

#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "platform/ResourceLocator.h"
#include "platform/UserNotifications.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include <cmath>

namespace MenuBarLabel {

QString fallbackGlyph()
{
    return QString::fromUcs4(U"\U0001F9AB");
}

QString countText(const AppModel &model)
{
    const qsizetype count = model.libraryCounts().outdated;
    return count > 0 ? QString::number(count) : QString();
}

std::optional<QImage> templateIcon()
{
    return ResourceLocator::image(QStringLiteral("MenuBarIconTemplate"));
}

QString toolTip(const AppModel &model)
{
    const QString count = countText(model);
    if (count.isEmpty())
        return QStringLiteral("VARNO Workshop");
    return QStringLiteral("VARNO Workshop \u2014 %1 outdated").arg(count);
}

QImage render(const std::optional<QImage> &icon, const QString &count, const QColor &tint, qreal devicePixelRatio)
{
    QFont countFont = QGuiApplication::font();
    countFont.setPixelSize(countPixelSize);
    countFont.setWeight(QFont::DemiBold);
    const QFontMetricsF metrics(countFont);
    const qreal countWidth = count.isEmpty() ? 0 : std::ceil(metrics.horizontalAdvance(count));
    const qreal width = iconSide + (count.isEmpty() ? 0 : spacing + countWidth);

    QImage image(QSize(int(std::ceil(width * devicePixelRatio)), int(std::ceil(iconSide * devicePixelRatio))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF iconRect(0, 0, iconSide, iconSide);
    if (icon && !icon->isNull()) {
        // A template image: its shape, in the text colour.
        QImage shape(image.size(), QImage::Format_ARGB32_Premultiplied);
        shape.setDevicePixelRatio(devicePixelRatio);
        shape.fill(Qt::transparent);
        {
            QPainter layer(&shape);
            layer.setRenderHint(QPainter::SmoothPixmapTransform);
            const QSizeF fitted = QSizeF(icon->size()).scaled(iconRect.size(), Qt::KeepAspectRatio);
            const QRectF target(iconRect.center().x() - fitted.width() / 2, iconRect.center().y() - fitted.height() / 2,
                                fitted.width(), fitted.height());
            layer.drawImage(target, *icon);
            layer.setCompositionMode(QPainter::CompositionMode_SourceIn);
            layer.fillRect(QRectF(QPointF(0, 0), QSizeF(width, iconSide)), tint);
        }
        painter.drawImage(QPointF(0, 0), shape);
    } else {
        QFont glyphFont = QGuiApplication::font();
        glyphFont.setPixelSize(iconSide - 4);
        painter.setFont(glyphFont);
        painter.setPen(tint);
        painter.drawText(iconRect, Qt::AlignCenter, fallbackGlyph());
    }
    if (!count.isEmpty()) {
        painter.setFont(countFont);
        painter.setPen(tint);
        painter.drawText(QRectF(iconSide + spacing, 0, countWidth, iconSide), Qt::AlignLeft | Qt::AlignVCenter, count);
    }
    return image;
}

} // namespace MenuBarLabel

TrayHost::TrayHost(AppModel *model, PanelFactory makePanel, bool useTray, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_makePanel(std::move(makePanel))
{
    if (useTray) {
        m_tray = new QSystemTrayIcon(this);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                showPanel();
        });
        // A notification the desktop could not show becomes the tray's
        // message (without a tray it is only logged).
        const QPointer<QSystemTrayIcon> tray = m_tray;
        UserNotifications::setFallback([tray](const UNNotificationRequest &request, const QString &) {
            if (tray)
                tray->showMessage(request.content.title, request.content.body);
        });
    }
    if (m_model)
        connect(m_model, &AppModel::appsChanged, this, &TrayHost::refreshLabel);
    connect(&Appearance::instance(), &Appearance::changed, this, &TrayHost::refreshLabel);
    refreshLabel();
    if (m_tray)
        m_tray->show();
}

TrayHost::~TrayHost()
{
    if (m_tray)
        UserNotifications::setFallback(nullptr);
    delete m_panel.data();
}

bool TrayHost::trayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QWidget *TrayHost::panel()
{
    if (!m_panel && m_makePanel) {
        QWidget *panel = m_makePanel();
        if (m_tray) {
            panel->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
        } else {
            panel->setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
            panel->setWindowTitle(QStringLiteral("VARNO"));
        }
        panel->setAccessibleName(QStringLiteral("VARNO"));
        m_panel = panel;
    }
    return m_panel;
}

void TrayHost::showPanel()
{
    QWidget *shown = panel();
    if (!shown)
        return;
    shown->adjustSize();
    if (m_tray) {
        placePopup(shown);
    } else if (!m_placed) {
        // Where a tray would be: the top right corner of the screen.
        m_placed = true;
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            shown->move(available.right() - shown->width() - 16, available.top() + 16);
        }
    }
    shown->show();
    shown->raise();
    shown->activateWindow();
}

void TrayHost::setContextMenu(QMenu *menu)
{
    if (m_tray)
        m_tray->setContextMenu(menu);
}

void TrayHost::placePopup(QWidget *popup) const
{
    QRect anchor = m_tray->geometry();
    if (!anchor.isValid())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    QScreen *screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QSize size = popup->sizeHint().expandedTo(popup->minimumSize());
    // Below a tray at the top of the screen, above one at the bottom.
    const bool trayAtTop = anchor.center().y() < available.center().y();
    int x = anchor.center().x() - size.width() / 2;
    int y = trayAtTop ? anchor.bottom() + 4 : anchor.top() - 4 - size.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() - size.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() - size.height()));
    popup->move(x, y);
}

QImage TrayHost::labelImage() const
{
    const QColor tint = QApplication::palette().color(QPalette::WindowText);
    const QString count = m_model ? MenuBarLabel::countText(*m_model) : QString();
    qreal ratio = 1.0;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        ratio = screen->devicePixelRatio();
    return MenuBarLabel::render(MenuBarLabel::templateIcon(), count, tint, ratio);
}

void TrayHost::refreshLabel()
{
    if (!m_tray)
        return;
    m_tray->setIcon(QIcon(QPixmap::fromImage(labelImage())));
    m_tray->setToolTip(m_model ? MenuBarLabel::toolTip(*m_model) : QStringLiteral("VARNO Workshop"));
}
