#include "platform/ResourceLocator.h"

#include "platform/MainBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {

struct ResourceCache {
    QMutex mutex;
    bool computed = false;
    std::optional<QString> executableOverride;
    QStringList ancestors;
    QStringList roots;
    std::optional<QString> infoPlist;
};

ResourceCache &resourceCache()
{
    static ResourceCache c;
    return c;
}

QString executablePath(const ResourceCache &c)
{
    if (c.executableOverride)
        return *c.executableOverride;
    if (!QCoreApplication::instance())
        return QString();
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.isEmpty() ? QString() : arguments.first();
}

void ensureComputed(ResourceCache &c)
{
    if (c.computed)
        return;
    const QString executable = executablePath(c);
    c.ancestors = executable.isEmpty() ? QStringList() : ResourceLocator::ancestorsOf(executable);
    c.roots = ResourceLocator::searchRootsFor(c.ancestors);
    c.infoPlist.reset();
    // The sources' own first; else the copy a build folder stages in its
    // bundle (a build folder need not sit inside the sources).
    const QStringList sources{QStringLiteral("Sources/VARNO/Info.plist"),
                              QStringLiteral("dashboard/Sources/VARNO/Info.plist")};
    const QStringList staged{QStringLiteral("VARNO.app/Contents/Info.plist")};
    for (const QStringList &candidates : {sources, staged}) {
        for (const QString &ancestor : std::as_const(c.ancestors)) {
            const QDir dir(ancestor);
            for (const QString &relative : candidates) {
                const QString candidate = dir.filePath(relative);
                if (!c.infoPlist && QFileInfo(candidate).isFile())
                    c.infoPlist = candidate;
            }
        }
        if (c.infoPlist)
            break;
    }
    c.computed = true;
}

std::optional<QImage> loadImage(const QString &path)
{
    QImage image(path);
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace

QStringList ResourceLocator::ancestorsOf(const QString &executablePath)
{
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(executablePath));
    QStringList ancestors;
    QString folder = QFileInfo(absolute).path();
    while (ancestors.size() < maxAncestors) {
        ancestors.append(folder);
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    return ancestors;
}

QStringList ResourceLocator::searchRootsFor(const QStringList &ancestors)
{
    QStringList roots;
    roots.reserve(ancestors.size() * 3);
    for (const QString &ancestor : ancestors) {
        const QDir dir(ancestor);
        roots.append(dir.filePath(QStringLiteral("Resources")));
        roots.append(dir.filePath(QStringLiteral("dashboard/Resources")));
        // The bundle a build folder stages (a test program lives beside it,
        // wherever the build folder is).
        roots.append(dir.filePath(QStringLiteral("VARNO.app/Contents/Resources")));
    }
    return roots;
}

QStringList ResourceLocator::executableAncestors()
{
    ResourceCache &c = resourceCache();
    QMutexLocker lock(&c.mutex);
    ensureComputed(c);
    return c.ancestors;
}

QStringList ResourceLocator::searchRoots()
{
    ResourceCache &c = resourceCache();
    QMutexLocker lock(&c.mutex);
    ensureComputed(c);
    return c.roots;
}

std::optional<QString> ResourceLocator::cachedInfoPlistURL()
{
    ResourceCache &c = resourceCache();
    QMutexLocker lock(&c.mutex);
    ensureComputed(c);
    return c.infoPlist;
}

std::optional<QString> ResourceLocator::url(const QString &forResource, const QString &withExtension)
{
    if (const auto inBundle = MainBundle::urlForResource(forResource, withExtension))
        return inBundle;
    const QString fileName = forResource + QLatin1Char('.') + withExtension;
    for (const QString &root : searchRoots()) {
        const QString candidate = QDir(root).filePath(fileName);
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return std::nullopt;
}

std::optional<QImage> ResourceLocator::image(const QString &named)
{
    // The bundle's own images: any type it can decode.
    for (const QString &extension :
         {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("svg"),
          QStringLiteral("icns"), QStringLiteral("tiff"), QStringLiteral("gif"), QStringLiteral("pdf")}) {
        if (const auto path = MainBundle::urlForResource(named, extension)) {
            if (auto image = loadImage(*path))
                return image;
        }
    }
    // The app's artwork lives in the resources' "images" folder; a file of
    // that name at the top of the resources counts too.
    for (const QString &extension :
         {QStringLiteral("png"), QStringLiteral("pdf"), QStringLiteral("svg"), QStringLiteral("icns")}) {
        if (const auto path = url(named, extension))
            return loadImage(*path);
        if (const auto path = url(QStringLiteral("images/") + named, extension))
            return loadImage(*path);
    }
    return std::nullopt;
}

void ResourceLocator::setExecutablePathForTesting(std::optional<QString> executablePath)
{
    ResourceCache &c = resourceCache();
    QMutexLocker lock(&c.mutex);
    c.executableOverride = std::move(executablePath);
    c.computed = false;
}
