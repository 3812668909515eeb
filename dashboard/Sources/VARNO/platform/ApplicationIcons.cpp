#include "platform/ApplicationIcons.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutexLocker>
#include <QStandardPaths>

namespace {

QMutex sharedMutex;
std::shared_ptr<ApplicationIconSource> sharedSource;

QStringList defaultDataDirs()
{
    QStringList dirs;
    const QString home = qEnvironmentVariable("XDG_DATA_HOME");
    dirs.append(home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home);
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : system.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs.append(dir);
    return dirs;
}

std::optional<QImage> loadIconImage(const QString &path)
{
    QImageReader reader(path);
    // Vector icons are rendered at a size that stays sharp on the cards.
    if (reader.format() == "svg" || path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
        reader.setScaledSize(QSize(256, 256));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace

namespace ApplicationIcons {

std::shared_ptr<ApplicationIconSource> shared()
{
    QMutexLocker lock(&sharedMutex);
    if (!sharedSource)
        sharedSource = std::make_shared<DesktopEntryIcons>();
    return sharedSource;
}

void setShared(std::shared_ptr<ApplicationIconSource> source)
{
    QMutexLocker lock(&sharedMutex);
    sharedSource = std::move(source);
}

} // namespace ApplicationIcons

DesktopEntryIcons::DesktopEntryIcons(QStringList dataDirs, QString themeName)
    : m_dataDirs(dataDirs.isEmpty() ? defaultDataDirs() : std::move(dataDirs))
    , m_themeName(std::move(themeName))
{
}

bool DesktopEntryIcons::isUsableId(const QString &bundleId)
{
    return !bundleId.isEmpty() && !bundleId.contains(QLatin1Char('/')) && !bundleId.contains(QChar(0))
        && bundleId != QStringLiteral(".") && bundleId != QStringLiteral("..");
}

std::optional<QString> DesktopEntryIcons::iconKey(const QString &desktopFile)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    bool inEntry = false;
    // A desktop entry is small; anything past 256 KiB is not read.
    const QByteArray bytes = file.read(256 * 1024);
    for (const QByteArray &rawLine : bytes.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inEntry || !line.startsWith(QStringLiteral("Icon")))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QStringLiteral("Icon"))
            continue;
        const QString value = line.mid(equals + 1).trimmed();
        if (value.isEmpty())
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::optional<QString> DesktopEntryIcons::iconFile(const QString &iconName) const
{
    if (QDir::isAbsolutePath(iconName))
        return QFileInfo(iconName).isFile() ? std::optional(iconName) : std::nullopt;
    if (iconName.contains(QLatin1Char('/')))
        return std::nullopt;
    QStringList themes;
    if (!m_themeName.isEmpty() && !m_themeName.contains(QLatin1Char('/')))
        themes.append(m_themeName);
    themes.append(QStringLiteral("hicolor"));
    static const QStringList sizes = {QStringLiteral("512x512"), QStringLiteral("256x256"), QStringLiteral("128x128"),
                                      QStringLiteral("96x96"),   QStringLiteral("64x64"),   QStringLiteral("48x48"),
                                      QStringLiteral("32x32")};
    QStringList bases;
    bases.append(QDir::homePath() + QStringLiteral("/.icons"));
    for (const QString &dir : m_dataDirs)
        bases.append(dir + QStringLiteral("/icons"));
    for (const QString &theme : themes) {
        for (const QString &base : bases) {
            for (const QString &size : sizes) {
                const QString png = base + QLatin1Char('/') + theme + QLatin1Char('/') + size + QStringLiteral("/apps/")
                    + iconName + QStringLiteral(".png");
                if (QFileInfo(png).isFile())
                    return png;
            }
            const QString svg = base + QLatin1Char('/') + theme + QStringLiteral("/scalable/apps/") + iconName
                + QStringLiteral(".svg");
            if (QFileInfo(svg).isFile())
                return svg;
        }
    }
    for (const QString &dir : m_dataDirs) {
        for (const char *extension : {".png", ".svg", ".xpm"}) {
            const QString pixmap = dir + QStringLiteral("/pixmaps/") + iconName + QLatin1StringView(extension);
            if (QFileInfo(pixmap).isFile())
                return pixmap;
        }
    }
    return std::nullopt;
}

std::optional<QImage> DesktopEntryIcons::iconFor(const QString &bundleId)
{
    if (!isUsableId(bundleId))
        return std::nullopt;
    for (const QString &dir : m_dataDirs) {
        const QString entry = dir + QStringLiteral("/applications/") + bundleId + QStringLiteral(".desktop");
        if (!QFileInfo(entry).isFile())
            continue;
        const std::optional<QString> key = iconKey(entry);
        if (!key)
            return std::nullopt;
        const std::optional<QString> file = iconFile(*key);
        if (!file)
            return std::nullopt;
        return loadIconImage(*file);
    }
    return std::nullopt;
}

std::optional<QImage> MapApplicationIcons::iconFor(const QString &bundleId)
{
    QMutexLocker lock(&m_mutex);
    ++m_lookups[bundleId];
    const auto found = m_images.constFind(bundleId);
    if (found == m_images.cend())
        return std::nullopt;
    return *found;
}

void MapApplicationIcons::set(const QString &bundleId, const QImage &image)
{
    QMutexLocker lock(&m_mutex);
    m_images.insert(bundleId, image);
}

void MapApplicationIcons::remove(const QString &bundleId)
{
    QMutexLocker lock(&m_mutex);
    m_images.remove(bundleId);
}

int MapApplicationIcons::lookups(const QString &bundleId) const
{
    QMutexLocker lock(&m_mutex);
    return m_lookups.value(bundleId);
}
