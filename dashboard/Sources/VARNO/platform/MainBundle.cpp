#include "platform/MainBundle.h"

#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {

struct BundleState {
    QMutex mutex;
    bool resolved = false;
    std::optional<QString> override;
    std::optional<QString> path;
    std::optional<QVariantMap> info;
};

BundleState &state()
{
    static BundleState s;
    return s;
}

std::optional<QString> detectBundle()
{
    if (!QCoreApplication::instance())
        return std::nullopt;
    const QDir macOS(QCoreApplication::applicationDirPath());
    if (macOS.dirName() != QLatin1String("MacOS"))
        return std::nullopt;
    QDir contents = macOS;
    if (!contents.cdUp() || contents.dirName() != QLatin1String("Contents"))
        return std::nullopt;
    QDir bundle = contents;
    if (!bundle.cdUp())
        return std::nullopt;
    return bundle.absolutePath();
}

std::optional<QString> resolvedPath(BundleState &s)
{
    if (!s.resolved) {
        s.path = s.override ? s.override : detectBundle();
        s.resolved = true;
    }
    return s.path;
}

} // namespace

namespace MainBundle {

std::optional<QString> path()
{
    BundleState &s = state();
    QMutexLocker lock(&s.mutex);
    return resolvedPath(s);
}

std::optional<QString> resourcesPath()
{
    const auto bundle = path();
    if (!bundle)
        return std::nullopt;
    return *bundle + QStringLiteral("/Contents/Resources");
}

QVariantMap infoDictionary()
{
    BundleState &s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.info) {
        s.info = QVariantMap();
        if (const auto bundle = resolvedPath(s)) {
            const auto parsed = PropertyList::parseFile(*bundle + QStringLiteral("/Contents/Info.plist"));
            if (parsed.ok() && parsed.value.typeId() == QMetaType::QVariantMap)
                s.info = parsed.value.toMap();
        }
    }
    return *s.info;
}

std::optional<QString> infoString(const QString &key)
{
    const QVariant value = infoDictionary().value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QString> urlForResource(const QString &name, const QString &extension)
{
    const auto resources = resourcesPath();
    if (!resources || name.isEmpty())
        return std::nullopt;
    const QString fileName = extension.isEmpty() ? name : name + QLatin1Char('.') + extension;
    const QFileInfo file(*resources + QLatin1Char('/') + fileName);
    if (!file.isFile())
        return std::nullopt;
    return file.absoluteFilePath();
}

void setPathOverride(std::optional<QString> bundlePath)
{
    BundleState &s = state();
    QMutexLocker lock(&s.mutex);
    s.override = std::move(bundlePath);
    s.resolved = false;
    s.info.reset();
}

} // namespace MainBundle
