#include "platform/Appearance.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

Appearance &Appearance::instance()
{
    static Appearance appearance;
    appearance.watchPalette();
    return appearance;
}

Appearance::Appearance()
{
    m_environment = schemeFromText(qEnvironmentVariable("VARNO_APPEARANCE"));
    m_reduceMotion = qEnvironmentVariable("VARNO_REDUCE_MOTION") == QLatin1String("1");
    m_lastDark = isDark();
}

std::optional<Appearance::Scheme> Appearance::schemeFromText(const QString &text)
{
    const QString value = text.trimmed().toLower();
    if (value == QLatin1String("dark"))
        return Scheme::Dark;
    if (value == QLatin1String("light"))
        return Scheme::Light;
    return std::nullopt;
}

void Appearance::watchPalette()
{
    // The instance may be created before the application object; start
    // watching the palette once there is one.
    if (m_watching || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    m_watching = true;
    QCoreApplication::instance()->installEventFilter(this);
    m_lastDark = isDark();
}

bool Appearance::paletteIsDark() const
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    const QPalette palette = QGuiApplication::palette();
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

bool Appearance::isDark() const
{
    if (m_override)
        return *m_override == Scheme::Dark;
    if (m_environment)
        return *m_environment == Scheme::Dark;
    return paletteIsDark();
}

void Appearance::setOverride(std::optional<Scheme> scheme)
{
    if (m_override == scheme)
        return;
    m_override = scheme;
    const bool dark = isDark();
    if (dark != m_lastDark) {
        m_lastDark = dark;
        Q_EMIT changed();
    }
}

void Appearance::setReduceMotion(bool reduce)
{
    if (m_reduceMotion == reduce)
        return;
    m_reduceMotion = reduce;
    Q_EMIT changed();
}

bool Appearance::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) {
        const bool dark = isDark();
        if (dark != m_lastDark) {
            m_lastDark = dark;
            Q_EMIT changed();
        }
    }
    return QObject::eventFilter(watched, event);
}
